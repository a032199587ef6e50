// OSYS: counters, error texts, folders and names.
#include "velmot/core/osys.h"

#include "velmot/core/logit.h"
#include "platform/services/folders.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr char const* kSource = "osys";
}

bool OSYS::GetPerformanceCounter(unsigned long long* count, unsigned long long* frequency)
{
    if (count) {
        timespec ts;
        clock_gettime(CLOCK_MONOTONIC, &ts);
        *count = static_cast<unsigned long long>(ts.tv_sec) * 1000000000ULL + static_cast<unsigned long long>(ts.tv_nsec);
    }
    if (frequency)
        *frequency = 1000000000ULL;
    return true;
}

long long OSYS::RelTime(bool restart)
{
    static std::atomic<unsigned long long> mark{~0ULL};
    unsigned long long now = 0;
    GetPerformanceCounter(&now, nullptr);
    if (restart) {
        mark.store(now);
        return 0;
    }
    unsigned long long start = ~0ULL;
    if (mark.compare_exchange_strong(start, now))
        return 0; // the first call sets the mark
    return static_cast<long long>((now - start) / 1000000ULL);
}

STRING OSYS::GetLastErrorString(long code)
{
    int err = code == -4711 ? errno : static_cast<int>(code);
    char buf[512];
    char const* text = strerror_r(err, buf, sizeof buf);
    STRING rc(text);
    while (rc.Chop('\n') || rc.Chop('\r')) {
    }
    return rc;
}

STRING OSYS::GetCurrentDirectory()
{
    char buf[4096];
    if (!getcwd(buf, sizeof buf)) {
        AssertMsg(0, "rc", kSource, __LINE__, nullptr, false);
        return STRING("");
    }
    return STRING(buf);
}

bool OSYS::SetCurrentDirectory(char const* path)
{
    return path && chdir(path) == 0;
}

STRING OSYS::GetExeFilename()
{
    STRING rc(plat::StageRoot().c_str());
    if (rc.NotEmpty())
        rc.Append("/.");
    else
        AssertMsg(0, "rc.NotEmpty()", kSource, __LINE__, nullptr, false);
    return rc;
}

STRING OSYS::GetExePath()
{
    return STRING(plat::ExecutablePath().c_str());
}

STRING OSYS::GetBundleFileName()
{
    std::string exe = plat::ExecutablePath();
    size_t slash = exe.rfind('/');
    std::string name = slash == std::string::npos ? exe : exe.substr(slash + 1);
    if (name.empty())
        name = "Application";
    return STRING((name + ".app").c_str());
}

int OSYS::GetOSType()
{
    // The numbering only knows the versions of another platform.
    return -1;
}

STRING OSYS::GetOSTypeAsString()
{
    return STRING("<unknown>");
}

bool OSYS::FileExists(char const* path)
{
    struct stat st;
    return path && stat(path, &st) == 0;
}

STRING OSYS::GetSystemPath(int id)
{
    plat::Folder folder;
    switch (id) {
    case OSYSFOLDER_APPSUPPORT: folder = plat::Folder::AppSupport; break;
    case OSYSFOLDER_HOME: folder = plat::Folder::Home; break;
    case OSYSFOLDER_PICTURES: folder = plat::Folder::Pictures; break;
    case OSYSFOLDER_DESKTOP: folder = plat::Folder::Desktop; break;
    case OSYSFOLDER_APPSUPPORT_LOCAL: folder = plat::Folder::AppSupportLocal; break;
    case OSYSFOLDER_DOCUMENTS: folder = plat::Folder::Documents; break;
    case OSYSFOLDER_LIBRARY: folder = plat::Folder::Library; break;
    case OSYSFOLDER_LIBRARY_LOCAL: folder = plat::Folder::LibraryLocal; break;
    case OSYSFOLDER_LOGS: folder = plat::Folder::Logs; break;
    case OSYSFOLDER_DOWNLOADS: folder = plat::Folder::Downloads; break;
    case OSYSFOLDER_PREFERENCES: folder = plat::Folder::Preferences; break;
    default:
        AssertMsg(0, "FALSE", kSource, __LINE__, nullptr, false);
        return STRING("");
    }
    // Shared folders of the machine are looked up, never made.
    bool local = id == OSYSFOLDER_APPSUPPORT_LOCAL || id == OSYSFOLDER_LIBRARY_LOCAL;
    std::string path = plat::FolderPath(folder, !local);
    if (path.empty()) {
        char info[32];
        snprintf(info, sizeof info, "GetSystemPath %d", id);
        AssertMsg(0, "err==noErr", kSource, __LINE__, info, true);
        return STRING("");
    }
    return STRING(path.c_str());
}

// ---------------------------------------------------------------------------
// PERFORMANCETIMER

PERFORMANCETIMER::PERFORMANCETIMER(char const* name, bool logWhenDestroyed)
    : Name(name), LogWhenDestroyed(logWhenDestroyed), Start(0), Frequency(1)
{
    OSYS::GetPerformanceCounter(&Start, &Frequency);
}

PERFORMANCETIMER::~PERFORMANCETIMER()
{
    if (LogWhenDestroyed)
        LogResult();
}

double PERFORMANCETIMER::GetDuration()
{
    if (Stop == 0)
        OSYS::GetPerformanceCounter(&Stop, nullptr);
    return static_cast<double>(Stop - Start) / static_cast<double>(Frequency);
}

void PERFORMANCETIMER::LogResult()
{
    double seconds = GetDuration();
    LOGIT("PERFORMANCETIMER %s: %8.3lf sec (%1.2lf ms)\n", Name ? Name : "", seconds, seconds * 1000.0);
}
