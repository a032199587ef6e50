// Signals and status: tones, alarms and sound files on short-lived threads,
// the terminal bell with its limiter, the status line, menu, title and tab
// through the main window, the transient notification, and saving the
// visible screen to the printer or a file.
#include "program/session/session.h"

#include "program/settings/workfolder.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osysfile.h"
#include "velmot/core/tarvo.h"
#include "velmot/core/unicode.h"

#include <cstdio>
#include <memory>
#include <strings.h>
#include <thread>
#include <unistd.h>

namespace {

// A series of tones, owned by the thread that plays it. It names no
// session: a tone that outlives its session touches nothing of it.
struct BEEPREQUEST {
    int hz;
    int ms;
    int count;
    int pause;
};

void BeepThread(std::unique_ptr<BEEPREQUEST> r)
{
    for (int i = 0; i < r->count; ++i) {
        OSYS::PlayBeep(r->hz, r->ms);
        // The pause lies between two tones of the series.
        if (i < r->count - 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(r->pause));
    }
}

// Row text in the profile's code page (UTF-8 for 1000), trailing blanks
// and tabs cut.
std::string RowBytes(std::wstring const& row, int codePage)
{
    std::string out;
    if (codePage == 1000) {
        char buf[4];
        for (wchar_t c : row)
            out.append(buf, static_cast<size_t>(UNICODE::Utf8Encode(c, buf)));
    } else {
        out.resize(row.size());
        UNICODE::GetInstance()->CharsToBytes(row.data(), static_cast<int32_t>(row.size()), out.data(), codePage);
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '\t'))
        out.pop_back();
    return out;
}

} // namespace

// ---------------------------------------------------------------------------
// Sounds

void SESSION::Beep(int hz, int ms)
{
    DoBeep(hz, ms, 1, 0);
}

void SESSION::Alarm(int count)
{
    DoBeep(550, 200, count, 100);
}

void SESSION::AlarmQ(int count)
{
    DoBeep(1100, 80, count, 120);
}

void SESSION::DoBeep(int hz, int ms, int count, int pause)
{
    LOGIT("SESSION::Beep(%d, %d)\n", hz, ms);
    auto request = std::make_unique<BEEPREQUEST>(BEEPREQUEST{hz, ms, count < 1 ? 1 : count, pause});
    std::thread(BeepThread, std::move(request)).detach();
}

void SESSION::PlayTune(char const* name, bool wait)
{
    if (!name || !*name)
        return;
    std::string file;
    if (strncmp(name, "##", 2) == 0) {
        file = name;
    } else {
        FILENAME path(SettingsResourcePath().Buf(), name);
        if (!OSYS::FileExists(path.Buf()))
            return;
        file = path.Buf();
    }
    if (file.size() > 255)
        file.resize(255);
    std::thread player([file] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (file == "##SYSTEMALERT##")
            OSYS::PlayAlert();
        else
            OSYS::PlaySoundFile(file.c_str(), true);
    });
    if (wait)
        player.join();
    else
        player.detach();
}

int SESSION::Bell()
{
    if (!Prof.data.Beep)
        return 0;
    PROGRAMSETTINGSDATA const& set = Settings.data;
    int const beepTime = std::clamp(set.BeepTime, 1, 999);
    int const beepMax = std::clamp(set.BeepMax, 1, 999);
    long long const now = NowMs();
    if (now - BellTime > static_cast<long long>(beepTime) * 1000) {
        BellTime = now;
        BellCount = 1;
    } else if (++BellCount > beepMax) {
        // A stream of bells keeps the silence going.
        BellTime = now;
        return 0;
    }
    switch (set.BeepMode) {
    case 1:
        Beep(441, 80);
        break;
    case 2:
        PlayTune("##SYSTEMALERT##", false);
        break;
    case 3:
        PlayTune(set.SoundBellWav, false);
        break;
    case 4:
        if (CONTROL::IsVisible())
            PostUserMessage(MSG_FLASH, 0, 0);
        break;
    case 5: {
        PAYLOAD* p = NewPayload();
        p->Text = OSYS::GetStringFromResource("IDS_BEEP").Buf();
        p->HasText = true;
        PostUserMessage(MSG_NOTIFY, reinterpret_cast<MSGWORD>(p), 3);
        break;
    }
    default:
        break;
    }
    return 1;
}

// ---------------------------------------------------------------------------
// Status line, menu, title, tab, scroll bar

void SESSION::SetStatusbarLed(int led, bool on, int mode)
{
    if (!TARVOAPP::IsMainThread()) {
        // The reader thread: the main thread shows the light on its next
        // tick.
        if (on && led >= 0 && led < 8)
            PendingLeds.fetch_or(1u << led);
        return;
    }
    if (!Background.load() && Host.HasStatusLine())
        Host.SetLed(led, on, mode);
}

void SESSION::UpdateStatusbar(bool full)
{
    if (!Background.load())
        Host.UpdateStatusbar(full);
}

void SESSION::EnableMenuEntry(int id, int enable, bool x)
{
    Host.EnableMenuEntry(id, enable, x);
}

void SESSION::UpdateToolbarAndMenu(bool x)
{
    Host.UpdateToolbarAndMenu(x);
}

void SESSION::UpdateWindowTitle(wchar_t const* title)
{
    Host.SetWindowTitle(title);
}

void SESSION::UpdateTabTitle()
{
    wchar_t const* custom = EmuLayer.QueryCustomTitleWide();
    if (custom && *custom) {
        Host.SetSessionTabNameWide(*this, custom);
        return;
    }
    std::wstring host = QueryCurrentHostWide();
    // A tab is never left without a name.
    if (host.empty())
        host = OSYS::GetWideStringFromResource("IDS_UNTITLED").Buf();
    Host.SetSessionTabNameWide(*this, host.c_str());
}

void SESSION::CustomTitleChanged()
{
    // Always by message: the title may change on any thread, and while the
    // main window is still adding the session's tab.
    if (!TitlePending.exchange(true))
        PostUserMessage(MSG_TITLE, 0, 0);
}

void SESSION::UpdateScrollbarNow()
{
    if (SCROLLBAR* bar = Host.ScrollBar())
        Scrollback.SetScrollbars(*bar, -1);
    ScrollbarTime = NowMs();
    ScrollbarPending = 0;
}

std::wstring SESSION::QueryCurrentHostWide()
{
    return Host.CurrentHostName(*this);
}

// ---------------------------------------------------------------------------
// The notification

void SESSION::Notify(char const* text, int kind)
{
    if (TARVOAPP::IsMainThread()) {
        Notify(text, kind, CONTROLPARENT{GetControlRef()});
        return;
    }
    // From another thread the text travels as a copy the session owns.
    PAYLOAD* p = NewPayload();
    if (text) {
        p->Text = text;
        p->HasText = true;
    }
    PostUserMessage(MSG_NOTIFY, reinterpret_cast<MSGWORD>(p), static_cast<MSGWORD>(kind));
}

void SESSION::Notify(char const* text, int kind, CONTROLPARENT)
{
    if (!(TARVOAPP::IsMainThread())) {
        AssertMsg(0, "TARVOAPP::IsMainThread()", __FILE__, __LINE__);
        return;
    }
    // The time: tenths in the low four bits, seconds in bits 4 to 15.
    int tenths = kind & 0x0F;
    int seconds = (kind >> 4) & 0x0FFF;
    if (kind == 0) {
        tenths = 5;
        seconds = 2;
    }
    int const ms = tenths * 100 + seconds * 1000;
    long long const now = NowMs();
    bool const shown = !NotifyShown.empty() && now < NotifyUntil;
    if (shown && text && strcasecmp(text, NotifyShown.c_str()) == 0) {
        // The same text again: its time starts anew.
        NotifyTime = ms;
        NotifyUntil = now + ms;
        Host.ShowNotification(*this, text, ms);
        return;
    }
    if (!NotifyShown.empty()) {
        NotifyShown.clear();
        Host.ShowNotification(*this, nullptr, 0);
    }
    if (!text)
        return;
    NotifyShown = text;
    NotifyTime = ms;
    NotifyUntil = now + ms;
    Host.ShowNotification(*this, text, ms);
    UpdateStatusbar(false);
}

// ---------------------------------------------------------------------------
// Saving the screen

void SESSION::SaveScreen(char const* destination)
{
    bool const printer = destination && strcmp(destination, "$PRINTER") == 0;
    bool const file = destination && strcmp(destination, "$FILE") == 0;
    if (!printer && !file) {
        AssertMsg(0, "FALSE", __FILE__, __LINE__, "Internal: SaveScreen called with bad type");
        return;
    }
    int const codePage = Prof.data.CodePage;
    void* job = nullptr;
    FILE* out = nullptr;
    std::wstring const host = QueryCurrentHostWide();
    if (printer) {
        job = PrinterOpen(0);
        if (!job)
            return;
    } else {
        FILENAME folder(WORKDIR::GetCurrent().Buf(), Settings.data.CapturePath);
        FILENAME path(folder.Buf(), Settings.data.SaveScrFile);
        out = fopen(path.Buf(), "a");
        if (!out)
            return;
        std::string rule(79, '-');
        fprintf(out, "\n%s\n  %s %s", rule.c_str(), OSYS::CurrentDate().Buf(), OSYS::CurrentTime().Buf());
        if (!host.empty()) {
            std::string name = RowBytes(host, 1000);
            fprintf(out, " %s %s", OSYS::GetStringFromResource("IDS_CONNECT_TO").Buf(), name.c_str());
        }
        fprintf(out, "\n%s\n\n", rule.c_str());
        STRING notice;
        notice.Format(OSYS::GetStringFromResource("IDS_NOTIFY_SAVING_SCREEN").Buf(), path.Buf());
        Notify(notice.Buf(), 0);
    }
    int cols = 0, rows = 0;
    EmuLayer.QueryWinSize(&cols, &rows);
    for (int y = 0; y < rows; ++y) {
        // The row's whole text: characters with their marks, those beyond
        // U+FFFF.
        std::u32string text;
        Screen.GetText(text, cols, 0, y, nullptr);
        std::wstring row(text.begin(), text.end());
        if (printer) {
            while (row.size() > 1 && row.back() == L' ')
                row.pop_back();
            std::string bytes = RowBytes(row, codePage) + "\n";
            PrinterWrite(job, bytes.data(), static_cast<int>(bytes.size()));
        } else {
            fprintf(out, "%s\n", RowBytes(row, codePage).c_str());
        }
    }
    if (printer) {
        PrinterWrite(job, "\n\n", 2);
        PrinterClose(job);
    } else {
        fputs("\n\n", out);
        fclose(out);
    }
}
