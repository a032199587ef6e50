// The session window: painting through the screen, focus, keys into the key
// map, the mouse with selection, links, word and line picking and cursor
// positioning, dropped files, the size negotiation with the main window,
// fonts, and the session's user messages and timers.
#include "program/session/session.h"

#include "program/screen/termfonts.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/windraw.h"
#include "velmot/gui/winfont.h"
#include "velmot/gui/winkeys.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

// A click after the window got the focus is taken as the focus click.
constexpr int kFocusClickMs = 250;
// Two clicks on one cell within this time are a double click.
constexpr int kDoubleClickMs = 500;
// Mouse wheel amount on the toolkit's scale (eighths of a degree) of one
// notch.
constexpr int kWheelNotch = 120;
// The longest text read for picking a word.
constexpr int kPickMax = 1024;
// The extra height the main window gives the terminal.
constexpr int kExtraHeight = 15;
constexpr int kMinColumns = 30;
constexpr int kMinRows = 5;

// Schemes a click may open: the desktop's opener is handed nothing else, so
// host text on the screen cannot make one click run a local handler.
bool IsOpenableUrl(char const* url)
{
    static char const* const schemes[] = {"http://", "https://", "ftp://", "mailto:"};
    for (char const* s : schemes) {
        if (strncasecmp(url, s, strlen(s)) == 0)
            return url[strlen(s)] != '\0';
    }
    return false;
}

} // namespace

// ---------------------------------------------------------------------------
// Painting, size, focus

int SESSION::OnPaint()
{
    TARVOAPP::CheckCallerThread("SESSION::OnPaint");
    if (Painting)
        return 1;
    PAINTSTRUCT ps;
    if (!StartPaint(&ps))
        return 0;
    Painting = true;
    if (ps.rcPaint.right > ps.rcPaint.left && ps.rcPaint.bottom > ps.rcPaint.top) {
        if (!Screen.IsUpAndRunning()) {
            WINDC dc(ps.hdc, CONTROL::GetClientRect(), false);
            dc.FillRect(&ps.rcPaint, 0xFFFFFF);
        } else {
            Screen.OnPaint(ps);
        }
    }
    EndPaint(&ps);
    Painting = false;
    return 1;
}

bool SESSION::OnSized()
{
    CHILDWINDOW::OnSized();
    Screen.OnResized(0);
    InvalidateWindow();
    return true;
}

bool SESSION::OnShown()
{
    Screen.OnShowHide(1);
    return true;
}

bool SESSION::OnHidden()
{
    Screen.OnShowHide(0);
    return true;
}

bool SESSION::OnFocusAcquired()
{
    FocusTime = NowMs();
    HasFocusNow.store(true);
    if (Screen.IsUpAndRunning())
        Screen.OnFocusAcquired();
    // An emulation may report the focus to the host.
    EmuLayer.HandleTerminalEvent(EMULATION_EVENT_FOCUSIN);
    return true;
}

bool SESSION::OnFocusLost()
{
    HasFocusNow.store(false);
    if (Screen.IsUpAndRunning())
        Screen.OnFocusLost();
    EmuLayer.HandleTerminalEvent(EMULATION_EVENT_FOCUSOUT);
    return true;
}

bool SESSION::OnHelp()
{
    return true;
}

void SESSION::SetBackgroundTab(bool background)
{
    Background.store(background);
}

int SESSION::QueryMinMax(int* minW, int* minH, int* maxW, int* maxH)
{
    int cw = 0, ch = 0;
    QueryFontSize(&cw, &ch);
    if (minW)
        *minW = kMinColumns * cw;
    if (minH)
        *minH = kMinRows * ch + kExtraHeight;
    if (maxW)
        *maxW = Prof.data.WinWidth * cw;
    if (maxH)
        *maxH = Prof.data.WinHeight * ch + kExtraHeight;
    return 1;
}

int SESSION::QueryFontList(TERMFONT const** list)
{
    if (!list) {
        AssertMsg(0, "pptab", __FILE__, __LINE__);
        return 0;
    }
    int const key = Prof.data.CodePage;
    int const bold = Prof.data.BoldFont ? 1 : 0;
    if (FontCount < 0 || key != FontKey || bold != FontBold) {
        FontTable.assign(1024, TERMFONT{});
        FontCount = TERMFONTS::QueryFixedFonts(FontTable.data(), 1023, nullptr, key, static_cast<signed char>(bold));
        FontKey = key;
        FontBold = bold;
        if (FontCount == 0)
            LOGIT("SESSION::QueryFontList: no fixed-pitch font found; the screen keeps its font\n");
    }
    *list = FontTable.data();
    return FontCount;
}

int SESSION::OfferWindow(int* newX, int* newY, int availX, int availY, bool apply)
{
    if (!newX || !newY)
        return 0;
    SESSIONPROFILEDATA& p = Prof.data;
    int cw = 0, ch = 0;
    QueryFontSize(&cw, &ch);
    LOGIT("SESSION::OfferWindow In *pnewx= %d, *pnewy= %d\n", *newX, *newY);
    LOGIT("SESSION::OfferWindow In fontwidth= %d, fontheight= %d\n", cw, ch);
    int cols = p.WinWidth, rows = p.WinHeight;
    // The size the main window offers, within the maxima it gives.
    int const offeredX = availX > 0 ? std::min(*newX, availX) : *newX;
    int const offeredY = availY > 0 ? std::min(*newY, availY) : *newY;
    if (!Host.SizesFixed()) {
        if (p.Dynamic == 1) {
            // The font follows the window: among the fonts of the list the
            // one whose cells times the terminal's size come closest to the
            // offered size, first within the current font's family.
            TERMFONT const* fonts = nullptr;
            int const n = QueryFontList(&fonts);
            wchar_t family[128] = {};
            TERMFONTS::GetNameFromFontstr(p.WinFont, family, 128);
            LOGIT("SESSION::OfferWindow trying for aviox/y= %d/%d\n", availX, availY);
            int best = -1;
            long bestDistance = 0;
            for (int pass = 0; pass < 2 && best < 0; ++pass) {
                LOGIT("OfferWindow    pass = %d\n", pass);
                for (int i = 0; i < n; ++i) {
                    TERMFONT const& f = fonts[i];
                    if (pass == 0 && wcscmp(f.Name, family) != 0)
                        continue;
                    long const dx = static_cast<long>(f.CellWidth) * cols - offeredX;
                    long const dy = static_cast<long>(f.CellHeight) * rows - offeredY;
                    bool const fits = static_cast<long>(f.CellWidth) * cols <= availX &&
                                      static_cast<long>(f.CellHeight) * rows <= availY;
                    if (pass == 0 && !fits)
                        continue;
                    long const d = static_cast<long>(std::sqrt(static_cast<double>(dx * dx + dy * dy)));
                    if (best < 0 || d < bestDistance) {
                        best = i;
                        bestDistance = d;
                    }
                }
            }
            if (best >= 0) {
                TERMFONT const& f = fonts[best];
                if (f.CellWidth * cols > availX || f.CellHeight * rows > availY)
                    p.Dynamic = 0;
                cw = f.CellWidth;
                ch = f.CellHeight;
                LOGIT("SESSION::OfferWindow best fontsize= %d/%d (i_best= %d, d_best= %ld)\n", cw, ch, best,
                      bestDistance);
                if (apply) {
                    wchar_t spec[64] = {};
                    TERMFONTS::ComposeFontstr(spec, 64, f.Name, f.CellWidth, f.CellHeight, 0);
                    wcsncpy(p.WinFont, spec, 63);
                    SetFont(p.WinFont, 64, p.BoldFont != 0, false);
                }
            }
        } else if (p.Dynamic == 2 && cw > 0 && ch > 0) {
            // The terminal's size follows the window.
            cols = std::max(offeredX / cw, kMinColumns);
            rows = std::max(offeredY / ch, kMinRows);
            LOGIT("SESSION::OfferWindow dynacell serious %d winwidth= %d, winheight= %d\n", p.Dynamic, cols, rows);
            EmuLayer.AdjustScreenSize(&cols, &rows);
            if (apply)
                EmuLayer.SetWinSize(cols, rows);
        }
        if (cw <= 0 || ch <= 0) {
            AssertMsg(0, cw > 0 ? "celly>0" : "cellx>0", __FILE__, __LINE__);
            return 0;
        }
        if (apply) {
            p.WinWidth = cols;
            p.WinHeight = rows;
            wchar_t name[128] = {};
            TERMFONTS::GetNameFromFontstr(p.WinFont, name, 128);
            TERMFONTS::ComposeFontstr(p.WinFont, 64, name, cw, ch, 0);
            SetFont(p.WinFont, 64, p.BoldFont != 0, false);
            PostUserMessage(MSG_TRACKCHANGES, 0, 0);
        }
    }
    if (cw <= 0 || ch <= 0)
        return 0;
    *newX = static_cast<int16_t>(cols) * cw;
    *newY = static_cast<int16_t>(rows) * ch;
    LOGIT("SESSION::OfferWindow Out *pnewx= %d, *pnewy= %d\n", *newX, *newY);
    return 1;
}

int SESSION::SetFont(wchar_t* name, int size, bool bold, bool force)
{
    if (!name)
        return 0;
    if (!force && wcscmp(name, CurrentFont.Buf()) == 0 && static_cast<int>(bold) == CurrentBold)
        return 0;
    Screen.SetFont(name, bold ? 1 : 0);
    signed char used = 0;
    wchar_t actual[128] = {};
    if (Screen.GetFont(actual, 128, &used) && actual[0] && size > 0) {
        wcsncpy(name, actual, static_cast<size_t>(size - 1));
        name[size - 1] = 0;
    }
    EmuLayer.SetCursorType(static_cast<signed char>(Prof.data.BigCursor), Prof.data.CursorBlink, 1);
    CurrentFont = name;
    CurrentBold = used ? 1 : 0;
    return 1;
}

int SESSION::QueryFont(wchar_t* name, int size, bool* bold)
{
    signed char b = 0;
    int n = Screen.GetFont(name, size, &b);
    if (bold)
        *bold = b != 0;
    return n;
}

int SESSION::QueryFontSize(int* cellWidth, int* cellHeight)
{
    int w = 0, h = 0;
    Screen.GetFontSize(&w, &h);
    if (w <= 0 || h <= 0)
        TERMFONTS::GetSizeFromFontstr(CurrentFont.Buf(), &w, &h);
    if (w <= 0 || h <= 0)
        TERMFONTS::GetSizeFromFontstr(Prof.data.WinFont, &w, &h);
    if (cellWidth)
        *cellWidth = w;
    if (cellHeight)
        *cellHeight = h;
    return w > 0 && h > 0;
}

int SESSION::QueryString(wchar_t* text, int* length, int x, int y, bool* wrapped)
{
    LOGIF(8, "SESSION::QueryString x= %d, y= %d\n", x, y);
    signed char w = 0;
    Screen.GetString(text, length, x, y, &w);
    if (wrapped)
        *wrapped = w != 0;
    return 1;
}

int SESSION::ClickCopySelected(bool clear)
{
    if (!IsTextMarked())
        return 0;
    // The clipboard sender takes the marked area; until it is there the
    // copy goes through its route.
    ProcessEvent(8352, 1, nullptr);
    if (clear)
        Screen.ClearMarkArea(1);
    return 1;
}

// ---------------------------------------------------------------------------
// Keys

bool SESSION::KeyState(int vk)
{
    return KEYBOARD::GetInstance()->GetKeyState(vk);
}

bool SESSION::OnKeyboardEvent(KEYBOARDEVENT const& event)
{
    if (RawKeyUntaken) {
        RawKeyUntaken = false;
        if (event.Keycode == RawKey.Keycode && event.Scancode == RawKey.Scancode && event.Flags == RawKey.Flags &&
            event.Modifiers == RawKey.Modifiers && event.UniChar == RawKey.UniChar)
            return false; // seen as the raw key already
    }
    if (ShuttingDown.load() || Deleted.load())
        return false;
    LOGIT("SESSION::OnKeyboardEvent\n");
    Host.KeyboardEvent(1);
    int rc = KeyMapProcessChar(event);
    LOGIT("SESSION::OnKeyboardEvent done, rc= %d\n", rc);
    return rc != 255;
}

bool SESSION::OnRawKeyboardEvent(KEYBOARDEVENT const& event)
{
    // A key that types a character comes again as text with the same
    // record and is handled then; keys that type nothing (arrows, function
    // keys, Escape) come only here.
    if (event.Flags & KEYFLAG_CHAR)
        return false;
    bool const handled = OnKeyboardEvent(event);
    RawKeyUntaken = !handled;
    RawKey = event;
    return handled;
}

int SESSION::KeyMapProcessChar(KEYBOARDEVENT const& event)
{
    int const rc = Keymap.ProcessChar(event);
    return rc < 0 ? 255 : rc;
}

// ---------------------------------------------------------------------------
// Mouse

bool SESSION::OnMouseEvent(int message, int x, int y, int flags)
{
    if (Deleted.load())
        return false;
    int cw = 0, ch = 0;
    QueryFontSize(&cw, &ch);
    if (cw <= 0 || ch <= 0)
        return false;
    int const col = x / cw, row = y / ch;
    switch (message) {
    case MOUSE_MOVE:
        EmuLayer.HandleMouseEvent(col, row, -1, 0);
        ClickMaster(MOUSE_MOVE, x, y);
        return true;
    case MOUSE_LEFTDOWN:
        if (EmuLayer.HandleMouseEvent(col, row, 0, 0))
            return true;
        if (NowMs() - FocusTime < kFocusClickMs)
            return true;
        if (!HasFocusNow.load()) {
            SetFocus();
            return true;
        }
        if (Settings.data.MouseModeLeft > 3)
            return true;
        ClickMaster(MOUSE_LEFTDOWN, x, y);
        return true;
    case MOUSE_LEFTUP:
        if (EmuLayer.HandleMouseEvent(col, row, 0, 1))
            return true;
        ClickMaster(MOUSE_LEFTUP, x, y);
        return true;
    case MOUSE_LEFTDOUBLE:
        ClickMaster(MOUSE_LEFTDOUBLE, x, y);
        return true;
    case MOUSE_RIGHTDOWN:
    case MOUSE_MIDDLEDOWN: {
        int const mode = message == MOUSE_RIGHTDOWN ? Settings.data.MouseModeRight : Settings.data.MouseModeMiddle;
        switch (mode) {
        case 0:
            ProcessEvent(8355, 0, nullptr);
            break;
        case 1:
            ProcessEvent(8360, 0, nullptr);
            break;
        case 2:
            SetFocus();
            UpdateToolbarAndMenu(false);
            Host.PopupMenu();
            break;
        case 3:
            DoString("^KEY=Enter");
            break;
        default:
            break;
        }
        return true;
    }
    case MOUSE_WHEEL: {
        int const amount = flags / kWheelNotch ? flags / kWheelNotch : (flags > 0 ? 1 : flags < 0 ? -1 : 0);
        if (EmuLayer.HandleMouseEvent(col, row, amount < 1 ? 5 : 4, 0))
            return true;
        LOGIT("SESSION::OnMouseEvent MOUSEWHEEL %d %d %d\n", x, y, amount);
        if (Settings.data.ScrollbackNoStartByMousewheel || amount < 1)
            return true;
        ProcessEvent(8488, 0, nullptr);
        return true;
    }
    default:
        return false;
    }
}

void SESSION::ClickMaster(int code, int x, int y)
{
    if (ShuttingDown.load())
        return;
    int cw = 0, ch = 0, cols = 0, rows = 0;
    QueryFontSize(&cw, &ch);
    Screen.GetWinSize(&cols, &rows);
    if (cw <= 0 || ch <= 0 || cols <= 0 || rows <= 0)
        return;
    int col = std::clamp(x / cw, 0, cols - 1);
    int row = std::clamp(y / ch, 0, rows - 1);
    bool const leftHalf = (x % cw) < cw / 2;
    auto streamColumn = [&](int c, int r) {
        // A row below the anchor's, pointed at in the left half of its
        // first cell: the mark ends with the previous line.
        return MarkMode == VIOMARK_STREAM && r > Anchor.y && c == 0 && leftHalf ? -1 : c;
    };
    switch (code) {
    case MOUSE_MOVE:
        if (MarkMode == VIOMARK_NONE) {
            if (col != Hover.x || row != Hover.y) {
                STRING link;
                HoverLink = Screen.HandleMouseHover(col, row, &link);
                HoverUrl = HoverLink ? link.Buf() : "";
                SetMouseCapture(HoverLink);
                MouseCaptured = HoverLink;
                Hover = POINT{col, row};
            }
            return;
        }
        {
            int c = streamColumn(col, row);
            if (c != MarkEnd.x || row != MarkEnd.y) {
                MarkEnd = POINT{c, row};
                MarkForward = Anchor.y * 30000 + Anchor.x <= row * 30000 + c;
                Screen.SetMarkArea(MarkMode, Anchor.x, Anchor.y, MarkEnd.x, MarkEnd.y, 1);
            }
        }
        return;
    case MOUSE_LEFTDOWN: {
        SetMouseCapture(true);
        MouseCaptured = true;
        int const mode = KeyState(18) ? VIOMARK_BLOCK : VIOMARK_STREAM;
        int oldMode = 0, x1 = 0, y1 = 0, x2 = 0, y2 = 0;
        bool const marked = Screen.GetMarkArea(&oldMode, &x1, &y1, &x2, &y2) && oldMode != 0;
        MarkMode = mode;
        if (KeyState(16) && !Settings.data.ClipAutoCopy && marked) {
            // Shift extends the mark: clicked above its middle, the old end
            // becomes the anchor.
            if (row * 2 < y1 + y2)
                Anchor = POINT{x2, y2};
            else
                Anchor = POINT{x1, y1};
            MarkEnd = POINT{col, row};
        } else {
            Anchor = MarkEnd = POINT{col, row};
        }
        Screen.SetMarkArea(MarkMode, Anchor.x, Anchor.y, MarkEnd.x, MarkEnd.y, 1);
        return;
    }
    case MOUSE_LEFTUP: {
        if (MarkMode == VIOMARK_NONE)
            return;
        SetMouseCapture(false);
        MouseCaptured = false;
        int const c = streamColumn(col, row);
        if (c == Anchor.x && row == Anchor.y && MarkEnd.x == Anchor.x && MarkEnd.y == Anchor.y) {
            // A click.
            long long const now = NowMs();
            if (LastClickTime >= 0 && now - LastClickTime < kDoubleClickMs && LastClick.x == col &&
                LastClick.y == row) {
                LastClickTime = -1;
                MarkMode = VIOMARK_NONE;
                ClickMaster(MOUSE_LEFTDOUBLE, x, y);
                if (Settings.data.ClipAutoCopy)
                    Screen.ClearMarkArea(1);
                return;
            }
            if (HoverLink && !HoverUrl.empty()) {
                OpenLinkChecked(HoverUrl.c_str());
                Hover = POINT{-1, -1};
                HoverLink = false;
                Screen.HandleMouseHover(-1, -1, nullptr);
            } else {
                LastClick = POINT{col, row};
                LastClickTime = now;
                Screen.ClearMarkArea(1);
            }
        } else {
            MarkEnd = POINT{c, row};
            Screen.SetMarkArea(MarkMode, Anchor.x, Anchor.y, MarkEnd.x, MarkEnd.y, 1);
            if (Settings.data.ClipAutoCopy)
                ClickCopySelected(true);
        }
        MarkMode = VIOMARK_NONE;
        return;
    }
    case MOUSE_LEFTDOUBLE: {
        int const mode = Settings.data.MouseModeLeft;
        if (mode == 3) {
            int const emu = EmuLayer.CurrentId();
            if (emu != 0 && emu != 12)
                MoveCursorTo(col, row);
        } else if (mode == 2) {
            Screen.SetMarkArea(VIOMARK_STREAM, 0, row, cols - 1, row, 1);
            if (Settings.data.ClipAutoCopy)
                ClickCopySelected(false);
        } else if (mode == 0 || mode == 1) {
            OpenWordAt(col, row, mode);
        }
        FlushRedraws();
        return;
    }
    default:
        return;
    }
}

bool SESSION::OpenLinkChecked(char const* url)
{
    if (!url || !IsOpenableUrl(url)) {
        LOGIT("SESSION::ClickMaster link not opened: its scheme is not one a click may open\n");
        return false;
    }
    return Host.OpenDocument(url);
}

void SESSION::MoveCursorTo(int col, int row)
{
    // The terminal's cursor walks to the cell by the emulation's cursor
    // keys, the longer distance first.
    int cx = 0, cy = 0;
    EmuLayer.QueryCursorPos(&cx, &cy);
    int const limit = 4 * (kPickMax + 256); // never more steps than the screen has cells
    for (int step = 0; step < limit && (cx != col || cy != row); ++step) {
        int const dx = col - cx, dy = row - cy;
        if (std::abs(dx) > std::abs(dy)) {
            EmuLayer.FeedSymbolicKey(dx > 0 ? "Right" : "Left");
            cx += dx > 0 ? 1 : -1;
        } else {
            EmuLayer.FeedSymbolicKey(dy > 0 ? "Down" : "Up");
            cy += dy > 0 ? 1 : -1;
        }
    }
}

void SESSION::OpenWordAt(int col, int row, int mode)
{
    int cols = 0, rows = 0;
    Screen.GetWinSize(&cols, &rows);
    // The clicked row and the rows that continue it, at most 1024
    // characters.
    std::wstring text;
    for (int r = row; r < rows && static_cast<int>(text.size()) < kPickMax; ++r) {
        std::vector<wchar_t> line(static_cast<size_t>(cols) + 1);
        int len = cols;
        bool wrapped = false;
        QueryString(line.data(), &len, 0, r, &wrapped);
        text.append(line.data(), static_cast<size_t>(std::max(len, 0)));
        if (!wrapped)
            break;
    }
    if (static_cast<int>(text.size()) > kPickMax)
        text.resize(kPickMax);
    if (col >= static_cast<int>(text.size()))
        return;
    std::string const delims = Settings.data.MouseMarkDelimiters[0] ? Settings.data.MouseMarkDelimiters : " ";
    auto isDelimiter = [&](wchar_t c) { return c < 128 && delims.find(static_cast<char>(c)) != std::string::npos; };
    if (isDelimiter(text[static_cast<size_t>(col)]))
        return;
    int from = col, to = col;
    while (from > 0 && !isDelimiter(text[static_cast<size_t>(from - 1)]))
        --from;
    while (to + 1 < static_cast<int>(text.size()) && !isDelimiter(text[static_cast<size_t>(to + 1)]))
        ++to;
    Screen.SetMarkArea(VIOMARK_STREAM, from % cols, row + from / cols, to % cols, row + to / cols, 1);
    if (mode == 1) {
        std::wstring word = text.substr(static_cast<size_t>(from), static_cast<size_t>(to - from + 1));
        FeedKeys(word.c_str(), static_cast<int>(word.size()), 0);
    } else if (Settings.data.ClipAutoCopy) {
        ClickCopySelected(false);
    }
}

// ---------------------------------------------------------------------------
// Dropped files

namespace {

// Bytes that must never reach the host raw from a file name: C0 controls,
// DEL, and the lead byte of a C1 control in UTF-8 (C2 80 to C2 9F).
size_t ControlAt(std::string const& s, size_t i)
{
    unsigned char const c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c == 0x7F)
        return 1;
    if (c == 0xC2 && i + 1 < s.size() && (static_cast<unsigned char>(s[i + 1]) & 0xE0) == 0x80)
        return 2;
    return 0;
}

} // namespace

std::string SESSION::ShellQuoted(std::string const& name)
{
    bool plain = !name.empty(), control = false;
    for (size_t i = 0; i < name.size(); ++i) {
        char const c = name[i];
        control = control || ControlAt(name, i) != 0;
        bool const ascii = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        plain = plain && (ascii || (c != 0 && strchr("_@%+=:,./-", c)));
    }
    if (plain)
        return name;
    std::string out;
    if (!control) {
        // In single quotes nothing is special but the quote itself.
        out = "'";
        for (char c : name)
            out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out + "'";
    }
    // With a control character: the $'...' form, which spells every byte
    // that must not go out raw as an escape.
    out = "$'";
    for (size_t i = 0; i < name.size();) {
        size_t const n = ControlAt(name, i);
        char const c = name[i];
        if (n == 0) {
            if (c == '\'' || c == '\\')
                out += '\\';
            out += c;
            ++i;
            continue;
        }
        for (size_t k = 0; k < n; ++k, ++i) {
            char hex[5];
            snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(name[i]));
            out += hex;
        }
    }
    return out + "'";
}

std::string SESSION::WithoutControls(std::string const& name)
{
    std::string out;
    for (size_t i = 0; i < name.size();) {
        if (size_t const n = ControlAt(name, i)) {
            out += '?';
            i += n;
        } else {
            out += name[i++];
        }
    }
    return out;
}

bool SESSION::OnFilesDropped(int count, STRINGARRAY const& files)
{
    bool const control = KeyState(17), option = KeyState(18), shift = KeyState(16);
    if (count == 1 && control && !option) {
        ProcessEvent(8518, 0, files[0]->Buf());
        return false;
    }
    for (int i = 0; i < count && i < files.NumItems(); ++i) {
        std::string name = files[i]->Buf();
        if (control)
            continue;
        if (option) {
            size_t slash = name.find_last_of('/');
            if (slash != std::string::npos)
                name.erase(0, slash + 1);
        }
        if (name.empty())
            continue;
        // Quoted for the shell, as other terminals type dropped files; with
        // Shift as it is, but never with a raw control character (a line
        // feed in a name would run what follows it).
        name = shift ? WithoutControls(name) : ShellQuoted(name);
        name += ' ';
        WSTRING wide;
        wide.FromUtf8(name.c_str());
        FeedKeys(wide.Buf(), wide.Length(), 1);
    }
    return true;
}

// ---------------------------------------------------------------------------
// User messages and timers

bool SESSION::OnUserMessage(int msg, MSGWORD p1, MSGWORD p2)
{
    if (Deleted.load()) {
        // Payloads in flight still belong to the session.
        if (msg == MSG_EVENT)
            TakePayload(p2);
        else if (msg == MSG_NOTIFY)
            TakePayload(p1);
        return false;
    }
    switch (msg) {
    case MSG_COMDATA:
        ComDataProcess();
        return true;
    case MSG_CALLFUNCTION: {
        using FUNCTION = MSGWORD (*)(MSGWORD);
        if (auto fn = reinterpret_cast<FUNCTION>(p1))
            fn(p2);
        return true;
    }
    case MSG_TRACKCHANGES:
        TrackChanges(false);
        return true;
    case MSG_HASFOCUS:
        return HasFocusNow.load();
    case MSG_NOTIFY: {
        std::unique_ptr<PAYLOAD> text = TakePayload(p1);
        Notify(text && text->HasText ? text->Text.c_str() : nullptr, static_cast<int>(p2));
        return true;
    }
    case MSG_INTERNALERROR:
        ASSERTMSG(false, "FALSE");
        return true;
    case MSG_FLASH:
        Screen.FlashWindow();
        return true;
    case MSG_DEVICEEND:
        // After the data that came before the end: while passes over it
        // are still queued, this comes again behind them (not while the
        // screen is held or a transfer takes the data: no pass would run).
        if (ComDataPending.load() && CommLayer.QueryNumAvail() > 0 && !Hold.load() &&
            !IsIncomingDataForFiletransfer()) {
            PostUserMessage(MSG_DEVICEEND, 0, 0);
            return true;
        }
        DeviceEndPending = false;
        if (CommLayer.Device()) {
            int const online = CommLayer.QueryOnline();
            // What waits to be written will never be read.
            if (online == 0)
                CommLayer.DropOutput();
            ProcessCarrier(online, 0);
        }
        return true;
    case MSG_TITLE:
        TitlePending = false;
        UpdateTabTitle();
        UpdateWindowTitle(nullptr);
        return true;
    case MSG_EVENT:
        HandleEventMessage(p1, p2);
        return true;
    case MSG_TRANSFERPROGRESS:
        return false;
    case MSG_PLUGINSCHANGED:
        CommLayer.InvalidateLoadFlags();
        EmuLayer.InvalidateLoadFlags();
        return true;
    default:
        return false;
    }
}

bool SESSION::OnTimer(int id)
{
    if (Deleted.load() || ShuttingDown.load())
        return true;
    switch (id) {
    case TIMER_PRINTER:
        ProcessEvent(8820, 0, nullptr);
        return true;
    case TIMER_SECOND:
        ProcessEvent(8825, 0, nullptr);
        return true;
    case TIMER_TENTH: {
        // Status lights the reader thread asked for.
        unsigned leds = PendingLeds.exchange(0);
        for (int led = 0; led < 8; ++led) {
            if (leds & (1u << led))
                SetStatusbarLed(led, true, 0);
        }
        ProcessEvent(8826, 0, nullptr);
        return true;
    }
    case TIMER_SCRIPTIDLE:
    case TIMER_DIALQUEUE:
        return true;
    case TIMER_COMDATA:
        StopTimer(TIMER_COMDATA);
        ComDataNotification(true);
        return true;
    case TIMER_DEVICE:
        CommLayer.HandleTimerEvent();
        return false;
    case TIMER_SENDKEYS:
        StopTimer(TIMER_SENDKEYS);
        SendKeyData(nullptr, 0);
        return true;
    case TIMER_ACCEPTCALLS:
        StopTimer(TIMER_ACCEPTCALLS);
        if (AcceptAgain) {
            AcceptAgain = false;
            ProcessEvent(8451, 0, nullptr);
        }
        return true;
    default:
        if (id >= TIMER_SCREENFIRST && id <= TIMER_SCREENLAST)
            return Screen.OnTimer(id) != 0;
        return false;
    }
}
