#include "program/shell/miscclasses.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/registry.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/windows.h"
#include "velmot/gui/windraw.h"
#include "velmot/gui/winfont.h"
#include "velmot/gui/winmenu.h"

#include "platform/events/views.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr wchar_t CR = 13;
constexpr wchar_t LF = 10;

} // namespace

int TRANSCRLF::DoTranslate(wchar_t ch, wchar_t* out, int mode)
{
    if (mode == -1)
        mode = Mode;
    if (mode == KEEP || mode == BINARY || (ch != CR && ch != LF)) {
        Previous = ch;
        out[0] = ch;
        return 1;
    }
    // Previous holds the character a line end was last turned into, so the
    // second half of a CR LF or LF CR pair is recognised and dropped.
    switch (mode) {
    case TOCRLF:
        if (ch == LF) {
            if (Previous == LF) {
                Previous = 0;
                return 0;
            }
            Previous = CR;
        } else {
            if (Previous == CR) {
                Previous = 0;
                return 0;
            }
            Previous = LF;
        }
        out[0] = CR;
        out[1] = LF;
        return 2;
    case TOCR:
        return Single(ch, CR, LF, out);
    case TOLF:
        return Single(ch, LF, CR, out);
    default:
        AssertMsg(0, "FALSE", __FILE__, __LINE__);
        Previous = ch;
        out[0] = ch;
        return 1;
    }
}

int TRANSCRLF::Single(wchar_t ch, wchar_t target, wchar_t other, wchar_t* out)
{
    // Every line end becomes `target`; the second half of a pair is dropped.
    wchar_t const pairedWith = ch == target ? other : target;
    if (Previous == pairedWith) {
        Previous = 0;
        return 0;
    }
    Previous = ch;
    out[0] = target;
    return 1;
}

int TRANSCRLF::Translate(wchar_t ch, wchar_t* out, int mode)
{
    wchar_t tmp[2];
    int n = DoTranslate(ch, tmp, mode);
    for (int i = 0; i < n; ++i)
        out[i] = tmp[i];
    return n;
}

int TRANSCRLF::Translate(char ch, char* out, int mode)
{
    wchar_t tmp[2];
    int n = DoTranslate(static_cast<wchar_t>(static_cast<unsigned char>(ch)), tmp, mode);
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<char>(tmp[i]);
    return n;
}

int TRANSCRLF::Translate(char ch, int mode)
{
    wchar_t tmp[2];
    int n = DoTranslate(static_cast<wchar_t>(static_cast<unsigned char>(ch)), tmp, mode);
    switch (n) {
    case 0:
        return 0;
    case 1:
        return static_cast<int>(tmp[0]);
    case 2:
        return static_cast<int>(tmp[0]) << 8 | static_cast<int>(tmp[1]);
    default:
        AssertMsg(0, "howmany==0", __FILE__, __LINE__);
        return 0;
    }
}

// ---------------------------------------------------------------------------
// QORBUTTON

namespace {

// The default button font ("8.Helv") of the window parts.
constexpr char const* kButtonFont = "8.Helv";

bool WindowActive(CONTROL const& control)
{
    return WINDOW(CONTROLPARENT{control.GetControlRef()}).IsForegroundWindow();
}

} // namespace

QORBUTTON::QORBUTTON(CONTROLPARENT parent, CONTROLID id, int x, int y, int cx, int cy)
    : CHILDWINDOW(parent, id, x, y, cx, cy, 0, "QorUsrButton"), Id(id)
{
    WINDC dc(nullptr, RECT{}, false);
    Font = dc.LoadFont(kButtonFont, 1252);
}

QORBUTTON::~QORBUTTON()
{
    if (Font) {
        WINDC dc(nullptr, RECT{}, false);
        dc.DestroyFont(Font);
    }
}

bool QORBUTTON::ReactsToMouse() const
{
    return !Disabled && Type != TYPE_DISPLAYONLY && WindowActive(*this);
}

void QORBUTTON::SetHot(int state)
{
    if (Hot == state)
        return;
    Hot = state;
    Invalidate(nullptr);
}

int QORBUTTON::OnPaint()
{
    PAINTSTRUCT ps;
    if (!StartPaint(&ps))
        return 0;
    RECT const r = CONTROL::GetClientRect();
    WINDC dc(ps.hdc, r, false);
    if (BackTop || BackBottom)
        dc.FillRectGradient(&r, BackTop, BackBottom, true);
    if (Font)
        dc.SelectFont(Font);
    int const height = r.bottom - r.top;
    if (Hot != 0) {
        // Alpha lives in the top byte as a transparency (0 opaque).
        uint32_t const opacity = Hot == 1 ? 191 : 140;
        COLORREF const fill = 0x202020 | ((255 - opacity) << 24);
        int const radius = height * 45 / 100;
        dc.DrawRoundRect(r, radius, WINDC_NOCOLOR, fill);
        if (Hot == -1)
            dc.DrawRoundRect(r, radius, 0x202020 | ((255u - 137u) << 24), WINDC_NOCOLOR);
    }
    int textStart = r.left;
    bool const centred = (Align & ALIGN_CENTER) != 0;
    if (PictureId) {
        if (PictureId != LoadedPicture) {
            Picture.LoadSized(static_cast<uint32_t>(PictureId), 16, 16);
            LoadedPicture = PictureId;
            VASSERT(Picture.GetId() == static_cast<uint32_t>(LoadedPicture), "this->Icon.GetId()==this->LoadedIconId",
                    nullptr);
        }
        plat::Image image = plat::IconImage(Picture.GetIconRef());
        dc.DrawIcon(&image, r.left + 3 + (centred ? 0 : 1), height / 2 - 8, 16, 16);
        textStart += centred ? 12 : 14;
    }
    int fontW = 0, fontH = 0, descent = 0;
    dc.GetFontSize(&fontW, &fontH, &descent);
    int const x = centred ? (textStart + r.right - 2) / 2 : textStart + 8;
    int const y = (height - fontH) / 2;
    dc.TextAlign = centred ? WINDC_TA_CENTER : WINDC_TA_LEFT;
    COLORREF colour = OSYS::GetSysColor(18);
    if (!WindowActive(*this))
        colour = OSYS::CalcColorBlend(OSYS::GetSysColor(18), OSYS::GetSysColor(15), 50);
    if (Hot != 0) {
        dc.TextColor = 0x80000000;
        dc.StringOutW(x, y + 1, Text.Buf());
        colour = 0xFFFFFF;
        dc.TextColor = colour;
        dc.StringOutW(x, y, Text.Buf());
    }
    dc.TextColor = colour;
    dc.StringOutW(x, y, Text.Buf());
    if (Font)
        dc.DeselectFont(Font);
    EndPaint(&ps);
    return 1;
}

bool QORBUTTON::OnMouseEvent(int message, int x, int y, int)
{
    if (Disabled)
        return false;
    RECT const r = CONTROL::GetClientRect();
    bool const inside = x >= r.left && x <= r.right && y >= r.top && y <= r.bottom;
    if (!ReactsToMouse())
        return false;
    switch (message) {
    case WM_MOUSEMOVE:
        if (inside) {
            SetMouseCapture(true);
            SetHot(Pressed ? -1 : 1);
        } else {
            SetMouseCapture(false);
            Hot = 0;
            Invalidate(nullptr);
        }
        return true;
    case WM_LBUTTONDOWN:
        if (inside) {
            Pressed = true;
            SetHot(-1);
        } else {
            SetMouseCapture(false);
            Invalidate(nullptr);
        }
        return true;
    case WM_LBUTTONUP:
        if (inside) {
            Hot = 0;
            SetMouseCapture(false);
            if (Pressed) {
                Pressed = false;
                SimulateHit(1);
            }
        } else {
            SetMouseCapture(false);
        }
        Invalidate(nullptr);
        return true;
    default:
        return false;
    }
}

STRING QORBUTTON::GetText() const
{
    return STRING(Text.Buf(), UNICODE_CPSYSTEM);
}

void QORBUTTON::SetText(char const* text)
{
    SetTextWide(WSTRING(text ? text : "", UNICODE_CPSYSTEM).Buf());
}

void QORBUTTON::SetTextWide(wchar_t const* text)
{
    Text = WSTRING(text ? text : L"");
    Invalidate(nullptr);
}

void QORBUTTON::SetDisabled(signed char disabled)
{
    if (Disabled == (disabled != 0))
        return;
    Disabled = disabled != 0;
    Invalidate(nullptr);
}

void QORBUTTON::SetImage(int id)
{
    if (PictureId == id)
        return;
    PictureId = id;
    Invalidate(nullptr);
}

// ---------------------------------------------------------------------------
// TOOLTIPS

void TOOLTIPS::SetTooltipWide(CONTROL const& control, wchar_t const* text)
{
    std::wstring const w = text ? text : L"";
    STRING utf8(w.c_str(), UNICODE_CPUTF8);
    plat::SetViewToolTip(control.GetControlRef(), utf8.Buf());
}

void TOOLTIPS::SetTooltip(CONTROL const& control, char const* text)
{
    SetTooltipWide(control, WSTRING(text ? text : "", UNICODE_CPSYSTEM).Buf());
}

// ---------------------------------------------------------------------------
// TIMER

long long (*TIMER::Now)() = [] { return OSYS::RelTime(); };

void TIMER::Reset()
{
    Start = Stop = Now();
}

void TIMER::Run(int on)
{
    long long const now = Now();
    if (!on) {
        if (Running) {
            Stop = now;
            Running = false;
        }
    } else if (!Running) {
        // The time the timer stood is left out.
        Start += now - Stop;
        Stop = 0;
        Running = true;
    }
}

int TIMER::Set(char const* text)
{
    int h = 0, m = 0, s = 0;
    char extra = 0;
    if (!text || sscanf(text, "%d:%d:%d%c", &h, &m, &s, &extra) != 3)
        return 0;
    if (h < 0 || m < 0 || m > 59 || s < 0 || s > 59)
        return 0;
    long long const now = Now();
    Stop = now;
    Start = now - ((static_cast<long long>(h) * 60 + m) * 60 + s) * 1000;
    Running = false;
    Run(1);
    return 1;
}

long long TIMER::QueryTime()
{
    return (Running ? Now() : Stop) - Start;
}

int TIMER::Query(int* h, int* m, int* s)
{
    uint32_t const seconds = static_cast<uint32_t>(QueryTime() / 1000);
    if (s)
        *s = static_cast<int>(seconds % 60);
    if (m)
        *m = static_cast<int>(seconds / 60 % 60);
    if (h)
        *h = static_cast<int>(seconds / 3600);
    return Running ? 1 : 0;
}

// ---------------------------------------------------------------------------
// AUTOLEARN

void AUTOLEARN::SetActive(int on)
{
    Active = on != 0;
    if (Active) {
        Record = STRING("", 1252);
        ReadPosition = 0;
    }
}

void AUTOLEARN::AddData(char received, wchar_t key)
{
    if (!Active || key == 0 || key == 1)
        return;
    char const bytes[3] = {received, static_cast<char>(key & 0xFF), 1};
    Record.Append(bytes, 3);
}

// ---------------------------------------------------------------------------
// REMEMBERBUFFER

namespace {

// The sliding history: when the fill reached size + chunk - 1 the oldest
// chunk values go and the rest moves to the front.
template <class CH>
int Remember(std::vector<CH>& buffer, int size, int chunk, int& fill, CH value)
{
    if (fill >= size + chunk - 1) {
        int const keep = fill - chunk;
        std::memmove(buffer.data(), buffer.data() + chunk, static_cast<size_t>(keep) * sizeof(CH));
        fill = keep;
    }
    buffer[static_cast<size_t>(fill++)] = value;
    buffer[static_cast<size_t>(fill)] = 0;
    return fill;
}

} // namespace

REMEMBERBUFFER::REMEMBERBUFFER(int size, int chunk)
    : Buffer(static_cast<size_t>(std::max(size, 1) + std::max(chunk, 1) + 1), 0), Size(std::max(size, 1)),
      Chunk(std::max(chunk, 1))
{
}

int REMEMBERBUFFER::AddValue(int value)
{
    return Remember(Buffer, Size, Chunk, Fill, static_cast<char>(value));
}

REMEMBERBUFFERWIDE::REMEMBERBUFFERWIDE(int size, int chunk)
    : Buffer(static_cast<size_t>(std::max(size, 1) + std::max(chunk, 1) + 1), 0), Size(std::max(size, 1)),
      Chunk(std::max(chunk, 1))
{
}

int REMEMBERBUFFERWIDE::AddValueWide(wchar_t value)
{
    return Remember(Buffer, Size, Chunk, Fill, value);
}

// ---------------------------------------------------------------------------
// RECENTFILES

namespace {

REGISTRY RecentKey(STRING const& suffix)
{
    STRING key = OSYS::GetStringFromResource("IDS_TARVOAPPREGKEY");
    key.Append("\\Recent");
    key.Append(suffix.Buf());
    return REGISTRY(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", key.Buf(), REGISTRY::READWRITE);
}

} // namespace

RECENTFILES::RECENTFILES(char const* keySuffix, char const* valuePrefix, int count)
    : STRINGARRAY(64), KeySuffix(keySuffix ? keySuffix : ""),
      ValuePrefix(valuePrefix ? valuePrefix : (keySuffix ? keySuffix : "")), Max(std::max(count, 1))
{
    if (KeySuffix.NotEmpty())
        Load();
}

RECENTFILES::~RECENTFILES()
{
    if (KeySuffix.NotEmpty())
        Save();
}

STRING RECENTFILES::Keyname(int i) const
{
    STRING name;
    name.Format("%s%02d", ValuePrefix.Buf(), i);
    return name;
}

void RECENTFILES::Add(char const* name)
{
    if (!name)
        return;
    int found = FindItem(name);
    if (found >= 0)
        DeleteItem(found);
    InsertItem(0, STRING(name));
    while (NumItems() > Max)
        DeleteItem(NumItems() - 1);
}

int RECENTFILES::Load()
{
    LOGIT("RECENTFILES::Load\n");
    DeleteAllItems();
    REGISTRY key = RecentKey(KeySuffix);
    int read = 0;
    for (int i = 0; i < Max; ++i) {
        STRING value;
        if (!key.Read(Keyname(i).Buf(), &value) || value.IsEmpty())
            continue;
        LOGIT("RECENTFILES::Load reads %s -> '%s'\n", Keyname(i).Buf(), value.Buf());
        AppendItem(value);
        ++read;
    }
    LOGIT("RECENTFILES::Load returns %d\n", read);
    return read;
}

int RECENTFILES::Save()
{
    REGISTRY key = RecentKey(KeySuffix);
    int const n = std::min(NumItems(), Max);
    for (int i = 0; i < n; ++i)
        key.Write(Keyname(i).Buf(), (*this)[i]->Buf());
    for (int i = n; i < Max; ++i)
        key.DeleteValue(Keyname(i).Buf());
    return n;
}

void RECENTFILES::SetMenuClip(char const* prefix, int maxLength, signed char cutEnd)
{
    ClipPrefix = prefix ? prefix : "";
    MaxShown = std::max(maxLength, 4);
    CutEnd = cutEnd != 0;
}

STRING RECENTFILES::MenuText(int i) const
{
    std::string text = i >= 0 && i < NumItems() ? (*this)[i]->Buf() : "";
    std::string const clip = ClipPrefix.Buf();
    if (!clip.empty() && text.size() >= clip.size() && strncasecmp(text.c_str(), clip.c_str(), clip.size()) == 0) {
        text.erase(0, clip.size());
        size_t const start = text.find_first_not_of("/\\");
        text.erase(0, start == std::string::npos ? text.size() : start);
    }
    if (static_cast<int>(text.size()) > MaxShown) {
        if (CutEnd)
            text = text.substr(0, static_cast<size_t>(MaxShown)) + "...";
        else
            text = "..." + text.substr(text.size() - static_cast<size_t>(MaxShown));
    }
    return STRING(text.c_str());
}

int RECENTFILES::MakeMenu(MENU& menu, int idBase, char const*, int position)
{
    if (position == 0) {
        while (menu.GetNumMenuItems() > 0)
            menu.DeleteMenuItem(0, true);
    } else {
        for (int id = idBase; id < idBase + Max; ++id)
            menu.DeleteMenuItem(static_cast<uint32_t>(id), false);
    }
    int const n = std::min(NumItems(), Max);
    for (int i = 0; i < n; ++i)
        menu.InsertItem(MenuText(i).Buf(), idBase + i, position + i);
    if (position != 0 && Separator) {
        if (n > 0) {
            if (!menu.IsMenuItemSeparator(position + n))
                menu.InsertItem(nullptr, 0, position + n);
        } else if (menu.IsMenuItemSeparator(position)) {
            menu.DeleteMenuItemSeparator(position, true);
        }
    }
    return 1;
}
