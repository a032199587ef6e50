#include "tests/program/session/sessiontest.h"

#include "tests/support/testutil.h"
#include "velmot/core/registry.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace sessiontest {

namespace fs = std::filesystem;

STAGE::STAGE(std::vector<std::pair<std::string, std::string>> const& bundles)
{
    char const* home = getenv("HOME");
    char templ[512];
    snprintf(templ, sizeof templ, "%s/stageXXXXXX", home ? home : "/tmp");
    Root = mkdtemp(templ);
    fs::create_directories(PlugIns());
    fs::create_directories(Root + "/share/qor");
    char const* stage = getenv("QOR_STAGE_DIR");
    Previous = stage ? stage : "";
    if (!Previous.empty())
        fs::create_directory_symlink(Previous + "/share/qor/Resources", Root + "/share/qor/Resources");
    for (auto const& b : bundles)
        Add(b.first, b.second);
    setenv("QOR_STAGE_DIR", Root.c_str(), 1);
}

STAGE::~STAGE()
{
    if (Previous.empty())
        unsetenv("QOR_STAGE_DIR");
    else
        setenv("QOR_STAGE_DIR", Previous.c_str(), 1);
    std::error_code ec;
    fs::remove_all(Root, ec);
}

void STAGE::Add(std::string const& built, std::string const& name)
{
    fs::copy_file(built, PlugIns() + "/" + name, fs::copy_options::overwrite_existing);
}

void STAGE::AddFile(std::string const& name, std::string const& content)
{
    std::ofstream(PlugIns() + "/" + name) << content;
}

std::string TennickBundle()
{
    return QOR_TENNICK_SO;
}

std::string TestPlugBundle()
{
    return QOR_TESTPLUG_SO;
}

std::string NoEntryBundle()
{
    return QOR_NOENTRY_SO;
}

void ForgetDictionary()
{
    REGISTRY reg(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", "QOR6\\Subsystems", REGISTRY::READWRITE);
    for (char const* name : {"Dictionary.DEV", "Dictionary.EMU", "Dictionary.XFR"})
        reg.DeleteValue(name);
}

FAKESESSION::FAKESESSION()
{
    Prof.ActiveDevice = 11;
    Prof.CodePage = 1252;
    Settings.SubsysDevNetwork = Settings.SubsysHalbrin = Settings.SubsysDevMisc = 1;
    Settings.SubsysCorvane = Settings.SubsysEmuIBM = Settings.SubsysEmuMisc = 1;
}

void FAKESESSION::ComDataNotification(bool force)
{
    std::lock_guard<std::mutex> guard(Lock);
    if (Pending && !force)
        return;
    Pending = true;
    Posted.fetch_add(1);
    Cond.notify_all();
}

bool FAKESESSION::TakeNotification(int timeout_ms)
{
    std::unique_lock<std::mutex> guard(Lock);
    Cond.wait_for(guard, std::chrono::milliseconds(timeout_ms), [this] { return Pending; });
    bool was = Pending;
    Pending = false;
    return was;
}

void FAKESESSION::ErrorMsg(char const* text)
{
    Errors.emplace_back(text ? text : "");
}

void FAKESESSION::WarningMessage(char const* text)
{
    Warnings.emplace_back(text ? text : "");
}

void FAKESESSION::RunEventScript(char const* args)
{
    Scripts.emplace_back(args ? args : "");
}

int FAKESESSION::CallHook(int hook, void* a, void* b)
{
    Calls.push_back("hook " + std::to_string(hook));
    if (hook == 4 && HookSet) {
        char* data = static_cast<char*>(a);
        int* len = static_cast<int*>(b);
        memcpy(data, HookReplace.data(), HookReplace.size());
        *len = static_cast<int>(HookReplace.size());
    }
    return 0;
}

int FAKESESSION::MakeCtrl(char* text, int size)
{
    // "^M" -> CR, "^J" -> LF, "^%" -> "user", "^&" -> "secret", "^^" -> "^".
    std::string out;
    for (char const* p = text; *p; ++p) {
        if (p[0] == '^' && p[1]) {
            char c = *++p;
            if (c == 'M')
                out += '\r';
            else if (c == 'J')
                out += '\n';
            else if (c == '%')
                out += "user";
            else if (c == '&')
                out += "secret";
            else
                out += c;
        } else {
            out += *p;
        }
    }
    snprintf(text, static_cast<size_t>(size), "%s", out.c_str());
    return static_cast<int>(strlen(text));
}

int FAKESESSION::WatchLearn(char direction, wchar_t ch)
{
    Calls.push_back(std::string("learn ") + direction + static_cast<char>(ch));
    return 1;
}

int FAKESESSION::WatchAutoLogin(wchar_t ch)
{
    Calls.push_back(std::string("autologin ") + static_cast<char>(ch));
    return 0;
}

int FAKESESSION::ScriptWatchWait(int script, wchar_t ch)
{
    Calls.push_back("wait " + std::to_string(script) + " " + static_cast<char>(ch));
    return ScriptFind[script];
}

int FAKESESSION::ScriptWaitFound(int script, int index)
{
    Calls.push_back("found " + std::to_string(script) + " " + std::to_string(index));
    return 0;
}

int NULLEMULATION::QueryUnixName(int, char* dst)
{
    strcpy(dst, UnixName.c_str());
    return 1;
}

int NULLEMULATION::QueryWinSize(int* c, int* r)
{
    *c = Cols;
    *r = Rows;
    return 1;
}

namespace {

int CountEntries(char const* dir)
{
    DIR* d = opendir(dir);
    if (!d)
        return -1;
    int n = 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] != '.')
            ++n;
    }
    closedir(d);
    return n - (strcmp(dir, "/proc/self/fd") == 0 ? 1 : 0); // the listing's own
}

} // namespace

int OpenDescriptors()
{
    return CountEntries("/proc/self/fd");
}

int Threads()
{
    return CountEntries("/proc/self/task");
}

bool WaitFor(std::function<bool()> const& cond, int timeout_ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace sessiontest
