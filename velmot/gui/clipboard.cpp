#include "velmot/gui/clipboard.h"

#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/winevents.h"

#include "platform/pasteboard/pasteboard.h"

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

CLIPBOARD* CLIPBOARD::pInstance = nullptr;

namespace {

// UTF-16 bytes in this machine's order; a byte-order mark is honoured and
// dropped.
void AppendUtf16(WSTRING& out, std::string const& data)
{
    size_t start = 0;
    bool swap = false;
    if (data.size() >= 2) {
        auto const b0 = static_cast<unsigned char>(data[0]);
        auto const b1 = static_cast<unsigned char>(data[1]);
        unsigned short const bom = static_cast<unsigned short>(b0 | (b1 << 8)); // little-endian reading
        if (bom == 0xFEFF) {
            start = 2;
        } else if (bom == 0xFFFE) {
            start = 2;
            swap = true;
        }
    }
    std::vector<unsigned short> units((data.size() - start) / 2);
    for (size_t i = 0; i < units.size(); ++i) {
        auto const lo = static_cast<unsigned char>(data[start + 2 * i]);
        auto const hi = static_cast<unsigned char>(data[start + 2 * i + 1]);
        units[i] = swap ? static_cast<unsigned short>((lo << 8) | hi) : static_cast<unsigned short>(lo | (hi << 8));
    }
    out.Append(units.data(), static_cast<int32_t>(units.size()));
}

} // namespace

CLIPBOARD* CLIPBOARD::GetInstance()
{
    if (!pInstance) {
        pInstance = new CLIPBOARD;
        TARVOAPP::SetCleanupFunction(TARVOAPP::CLEANUP_CLIPBOARD, &CLIPBOARD::ReleaseInstance);
    }
    return pInstance;
}

void CLIPBOARD::ReleaseInstance()
{
    delete pInstance;
    pInstance = nullptr;
}

CLIPBOARD::CLIPBOARD()
{
    LOGIT("CLIPBOARD::CLIPBOARD\n");
    LOGIT("CLIPBOARD::CLIPBOARD done\n");
}

CLIPBOARD::~CLIPBOARD()
{
    LOGIT("CLIPBOARD::~CLIPBOARD\n");
    LOGIT("CLIPBOARD::~CLIPBOARD done\n");
}

bool CLIPBOARD::IsTextAvailable() const
{
    TARVOAPP::CheckCallerThread("CLIPBOARD::IsTextAvailable");
    return GetUnicodeTextItem(nullptr);
}

WSTRING CLIPBOARD::ReadText() const
{
    TARVOAPP::CheckCallerThread("CLIPBOARD::ReadText");
    LOGIT("CLIPBOARD::ReadText\n");
    WSTRING text;
    bool const ok = GetUnicodeTextItem(&text);
    LOGIT("CLIPBOARD::ReadText returns ok= %d (%d bytes)\n", ok ? 1 : 0, text.Length());
    return text;
}

STRING CLIPBOARD::ReadText(UNICODE_CODEPAGE codepage) const
{
    return STRING(ReadText(), codepage);
}

bool CLIPBOARD::GetUnicodeTextItem(WSTRING* out) const
{
    TARVOAPP::CheckCallerThread("CLIPBOARD::GetUnicodeTextItem");
    if (out)
        LOGIT("CLIPBOARD::GetUnicodeTextItem\n");
    plat::SynchronizePasteboard();
    size_t count = 0;
    plat::Status const status = plat::GetPasteboardItemCount(&count);
    // A clipboard that cannot be read holds no text we could give.
    if (status != plat::kNoErr)
        return false;
    if (out)
        LOGIT("CLIPBOARD::GetUnicodeTextItem itemcount= %d\n", static_cast<int>(count));

    bool found = false;
    for (size_t i = 1; i <= count; ++i) {
        std::vector<std::string> flavors;
        if (plat::CopyPasteboardItemFlavors(i, &flavors) != plat::kNoErr)
            continue;
        // The text flavours, UTF-16 first, each kind in the item's order.
        std::vector<size_t> texts, utf8s;
        for (size_t j = 0; j < flavors.size(); ++j) {
            bool const utf16 = plat::FlavorIsUtf16Text(flavors[j]);
            bool const utf8 = plat::FlavorIsUtf8Text(flavors[j]);
            if (out)
                LOGIT("CLIPBOARD::GetUnicodeTextItem i= %d, j= %d, flavortype= %s, isunicode= %d  isutf8= %d\n",
                      static_cast<int>(i), static_cast<int>(j), flavors[j].c_str(), utf16 ? 1 : 0, utf8 ? 1 : 0);
            if (utf16)
                texts.push_back(j);
            else if (utf8)
                utf8s.push_back(j);
        }
        texts.insert(texts.end(), utf8s.begin(), utf8s.end());
        for (size_t j : texts) {
            if (!out) {
                found = true;
                break;
            }
            LOGIT("CLIPBOARD::GetUnicodeTextItem have unicode flavor= %d\n", static_cast<int>(j));
            std::string data;
            plat::Status const err = plat::CopyPasteboardItemFlavorData(i, flavors[j], &data);
            if (err != plat::kNoErr) {
                VerifyFailed("PasteboardCopyItemFlavorData", __FILE__, __LINE__, err);
                LOGIT("CLIPBOARD::GetUnicodeTextItem PasteboardCopyItemFlavorData failed with err %d\n", err);
                continue;
            }
            WSTRING text;
            if (plat::FlavorIsUtf16Text(flavors[j]))
                AppendUtf16(text, data);
            else
                text.FromUtf8(data.data(), static_cast<int32_t>(data.size()));
            LOGIT("CLIPBOARD::GetUnicodeTextItem about to append %d wchars, ok= %d\n", text.Length(), 1);
            out->Append(text);
            found = true;
            break;
        }
    }
    if (out)
        LOGIT("CLIPBOARD::GetUnicodeTextItem done\n");
    return found;
}

bool CLIPBOARD::WriteText(wchar_t const* text, int length, UNICODE_CODEPAGE, bool append) const
{
    TARVOAPP::CheckCallerThread("CLIPBOARD::WriteText");
    LOGIT("CLIPBOARD::WriteText %d bytes\n", length);
    if (!text)
        text = L"";
    if (length < 0)
        length = static_cast<int>(wcslen(text));

    WSTRING all;
    if (append) {
        all = ReadText();
        if (all.Length() > 0)
            all.Append(L"\r\n", 2);
    }
    all.Append(text, length);

    bool ok = false;
    if (plat::ClearPasteboard() == plat::kNoErr) {
        uint32_t const flags = plat::SynchronizePasteboard();
        if ((flags & plat::kPasteboardClientIsOwner) && !(flags & plat::kPasteboardModified)) {
            STRING const utf8 = all.AsUtf8();
            bool const put8 = plat::PutPasteboardItemFlavor(1, plat::kFlavorUtf8Text,
                                                            std::string_view(utf8.Buf(), utf8.Length())) ==
                              plat::kNoErr;
            std::vector<unsigned short> units(static_cast<size_t>(all.Length()) * 2 + 1);
            int32_t const n = all.ToUniChars(units.data(), static_cast<int32_t>(units.size()));
            std::string bytes(static_cast<size_t>(n) * 2, '\0');
            if (n > 0)
                memcpy(bytes.data(), units.data(), bytes.size());
            bool const put16 = plat::PutPasteboardItemFlavor(1, plat::kFlavorUtf16Text, bytes) == plat::kNoErr;
            ok = put8 || put16;
        }
    }
    LOGIT("CLIPBOARD::WriteText returns ok= %d\n", ok ? 1 : 0);
    return ok;
}

bool CLIPBOARD::WriteText(char const* text, int length, UNICODE_CODEPAGE codepage, bool append) const
{
    if (!text)
        text = "";
    if (length < 0)
        length = static_cast<int>(strlen(text));
    WSTRING wide(text, length, codepage);
    return WriteText(wide.Buf(), wide.Length(), codepage, append);
}
