// STRINGARRAY: splitting, joining, searching, sorting and the line file.
#include "velmot/core/stringarray.h"

#include "velmot/core/osys.h"
#include "velmot/core/osysfile.h"
#include "velmot/core/stringarray_internal.h"
#include "platform/services/text.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <sys/stat.h>
#include <variant>
#include <vector>

template class DYNARRAY<STRING>;
template class DYNARRAY<WSTRING>;

namespace {

// Longest line a STRING can take, with room for its block rounding.
constexpr size_t kMaxLine = static_cast<size_t>(INT32_MAX) - 65536;

// A new item holding `len` bytes (a buffer even when empty), code page 1252.
STRING* NewItem(char const* p, size_t len)
{
    auto* s = new STRING;
    s->Make(static_cast<int32_t>(len), p);
    return s;
}

long FileSize(char const* path)
{
    struct stat st {};
    return stat(path, &st) == 0 ? static_cast<long>(st.st_size) : 0L;
}

} // namespace

namespace velmot_detail {

int ReadLines(FILE* f, std::function<bool(char const*, size_t)> const& line)
{
    // One piece buffer and one accumulator: a line that spans pieces is
    // joined whole, however long it is.
    std::vector<char> piece(32768);
    std::string pending;
    for (;;) {
        size_t n = fread(piece.data(), 1, piece.size(), f);
        char const* p = piece.data();
        char const* end = p + n;
        while (p < end) {
            auto* lf = static_cast<char const*>(memchr(p, '\n', static_cast<size_t>(end - p)));
            if (!lf) {
                if (pending.size() + static_cast<size_t>(end - p) > kMaxLine)
                    return EFBIG;
                pending.append(p, end);
                break;
            }
            bool go;
            if (pending.empty()) {
                go = line(p, static_cast<size_t>(lf - p));
            } else {
                if (pending.size() + static_cast<size_t>(lf - p) > kMaxLine)
                    return EFBIG;
                pending.append(p, lf);
                go = line(pending.data(), pending.size());
                pending.clear();
            }
            if (!go)
                return 0;
            p = lf + 1;
        }
        if (n < piece.size())
            break;
    }
    if (ferror(f))
        return errno ? errno : EIO;
    // A last line without a line feed is a line all the same.
    if (!pending.empty())
        line(pending.data(), pending.size());
    return 0;
}

} // namespace velmot_detail

STRINGARRAY::STRINGARRAY(DYNARRAY_SIZING initial) : DYNARRAY<STRING>(initial, 64)
{
    SetTypeName("STRINGARRAY");
}

STRINGARRAY::STRINGARRAY(STRING const& text, char const* delimiters, DYNARRAY_SIZING initial)
    : DYNARRAY<STRING>(initial, 64)
{
    SetTypeName("STRINGARRAY");
    LOGIF(1, "STRINGARRAY::STRINGARRAY source= %s, token= %s\n", text.Buf(), delimiters ? delimiters : "<NULL>");
    if (!text.IsSet())
        return;
    bool isdelim[256] = {};
    for (auto const* d = reinterpret_cast<unsigned char const*>(delimiters ? delimiters : ""); *d; ++d)
        isdelim[*d] = true;
    // The whole content is walked, so a NUL byte inside the text belongs to
    // its field instead of silently ending the split.
    std::vector<STRING*> items;
    auto const* b = reinterpret_cast<unsigned char const*>(text.Buffer);
    int32_t start = 0;
    for (int32_t i = 0; i <= text.StrLen; ++i) {
        if (i == text.StrLen || isdelim[b[i]]) {
            items.push_back(NewItem(text.Buffer + start, static_cast<size_t>(i - start)));
            start = i + 1;
        }
    }
    AdoptItems(0, items.data(), static_cast<int>(items.size()));
}

STRINGARRAY::STRINGARRAY(plat::Array const& array) : DYNARRAY<STRING>(64, 64)
{
    SetTypeName("STRINGARRAY");
    std::vector<STRING*> items;
    for (plat::ArrayItem const& element : array.Items()) {
        if (auto const* text = std::get_if<plat::Text>(&element)) {
            items.push_back(new STRING(*text));
            if (text->IsNull())
                continue;
            // A text that 1252 cannot hold (file names dropped from
            // anywhere) would come out with question marks; it is kept as
            // UTF-8, which its code page tells.
            WSTRING wide(*text);
            WSTRING back(*items.back());
            if (back.StrLen != wide.StrLen || memcmp(back.Buf(), wide.Buf(), static_cast<size_t>(wide.StrLen)) != 0)
                *items.back() = STRING(wide, UNICODE_CPUTF8);
        } else if (auto const* number = std::get_if<plat::Number>(&element)) {
            items.push_back(new STRING(*number));
        } else if (std::holds_alternative<std::monostate>(element)) {
            AssertMsg(0, "cfitem", "stringarray", __LINE__, nullptr, true);
        }
    }
    AdoptItems(0, items.data(), static_cast<int>(items.size()));
}

STRINGARRAY::~STRINGARRAY() = default;

int STRINGARRAY::CompareItems(STRING const* a, STRING const* b, unsigned long flags)
{
    // Comparisons give the sign only: a difference of two ints overflows.
    if (flags & DYNARRAY_SORT_NUMERIC) {
        int x = static_cast<int>(*a);
        int y = static_cast<int>(*b);
        return (x > y) - (x < y);
    }
    if (flags & DYNARRAY_SORT_IGNORECASE)
        return stricmp(a->Buf(), b->Buf());
    return strcmp(a->Buf(), b->Buf());
}

int STRINGARRAY::FindItem(char const* text, MATCHMODE mode) const
{
    text = BINARY::NULLCHECK(text, "STRINGARRAY::FindItem");
    if (!text)
        text = "";
    Lock();
    int found = -1;
    size_t const len = strlen(text);
    int const number = atoi(text);
    for (int32_t i = 0; i < ItemCount && found < 0; ++i) {
        STRING const& item = *ppItems[i];
        bool match = false;
        switch (mode) {
        case MATCH_EQUAL:
            match = stricmp(item.Buf(), text) == 0;
            break;
        case MATCH_BEGINS:
            match = strnicmp(item.Buf(), text, len) == 0;
            break;
        case MATCH_CONTAINS:
            match = item.iPos(text) >= 0;
            break;
        case MATCH_NUMBER:
            match = static_cast<int>(item) == number;
            break;
        default:
            break;
        }
        if (match)
            found = i;
    }
    Unlock();
    return found;
}

STRING STRINGARRAY::AsString(char const* separator) const
{
    separator = BINARY::NULLCHECK(separator, "STRINGARRAY::AsString");
    if (!separator)
        separator = "";
    int32_t const seplen = static_cast<int32_t>(strlen(separator));
    STRING out(nullptr, STRING_BLOCKSIZE(1024));
    out.Make(0);
    Lock();
    // Only the separator after the last item is left out: trailing empty
    // items, and items that end in separator characters, keep their text.
    for (int32_t i = 0; i < ItemCount; ++i) {
        if (i > 0)
            out.Append(separator, seplen);
        out.BINARY::Append(*ppItems[i]);
    }
    Unlock();
    return out;
}

int STRINGARRAY::Save(char const* file, bool quoted) const
{
    file = BINARY::NULLCHECK(file, "STRINGARRAY::Save");
    LOGIT("STRINGARRAY::Save %s\n", file ? file : "<NULL>");
    if (!file)
        return 0;
    Lock();
    int rc = ItemCount > 0 ? ItemCount : 1;
    // The unquoted form cannot carry a NUL (the line would be cut) or a line
    // feed (the item would come back as two); such an array is refused
    // before the file is touched.
    for (int32_t i = 0; !quoted && i < ItemCount && rc > 0; ++i) {
        STRING const& item = *ppItems[i];
        if (item.StrLen > 0 && (memchr(item.Buffer, 0, static_cast<size_t>(item.StrLen)) ||
                                memchr(item.Buffer, '\n', static_cast<size_t>(item.StrLen)))) {
            LOGIT("STRINGARRAY::Save item %d holds a NUL or a line feed; use the quoted form\n", i);
            rc = 0;
        }
    }
    FILE* f = rc > 0 ? FILENAME::fsopen(file, "w", FSOPEN_SHARE_FROM_MODE) : nullptr;
    if (!f)
        rc = 0;
    bool ok = f != nullptr;
    for (int32_t i = 0; ok && i < ItemCount; ++i) {
        STRING const& item = *ppItems[i];
        if (quoted) {
            STRING line = item.Quoted("");
            ok = fwrite(line.Buf(), 1, static_cast<size_t>(line.StrLen), f) == static_cast<size_t>(line.StrLen);
        } else {
            ok = fwrite(item.Buf(), 1, static_cast<size_t>(item.StrLen), f) == static_cast<size_t>(item.StrLen);
        }
        ok = ok && fputc('\n', f) != EOF;
    }
    Unlock();
    if (f) {
        // A full disk shows up in the flush or the close, not in fwrite.
        ok = fflush(f) == 0 && ok && !ferror(f);
        ok = fclose(f) == 0 && ok;
        if (!ok)
            rc = 0;
    }
    LOGIT("STRINGARRAY::Save returns %d\n", rc);
    return rc;
}

int STRINGARRAY::Load(char const* file, bool unquote)
{
    file = BINARY::NULLCHECK(file, "STRINGARRAY::Load");
    if (!file)
        return 0;
    LOGIT("STRINGARRAY::Load %s (%ld bytes)\n", file, FileSize(file));
    FILE* f = FILENAME::fsopen(file, "r", FSOPEN_SHARE_FROM_MODE);
    if (!f) {
        int err = errno;
        LOGIT("STRINGARRAY::Load returns %d, %s\n", 0, OSYS::GetLastErrorString(err).Buf());
        return 0;
    }
    std::vector<STRING*> items;
    int err = velmot_detail::ReadLines(f, [&](char const* p, size_t len) {
        if (unquote) {
            BINARY raw(p, static_cast<int32_t>(len));
            items.push_back(new STRING(raw.UnQuoted(true)));
        } else {
            items.push_back(NewItem(p, len));
        }
        return true;
    });
    fclose(f);
    int rc = 0;
    if (err) {
        // A file that could not be read whole adds nothing, rather than a
        // part that looks like the whole.
        for (STRING* s : items)
            delete s;
    } else if (AdoptItems(0, items.data(), static_cast<int>(items.size()))) {
        rc = static_cast<int>(items.size());
    }
    LOGIT("STRINGARRAY::Load returns %d, %s\n", rc, OSYS::GetLastErrorString(err).Buf());
    return rc;
}

// ===========================================================================
// WSTRINGARRAY

WSTRINGARRAY::WSTRINGARRAY(DYNARRAY_SIZING initial) : DYNARRAY<WSTRING>(initial, 64)
{
    SetTypeName("WSTRINGARRAY");
}

WSTRINGARRAY::WSTRINGARRAY(WSTRING const& text, wchar_t const* delimiters, DYNARRAY_SIZING initial)
    : DYNARRAY<WSTRING>(initial, 64)
{
    SetTypeName("WSTRINGARRAY");
    if (gDoLogit) {
        WSTRING delims(delimiters ? delimiters : L"<NULL>");
        LOGIF(1, "WSTRINGARRAY::WSTRINGARRAY source= %s, token= %s\n", text.AsUtf8().Buf(), delims.AsUtf8().Buf());
    }
    if (!text.IsSet())
        return;
    if (!delimiters)
        delimiters = L"";
    wchar_t const* chars = text.Buf();
    int32_t const n = text.Length();
    std::vector<WSTRING*> items;
    int32_t start = 0;
    for (int32_t i = 0; i <= n; ++i) {
        if (i == n || (chars[i] != 0 && wcschr(delimiters, chars[i]))) {
            items.push_back(new WSTRING(chars + start, i - start));
            start = i + 1;
        }
    }
    AdoptItems(0, items.data(), static_cast<int>(items.size()));
}

WSTRINGARRAY::WSTRINGARRAY(plat::Array const& array) : DYNARRAY<WSTRING>(64, 64)
{
    SetTypeName("WSTRINGARRAY");
    std::vector<WSTRING*> items;
    for (plat::ArrayItem const& element : array.Items()) {
        if (auto const* text = std::get_if<plat::Text>(&element))
            items.push_back(new WSTRING(*text));
        else if (auto const* number = std::get_if<plat::Number>(&element))
            items.push_back(new WSTRING(STRING(*number)));
        else if (std::holds_alternative<std::monostate>(element))
            AssertMsg(0, "cfitem", "stringarray", __LINE__, nullptr, true);
    }
    AdoptItems(0, items.data(), static_cast<int>(items.size()));
}

WSTRINGARRAY::~WSTRINGARRAY() = default;

int WSTRINGARRAY::CompareItems(WSTRING const* a, WSTRING const* b, unsigned long flags)
{
    if (flags & DYNARRAY_SORT_NUMERIC) {
        int x = static_cast<int>(*a);
        int y = static_cast<int>(*b);
        return (x > y) - (x < y);
    }
    if (flags & DYNARRAY_SORT_IGNORECASE)
        return wcsicmp(a->Buf(), b->Buf());
    return wcscmp(a->Buf(), b->Buf());
}

int WSTRINGARRAY::FindItem(wchar_t const* text, MATCHMODE mode) const
{
    text = BINARY::NULLCHECK(text, "WSTRINGARRAY::FindItem");
    if (!text)
        text = L"";
    size_t const len = wcslen(text);
    int const number = static_cast<int>(wcstol(text, nullptr, 10));
    Lock();
    int found = -1;
    for (int32_t i = 0; i < ItemCount && found < 0; ++i) {
        WSTRING const& item = *ppItems[i];
        bool match = false;
        switch (mode) {
        case MATCH_EQUAL:
            match = wcsicmp(item.Buf(), text) == 0;
            break;
        case MATCH_BEGINS:
            match = wcsnicmp(item.Buf(), text, len) == 0;
            break;
        case MATCH_CONTAINS:
            match = item.Pos(text) >= 0;
            break;
        case MATCH_NUMBER:
            match = static_cast<int>(item) == number;
            break;
        default:
            break;
        }
        if (match)
            found = i;
    }
    Unlock();
    return found;
}

WSTRING WSTRINGARRAY::AsWString(wchar_t const* separator) const
{
    separator = BINARY::NULLCHECK(separator, "WSTRINGARRAY::AsWString");
    if (!separator)
        separator = L"";
    WSTRING out(L"", STRING_BLOCKSIZE(1024));
    Lock();
    for (int32_t i = 0; i < ItemCount; ++i) {
        if (i > 0)
            out.Append(separator);
        out.Append(*ppItems[i]);
    }
    Unlock();
    return out;
}
