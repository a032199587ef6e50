#include "outside/welkam/sshtext.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace welkam {

namespace {

constexpr size_t kMaxText = 255;

bool AllDigits(std::string const& s)
{
    return !s.empty() && s.size() <= 5 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int PortOf(std::string const& s)
{
    if (!AllDigits(s))
        return -1;
    int n = atoi(s.c_str());
    return n >= 1 && n <= 65535 ? n : -1;
}

bool StartsWith(std::string const& s, char const* head)
{
    return s.compare(0, strlen(head), head) == 0;
}

// ssh expands "%" tokens in a control path.
std::string PercentSafe(std::string const& path)
{
    std::string out;
    for (char c : path) {
        out += c;
        if (c == '%')
            out += '%';
    }
    return out;
}

} // namespace

PARMS ParseParms(std::string const& options)
{
    PARMS p;
    std::string text = options.substr(0, 1024);
    size_t bar = text.find('|');
    std::string port = text.substr(0, bar);
    while (!port.empty() && port.back() == ' ')
        port.pop_back();
    int n = PortOf(port);
    p.Port = n > 0 ? n : 0;
    if (bar != std::string::npos)
        p.ConfigFile = text.substr(bar + 1);
    return p;
}

std::string FormatParms(PARMS const& parms)
{
    std::string text = parms.Port > 0 ? std::to_string(parms.Port) : "";
    if (!parms.ConfigFile.empty())
        text += "|" + parms.ConfigFile;
    return text;
}

std::string EscapeField(std::string const& text)
{
    std::string out;
    for (char c : text) {
        if (c == '%')
            out += "%25";
        else if (c == '|')
            out += "%7C";
        else
            out += c;
    }
    return out;
}

std::string UnescapeField(std::string const& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            std::string code = text.substr(i + 1, 2);
            if (strcasecmp(code.c_str(), "7C") == 0) {
                out += '|';
                i += 2;
                continue;
            }
            if (code == "25") {
                out += '%';
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

bool ParseCallinfo(char const* text, CALLINFO* out)
{
    if (!text || strncmp(text, "CALLINFO", 8) != 0 || (text[8] != '|' && text[8] != '\0'))
        return false;
    CALLINFO info;
    std::string rest(text + 8, strnlen(text + 8, 2048));
    std::vector<std::string> fields;
    size_t at = 0;
    while (at < rest.size() && rest[at] == '|' && fields.size() < 3) {
        size_t next = fields.size() == 2 ? std::string::npos : rest.find('|', at + 1);
        fields.push_back(rest.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1));
        at = next == std::string::npos ? rest.size() : next;
    }
    if (fields.size() > 0)
        info.User = UnescapeField(fields[0]);
    if (fields.size() > 1)
        info.Password = UnescapeField(fields[1]);
    if (fields.size() > 2) {
        std::string key = fields[2];
        if (!key.empty() && key[0] == '*') {
            info.GlobalKey = true;
            key.erase(0, 1);
        }
        info.KeyFile = UnescapeField(key);
    }
    if (out)
        *out = std::move(info);
    return true;
}

bool ParseTarget(char const* text, TARGET* out, std::string* reason)
{
    auto fail = [&](char const* why) {
        if (reason)
            *reason = why;
        return false;
    };
    if (!text)
        return fail("no host");
    std::string t(text, strnlen(text, 4096));
    size_t tab = t.find('\t');
    if (tab != std::string::npos)
        t.resize(tab);
    if (StartsWith(t, "ssh://"))
        t.erase(0, 6);
    while (!t.empty() && t.back() == '/')
        t.pop_back();
    if (t.size() > kMaxText)
        return fail("the host name is too long");
    for (unsigned char c : t) {
        if (c <= ' ' || c == 0x7F)
            return fail("the host name holds blanks or control characters");
    }
    TARGET target;
    size_t at = t.rfind('@');
    if (at != std::string::npos) {
        target.User = t.substr(0, at);
        t.erase(0, at + 1);
    }
    std::string port;
    if (!t.empty() && t[0] == '[') {
        size_t close = t.find(']');
        if (close == std::string::npos)
            return fail("a bracket of the address is not closed");
        target.Host = t.substr(1, close - 1);
        std::string after = t.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':')
                return fail("text after the address");
            port = after.substr(1);
        }
    } else if (std::count(t.begin(), t.end(), ':') == 1) {
        size_t colon = t.find(':');
        target.Host = t.substr(0, colon);
        port = t.substr(colon + 1);
    } else {
        target.Host = t;
    }
    if (!port.empty()) {
        target.Port = PortOf(port);
        if (target.Port < 0)
            return fail("the port is not a number from 1 to 65535");
    }
    if (target.Host.empty())
        return fail("no host");
    if (target.Host[0] == '-' || (!target.User.empty() && target.User[0] == '-'))
        return fail("a host or user name may not start with '-'");
    if (out)
        *out = std::move(target);
    return true;
}

QUESTION ParseQuestion(std::string const& frame)
{
    QUESTION q;
    size_t nl = frame.find('\n');
    q.Hint = nl == std::string::npos ? std::string() : frame.substr(0, nl);
    q.Text = nl == std::string::npos ? frame : frame.substr(nl + 1);
    std::string const& p = q.Text;
    static char const kPassphrase[] = "Enter passphrase for key '";
    static char const kPassword[] = "'s password:";
    if (p.find("continue connecting") != std::string::npos || p.find("Please type 'yes'") != std::string::npos ||
        q.Hint == "confirm") {
        q.Kind = PROMPT::HostKey;
    } else if (StartsWith(p, kPassphrase)) {
        size_t start = sizeof kPassphrase - 1;
        size_t end = p.rfind("':");
        if (end != std::string::npos && end >= start) {
            q.Kind = PROMPT::Passphrase;
            q.KeyFile = p.substr(start, end - start);
        }
    } else {
        std::string trimmed = p;
        while (!trimmed.empty() && trimmed.back() == ' ')
            trimmed.pop_back();
        size_t tail = trimmed.size() >= sizeof kPassword - 1 ? trimmed.size() - (sizeof kPassword - 1) : std::string::npos;
        if (tail != std::string::npos && trimmed.compare(tail, std::string::npos, kPassword) == 0 &&
            trimmed.find('\n') == std::string::npos) {
            std::string who = trimmed.substr(0, tail);
            size_t at = who.rfind('@');
            q.Kind = PROMPT::Password;
            q.User = at == std::string::npos ? std::string() : who.substr(0, at);
            q.Host = at == std::string::npos ? who : who.substr(at + 1);
        }
    }
    return q;
}

std::string CleanLine(std::string const& line)
{
    std::string out;
    for (unsigned char c : line) {
        if (c == '\t')
            out += ' ';
        else if (c >= 0x20 && c != 0x7F)
            out += static_cast<char>(c);
    }
    size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::string();
    out = out.substr(first, out.find_last_not_of(' ') - first + 1);
    if (out.size() > 200)
        out.resize(200);
    return out;
}

std::vector<std::string> SessionArgs(SESSIONARGS const& a)
{
    std::vector<std::string> v{a.Helper, "-tt", "-o", "ControlMaster=yes", "-S", PercentSafe(a.ControlPath)};
    int port = a.Target.Port > 0 ? a.Target.Port : a.Parms.Port;
    if (port > 0) {
        v.push_back("-p");
        v.push_back(std::to_string(port));
    }
    for (std::string const& key : a.KeyFiles) {
        v.push_back("-i");
        v.push_back(key);
    }
    std::string user = !a.User.empty() ? a.User : a.Target.User;
    if (!user.empty()) {
        v.push_back("-l");
        v.push_back(user);
    }
    if (!a.Parms.ConfigFile.empty()) {
        v.push_back("-F");
        v.push_back(a.Parms.ConfigFile);
    }
    v.push_back("--");
    v.push_back(a.Target.Host);
    return v;
}

namespace {

std::vector<std::string> MasterClient(std::string const& ctlPath, std::string const& configFile)
{
    std::vector<std::string> v{"ssh", "-S", PercentSafe(ctlPath), "-o", "ControlMaster=no", "-o", "BatchMode=yes"};
    if (!configFile.empty()) {
        v.push_back("-F");
        v.push_back(configFile);
    }
    return v;
}

} // namespace

std::vector<std::string> ExecArgs(std::string const& ctlPath, std::string const& configFile, std::string const& host,
                                  std::string const& command)
{
    std::vector<std::string> v = MasterClient(ctlPath, configFile);
    v.insert(v.end(), {"-T", "--", host, command});
    return v;
}

std::vector<std::string> CheckArgs(std::string const& ctlPath, std::string const& configFile, std::string const& host)
{
    std::vector<std::string> v = MasterClient(ctlPath, configFile);
    v.insert(v.end(), {"-O", "check", "--", host});
    return v;
}

bool IsPrivateKeyFile(std::string const& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > (1 << 20))
        return false;
    FILE* f = fopen(path.c_str(), "re");
    if (!f)
        return false;
    char line[128] = {};
    bool key = fgets(line, sizeof line, f) && strncmp(line, "-----BEGIN ", 11) == 0 && strstr(line, "PRIVATE KEY-----");
    fclose(f);
    return key;
}

std::vector<std::string> PrivateKeys(std::string const& folder)
{
    std::vector<std::string> keys;
    DIR* dir = folder.empty() ? nullptr : opendir(folder.c_str());
    if (!dir)
        return keys;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        std::string path = folder + (folder.back() == '/' ? "" : "/") + e->d_name;
        if (IsPrivateKeyFile(path))
            keys.push_back(path);
        if (keys.size() >= 64)
            break;
    }
    closedir(dir);
    std::sort(keys.begin(), keys.end());
    return keys;
}

} // namespace welkam
