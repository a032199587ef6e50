#include "velmot/core/html.h"

#include "velmot/core/logit.h"
#include "velmot/core/stringarray.h"
#include "velmot/core/wstring.h"

#include <cstring>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct ENTITY {
    std::string_view name;
    char text;
};

// At any one position at most one entity can match, except "&nbsp;" and
// its short form, so the longer form comes first.
constexpr ENTITY kEntities[] = {
    {"&auml;", '\xE4'}, {"&ouml;", '\xF6'}, {"&uuml;", '\xFC'}, {"&Auml;", '\xC4'},
    {"&Ouml;", '\xD6'}, {"&Uuml;", '\xDC'}, {"&szlig;", '\xDF'}, {"&nbsp;", ' '},
    {"&nbsp", ' '},     {"&#196;", '\xC4'}, {"&#214;", '\xD6'}, {"&#220;", '\xDC'},
    {"&#223;", '\xDF'}, {"&#228;", '\xE4'}, {"&#246;", '\xF6'}, {"&#252;", '\xFC'},
    {"&amp;", '&'},     {"&gt;", '>'},      {"&lt;", '<'},      {"&quot;", '"'},
};

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool IsAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Letters of code page 1252 beyond ASCII count as letters, so that German
// words keep their separating blank when white space is folded.
bool IsLetter1252(char c)
{
    auto u = static_cast<unsigned char>(c);
    if (IsAsciiLetter(c))
        return true;
    if (u == 0x83 || u == 0x8A || u == 0x8C || u == 0x8E || u == 0x9A || u == 0x9C || u == 0x9E || u == 0x9F)
        return true;
    return u >= 0xC0 && u != 0xD7 && u != 0xF7;
}

bool IsAlnum1252(char c)
{
    return IsDigit(c) || IsLetter1252(c);
}

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (LowerAscii(text[i]) != LowerAscii(prefix[i]))
            return false;
    }
    return true;
}

size_t FindNoCase(std::string_view text, std::string_view needle, size_t from)
{
    if (needle.empty() || text.size() < needle.size())
        return std::string_view::npos;
    for (size_t i = from; i + needle.size() <= text.size(); ++i) {
        if (StartsWithNoCase(text.substr(i), needle))
            return i;
    }
    return std::string_view::npos;
}

std::string_view View(STRING const& s)
{
    return std::string_view(s.Buf(), static_cast<size_t>(s.Length()));
}

char const* Input(char const* html, char const* where)
{
    char const* p = BINARY::NULLCHECK(html, where);
    return p ? p : "";
}

STRING EmptyText()
{
    STRING s;
    s.Make(0);
    return s;
}

// Reads tags with quoted parts: inside a tag a single or double quote opens a
// part that only the same quote closes, and ">" ends the tag only outside it.
class TAGSCANNER {
public:
    // Feeds one character of a tag (after its "<"); true when it ended it.
    bool Feed(char c)
    {
        tag.push_back(c);
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return true;
        }
        return false;
    }
    void Start()
    {
        tag.assign(1, '<');
        quote = 0;
    }
    std::string const& Tag() const { return tag; }

private:
    std::string tag;
    char quote = 0;
};

void AppendTag(STRINGARRAY& tags, std::string const& tag)
{
    STRING item;
    item.Make(static_cast<int32_t>(tag.size()), tag.data());
    tags.AppendItem(item);
}

} // namespace

void HTML::ReplaceSpecialCharacters(STRING& text)
{
    std::string_view in = View(text);
    if (in.find('&') == std::string_view::npos)
        return;
    STRING out;
    out.Make(0);
    size_t i = 0;
    while (i < in.size()) {
        char c = in[i];
        if (c == '&') {
            ENTITY const* hit = nullptr;
            for (ENTITY const& e : kEntities) {
                if (in.substr(i, e.name.size()) == e.name) {
                    hit = &e;
                    break;
                }
            }
            if (hit) {
                out.Append(hit->text);
                i += hit->name.size();
                continue;
            }
        }
        out.Append(c);
        ++i;
    }
    out.CodePage = text.CodePage;
    text = out;
}

void HTML::KillTags(STRING& text, char replacement)
{
    bool const replace = replacement != 0 && replacement != '\xFF';
    std::string_view in = View(text);
    STRING out;
    out.Make(0);
    bool inTag = false;
    bool inQuote = false;
    for (char c : in) {
        if (inTag) {
            if (c == '"')
                inQuote = !inQuote;
            else if (c == '>' && !inQuote)
                inTag = false;
        } else if (c == '<') {
            inTag = true;
            inQuote = false;
            if (replace)
                out.Append(replacement);
        } else if (c != '>') {
            out.Append(c);
        }
    }
    out.CodePage = text.CodePage;
    text = out;
    ReplaceSpecialCharacters(text);
}

STRING HTML::UnComment(char const* html)
{
    std::string_view in(Input(html, "HTML::UnComment"));
    STRING out = EmptyText();
    size_t pos = 0;
    while (pos < in.size()) {
        size_t open = in.find("<!--", pos);
        size_t stop = open == std::string_view::npos ? in.size() : open;
        out.Append(in.data() + pos, static_cast<int32_t>(stop - pos));
        if (open == std::string_view::npos)
            break;
        size_t close = in.find("-->", open + 4);
        if (close == std::string_view::npos)
            break; // an unclosed comment hides the rest of the text
        pos = close + 3;
    }
    return out;
}

WSTRING HTML::UnComment(wchar_t const* html)
{
    wchar_t const* checked = BINARY::NULLCHECK(html, "HTML::UnComment");
    std::wstring_view in(checked ? checked : L"");
    std::wstring out;
    size_t pos = 0;
    while (pos < in.size()) {
        size_t open = in.find(L"<!--", pos);
        out.append(in.substr(pos, open == std::wstring_view::npos ? std::wstring_view::npos : open - pos));
        if (open == std::wstring_view::npos)
            break;
        size_t close = in.find(L"-->", open + 4);
        if (close == std::wstring_view::npos)
            break;
        pos = close + 3;
    }
    return WSTRING(out.c_str(), static_cast<int>(out.size()));
}

void HTML::UnTag(char const* html, STRING& text, STRINGARRAY& tags)
{
    std::string_view in(Input(html, "HTML::UnTag"));
    STRING out = EmptyText();
    TAGSCANNER scanner;
    bool inTag = false;
    for (char c : in) {
        if (inTag) {
            if (scanner.Feed(c)) {
                AppendTag(tags, scanner.Tag());
                inTag = false;
            }
        } else if (c == '<') {
            scanner.Start();
            inTag = true;
        } else {
            out.Append(c);
        }
    }
    ReplaceSpecialCharacters(out);
    text = out;
}

STRING HTML::GetTagOption(char const* tag, char const* option)
{
    std::string_view t(Input(tag, "HTML::GetTagOption tag"));
    std::string_view name(Input(option, "HTML::GetTagOption option"));
    STRING value = EmptyText();
    if (!t.empty() && t.front() == '<')
        t.remove_prefix(1);
    if (!t.empty() && t.back() == '>')
        t.remove_suffix(1);
    size_t pos = 0;
    for (;;) {
        size_t at = FindNoCase(t, name, pos);
        if (at == std::string_view::npos)
            return value;
        size_t after = at + name.size();
        // Only a whole word names the attribute: "alt" is not found in "alter".
        if ((at > 0 && IsAsciiLetter(t[at - 1])) || (after < t.size() && IsAsciiLetter(t[after]))) {
            pos = at + 1;
            continue;
        }
        size_t p = after;
        while (p < t.size() && IsSpace(t[p]))
            ++p;
        if (p < t.size() && t[p] == '=')
            ++p;
        while (p < t.size() && IsSpace(t[p]))
            ++p;
        size_t end;
        if (p < t.size() && (t[p] == '"' || t[p] == '\'')) {
            char quote = t[p++];
            end = t.find(quote, p);
        } else {
            end = t.find(' ', p);
        }
        if (end == std::string_view::npos)
            end = t.size();
        value.Append(t.data() + p, static_cast<int32_t>(end - p));
        return value;
    }
}

void HTML::Unspace(STRING& text)
{
    text.Trim('B', " \t");
    std::string_view in = View(text);
    STRING out;
    out.Make(0);
    size_t i = 0;
    while (i < in.size()) {
        if (!IsSpace(in[i])) {
            out.Append(in[i++]);
            continue;
        }
        size_t j = i;
        while (j < in.size() && IsSpace(in[j]))
            ++j;
        char left = i > 0 ? in[i - 1] : 0;
        char right = j < in.size() ? in[j] : 0;
        // One blank survives between two words or numbers, and between a
        // number and a following sign ("5 -3" is not "5-3").
        if ((IsAlnum1252(left) && IsAlnum1252(right)) || (IsDigit(left) && (right == '+' || right == '-')))
            out.Append(' ');
        i = j;
    }
    out.CodePage = text.CodePage;
    text = out;
    text.Trim('B', " \t");
}

void HTML::HtmlToText(char const* html, STRING& text, STRINGARRAY& tags, bool images)
{
    std::string_view in(Input(html, "HTML::HtmlToText"));
    STRING out = EmptyText();
    TAGSCANNER scanner;
    bool inTag = false;
    bool swallow = false; // white space is dropped until the next other character
    for (char c : in) {
        if (inTag) {
            if (!scanner.Feed(c))
                continue;
            inTag = false;
            std::string const& tag = scanner.Tag();
            AppendTag(tags, tag);
            if (StartsWithNoCase(tag, "<br>")) {
                out.Append('\n');
                swallow = true;
            } else if (StartsWithNoCase(tag, "<p>")) {
                out.Append("\n\n", 2);
                swallow = true;
            } else if (StartsWithNoCase(tag, "<tr")) {
                out.Append('\n');
                swallow = true;
            } else if (images && StartsWithNoCase(tag, "<img")) {
                STRING alt = GetTagOption(tag.c_str(), "alt");
                if (alt.Length() > 0) {
                    out.Append("[image=", 7);
                    out.Append(alt.Buf(), alt.Length());
                    out.Append(']');
                } else {
                    out.Append("[image]", 7);
                }
                swallow = false;
            } else if (StartsWithNoCase(tag, "<li>")) {
                out.Append("\n*", 2);
                swallow = false;
            } else if (StartsWithNoCase(tag, "</ul>") || StartsWithNoCase(tag, "</title>")) {
                out.Append("\n\n", 2);
                swallow = true;
            }
        } else if (c == '<') {
            scanner.Start();
            inTag = true;
        } else if (!IsSpace(c)) {
            out.Append(c);
            swallow = false;
        } else if (c == '\r') {
            // dropped
        } else if (!swallow) {
            out.Append(' ');
            swallow = true;
        }
    }
    // Break lines at the first blank more than 76 characters into a line.
    int32_t lineStart = 0;
    for (int32_t i = 0; i < out.Length(); ++i) {
        char& c = out.Buffer[i];
        if (c == '\n') {
            lineStart = i + 1;
        } else if (c == ' ' && i - lineStart > 76) {
            c = '\n';
            lineStart = i + 1;
        }
    }
    ReplaceSpecialCharacters(out);
    text = out;
}

STRING HTML::PureTables(STRING const& html)
{
    std::string_view page = View(html);
    STRING result = EmptyText();
    // One pass over the page. `out` receives the page as it is read, and
    // every "<table" notes where its table starts in `out`. A "</table>"
    // closes the last table still open, the innermost one: it is dumped and
    // replaced in `out` by its placeholder, so that an enclosing table shows
    // where it was. Tables are thus numbered in the order they close, as by
    // taking the first "</table>" after the first "<table" again and again;
    // a "</table>" with no open table before it is only text, and the dump
    // ends where no "</table>" follows.
    static constexpr std::string_view kOpen = "<table";
    static constexpr std::string_view kClose = "</table>";
    std::string out;
    std::vector<size_t> open;
    size_t at = 0;
    size_t nextOpen = FindNoCase(page, kOpen, 0);
    size_t nextClose = FindNoCase(page, kClose, 0);
    for (int table = 0; nextClose != std::string::npos;) {
        if (nextOpen < nextClose) {
            out.append(page, at, nextOpen - at);
            open.push_back(out.size());
            at = nextOpen;
            nextOpen = FindNoCase(page, kOpen, nextOpen + kOpen.size());
            continue;
        }
        if (open.empty()) {
            nextClose = FindNoCase(page, kClose, nextClose + kClose.size());
            continue;
        }
        out.append(page, at, nextClose - at);
        at = nextClose + kClose.size();
        std::string body = out.substr(open.back());
        body.append(page, nextClose, kClose.size());
        body += "<tr>dummy";
        out.resize(open.back());
        open.pop_back();
        out += "{{SUBTABLE" + std::to_string(table) + "}}";
        nextClose = FindNoCase(page, kClose, at);

        result.FormatAppend("<<TABLE%d>>\n", table);
        size_t row = FindNoCase(body, "<tr", 0);
        for (int rowNo = 0; row != std::string::npos; ++rowNo) {
            size_t next = FindNoCase(body, "<tr", row + 3);
            if (next == std::string::npos)
                break;
            STRING cells;
            cells.Make(static_cast<int32_t>(next - row), body.data() + row);
            cells.Replace("<td", "|<xx", false);
            cells.RemoveChars("\r");
            cells.Replace("\n", " ", true);
            KillTags(cells, ' ');
            Unspace(cells);
            result.FormatAppend("<<ROW%d>>", rowNo);
            result.Append(cells.Buf(), cells.Length());
            result.Append('\n');
            row = next;
        }
        ++table;
    }
    return result;
}
