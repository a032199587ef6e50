#include "tests/program/screen/viotranscript.h"

#include "velmot/core/unicode.h"
#include "velmot/core/wstring.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace viotest {

SCREEN::SCREEN(int width, int height, int scrollbackLines)
{
    Scrollback.AttachScreen(&Vio);
    Scrollback.MakeScrollback(scrollbackLines, nullptr);
    Vio.Init(width, height);
}

std::string Utf8(std::u32string const& text)
{
    std::string out;
    for (char32_t c : text) {
        char buf[4];
        out.append(buf, size_t(UNICODE::Utf8Encode(wchar_t(c), buf)));
    }
    return out;
}

std::wstring Wide(std::string const& utf8)
{
    WSTRING w;
    w.FromUtf8(utf8.data(), int32_t(utf8.size()));
    return std::wstring(w.Buf(), size_t(w.Length()));
}

namespace {

std::string Trimmed(std::u32string text)
{
    while (!text.empty() && text.back() == U' ')
        text.pop_back();
    return Utf8(text);
}

} // namespace

std::string RowText(VIO& vio, int y)
{
    int width = 0;
    vio.GetWinSize(&width, nullptr);
    std::u32string text;
    vio.GetText(text, width, 0, y, nullptr);
    return Trimmed(text);
}

std::string ScrollbackText(SCROLLBACKBUFFER& sb, int line)
{
    std::u32string text;
    sb.GetLineText(line, text);
    return Trimmed(text);
}

bool FeedFile(VIO& vio, std::string const& path, size_t piece)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::string const bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    UNICODE const* uni = UNICODE::GetInstance();
    UNICODE_UTF8STATE state{};
    for (size_t at = 0; at < bytes.size(); at += piece) {
        size_t const n = std::min(piece, bytes.size() - at);
        WSTRING text;
        int32_t const count = uni->Utf8Decoder(bytes.data() + at, n, text, &state);
        vio.conputws(text.Buf(), count);
    }
    return true;
}

namespace {

// Splits a line into words; a quoted word keeps its blanks and loses its
// quotes, and its escapes are resolved into UTF-8.
std::vector<std::string> Words(std::string const& line, std::string* error)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t') {
            ++i;
            continue;
        }
        if (line[i] == '#')
            break;
        std::string word;
        if (line[i] != '"') {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t')
                word.push_back(line[i++]);
            words.push_back(word);
            continue;
        }
        ++i;
        std::u32string text;
        bool closed = false;
        while (i < line.size()) {
            char c = line[i++];
            if (c == '"') {
                closed = true;
                break;
            }
            if (c != '\\') {
                // UTF-8 of the transcript itself.
                unsigned char const u = static_cast<unsigned char>(c);
                if (u < 0x80) {
                    text.push_back(u);
                } else {
                    int extra = u >= 0xF0 ? 3 : u >= 0xE0 ? 2 : 1;
                    char32_t v = u & (0x3F >> extra);
                    for (int k = 0; k < extra && i < line.size(); ++k)
                        v = (v << 6) | (static_cast<unsigned char>(line[i++]) & 0x3F);
                    text.push_back(v);
                }
                continue;
            }
            if (i >= line.size())
                break;
            char const e = line[i++];
            auto hex = [&](size_t n) {
                std::string digits = line.substr(i, n);
                i += n;
                return char32_t(std::strtoul(digits.c_str(), nullptr, 16));
            };
            switch (e) {
            case 'r': text.push_back(U'\r'); break;
            case 'n': text.push_back(U'\n'); break;
            case 't': text.push_back(U'\t'); break;
            case 'b': text.push_back(U'\b'); break;
            case 'x': text.push_back(hex(2)); break;
            case 'u': text.push_back(hex(4)); break;
            case 'U': text.push_back(hex(6)); break;
            default: text.push_back(char32_t(static_cast<unsigned char>(e))); break;
            }
        }
        if (!closed && error)
            *error = "unclosed quote";
        // Code points as UTF-8, except that \xHH of PUTS stays one byte:
        // the marker \x01 + byte keeps it apart.
        words.push_back("\x01" + Utf8(text));
    }
    return words;
}

bool IsQuoted(std::string const& w) { return !w.empty() && w[0] == '\x01'; }
std::string Unquote(std::string const& w) { return IsQuoted(w) ? w.substr(1) : w; }

int Number(std::string const& w) { return int(std::strtol(w.c_str(), nullptr, 0)); }

bool Size(std::string const& w, int* width, int* height)
{
    return std::sscanf(w.c_str(), "%dx%d", width, height) == 2;
}

std::string Hex(int v)
{
    char b[16];
    std::snprintf(b, sizeof b, "0x%04X", v);
    return b;
}

} // namespace

std::vector<std::string> RunTranscript(std::string const& text, std::string const& name)
{
    std::vector<std::string> failures;
    std::unique_ptr<SCREEN> s = std::make_unique<SCREEN>(80, 24);
    std::istringstream in(text);
    std::string line;
    int number = 0;
    auto fail = [&](std::string const& message) {
        failures.push_back(name + ":" + std::to_string(number) + ": " + message);
    };
    while (std::getline(in, line)) {
        ++number;
        std::string error;
        std::vector<std::string> w = Words(line, &error);
        if (!error.empty()) {
            fail(error);
            continue;
        }
        if (w.empty())
            continue;
        std::string const& cmd = w[0];
        auto arg = [&](size_t k) { return k < w.size() ? w[k] : std::string(); };
        auto num = [&](size_t k) { return Number(arg(k)); };
        VIO& vio = s->Vio;
        if (cmd == "INIT") {
            int width = 80, height = 24, sb = 1000;
            Size(arg(1), &width, &height);
            if (arg(2).rfind("sb=", 0) == 0)
                sb = Number(arg(2).substr(3));
            s = std::make_unique<SCREEN>(width, height, sb);
        } else if (cmd == "PUT") {
            std::wstring const t = Wide(Unquote(arg(1)));
            vio.conputws(t.c_str(), long(t.size()));
        } else if (cmd == "REPEAT") {
            // The text n times, "%d" replaced by the repetition's number.
            std::string const pattern = Unquote(arg(2));
            for (int k = 0; k < num(1); ++k) {
                std::string t = pattern;
                size_t const at = t.find("%d");
                if (at != std::string::npos)
                    t.replace(at, 2, std::to_string(k));
                std::wstring const wide = Wide(t);
                vio.conputws(wide.c_str(), long(wide.size()));
            }
        } else if (cmd == "CODEPAGE") {
            vio.SetCodepage(num(1));
        } else if (cmd == "PUTS") {
            // Code points up to 0xFF are the bytes.
            std::wstring const t = Wide(Unquote(arg(1)));
            std::string bytes;
            for (wchar_t c : t)
                bytes.push_back(char(c & 0xFF));
            vio.conputs(bytes.data(), long(bytes.size()));
        } else if (cmd == "FEED") {
            std::string const path = std::string(std::getenv("QOR_TEST_SOURCE_DIR") ? std::getenv("QOR_TEST_SOURCE_DIR") : ".") +
                                     "/program/screen/" + arg(1);
            if (!FeedFile(vio, path))
                fail("cannot read " + path);
        } else if (cmd == "CURSOR") {
            vio.SetCursorPos(num(1), num(2));
        } else if (cmd == "MODE") {
            vio.SetMode(num(1));
        } else if (cmd == "COLORS") {
            vio.SetColors(num(2), num(1));
        } else if (cmd == "ATTR") {
            vio.SetModeFlags(num(1));
        } else if (cmd == "ALT") {
            vio.SetAltScreen(static_cast<signed char>(num(1)));
        } else if (cmd == "DO") {
            vio.Do(num(1), num(2), num(3));
        } else if (cmd == "SCROLL") {
            vio.ScrollArea(num(1), num(2), num(3), num(4), num(5), num(6));
        } else if (cmd == "MOVE") {
            vio.MoveArea(num(1), num(2), num(3), num(4), num(5));
        } else if (cmd == "ERASE") {
            std::wstring const fill = Wide(Unquote(arg(5)));
            vio.Erase(num(1), num(2), num(3), num(4), fill.empty() ? ' ' : char(fill[0]));
        } else if (cmd == "WRITE") {
            std::wstring const c = IsQuoted(arg(1)) ? Wide(Unquote(arg(1))) : std::wstring(1, wchar_t(num(1)));
            vio.WriteWideByte(c.empty() ? L' ' : c[0], num(2), num(3), num(4), num(5));
        } else if (cmd == "RESIZE") {
            int width = 0, height = 0;
            if (!Size(arg(1), &width, &height))
                fail("RESIZE wants WxH");
            vio.SetWinSize(width, height);
        } else if (cmd == "SB") {
            s->Scrollback.MakeScrollback(num(1), nullptr);
        } else if (cmd == "PROFILE" || cmd == "SETTING") {
            std::string const item = arg(1);
            size_t const eq = item.find('=');
            std::string const key = item.substr(0, eq);
            int const value = eq == std::string::npos ? 1 : Number(item.substr(eq + 1));
            VIOPROFILE& p = vio.Profile;
            if (key == "ColorFore") p.ColorFore = value;
            else if (key == "ColorBack") p.ColorBack = value;
            else if (key == "ColorBlink") p.ColorBlink = value;
            else if (key == "ColorItalic") p.ColorItalic = value;
            else if (key == "ColorBold") p.ColorBold = value;
            else if (key == "ColorDim") p.ColorDim = value;
            else if (key == "CodePage") p.CodePage = value;
            else if (key == "ScrollbackIncludeAltScreens") vio.Settings.ScrollbackIncludeAltScreens = value != 0;
            else if (key == "ScrollbackNoDim") s->SbHost.NoDimSetting = value != 0;
            else fail("unknown setting " + key);
        } else if (cmd == "?ROW") {
            std::string const got = RowText(vio, num(1));
            std::string const want = Unquote(arg(3));
            if (got != want)
                fail("row " + arg(1) + " is \"" + got + "\", expected \"" + want + "\"");
        } else if (cmd == "?CURSOR") {
            int x = 0, y = 0;
            vio.GetCursorPos(&x, &y);
            if (x != num(1) || y != num(2))
                fail("cursor at " + std::to_string(x) + "," + std::to_string(y) + ", expected " + arg(1) + "," + arg(2));
        } else if (cmd == "?WRAPPED" || cmd == "?SBWRAPPED") {
            bool const sb = cmd == "?SBWRAPPED";
            std::string want, got;
            for (size_t k = 1; k < w.size(); ++k)
                if (w[k] != "-")
                    want += w[k] + " ";
            int width = 0, height = 0;
            vio.GetWinSize(&width, &height);
            int const n = sb ? s->Scrollback.QueryFilled() : height;
            for (int y = 0; y < n; ++y) {
                bool wrapped;
                if (sb) {
                    std::vector<VIOCELL> cells(size_t(std::max(s->Scrollback.LineLength(y), 1)));
                    int const len = s->Scrollback.UnpackLine(y, cells.data(), int(cells.size()));
                    wrapped = len > 0 && (cells[size_t(len - 1)].attrib & VIOATTR_WRAPPED);
                } else {
                    wrapped = vio.Do(VIODO_ISWRAPPED, width - 1, y) != 0;
                }
                if (wrapped)
                    got += std::to_string(y) + " ";
            }
            if (got != want)
                fail(std::string(sb ? "stored" : "screen") + " rows wrapped: [" + got + "], expected [" + want + "]");
        } else if (cmd == "?CELL") {
            int width = 0, height = 0;
            vio.GetWinSize(&width, &height);
            int x = num(1), y = num(2);
            VIOCELL cell{};
            int count = 1;
            vio.GetCells(&cell, &count, x, y);
            if (count != 1) {
                fail("no cell at " + arg(1) + "," + arg(2));
                continue;
            }
            for (size_t k = 3; k < w.size(); ++k) {
                size_t const eq = w[k].find('=');
                std::string const key = w[k].substr(0, eq);
                int const want = Number(w[k].substr(eq + 1));
                int have = key == "c" ? cell.c : key == "attr" ? cell.attrib : key == "fore" ? int(cell.fore)
                           : key == "back" ? int(cell.back) : key == "ext" ? int(cell.extattr) : -1;
                if (have != want)
                    fail("cell " + arg(1) + "," + arg(2) + " " + key + " is " + Hex(have) + ", expected " + Hex(want));
            }
        } else if (cmd == "?LINEATTR") {
            if (vio.LineAttr(num(1)) != num(2))
                fail("row " + arg(1) + " line attribute " + std::to_string(vio.LineAttr(num(1))));
        } else if (cmd == "?SB") {
            if (s->Scrollback.QueryFilled() != num(1))
                fail("scroll-back holds " + std::to_string(s->Scrollback.QueryFilled()) + " lines, expected " + arg(1));
        } else if (cmd == "?SBROW") {
            std::string const got = ScrollbackText(s->Scrollback, num(1));
            std::string const want = Unquote(arg(3));
            if (got != want)
                fail("stored line " + arg(1) + " is \"" + got + "\", expected \"" + want + "\"");
        } else if (cmd == "?SENTINELS") {
            if (!vio.ScreenValidateEndCell())
                fail("a row's end cell was overwritten");
        } else {
            fail("unknown command " + cmd);
        }
    }
    return failures;
}

} // namespace viotest
