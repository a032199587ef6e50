// The diagnostic log: switches, line format, file naming, the writer.
#include "velmot/core/logit.h"

#include "velmot/core/osys.h"
#include "velmot/core/osyssync.h"
#include "velmot/core/tarvo.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

volatile bool gDoLogit = false;

namespace {

constexpr int kLogBufSize = 8192;

// Switch state. The flags are read without the lock on every log call; they
// change only through LOGITARG.
std::atomic<bool> gLogitActive{false};
std::atomic<bool> gLogDebug{false};
std::atomic<uint32_t> gLogitFunc{0};
std::atomic<bool> gNoAssert{false};

// Guarded by the log lock.
FILE* ghLogit = nullptr;
bool gLogitKeep = false;
bool gLogitHard = false;
char gLogfileName[1024] = "";
bool gPrevLineFeed = true;
char gSkipPrefix[256] = "";
bool gSkipActive = false;
bool gSkipMultiple = false;

// The lock is made by the first log call and lives as long as the process,
// so a thread that logs while another closes the log, or a singleton that
// logs during clean-up, never meets a deleted lock.
MUTEXSEM* gpMux = nullptr;
std::once_flag gMuxOnce;
double gClockStart = 0.0;

// Set while this thread creates the log lock (the lock's own constructor
// traces) and while it reports an assertion from inside the writer.
thread_local int tlsInLogSetup = 0;

std::atomic<ASSERTQUESTIONHOOK> gAssertHook{nullptr};

void UpdateDoLogit()
{
    gDoLogit = gLogitActive.load() || gLogDebug.load();
}

double NowSeconds()
{
    unsigned long long count = 0;
    unsigned long long freq = 1;
    OSYS::GetPerformanceCounter(&count, &freq);
    return static_cast<double>(count) / static_cast<double>(freq);
}

MUTEXSEM* LogLock()
{
    std::call_once(gMuxOnce, [] {
        ++tlsInLogSetup;
        gClockStart = NowSeconds();
        gpMux = new MUTEXSEM(0, nullptr);
        --tlsInLogSetup;
    });
    return gpMux;
}

bool StartsWithNoCase(char const* text, char const* prefix)
{
    for (; *prefix; ++text, ++prefix) {
        if (std::tolower(static_cast<unsigned char>(*text)) != std::tolower(static_cast<unsigned char>(*prefix)))
            return false;
    }
    return true;
}

bool EqualsNoCase(char const* a, char const* b)
{
    return strcasecmp(a, b) == 0;
}

bool IsDevelopmentTree()
{
    struct stat st;
    return stat("main.cpp", &st) == 0 || stat("qor.pdb", &st) == 0;
}

// The default log file: "Tarvo_" + the bundle's file name with ".app" and
// ".exe" replaced by "_", upper-cased, + "logit.log", in the Logs folder.
std::string DefaultLogFile()
{
    if (IsDevelopmentTree())
        return "logit.log";
    STRING name = OSYS::GetBundleFileName();
    std::string bundle;
    for (char const* p = name.Buf(); *p;) {
        if (strncmp(p, ".app", 4) == 0 || strncmp(p, ".exe", 4) == 0) {
            bundle += '_';
            p += 4;
        } else {
            bundle += static_cast<char>(std::toupper(static_cast<unsigned char>(*p++)));
        }
    }
    return std::string(OSYS::GetSystemPath(OSYSFOLDER_LOGS).Buf()) + "Tarvo_" + bundle + "logit.log";
}

void CloseLog()
{
    MUTEXSEM* mux = LogLock();
    MUTEXLOCK guard(*mux);
    if (ghLogit && ghLogit != stdout && ghLogit != stderr)
        fclose(ghLogit);
    else if (ghLogit)
        fflush(ghLogit);
    ghLogit = nullptr;
    gLogfileName[0] = '\0';
    gLogitActive = false;
    UpdateDoLogit();
}

void OpenLog(char const* argument)
{
    char const* colon = strchr(argument, ':');
    std::string value = colon ? std::string(colon + 1) : std::string();

    std::string file;
    FILE* standard = nullptr;
    if (value.empty()) {
        file = DefaultLogFile();
    } else if (EqualsNoCase(value.c_str(), "CONSOLE")) {
        standard = stdout;
    } else if (EqualsNoCase(value.c_str(), "STDERR")) {
        standard = stderr;
    } else if (EqualsNoCase(value.c_str(), "UNIQUE")) {
        unsigned long long count = 0;
        unsigned long long freq = 1;
        OSYS::GetPerformanceCounter(&count, &freq);
        char name[96];
        snprintf(name, sizeof name, "LOGIT_%llu_%d_%X.log", OSYS::GetLTime(),
                 static_cast<int>((count / (freq / 1000)) % 1000), static_cast<unsigned>(getpid()));
        file = name;
    } else if (value[0] == '/') {
        file = value;
    } else {
        file = std::string(OSYS::GetSystemPath(OSYSFOLDER_LOGS).Buf()) + value;
    }

    if (gLogitActive || ghLogit)
        CloseLog();

    MUTEXSEM* mux = LogLock();
    {
        MUTEXLOCK guard(*mux);
        gLogitHard = StartsWithNoCase(argument, "/LOGITHARD");
        gLogitKeep = StartsWithNoCase(argument, "/LOGITKEEP");
        if (standard) {
            ghLogit = standard;
            snprintf(gLogfileName, sizeof gLogfileName, "%s", standard == stdout ? "CONSOLE" : "STDERR");
        } else {
            ghLogit = fopen(file.c_str(), gLogitKeep ? "ae" : "we");
            if (ghLogit) {
                if (gLogitHard)
                    setvbuf(ghLogit, nullptr, _IONBF, 0);
                snprintf(gLogfileName, sizeof gLogfileName, "%s", file.c_str());
            }
        }
        gPrevLineFeed = true;
        if (!ghLogit) {
            UpdateDoLogit();
            return; // logging stays off, silently
        }
        gLogitActive = true;
        UpdateDoLogit();
    }

    LOGIT("Logging starts at %s %s\n", OSYS::CurrentDate().Buf(), OSYS::CurrentTime().Buf());
    STRING self = OSYS::GetExePath();
    struct stat st;
    unsigned long size = 0;
    STRING when;
    if (stat(self.Buf(), &st) == 0) {
        size = static_cast<unsigned long>(st.st_size);
        when = OSYS::DateTimeFromLtime(static_cast<unsigned long long>(st.st_mtime));
    }
    LOGIT("Running as %s (%lu bytes, %s)\n", self.Buf(), size, when.Buf());
    LOGIT("SDK Mac OS X Versions: min required= %d, max_allowed= %d\n", 1040, 1060);
}

uint32_t NumberBehind(char const* argument, size_t prefixlen)
{
    return static_cast<uint32_t>(strtoul(argument + prefixlen, nullptr, 10));
}

} // namespace

// ---------------------------------------------------------------------------
// Writing

int LogitWriteV(int level, bool filtered, char const* format, va_list args)
{
    if (!gLogitActive && !gLogDebug)
        return 0;
    if (tlsInLogSetup)
        return 0;
    if (filtered) {
        uint32_t func = gLogitFunc.load();
        uint32_t lvl = static_cast<uint32_t>(level);
        if ((lvl & 0x0F) > (func & 0x0F))
            return 0;
        if ((lvl & ~0x0Fu) && !(lvl & ~0x0Fu & func))
            return 0;
        if (!format)
            return 1;
    }
    if (!format)
        return 0;

    double now = NowSeconds();
    MUTEXSEM* mux = LogLock();
    if (!gLogitActive && !gLogDebug)
        return 0;
    if (!mux->Obtain(-1)) {
        ++tlsInLogSetup;
        AssertMsg(0, "ok", "logit", __LINE__, nullptr, true);
        --tlsInLogSetup;
        return 0;
    }

    if (gSkipActive && strncmp(format, gSkipPrefix, strlen(gSkipPrefix)) == 0) {
        if (!gSkipMultiple)
            gSkipActive = false;
        mux->Release();
        return 0;
    }

    char buf[kLogBufSize];
    int len = 0;
    if (gPrevLineFeed) {
        len = snprintf(buf, sizeof buf, "[%07.3lf:%04x] ", now - gClockStart,
                       static_cast<unsigned>(OSYS::GetCurrentThreadId() & 0xFFFFF));
        if (len < 0)
            len = 0;
    }
    int room = kLogBufSize - 1 - len;
    if (!strchr(format, '%')) {
        size_t n = strnlen(format, static_cast<size_t>(room));
        memcpy(buf + len, format, n);
        len += static_cast<int>(n);
    } else {
        int n = vsnprintf(buf + len, static_cast<size_t>(room) + 1, format, args);
        if (n > 0)
            len += n < room ? n : room;
    }
    buf[len] = '\0';
    if (len > 0)
        gPrevLineFeed = buf[len - 1] == '\n';
    if (ghLogit)
        fwrite(buf, 1, static_cast<size_t>(len), ghLogit);
    mux->Release();
    return 1;
}

int LogitWrite(char const* format, ...)
{
    va_list args;
    va_start(args, format);
    int rc = LogitWriteV(0, false, format, args);
    va_end(args);
    return rc;
}

int LogifWrite(int level, char const* format, ...)
{
    va_list args;
    va_start(args, format);
    int rc = LogitWriteV(level, true, format, args);
    va_end(args);
    return rc;
}

void LOGITSKIPNEXT(char const* prefix, bool multiple)
{
    MUTEXSEM* mux = LogLock();
    MUTEXLOCK guard(*mux);
    if (prefix) {
        snprintf(gSkipPrefix, sizeof gSkipPrefix, "%s", prefix);
        gSkipActive = true;
    } else {
        gSkipPrefix[0] = '\0';
        gSkipActive = false;
    }
    gSkipMultiple = multiple;
}

uint32_t LogitLevelMask()
{
    return gLogitFunc.load();
}

char const* LogitFileName()
{
    return gLogfileName;
}

void LogitFlush()
{
    if (!gpMux)
        return;
    MUTEXLOCK guard(*gpMux);
    if (ghLogit)
        fflush(ghLogit);
}

// ---------------------------------------------------------------------------
// Switches

int LOGITARG(char const* argument)
{
    if (!argument || (argument[0] != '/' && argument[0] != '-'))
        return 0;
    // A leading "-" reads as "/".
    std::string arg = argument;
    arg[0] = '/';
    char const* a = arg.c_str();

    int matched = 1;
    if (EqualsNoCase(a, "/LOGIT") || StartsWithNoCase(a, "/LOGIT:") || EqualsNoCase(a, "/LOGITKEEP") ||
        StartsWithNoCase(a, "/LOGITKEEP:") || EqualsNoCase(a, "/LOGITHARD") || StartsWithNoCase(a, "/LOGITHARD:")) {
        OpenLog(a);
    } else if (EqualsNoCase(a, "/LOGDEBUG") || EqualsNoCase(a, "/LOGDBG")) {
        gLogDebug = true;
    } else if (StartsWithNoCase(a, "/LOG:")) {
        gLogitFunc |= NumberBehind(a, 5);
        if (!gLogitActive)
            OpenLog("/LOGIT");
        UpdateDoLogit();
        LOGIT("LogitLevel %08x\n", gLogitFunc.load());
    } else if (StartsWithNoCase(a, "/D:")) {
        gLogitFunc |= NumberBehind(a, 3);
        UpdateDoLogit();
        LOGIT("LogitLevel %08x\n", gLogitFunc.load());
    } else if (EqualsNoCase(a, "/LOGITCLOSE")) {
        CloseLog();
    } else if (EqualsNoCase(a, "/NOASSERT")) {
        gNoAssert = !gNoAssert;
    } else if (StartsWithNoCase(a, "/CRASHDUMP")) {
        // accepted; nothing to do here
    } else {
        matched = 0;
    }
    UpdateDoLogit();
    return matched;
}

// ---------------------------------------------------------------------------
// Assertions

ASSERTQUESTIONHOOK SetAssertQuestionHook(ASSERTQUESTIONHOOK hook)
{
    return gAssertHook.exchange(hook);
}

bool AssertQuestionsOff()
{
    return gNoAssert;
}

int AssertMsg(int condition, char const* expression, char const* file, int line, char const* info, bool quiet)
{
    if (condition)
        return 1;
    int lasterr = errno;

    // An assertion raised while reporting one (a folder that cannot be made,
    // say) is only logged.
    static thread_local int depth = 0;
    if (depth > 0) {
        LOGIT("*** ASSERTION FAILED (while reporting): %s at %s %d\n", expression ? expression : "<null>",
              file ? file : "<null>", line);
        return 1;
    }
    ++depth;

    std::string title = std::string(gApplicationCompanyName.Buf()) + " " + gApplicationName.Buf() + " (" +
                        gApplicationVersion.Buf() + ")";

    char errtext[512] = "";
    if (lasterr != 0)
        snprintf(errtext, sizeof errtext, "%s", OSYS::GetLastErrorString(lasterr).Buf());

    char const* shortfile = file ? file : "<null>";
    for (char const* p = shortfile; *p; ++p) {
        if (*p == ':' || *p == '/' || *p == '\\')
            shortfile = p + 1;
    }
    if (!info)
        info = "<null>";
    if (!expression)
        expression = "<null>";

    bool german = TARVOAPP::IsLocaleGerman();
    char report[4096];
    snprintf(report, sizeof report,
             german ? "    Bedingung: %s\n    Datei: %s Zeile %d\n    Code : %dL (%s)\n    Info : %s\n"
                    : "    Condition: %s\n    Location : %s line %d\n    Last Err.: %dL (%s)\n    Add. Info: %s\n",
             expression, shortfile, line, lasterr, errtext, info);

    char question[5120];
    snprintf(question, sizeof question,
             german ? "Es ist eine unerwartete Situation aufgetreten.\n\nBitte melden Sie die Umstaende des Fehlers "
                      "und die folgenden\nInformationen an uns (siehe auch Datei assert.log):\n\n%s\nWollen Sie "
                      "jetzt versuchen mit dem Programm fortzufahren?"
                    : "An unexpected condition has been encountered.\n\nPlease contact us via our web site and "
                      "provide the following information (logged in the assert.log file):\n\n%s\nDo you want to "
                      "try to continue with the program?",
             report);

    LOGIT("*** ASSERTION FAILED: \n%s\n", report);

    std::string appupper = gApplicationName.Buf();
    for (char& c : appupper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string assertfile = std::string(OSYS::GetSystemPath(OSYSFOLDER_LOGS).Buf()) +
                             gApplicationCompanyName.Buf() + "_" + appupper + "_Assert.log";
    if (FILE* f = fopen(assertfile.c_str(), "ae")) {
        fprintf(f, "--- %s --- %s %s ---\n\n", title.c_str(), OSYS::CurrentDate().Buf(), OSYS::CurrentTime().Buf());
        fprintf(f, "%s\n\n", report);
        fclose(f);
    }

    if (!gNoAssert && !quiet) {
        bool goon = true;
        if (ASSERTQUESTIONHOOK hook = gAssertHook.load())
            goon = hook(title.c_str(), question);
        else
            fprintf(stderr, "%s\n%s\n", title.c_str(), question);
        if (!goon) {
            LOGIT("AssertMsg: the user chose to stop the program\n");
            LogitFlush();
            fflush(nullptr);
            _exit(3);
        }
    }
    --depth;
    errno = lasterr;
    return 1;
}
