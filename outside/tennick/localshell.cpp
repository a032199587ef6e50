#include "outside/tennick/localshell.h"

#include "plugins/sdk/emulationapi.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace {

std::string UserShell()
{
    char const* shell = getenv("SHELL");
    if (shell && *shell)
        return shell;
    if (passwd const* pw = getpwuid(getuid())) {
        if (pw->pw_shell && *pw->pw_shell)
            return pw->pw_shell;
    }
    return "/bin/sh";
}

// Appends text to the buffer at *used, within size (the child after fork
// may only call what is safe there: no allocation, no stdio).
void Append(char* buffer, size_t size, size_t* used, char const* text)
{
    while (text && *text && *used + 1 < size)
        buffer[(*used)++] = *text++;
    buffer[*used] = 0;
}

} // namespace

LOCALSHELL::LOCALSHELL(SUBSYSINITDATA const& init, int id) : TENNICKDEVICE(init, id, "Local Shell") {}

LOCALSHELL::~LOCALSHELL()
{
    Close();
}

std::vector<std::string> LOCALSHELL::SplitCommand(char const* text)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (char const* p = text ? text : ""; *p; ++p) {
        char c = *p;
        if (quote) {
            if (c == quote) {
                quote = 0;
            } else if (c == '\\' && quote == '"' && (p[1] == '"' || p[1] == '\\')) {
                word += *++p;
            } else {
                word += c;
            }
        } else if (c == '\'' || c == '"') {
            quote = c;
            inWord = true;
        } else if (c == '\\' && p[1]) {
            word += *++p;
            inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}

signed char LOCALSHELL::Open(char const* parm)
{
    Close();
    if (parm && *parm)
        Parm = parm;
    std::vector<std::string> args = SplitCommand(Options().c_str());
    bool const shell = args.empty();
    if (shell)
        args.push_back(UserShell());

    // Everything the child needs is made before the fork: after it, the
    // child only calls what is safe in a copy of a threaded process.
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string term = "TERM=" + TerminalName("xterm-256color");
    std::vector<char*> envp;
    for (char** e = environ; e && *e; ++e) {
        if (strncmp(*e, "TERM=", 5) != 0)
            envp.push_back(*e);
    }
    envp.push_back(term.data());
    envp.push_back(nullptr);
    winsize ws = {};
    int cols, rows;
    WindowSize(&cols, &rows);
    ws.ws_col = static_cast<unsigned short>(cols);
    ws.ws_row = static_cast<unsigned short>(rows);
    // What the terminal shows when the program cannot be started: its path
    // and the system's reason, filled in by the child.
    char const* const what = shell ? "the shell " : "the program ";
    // A shell starts in the user's home folder, as on any desktop terminal
    // (the program itself works in its own folder).
    char const* home = getenv("HOME");
    std::string const homeFolder = home && *home == '/' ? home : "";

    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
    if (pid < 0)
        return 1;
    if (pid == 0) {
        // No descriptor above 2 reaches the program; signals as a fresh
        // process has them.
        close_range(3, ~0U, 0);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int s : {SIGPIPE, SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGCHLD})
            signal(s, SIG_DFL);
        if (!homeFolder.empty() && chdir(homeFolder.c_str()) != 0) {
            // Stays where the program is.
        }
        execvpe(argv[0], argv.data(), envp.data());
        // strerrordesc_np reads a constant table: safe after the fork.
        char const* const reason = strerrordesc_np(errno);
        char failed[1024];
        size_t used = 0;
        Append(failed, sizeof failed, &used, "tennick: cannot start ");
        Append(failed, sizeof failed, &used, what);
        Append(failed, sizeof failed, &used, argv[0]);
        Append(failed, sizeof failed, &used, ": ");
        Append(failed, sizeof failed, &used, reason ? reason : "unknown error");
        Append(failed, sizeof failed, &used, "\r\n");
        ssize_t rc = write(2, failed, used);
        (void)rc;
        _exit(127);
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    if (!Gate.Attach(master)) {
        close(master);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return 1;
    }
    Child = pid;
    ExitStatus = -1;
    return 0;
}

bool LOCALSHELL::Reap(bool wait)
{
    if (Child <= 0)
        return true;
    int status = 0;
    pid_t rc = waitpid(Child, &status, wait ? 0 : WNOHANG);
    if (rc == Child || (rc < 0 && errno == ECHILD)) {
        ExitStatus = rc == Child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        Child = -1;
        return true;
    }
    return false;
}

void LOCALSHELL::Close()
{
    Gate.Detach();
    if (Child > 0) {
        kill(Child, SIGHUP);
        // A program that ignores the hang-up is ended after a moment.
        for (int i = 0; i < 50 && !Reap(false); ++i) {
            timespec pause = {0, 10 * 1000 * 1000};
            nanosleep(&pause, nullptr);
        }
        if (Child > 0) {
            kill(Child, SIGKILL);
            Reap(true);
        }
    }
}

int LOCALSHELL::QueryOnline()
{
    if (Child <= 0)
        return 0;
    if (Reap(false))
        return 0;
    // The terminal's far side is closed (the program ended, or left its
    // terminal behind): the connection is over, even before the process
    // has been reaped.
    return Gate.AtEnd() ? 0 : 1;
}

int LOCALSHELL::QuerySpeed()
{
    return 115200;
}

void LOCALSHELL::StatusText(char* buf)
{
    if (!buf)
        return;
    snprintf(buf, 4096, "LOCAL SHELL: %s\r\nPROCESS: %d\r\nLAST EXIT: %d\r\n", Parm.c_str(),
             static_cast<int>(Child), ExitStatus);
}

int LOCALSHELL::Write(char const* data, long len)
{
    if (!data || len <= 0)
        return 0;
    return Gate.Write(data, len, 5000) ? 1 : 0;
}

signed char LOCALSHELL::Read(char* buf, unsigned long* len)
{
    // The end of the stream is reported; the child is reaped on the main
    // thread (QueryOnline, Close), never here.
    return static_cast<signed char>(Gate.Read(buf, len));
}

signed char LOCALSHELL::Connect(char const*)
{
    return 1;
}

signed char LOCALSHELL::Disconnect()
{
    if (Child > 0)
        kill(Child, SIGHUP);
    return 1;
}

int LOCALSHELL::HandleDeviceCommand(char const* cmd, char* result, int max, void*)
{
    if (cmd && strncmp(cmd, "CALLINFO", 8) == 0) {
        CopyCut(result, max, "OK");
        return 1;
    }
    return 0;
}

signed char LOCALSHELL::TrackChanges()
{
    if (!Gate.Attached())
        return 0;
    winsize ws = {};
    int cols, rows;
    WindowSize(&cols, &rows);
    ws.ws_col = static_cast<unsigned short>(cols);
    ws.ws_row = static_cast<unsigned short>(rows);
    return ioctl(Gate.Fd(), TIOCSWINSZ, &ws) == 0 ? 1 : 0;
}
