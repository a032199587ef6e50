#include "tests/support/testutil.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace testutil {

TempDir::TempDir()
{
    const char* home = std::getenv("HOME");
    std::string base = std::string(home ? home : "/tmp") + "/tmp";
    std::filesystem::create_directories(base);
    std::string templ = base + "/t.XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        std::abort();
    path_ = buf.data();
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

int RunProgram(const std::vector<std::string>& argv, std::string* out, const std::string& input)
{
    int outpipe[2];
    int inpipe[2];
    if (pipe2(outpipe, O_CLOEXEC) != 0)
        return -1;
    if (pipe2(inpipe, O_CLOEXEC) != 0) {
        close(outpipe[0]);
        close(outpipe[1]);
        return -1;
    }
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        dup2(inpipe[0], 0);
        dup2(outpipe[1], 1);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(inpipe[0]);
    close(outpipe[1]);
    size_t off = 0;
    while (off < input.size()) {
        ssize_t n = write(inpipe[1], input.data() + off, input.size() - off);
        if (n <= 0)
            break;
        off += static_cast<size_t>(n);
    }
    close(inpipe[1]);
    std::string collected;
    char buf[4096];
    ssize_t n;
    while ((n = read(outpipe[0], buf, sizeof buf)) > 0)
        collected.append(buf, static_cast<size_t>(n));
    close(outpipe[0]);
    int status = 0;
    if (waitpid(pid, &status, 0) < 0)
        return -1;
    if (out)
        *out = collected;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunInChild(const std::function<int()>& fn)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        int rc = fn();
        fflush(nullptr);
        _exit(rc);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) < 0)
        return -1;
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string SourceDir()
{
    const char* dir = std::getenv("QOR_TEST_SOURCE_DIR");
    return dir ? dir : "tests";
}

} // namespace testutil
