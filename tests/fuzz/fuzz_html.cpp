// libFuzzer entry for the HTML scanner: every operation survives any bytes,
// keeps the bytes it has no rule for (0xFF included) and ends.
#include "velmot/core/html.h"
#include "velmot/core/stringarray.h"
#include "velmot/core/wstring.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(bool ok)
{
    if (!ok)
        abort();
}

size_t Count(STRING const& s, char c)
{
    return static_cast<size_t>(std::count(s.Buf(), s.Buf() + s.Length(), c));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    // Table dumps rescan the page once per table; 16 KiB keeps a run quick.
    if (size > 16384)
        return 0;
    std::string page(reinterpret_cast<char const*>(data), size);
    // Texts end at their first zero byte, as the callers' texts do.
    page.resize(page.find('\0') == std::string::npos ? size : page.find('\0'));
    STRING html(page.c_str());

    STRING entities = html;
    HTML::ReplaceSpecialCharacters(entities);
    Check(entities.Length() <= html.Length());
    Check(Count(entities, '\xFF') == Count(html, '\xFF'));

    STRING killed = html;
    HTML::KillTags(killed, ' ');
    STRING spaced = html;
    HTML::Unspace(spaced);
    Check(spaced.Length() <= html.Length());

    STRING uncommented = HTML::UnComment(page.c_str());
    Check(uncommented.Length() <= html.Length());
    std::wstring wide(page.begin(), page.end());
    for (wchar_t& c : wide)
        c = static_cast<unsigned char>(c);
    WSTRING wuncommented = HTML::UnComment(wide.c_str());
    Check(wuncommented.Length() == uncommented.Length());

    STRING text;
    STRINGARRAY tags(16);
    HTML::UnTag(page.c_str(), text, tags);
    HTML::HtmlToText(page.c_str(), text, tags, size % 2 == 0);
    for (int i = 0; i < tags.NumItems() && i < 8; ++i)
        HTML::GetTagOption(tags[i]->Buf(), "alt");
    HTML::GetTagOption(page.c_str(), page.c_str() + page.size() / 2);
    HTML::PureTables(html);
    return 0;
}
