#include "program/shell/status.h"

#include "program/shell/helper.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/winbuttons.h"
#include "velmot/gui/windraw.h"
#include "velmot/gui/winentry.h"
#include "velmot/gui/winicons.h"
#include "velmot/gui/winmenu.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kPush = plat::FourCC("PUSH");
constexpr uint32_t kStat = plat::FourCC("STAT");
constexpr uint32_t kChec = plat::FourCC("CHEC");
constexpr uint32_t kIdc = plat::FourCC("IDC_");

constexpr CONTROLID Push(int n) { return CONTROLID{kPush, n}; }
constexpr CONTROLID kStat0{kStat, 0};
constexpr CONTROLID kCheck0{kChec, 0};
constexpr CONTROLID Led(int n) { return CONTROLID{kIdc, n}; }

constexpr int kLightIcon = 1130;
constexpr int kStaticIcon = 1002;
constexpr int kDevicePictures = 1070;
constexpr int kDeviceOffline = 1104;
constexpr int kDeviceOnline = 1105;

// The sizes of the text caches, terminator included.
size_t CacheSize(CONTROLID id)
{
    if (id == kStat0)
        return 256;
    return id.id <= 4 ? 64 : 128;
}

std::string Cut(std::string const& text, size_t size)
{
    return text.size() < size ? text : text.substr(0, size - 1);
}

} // namespace

const std::array<STATUSLINE::FIELD, STATUSLINE::NUMFIELDS> STATUSLINE::WinIdTable = {{
    {KIND_BUTTON, 0, Push(0), 8235, "Telnet", 8, 0, 0},
    {KIND_BUTTON, 1, Push(1), 8255, "VT-220", 8, 0, 0},
    {KIND_BUTTON, 2, Push(2), 8250, "ZModem", 16, 0, 0},
    {KIND_LIGHT, 3, Led(0), 0, "", 0, 13, 13},
    {KIND_LIGHT, 4, Led(1), 0, "", 0, 13, 13},
    {KIND_LIGHT, 5, Led(2), 0, "", 0, 13, 13},
    {KIND_LIGHT, 6, Led(3), 0, "", 16, 13, 13},
    {KIND_CHECKBOX, 7, kCheck0, 8031, "", 2, 16, 16},
    {KIND_BUTTON, 8, kStat0, 0, "QOR_1234568.LOG", 16, 0, 0},
    {KIND_BUTTON, 12, Push(6), 8288, "", 8, 0, 0},
    {KIND_BUTTON, 11, Push(5), 8285, nullptr, 8, 0, 0},
    {KIND_BUTTON, -1, Push(7), 8230, "", 8, 0, 0},
    {KIND_BUTTON, 10, Push(3), 8240, "", 8, 0, 0},
    {KIND_BUTTON, 9, Push(4), 8281, "100x100", 8, 0, 0},
}};

// ---------------------------------------------------------------------------
// Construction

STATUSLINE::STATUSLINE(APP& owner, int width)
    : CHILDWINDOW(owner.GetClientParent(), CONTROLID{kIdc, 19}, 0, 0, std::max(width, 1), 10, 0, "QorStatusLine"),
      Owner(owner), Fields(WinIdTable)
{
    LOGIT("STATUSLINE::STATUSLINE\n");
    Tips = std::make_unique<TOOLTIPS>(AsParent());
    WINDC dc(nullptr, RECT{}, false);
    Font = dc.LoadFont(HELPER::GetDefaultButtonFont(), 1252);
    if (Font) {
        dc.SelectFont(Font);
        int w = 0, h = 0, descent = 0;
        dc.GetFontSize(&w, &h, &descent);
        if (h > 0)
            FontHeight = h;
        dc.DeselectFont(Font);
    }
    Height = FontHeight + 10;
    // The sample of the flags field: the time as the flags may show it.
    HELPER::CurDateTime(1);
    std::string const timeSample = std::string(" ") + OSYS::CurrentTimeLocalized().Buf() + " ";
    for (FIELD& f : Fields) {
        char const* sample = f.Sample ? f.Sample : timeSample.c_str();
        if (*sample)
            f.Width = MeasureText(sample);
    }
    // The static icon stays hidden in the corner.
    auto icon = std::make_unique<STATICICON>(AsParent(), CONTROLID{kIdc, 4}, 0, 0, 0, 16, 16);
    ICON picture(kStaticIcon);
    icon->SetIcon(picture.GetIconRef());
    icon->Show(false);
    StaticIcon = std::move(icon);
    CreateItems();
    Size(std::max(width, 1), Height);
    StartTimer(TIMER_CURSOR, 100);
    NewLeds(1);
    LOGIT("STATUSLINE::STATUSLINE done\n");
}

STATUSLINE::~STATUSLINE()
{
    LOGIT("STATUSLINE::~STATUSLINE\n");
    for (auto& b : Buttons)
        b.reset();
    for (auto& c : Controls)
        c.reset();
    if (Font) {
        WINDC dc(nullptr, RECT{}, false);
        dc.DestroyFont(Font);
    }
    LOGIT("STATUSLINE::~STATUSLINE done\n");
}

int STATUSLINE::MeasureText(char const* text)
{
    WINDC dc(nullptr, RECT{}, false);
    if (Font)
        dc.SelectFont(Font);
    SIZE const size = dc.GetTextSize(text);
    if (Font)
        dc.DeselectFont(Font);
    return size.cx;
}

void STATUSLINE::CreateItems()
{
    LOGIT("STATUSLINE:CreateItems\n");
    for (size_t i = 0; i < Fields.size(); ++i) {
        FIELD& f = Fields[i];
        switch (f.Kind) {
        case KIND_BUTTON: {
            auto b = std::make_unique<QORBUTTON>(AsParent(), f.Id, 0, 0, f.Width + 8, std::max(Height - 6, 1));
            if (f.Id == kStat0)
                b->SetType(QORBUTTON::TYPE_DISPLAYONLY);
            b->SetText("");
            b->Show(true);
            Buttons[i] = std::move(b);
            break;
        }
        case KIND_LIGHT:
            Controls[i] = std::make_unique<STATICICON>(AsParent(), f.Id, 0, 0, 0, 16, 16);
            break;
        case KIND_CHECKBOX: {
            auto box = std::make_unique<CHECKBOX>(AsParent(), f.Id, 0, 0, 0, 16, 16);
            box->SetTriState(true);
            Controls[i] = std::move(box);
            break;
        }
        case KIND_TEXT:
            Controls[i] = std::make_unique<STATICTEXT>(AsParent(), f.Id, 0, 0, 0, 48, 14);
            break;
        default:
            AssertMsg(0, "FALSE", __FILE__, __LINE__);
            break;
        }
    }
    LOGIT("STATUSLINE:CreateItems done\n");
}

// ---------------------------------------------------------------------------
// Lookups

int STATUSLINE::FieldIndex(CONTROLID id) const
{
    for (size_t i = 0; i < Fields.size(); ++i)
        if (Fields[i].Id == id)
            return static_cast<int>(i);
    return -1;
}

CONTROL* STATUSLINE::ControlOf(int index) const
{
    if (index < 0)
        return nullptr;
    if (Buttons[static_cast<size_t>(index)])
        return Buttons[static_cast<size_t>(index)].get();
    return Controls[static_cast<size_t>(index)].get();
}

std::string STATUSLINE::FieldText(CONTROLID id) const
{
    int const i = FieldIndex(id);
    if (i < 0 || !Buttons[static_cast<size_t>(i)])
        return std::string();
    return Buttons[static_cast<size_t>(i)]->GetText().Buf();
}

bool STATUSLINE::FieldVisible(CONTROLID id) const
{
    int const i = FieldIndex(id);
    CONTROL* c = ControlOf(i);
    return c && c->IsVisible() && !Fields[static_cast<size_t>(i)].Hidden;
}

RECT STATUSLINE::FieldRect(int index) const
{
    CONTROL* c = ControlOf(index);
    return c ? c->GetRect() : RECT{};
}

int STATUSLINE::CaptureSwitchValue() const
{
    CONTROL* c = ControlOf(FieldIndex(kCheck0));
    return c ? c->GetControlValue() : 0;
}

int STATUSLINE::LightIcon(int index) const
{
    return index >= 0 && index < 4 ? LightIcons[static_cast<size_t>(index)] : 0;
}

// ---------------------------------------------------------------------------
// Texts

int STATUSLINE::TextToButton(CONTROLID id, char const* text, std::string& cache, size_t size)
{
    std::string const value = Cut(text ? text : "", size);
    if (value == cache)
        return 0;
    for (size_t i = 0; i < Fields.size(); ++i) {
        if (!(Fields[i].Id == id))
            continue;
        if (Buttons[i]) {
            Buttons[i]->SetText(value.c_str());
        } else if (!Controls[i] || !Controls[i]->SetControlText(value.c_str())) {
            continue;
        }
        Fields[i].Changed = true;
    }
    cache = value;
    return 1;
}

void STATUSLINE::NewStatustext(SESSION& session, std::string& device, std::string& logname, std::string& transfer,
                               std::string& emulation, std::string& time, std::string& size)
{
    char buffer[512] = {};
    device = session.CommLayer.Device() ? session.CommLayer.QueryStatus(buffer) : "";
    char name[260] = {};
    session.Logging.QueryLogname(name, sizeof name);
    logname = name;
    int cols = 0, rows = 0;
    session.Screen.GetWinSize(&cols, &rows);
    snprintf(buffer, sizeof buffer, "%dx%d", cols, rows);
    size = buffer;
    int h = 0, m = 0, s = 0;
    if (auto* appSession = dynamic_cast<APPSESSION*>(&session))
        appSession->OnlineTimer.Query(&h, &m, &s);
    snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", h, m, s);
    time = buffer;
    buffer[0] = 0;
    emulation = session.EmuLayer.QueryStatus(buffer) ? buffer : "";
    // File transfers are not built: no protocol.
    transfer.clear();
}

void STATUSLINE::NewStatusline(SESSION& session, int force)
{
    if (!IsValid())
        return;
    STRING const flagItems = OSYS::GetStringFromResource("IDS_STATUSFLAGS");
    std::string items[10];
    for (int i = 0; i < 10; ++i)
        items[i] = flagItems.Token(i, "|").Buf();
    // Scroll Lock reads as up on this desktop: no door-key mode.
    bool const scrollLock = false;
    HELPER::CurDateTime(1);
    SESSIONPROFILEDATA const& p = session.Prof.data;
    ShowLeds = p.ShowLeds;
    ShowTraffic = p.ShowTraffic;
    if (force) {
        CacheStat = "@";
        for (std::string& c : CachePush)
            c = "@";
        CheckState = -99;
    }
    int const check = p.CaptStatus == 1 ? 2 : p.CaptStatus == 2 ? 1 : 0;
    bool const online = session.CommLayer.Device() && session.CommLayer.QueryOnline() == 1;
    uint32_t word = Leds.load();
    word = (word & ~0x10000u) | (online ? 0x10000u : 0u);
    bool const doorMode = p.ScrlLock == 2 && scrollLock;
    if (!((word & 0x80000000u) && (p.ActiveEmulation == 2 || p.ActiveEmulation == 5))) {
        word &= ~0xFFu;
        // Light 0: a script runs (none can in this build). Light 1: busy or
        // door-key mode.
        uint32_t light1 = 0;
        if (doorMode)
            light1 = 1 + 2 * 2;
        word |= light1 << 4;
    }
    Leds.store(word);
    NewLeds(force);

    std::string device, logname, transfer, emulation, time, size;
    NewStatustext(session, device, logname, transfer, emulation, time, size);

    if (check != CheckState) {
        if (CONTROL* box = ControlOf(FieldIndex(kCheck0))) {
            // Setting the value reports a hit, which is no click of the user.
            SettingCheck = true;
            box->SetControlValue(check);
            SettingCheck = false;
            if (box->GetControlValue() == check)
                CheckState = check;
        }
    }
    std::string flags;
    if (gDoLogit)
        flags += "LOGIT ";
    if (p.DumpMode)
        flags += items[0] + " ";
    if (p.CtrlChars)
        flags += items[1] + " ";
    // A trace records what is typed: while one is on, the line says so.
    if (session.Tracer.IsTracing())
        flags += items[3] + " ";
    while (!flags.empty() && flags.back() == ' ')
        flags.pop_back();
    std::string const door = doorMode ? items[2] : std::string();
    std::string const scripts;
    if (time == "00:00:00")
        time.clear();

    int changed = 0;
    changed |= TextToButton(Push(0), device.c_str(), CachePush[0], CacheSize(Push(0)));
    changed |= TextToButton(Push(1), emulation.c_str(), CachePush[1], CacheSize(Push(1)));
    changed |= TextToButton(Push(2), transfer.c_str(), CachePush[2], CacheSize(Push(2)));
    changed |= TextToButton(kStat0, logname.c_str(), CacheStat, CacheSize(kStat0));
    changed |= TextToButton(Push(3), time.c_str(), CachePush[3], CacheSize(Push(3)));
    if (p.ShowCursorPos == 0) {
        changed |= TextToButton(Push(4), size.c_str(), CachePush[4], CacheSize(Push(4)));
        CursorCache = -1;
    }
    changed |= TextToButton(Push(5), flags.c_str(), CachePush[5], CacheSize(Push(5)));
    changed |= TextToButton(Push(6), door.c_str(), CachePush[6], CacheSize(Push(6)));
    changed |= TextToButton(Push(7), scripts.c_str(), CachePush[7], CacheSize(Push(7)));
    // A field whose command cannot run shows as text only.
    for (size_t i = 0; i < Fields.size(); ++i) {
        if (!Buttons[i] || Fields[i].Id == kStat0)
            continue;
        bool const available = Fields[i].Command && !Owner.CommandUnavailable(Fields[i].Command);
        if (Fields[i].Id == Push(0))
            Buttons[i]->SetType(available ? (ShowLeds ? 1 : 2) : QORBUTTON::TYPE_DISPLAYONLY);
        else
            Buttons[i]->SetType(available ? 0 : QORBUTTON::TYPE_DISPLAYONLY);
    }
    if (changed)
        ArrangeItems(1);
    NewCursorPos(force);
}

int STATUSLINE::NewCursorPos(int force)
{
    CURRENTSESSIONPTR session(Owner);
    if (!session)
        return 0;
    if (force)
        CursorCache = -1;
    SESSIONPROFILEDATA const& p = session->Prof.data;
    if (p.ShowCursorPos == 0 || !IsValid())
        return 0;
    int col = 0, row = 0;
    session->Screen.GetCursorPos(&col, &row);
    if (Owner.Settings().data.StatusCursorOneBased) {
        ++col;
        ++row;
    }
    char separator = '/';
    if (p.ShowCursorPos == 2 && col == 0 && row == 0) {
        session->Screen.GetWinSize(&col, &row);
        separator = 'x';
    }
    int const packed = row << 16 | (col & 0xFFFF);
    if (packed == CursorCache)
        return 0;
    char text[32];
    snprintf(text, sizeof text, "%02d%c%02d", col, separator, row);
    if (TextToButton(Push(4), text, CachePush[4], CacheSize(Push(4))))
        ArrangeItems(1);
    CursorCache = packed;
    CachePush[4] = "@@@";
    return 1;
}

// ---------------------------------------------------------------------------
// Lights

void STATUSLINE::SetLed(int index, signed char on, int mode)
{
    if (index < 0 || index > 3)
        return;
    if (mode == 0 && on && (index == 2 || index == 3)) {
        int ms = ShowLeds ? 30 : 60;
        CURRENTSESSIONPTR session(Owner);
        if (session && session->IsTransferActive())
            ms *= 4;
        StartTimer(static_cast<uint32_t>(index == 2 ? TIMER_LIGHT2 : TIMER_LIGHT3), ms);
    }
    uint32_t word = Leds.load();
    if (mode != 0 || !(word & 0x80000000u)) {
        uint32_t const value = static_cast<uint32_t>((on ? 1 : 0) + 2 * mode) & 0xF;
        word = (word & ~(0xFu << (4 * index))) | value << (4 * index);
    }
    if ((index == 2 || index == 3) && ShowTraffic) {
        uint32_t const bit = index == 2 ? 0x20000u : 0x40000u;
        word = on ? (word | bit) : (word & ~bit);
    }
    Leds.store(word);
    NewLeds(0);
}

void STATUSLINE::SetLedMode(int mode)
{
    uint32_t word = Leds.load();
    Leds.store(mode ? (word | 0x80000000u) : (word & ~0x80000000u));
    NewLeds(1);
}

void STATUSLINE::NewLeds(int force)
{
    uint32_t const word = Leds.load();
    if (!TARVOAPP::IsMainThread()) {
        if (force || word != LedsDrawn)
            PostUserMessage(MSG_LEDS, static_cast<MSGWORD>(force), 0);
        return;
    }
    uint32_t drawn = LedsDrawn;
    if (force) {
        drawn = ~word;
        CursorCache = -1;
    }
    if (ShowLeds != ShowLedsApplied) {
        for (int i = 0; i < 4; ++i)
            if (CONTROL* led = ControlOf(FieldIndex(Led(i))))
                led->Show(ShowLeds != 0 && !Fields[static_cast<size_t>(FieldIndex(Led(i)))].Hidden);
    }
    bool const plugin = (word & 0x80000000u) != 0;
    for (int i = 0; i < 4; ++i) {
        uint32_t const group = (word >> (4 * i)) & 0xF;
        if (group == ((drawn >> (4 * i)) & 0xF))
            continue;
        auto* led = dynamic_cast<STATICICON*>(ControlOf(FieldIndex(Led(i))));
        if (!VCHECK(led && led->IsValid(), "led.IsValid()", nullptr))
            continue;
        uint32_t const value = plugin ? (group & 1) + 2 : group;
        int const id = kLightIcon + static_cast<int>(value & 7);
        ICON icon(static_cast<uint32_t>(id));
        led->SetIcon(icon.GetIconRef());
        LightIcons[static_cast<size_t>(i)] = id;
    }
    int picture = 0;
    if (ShowLeds) {
        picture = (word & 0x10000u) ? kDeviceOnline : kDeviceOffline;
    } else {
        int v = 0;
        if (word & 0x10000u)
            v = ShowTraffic ? 1 + static_cast<int>((word >> 17) & 3) : 1;
        picture = kDevicePictures + v;
    }
    if (picture != DevicePictureShown || ShowLeds != DevicePictureLeds) {
        if (QORBUTTON* device = Buttons[0].get()) {
            device->SetImage(picture);
            device->SetTextAlign(0);
            device->Invalidate(nullptr);
        }
        DevicePictureShown = picture;
        DevicePictureLeds = ShowLeds;
    }
    LedsDrawn = word;
    ShowLedsApplied = ShowLeds;
}

// ---------------------------------------------------------------------------
// Layout

int STATUSLINE::ShowStatusline(signed char show, int* delta)
{
    int const want = show ? 1 : 0;
    if (Shown == want)
        return 0;
    CHILDWINDOW::Show(want != 0);
    if (delta)
        *delta = want ? Height : -Height;
    Shown = want;
    return 1;
}

void STATUSLINE::Move(int x, int y, int cx, int cy)
{
    CHILDWINDOW::Move(x, y, cx, cy);
    ArrangeItems(0);
}

void STATUSLINE::BringToTop()
{
    MoveInZorder(1, nullptr);
}

bool STATUSLINE::OnSized()
{
    ArrangeItems(0);
    return true;
}

void STATUSLINE::ArrangeItems(signed char measure)
{
    LOGIT("STATUSLINE::ArrangeItems\n");
    SIZE const bar = CONTROL::GetSize();
    if (bar.cy <= 0)
        return;
    bool doit = !measure;
    if (measure) {
        for (size_t i = 0; i < Fields.size(); ++i) {
            FIELD& f = Fields[i];
            if (!f.Changed)
                continue;
            std::string text;
            if (Buttons[i]) {
                text = Buttons[i]->GetText().Buf();
                if (f.Sample && strlen(f.Sample) > text.size())
                    text = f.Sample;
                if (f.Id == Push(0))
                    text = "MM" + text;
                text += "   ";
            } else if (Controls[i]) {
                STRING control;
                Controls[i]->GetControlText(&control);
                text = control.Buf();
            }
            int const width = MeasureText(text.c_str());
            if ((width + 3) / 4 != (f.Width + 3) / 4)
                doit = true;
            f.Width = width;
            f.Changed = false;
        }
    }
    LOGIT("STATUSLINE::ArrangeItems doit= %d\n", doit ? 1 : 0);
    NewLeds(1);
    if (!doit)
        return;
    LOGIT("STATUSLINE::ArrangeItems move items\n");
    int const H = bar.cy;
    int const limit = bar.cx - 18;
    struct PLACE {
        int X, Y, W, H;
        bool Visible;
    };
    std::array<PLACE, NUMFIELDS> place{};
    int x = 8;
    int statIndex = FieldIndex(kStat0);
    for (size_t i = 0; i < Fields.size(); ++i) {
        FIELD const& f = Fields[i];
        CONTROL* c = ControlOf(static_cast<int>(i));
        bool something = false;
        if (c && c->IsValid()) {
            if (Buttons[i])
                something = !Buttons[i]->GetText().IsEmpty();
            else
                something = f.Kind != KIND_LIGHT || ShowLeds;
        }
        if (!something) {
            place[i] = PLACE{0, 0, 0, 0, false};
            continue;
        }
        int w = 0, h = 0, y = 0;
        if (Buttons[i] && f.Command && f.Command != 8031) {
            w = f.Width + 8;
            h = H - 6;
            y = 3;
        } else if (f.Kind == KIND_LIGHT) {
            w = 16;
            h = 16;
            y = (H + 1 - 13) / 2 + 1;
        } else {
            w = Buttons[i] ? f.Width + 8 : f.Width;
            h = Buttons[i] ? H - 6 : c->GetSize().cy;
            y = (H + 1 - h) / 2 + 1;
            if (f.Id == kStat0)
                y -= 1;
            if (f.Id == kCheck0)
                y -= 2;
        }
        place[i] = PLACE{x, y, w, h, x + w < limit};
        x += w + f.Gap;
    }
    // The check box goes with the file name, lights 0 to 2 with light 3.
    int const checkIndex = FieldIndex(kCheck0);
    if (checkIndex >= 0 && statIndex >= 0)
        place[static_cast<size_t>(checkIndex)].Visible =
            place[static_cast<size_t>(checkIndex)].Visible && place[static_cast<size_t>(statIndex)].Visible;
    int const led3 = FieldIndex(Led(3));
    for (int i = 0; i < 3; ++i) {
        int const li = FieldIndex(Led(i));
        if (li >= 0 && led3 >= 0)
            place[static_cast<size_t>(li)].Visible = place[static_cast<size_t>(led3)].Visible && ShowLeds;
    }
    int const spare = bar.cx - x - 16;
    if (spare > 0) {
        for (size_t i = static_cast<size_t>(statIndex) + 1; i < Fields.size(); ++i)
            if (place[i].Visible)
                place[i].X += spare;
    }
    bool const noLogging = Owner.Admin().DisableLogging != 0;
    for (size_t i = 0; i < Fields.size(); ++i) {
        CONTROL* c = ControlOf(static_cast<int>(i));
        if (!c)
            continue;
        bool visible = place[i].Visible;
        if (noLogging && (Fields[i].Id == kCheck0 || Fields[i].Id == kStat0))
            visible = false;
        if (visible) {
            c->Move(place[i].X, place[i].Y, place[i].W, place[i].H);
            if (Buttons[i]) {
                COLORREF const back = GetOverlayColor();
                Buttons[i]->SetBackground(back, back);
            }
        }
        c->Show(visible);
        Fields[i].Hidden = !visible;
    }
    MakeTooltips();
    if (StaticIcon) {
        StaticIcon->Move(bar.cx - 17, bar.cy - 17, 16, 16);
        StaticIcon->Show(false);
    }
    LOGIT("STATUSLINE::ArrangeItems done\n");
}

void STATUSLINE::MakeTooltips()
{
    if (!Tips)
        return;
    STRING const tips = OSYS::GetStringFromResource("IDS_LED_TOOLTIPS");
    for (size_t i = 0; i < Fields.size(); ++i) {
        CONTROL* c = ControlOf(static_cast<int>(i));
        if (!c || !c->IsValid())
            continue;
        Tips->DeleteTooltip(*c);
        if (!Fields[i].Hidden && Fields[i].Tooltip != -1)
            Tips->SetTooltip(*c, tips.Token(Fields[i].Tooltip, "|").Buf());
    }
}

// ---------------------------------------------------------------------------
// Colours and painting

COLORREF STATUSLINE::GetOverlayColor()
{
    COLORREF const base = OSYS::GetSysColor(15);
    if (Overlay == 0xFFFFFFFF)
        return base;
    double const percent = (255.0 - static_cast<double>(Overlay >> 24)) / 255.0 * 100.0;
    return OSYS::CalcColorBlend(base, Overlay & 0xFFFFFF, percent);
}

void STATUSLINE::SetColorOverlay(COLORREF colour, int percent)
{
    uint32_t const alpha = static_cast<uint32_t>(static_cast<int>((100 - percent) * 255 / 100.0)) & 0xFF;
    uint32_t const value = percent <= 0 ? 0xFFFFFFFF : (alpha << 24 | (colour & 0xFFFFFF));
    if (value == Overlay)
        return;
    Overlay = value;
    COLORREF const back = GetOverlayColor();
    for (auto& b : Buttons) {
        if (b) {
            b->SetBackground(back, back);
            b->Invalidate(nullptr);
        }
    }
    CHILDWINDOW::Invalidate(nullptr);
}

int STATUSLINE::OnPaint()
{
    PAINTSTRUCT ps;
    if (!StartPaint(&ps))
        return 0;
    RECT const r = CONTROL::GetClientRect();
    WINDC dc(ps.hdc, r, false);
    dc.FillRect(&r, GetOverlayColor());
    dc.Line(r.left, r.top, r.right, r.top, OSYS::GetSysColor(16));
    dc.Line(r.left, r.top + 1, r.right, r.top + 1, 0x80FFFFFF);
    EndPaint(&ps);
    return 1;
}

// ---------------------------------------------------------------------------
// Input and timers

bool STATUSLINE::OnTimer(int id)
{
    switch (id) {
    case TIMER_CURSOR:
        NewCursorPos(0);
        return true;
    case TIMER_LIGHT2:
    case TIMER_LIGHT3:
        SetLed(id, 0, 0);
        StopTimer(static_cast<uint32_t>(id));
        return true;
    default:
        return false;
    }
}

bool STATUSLINE::OnPushbutton(CONTROLID id)
{
    int const i = FieldIndex(id);
    if (i < 0 || !Fields[static_cast<size_t>(i)].Command)
        return false;
    if (SettingCheck && id == kCheck0)
        return true;
    int const command = Fields[static_cast<size_t>(i)].Command;
    if (!Owner.CommandUnavailable(command))
        Owner.PostEvent(command, 0, nullptr);
    return true;
}

bool STATUSLINE::OnControlEvent(int code, CONTROL const& control, void*)
{
    if (code != 257)
        return false;
    return OnPushbutton(control.GetId());
}

bool STATUSLINE::OnMouseEvent(int message, int, int, int)
{
    if (message != 516)
        return false;
    MENU menu("IDM_POPUP_OPT");
    if (!menu.GetMenuRef())
        return true;
    menu.DeleteMenuItem(8222, false);
    int const last = menu.GetNumMenuItems() - 1;
    if (last >= 0 && menu.IsMenuItemSeparator(last))
        menu.DeleteMenuItemSeparator(last, true);
    for (int i = 0; i < menu.GetNumMenuItems(); ++i) {
        int const id = menu.GetMenuIdFromPos(i);
        if (id > 0 && !Owner.IsMenuEntryEnabled(id))
            menu.EnableMenuItem(static_cast<uint32_t>(id), 0);
    }
    int const choice = menu.Popup(Owner.GetWindow(), nullptr, 1);
    if (choice > 0)
        Owner.CondEvent(choice);
    return true;
}

bool STATUSLINE::OnCommand(uint32_t id)
{
    Owner.CondEvent(static_cast<int>(id));
    return true;
}

bool STATUSLINE::OnFocusAcquired()
{
    LOGIT("STATUSLINE::OnFocusAcquired()\n");
    Owner.BringToForeground();
    return false;
}

bool STATUSLINE::OnUserMessage(int msg, MSGWORD p1, MSGWORD)
{
    if (msg != MSG_LEDS)
        return false;
    NewLeds(static_cast<int>(p1));
    return true;
}
