// Small operations of the main window that other parts call: the title
// from its template, the window brought back for a message box, programs
// and the editor started from argument vectors, one-time notices, file
// errors, extension lists, instance numbers, dialog placement and the
// login text made from a learned record.
#include "program/shell/app.h"

#include "program/shell/helper.h"
#include "program/shell/qor.h"

#include "platform/services/fileio.h"
#include "platform/services/spawn.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/registry.h"
#include "velmot/core/tarvo.h"
#include "velmot/core/workdir.h"
#include "velmot/gui/appfunction.h"
#include "velmot/gui/windialog.h"
#include "velmot/gui/winicons.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

// The icon of the program's windows.
constexpr int kWindowIcon = 1000;

std::wstring Wide(char const* text)
{
    return WSTRING(text ? text : "", UNICODE_CPSYSTEM).Buf();
}

std::wstring ReplaceAll(std::wstring text, std::wstring const& what, std::wstring const& with)
{
    if (what.empty())
        return text;
    for (size_t pos = text.find(what); pos != std::wstring::npos; pos = text.find(what, pos + with.size()))
        text.replace(pos, what.size(), with);
    return text;
}

// The words of a text, split as the command line is (quotes hold blanks).
std::vector<std::string> Words(char const* text)
{
    std::vector<std::string> words;
    if (!text || !*text)
        return words;
    std::vector<char> buffer(text, text + strlen(text) + 1);
    char* argv[128] = {};
    int const n = TARVOAPP::MakeArgcArgv(buffer.data(), nullptr, argv, 127);
    for (int i = 0; i < n; ++i)
        words.emplace_back(argv[i]);
    return words;
}

std::string Trimmed(std::string s)
{
    size_t const a = s.find_first_not_of(" \t");
    if (a == std::string::npos)
        return std::string();
    size_t const b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

// A composed title without the blanks and the dangling " - " that empty
// placeholders leave ("%CUSTOMTITLE% - %QORORHOST%" while the host set no
// title).
std::wstring TidyTitle(std::wstring const& title)
{
    std::wstring out;
    for (wchar_t c : title)
        if (c != L' ' || (!out.empty() && out.back() != L' '))
            out += c;
    while (!out.empty() && out.back() == L' ')
        out.pop_back();
    while (out.rfind(L"- ", 0) == 0 || out == L"-")
        out.erase(0, std::min<size_t>(2, out.size()));
    while (out.size() >= 2 && out.compare(out.size() - 2, 2, L" -") == 0)
        out.resize(out.size() - 2);
    return out;
}

bool IsDirectory(std::string const& path)
{
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

// ---------------------------------------------------------------------------
// The title

std::wstring APP::ComposeTitle()
{
    CURRENTSESSIONPTR session(*this);
    std::wstring const host = session ? session->QueryCurrentHostWide() : std::wstring();
    std::wstring program = Wide(gTermName);
    std::wstring options;
    if (session) {
        FILENAME file = session->Prof.GetCurrentFilename();
        if (*file.Buf()) {
            LOGITSKIPNEXT("FILENAME", true);
            std::wstring rel = Wide(HELPER::RelOptsPath(*this, file.Buf()).Buf());
            LOGITSKIPNEXT(nullptr, false);
            if (rel.size() > 48)
                rel = L"..." + rel.substr(rel.size() - 48);
            options = L"(" + rel + L")";
        }
    }
    std::wstring connected;
    if (!host.empty())
        connected = Wide(OSYS::GetStringFromResource("IDS_CONNECT_TO").Buf()) + L" " + host;
    std::wstring suffix;
    if (gUnattended) {
        std::wstring u = Wide(OSYS::GetStringFromResource("IDS_UNATTENDED").Buf());
        if (!u.empty())
            u.back() = L']';
        suffix = L"[" + u;
    }
    std::wstring const templ = ProgSettings.data.WindowTitle;
    if (templ.empty()) {
        if (IsMinimized() && !host.empty())
            return host;
        std::wstring title = program + suffix;
        if (!IsMinimized()) {
            if (!connected.empty())
                title += L" " + connected;
            if (!options.empty())
                title += L" " + options;
        }
        return title;
    }
    LOGIT("APP::SetTitleBar found custom title %ls \n", templ.c_str());
    wchar_t const* customText = session ? session->EmuLayer.QueryCustomTitleWide() : nullptr;
    std::wstring const custom = customText ? customText : L"";
    if (!custom.empty())
        LOGIT("APP::SetTitleBar emulation customtitle %ls\n", custom.c_str());
    struct {
        wchar_t const* Name;
        std::wstring Value;
    } const table[] = {
        {L"%COMPUTERNAME%", Wide(OSYS::ComputerName().Buf())},
        {L"%VERSION%", Wide(gVersion)},
        {L"%HOST%", host},
        {L"%OPTIONS%", options},
        {L"%QORORHOST%", host.empty() ? program : host},
        {L"%CONNECTEDTOHOST%", connected},
        {L"%INSTANCE%", std::to_wstring(InstanceNo)},
        {L"%CUSTOMTITLE%", custom},
        {L"%HOSTRAW%", host},
    };
    std::wstring title = templ;
    for (auto const& row : table)
        title = ReplaceAll(title, row.Name, row.Value.substr(0, 255));
    title = TidyTitle(title);
    if (!suffix.empty())
        title += L" " + suffix;
    return title;
}

void APP::SetWindowTitle(wchar_t const* text)
{
    if (!TARVOAPP::IsMainThread()) {
        if (!text) {
            PostUserMessage(MSG_TITLE, 0, 0);
            return;
        }
        std::wstring copy = text;
        APPFUNCTION call(this, static_cast<void (APP::*)(wchar_t const*)>(&APP::SetWindowTitle), copy.c_str());
        call.CallFrom(*this);
        return;
    }
    if (Closing || !IsValid())
        return;
    std::wstring title = text ? std::wstring(text) : ComposeTitle();
    LOGIT("APP::SetTitleBar wtext= %ls\n", title.c_str());
    title = title.substr(0, 511);
    if (title != LastTitle && SetTextWide(title.c_str()))
        LastTitle = title;
    if (TitleIcon != kWindowIcon) {
        auto icon = std::make_shared<ICON>(static_cast<uint32_t>(kWindowIcon));
        if (icon->GetIconRef() && icon->AttachToWindow(GetWindow()) != 0) {
            TitleIconObj = icon;
            TitleIcon = kWindowIcon;
        }
    }
}

WINDOW& APP::RestoreMainWin()
{
    LOGIT("APP::RestoreMainWin\n");
    static WINDOW desktop(static_cast<plat::WindowRef>(nullptr));
    if (!IsValid() || Building[0] || Closing) {
        LOGIT("APP::RestoreMainWin done\n");
        return desktop;
    }
    if (IsMinimized())
        Restore();
    if (!IsVisible())
        Show(true);
    BringToForeground();
    SetWindowTitle(nullptr);
    LOGIT("APP::RestoreMainWin done\n");
    return *this;
}

// ---------------------------------------------------------------------------
// Programs and the editor

int APP::StartProgram(char const* program, char const* arguments, char const* folder, int mode)
{
    LOGIT("APP::StartProgram %s %s\n", program ? program : "", arguments ? arguments : "");
    unsigned long flags = (mode & 0xFF) ? (OSYS::STARTPROGRAM_WAIT | OSYS::STARTPROGRAM_KEEPEVENTS) : 0;
    switch ((mode >> 8) & 0xFF) {
    case 1:
        flags |= 0x02;
        break;
    case 2:
        flags |= 0x04;
        break;
    case 3:
        flags |= 0x08;
        break;
    default:
        break;
    }
    std::string path = program ? program : "";
    std::string start = folder ? folder : "";
    if (!path.empty() && path[0] == '!') {
        path.erase(0, 1);
        size_t const slash = path.rfind('/');
        if (slash != std::string::npos && IsDirectory(path.substr(0, slash)))
            start = path.substr(0, slash);
    }
    int code = 0;
    InStartProgram = true;
    bool const ok = !path.empty() && OSYS::StartProgram(path.c_str(), arguments, start.c_str(), folder, flags,
                                                        nullptr, &code);
    InStartProgram = false;
    int rc = 0;
    if (ok) {
        rc = ((code & 0x7FFF) << 16) | 1;
    } else {
        STRING text;
        text.Format(OSYS::GetStringFromResource("IDS_START_PROGRAM_FAILED").Buf(), path.c_str());
        ErrorMsg(text.Buf());
    }
    LOGIT("APP::StartProgram done, rc= %d\n", rc);
    return rc;
}

STRING APP::EditorExeName()
{
    LOGIT("APP::EditorExeName\n");
    char const* setting = ProgSettings.data.EditorExe;
    STRING name = !*setting || strcasecmp(setting, "<DEFAULT>") == 0 ? STRING("-t") : STRING(setting);
    LOGIT("APP::EditorExeName done, p= %s\n", name.Buf());
    return name;
}

STRING APP::ShellExeName()
{
    LOGIT("APP::ShellExeName\n");
    char const* setting = ProgSettings.data.ShellExe;
    STRING name = !*setting || strcasecmp(setting, "<DEFAULT>") == 0 ? STRING("/bin/sh") : STRING(setting);
    LOGIT("APP::ShellExeName done, p= %s\n", name.Buf());
    return name;
}

std::vector<std::string> APP::EditorCommand(char const* file, bool* inTab)
{
    std::string editor = EditorExeName().Buf();
    std::string const name = file ? file : "";
    std::vector<std::string> argv;
    if (inTab)
        *inTab = false;
    if (editor == "-t") {
        // The user's editor, else the desktop's text editor for the file.
        for (char const* variable : {"VISUAL", "EDITOR"}) {
            char const* value = getenv(variable);
            if (value && *value) {
                argv = Words(value);
                if (!argv.empty()) {
                    if (inTab)
                        *inTab = true;
                    break;
                }
            }
        }
        if (argv.empty()) {
            if (name.empty())
                return argv;
            argv = {"xdg-open"};
        }
    } else if (editor.size() > 1 && editor[0] == '"' && editor.find('"', 1) != std::string::npos) {
        // "program" and its own arguments behind the second quote.
        size_t const close = editor.find('"', 1);
        argv.push_back(Trimmed(editor.substr(1, close - 1)));
        for (std::string const& word : Words(Trimmed(editor.substr(close + 1)).c_str()))
            argv.push_back(word);
    } else {
        argv.push_back(editor);
    }
    if (!name.empty())
        argv.push_back(name);
    return argv;
}

namespace {

// A word for the local shell's command line: single quotes, a quote inside
// written as '\''.
std::string Quoted(std::string const& word)
{
    std::string out = "'";
    for (char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

} // namespace

void APP::EditFile(char const* file)
{
    LOGIT("APP::EditFile filename= %s\n", file ? file : "");
    std::string name = file ? file : "";
    if (name.empty()) {
        char title[256];
        MenuText(8155, sizeof title, title);
        std::string text = title;
        text = text.substr(0, text.find_first_of(".\t"));
        STRING const chosen = AskFilename(text.c_str(), WORKDIR::GetCurrent().Buf());
        if (chosen.IsEmpty()) {
            LOGIT("APP::EditFile done, no file chosen\n");
            return;
        }
        name = chosen.Buf();
    }
    bool inTab = false;
    std::vector<std::string> argv = EditorCommand(name.c_str(), &inTab);
    if (inTab) {
        // A terminal editor needs a terminal: it runs in a tab of its own.
        std::string command;
        for (std::string const& word : argv)
            command += (command.empty() ? "" : " ") + Quoted(word);
        TabProgram = command;
        NewSession(nullptr, nullptr, nullptr, nullptr, -1, 0, nullptr, nullptr, nullptr);
        TabProgram.clear();
    } else if (!argv.empty() && !argv[0].empty()) {
        int error = 0;
        pid_t const pid = plat::SpawnProgram(argv, {}, true, &error);
        if (pid < 0) {
            STRING text;
            text.Format(OSYS::GetStringFromResource("IDS_START_PROGRAM_FAILED").Buf(), argv[0].c_str());
            ErrorMsg(text.Buf());
        } else {
            plat::ReapLater(pid);
        }
    }
    LOGIT("APP::EditFile done\n");
}

// ---------------------------------------------------------------------------
// Notices and errors

bool APP::CheckOnce(char const* name)
{
    if (!name || !*name)
        return false;
    STRING app = OSYS::GetStringFromResource("IDS_TARVOAPPREGKEY");
    app.Append("\\ShowOnce");
    REGISTRY reg(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", app.Buf(), REGISTRY::READWRITE);
    DWORD value = 0;
    reg.Read(name, &value);
    if (value != 0)
        return false;
    reg.Write(name, static_cast<DWORD>(1));
    return true;
}

void APP::FileError(char const* name)
{
    int const err = errno;
    STRING text;
    text.Format(OSYS::GetStringFromResource("IDS_FILE_ERROR").Buf(), name ? name : "",
                OSYS::GetLastErrorString(err).Buf(), err == plat::fileio::kNotRegularFile ? 0 : err);
    ErrorMsg(text.Buf());
}

bool APP::ExtInList(char const* file, char const* list)
{
    if (!file || !list)
        return false;
    char const* base = strrchr(file, '/');
    base = base ? base + 1 : file;
    char const* dot = strrchr(base, '.');
    std::string const ext = dot ? dot + 1 : "";
    std::string entries;
    for (char const* p = list; *p && entries.size() < 259; ++p)
        if (*p != ' ')
            entries += *p;
    size_t start = 0;
    while (start < entries.size()) {
        size_t end = entries.find('|', start);
        if (end == std::string::npos)
            end = entries.size();
        std::string const entry = entries.substr(start, end - start);
        if (entry.empty())
            return false;
        bool match = false;
        for (size_t i = 0;; ++i) {
            if (i == ext.size()) {
                match = i == entry.size();
                break;
            }
            if (i == entry.size())
                break;
            if (entry[i] == '?')
                continue;
            if (tolower(static_cast<unsigned char>(entry[i])) != tolower(static_cast<unsigned char>(ext[i]))) {
                match = entry[i] == '*';
                break;
            }
        }
        if (match)
            return true;
        start = end + 1;
    }
    return false;
}

int APP::QueryNumQORs(int what)
{
    if (what != -1)
        return 0;
    int32_t howmany = -1;
    DARWINDOW::DeliverMessage(true, nullptr, nullptr, APPLICATION_MESSAGE, QOREVENT_QUERYWINDOWS,
                              reinterpret_cast<MSGWORD>(&howmany), 0);
    VASSERT(howmany != -1, "howmany!=-1", nullptr);
    return howmany;
}

void APP::MoveToRightBottom(DIALOG const& dialog)
{
    RECT const desktop = WINDOW(static_cast<plat::WindowRef>(nullptr)).GetRect();
    RECT const r = dialog.GetRect();
    int const w = r.right - r.left;
    int const h = r.bottom - r.top;
    dialog.Move(desktop.right - w, desktop.bottom - 32 - h, w, h);
}

// ---------------------------------------------------------------------------
// Learned logins

namespace {

struct LEARNRECORD {
    char Type;
    unsigned char Char;
};

std::string WaitItem(std::string const& wait)
{
    size_t end = wait.size();
    auto const counts = [](unsigned char c) { return c >= 33 || c == 26; };
    while (end > 0 && !counts(static_cast<unsigned char>(wait[end - 1])))
        --end;
    size_t begin = end;
    while (begin > 0 && end - begin < 10 && counts(static_cast<unsigned char>(wait[begin - 1])))
        --begin;
    if (begin == end)
        return std::string();
    std::string item = "W=";
    for (size_t i = begin; i < end; ++i) {
        unsigned char const c = static_cast<unsigned char>(wait[i]);
        if (c < 32) {
            item += '^';
            item += static_cast<char>(c + 64);
        } else {
            item += static_cast<char>(c);
        }
    }
    return item + "|";
}

void AppendSent(std::string& send, unsigned char c)
{
    if (send.size() >= 1024)
        return;
    if (c == '^')
        send += "^(5E)";
    else if (c == '|')
        send += "^(7C)";
    else if (c < 32) {
        send += '^';
        send += static_cast<char>(c + 64);
    } else
        send += static_cast<char>(c);
}

} // namespace

char* APP::ConvertLearn(STRING const& data)
{
    LOGIT("APP::ConvertLearn data= %.1024s\n", data.Buf());
    char* out = static_cast<char*>(calloc(2048, 1));
    if (!out)
        return nullptr;
    std::vector<LEARNRECORD> records;
    char const* p = data.Buf();
    size_t const n = static_cast<size_t>(data.StrLen);
    for (size_t pos = 0; pos + 1 < n;) {
        records.push_back(LEARNRECORD{p[pos], static_cast<unsigned char>(p[pos + 1])});
        pos += 2;
        if (pos < n && p[pos] == 1)
            ++pos;
    }
    std::string result;
    bool full = false;
    auto add = [&](std::string const& item) {
        if (full || item.empty())
            return;
        if (result.size() + item.size() > 2047) {
            full = true;
            return;
        }
        result += item;
    };
    std::string wait;
    size_t i = 0;
    while (i < records.size() && !full) {
        if (records[i].Type == 'I') {
            if (wait.size() < 256)
                wait += static_cast<char>(records[i].Char);
            ++i;
            continue;
        }
        add(WaitItem(wait));
        wait.clear();
        std::string send;
        int count = 0;
        while (i < records.size()) {
            LEARNRECORD const r = records[i++];
            ++count;
            if (r.Type == 'C')
                break;
            if (r.Type == 'I') {
                if (wait.size() < 256)
                    wait += static_cast<char>(r.Char);
                if (r.Char == 26)
                    break;
            } else if (r.Type == 'O') {
                wait.clear();
                AppendSent(send, r.Char);
            }
            if (wait.size() > 4 || count >= 512)
                break;
        }
        if (!send.empty())
            add("S=" + send + "|");
    }
    memcpy(out, result.data(), result.size());
    LOGIT("APP::ConvertLearn done\n");
    return out;
}
