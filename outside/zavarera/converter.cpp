// The converter of foreign host lists.
#include "outside/zavarera/converter.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zavarera {

namespace {

constexpr size_t kMaxSource = 16u << 20;
constexpr size_t kMaxLine = 64u << 10;
constexpr size_t kMaxHosts = 100000;

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(std::string const& s)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return std::string();
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// The fields of one CSV record from pos on (quoted fields may hold line
// breaks); pos moves past it.
std::vector<std::string> CsvRecord(std::string const& text, size_t& pos)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (; pos < text.size(); ++pos) {
        char const c = text[pos];
        std::string& f = fields.back();
        if (quoted) {
            if (c == '"' && pos + 1 < text.size() && text[pos + 1] == '"') {
                f += '"';
                ++pos;
            } else if (c == '"') {
                quoted = false;
            } else if (f.size() < kMaxLine) {
                f += c;
            }
            continue;
        }
        if (c == '"' && Trim(f).empty()) {
            f.clear();
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else if (c == '\n') {
            ++pos;
            break;
        } else if (c != '\r' && f.size() < kMaxLine) {
            f += c;
        }
    }
    for (std::string& f : fields)
        f = Trim(f);
    return fields;
}

// A port that is not the device's usual one goes into the number.
std::string NumberOf(std::string const& host, std::string const& port, int device)
{
    long const p = port.empty() ? 0 : strtol(port.c_str(), nullptr, 10);
    bool const usual = p == 0 || (device == 3 && p == 23) || (device == 9 && p == 22);
    return usual ? host : host + ":" + std::to_string(p);
}

// A text between double quotes as the host-directory file writes it: line
// breaks and ESC escaped.
std::string Quoted(std::string const& text)
{
    std::string out = "\"";
    bool const escape = text.find_first_of("\r\n\x1b") != std::string::npos;
    for (char c : text) {
        if (escape && c == '\r')
            out += "\x1br";
        else if (escape && c == '\n')
            out += "\x1bn";
        else if (escape && c == 27)
            out += "\x1b\x1b";
        else
            out += c;
    }
    return out + "\"";
}

// A UTF-8 text in code page 1252 (characters it lacks become "?").
std::string Narrow(std::string const& utf8)
{
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        auto const c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            unsigned const cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
            out += cp >= 0xA0 && cp < 0x100 ? static_cast<char>(cp) : '?';
            ++i;
        } else {
            out += '?';
            while (i + 1 < utf8.size() && (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80)
                ++i;
        }
    }
    return out;
}

bool ReadSource(std::string const& path, std::string& out)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<size_t>(st.st_size) > kMaxSource) {
        close(fd);
        return false;
    }
    out.clear();
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            close(fd);
            return n == 0;
        }
        out.append(buf, static_cast<size_t>(n));
        if (out.size() > kMaxSource) {
            close(fd);
            return false;
        }
    }
}

} // namespace

int DeviceOf(std::string const& text)
{
    std::string const t = Lower(Trim(text));
    if (t.empty())
        return -1;
    if (isdigit(static_cast<unsigned char>(t[0]))) {
        long const id = strtol(t.c_str(), nullptr, 10);
        return id >= 0 && id < 24 ? static_cast<int>(id) : -1;
    }
    struct NAME {
        char const* Text;
        int Id;
    } const names[] = {{"telnet", 3}, {"ssh", 9}, {"serial", 1}, {"modem", 1}, {"shell", 11}, {"local", 11}};
    for (NAME const& n : names)
        if (t == n.Text)
            return n.Id;
    return -1;
}

bool ParseCsv(std::string const& text, std::vector<HOST>& hosts)
{
    hosts.clear();
    size_t pos = 0;
    bool first = true;
    bool any = false;
    while (pos < text.size() && hosts.size() < kMaxHosts) {
        std::vector<std::string> f = CsvRecord(text, pos);
        if (f.size() == 1 && f[0].empty())
            continue;
        if (first && f.size() >= 2 && Lower(f[0]) == "name" && Lower(f[1]) == "host") {
            first = false;
            continue;
        }
        first = false;
        // A host line has at least a name and a host.
        if (f.size() < 2 || f.size() > 5)
            return false;
        any = true;
        if (f[1].empty())
            continue;
        f.resize(5);
        HOST h;
        h.Device = f[3].empty() ? 3 : DeviceOf(f[3]);
        h.Name = f[0].empty() ? f[1] : f[0];
        h.Number = NumberOf(f[1], f[2], h.Device);
        h.User = f[4];
        hosts.push_back(std::move(h));
    }
    return any;
}

bool ParseSshConfig(std::string const& text, std::vector<HOST>& hosts)
{
    hosts.clear();
    struct BLOCK {
        std::vector<std::string> Names;
        std::string HostName, Port, User;
    };
    std::vector<BLOCK> blocks;
    bool any = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        std::string line = text.substr(pos, std::min(end == std::string::npos ? text.size() - pos : end - pos, kMaxLine));
        pos = end == std::string::npos ? text.size() : end + 1;
        line = Trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        // "Key value" or "Key=value".
        size_t const split = line.find_first_of(" \t=");
        std::string const key = Lower(line.substr(0, split));
        std::string value = split == std::string::npos ? std::string() : Trim(line.substr(split + 1));
        if (!value.empty() && value[0] == '=')
            value = Trim(value.substr(1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (key == "host") {
            any = true;
            BLOCK b;
            size_t p = 0;
            while (p < value.size()) {
                size_t const q = value.find_first_of(" \t", p);
                std::string const name = value.substr(p, q == std::string::npos ? std::string::npos : q - p);
                if (!name.empty() && name.find_first_of("*?!") == std::string::npos)
                    b.Names.push_back(name);
                if (q == std::string::npos)
                    break;
                p = value.find_first_not_of(" \t", q);
                if (p == std::string::npos)
                    break;
            }
            blocks.push_back(std::move(b));
        } else if (key == "match") {
            blocks.emplace_back(); // its settings belong to no host
        } else if (!blocks.empty()) {
            BLOCK& b = blocks.back();
            if (key == "hostname" && b.HostName.empty())
                b.HostName = value;
            else if (key == "port" && b.Port.empty())
                b.Port = value;
            else if (key == "user" && b.User.empty())
                b.User = value;
        } else if (key == "hostname" || key == "port" || key == "user" || key == "identityfile") {
            any = true;
        }
    }
    for (BLOCK const& b : blocks) {
        for (std::string const& name : b.Names) {
            if (hosts.size() >= kMaxHosts)
                break;
            HOST h;
            h.Device = 9;
            h.Name = name;
            h.Number = NumberOf(b.HostName.empty() ? name : b.HostName, b.Port, 9);
            h.User = b.User;
            hosts.push_back(std::move(h));
        }
    }
    return any;
}

std::string Entries(std::vector<HOST> const& hosts)
{
    std::string out = "QOR6.44 // HOST DIRECTORY\n\n[DATA]\n";
    for (HOST const& h : hosts) {
        bool wide = false;
        for (char c : h.Name)
            wide = wide || (static_cast<unsigned char>(c) >= 0x80);
        out += "\n[HOST]\n";
        out += std::string("name=") + (wide ? "utf8:" : "") + Quoted(h.Name.substr(0, 256)) + "\n";
        out += "number=" + Quoted(Narrow(h.Number).substr(0, 64)) + "\n";
        out += "deviceid=" + std::to_string(h.Device) + "\n";
        out += "emu=-1\n";
        out += "username=" + Quoted(Narrow(h.User).substr(0, 32)) + "\n";
        out += "[/HOST]\n";
    }
    out += "\n[/DATA]\n";
    return out;
}

int Convert(char const* source, int format, char const* target)
{
    if (!source || !target || format < 0 || format > 1)
        return kBadFormat;
    std::string path = source;
    if (format == 1 && !path.empty() && path[0] == '<')
        path = path.substr(1);
    if (!path.empty() && path[0] == '~') {
        char const* home = getenv("HOME");
        path = std::string(home ? home : "") + path.substr(1);
    }
    std::string text;
    if (!ReadSource(path, text))
        return kBadSource;
    if (text.empty())
        return kStopped;
    if (text.find('\0') != std::string::npos)
        return kBadFormat;
    std::vector<HOST> hosts;
    bool const ok = format == 0 ? ParseCsv(text, hosts) : ParseSshConfig(text, hosts);
    if (!ok)
        return kBadFormat;
    std::string const out = Entries(hosts);
    int fd = open(target, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return kBadSource;
    size_t off = 0;
    bool written = true;
    while (off < out.size()) {
        ssize_t n = write(fd, out.data() + off, out.size() - off);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            written = false;
            break;
        }
        off += static_cast<size_t>(n);
    }
    written = close(fd) == 0 && written;
    return written ? kConverted : kBadSource;
}

} // namespace zavarera
