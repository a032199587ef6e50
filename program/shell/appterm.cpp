// The event layer of a main window: numbered events queued to the window
// (user message 1047) and dispatched to the current session first, then to
// the window's own handling; the notifications of other running instances;
// the time of the last key press and the idle lock that rests on it.
#include "program/shell/app.h"

#include "program/shell/helper.h"
#include "program/shell/qor.h"
#include "program/shell/tabs.h"

#include "program/settings/workfolder.h"

#include "platform/services/folders.h"
#include "velmot/core/hash.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/windialog.h"
#include "velmot/gui/wintarvo.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Events that pass the session's event filter.
constexpr int kAlwaysAllowed[] = {8210, 8110, 8815, 8117, 8115, 8116, 8155, 8215, 8370, 8375, 8410, 8382, 8450,
                                  8030, 8060, 8490, 8085, 8478, 8470, 8125, 8045, 8800, 8801, 8420, 8421, 8865};

MSGWORD PackEvent(int event, short parm)
{
    return static_cast<MSGWORD>(static_cast<uint32_t>(static_cast<uint16_t>(parm)) << 16 |
                                static_cast<uint32_t>(event & 0xFFFF));
}

// A connect text another instance handed over may only connect, or open
// one of the settings editors that the "EVENT" switch names: commands that
// run programs, scripts, keys or menus are refused, and so is a free text
// (it would be typed into the new tab, into a shell as a command).
bool IsConnectText(std::string const& text)
{
    if (text.empty())
        return true;
    for (char const* allowed : {"^CONNECT=", "^CALL="}) {
        if (strncasecmp(text.c_str(), allowed, strlen(allowed)) == 0)
            return true;
    }
    if (strncasecmp(text.c_str(), "^EVENT=", 7) == 0) {
        std::string const event = text.substr(7);
        for (char const* editor : {"8220", "8221", "8222", "8223", "8230"})
            if (event == editor)
                return true;
    }
    return false;
}

// A hand-over file is taken only when it is a plain file of this user that
// nobody else can read or write.
bool OwnPrivateFile(std::string const& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == getuid() &&
           (st.st_mode & 077) == 0 && st.st_size < 64 * 1024;
}

} // namespace

void APP::PostEvent(int event, short parm, char const* text)
{
    VASSERT(static_cast<unsigned long>(event) > 0 && static_cast<unsigned long>(event) < 32767,
            "(ULONG)event>0 && (ULONG)event<32767", nullptr);
    PostUserMessage(MSG_EVENT, PackEvent(event, parm), reinterpret_cast<MSGWORD>(text));
}

int APP::SendEvent(int event, short parm, char const* text)
{
    VASSERT(static_cast<unsigned long>(event) > 0 && static_cast<unsigned long>(event) < 32767,
            "(ULONG)event>0 && (ULONG)event<32767", nullptr);
    return static_cast<int>(SendUserMessage(MSG_EVENT, PackEvent(event, parm), reinterpret_cast<MSGWORD>(text)));
}

int APP::CondEvent(int event)
{
    if (!IsMenuEntryEnabled(event))
        return 0;
    PostEvent(event, 0, nullptr);
    return 1;
}

void APP::KeyboardEvent(signed char notify)
{
    long long const now = static_cast<long long>(OSYS::GetLTime());
    LastKeyTime = now;
    if (notify && now - LastActivityNotice >= 6) {
        SendIpcMessage(0, IPC_CATEGORY | IPC_KEYACTIVITY, 0);
        LastActivityNotice = now;
    }
}

int APP::FilterEvent(SESSION& session, int event, int, char const* text)
{
    auto* s = dynamic_cast<APPSESSION*>(&session);
    if (!s || !s->EventFilter)
        return 0;
    if (text == reinterpret_cast<char const*>(-1) || event == 8820 || event == 8825 || event == 8899)
        return 0;
    for (int allowed : kAlwaysAllowed) {
        if (event == allowed)
            return 0;
    }
    session.AlarmQ(1);
    return 1;
}

int APP::ProcessEvent(int event, int parm, char const* text)
{
    if (event == 8820 || event == 8825 || event == 8810)
        LOGIF(8, "APP::ProcessEvent %d %d %p\n", event, parm, static_cast<void const*>(text));
    else
        LOGIT("APP::ProcessEvent %d (PARM %04X %p)\n", event, parm & 0xFFFF, static_cast<void const*>(text));
    CURRENTSESSIONPTR session(*this);
    if (session && FilterEvent(*session, event, parm, text))
        return 0;
    int rc = 0;
    if (event != 8820 && event != 8825 && session)
        rc = session->ProcessEvent(event, parm, text);

    switch (event) {
    case 8155:
        EditFile(text);
        return 1;
    case 8160:
        OpenDocument(WORKDIR::GetCurrent().Buf());
        return 1;
    case 8215: {
        // The shell program and the text's words as its arguments: never a
        // command line for a shell to read.
        std::string shell = ProgSettings.data.ShellExe;
        if (shell.empty() || strcasecmp(shell.c_str(), "<DEFAULT>") == 0)
            shell = "/bin/sh";
        std::vector<std::string> argv{shell.substr(0, 259)};
        if (text && *text) {
            std::vector<char> buffer(text, text + strlen(text) + 1);
            char* words[64] = {};
            int n = TARVOAPP::MakeArgcArgv(buffer.data(), nullptr, words, 64);
            for (int i = 0; i < n; ++i)
                argv.emplace_back(words[i]);
        }
        StartProgram(argv);
        return 1;
    }
    case 8220:
    case static_cast<int>(plat::FourCC("pref")):
        // The program-settings dialog arrives with the settings dialogs.
        if (session)
            session->TrackChanges(false);
        return 1;
    case 8222:
        return 1;
    case 8380:
        // The host-directory window arrives with the host directory.
        return 1;
    case 8420:
        NewInstance("Standard.qor", nullptr, nullptr);
        return 1;
    case 8421: {
        char const* script = ProgSettings.data.TabsOnNewTabAction == 3 ? "Startup.qrx ##NEWTAB##" : nullptr;
        CURRENTSESSIONPTR added;
        NewSession("Standard.qor", nullptr, nullptr, &added, -1, 0, nullptr, nullptr, script);
        if (ProgSettings.data.TabsOnNewTabAction == 1 && added)
            added->PostEvent(8381, 0, nullptr);
        else if (ProgSettings.data.TabsOnNewTabAction == 2)
            PostEvent(8380, 0, nullptr);
        return 1;
    }
    case 8422:
    case 8423:
        SwitchNextSession(event == 8422 ? 1 : -1);
        return 1;
    case 8424:
        if (GetNumSessions() >= 2 && session) {
            int idx = FindSessionIdx(session.Get());
            VASSERT(idx != -1, "idx!=-1", nullptr);
            if (idx != -1 && session->CanQuit(nullptr))
                CloseSession(idx);
        } else {
            return ProcessEvent(8899, 0, nullptr);
        }
        return 1;
    case 8425:
        PostUserMessage(MSG_TABSBAR, 3, 0);
        return 1;
    case 8426:
        AllSessions_PostEvent(8383, 0, nullptr, 2);
        return 1;
    case 8440:
        // The thumbnails window arrives with its own part.
        return 1;
    case 8492:
        // No web site of the maker is opened from here.
        return 1;
    case 8493:
        // 0: asked for by the user, so shown whatever the tips' style says.
        WINTARVO::TipOfTheDay(*this, OSYS::GetStringFromResource("IDS_TIPSFILE"),
                              OSYS::GetStringFromResource("IDS_TARVOAPPREGKEY"), parm == 0);
        return 1;
    case 8820:
        PrintJobs.QueueTick();
        UpdateToolbarAndMenu(false);
        DeleteDeadSessions();
        return 1;
    case 8825:
        HELPER::CurDateTime(1);
        Phonebook->TrackChanges();
        UpdateStatusbar(false);
        UpdateToolbarAndMenu(false);
        IdleLock();
        return 1;
    case 8830:
        return 0;
    case 8864:
        SendIpcMessage(0, 0x10005, 0);
        return rc;
    case 8899: {
        if (session && !AllSessions_CanQuit())
            return 1;
        CloseWithoutQuestions();
        if (text)
            *const_cast<signed char*>(reinterpret_cast<signed char const*>(text)) = 1;
        return 1;
    }
    default:
        return rc;
    }
}

void APP::CloseWithoutQuestions()
{
    if (Closing)
        return;
    // The window leaves the application's table; it is deleted once its
    // handlers have returned.
    DARWINDOW::DeliverMessage(true, nullptr, nullptr, APPLICATION_MESSAGE, QOREVENT_CLOSEWINDOW,
                              reinterpret_cast<MSGWORD>(this), 0);
}

void APP::IdleLock()
{
    PROGRAMSETTINGSDATA const& s = ProgSettings.data;
    if (!Active || IsMinimized() || IdleLockState != 0 || !s.ProtectProgram || s.ProtectProgramIdleTime == 0)
        return;
    IdleLockState = 1;
    for (;;) {
        long long const idle = (static_cast<long long>(OSYS::GetLTime()) - LastKeyTime) / 60;
        if (idle < s.ProtectProgramIdleTime || Closing)
            break;
        IdleLockState = 2;
        if (VerifyPassword(0))
            break;
        WINDOW::Sleep(500);
    }
    IdleLockState = 0;
}

int APP::IpcEvent(int code, unsigned long word)
{
    LOGIT("APP::IpcEvent %d %d\n", code, static_cast<int>(word));
    int answer = 0;
    switch (code) {
    case IPC_AVAILABLE: {
        PROGRAMSETTINGSDATA const& s = ProgSettings.data;
        long long const idle = (static_cast<long long>(OSYS::GetLTime()) - LastKeyTime) / 60;
        answer = !Building[0] && !PasswordDialog &&
                 (!s.ProtectProgram || s.ProtectProgramIdleTime == 0 || idle < s.ProtectProgramIdleTime);
        break;
    }
    case IPC_KEYACTIVITY:
        KeyboardEvent(0);
        break;
    case IPC_PASSWORDOK:
        if (PasswordDialog) {
            STRING title = PasswordDialog->GetText();
            if (strcmp(title.Buf(), OSYS::GetStringFromResource("IDS_TITLEASKPASSWORD").Buf()) == 0) {
                CONTROL button(PasswordDialog->GetClientParent(), CONTROLID{plat::FourCC("PUSH"), 3});
                button.SimulateHit(1);
            }
        }
        break;
    case IPC_NEWTAB:
        HandOverReceived(word);
        break;
    default:
        break;
    }
    LOGIT("APP::IpcEvent %d returns %d\n", code, answer);
    return answer;
}

void APP::HandOverReceived(unsigned long pid)
{
    std::string const folder = plat::FolderPath(plat::Folder::Runtime, true);
    std::string const file = folder + std::to_string(pid) + ".txt";
    if (folder.empty() || !OwnPrivateFile(file)) {
        LOGIT("APP::IpcEvent no hand-over file %s\n", file.c_str());
        return;
    }
    HASH keys;
    bool const loaded = keys.Load(file.c_str());
    unlink(file.c_str());
    if (!loaded)
        return;
    std::string const connect = keys.CheckKey("ConnectTo") ? keys["ConnectTo"].Buf() : "";
    std::string const profile = keys.CheckKey("SessionProfile") ? keys["SessionProfile"].Buf() : "";
    std::string const script = keys.CheckKey("RunScript") ? keys["RunScript"].Buf() : "";
    WSTRING title;
    if (keys.CheckKey("TabTitle"))
        title = WSTRING(keys["TabTitle"].Buf(), UNICODE_CPSYSTEM);
    if (!IsConnectText(connect)) {
        LOGIT("APP::IpcEvent refuses the hand-over's connect text\n");
        return;
    }
    NewSession(profile.empty() ? nullptr : profile.c_str(), nullptr, nullptr, nullptr, -1, 0,
               title.Length() ? title.Buf() : nullptr, connect.empty() ? nullptr : connect.c_str(),
               script.empty() ? nullptr : script.c_str());
    BringToForeground();
    Activate();
}
