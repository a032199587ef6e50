// What the terminal answers: device attributes, status reports, mode
// requests (DECRQM), status strings (DECRQSS), the rectangle checksum
// (DECRQCRA), the presentation state reports (DECCIR, DECTABSR) and the
// colour queries of the operating system commands. Answers go back to
// the host as the key road's raw bytes.
//
// Answers that would echo text the host set (window titles, the
// selection) are not given, as xterm gives none by default.
#include "outside/corvane/vtemulation.h"

#include "plugins/sdk/emulationapi.h"
#include "program/settings/sessionprofile.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

std::string Number(int n)
{
    return std::to_string(n);
}

// A screen colour (0x00BBGGRR) as an X11 colour specification with
// 16-bit components, as xterm writes them.
std::string RgbSpec(uint32_t colour)
{
    char text[32];
    unsigned const r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
    snprintf(text, sizeof text, "rgb:%04x/%04x/%04x", r * 0x101, g * 0x101, b * 0x101);
    return text;
}

} // namespace

int VTEMULATION::DefaultLevel() const
{
    switch (Dialect.Level) {
    case vt::LEVEL::XTERM:
        return 4;
    case vt::LEVEL::VT220:
        return 2;
    default:
        return 1;
    }
}

void VTEMULATION::Answer(std::string const& text)
{
    if (!Public || text.empty())
        return;
    std::wstring wide;
    wide.reserve(text.size());
    for (char c : text)
        wide += wchar_t(static_cast<unsigned char>(c));
    Public->FeedKeys(wide.data(), int(wide.size()), 1);
}

void VTEMULATION::DeviceAttributes(char kind)
{
    // The dialect's answers, with the introducer in the form asked for.
    auto answer = [&](char const* text) {
        std::string a = text;
        if (a.rfind("\x1b[", 0) == 0)
            a.replace(0, 2, Csi());
        Answer(a);
    };
    switch (kind) {
    case 0:
        answer(Dialect.PrimaryDA);
        break;
    case '>':
        if (Dialect.SecondaryDA)
            answer(Dialect.SecondaryDA);
        break;
    default:
        // The unit id of a VT400 and up: site code and serial number 0.
        if (Level >= 4)
            Answer(Dcs() + "!|00000000" + St());
        break;
    }
}

void VTEMULATION::DeviceStatus()
{
    int const row = OriginMode ? Y - Top + 1 : Y + 1;
    int const column = OriginMode ? X - LeftMargin() + 1 : X + 1;
    if (Seq.Leader == 0) {
        if (Seq.Raw(0) == 5)
            AnswerCsi("0n");
        else if (Seq.Raw(0) == 6)
            AnswerCsi(Number(row) + ";" + Number(column) + "R");
        return;
    }
    if (Seq.Leader != '?' || !DecReports())
        return;
    switch (Seq.Raw(0)) {
    case 6: // DECXCPR, with the page from level 3 on
        AnswerCsi("?" + Number(row) + ";" + Number(column) + (Level >= 3 ? ";1R" : "R"));
        break;
    case 15: // the printer is the session's print queue: ready
        AnswerCsi("?10n");
        break;
    case 25: // user-defined keys: unlocked
        AnswerCsi("?20n");
        break;
    case 26: // keyboard: North American, ready, LK201
        AnswerCsi("?27;1;0;0n");
        break;
    case 53:
    case 55: // no DEC locator
        AnswerCsi("?50n");
        break;
    case 56: // locator type: none
        AnswerCsi("?57;0n");
        break;
    case 62: // macro space: none
        AnswerCsi("0000*{");
        break;
    case 63: // memory checksum (level 4), with the request's id
        if (Level >= 4)
            Answer(Dcs() + Number(Seq.Raw(1)) + "!~0000" + St());
        break;
    case 75: // data integrity: no errors
        AnswerCsi("?70n");
        break;
    case 85: // not configured for multiple sessions
        AnswerCsi("?83n");
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------
// Mode requests

int VTEMULATION::ModeState(bool dec, int mode) const
{
    auto is = [](bool on) { return on ? 1 : 2; };
    if (!dec) {
        switch (mode) {
        case 2: // KAM
            return is(KeyboardLocked);
        case 4: // IRM
            return is(InsertMode);
        case 12: // SRM: local echo is the profile's, never the host's
            return 3;
        case 20: // LNM
            return is(NewLineMode);
        case 1: case 3: case 5: case 7: case 10: case 11: case 13: case 14: case 15: case 16: case 17: case 18:
        case 19:
            return 4; // ECMA-48 modes a VT never had
        default:
            return 0;
        }
    }
    switch (mode) {
    case 1:
        return is(CursorKeysApp);
    case 2: // DECANM: set in ANSI mode
        return is(!Vt52);
    case 3:
        return is(Columns132);
    case 4: // DECSCLM: the screen always jumps
    case 8: // DECARM: key repeat is the desktop's
        return 4;
    case 5:
        return is(ReverseScreen);
    case 6:
        return is(OriginMode);
    case 7:
        return is(AutoWrap);
    case 9:
    case 1000:
    case 1002:
    case 1003:
        return is(MouseMode == mode);
    case 12:
        return is(CursorBlinks);
    case 13: { // the profile's blinking cursor, read only
        SESSIONPROFILE const* profile = Public ? Public->Profile : nullptr;
        return is(profile && profile->data.CursorBlink == VIOCURSOR_BLINKING);
    }
    case 18:
        return is(PrintFormFeed);
    case 19:
        return is(PrintFullScreen);
    case 25:
        return is(CursorVisible);
    case 40:
        return is(AllowColumns);
    case 42:
        return is(Nrcs);
    case 45:
        return is(ReverseWrap);
    case 47:
    case 1047:
    case 1049:
        return is(Alternate);
    case 1048: // saving the cursor is no state: reported set, as xterm does
        return 1;
    case 69:
        return Level >= 4 ? is(LeftRightMode) : 0;
    case 66:
        return is(KeypadApp);
    case 67:
        return is(BackspaceBS);
    case 1005:
    case 1006:
    case 1015:
        return is(MouseEncoding == mode);
    case 1004:
        return is(FocusReports);
    case 2004:
        return is(BracketedPaste);
    default:
        return 0;
    }
}

void VTEMULATION::ModeRequest(bool dec)
{
    // xterm answers the requests of private modes at every level, those of
    // ANSI modes from level 3 (a VT300) on.
    if (!DecReports() || (!dec && Level < 3))
        return;
    int const mode = Seq.Raw(0);
    AnswerCsi(std::string(dec ? "?" : "") + Number(mode) + ";" + Number(ModeState(dec, mode)) + "$y");
}

// ---------------------------------------------------------------------------
// Status strings

std::string VTEMULATION::SgrReport() const
{
    std::string out = "0";
    uint16_t const a = Pen.Attr;
    struct {
        uint16_t Bit;
        char const* Code;
    } const attrs[] = {
        {PEN_BOLD, "1"}, {PEN_UNDERLINE, "4"}, {PEN_BLINK, "5"}, {PEN_INVERSE, "7"},
        {PEN_INVISIBLE, "8"}, {PEN_DIM, "2"}, {PEN_ITALIC, "3"},
    };
    for (auto const& at : attrs)
        if (a & at.Bit)
            out += std::string(";") + at.Code;
    auto colour = [&](int index, int base, int bright, char const* extended) {
        if (index < 0)
            return;
        if (index < 8)
            out += ";" + Number(base + index);
        else if (index < 16)
            out += ";" + Number(bright + index - 8);
        else
            out += std::string(";") + extended + Number(index);
    };
    colour(Pen.Fore, 30, 90, "38:5:");
    colour(Pen.Back, 40, 100, "48:5:");
    return out;
}

void VTEMULATION::StatusString(std::wstring const& request)
{
    std::string req;
    for (wchar_t c : request)
        req += c < 0x80 ? char(c) : '?';
    std::string report;
    if (req == "m") {
        report = SgrReport() + "m";
    } else if (req == "\"p") {
        // The level is not asked of a VT100 (level 1): no answer at all.
        if (Level < 2)
            return;
        report = Number(60 + Level) + (C1Out ? ";0" : ";1") + "\"p";
    } else if (req == " q") {
        int style = CursorStyle;
        if (style == 0) {
            SESSIONPROFILE const* profile = Public ? Public->Profile : nullptr;
            bool const block = !profile || profile->data.BigCursor;
            style = block ? (CursorBlinks ? 1 : 2) : (CursorBlinks ? 3 : 4);
        }
        report = Number(style) + " q";
    } else if (req == "\"q") {
        report = (Pen.Attr & PEN_PROTECTED) ? "1\"q" : "0\"q";
    } else if (req == "r") {
        report = Number(Top + 1) + ";" + Number(Bottom + 1) + "r";
    } else if (req == "s" && Level >= 4) {
        report = Number(LeftMargin() + 1) + ";" + Number(RightMargin() + 1) + "s";
    } else if (req == "t") {
        report = Number(H) + "t";
    } else if (req == "$|") {
        report = Number(W) + "$|";
    } else if (req == "*|") {
        report = Number(H) + "*|";
    }
    if (report.empty())
        Answer(Dcs() + "0$r" + St());
    else
        Answer(Dcs() + "1$r" + report + St());
}

// ---------------------------------------------------------------------------
// The rectangle checksum

void VTEMULATION::RectangleChecksum()
{
    if (!DecReports() || Level < 4)
        return;
    FlushBatch();
    int const id = Seq.Raw(0);
    // The rectangle after the id and the page.
    RECTANGLE const r = RectangleAt(2);
    int const top = r.Top, left = r.Left, bottom = r.Bottom, right = r.Right;
    // Each cell counts its character's low eight bits (a hidden character
    // counts as a blank, the right half of a double-width character as
    // 0xFF) and the VT100 renditions; blank cells in the default colours
    // and rendition count nothing, except as the rectangle's first cell,
    // which xterm counts as a blank.
    int const fore = ProfileColor(0), back = ProfileColor(1);
    uint32_t sum = 0;
    std::vector<VIOCELL> row(size_t(std::max(W, 1)));
    for (int y = top; y <= bottom && left <= right; ++y) {
        int count = W;
        Vio->GetCells(row.data(), &count, 0, y);
        for (int x = left; x <= right && x < count; ++x) {
            VIOCELL const& c = row[size_t(x)];
            uint16_t const a = c.attrib;
            uint16_t const shown = a & (VIOATTR_BRIGHT | VIOATTR_UNDERLINE | VIOATTR_BLINK | VIOATTR_INVERSE |
                                        VIOATTR_INVISIBLE);
            bool const blank = c.c == 0 || c.c == ' ';
            if (blank && shown == 0 && int(c.fore) == fore && int(c.back) == back) {
                if (y == top && x == left)
                    sum += 0x20;
                continue;
            }
            uint32_t value = c.c == VIOCHAR_RIGHTHALF ? 0xFF : (a & VIOATTR_INVISIBLE) || c.c == 0 ? 0x20 : (c.c & 0xFF);
            if (a & VIOATTR_BRIGHT)
                value += 0x80;
            if (a & VIOATTR_BLINK)
                value += 0x40;
            if (a & VIOATTR_INVERSE)
                value += 0x20;
            if (a & VIOATTR_UNDERLINE)
                value += 0x10;
            sum += value;
        }
    }
    char hex[8];
    snprintf(hex, sizeof hex, "%04X", unsigned(-sum) & 0xFFFF);
    Answer(Dcs() + Number(id) + "!~" + hex + St());
}

// ---------------------------------------------------------------------------
// Presentation state reports

void VTEMULATION::PresentationState()
{
    if (!DecReports() || Level < 3)
        return;
    if (Seq.Raw(0) == 1) {
        // DECCIR: cursor, page, rendition, protection, flags, the G-sets
        // invoked into GL and GR, their sizes (all 94-character sets) and
        // designations.
        uint16_t const a = Pen.Attr;
        char const rendition = char(0x40 | ((a & PEN_BOLD) ? 1 : 0) | ((a & PEN_UNDERLINE) ? 2 : 0) |
                                    ((a & PEN_BLINK) ? 4 : 0) | ((a & PEN_INVERSE) ? 8 : 0));
        char const protection = char(0x40 | ((a & PEN_PROTECTED) ? 1 : 0));
        char const flags = char(0x40 | (OriginMode ? 1 : 0) | (SingleShift == 2 ? 2 : 0) |
                                (SingleShift == 3 ? 4 : 0) | (WrapPending ? 8 : 0));
        std::string designations;
        for (CHARSET set : G) {
            char name[3];
            vt::CharsetDesignation(set, name);
            designations += name;
        }
        Answer(Dcs() + "1$u" + Number(Y + 1) + ";" + Number(X + 1) + ";1;" + rendition + ";" + protection + ";" +
               flags + ";" + Number(GL) + ";" + Number(GR) + ";@;" + designations + St());
    } else if (Seq.Raw(0) == 2) {
        // DECTABSR: the tab stops, from column 1.
        std::string stops;
        for (int x = 0; x < W && x < int(TabStops.size()); ++x) {
            if (TabStops[size_t(x)]) {
                if (!stops.empty())
                    stops += "/";
                stops += Number(x + 1);
            }
        }
        Answer(Dcs() + "2$u" + stops + St());
    }
}

// ---------------------------------------------------------------------------
// Colour queries

void VTEMULATION::ColourQuery(int command, std::wstring const& text)
{
    if (!DecReports() || !Vio)
        return;
    std::string const end = OscBell ? "\a" : St();
    std::string const osc = C1Out ? "\x9d" : "\x1b]";
    if (command == 4) {
        int index = 0;
        for (wchar_t c : text) {
            if (c < L'0' || c > L'9')
                return;
            index = index * 10 + (c - L'0');
            if (index > 255)
                return;
        }
        if (text.empty())
            return;
        uint32_t const rgb = Vio->GetSysColor(index < 16 ? index : 256 + index);
        Answer(osc + "4;" + Number(index) + ";" + RgbSpec(rgb) + end);
        return;
    }
    SESSIONPROFILE const* profile = Public ? Public->Profile : nullptr;
    int colour = ProfileColor(command == 11 ? 1 : 0);
    if (command == 12 && profile && profile->data.ColorCursor > 0)
        colour = profile->data.ColorCursor - 1;
    Answer(osc + Number(command) + ";" + RgbSpec(Vio->GetSysColor(colour)) + end);
}
