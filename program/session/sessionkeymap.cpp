// The session's key map and translation tables: what they ask of the
// session (KEYLINK) and the translation of received and sent bytes.
#include "program/session/session.h"

#include "platform/services/fileio.h"
#include "velmot/core/osys.h"
#include "velmot/core/tarvo.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

// ---------------------------------------------------------------------------
// Translation of the data road

bool SESSION::TranslateInActive()
{
    return Prof.data.DoTrans && Translation.Valid;
}

uint8_t const* SESSION::TranslateInTable()
{
    return Translation.Valid ? Translation.Inward : nullptr;
}

int SESSION::TranslateIn(int c)
{
    // Called for every received character; the received-data road has
    // asked the emulation once per pass whether its data may be
    // translated (TRANSLATE::Translate would ask again for every one).
    if (!Prof.data.DoTrans || !Translation.Valid || c < 0 || c > 255)
        return c;
    return Translation.Inward[c];
}

void SESSION::TranslateOut(char* data, int len)
{
    if (!data || len <= 0 || !Translation.Active())
        return;
    for (int i = 0; i < len; ++i)
        data[i] = static_cast<char>(Translation.Outward[static_cast<unsigned char>(data[i])]);
}

// ---------------------------------------------------------------------------
// KEYLINK

SESSIONPROFILEDATA const* SESSION::KEYLINK::Profile()
{
    return &S.Prof.data;
}

PROGRAMSETTINGSDATA const* SESSION::KEYLINK::Settings()
{
    return &S.Settings.data;
}

bool SESSION::KEYLINK::TestArg(char const* name)
{
    return TARVOAPP::TestArg(name);
}

std::string SESSION::KEYLINK::KeymapsFolderSetting()
{
    return S.Host.KeymapsFolder();
}

std::string SESSION::KEYLINK::TranslationFolderSetting()
{
    return S.Host.TranslationTablesFolder();
}

std::string SESSION::KEYLINK::OptionsFolder()
{
    return S.Settings.data.OptsPath;
}

std::string SESSION::KEYLINK::WorkFolder()
{
    return S.WorkFolder();
}

bool SESSION::KEYLINK::KeyState(int vk)
{
    return S.KeyState(vk);
}

int SESSION::KEYLINK::ScriptProcessKey(KEYBOARDEVENT const& event)
{
    return S.ScriptProcessKey(event);
}

int SESSION::KEYLINK::OnEscape()
{
    return S.OnEscape();
}

int SESSION::KEYLINK::OnEscapeDial()
{
    return S.OnEscapeDial();
}

int SESSION::KEYLINK::CommProcessKey(KEYBOARDEVENT const& event)
{
    return S.CommLayer.Device() ? S.CommLayer.ProcessKey(event) : 0;
}

int SESSION::KEYLINK::EmulationProcessKey(KEYBOARDEVENT const& event)
{
    return S.EmuLayer.UpAndRunning() ? S.EmuLayer.ProcessKey(event) : 0;
}

int SESSION::KEYLINK::TabsProcessKey(KEYBOARDEVENT const& event)
{
    return S.Host.TabsProcessKey(event) ? 1 : 0;
}

bool SESSION::KEYLINK::ScrollbackKeysOff()
{
    return S.Host.ScrollbackKeysOff();
}

int SESSION::KEYLINK::DoStringWide(wchar_t const* text)
{
    return S.DoStringWide(text);
}

void SESSION::KEYLINK::FeedKey(wchar_t key, bool raw)
{
    S.FeedKey(key, raw);
}

int SESSION::KEYLINK::ProcessEvent(int event, int arg)
{
    return S.ProcessEvent(event, arg, nullptr);
}

int SESSION::KEYLINK::PostEvent(int event, int arg)
{
    return S.PostEvent(event, static_cast<short>(arg), nullptr);
}

int SESSION::KEYLINK::ProcessMainEvent(int event, int arg)
{
    return S.Host.ProcessEvent(event, arg, nullptr);
}

int SESSION::KEYLINK::PostMainEvent(int event, int arg)
{
    return S.Host.PostEvent(event, arg, nullptr);
}

int SESSION::KEYLINK::DialByHotkey(int number, int flag)
{
    return S.DialByHotkey(number, flag);
}

bool SESSION::KEYLINK::IsTextMarked()
{
    return S.IsTextMarked();
}

void SESSION::KEYLINK::Wait(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SESSION::KEYLINK::FlushInputBuffer(int keep)
{
    S.CommLayer.FlushInputBuffer(keep);
}

bool SESSION::KEYLINK::IsPaused()
{
    return S.IsHeld();
}

void SESSION::KEYLINK::SetPaused(bool on)
{
    // Releasing the hold hands the data that waited to the screen.
    S.SetHold(on);
}

void SESSION::KEYLINK::Notify(char const* text, int time)
{
    S.Notify(text, time);
}

void SESSION::KEYLINK::EmulationPuts(char const* text)
{
    if (S.EmuLayer.UpAndRunning())
        S.EmuLayer.conputs(text, -1);
}

MENU* SESSION::KEYLINK::MenuBar()
{
    return S.Host.MenuBar();
}

void SESSION::KEYLINK::FileError(char const* path)
{
    int const error = errno;
    STRING text;
    text.Format(OSYS::GetStringFromResource("IDS_FILE_ERROR").Buf(), path ? path : "",
                OSYS::GetLastErrorString(error).Buf(), error == plat::fileio::kNotRegularFile ? 0 : error);
    S.ErrorMsg(text.Buf());
}

bool SESSION::KEYLINK::DoTrans()
{
    return S.Prof.data.DoTrans != 0;
}

bool SESSION::KEYLINK::EmulationFlag(unsigned long mask)
{
    return S.EmuLayer.UpAndRunning() && S.EmuLayer.CheckFlag(mask) != 0;
}
