// The command line of a main window: the argument list (with argument
// files), switch lookup, the start-up switches, the internal connect
// string, the start-up script and the hand-over of a new tab to a running
// instance.
#include "program/shell/app.h"

#include "program/shell/helper.h"

#include "program/screen/termfonts.h"
#include "program/settings/workfolder.h"

#include "platform/services/folders.h"
#include "velmot/core/hash.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/tarvo.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxArgFiles = 8;

bool EndsWithNoCase(std::string const& text, char const* tail)
{
    size_t const n = strlen(tail);
    return text.size() >= n && strcasecmp(text.c_str() + text.size() - n, tail) == 0;
}

bool StartsWithNoCase(std::string const& text, char const* head)
{
    return strncasecmp(text.c_str(), head, strlen(head)) == 0;
}

bool IsSwitch(std::string const& a)
{
    return !a.empty() && (a[0] == '/' || a[0] == '-');
}

bool IsFile(std::string const& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A file named on the command line or in an argument file, as a full path
// (from the folder the program was started in).
std::string Absolute(std::string const& name)
{
    if (name.empty() || name[0] == '/')
        return name;
    std::string base = TARVOAPP::GetGlobalWorkDir().Buf();
    if (base.empty() || base == ".") {
        char cwd[4096];
        base = getcwd(cwd, sizeof cwd) ? cwd : ".";
    }
    return base + (base.back() == '/' ? "" : "/") + name;
}

std::string ReplaceCurdir(std::string text, std::string const& curdir)
{
    return HELPER::Replace(text, "%CURDIR%", curdir.c_str());
}

// Appends to a fixed buffer, never past it.
void Put(char* dst, int size, std::string const& text)
{
    if (!dst || size <= 0)
        return;
    snprintf(dst, static_cast<size_t>(size), "%s", text.c_str());
}

// The private folder of hand-over files: the program's runtime folder
// (0700); empty without one.
std::string HandOverFile(long pid)
{
    std::string const folder = plat::FolderPath(plat::Folder::Runtime, true);
    return folder.empty() ? std::string() : folder + std::to_string(pid) + ".txt";
}

} // namespace

// ---------------------------------------------------------------------------
// Lookup

int APP::TestArg(char const* name)
{
    int found = 0;
    for (std::string const& a : ArgList) {
        if (IsSwitch(a) && name && strcasecmp(a.c_str() + 1, name) == 0) {
            found = 1;
            break;
        }
    }
    LOGIT("APP::TestArg(\"%s\") returned %d\n", name ? name : "", found);
    return found;
}

char const* APP::GetArgValue(char const* name, int* index)
{
    char const* value = nullptr;
    int at = -1;
    size_t const n = name ? strlen(name) : 0;
    for (size_t i = 0; name && i < ArgList.size(); ++i) {
        std::string const& a = ArgList[i];
        if (!IsSwitch(a) || a.size() < n + 1 || strncasecmp(a.c_str() + 1, name, n) != 0)
            continue;
        char const after = a.size() > n + 1 ? a[n + 1] : '\0';
        if (after == ':' || after == '=') {
            value = a.c_str() + n + 2;
            at = static_cast<int>(i);
            break;
        }
        // "-name value", or "-name value" in one argument.
        if (a[0] == '-' && i + 1 < ArgList.size() && (after == ' ' || after == '\0')) {
            char const* rest = after == ' ' ? a.c_str() + n + 2 : "";
            if (*rest) {
                value = rest;
                at = static_cast<int>(i);
            } else {
                value = ArgList[i + 1].c_str();
                at = static_cast<int>(i + 1);
            }
            break;
        }
    }
    if (value && !*value)
        value = nullptr;
    if (value && index)
        *index = at;
    LOGIT("GetArgValue(\"%s\") returned %s\n", name ? name : "",
          value ? HELPER::RedactLogin((std::string("/") + name + ":" + value).c_str()).c_str() + strlen(name) + 2
                : "<NULL>");
    return value;
}

int APP::CopyArgString(char const* name, char* dst, int size, int* index)
{
    if (dst && size > 0)
        memset(dst, 0, static_cast<size_t>(size));
    char const* value = GetArgValue(name, index);
    if (!value)
        return 0;
    if (dst && size > 0)
        snprintf(dst, static_cast<size_t>(size), "%s", value);
    return 1;
}

int APP::CopyArgValue(char const* name, unsigned long* out)
{
    char const* value = GetArgValue(name);
    if (!value)
        return 0;
    if (out)
        *out = static_cast<unsigned long>(atoi(value));
    return 1;
}

int APP::GetPortArg(int index, char* dst, int size)
{
    size_t const next = static_cast<size_t>(index) + 1;
    if (index < 0 || next >= ArgList.size() || !dst)
        return 0;
    std::string const& port = ArgList[next];
    if (port.empty())
        return 0;
    bool const known = (port[0] >= '0' && port[0] <= '9') || getservbyname(port.c_str(), "tcp") != nullptr;
    if (!known)
        return 0;
    std::string text = std::string(dst) + ":" + port;
    if (static_cast<int>(text.size()) >= size)
        return 0;
    Put(dst, size, text);
    return 1;
}

// ---------------------------------------------------------------------------
// The argument list

void APP::AddArgument(char const* text)
{
    if (static_cast<int>(ArgList.size()) >= MAXARGS) {
        // The list is full: further arguments are left out, never written
        // past it.
        AssertMsg(0, "acnt<ARRAYMAX(this->ArgList)-1", __FILE__, __LINE__, text, false);
        return;
    }
    ArgList.emplace_back(text);
}

void APP::ReadArgumentFiles(std::vector<std::string>& files)
{
    std::string const curdir = TARVOAPP::GetGlobalWorkDir().Buf();
    for (size_t f = 0; f < files.size(); ++f) {
        // Names are relative to the program's folder.
        std::string const path = files[f][0] == '/' ? files[f] : std::string(gHomePath.Buf()) + "/" + files[f];
        FILE* in = OPTSBASE::OpenFile(path.c_str());
        if (!in)
            continue;
        char line[256];
        while ((HELPER::ReadLine(line, sizeof line, in) > 0 || !feof(in)) && !ferror(in)) {
            if (!line[0])
                continue;
            std::string const text = ReplaceCurdir(line, curdir);
            if ((EndsWithNoCase(text, ".qsh") || EndsWithNoCase(text, ".qln")) && IsFile(Absolute(text))) {
                // A file named again is read once: a file naming itself
                // would otherwise read forever.
                std::string const full = Absolute(text);
                bool known = false;
                for (std::string const& done : files)
                    known = known || done == full;
                if (!known) {
                    if (static_cast<int>(files.size()) < kMaxArgFiles)
                        files.push_back(full);
                    else
                        AssertMsg(0, "extraargidx<ARRAYMAX(filenames)", __FILE__, __LINE__, text.c_str(), false);
                }
            } else {
                AddArgument(text.c_str());
            }
        }
        fclose(in);
    }
}

int APP::InitCommandlineArgs(int argc, char** argv)
{
    LOGIT("APP::InitCommandlineArgs\n");
    std::string curdir = TARVOAPP::GetGlobalWorkDir().Buf();
    while (curdir.size() > 1 && (curdir.back() == '\\' || curdir.back() == '/'))
        curdir.pop_back();
    if (argc > MAXARGS)
        AssertMsg(0, "argc<ARRAYMAX(this->ArgList)-1", __FILE__, __LINE__, nullptr, false);

    ArgList.clear();
    std::vector<std::string> files{"QOR.CFG"};
    for (int i = 1; i < argc && argv && argv[i]; ++i) {
        if (!argv[i][0])
            continue;
        std::string a = ReplaceCurdir(argv[i], curdir);
        if (i == 1 && EndsWithNoCase(a, ".qrx") && !StartsWithNoCase(a, "/RUN") && IsFile(Absolute(a)))
            a = "/RUN:" + a;
        AddArgument(a.c_str());
        if ((EndsWithNoCase(a, ".qsh") || EndsWithNoCase(a, ".qln")) && IsFile(Absolute(a))) {
            if (static_cast<int>(files.size()) < kMaxArgFiles)
                files.push_back(Absolute(a));
            else
                AssertMsg(0, "extraargidx<ARRAYMAX(filenames)", __FILE__, __LINE__, a.c_str(), false);
        }
    }
    LOGIT("APP::InitArgs QOR-INSTANCE-COUNT %d\n", InstanceNo);
    LOGIT("APP::InitArgs Current Directory= %s\n", curdir.c_str());
    ReadArgumentFiles(files);
    LOGIT("APP::InitArgs command line with %d arguments for this window\n", static_cast<int>(ArgList.size()));
    for (size_t i = 0; i < ArgList.size(); ++i)
        LOGIT("APP::InitArgs command line argument %d: %s\n", static_cast<int>(i),
              HELPER::RedactLogin(ArgList[i].c_str()).c_str());

    ApplyStartupSwitches();
    bool const workGiven = GetArgValue("WORKDIR") || GetArgValue("WD");
    LOGIT("APP::InitArgs workpath before admin-opts %s (isworkpathparm= %d)\n", gWorkPath, workGiven ? 1 : 0);
    // The work folder is the process's: a window that does not start gives
    // it back as it was.
    STRING const previousWork = WORKDIR::GetCurrent();
    if (workGiven)
        WORKDIR::SetCurrent(FILENAME(gWorkPath).Buf());
    ProgSettings.LoadAdminOpts(workGiven);
    int norun = ProgSettings.ConfigFolderCheck();
    if (norun != 0) {
        WORKDIR::SetCurrent(previousWork.Buf());
        FILENAME::ShellStringSet("%QORFILES%", previousWork.Buf(), false);
        return norun;
    }

    snprintf(gWorkPath, sizeof gWorkPath, "%s", FILENAME(WORKDIR::GetCurrent().Buf()).Buf());
    LOGIT("APP::InitArgs workpath expanded to %s\n", gWorkPath);
    FILENAME::ShellStringSet("%QORFILES%", gWorkPath, false);
    FILENAME::ShellStringSet("%QOR%", gHomePath.Buf(), false);
    FILENAME::ShellStringSet("%WORKDIR%", gWorkPath, true);

    ProgSettings.Init();
    char progcfg[260] = {};
    bool const ownSettings = CopyArgString("PROGCFG", progcfg, sizeof progcfg) != 0;
    ProgSettings.SetFilename(ownSettings ? progcfg : FILENAME(AdminRecord.DefaultProgramSettings).JustFile().Buf());
    // The import of settings of older releases arrives with its own work.

    InitConnectStringArgs(ConnectText, 256);
    if (TestArg("TABBED") && (ConnectText[0] || GetArgValue("O")))
        norun = HandleTabbedArg();
    if (norun == 0) {
        // The script "%QOR%\prestart.qrx" runs with the scripting layer.
        for (std::string const& a : ArgList) {
            bool const include = StartsWithNoCase(a, "/FI:");
            bool const exclude = StartsWithNoCase(a, "/FX:");
            if (!include && !exclude)
                continue;
            STRING& list = include ? gFontInclude : gFontExclude;
            if (list.NotEmpty())
                list.Append("|");
            list.Append(a.c_str() + 4);
        }
        TERMFONTS::SetFontFilters(gFontInclude.Buf(), gFontExclude.Buf());
        NoteUnavailableSwitches();
    }
    LOGIT("APP::InitCommandlineArgs done, norun= %d\n", norun);
    return norun;
}

void APP::ApplyStartupSwitches()
{
    if (TestArg("Q"))
        gQuiet = 1;
    if (TestArg("NOEATMODEMECHO"))
        gNoEatModemEcho = 1;
    gRestricted = 0;
    if (TestArg("U"))
        gUnattended = 1;
    if (TestArg("FBOLD"))
        gBoldFonts = 1;
    CopyArgString("O", gDefaultOptsFile, sizeof gDefaultOptsFile);
    if (char const* title = GetArgValue("TITLE"))
        CustomText = WSTRING(title, UNICODE_CPSYSTEM);
    unsigned long restrict = 0;
    if (CopyArgValue("RESTRICT", &restrict))
        gRestricted = static_cast<int>(restrict);
    // A hook library may set the restriction level; none is loaded.
    if (!CopyArgString("WORKDIR", gWorkPath, sizeof gWorkPath))
        CopyArgString("WD", gWorkPath, sizeof gWorkPath);
    if (!gWorkPath[0])
        snprintf(gWorkPath, sizeof gWorkPath, ".");
}

// ---------------------------------------------------------------------------
// The connect string

void APP::InitConnectStringArgs(char* dst, int size)
{
    if (!dst || size <= 0)
        return;
    dst[0] = 0;
    if (char const* event = GetArgValue("EVENT")) {
        struct NAMED {
            char const* Name;
            int Event;
        } const names[] = {{"EDITQOR", 8230}, {"EDITQFG", 8220}, {"EDITQTR", 8221}, {"EDITQKY", 8223}, {"EDITQTB", 8222}};
        std::string number = event;
        for (NAMED const& n : names) {
            if (strcasecmp(event, n.Name) == 0)
                number = std::to_string(n.Event);
        }
        Put(dst, size, "^EVENT=" + number);
    }
    if (char const* text = GetArgValue("AUTOSTRING"))
        Put(dst, size, text);
    if (char const* target = GetArgValue("CONNECT"))
        Put(dst, size, std::string("^CONNECT=") + target);
    char const* entry = GetArgValue("CALL");
    if (!entry)
        entry = GetArgValue("P");
    if (entry)
        Put(dst, size, std::string("^CALL=") + entry);
    int index = -1;
    if (char const* host = GetArgValue("RLOGIN", &index)) {
        Put(dst, size, std::string("^CONNECT=RLOGIN!") + host);
        GetPortArg(index, dst, size);
    }
    index = -1;
    if (char const* value = GetArgValue("SSH", &index)) {
        std::string target = value;
        char keyfile[128] = {};
        if (CopyArgString("SSHKEY", keyfile, sizeof keyfile) && target.find('@') != std::string::npos) {
            size_t at = target.find('@');
            std::string user = target.substr(0, at);
            std::string host = target.substr(at + 1);
            if (user.empty() || user.back() != ':')
                user += ":";
            // user:password:keyfile@host; a user part without password
            // leaves the password empty.
            target = user + ":" + keyfile + "@" + host;
        }
        if (target.compare(0, 2, "//") == 0)
            target = "?@" + target.substr(2);
        Put(dst, size, "^CONNECT=SSH!" + target);
        GetPortArg(index, dst, size);
    }
    InitTelnetArgs(dst, size);
    InitSshArgs(dst, size);
}

void APP::InitTelnetArgs(char* dst, int size)
{
    for (size_t i = 0; i < ArgList.size(); ++i) {
        std::string a = ArgList[i].substr(0, 255);
        if (StartsWithNoCase(a, "TELNET://") || StartsWithNoCase(a, "TN3270://")) {
            a = "/TELNET:" + a.substr(9);
            if (!a.empty() && a.back() == '/')
                a.pop_back();
        }
        size_t prefix = 0;
        if (StartsWithNoCase(a, "/TELNET:") || StartsWithNoCase(a, "/TN3270:") || StartsWithNoCase(a, "-telnet:"))
            prefix = 8;
        else if (StartsWithNoCase(a, "-telnet"))
            prefix = 7;
        else
            continue;
        size_t last = i;
        if (a.size() == prefix && i + 1 < ArgList.size()) {
            if (a.back() != ':')
                a += ":";
            a += ArgList[i + 1];
            prefix = a.size() - ArgList[i + 1].size();
            last = ++i;
        }
        std::string target = a.substr(std::min(prefix, a.size()));
        if (target.compare(0, 2, "//") == 0)
            target.erase(0, 2);
        Put(dst, size, "^CONNECT=TELNET!" + target);
        GetPortArg(static_cast<int>(last), dst, size);
    }
}

void APP::InitSshArgs(char* dst, int size)
{
    for (std::string const& arg : ArgList) {
        if (!StartsWithNoCase(arg, "SSH://"))
            continue;
        std::string rest = arg.substr(6);
        if (!rest.empty() && rest.back() == '/')
            rest.pop_back();
        Put(dst, size, "^CONNECT=SSH!?@" + rest);
    }
}

// ---------------------------------------------------------------------------
// The start-up script

int APP::InitScriptArgs(char* dst, int size, signed char* given)
{
    if (!dst || size <= 0)
        return 0;
    dst[0] = 0;
    char const* script = GetArgValue("RUN");
    if (!script)
        script = GetArgValue("S");
    if (given)
        *given = script ? 1 : 0;
    std::string text = script ? script : "Startup.qrx";
    // The script file (the first word, quotes allowed) resolved against the
    // script folder, and its arguments; valid when the file exists.
    std::string file, args;
    size_t pos = text.find_first_not_of(' ');
    if (pos != std::string::npos && text[pos] == '"') {
        size_t close = text.find('"', pos + 1);
        file = text.substr(pos + 1, close == std::string::npos ? std::string::npos : close - pos - 1);
        pos = close == std::string::npos ? text.size() : close + 1;
    } else if (pos != std::string::npos) {
        size_t blank = text.find(' ', pos);
        file = text.substr(pos, blank == std::string::npos ? std::string::npos : blank - pos);
        pos = blank == std::string::npos ? text.size() : blank;
    }
    size_t const argStart = text.find_first_not_of(' ', std::min(pos, text.size()));
    if (argStart != std::string::npos)
        args = text.substr(argStart, 519);
    if (file.empty())
        return 0;
    FILENAME path = file[0] == '/' ? FILENAME(file.c_str())
                                   : FILENAME(WORKDIR::GetCurrent().Buf(), ProgSettings.data.ScriptPath, file.c_str());
    if (!IsFile(path.Buf()))
        return 0;
    std::string result = path.Buf();
    if (!args.empty())
        result += " " + args;
    if (char const* runarg = GetArgValue("RUNARG"))
        result += "\n" + std::string(runarg).substr(0, 519);
    Put(dst, size, result);
    LOGIT("APP::InitFinal valid startup script with parm: %s\n", dst);
    return 1;
}

// ---------------------------------------------------------------------------
// Hand-over of a new tab to a running instance

int APP::HandleTabbedArg()
{
    LOGIT("APP::HandleTabbedArg\n");
    if (OSYS::GetCurrentProcessInstancesCount() < 2)
        return 0;
    long const pid = static_cast<long>(getpid());
    std::string const file = HandOverFile(pid);
    if (file.empty())
        return 0;
    char run[260] = {};
    char title[256] = {};
    CopyArgString("RUN", run, sizeof run);
    CopyArgString("TITLE", title, sizeof title);
    HASH keys;
    keys["ConnectTo"] = ConnectText;
    keys["SessionProfile"] = gDefaultOptsFile;
    keys["TabTitle"] = title;
    keys["RunScript"] = run;
    // Made anew by this process only, readable by its user only.
    unlink(file.c_str());
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return 0;
    STRING text = keys.AsString();
    bool written = write(fd, text.Buf(), static_cast<size_t>(text.Length())) == static_cast<ssize_t>(text.Length());
    written = close(fd) == 0 && written;
    if (!written) {
        unlink(file.c_str());
        return 0;
    }
    SendIpcMessage(0, IPC_CATEGORY | IPC_NEWTAB, static_cast<uint32_t>(pid));
    for (int i = 0; i < 15 && access(file.c_str(), F_OK) == 0; ++i)
        WINDOW::Sleep(100);
    if (access(file.c_str(), F_OK) == 0) {
        unlink(file.c_str());
        LOGIT("APP::HandleTabbedArg nobody took the tab\n");
        return 0;
    }
    LOGIT("APP::HandleTabbedArg a running instance took the tab\n");
    return 1;
}

// ---------------------------------------------------------------------------
// Switches of parts the program does not have yet

void APP::NoteUnavailableSwitches()
{
    struct PART {
        std::vector<char const*> Switches;
        char const* What;
    } const parts[] = {
        {{"CONNECT", "CALL", "P", "RLOGIN", "TN3270"}, "connecting to hosts"},
        {{"RUN", "S", "RUNARG"}, "scripts"},
        {{"KEY", "TT"}, "key maps and translation tables"},
    };
    Unavailable.clear();
    for (PART const& part : parts) {
        for (char const* name : part.Switches) {
            bool given = TestArg(name) || GetArgValue(name);
            // The bare form of the 3270 switch.
            for (std::string const& a : ArgList)
                given = given || (StartsWithNoCase(a, "tn3270://") && strcmp(name, "TN3270") == 0);
            if (!given)
                continue;
            std::string line = std::string("qor: the switch /") + name + " is not available yet (" + part.What +
                               " come with a later version of this program)";
            LOGIT("%s\n", line.c_str());
            fprintf(stderr, "%s\n", line.c_str());
            Unavailable.push_back(line);
        }
    }
}
