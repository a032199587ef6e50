// The host services handed to plug-ins.
#include "program/session/qorpublic.h"

#include "program/session/sessionlink.h"
#include "program/screen/codepagetext.h"

#include "velmot/core/logit.h"
#include "velmot/gui/wincontrols.h"

#include <cstring>
#include <vector>

HOSTPUBLIC::HOSTPUBLIC(SESSIONLINK& session) : Link(session)
{
    InstanceNumber = session.InstanceNumber();
    ParentWindow = session.MainWindow();
    App = session.Application();
    Session = &session;
    Language = session.Language();
    Unattended = session.UnattendedFlag();
    Profile = session.Profile();
    session.AppRegKey().CopyToBuf(AppRegKey, sizeof AppRegKey);
    ASSERTMSG(strncmp(this->AppRegKey, "QOR", 3) == 0, AppRegKey);
    DownloadPath = session.DownloadFolder();
    UploadPath = session.UploadFolder();
    WorkPath = session.WorkFolder();
    HomePath = session.HomeFolder();
    ProgramSettings = session.ProgramSettings();
    Vio = session.Vio();
    Comm = session.Comm();
    TransferFileIo = session.TransferFileIo();
    Emulation = session.Emulation();
    Transfer = session.Transfer();
    PasswordCache = session.PasswordCache();
    SysColors = session.SysColors();
}

HOSTPUBLIC::~HOSTPUBLIC() = default;

int HOSTPUBLIC::SetLed(int led, signed char on, int mode)
{
    Link.SetStatusbarLed(led, on != 0, mode);
    return 0;
}

int HOSTPUBLIC::SetLedMode(int mode)
{
    return Link.SetLedMode(mode);
}

void* HOSTPUBLIC::PrinterOpen(signed char flag)
{
    return Link.PrinterOpen(flag);
}

int HOSTPUBLIC::PrinterWrite(void* job, char const* data, int len)
{
    return Link.PrinterWrite(job, data, len);
}

int HOSTPUBLIC::PrinterClose(void* job)
{
    return Link.PrinterClose(job);
}

int HOSTPUBLIC::Log(char const* text, int len)
{
    return Link.Log(text, len);
}

int HOSTPUBLIC::LogWide(wchar_t const* text, int len)
{
    return Link.LogWide(text, len);
}

int HOSTPUBLIC::WaitForSessionForeground(signed char* abort)
{
    return Link.WaitForSessionForeground(abort);
}

int HOSTPUBLIC::AddScrollLine(VIOCELL const* cells, int count, signed char notify)
{
    return Link.AddScrollLine(cells, count, notify);
}

int HOSTPUBLIC::FeedKeys(wchar_t const* keys, int count, signed char raw)
{
    return Link.FeedKeys(keys, count, raw);
}

int HOSTPUBLIC::Bell()
{
    return Link.Bell();
}

int HOSTPUBLIC::AppTrackChanges()
{
    return Link.AppTrackChanges();
}

STRING HOSTPUBLIC::GetEnqString(char* buf, int max)
{
    if (!buf || max < 1)
        return STRING();
    char const* enq = Link.EnqString();
    snprintf(buf, static_cast<size_t>(max), "%s", enq ? enq : "");
    // The answerback goes to whoever sends ENQ: no stored secret in it.
    cptext::DropCredentialCodes(buf);
    int len = Link.MakeCtrl(buf, max);
    if (len < 0 || len >= max)
        len = max - 1;
    buf[len] = '\0';
    return STRING(buf);
}

int HOSTPUBLIC::WatchLearn(char direction, wchar_t ch)
{
    char upper = direction >= 'a' && direction <= 'z' ? static_cast<char>(direction - 'a' + 'A') : direction;
    if (upper != 'I' && upper != 'O')
        return 0;
    return Link.WatchLearn(upper, ch);
}

int HOSTPUBLIC::WatchWait(wchar_t ch)
{
    int rc = Link.WatchAutoLogin(ch);
    for (int script = 0; script < 2; ++script) {
        int n = Link.ScriptWatchWait(script, ch);
        if (n != 0)
            Link.ScriptWaitFound(script, n - 1);
    }
    return rc;
}

int HOSTPUBLIC::Ask(char const* title, char const* text, char* buf, int max, int flags, signed char* result)
{
    return Link.Ask(title, text, buf, max, flags, result);
}

int HOSTPUBLIC::AskUserPass(char const* title, char* user, char* pass, int* flags)
{
    return Link.AskUserPass(title, user, pass, flags);
}

int HOSTPUBLIC::AskPassphrase(char const* title, char const* text, char const* keyfile, char* pass, int* flags)
{
    return Link.AskPassphrase(title, text, keyfile, pass, flags);
}

STRING HOSTPUBLIC::AskFilename(char const* title, char const* mask, WINDOW const& owner)
{
    return Link.AskFilename(title, mask, owner);
}

STRING HOSTPUBLIC::AskSaveAsFilename(char const* title, char const* mask, WINDOW const& owner)
{
    return Link.AskSaveAsFilename(title, mask, owner);
}

int HOSTPUBLIC::EditSysColors(WINDOW& owner)
{
    return Link.EditSysColors(owner);
}

int HOSTPUBLIC::StartProgram(char const* program, char const* args, char const* folder, int flags)
{
    return Link.StartProgram(program, args, folder, flags);
}

int HOSTPUBLIC::WarningMsg(char const* text)
{
    return Link.WarningMessage(text);
}

void HOSTPUBLIC::DestroyIntroWin()
{
    Link.DestroyIntroWin();
}

int HOSTPUBLIC::PushFnctSelectFile(void* data, CONTROLID id, CONTROLPARENT parent, STRING* target)
{
    return Link.PushFnctSelectFile(data, id, parent, target);
}

int HOSTPUBLIC::PushFnctSelectFolder(void* data, CONTROLID id, CONTROLPARENT parent, STRING* target)
{
    return Link.PushFnctSelectFolder(data, id, parent, target);
}
