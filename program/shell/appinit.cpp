// The start-up chain of a main window: InitGlobs, InitCommandlineArgs
// (appcmdline.cpp), InitOptsAndIo, InitWindow, InitFinal; each returns a
// norun code, 0 meaning "go on".
#include "program/shell/app.h"

#include "program/shell/helper.h"
#include "program/shell/qor.h"
#include "program/shell/tabs.h"

#include "program/settings/workfolder.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/registry.h"
#include "velmot/core/tarvo.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

// The string table of the settings texts.
void* const kSettingsStrings = const_cast<char*>("Settings");

// Putenv keeps the text it is given: the texts of every instance number
// used stay for the whole process.
char* InstanceEnvironment(int instance)
{
    static std::vector<std::unique_ptr<char[]>> texts;
    std::string const text = "QORINSTANCE=" + std::to_string(instance);
    auto copy = std::make_unique<char[]>(text.size() + 1);
    memcpy(copy.get(), text.c_str(), text.size() + 1);
    texts.push_back(std::move(copy));
    return texts.back().get();
}

// "name" or "name@options": the module's id in the layer and its option
// text ("[id]options" unless it starts with "[").
bool SplitModule(char const* value, std::string* name, std::string* options)
{
    if (!value || !*value)
        return false;
    std::string const v = value;
    size_t at = v.find('@');
    *name = v.substr(0, at);
    *options = at == std::string::npos ? std::string() : v.substr(at + 1);
    return !name->empty();
}

REGISTRY AppKey()
{
    STRING app = OSYS::GetStringFromResource("IDS_TARVOAPPREGKEY");
    return REGISTRY(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", app.Buf(), REGISTRY::READWRITE);
}

} // namespace

int InstalledEmulation(EMULATION& layer, int id)
{
    int ids[33] = {};
    int const n = layer.QueryList(nullptr, nullptr, ids, 33, -1, 0);
    for (int i = 0; i < n; ++i) {
        if (ids[i] == id)
            return id;
    }
    if (n > 0)
        LOGIT("APP: emulation %d is not installed, %d stands in\n", id, ids[0]);
    return n > 0 ? ids[0] : id;
}

int APP::InitGlobs()
{
    LOGIT("APP::InitGlobs\n");
    Building[0] = Building[1] = Building[2] = true;
    int32_t howmany = -1;
    DARWINDOW::DeliverMessage(true, nullptr, nullptr, APPLICATION_MESSAGE, QOREVENT_QUERYWINDOWS,
                              reinterpret_cast<MSGWORD>(&howmany), 0);
    VASSERT(howmany != -1, "howmany!=-1", nullptr);
    InstanceNo = howmany == -1 ? 1 : howmany;
    putenv(InstanceEnvironment(InstanceNo));
    if (getenv("TZ"))
        tzset();
    snprintf(gWorkPath, sizeof gWorkPath, ".");
    VASSERT(gHomePath.Length() > 0, "strlen(gHomePath)>0", nullptr);
    gDefaultOptsFile[0] = 0;
    LOGIT("APP::InitGlobs done, instance %d\n", InstanceNo);
    return 0;
}

int APP::InitOptsAndIo()
{
    LOGIT("APP::InitOptsAndIo\n");
    CURRENTSESSIONPTR session(*this);
    LoadSysColors();
    // The intro window belongs to an outside hook library; none is loaded.

    int const newUser = ProgSettings.NewUser();
    if (newUser == 0) {
        ProgSettings.Load();
        bool const standard = !gDefaultOptsFile[0];
        if (standard) {
            FILENAME file(WORKDIR::GetCurrent().Buf(), ProgSettings.data.OptsPath, "Standard.qor");
            snprintf(gDefaultOptsFile, sizeof gDefaultOptsFile, "%s", file.Buf());
        }
        // A profile that cannot be read leaves the defaults in force: the
        // user is told which file and why.
        int error = 0;
        FILENAME const profile = session ? session->Prof.FullName(gDefaultOptsFile) : FILENAME(gDefaultOptsFile);
        if (FILE* probe = OPTSBASE::OpenFile(profile.Buf(), &error)) {
            fclose(probe);
        } else if (session) {
            STRING text;
            if (standard) {
                session->Prof.SetDefaultFilename(profile.Buf());
                text.Format("%s:\r\n%s\r\n(%s)", OSYS::GetStringFromResource("IDS_NO_STDOPTS").Buf(), profile.Buf(),
                            OSYS::GetLastErrorString(error).Buf());
            } else {
                text.Format(OSYS::GetStringFromResource("IDS_PROFILE_UNREADABLE", kSettingsStrings).Buf(),
                            profile.Buf(), OSYS::GetLastErrorString(error).Buf());
            }
            WarningMsg(text.Buf());
        }
        if (session) {
            session->Prof.Load(gDefaultOptsFile);
            int& emulation = session->Prof.data.ActiveEmulation;
            emulation = InstalledEmulation(session->EmuLayer, emulation);
            // The event script "OPEN" arrives with the scripting layer.
            session->TermInit();
            // The screen takes the profile's font and colours before the
            // window is first laid out.
            session->TrackChanges(false);
            SESSIONPROFILEDATA& p = session->Prof.data;
            std::string name, options;
            if (SplitModule(GetArgValue("DEV"), &name, &options)) {
                int id = session->CommLayer.QueryIDFromName(name.c_str());
                if (id >= 0 && id < 24) {
                    if (!options.empty()) {
                        std::string text = options[0] == '[' ? options : "[" + std::to_string(id) + "]" + options;
                        snprintf(p.DeviceOpts[id], sizeof p.DeviceOpts[id], "%s", text.c_str());
                        session->CommLayer.MatchParms(id, p.DeviceOpts[id], 128, 1, 0);
                    }
                    p.ActiveDevice = id;
                } else {
                    LOGIT("APP::InitOptsAndIo no device %s\n", name.c_str());
                }
            }
            if (SplitModule(GetArgValue("EMU"), &name, &options)) {
                int id = session->EmuLayer.QueryIDFromName(name.c_str());
                if (id >= 0 && id < 32) {
                    if (!options.empty()) {
                        std::string text = options[0] == '[' ? options : "[" + std::to_string(id) + "]" + options;
                        snprintf(p.EmulationOpts[id], sizeof p.EmulationOpts[id], "%s", text.c_str());
                        session->EmuLayer.MatchParms(id, p.EmulationOpts[id], 128, 1, 0);
                    }
                    p.ActiveEmulation = id;
                } else {
                    LOGIT("APP::InitOptsAndIo no emulation %s\n", name.c_str());
                }
            }
        }
    }
    // The host directory: the "PF" switch or the administrator's file, as
    // many entries as the administrator allows.
    char const* hosts = GetArgValue("PF");
    Phonebook->InitPhonebook(hosts && *hosts ? hosts : AdminRecord.HostDirectoryFile, AdminRecord.HostDirectoryMax);
    LOGIT("APP::InitOptsAndIo done, rc= %d\n", newUser);
    return newUser;
}

int APP::InitWindow(char const* program, STRING& error)
{
    LOGIT("APP::InitWindow %s\n", program ? program : "");
    VASSERT(IsValid(), "this->IsValid()", nullptr);
    CURRENTSESSIONPTR session(*this);
    if (!session)
        return 1;
    SESSIONPROFILEDATA& p = session->Prof.data;

    POINT pos{};
    SIZE size{};
    int maximised = 0;
    signed char fromRegistry = 0;
    InitStartupWinPos(&pos, &size, &maximised, &fromRegistry);
    MaximizedByRegistry = fromRegistry && maximised;
    Move(pos.x, pos.y, size.cx, size.cy);

    bool const scrollbar = p.ShowScrollbar && ProgSettings.data.ScrollbackLines > 0;
    ConstructWindowParts(GetClientSize().cx - (scrollbar ? SCROLLWIDTH : 0));

    // The profile's emulation; a profile naming one that is not installed
    // gets the first one there is, so that the terminal works.
    p.ActiveEmulation = InstalledEmulation(session->EmuLayer, p.ActiveEmulation);
    session->EmuLayer.SetEmulation(p.ActiveEmulation, 0);
    // The title of the command line is the first tab's custom title.
    if (GetArgValue("TITLE"))
        session->EmuLayer.SetCustomTitleWide(CustomText.Buf());

    TabsVisible = ProgSettings.data.ShowTabsAlways != 0;
    int delta = 0;
    if (pToolbar)
        pToolbar->Show(p.ShowToolbar != 0, &delta);
    if (pUserbar)
        pUserbar->Show(p.ShowUserbar != 0, &delta);
    if (pTabsbar)
        pTabsbar->ShowTabs(TabsVisible || NumSessions >= 2, &delta);
    if (pStatusbar)
        pStatusbar->Show(p.ShowStatusline != 0, &delta);
    ShowScrollbar(scrollbar, &delta);
    if (pChatbar)
        pChatbar->Show(p.ShowChat != 0, &delta);
    UpdateStatusbar(true);
    Building[1] = false;
    OnSized();
    BringToForeground();

    StartTimer(TIMER_SECOND, 1000);
    StartTimer(TIMER_PRINTQUEUE, 500);
    StartTimer(TIMER_STAMP, 50);

    if (MainMenu.GetMenuRef()) {
        TARVOAPP::FillMenubarHelp(MainMenu);
        AddHelpTopics();
        if (plat::MenuRef help = MainMenu.GetHelpMenu()) {
            MENU helpMenu(help);
            helpMenu.DeleteMenuItem(9011, false);
        }
    }
    MakeMenu(true);
    SetWindowTitle(nullptr);
    Building[2] = false;

    bool const minimise = TestArg("MIN") != 0;
    int const dynamic = p.Dynamic;
    if (minimise && dynamic == 2)
        p.Dynamic = 0;
    session->TrackChanges(false);
    LastCx = -1;
    OnSized();
    p.Dynamic = dynamic;

    session->Screen.SetCursorPos(0, 0);
    session->ProcessEvent(8490, 0, nullptr);
    int const dev = p.ActiveDevice;
    if (dev >= 0 && dev < 24)
        session->CommLayer.OpenDevice(dev, p.DeviceOpts[dev]);
    // A device that is connected once open (a local program) shows it at
    // once, and its end is seen however soon it comes.
    if (session->CommLayer.Device())
        session->ProcessCarrier(session->CommLayer.QueryOnline(), 0);
    UpdateStatusbar(false);

    DestroyIntroWin();
    if (minimise) {
        Show(true);
        Minimize();
    } else {
        if (MaximizedByRegistry || TestArg("MAX"))
            Maximize();
        Show(true);
        session->SetFocus();
    }
    if (GetArgValue("WINDOWFRAME"))
        BringToForeground();

    if (ProgSettings.data.ProtectProgram && ProgSettings.data.Password[0]) {
        SendIpcMessage(0, IPC_CATEGORY | IPC_AVAILABLE, 0);
        if (!VerifyPassword(true))
            return 1;
    }
    (void)error;
    LOGIT("APP::InitWindow done\n");
    return 0;
}

int APP::InitFinal()
{
    LOGIT("APP::InitFinal\n");
    REGISTRY key = AppKey();
    WINDOW desktop(static_cast<plat::WindowRef>(nullptr));
    SIZE const screen = desktop.GetSize();
    STRING video;
    video.Format("%dx%d(%s)", screen.cx, screen.cy, gVersion);
    STRING stored;
    key.Read("VideoRes", &stored);
    if (strcmp(stored.Buf(), video.Buf()) != 0) {
        for (char const* name : {"QorSnippetsWindowPos", "QorFileTransferWindowPos", "DialWindow", "DialWindowSmall"})
            key.DeleteValue(name);
        key.Write("VideoRes", video.Buf());
    }
    key.Write("Language", OSYS::GetStringFromResource("IDS_LANGUAGE").Buf());
    key.Write("Version", gVersion);

    PostUserMessage(MSG_STARTUPDONE, 0, 0);
    TermInit2();

    CURRENTSESSIONPTR session(*this);
    signed char scriptGiven = 0;
    bool const scriptValid = InitScriptArgs(StartupScriptText, sizeof StartupScriptText, &scriptGiven) != 0;
    if (ConnectText[0] && session) {
        // A second text behind the connect string's terminator marks it as
        // coming from the command line.
        size_t const len = strnlen(ConnectText, 256);
        if (len + 2 < sizeof ConnectText) {
            ConnectText[len + 1] = '*';
            ConnectText[len + 2] = 0;
        }
        if (!(scriptGiven && scriptValid))
            StartupScriptText[0] = 0;
        LOGIT("APP::InitFinal post EVC_DOSTRING %s\n", HELPER::RedactLogin(ConnectText).c_str());
        LOGIT("APP::InitFinal (startup script is %s)\n", StartupScriptText);
        session->PostEvent(8860, 0, ConnectText);
    } else if (scriptValid && StartupScriptText[0] && session) {
        session->CommLayer.PurgeLine(333, 1);
        LOGIT("APP::InitFinal post CMD_SCRIPTRUN for startup-script= '%s'\n", StartupScriptText);
        session->PostEvent(8125, 0, StartupScriptText);
    } else if (!scriptGiven && !gUnattended && !TestArg("MIN")) {
        ProcessEvent(8493, 1, nullptr);
        // The host directory comes with its own part: events 8380 and 8381.
        int const autoShow = ProgSettings.data.AutoShow;
        if (autoShow == 0) {
            LOGIT("APP::InitFinal auto-book\n");
        } else {
            LOGIT("APP::InitFinal post phonebook\n");
            if (autoShow == 1)
                PostEvent(8380, 0, nullptr);
            else if (session)
                session->PostEvent(8381, 0, nullptr);
        }
    }
    // The first tab says which switches it could not follow.
    for (std::string const& line : Unavailable) {
        if (session) {
            std::string const text = line + "\r\n";
            session->EmuLayer.InfoOut(text.c_str());
        }
    }
    Building[0] = false;
    PostUserMessage(MSG_DOSIZING, 0, 0);
    if (session)
        session->PostUserMessage(SESSION::MSG_COMDATA, 0, 0);
    LOGIT("APP::InitFinal done\n");
    return 0;
}

void APP::TermInit2()
{
    char keymap[260] = "Standard.qky";
    char translation[260] = "Standard.qtr";
    CopyArgString("KEY", keymap, sizeof keymap);
    CopyArgString("TT", translation, sizeof translation);
    if (!keymap[0])
        snprintf(keymap, sizeof keymap, "Standard.qky");
    if (!translation[0])
        snprintf(translation, sizeof translation, "Standard.qtr");
    CURRENTSESSIONPTR session(*this);
    if (session)
        session->TermInit2(keymap, translation);
    UpdateStatusbar(false);
}
