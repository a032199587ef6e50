// A program started through VelmotEntryPoint that reports what it was given:
// its arguments, its standard descriptors, its language, and the state of
// the descriptors after the entry point returned. Used by test_tarvo.
#include "velmot/core/tarvo.h"

#include <cstdio>
#include <cstdlib>
#include <limits.h>
#include <string>
#include <unistd.h>

namespace {

std::string FdTarget(int fd)
{
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX + 1];
    ssize_t n = readlink(link, target, PATH_MAX);
    if (n < 0)
        return "closed";
    return std::string(target, static_cast<size_t>(n));
}

void Say(const std::string& line)
{
    std::string text = line + "\n";
    if (write(1, text.data(), text.size()) < 0)
        _exit(99);
}

int AppMain(int argc, char** argv, char**)
{
    Say("ARGC " + std::to_string(argc));
    for (int i = 0; i < argc; ++i)
        Say("ARG " + std::to_string(i) + " [" + argv[i] + "]");
    if (argv[argc] != nullptr)
        Say("ARGV NOT TERMINATED");
    for (int fd = 0; fd < 3; ++fd)
        Say("FD " + std::to_string(fd) + " " + FdTarget(fd));
    Say("LOCALE " + std::to_string(TARVOAPP::GetLocale()));
    Say("APPNAME " + std::string(gApplicationName.Buf()));
    Say("MAINTHREAD " + std::to_string(TARVOAPP::IsMainThread()));
    TARVOAPP::InitialLogit("Probe", "1.0", "today");
    const char* code = getenv("PROBE_EXIT");
    return code ? atoi(code) : 0;
}

} // namespace

int main(int argc, char** argv)
{
    int rc = VelmotEntryPoint(argc, argv, &AppMain);
    for (int fd = 0; fd < 3; ++fd)
        Say("AFTER " + std::to_string(fd) + " " + FdTarget(fd));
    return rc;
}
