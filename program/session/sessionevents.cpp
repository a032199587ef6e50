// Session events: raising them from any thread (PostEvent, SendEvent,
// CondEvent) through user message 1047, the dispatcher ProcessEvent with
// its table, the routes of the events that later parts take care of, and
// the two operations that apply the profile to the members (TrackChanges,
// RemakeAll).
#include "program/hostdir/phonebook.h"
#include "program/session/session.h"

#include "velmot/core/workdir.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/tarvo.h"

#include <cstdlib>
#include <sys/stat.h>
#include <cstring>

namespace {

// Events whose work belongs to parts of the program built later; each
// range answers through a replaceable route (SetEventRoute). The comment
// names the part that takes it over.
struct PENDINGRANGE {
    int first, last;
};
constexpr PENDINGRANGE kPending[] = {
    {8110, 8117},                                           // connect clock
    {8125, 8150}, {8550, 8567},                             // scripts, recent scripts
    {8200, 8200},                                           // dialling queue
    {8210, 8212}, {8487, 8489},                             // scroll-back browser and window
    {8221, 8223},                                           // translation table and key map editors
    {8230, 8288},                                           // profile dialog
    {8293, 8293},                                           // chat line
    {8350, 8352}, {8355, 8375},                             // clipboard
    // Dialling requests; by menu id: every id the host directory hands out.
    {8381, 8381}, {8865, 8865}, {PHONE_MENUID_QUICK, PHONE_MENUID_LAST},
    {8470, 8471},                                           // learning
    {8475, 8475}, {8817, 8817},                             // automatic login, IEMSI
    {8478, 8479},                                           // snippets, split chat
    {8516, 8527},                                           // transfers
};

// The profile byte each view toggle sets.
signed char* ViewToggleField(SESSIONPROFILEDATA& p, int event)
{
    switch (event) {
    case 8290:
        return &p.ShowMenu;
    case 8291:
        return &p.ShowToolbar;
    case 8292:
        return &p.ShowUserbar;
    case 8294:
        return &p.ShowStatusline;
    case 8295:
        return &p.ShowScrollbar;
    default:
        return nullptr;
    }
}

// The first message word: the argument in the high 16 bits, the event in
// the low 16.
MSGWORD PackEvent(int event, short arg)
{
    return static_cast<MSGWORD>((static_cast<uint32_t>(static_cast<uint16_t>(arg)) << 16) |
                                (static_cast<uint32_t>(event) & 0xFFFF));
}

} // namespace

// ---------------------------------------------------------------------------
// Raising events

SESSION::PAYLOAD* SESSION::NewPayload()
{
    auto* p = new PAYLOAD;
    std::lock_guard<std::mutex> guard(PayloadLock);
    Payloads.insert(p);
    return p;
}

std::unique_ptr<SESSION::PAYLOAD> SESSION::TakePayload(MSGWORD word)
{
    auto* p = reinterpret_cast<PAYLOAD*>(word);
    if (!p)
        return nullptr;
    std::lock_guard<std::mutex> guard(PayloadLock);
    if (Payloads.erase(p) == 0)
        return nullptr;
    return std::unique_ptr<PAYLOAD>(p);
}

SESSION::PAYLOAD* SESSION::PayloadOf(int event, short arg, char const* text)
{
    // The text goes with the event as a copy the session owns: the poster
    // may let go of it at once. Two events hand over an object instead:
    // 8802 a wide string of keys, 8801 with 62190 a text to free; both are
    // taken over here.
    PAYLOAD* p = nullptr;
    if (text == NOQUESTION) {
        p = NewPayload();
        p->NoQuestion = true;
    } else if (event == 8802 && text) {
        auto* keys = reinterpret_cast<WSTRING const*>(text);
        p = NewPayload();
        p->Keys.assign(keys->Buf(), static_cast<size_t>(keys->Length()));
        delete keys;
    } else if (text) {
        p = NewPayload();
        p->Text = text;
        p->HasText = true;
        if (event == 8801 && static_cast<uint16_t>(arg) == INFOOUT_OWNED)
            free(const_cast<char*>(text));
    }
    return p;
}

int SESSION::PostEvent(int event, short arg, char const* text)
{
    if (!(event > 0 && event < 32767)) {
        AssertMsg(0, "(ULONG)event>0 && (ULONG)event<32767", __FILE__, __LINE__);
        return 0;
    }
    PostUserMessage(MSG_EVENT, PackEvent(event, arg), reinterpret_cast<MSGWORD>(PayloadOf(event, arg, text)));
    return 1;
}

int SESSION::PostKeys(wchar_t const* keys, int count, bool onlyOnline)
{
    if (!keys)
        return 0;
    if (count < 0)
        count = static_cast<int>(wcslen(keys));
    PAYLOAD* p = NewPayload();
    p->Keys.assign(keys, static_cast<size_t>(count));
    PostUserMessage(MSG_EVENT, PackEvent(8802, onlyOnline ? 1 : 0), reinterpret_cast<MSGWORD>(p));
    return 1;
}

int SESSION::SendEvent(int event, short arg, char const* text)
{
    if (!(event > 0 && event < 32767)) {
        AssertMsg(0, "(ULONG)event>0 && (ULONG)event<32767", __FILE__, __LINE__);
        return 0;
    }
    // The answer is that of user message 1047: 1 once handled.
    if (TARVOAPP::IsMainThread()) {
        ProcessEvent(event, arg, text);
        return 1;
    }
    // A session that goes away before the message is handled leaves the
    // payload in its set; the session's end frees it.
    return static_cast<int>(
        SendUserMessage(MSG_EVENT, PackEvent(event, arg), reinterpret_cast<MSGWORD>(PayloadOf(event, arg, text))));
}

int SESSION::CondEvent(int event)
{
    if (!Host.IsMenuEntryEnabled(event))
        return 0;
    return PostEvent(event, 0, nullptr);
}

int SESSION::HandleEventMessage(MSGWORD p1, MSGWORD p2)
{
    auto const word = static_cast<uint32_t>(p1);
    int const event = static_cast<int>(word & 0xFFFF);
    int const arg = static_cast<short>(static_cast<uint16_t>(word >> 16));
    std::unique_ptr<PAYLOAD> payload = TakePayload(p2);
    if (p2 && !payload)
        LOGIT("SESSION::OnUserMessage 1047: event %d with a payload this session does not hold\n", event);
    if (event == 8802) {
        // The keys reach the key road as the wide-string object the event
        // hands over.
        auto* keys = new WSTRING(payload ? payload->Keys.c_str() : L"",
                                 payload ? static_cast<int32_t>(payload->Keys.size()) : 0);
        return ProcessEvent(event, arg, reinterpret_cast<char const*>(keys));
    }
    if (event == 8801 && static_cast<uint16_t>(arg) == INFOOUT_OWNED)
        return ProcessEvent(event, arg, payload && payload->HasText ? strdup(payload->Text.c_str()) : nullptr);
    char const* text = nullptr;
    if (payload && payload->NoQuestion)
        text = NOQUESTION;
    else if (payload && payload->HasText)
        text = payload->Text.c_str();
    return ProcessEvent(event, arg, text);
}

// ---------------------------------------------------------------------------
// Routes

void SESSION::SetEventRoute(int first, int last, EVENTHANDLER handler)
{
    Routes.insert(Routes.begin(), ROUTE{first, last, std::move(handler)});
}

bool SESSION::HasEventRoute(int event) const
{
    for (ROUTE const& r : Routes)
        if (event >= r.First && event <= r.Last && r.Handler)
            return true;
    return false;
}

int SESSION::Placeholder(int event, int arg, char const* text)
{
    LOGIT("SESSION::ProcessEvent %d (arg %d): not available in this build\n", event, arg);
    (void)text;
    return 0;
}

// ---------------------------------------------------------------------------
// The dispatcher

int SESSION::ProcessEvent(int event, int arg, char const* text)
{
    TARVOAPP::CheckCallerThread("SESSION::ProcessEvent");
    // An event may ask a question, whose loop may see the session closed:
    // the object lives until the event is done.
    TEventHandler::HOLD hold(*this);
    for (ROUTE const& r : Routes) {
        if (event >= r.First && event <= r.Last && r.Handler)
            return r.Handler(*this, event, arg, text);
    }
    for (PENDINGRANGE const& r : kPending) {
        if (event >= r.first && event <= r.last)
            return Placeholder(event, arg, text);
    }
    SESSIONPROFILEDATA& p = Prof.data;
    switch (event) {
    case 8030:
    case 8045:
    case 8060:
    case 8078:
    case 8390:
    case 8391:
    case 8392:
    case 8393:
    case 8394:
    case 8395:
    case 8396:
    case 8455:
    case 8456:
    case 8457:
        return ProcessLogEvent(event, arg, text);
    case 8070:
    case 8515: {
        char const* folder = event == 8070 ? Settings.data.CapturePath : Settings.data.DownloadPath;
        FILENAME path(WORKDIR::GetCurrent().Buf(), folder);
        Host.OpenDocument(path.Buf());
        return 1;
    }
    case 8080: {
        FILENAME name = Prof.GetCurrentFilename();
        FILENAME folder(WORKDIR::GetCurrent().Buf(), OptsPath().Buf(), "");
        struct stat st {};
        if (strcmp(name.Buf(), folder.Buf()) == 0 || (stat(name.Buf(), &st) == 0 && S_ISDIR(st.st_mode)))
            return 1;
        if (Prof.Save(name.Buf()) == 1)
            UpdateWindowTitle(nullptr);
        else
            Notify(OSYS::GetStringFromResource("IDS_CANT_SAVE_OPTS").Buf(), 0);
        return 1;
    }
    case 8081:
        if (text && Prof.Save(text) == 1)
            UpdateWindowTitle(nullptr);
        else
            Notify(OSYS::GetStringFromResource("IDS_CANT_SAVE_OPTS").Buf(), 0);
        return 1;
    case 8085: {
        Prof.LoadEvent().Reset();
        bool const modemBefore = CommLayer.Device() && CommLayer.QueryIDFromCurrent() == 1;
        if (text && Prof.Load(text) == 1) {
            RemakeAll();
            if (modemBefore && CommLayer.Device() && CommLayer.QueryIDFromCurrent() == 1) {
                char answer[128] = {};
                CommLayer.HandleDeviceCommand("LOADINIT", answer, sizeof answer, nullptr);
            }
            UpdateWindowTitle(nullptr);
        }
        Prof.LoadEvent().Post();
        Logging.SetLogname(Prof.data.CaptDefaultName, 0);
        return 1;
    }
    case 8090:
        if (Host.YesNoRequest("QOR ", OSYS::GetStringFromResource("IDS_ARE_YOU_SURE_TO_RESETOPTS").Buf()) &&
            !Deleted.load()) {
            SESSIONPROFILE::Init(&Prof.data);
            Prof.SetDefaultFilename("Standard.qor");
            RemakeAll();
        }
        return 1;
    case 8224:
        Keymap.Load(text);
        return 1;
    case 8290:
    case 8291:
    case 8292:
    case 8294:
    case 8295:
        return ProcessViewToggle(event, arg);
    case 8353:
        Scrollback.SaveScrollbackDataToDestination(2);
        return 1;
    case 8383:
        return DialByReconnect();
    case 8382:
        if (Dialling)
            return Placeholder(event, arg, text);
        if (Settings.data.SafAskHangup && text != NOQUESTION &&
            !Host.AreYouSureRequest(OSYS::GetStringFromResource("IDS_SAFETY_HANGUP").Buf()))
            return 0;
        if (Deleted.load())
            return 0;
        Disconnect();
        return 1;
    case 8410:
        return ProcessResetTerminal();
    case 8415:
        CommLayer.Reset(1);
        if (Host.IsMenuChecked(8450)) {
            AcceptAgain = true;
            StartTimer(TIMER_ACCEPTCALLS, 1500);
        }
        return 1;
    case 8450:
        return ProcessAcceptCalls(arg);
    case 8451:
        return ProcessAcceptCalls(1);
    case 8452:
        return ProcessAcceptCalls(0);
    case 8482:
        SaveScreen("$PRINTER");
        return 1;
    case 8484:
        SaveScreen("$FILE");
        return 1;
    case 8486:
        Scrollback.SaveScrollbackDataToDestination(1);
        return 1;
    case 8490:
        Scrollback.ClearAll();
        UpdateScrollbarNow();
        UpdateToolbarAndMenu(false);
        return 1;
    case 8499:
        CommLayer.SendBreak();
        return 1;
    case 8500:
    case 8501:
    case 8502:
    case 8503:
    case 8504:
    case 8505:
    case 8506:
    case 8507:
        CommLayer.HandleMenuEvent(event);
        return 1;
    case 8800:
        if (text)
            EmuLayer.conputs(text, arg ? arg : -1);
        return 1;
    case 8801:
        if (text)
            EmuLayer.InfoOut(text);
        if (static_cast<uint16_t>(arg) == INFOOUT_OWNED)
            free(const_cast<char*>(text));
        return 1;
    case 8802: {
        // The keys come as a wide-string object that the poster made; the
        // session destroys it.
        std::unique_ptr<WSTRING> keys(const_cast<WSTRING*>(reinterpret_cast<WSTRING const*>(text)));
        if (!keys)
            return 1;
        if (arg && CommLayer.QueryOnline() == 0)
            return 1;
        FeedKeys(keys->Buf(), keys->Length(), 0);
        return 1;
    }
    case 8810:
        return ProcessEvent8810();
    case 8815:
        return ProcessStandby(arg);
    case 8820:
        EmuLayer.PrinterControl(EMULATION::PRINTER_TICK, 0);
        return 1;
    case 8825:
        return ProcessKeepAlive();
    case 8826:
        Capture.FlushSignal();
        if (IsTransferActive())
            TransferTimerTick();
        if (!IsBackgroundTab() && ScrollbarPending > 0 && NowMs() - ScrollbarTime > 100)
            UpdateScrollbarNow();
        return 1;
    case 8860:
        return DoString(text);
    case 8861:
        if (arg < 0 || arg >= 24)
            return 0;
        return DoStringWide(p.FKey[arg]);
    case 8862:
        if (arg < 0 || arg >= 50)
            return 0;
        return DoStringWide(p.UserValue[arg]);
    case 8863:
        if (arg < 0 || arg >= 32)
            return 0;
        return DoStringWide(p.AutoReplyOut[arg]);
    case 8895:
        CommLayer.ReportStatus();
        return 1;
    default:
        return 0;
    }
}

int SESSION::ProcessViewToggle(int event, int arg)
{
    signed char* field = ViewToggleField(Prof.data, event);
    if (!field)
        return 0;
    *field = static_cast<signed char>(arg);
    // The byte alone goes into the file: the file is read into a second
    // profile, changed and written back, so no other unsaved change of this
    // session reaches it. A file that cannot be read is left alone: saving
    // the defaults over it would lose the user's profile.
    FILENAME name = Prof.GetCurrentFilename();
    auto other = std::make_unique<SESSIONPROFILE>(*this);
    if (other->Load(name.Buf()) == 1) {
        *ViewToggleField(other->data, event) = static_cast<signed char>(arg);
        other->Save(name.Buf());
    }
    TrackChanges(false);
    return 0;
}

int SESSION::ProcessResetTerminal()
{
    EmuLayer.ClearScreen();
    LOGIT("APP::ProcessEvent before core loop\n");
    FlushRedraws();
    LOGIT("APP::ProcessEvent before after FlushRedraw\n");
    EmuLayer.SetEmulation(Prof.data.ActiveEmulation, 1);
    // No debug level switches a trace on: it records what the user types.
    TraceTracker(Prof.data.AscTrace, Prof.data.BinTrace, Prof.data.DumpMode, 1);
    if (Host.HasStatusLine()) {
        Host.SetLedMode(0);
        for (int led = 0; led < 4; ++led)
            Host.SetLed(led, false, 0);
    }
    UpdateStatusbar(true);
    return 1;
}

int SESSION::ProcessAcceptCalls(int on)
{
    int state = on ? 1 : 0;
    if (!CommLayer.AcceptCalls(static_cast<signed char>(state)))
        state = !state;
    Host.MenuCheck(8450, state != 0);
    EnableMenuEntry(8451, state ? 0 : 1, false);
    EnableMenuEntry(8452, state ? 1 : 0, false);
    return 1;
}

int SESSION::ProcessStandby(int arg)
{
    int online = CommLayer.Device() ? CommLayer.QueryOnline() : 0;
    if (online != 0 || IsTransferActive() || !Prof.data.Standby)
        return 1;
    if (arg) {
        StandbyAccepted = Host.IsMenuChecked(8450);
        if (StandbyAccepted)
            ProcessAcceptCalls(0);
        CommLayer.CloseDevice();
        InStandby = true;
        UpdateWindowTitle(L"Standby");
    } else {
        int dev = Prof.data.ActiveDevice;
        InStandby = false;
        if (dev >= 0 && dev < 24)
            CommLayer.OpenDevice(dev, Prof.data.DeviceOpts[dev]);
        UpdateWindowTitle(nullptr);
        if (StandbyAccepted) {
            // The device takes calls again once it has settled.
            AcceptAgain = true;
            StartTimer(TIMER_ACCEPTCALLS, 1500);
        }
    }
    return 1;
}

int SESSION::ProcessKeepAlive()
{
    // A notification that got lost cannot stall the data road.
    ComDataPending.store(false);
    FlushLogFiles();
    int online = CommLayer.Device() ? CommLayer.QueryOnline() : 0;
    ProcessCarrier(online, 0);
    SESSIONPROFILEDATA& p = Prof.data;
    if (p.TimeoutTime == 0 || (online != 1 && online != -1) || IsTransferActive())
        return 1;
    long long now = static_cast<long long>(OSYS::GetLTime());
    if (now - CommLayer.ActivityTime() < p.TimeoutTime)
        return 1;
    CommLayer.MarkActivity();
    if (p.TimeoutControl) {
        PostEvent(8382, 0, NOQUESTION);
    } else if (strcmp(p.TimeoutString, "^!") == 0) {
        CommLayer.SendBreak();
    } else if (p.TimeoutString[0]) {
        char text[257];
        snprintf(text, sizeof text, "%s", p.TimeoutString);
        int n = MakeCtrl(text, sizeof text - 1);
        n = std::clamp(n, 0, 256);
        for (int i = 0; i < n; ++i) {
            wchar_t c = static_cast<unsigned char>(text[i]);
            ProcessKeys(&c, 1, false);
        }
    } else {
        wchar_t space = L' ';
        ProcessKeys(&space, 1, false);
    }
    KeepAliveSent = true;
    return 1;
}

// ---------------------------------------------------------------------------
// Applying the profile

void SESSION::TrackChanges(bool repaint)
{
    if (Deleted.load())
        return;
    LOGIT("SESSION::TrackChanges In\n");
    SESSIONPROFILEDATA& p = Prof.data;
    bool const first = !Tracked.Filled;
    Tracked.Filled = true;
    bool due = repaint;

    // The font.
    bool const forceFont = p.BoldFont != Tracked.BoldFont || p.AntiAliasing != Tracked.AntiAliasing;
    Tracked.BoldFont = p.BoldFont;
    Tracked.AntiAliasing = p.AntiAliasing;
    if (SetFont(p.WinFont, 64, p.BoldFont != 0, forceFont)) {
        bool bold = p.BoldFont != 0;
        QueryFont(p.WinFont, 64, &bold);
        p.BoldFont = bold ? 1 : 0;
        Tracked.BoldFont = p.BoldFont;
        due = true;
    }

    // What the screen reads of the profile and the settings.
    {
        VIO::GUARD lock(Screen);
        VIOPROFILE& v = Screen.Profile;
        v.ColorFore = p.ColorFore;
        v.ColorBack = p.ColorBack;
        v.ColorBlink = p.ColorBlink;
        v.ColorItalic = p.ColorItalic;
        v.ColorBold = p.ColorBold;
        v.ColorDim = p.ColorDim;
        v.ColorCursor = p.ColorCursor;
        v.ColorMark = p.ColorMark;
        v.Transparency = p.Transparency;
        v.CodePage = p.CodePage == 1000 ? UNICODE_CPUTF8 : p.CodePage;
        v.JumpScroll = p.JumpScroll;
        v.Antialias = p.AntiAliasing;
        Screen.Settings.CursorBlinkDelay = Settings.data.CursorBlinkDelay;
        Screen.Settings.ScrollbackIncludeAltScreens = Settings.data.ScrollbackIncludeAltScreens != 0;
    }

    // The emulation, its cursor, options and colours.
    EmuLayer.SetEmulation(p.ActiveEmulation, 0);
    EmuLayer.SetCursorType(static_cast<signed char>(p.BigCursor), p.CursorBlink, 0);
    if (p.ActiveEmulation >= 0 && p.ActiveEmulation < 32)
        EmuLayer.SetParm(p.EmulationOpts[p.ActiveEmulation]);
    EmuLayer.TrackColors(p.ColorBack, p.ColorFore, 0);

    // The size, and the code page.
    int dx = 0, dy = 0;
    if (p.WinWidth == Tracked.Width && p.WinHeight == Tracked.Height) {
        if (p.CodePage != Tracked.CodePage)
            Screen.SetCodepage(p.CodePage == 1000 ? UNICODE_CPUTF8 : p.CodePage);
    } else {
        int cols = p.WinWidth, rows = p.WinHeight;
        int const oldCols = Tracked.Width, oldRows = Tracked.Height;
        if (EmuLayer.TrackSize(&cols, &rows, 0) && !first && p.Dynamic != 2) {
            int cw = 0, ch = 0;
            Screen.GetFontSize(&cw, &ch);
            SIZE client = CONTROL::GetSize();
            if (cw > 0 && ch > 0) {
                dx = cw * cols - client.cx;
                dy = ch * rows - client.cy;
            }
            due = true;
        }
        (void)oldCols;
        (void)oldRows;
        Tracked.Width = cols;
        Tracked.Height = rows;
        if (p.CodePage != Tracked.CodePage)
            Screen.SetCodepage(p.CodePage == 1000 ? UNICODE_CPUTF8 : p.CodePage);
    }
    Tracked.CodePage = p.CodePage;
    if (p.Dynamic != Tracked.Dynamic) {
        Tracked.Dynamic = p.Dynamic;
        due = true;
    }

    CommLayer.TrackChanges();

    // The session log's name and state.
    if (Tracked.LogName != p.CaptDefaultName || Tracked.CapturePath != Settings.data.CapturePath) {
        Tracked.LogName = p.CaptDefaultName;
        Tracked.CapturePath = Settings.data.CapturePath;
        Logging.SetLogname(p.CaptDefaultName, 1);
    }
    if (p.CaptStatus != Tracked.CaptStatus) {
        Tracked.CaptStatus = p.CaptStatus;
        Logging.SetFileLogging(p.CaptStatus);
    }

    Scrollback.MakeScrollback(Settings.data.ScrollbackLines, Host.ScrollBar());
    Capture.SetBufSize(Settings.data.BrBufSize);
    TraceTracker(p.AscTrace, p.BinTrace, p.DumpMode, 0);

    if (Host.IsCurrentSession(*this)) {
        if (due)
            InvalidateWindow();
        Host.TrackChanges(due, dx, dy);
    }
    LOGIT("SESSION::TrackChanges done\n");
}

void SESSION::RemakeAll()
{
    TrackChanges(false);
    if (!InStandby && !IsTransferActive()) {
        SESSIONPROFILEDATA& p = Prof.data;
        if (p.ActiveDevice == -1 || p.ActiveDevice == -2)
            p.ActiveDevice = 3;
        int const dev = p.ActiveDevice;
        if (dev >= 0 && dev < 24) {
            if (CommLayer.Device() && CommLayer.QueryIDFromCurrent() == dev) {
                char current[128] = {};
                CommLayer.QueryParm(current, sizeof current);
                if (strcmp(current, p.DeviceOpts[dev]) != 0)
                    CommLayer.SetParm(p.DeviceOpts[dev]);
            } else {
                CommLayer.CloseDevice();
                CommLayer.OpenDevice(dev, p.DeviceOpts[dev]);
            }
        }
    }
    Logging.SetFileLogging(Prof.data.CaptStatus);
    UpdateStatusbar(false);
}
