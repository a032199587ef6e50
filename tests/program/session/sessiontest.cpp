#include "tests/program/session/sessiontest.h"

#include "tests/support/testutil.h"
#include "velmot/core/registry.h"

#include <algorithm>
#include <chrono>
#include <cwchar>
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

std::string TestEmuBundle()
{
    return QOR_TESTEMU_SO;
}

std::string YelbrinBundle()
{
    return QOR_YELBRIN_SO;
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

int FAKESESSION::WarningMessage(char const* text)
{
    Warnings.emplace_back(text ? text : "");
    return 1;
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

EMUSESSION::EMUSESSION() : Screen(nullptr, &Scrollback)
{
    SESSIONPROFILE::Init(&Prof);
    Prof.CodePage = 1252;
    Prof.WinWidth = 80;
    Prof.WinHeight = 24;
    Scrollback.MakeScrollback(100, nullptr);
    Layer = new EMULATION(*this);
    Layer->Initialize();
}

EMUSESSION::~EMUSESSION()
{
    delete Layer;
    Layer = nullptr;
}

namespace {

std::string Narrow(wchar_t const* text, long len)
{
    std::string out;
    for (long i = 0; i < len; ++i) {
        wchar_t c = text[i];
        if (c < 32 || c >= 127) {
            char hex[16];
            snprintf(hex, sizeof hex, "<%x>", static_cast<unsigned>(c));
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

} // namespace

int EMUSESSION::AddScrollLine(VIOCELL const* cells, int count, signed char notify)
{
    Scrollback.AddLine(cells, count, notify);
    std::wstring text;
    for (int i = 0; i < count; ++i)
        text += cells[i].c ? static_cast<wchar_t>(cells[i].c) : L' ';
    while (!text.empty() && text.back() == L' ')
        text.pop_back();
    Log.push_back("scrollline " + Narrow(text.c_str(), static_cast<long>(text.size())));
    return 1;
}

int EMUSESSION::LogWide(wchar_t const* text, int len)
{
    Log.push_back("log " + Narrow(text, len));
    return 1;
}

int EMUSESSION::Bell()
{
    Log.push_back("bell");
    return 1;
}

int EMUSESSION::FeedKeys(wchar_t const* keys, int count, signed char raw)
{
    if (count < 0)
        count = static_cast<int>(wcslen(keys));
    Log.push_back(std::string(raw ? "rawkeys " : "feedkeys ") + Narrow(keys, count));
    return 1;
}

int EMUSESSION::ProcessEvent(int event, int arg, char const* text)
{
    Log.push_back("event " + std::to_string(event) + (arg ? " " + std::to_string(arg) : "") +
                  (text ? std::string(" ") + text : ""));
    return 1;
}

void EMUSESSION::TrackChanges(bool)
{
    Log.push_back("trackchanges");
    int cols = Prof.WinWidth, rows = Prof.WinHeight;
    Layer->TrackSize(&cols, &rows, 0);
}

void EMUSESSION::HexDump(char const* data, int len)
{
    Log.push_back("hexdump " + std::string(data, static_cast<size_t>(len)));
}

uintptr_t EMUSESSION::SendMainWindowMessage(int message, uintptr_t p1, uintptr_t p2)
{
    Log.push_back("mainmsg " + std::to_string(message) + " " + std::to_string(p1) + " " + std::to_string(p2));
    return 0;
}

bool EMUSESSION::MainWindowRect(RECT* rect)
{
    *rect = Frame;
    return true;
}

void EMUSESSION::MoveMainWindow(RECT const& rect)
{
    Frame = rect;
    Log.push_back("movemain " + std::to_string(rect.left) + "," + std::to_string(rect.top) + " " +
                  std::to_string(rect.right - rect.left) + "x" + std::to_string(rect.bottom - rect.top));
}

void* EMUSESSION::PrinterOpen(signed char flag)
{
    ++JobsOpened;
    Log.push_back("printeropen " + std::to_string(JobsOpened) + " raw=" + std::to_string(flag));
    return reinterpret_cast<void*>(static_cast<uintptr_t>(JobsOpened));
}

int EMUSESSION::PrinterClose(void* job)
{
    Log.push_back("printerclose " + std::to_string(reinterpret_cast<uintptr_t>(job)));
    return 1;
}

int EMUSESSION::SetLedMode(int mode)
{
    Log.push_back("ledmode " + std::to_string(mode));
    return 0;
}

int EMUSESSION::MakeCtrlWide(wchar_t* text, int size)
{
    // "^!" becomes the break marker; every other text stays.
    LastMakeCtrlSize = size;
    std::wstring out;
    for (wchar_t const* p = text; *p; ++p) {
        if (p[0] == L'^' && p[1] == L'!') {
            out += wchar_t(0xFFF8);
            ++p;
        } else {
            out += *p;
        }
    }
    wcsncpy(text, out.c_str(), static_cast<size_t>(size - 1));
    text[size - 1] = 0;
    return static_cast<int>(wcslen(text));
}

std::vector<std::string> EMUSESSION::Take()
{
    std::vector<std::string> out;
    out.swap(Log);
    return out;
}

std::string EMUSESSION::Row(int y)
{
    wchar_t text[512] = {};
    int width = 0, height = 0;
    Screen.GetWinSize(&width, &height);
    int len = std::min(width, 511);
    signed char wrapped = 0;
    Screen.GetString(text, &len, 0, y, &wrapped);
    std::wstring w(text, static_cast<size_t>(std::max(len, 0)));
    while (!w.empty() && (w.back() == L' ' || w.back() == 0))
        w.pop_back();
    std::string out;
    for (wchar_t c : w)
        out += c < 128 && c >= 32 ? static_cast<char>(c) : '?';
    return out;
}

std::string EMUSESSION::Custom(char const* text)
{
    char answer[4096] = {};
    Layer->HandleCustomEvent(text, answer, sizeof answer, nullptr);
    return answer;
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
