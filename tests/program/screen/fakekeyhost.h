// A fake of what the key map and the translation tables ask of their
// session: every call becomes a line in Calls ("comm", "feed 61", "event
// 8488 20", "do hello", ...), so a test sees who was asked, in which order,
// and what was typed; the test decides who takes a key.
#pragma once

#include "program/screen/keymap.h"
#include "program/screen/translate.h"
#include "program/settings/programsettings.h"
#include "program/settings/sessionprofile.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace keytest {

class FAKEKEYHOST : public KEYMAPHOST, public TRANSLATEHOST {
public:
    FAKEKEYHOST()
        : ProfileData(std::make_unique<SESSIONPROFILEDATA>()), SettingsData(std::make_unique<PROGRAMSETTINGSDATA>())
    {
        memset(ProfileData.get(), 0, sizeof(SESSIONPROFILEDATA));
        memset(SettingsData.get(), 0, sizeof(PROGRAMSETTINGSDATA));
    }

    SESSIONPROFILEDATA const* Profile() override { return ProfileData.get(); }
    PROGRAMSETTINGSDATA const* Settings() override { return SettingsData.get(); }
    bool TestArg(char const* name) override { return Args.count(name) != 0; }
    std::string KeymapsFolderSetting() override { return KeymapsFolder; }
    std::string WorkFolder() override { return Work; }
    bool KeyState(int vk) override { return Keys.count(vk) != 0; }

    int ScriptProcessKey(KEYBOARDEVENT const&) override { return Take("script", ScriptTakes); }
    int OnEscape() override { return Take("escape", EscapeTakes); }
    int OnEscapeDial() override { return Take("escapedial", EscapeDialTakes); }
    int CommProcessKey(KEYBOARDEVENT const&) override { return Take("comm", CommTakes); }
    int EmulationProcessKey(KEYBOARDEVENT const& e) override
    {
        return Take(e.Flags & 0x100 ? "emu up" : "emu", EmuTakes);
    }
    int TabsProcessKey(KEYBOARDEVENT const&) override { return Take("tabs", TabsTakes); }
    bool ScrollbackKeysOff() override { return NoScrollbackKeys; }

    int DoStringWide(wchar_t const* text) override
    {
        std::string s;
        for (; *text; ++text)
            s += *text < 128 ? static_cast<char>(*text) : '?';
        Calls.push_back("do " + s);
        return 0;
    }
    void FeedKey(wchar_t key, bool raw) override
    {
        char line[24];
        snprintf(line, sizeof line, "%s %02x", raw ? "raw" : "feed", static_cast<unsigned>(key));
        Calls.push_back(line);
        Typed += static_cast<wchar_t>(key);
    }
    int ProcessEvent(int event, int arg) override { return Record("event", event, arg); }
    int PostEvent(int event, int arg) override { return Record("post", event, arg); }
    int ProcessMainEvent(int event, int arg) override { return Record("main", event, arg); }
    int PostMainEvent(int event, int arg) override { return Record("postmain", event, arg); }
    int DialByHotkey(int number, int flag) override { return Record("dial", number, flag); }
    bool IsTextMarked() override { return Marked; }
    void Wait(int ms) override { Record("wait", ms, 0); }
    void FlushInputBuffer(int keep) override { Record("flush", keep, 0); }
    bool IsPaused() override { return Paused; }
    void SetPaused(bool on) override
    {
        Paused = on;
        Calls.push_back(on ? "pause on" : "pause off");
    }
    void Notify(char const* text, int time) override { Calls.push_back("notify " + std::to_string(time)); }
    void EmulationPuts(char const* text) override { Calls.push_back("puts"); }
    MENU* MenuBar() override { return Menu; }
    void FileError(char const* path) override { FileErrors.push_back(path ? path : ""); }

    bool DoTrans() override { return Translating; }
    bool EmulationFlag(unsigned long mask) override { return (EmulationFlags & mask) != 0; }
    std::string TranslationFolderSetting() override { return TranslationFolder; }
    std::string OptionsFolder() override { return SettingsData->OptsPath; }

    // Lines since the last call.
    std::vector<std::string> Take()
    {
        std::vector<std::string> out;
        out.swap(Calls);
        Typed.clear();
        return out;
    }

    std::unique_ptr<SESSIONPROFILEDATA> ProfileData;
    std::unique_ptr<PROGRAMSETTINGSDATA> SettingsData;
    std::set<std::string> Args;
    std::set<int> Keys;
    std::string Work, KeymapsFolder, TranslationFolder;
    // How many of the next keys each one takes (-1: every key).
    int ScriptTakes = 0, EscapeTakes = 0, EscapeDialTakes = 0, CommTakes = 0, EmuTakes = 0, TabsTakes = 0;
    bool NoScrollbackKeys = false;
    bool Marked = false;
    bool Paused = false;
    bool Translating = true;
    unsigned long EmulationFlags = 0;
    MENU* Menu = nullptr;
    std::vector<std::string> Calls;
    std::vector<std::string> FileErrors;
    std::wstring Typed;

private:
    int Take(char const* who, int& takes)
    {
        Calls.push_back(who);
        if (takes == 0)
            return 0;
        if (takes > 0)
            --takes;
        return 1;
    }
    int Record(char const* what, int a, int b)
    {
        Calls.push_back(std::string(what) + " " + std::to_string(a) + (b ? " " + std::to_string(b) : ""));
        return 1;
    }
};

} // namespace keytest
