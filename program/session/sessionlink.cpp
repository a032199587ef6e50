// The neutral bodies of SESSIONLINK: what a layer gets while the session's
// other subsystems are not there.
#include "program/session/sessionlink.h"

#include "program/settings/programsettings.h"
#include "program/settings/sessionprofile.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/gui/wincontrols.h"

#include <cstring>
#include <cwchar>

SESSIONLINK::SESSIONLINK() = default;
SESSIONLINK::~SESSIONLINK() = default;

int SESSIONLINK::SendEvent(int, short, char const*)
{
    return 0;
}

int SESSIONLINK::PostEvent(int, short, char const*)
{
    return 0;
}

int SESSIONLINK::CondEvent(int)
{
    return 0;
}

void SESSIONLINK::Notify(char const* text, int)
{
    LOGIT("SESSIONLINK::Notify %s\n", text ? text : "<NULL>");
}

void SESSIONLINK::ComDataNotification(bool) {}

void SESSIONLINK::CustomTitleChanged() {}

void SESSIONLINK::DeviceEndNotification() {}

bool SESSIONLINK::IsBackgroundTab()
{
    return false;
}

bool SESSIONLINK::IsTransferActive()
{
    return false;
}

void SESSIONLINK::SetStatusbarLed(int, bool, int) {}
void SESSIONLINK::Trace(char, char const*, int) {}

COMMAPI* SESSIONLINK::Comm()
{
    return nullptr;
}

EMULATIONAPI* SESSIONLINK::Emulation()
{
    return nullptr;
}

FILETRANSFERAPI* SESSIONLINK::Transfer()
{
    return nullptr;
}

FILETRANSFERFILEIO* SESSIONLINK::TransferFileIo()
{
    return nullptr;
}

VIOAPI* SESSIONLINK::Vio()
{
    return nullptr;
}

void SESSIONLINK::ResetScreenMode() {}
void SESSIONLINK::UpdateStatusbar() {}

SESSIONPROFILEDATA* SESSIONLINK::ProfileData()
{
    return nullptr;
}

PROGRAMSETTINGSDATA* SESSIONLINK::SettingsData()
{
    return nullptr;
}

char* SESSIONLINK::ParmString(int type, int id)
{
    SESSIONPROFILEDATA* profile = ProfileData();
    if (!profile || id < 0)
        return nullptr;
    switch (type) {
    case 0:
        return id < 24 ? profile->DeviceOpts[id] : nullptr;
    case 1:
        return id < 32 ? profile->EmulationOpts[id] : nullptr;
    case 2:
        return id < 24 ? profile->TransferOpts[id] : nullptr;
    default:
        return nullptr;
    }
}

void SESSIONLINK::SetActiveDevice(int id)
{
    if (SESSIONPROFILEDATA* profile = ProfileData())
        profile->ActiveDevice = id;
}

bool SESSIONLINK::Software7E1()
{
    SESSIONPROFILEDATA* profile = ProfileData();
    return profile && profile->Software7E1 != 0;
}

int SESSIONLINK::CodePage()
{
    SESSIONPROFILEDATA* profile = ProfileData();
    return profile ? profile->CodePage : 1252;
}

char const* SESSIONLINK::EnqString()
{
    SESSIONPROFILEDATA* profile = ProfileData();
    return profile ? profile->EnqString : "";
}

int SESSIONLINK::LoadGroupSetting(int group)
{
    PROGRAMSETTINGSDATA* settings = SettingsData();
    if (!settings)
        return 1;
    switch (group) {
    case 10:
        return settings->SubsysDevNetwork;
    case 11:
        return settings->SubsysHalbrin;
    case 12:
        return settings->SubsysDevMisc;
    case 20:
        return settings->SubsysCorvane;
    case 21:
        return settings->SubsysEmuIBM;
    case 22:
        return settings->SubsysEmuMisc;
    default:
        return 1;
    }
}

int SESSIONLINK::ProcessEvent(int, int, char const*)
{
    return 0;
}

void SESSIONLINK::TrackChanges(bool) {}

bool SESSIONLINK::IsScriptRunning()
{
    return false;
}

void SESSIONLINK::HexDump(char const*, int) {}
void SESSIONLINK::InvalidateWindow() {}

void SESSIONLINK::ErrorMsg(char const* text)
{
    LOGIT("SESSIONLINK::ErrorMsg %s\n", text ? text : "<NULL>");
}

int SESSIONLINK::WarningMessage(char const* text)
{
    LOGIT("SESSIONLINK::WarningMessage %s\n", text ? text : "<NULL>");
    return 1;
}

bool SESSIONLINK::Unattended()
{
    return UnattendedByte != 0;
}

void SESSIONLINK::SendMainWindowEvent(int) {}
void SESSIONLINK::PostMainWindowMessage(int, uintptr_t, uintptr_t) {}

uintptr_t SESSIONLINK::SendMainWindowMessage(int, uintptr_t, uintptr_t)
{
    return 0;
}

bool SESSIONLINK::MainWindowRect(RECT*)
{
    return false;
}

bool SESSIONLINK::IsMainWindowMaximized()
{
    return false;
}

void SESSIONLINK::MoveMainWindow(RECT const&) {}
void SESSIONLINK::FlushRedraws() {}
void SESSIONLINK::StartWindowTimer(int, int) {}
void SESSIONLINK::StopWindowTimer(int) {}
void SESSIONLINK::MakeDeviceMenu(MENU const&, QORDEVICE*) {}

void SESSIONLINK::RunEventScript(char const* args)
{
    LOGIT("SESSIONLINK::RunEventScript %s\n", args ? args : "<NULL>");
}

void SESSIONLINK::TranslateOut(char*, int) {}

int SESSIONLINK::CallHook(int, void*, void*)
{
    return 0;
}

int SESSIONLINK::MakeCtrl(char* text, int)
{
    return text ? static_cast<int>(strlen(text)) : 0;
}

int SESSIONLINK::MakeCtrlWide(wchar_t* text, int)
{
    return text ? static_cast<int>(wcslen(text)) : 0;
}

int SESSIONLINK::InstanceNumber()
{
    return 1;
}

WINDOW* SESSIONLINK::MainWindow()
{
    return nullptr;
}

APP* SESSIONLINK::Application()
{
    return nullptr;
}

int SESSIONLINK::Language()
{
    STRING text = OSYS::GetStringFromResource("IDS_LANGUAGE");
    int language = atoi(text.Buf());
    return language > 0 ? language : 1;
}

signed char* SESSIONLINK::UnattendedFlag()
{
    return &UnattendedByte;
}

SESSIONPROFILE* SESSIONLINK::Profile()
{
    return nullptr;
}

STRING SESSIONLINK::AppRegKey()
{
    return OSYS::GetStringFromResource("IDS_TARVOAPPREGKEY");
}

char* SESSIONLINK::DownloadFolder()
{
    return nullptr;
}

char* SESSIONLINK::UploadFolder()
{
    return nullptr;
}

char const* SESSIONLINK::WorkFolder()
{
    return nullptr;
}

char const* SESSIONLINK::HomeFolder()
{
    return nullptr;
}

PROGRAMSETTINGSDATA* SESSIONLINK::ProgramSettings()
{
    return SettingsData();
}

PASSWORDCACHEAPI* SESSIONLINK::PasswordCache()
{
    return nullptr;
}

OPTLIST const* SESSIONLINK::AtCmdOptlist()
{
    return SESSIONPROFILE::AtCmdOptlist;
}

COLORREF* SESSIONLINK::SysColors()
{
    return nullptr;
}

int SESSIONLINK::SetLedMode(int)
{
    return 0;
}

void* SESSIONLINK::PrinterOpen(signed char)
{
    return nullptr;
}

int SESSIONLINK::PrinterWrite(void*, char const*, int)
{
    return 0;
}

int SESSIONLINK::PrinterClose(void*)
{
    return 0;
}

int SESSIONLINK::Log(char const*, int)
{
    return 0;
}

int SESSIONLINK::LogWide(wchar_t const*, int)
{
    return 0;
}

int SESSIONLINK::WaitForSessionForeground(signed char*)
{
    return 0;
}

int SESSIONLINK::AddScrollLine(VIOCELL const*, int, signed char)
{
    return 0;
}

int SESSIONLINK::FeedKeys(wchar_t const*, int, signed char)
{
    return 0;
}

int SESSIONLINK::Bell()
{
    return 0;
}

int SESSIONLINK::AppTrackChanges()
{
    return 0;
}

int SESSIONLINK::WatchLearn(char, wchar_t)
{
    return 0;
}

int SESSIONLINK::WatchAutoLogin(wchar_t)
{
    return 0;
}

int SESSIONLINK::ScriptWatchWait(int, wchar_t)
{
    return 0;
}

int SESSIONLINK::ScriptWaitFound(int, int)
{
    return 0;
}

int SESSIONLINK::Ask(char const*, char const*, char*, int, int, signed char*)
{
    return 0;
}

int SESSIONLINK::AskUserPass(char const*, char*, char*, int*)
{
    return 0;
}

int SESSIONLINK::AskPassphrase(char const*, char const*, char const*, char*, int*)
{
    return 0;
}

STRING SESSIONLINK::AskFilename(char const*, char const*, WINDOW const&)
{
    return STRING();
}

STRING SESSIONLINK::AskSaveAsFilename(char const*, char const*, WINDOW const&)
{
    return STRING();
}

int SESSIONLINK::EditSysColors(WINDOW&)
{
    return 0;
}

int SESSIONLINK::StartProgram(char const*, char const*, char const*, int)
{
    return 0;
}

void SESSIONLINK::DestroyIntroWin() {}

int SESSIONLINK::PushFnctSelectFile(void*, CONTROLID, CONTROLPARENT, STRING*)
{
    return 0;
}

int SESSIONLINK::PushFnctSelectFolder(void*, CONTROLID, CONTROLPARENT, STRING*)
{
    return 0;
}
