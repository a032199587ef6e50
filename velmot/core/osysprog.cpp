// OSYS: starting programs, opening documents and URLs, login items.
//
// Programs are started from an argument vector (platform/services/spawn.h):
// no shell ever sees a command line, the new process gets only the
// descriptors 0 to 2, and nothing runs in it between fork and exec.
//
// Documents and URLs go to the desktop's opener instead of the "open"
// command of other systems:
//   ShellExecuteRun(file)                 xdg-open file
//   ShellExecuteRun(app, params)          app params        ("open -a app params")
//   ShellExecuteRun("-a app", params)     app params
//   ShellExecuteRun("-x ...", params)     xdg-open params   (other options of "open"
//                                                             have no counterpart)
//   ShowUrl(url)                          xdg-open url
// A program name without "/" is looked up on $PATH. Quotes around the file,
// the parameters and the folder are taken off, as the shell would have done.
#include "velmot/core/osys.h"

#include "velmot/core/cocoa.h"
#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"
#include "platform/services/dispatch.h"
#include "platform/services/folders.h"
#include "platform/services/spawn.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr char const* kSource = "osysprog";
constexpr int kMaxArgs = 64; // 63 entries and the closing null

std::atomic<OSYS::WAITEVENTSHOOK> gWaitEventsHook{nullptr};

bool IsFolder(char const* path)
{
    struct stat st;
    return path && *path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(char const* path)
{
    struct stat st;
    return path && *path && stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

// The window events belong to the main thread: another thread that waits
// with STARTPROGRAM_KEEPEVENTS only waits. Before the process entry has
// named a main thread, the caller is taken for it.
void RunPendingEvents()
{
    if (TARVOAPP::GetMainThreadId() != 0 && !TARVOAPP::IsMainThread())
        return;
    if (OSYS::WAITEVENTSHOOK hook = gWaitEventsHook.load())
        hook();
    else
        plat::PumpPendingTasks();
}

// Takes one pair of double quotes off both ends, as the shell would.
std::string Unquoted(char const* text, bool singleToo)
{
    std::string s = text ? text : "";
    if (s.size() >= 2 && (s.front() == '"' || (singleToo && s.front() == '\'')) && s.back() == s.front())
        return s.substr(1, s.size() - 2);
    return s;
}

} // namespace

void OSYS::SetWaitEventsHook(WAITEVENTSHOOK hook)
{
    gWaitEventsHook.store(hook);
}

bool OSYS::StartProgram(char const* program, char const* args, char const* folder, char const*, unsigned long flags,
                        int* pidOut, int* exitCode)
{
    int self = static_cast<int>(getpid());
    bool wait = (flags & STARTPROGRAM_WAIT) != 0;
    LOGIT("OSYS::StartProgram [pid= %d] %s %s (sync= %d)\n", self, program ? program : "<NULL>",
          args ? args : "<NULL>", wait);
    if (exitCode)
        *exitCode = -8;
    if (pidOut)
        *pidOut = 0;
    if (!program)
        return false;
    if (*program == '*' || *program == '#')
        ++program;

    std::string workdir = IsFolder(folder) ? std::string(folder) : std::string();

    // The command line, split by the application base's rules: the program
    // in quotes (so that blanks in its path hold), then the arguments.
    std::string cmdline;
    if (*program != '"')
        cmdline += '"';
    cmdline += program;
    if (*program != '"')
        cmdline += '"';
    if (args) {
        cmdline += ' ';
        cmdline += args;
    }
    std::vector<char> buffer(cmdline.begin(), cmdline.end());
    buffer.push_back('\0');
    char* argv[kMaxArgs + 1] = {};
    int argc = TARVOAPP::MakeArgcArgv(buffer.data(), nullptr, argv, kMaxArgs);
    if (argc <= 0 || !IsFile(argv[0])) {
        LOGIT("OSYS::StartProgram [pid= %d] executable %s is not a file\n", self, argc > 0 ? argv[0] : "");
        return false;
    }
    std::vector<std::string> vec(argv, argv + argc);

    int err = 0;
    pid_t pid = plat::SpawnProgram(vec, workdir, false, &err);
    bool ok = pid >= 0; // only a negative id is a failed start
    if (!ok)
        LOGIT("OSYS::StartProgram [pid= %d] cannot start %s: %s\n", self, vec[0].c_str(), strerror(err));

    if (ok && wait) {
        bool keepEvents = (flags & STARTPROGRAM_KEEPEVENTS) != 0;
        for (;;) {
            plat::ChildStatus st = plat::WaitChild(pid, !keepEvents);
            LOGIT("OSYS::StartProgram [pid= %d] after waitpid(%d), rcwaitpid= %d (%d=> %s), exited= %d, exitrc= %d\n",
                  self, static_cast<int>(pid), st.state == plat::ChildStatus::Gone ? -1 : static_cast<int>(pid),
                  st.state == plat::ChildStatus::Gone ? ECHILD : 0,
                  st.state == plat::ChildStatus::Gone ? strerror(ECHILD) : "OK",
                  st.state == plat::ChildStatus::Exited, st.state == plat::ChildStatus::Exited ? st.code : 0);
            if (st.state == plat::ChildStatus::Exited) {
                if (exitCode)
                    *exitCode = st.code;
                break;
            }
            if (st.state != plat::ChildStatus::Running) {
                ok = false; // ended by a signal, or no such child any more
                break;
            }
            RunPendingEvents();
            OSYS::Sleep(10);
        }
    }
    if (pidOut)
        *pidOut = pid > 0 ? static_cast<int>(pid) : 0;
    LOGIT("OSYS::StartProgram [pid= %d] done, ok= %d\n", self, ok);
    return ok;
}

bool OSYS::StartProgram(char const* program, char const* args, char const* unused, bool wait)
{
    return StartProgram(program, args, nullptr, unused, wait ? STARTPROGRAM_WAIT : 0, nullptr, nullptr);
}

bool OSYS::StartProgram(char const* program, char const* args, bool wait)
{
    return StartProgram(program, args, nullptr, nullptr, wait ? STARTPROGRAM_WAIT : 0, nullptr, nullptr);
}

int OSYS::StartProgramExitCode(char const* program, char const* args, char const* folder, char const* unused)
{
    int code = -8;
    if (!StartProgram(program, args, folder, unused, STARTPROGRAM_WAIT, nullptr, &code))
        code = -8;
    LOGIT("StartProgramExitCode returns %d\n", code);
    return code;
}

bool OSYS::ShellExecuteRun(void*, char const* file, char const* params, char const* folder)
{
    std::string dir = Unquoted(folder, false);
    std::string target;
    std::string opener;
    if (!params || !*params) {
        target = Unquoted(file, true);
    } else {
        target = Unquoted(params, false);
        std::string f = file ? file : "";
        if (!f.empty() && f[0] == '-') {
            // Options of the "open" command: only "-a <application>" names
            // something here; the others leave the choice to the desktop.
            if (f.size() > 3 && f.compare(0, 3, "-a ") == 0)
                opener = Unquoted(f.substr(3).c_str(), true);
        } else {
            opener = Unquoted(file, true);
        }
    }
    LOGIT("OSYS::ShellExecuteRun %s %s in %s\n", opener.empty() ? "<desktop>" : opener.c_str(), target.c_str(),
          dir.empty() ? "<current>" : dir.c_str());
    if (target.empty())
        return false;
    return plat::OpenDocument(target, dir, opener);
}

bool OSYS::ShowUrl(char const* url, OpaqueWindowPtr*)
{
    // A text starting with "-" is no address, and the opener would take it
    // for one of its options.
    if (!url || !*url || *url == '-')
        return false;
    LOGIT("OSYS::ShowUrl %s\n", url);
    return plat::OpenDocument(url);
}

bool OSYS::AutoRun(char const*, char const* cmdline)
{
    STRING self = OSYS::GetExeFilename();
    std::string exe = plat::ExecutablePath();
    if (!(cmdline == nullptr || strcmp(cmdline, "<self>") == 0 || strcmp(cmdline, self.Buf()) == 0 ||
          exe == cmdline))
        AssertMsg(0, "cmdline==NULL || STRING(cmdline)==\"<self>\" || STRING(cmdline)==fn", kSource, __LINE__,
                  cmdline, false);
    // The login item starts the program itself, the executable of the
    // stage the program runs from.
    return COCOA::GetInstance()->AddToLoginItems(exe.c_str(), cmdline != nullptr);
}
