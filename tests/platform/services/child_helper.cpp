// A program the services tests start to see what a started program gets.
//
//   svc_child_helper state <file>   writes the open descriptors (one line,
//                                   blank-separated) and the ignored-signal
//                                   mask of /proc/self/status
//   <name> <args...>                under any other name (a fake
//                                   "xdg-open" or "xdg-screensaver"): writes
//                                   its arguments, each ended by a zero
//                                   byte, to $QOR_ARGDUMP and exits with
//                                   $QOR_FAKE_EXIT (default 0)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>

namespace {

int WriteState(char const* file)
{
    std::string fds;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return 2;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        // The listing's own descriptor is no inherited one.
        if (std::atoi(e->d_name) == dirfd(dir))
            continue;
        fds += std::string(e->d_name) + " ";
    }
    closedir(dir);
    std::string sigign;
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status))
            if (std::strncmp(line, "SigIgn:", 7) == 0)
                sigign = line + 7;
        std::fclose(status);
    }
    FILE* out = std::fopen(file, "w");
    if (!out)
        return 2;
    std::fprintf(out, "%s\n%s", fds.c_str(), sigign.c_str());
    return std::fclose(out) == 0 ? 0 : 2;
}

} // namespace

int main(int argc, char** argv)
{
    char const* base = std::strrchr(argv[0], '/');
    base = base ? base + 1 : argv[0];
    if (std::strcmp(base, "svc_child_helper") == 0) {
        if (argc == 3 && std::strcmp(argv[1], "state") == 0)
            return WriteState(argv[2]);
        return 2;
    }
    if (char const* dump = std::getenv("QOR_ARGDUMP")) {
        if (FILE* out = std::fopen(dump, "w")) {
            for (int i = 1; i < argc; ++i)
                std::fwrite(argv[i], 1, std::strlen(argv[i]) + 1, out);
            std::fclose(out);
        }
    }
    char const* code = std::getenv("QOR_FAKE_EXIT");
    return code ? std::atoi(code) : 0;
}
