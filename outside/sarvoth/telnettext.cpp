#include "outside/sarvoth/telnettext.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>

namespace sarvoth {

namespace {

std::string Trim(std::string const& s)
{
    size_t const first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// A port number or a TCP service name; 0 when it is neither.
int PortNumber(std::string const& text)
{
    if (text.empty() || text.size() > 32)
        return 0;
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        long const n = strtol(text.c_str(), nullptr, 10);
        return n >= 1 && n <= 65535 ? static_cast<int>(n) : 0;
    }
    servent result;
    servent* found = nullptr;
    char buf[1024];
    if (getservbyname_r(text.c_str(), "tcp", &result, buf, sizeof buf, &found) != 0 || !found)
        return 0;
    return ntohs(static_cast<uint16_t>(found->s_port));
}

} // namespace

PARMS ParseParms(std::string const& options)
{
    PARMS p;
    size_t const bar = options.find('|');
    std::string const port = Trim(options.substr(0, bar));
    long const n = strtol(port.c_str(), nullptr, 10);
    p.Port = n >= 1 && n <= 65535 ? static_cast<int>(n) : 0;
    if (bar != std::string::npos)
        p.TerminalType = Trim(options.substr(bar + 1, 40));
    return p;
}

std::string FormatParms(PARMS const& parms)
{
    return (parms.Port > 0 ? std::to_string(parms.Port) : std::string()) + "|" + parms.TerminalType;
}

bool IsAddress(std::string const& host)
{
    unsigned char buf[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

bool ParseTarget(char const* text, TARGET* out, std::string* reason)
{
    *out = TARGET();
    std::string t = text ? std::string(text, strnlen(text, 1024)) : std::string();
    t = Trim(t.substr(0, t.find('\t')));
    if (t.size() > 255) {
        *reason = "the target is too long";
        return false;
    }
    std::string host = t, port;
    if (!t.empty() && t[0] == '[') {
        size_t const close = t.find(']');
        if (close == std::string::npos) {
            *reason = "no \"]\" after the address";
            return false;
        }
        host = t.substr(1, close - 1);
        std::string const rest = Trim(t.substr(close + 1));
        if (!rest.empty() && rest[0] != ':') {
            *reason = "text after the address";
            return false;
        }
        port = rest.empty() ? std::string() : Trim(rest.substr(1));
    } else if (size_t const blank = t.find(' '); blank != std::string::npos) {
        host = t.substr(0, blank);
        port = Trim(t.substr(blank + 1));
    } else if (std::count(t.begin(), t.end(), ':') == 1) {
        // One colon: a port; two or more: a bare IPv6 address.
        size_t const colon = t.find(':');
        host = t.substr(0, colon);
        port = t.substr(colon + 1);
    }
    if (host.empty()) {
        *reason = "no host given";
        return false;
    }
    for (char c : host) {
        unsigned char const u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7F || c == '/' || c == '[' || c == ']') {
            *reason = "the host name holds characters no host has";
            return false;
        }
    }
    if (!port.empty()) {
        out->Port = PortNumber(port);
        if (!out->Port) {
            *reason = "no such port";
            return false;
        }
    }
    out->Host = host;
    return true;
}

std::string Destination(TARGET const& target, int port)
{
    bool const v6 = target.Host.find(':') != std::string::npos;
    return (v6 ? "[" + target.Host + "]" : target.Host) + ":" + std::to_string(port);
}

std::vector<std::pair<std::string, std::string>> ParseEnvironment(std::string const& text)
{
    std::vector<std::pair<std::string, std::string>> out;
    size_t at = 0;
    while (at < text.size() && out.size() < 64) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t const eq = line.find('=');
        if (eq != std::string::npos && eq > 0)
            out.emplace_back(line.substr(0, eq), line.substr(eq + 1));
        at = end + 1;
    }
    return out;
}

} // namespace sarvoth
