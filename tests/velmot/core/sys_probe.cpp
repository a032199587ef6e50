// A second process for the system-services tests: it takes unique ids,
// reads registry values, listens for instance notifications, holds shared
// memory and lists its open descriptors, and writes what it saw into a file
// the test reads. Every wait is bounded.
//
//   sys_probe uniqueid <count> <outfile>
//   sys_probe regread <app> <outfile>
//   sys_probe listen <outfile> <timeout-ms>
//   sys_probe shmhold <name> <readyfile>
//   sys_probe shmtry <name> <timeout-ms>
//   sys_probe fds <outfile>
//
// SYSPROBE_MACHINE_PREFS, when set, is the folder of the any-user
// preferences (so that a test run as root never writes the system's).
#include "velmot/core/ipcbroadcast.h"
#include "velmot/core/osys.h"
#include "velmot/core/registry.h"
#include "velmot/core/sharedmem.h"
#include "platform/services/dispatch.h"
#include "platform/services/prefs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <unistd.h>

namespace {

int UniqueIds(int count, char const* outfile)
{
    FILE* out = fopen(outfile, "w");
    if (!out)
        return 2;
    for (int i = 0; i < count; ++i) {
        fprintf(out, "a %u\n", OSYS::GetUniqueId());
        fprintf(out, "b %llu\n", OSYS::GetUniqueId64());
    }
    return fclose(out) == 0 ? 0 : 2;
}

int RegRead(char const* app, char const* outfile)
{
    FILE* out = fopen(outfile, "w");
    if (!out)
        return 2;
    REGISTRY reg(app, "Software\\Tarvo\\", 1);
    DWORD number = 0;
    if (reg.Read("Number", &number))
        fprintf(out, "number %d\n", static_cast<int>(number));
    BINARY data;
    if (reg.Read("Data", &data)) {
        fprintf(out, "data");
        for (int i = 0; i < data.Length(); ++i)
            fprintf(out, " %02x", static_cast<unsigned char>(data.Buffer[i]));
        fprintf(out, "\n");
    }
    STRING text;
    if (reg.Read("Text", &text))
        fprintf(out, "text %s\n", text.Buf());
    return fclose(out) == 0 ? 0 : 2;
}

class LISTENER : public IPCBROADCAST {
public:
    explicit LISTENER(FILE* out) : Out(out) {}
    void IpcNotificationCallback(char const* text) override
    {
        fprintf(Out, "got %s\n", text);
        fflush(Out);
        ++Received;
    }
    int Received = 0;

private:
    FILE* Out;
};

int Listen(char const* outfile, int timeoutMs)
{
    FILE* out = fopen(outfile, "w");
    if (!out)
        return 2;
    {
        LISTENER listener(out);
        fprintf(out, listener.IsListening() ? "ready\n" : "deaf\n");
        fflush(out);
        for (int waited = 0; waited < timeoutMs && listener.Received == 0; waited += 10) {
            plat::PumpPendingTasks();
            usleep(10000);
        }
    }
    return fclose(out) == 0 ? 0 : 2;
}

int ShmHold(char const* name, char const* readyfile)
{
    SHAREDMEMORY shm(name, 64);
    char* p = nullptr;
    char* q = nullptr;
    if (!shm.Lock(&p, 1000) || !shm.Lock(&q, 1000))
        return 2;
    strcpy(p, "left by the holder");
    FILE* ready = fopen(readyfile, "w");
    if (!ready)
        return 2;
    fclose(ready);
    sleep(60); // killed by the test long before
    return 0;
}

int ShmTry(char const* name, int timeoutMs)
{
    SHAREDMEMORY shm(name, 64);
    char* p = nullptr;
    if (!shm.Lock(&p, timeoutMs))
        return 1;
    shm.Unlock(p);
    return 0;
}

int Fds(char const* outfile)
{
    FILE* out = fopen(outfile, "w");
    if (!out)
        return 2;
    int self = fileno(out);
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return 2;
    while (dirent* e = readdir(dir)) {
        int fd = atoi(e->d_name);
        if (e->d_name[0] != '.' && fd > 2 && fd != self && fd != dirfd(dir))
            fprintf(out, "%d\n", fd);
    }
    closedir(dir);
    return fclose(out) == 0 ? 0 : 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (char const* folder = getenv("SYSPROBE_MACHINE_PREFS"))
        plat::SetPrefFolder(plat::PrefScope::AnyUserCurrentHost, folder);
    std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "uniqueid" && argc == 4)
        return UniqueIds(atoi(argv[2]), argv[3]);
    if (cmd == "regread" && argc == 4)
        return RegRead(argv[2], argv[3]);
    if (cmd == "listen" && argc == 4)
        return Listen(argv[2], atoi(argv[3]));
    if (cmd == "shmhold" && argc == 4)
        return ShmHold(argv[2], argv[3]);
    if (cmd == "shmtry" && argc == 4)
        return ShmTry(argv[2], atoi(argv[3]));
    if (cmd == "fds" && argc == 3)
        return Fds(argv[2]);
    fprintf(stderr, "sys_probe: unknown command\n");
    return 64;
}
