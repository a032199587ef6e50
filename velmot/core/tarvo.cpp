// Process entry and the application base.
#include "velmot/core/tarvo.h"

#include "velmot/core/cocoa.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osysfile.h"
#include "velmot/core/stringarray.h"
#include "velmot/core/wstring.h"
#include "platform/services/folders.h"

#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// Constructed in this order and destroyed in the reverse order.
STRING gApplicationName("Application");
STRING gApplicationVersion("0.00");
STRING gApplicationCompanyName("Tarvo");
STRING gWorkDir(".");
STRING gHomeDir(".");
STRING gResourceDir(plat::ResourcesFolder().c_str());

namespace {

constexpr char const* kSource = "tarvo";

std::vector<STRING> gArgs;
int gLocale = LOCALE_ENGLISH;
DWORD gMainThreadId = 0;

TARVOAPP::HOOKFUNCTION gMainLoop = nullptr;
TARVOAPP::HOOKFUNCTION gPreferencesSync = nullptr;
TARVOAPP::HOOKFUNCTION gCleanup[TARVOAPP::CLEANUP_SLOTS] = {};

// The failed-call line of the library, with errno and its text.
void LogVerifyFailed(char const* expression, int line)
{
    int err = errno;
    LOGIT("%s WARNING! verify(%s) failed %s at %s %d with %d %s (Carbon) or %d %s (posix)\n", "DARWIN", expression,
          "", kSource, line, err, "", err, strerror(err));
}

bool IsSwitch(STRING const& arg)
{
    return arg.Length() > 0 && (arg[0] == '/' || arg[0] == '-');
}

// A "/" switch names `name` when the name is followed by ":" or ends the
// argument; a "-" switch when it is the name alone. A longer switch that only
// begins with the name (/LOGIT for LOG) does not count.
bool NamesSwitch(STRING const& arg, char const* name, bool* hasvalue)
{
    size_t n = strlen(name);
    if (!IsSwitch(arg) || strncasecmp(arg.Buf() + 1, name, n) != 0)
        return false;
    char next = arg.Buf()[1 + n];
    if (arg[0] == '-') {
        *hasvalue = true; // the value is the next argument
        return next == '\0';
    }
    *hasvalue = next == ':';
    return next == '\0' || next == ':';
}

std::string FolderOf(std::string const& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string Join(std::string const& folder, std::string const& name)
{
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string Trimmed(std::string const& line)
{
    size_t b = line.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return std::string();
    size_t e = line.find_last_not_of(" \t\r");
    return line.substr(b, e - b + 1);
}

void AppendArg(char const* text)
{
    LOGITARG(text);
    gArgs.emplace_back(text, UNICODE_CPDEFAULT);
}

} // namespace

// ---------------------------------------------------------------------------
// Process entry

int VelmotEntryPoint(int argc, char** argv, APPMAINFUNCTION appmain)
{
    // 1. Start the process's millisecond clock.
    OSYS::RelTime(false);

    // 2. Bringing the process to the front has no meaning before a window
    //    exists here; the window manager activates the first window shown.

    // 3. A write to a closed pipe or socket must fail with EPIPE, not end the
    //    process.
    struct sigaction old;
    if (sigaction(SIGPIPE, nullptr, &old) != 0) {
        LogVerifyFailed("err == 0 ", __LINE__);
    } else if (old.sa_handler != SIG_IGN) {
        struct sigaction ign;
        memset(&ign, 0, sizeof ign);
        ign.sa_handler = SIG_IGN;
        sigemptyset(&ign.sa_mask);
        if (sigaction(SIGPIPE, &ign, nullptr) != 0)
            LogVerifyFailed("err == 0 ", __LINE__);
    }

    // 4. Closed standard descriptors get /dev/null, so that the first files
    //    the program opens never become its standard input or output.
    int opened[3];
    int nopened = 0;
    for (int i = 0; i < 3; ++i) {
        int fd = open("/dev/null", O_RDONLY);
        if (fd < 0)
            break;
        if (fd >= 3) {
            close(fd);
            break;
        }
        opened[nopened++] = fd;
    }

    // 5. The argument vector: the program's own path first; a launch
    //    service argument "-psn_..." becomes "/APPLE-PSN:...".
    STRING self = OSYS::GetExeFilename();
    std::vector<STRING> items;
    items.emplace_back(self);
    for (int i = 1; i < argc; ++i) {
        if (argv[i] && strncmp(argv[i], "-psn_", 5) == 0)
            items.emplace_back(STRING("/APPLE-PSN:") || (argv[i] + 5));
        else
            items.emplace_back(argv[i] ? argv[i] : "");
    }
    std::vector<char*> newargv;
    for (auto& item : items)
        newargv.push_back(const_cast<char*>(item.Buf()));
    newargv.push_back(nullptr);

    // 6. Arguments, logging, language.
    TARVOAPP::InitArgsLoggingAndLocale(static_cast<int>(items.size()), newargv.data(), TARVOAPP::GetDefaultLocale());

    // 7. The program's own main function.
    std::vector<STRING> finalargs = gArgs;
    std::vector<char*> vec;
    for (auto& arg : finalargs)
        vec.push_back(const_cast<char*>(arg.Buf()));
    vec.push_back(nullptr);
    int exitcode = appmain(static_cast<int>(finalargs.size()), vec.data(), nullptr);

    // 8. Close the descriptors opened in step 4.
    for (int i = 0; i < nopened; ++i)
        close(opened[i]);

    // 9. Write the preferences.
    if (gPreferencesSync)
        gPreferencesSync();

    // 10.
    TARVOAPP::Cleanup(exitcode);
    return exitcode;
}

// ---------------------------------------------------------------------------
// Start and end

void TARVOAPP::InitArgsLoggingAndLocale(int argc, char** argv, int defaultlocale)
{
    gMainThreadId = OSYS::GetCurrentThreadId();
    gWorkDir = OSYS::GetCurrentDirectory();

    std::string bundle = OSYS::GetExeFilename().Buf(); // "<root>/."
    gHomeDir = FolderOf(bundle).c_str();
    if (!OSYS::SetCurrentDirectory(gHomeDir))
        LogVerifyFailed("chdir(gHomeDir) == 0 ", __LINE__);

    std::string bundlename = OSYS::GetBundleFileName().Buf(); // "qor.app"
    gApplicationName = bundlename.substr(0, bundlename.find('.')).c_str();

    setlocale(LC_CTYPE, "C.UTF-8");

    // Argument files, each read once, in this order.
    std::string appfile;
    if (bundlename.size() > 4) {
        std::string ext = bundlename.substr(bundlename.size() - 4);
        if (strcasecmp(ext.c_str(), ".app") == 0 || strcasecmp(ext.c_str(), ".exe") == 0)
            appfile = bundlename.substr(0, bundlename.size() - 4) + "_" + "commandline.ini";
    }
    std::string home = gHomeDir.Buf();
    std::string res = gResourceDir.Buf();
    std::string resparent = Join(res, "..");
    STRINGARRAY files;
    AddCommandlineFile(files, FILENAME(home.c_str(), "commandline.ini"));
    if (!appfile.empty())
        AddCommandlineFile(files, FILENAME(home.c_str(), appfile.c_str()));
    if (!res.empty()) {
        AddCommandlineFile(files, FILENAME(resparent.c_str(), "commandline.ini"));
        if (!appfile.empty())
            AddCommandlineFile(files, FILENAME(resparent.c_str(), appfile.c_str()));
        AddCommandlineFile(files, FILENAME(res.c_str(), "commandline.ini"));
        if (!appfile.empty())
            AddCommandlineFile(files, FILENAME(res.c_str(), appfile.c_str()));
    }
    if (!appfile.empty()) {
        FILENAME userhome(OSYS::GetSystemPath(OSYSFOLDER_HOME));
        if (userhome.IsDirectory()) {
            std::string dotfile = std::string(".").append(appfile, 0, appfile.size() - 4);
            AddCommandlineFile(files, FILENAME(userhome.Buf(), dotfile.c_str()));
        }
    }

    gArgs.clear();
    for (int i = 0; i < argc; ++i)
        AppendArg(argv[i] ? argv[i] : "");
    for (int f = 0; f < files.NumItems(); ++f) {
        STRING const& file = *files[f];
        STRINGARRAY lines;
        lines.Load(file.Buf(), false);
        for (int i = 0; i < lines.NumItems(); ++i) {
            STRING const& line = *lines[i];
            if (line.IsEmpty())
                continue;
            AppendArg(Trimmed(line.Buf()).c_str());
        }
        LOGIT("TARVOAPP processing of %s done\n", file.Buf());
    }

    LOGIT("TARVOAPP arguments acquired\n");
    for (size_t i = 0; i < gArgs.size(); ++i)
        LOGIT("TARVOAPP program argument %d= '%s'\n", static_cast<int>(i), gArgs[i].Buf());

    if (TestArgValue("STARTUPDELAY", 0)) {
        LOGIT("TARVOAPP sleeping for startupdelay\n");
        int seconds = atoi(GetArgValue("STARTUPDELAY", 0).Buf());
        if (seconds > 0)
            OSYS::Sleep(seconds * 1000);
    }

    STRING lang = GetArgValue("LANG", 0);
    if (strcasecmp(lang.Buf(), "GER") == 0)
        gLocale = LOCALE_GERMAN;
    else if (strcasecmp(lang.Buf(), "ENGL") == 0)
        gLocale = LOCALE_ENGLISH;
    else if (strcasecmp(lang.Buf(), "FRENCH") == 0)
        gLocale = LOCALE_FRENCH;
    else if (strcasecmp(lang.Buf(), "HUNGARIAN") == 0)
        gLocale = LOCALE_HUNGARIAN;
    else
        gLocale = defaultlocale;
}

void TARVOAPP::Cleanup(int exitcode)
{
    LOGIT("\n");
    LOGIT("Welcome back %s, you have safely returned to TARVOAPP with exit code %d\n", gApplicationName.Buf(), exitcode);
    LOGIT("Taxi to your hangar and have a pleasant stay.\n");
    LOGIT("Over and out.\n");
    LOGITARG("/LOGITCLOSE");
    BINARY::FlushCache();
    for (auto& fn : gCleanup) {
        if (fn) {
            HOOKFUNCTION f = fn;
            fn = nullptr;
            f();
        }
    }
}

int TARVOAPP::GetDefaultLocale()
{
    return COCOA::GetInstance()->GetDefaultLocale();
}

// ---------------------------------------------------------------------------
// Arguments

bool TARVOAPP::TestArg(char const* name)
{
    bool rc = false;
    for (auto const& arg : gArgs) {
        if (IsSwitch(arg) && strcasecmp(arg.Buf() + 1, name) == 0) {
            rc = true;
            break;
        }
    }
    LOGIT("TestArg(\"%s\") returned %d\n", name, rc);
    return rc;
}

bool TARVOAPP::TestArgValue(char const* name, int index)
{
    int found = 0;
    size_t n = strlen(name);
    for (auto const& arg : gArgs) {
        char const* a = arg.Buf();
        if (a[0] == '-' && strcasecmp(a + 1, name) == 0)
            ++found;
        else if (a[0] == '/' && strncasecmp(a + 1, name, n) == 0 && a[1 + n] == ':')
            ++found;
    }
    bool rc = found >= index + 1;
    LOGIT("TestArgValue(\"%s\", %d) returned %d\n", name, index, rc);
    return rc;
}

STRING TARVOAPP::GetArgValue(char const* name, int index)
{
    STRING rc("");
    size_t n = strlen(name);
    int seen = 0;
    for (size_t i = 0; i < gArgs.size(); ++i) {
        bool hasvalue = false;
        if (!NamesSwitch(gArgs[i], name, &hasvalue))
            continue;
        if (seen++ < index)
            continue;
        if (gArgs[i][0] == '/')
            rc = hasvalue ? STRING(gArgs[i].Buf() + 1 + n + 1) : STRING("");
        else
            rc = i + 1 < gArgs.size() ? gArgs[i + 1] : STRING("");
        break;
    }
    LOGIT("GetArgValue(\"%s\", %d) returned %s\n", name, index, rc.IsEmpty() ? "<NULL>" : rc.Buf());
    return rc;
}

int TARVOAPP::MakeArgcArgv(char* cmdline, char* argv0buffer, char** argv, int maxargs)
{
    int argc = 0;
    if (argv0buffer) {
        STRING self = OSYS::GetExeFilename();
        strcpy(argv0buffer, self.Buf());
        argv[argc++] = argv0buffer;
    }
    if (!cmdline) {
        argv[argc] = nullptr;
        return argc;
    }
    char* p = cmdline;
    while (*p == ' ')
        ++p;
    size_t len = strlen(p);
    while (len > 0 && p[len - 1] == ' ')
        p[--len] = '\0';

    while (*p && argc < maxargs - 2) {
        char* start = p;
        char endchar = ' ';
        if (*p == '"') {
            endchar = '"';
            start = p + 1;
        }
        char* end = strchr(start, endchar);
        if (!end)
            break;
        argv[argc++] = start;
        *end++ = '\0';
        while (*end == ' ')
            *end++ = '\0';
        p = end;
    }
    if (*p) {
        if (*p == '"')
            ++p; // an opening quote without its closing one
        if (*p)
            argv[argc++] = p;
    }
    argv[argc] = nullptr;
    return argc;
}

int TARVOAPP::ArgsFromString(char const* text, STRINGARRAY& out, char quote)
{
    out.DeleteAllItems();
    char buf[2048];
    snprintf(buf, sizeof buf, "%s", text ? text : "");
    size_t len = strlen(buf);

    // The name: letters, digits and "_" (a "!" may lead); the character
    // behind it ends it.
    size_t pos = 0;
    if (buf[pos] == '!')
        ++pos;
    while (pos < len && (isalnum(static_cast<unsigned char>(buf[pos])) || buf[pos] == '_'))
        ++pos;
    out.AppendItem(STRING(std::string(buf, pos).c_str()));
    if (pos < len)
        ++pos;
    while (pos < len && (buf[pos] == ' ' || buf[pos] == '('))
        ++pos;

    while (pos < len && buf[pos] != ')') {
        char c = buf[pos];
        size_t end;
        if (c == '"' || c == '\'' || (quote && c == quote)) {
            ++pos;
            end = pos;
            while (end < len && buf[end] != c)
                ++end;
            out.AppendItem(STRING(std::string(buf + pos, end - pos).c_str()));
            pos = end < len ? end + 1 : end;
        } else {
            end = pos;
            while (end < len && !isspace(static_cast<unsigned char>(buf[end])) && buf[end] != ',')
                ++end;
            out.AppendItem(STRING(std::string(buf + pos, end - pos).c_str()));
            pos = end;
        }
        while (pos < len && (isspace(static_cast<unsigned char>(buf[pos])) || buf[pos] == ','))
            ++pos;
    }
    return out.NumItems();
}

void TARVOAPP::AddCommandlineFile(STRINGARRAY& list, FILENAME const& file)
{
    if (!file.IsFile())
        return;
    for (int i = 0; i < list.NumItems(); ++i) {
        if (*list[i] == file)
            return;
    }
    list.AppendItem(STRING(file.Buf()));
}

STRING TARVOAPP::GetLogitArgsString()
{
    STRING rc("");
    for (auto const& arg : gArgs) {
        char const* a = arg.Buf();
        if ((a[0] == '/' || a[0] == '-') && strncasecmp(a + 1, "LOG", 3) == 0) {
            rc.Append(a);
            rc.Append(" ");
        }
    }
    rc.Chop(' ');
    return rc;
}

int TARVOAPP::ArgCount()
{
    return static_cast<int>(gArgs.size());
}

STRING TARVOAPP::Arg(int index)
{
    if (index < 0 || index >= static_cast<int>(gArgs.size()))
        return STRING();
    return gArgs[static_cast<size_t>(index)];
}

// ---------------------------------------------------------------------------
// Application facts

bool TARVOAPP::LoadLanguageDll(STRING const&, STRING const& appname, STRING const& version, char const* nameoverride)
{
    STRING name(nameoverride ? nameoverride : appname.Buf());
    if (name.NotEmpty())
        name[0] = static_cast<char>(toupper(static_cast<unsigned char>(name[0])));
    gApplicationName = name;
    gApplicationVersion = version;
    return true;
}

void TARVOAPP::SetApplicationName(char const* name, char const* version)
{
    gApplicationName = STRING(WSTRING(name ? name : "", 1252).Buf(), UNICODE_CPSYSTEM);
    gApplicationVersion = STRING(WSTRING(version ? version : "", 1252).Buf(), UNICODE_CPSYSTEM);
}

void TARVOAPP::SetCompanyName(char const* name)
{
    gApplicationCompanyName = name;
}

int TARVOAPP::GetLocale()
{
    return gLocale;
}

bool TARVOAPP::IsLocaleGerman()
{
    return gLocale == LOCALE_GERMAN;
}

STRING& TARVOAPP::GetGlobalWorkDir()
{
    return gWorkDir;
}

DWORD TARVOAPP::GetMainThreadId()
{
    return gMainThreadId;
}

bool TARVOAPP::IsMainThread()
{
    return OSYS::GetCurrentThreadId() == gMainThreadId;
}

void TARVOAPP::CheckCallerThread(char const* where)
{
    if (!IsMainThread())
        fprintf(stderr, "*** WARNING: THREADCHECK failed: %s ****\n", where ? where : "");
}

void TARVOAPP::InitialLogit(char const* appname, char const* version, char const* builddate)
{
    LOGIT("\n");
    LOGIT("TARVOAPP --- %s, you have clearance to enter your runway.\n", gApplicationName.Buf());
    LOGIT("Roger TARVOAPP, %s Version %s (compiled %s) is at\n", appname, version, builddate);
    LOGIT("current directory %s (exe directory) coming from\n", OSYS::GetCurrentDirectory().Buf());
    LOGIT("working directory %s (gWorkDir).\n", gWorkDir.Buf());
    LOGIT("Engines are running and we ready to fly over the beautiful %s (OS-ID %d %s) \n",
          OSYS::GetOSTypeAsString().Buf(), OSYS::GetOSType(), "Intel");
    LOGIT("TARVOAPP --- Roger %s, you have clearance to take off.  Good luck and have a safe flight...\n",
          gApplicationName.Buf());
    LOGIT("\n");
}

void TARVOAPP::MainDispatchLoop(void*, char const*)
{
    if (gMainLoop)
        gMainLoop();
}

void TARVOAPP::SetMainLoop(HOOKFUNCTION loop)
{
    gMainLoop = loop;
}

void TARVOAPP::SetPreferencesSync(HOOKFUNCTION sync)
{
    gPreferencesSync = sync;
}

void TARVOAPP::SetCleanupFunction(CLEANUPSLOT slot, HOOKFUNCTION fn)
{
    if (slot >= 0 && slot < CLEANUP_SLOTS)
        gCleanup[slot] = fn;
}
