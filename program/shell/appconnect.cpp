// SEAM (until the dialling machines, quick connect and the host directory
// are built; that work replaces this file): a connect string that names the
// SSH device ("SSH!user:password:keyfile@host:port", from "/SSH:", "/SSHKEY:"
// and "ssh://") is dialled here at once: device 9 is opened with the
// profile's options for it, given the login (CALLINFO) and connected. One
// that names a Telnet device ("TELNET!host:port", "TELNET/SSL!host", from
// "/TELNET:", "-telnet" and "telnet://") opens device 3 or 10 the same way
// and connects to the host. Every other connect string goes to the
// session's placeholder.
#include "program/shell/app.h"

#include "velmot/core/logit.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace {

constexpr int kSshDevice = 9;
constexpr int kTelnetDevice = 3;
constexpr int kTelnetTlsDevice = 10;

// The caret codes a login in a connect string may carry.
std::string DecodeLogin(std::string const& text)
{
    static char const* const codes[][2] = {{"^(40)", "@"}, {"^(3A)", ":"}, {"^(21)", "!"}, {"^(20)", " "},
                                            {"^(7C)", "|"}};
    std::string out;
    for (size_t i = 0; i < text.size();) {
        bool coded = false;
        for (auto const& c : codes) {
            if (strncasecmp(text.c_str() + i, c[0], 5) == 0) {
                out += c[1];
                i += 5;
                coded = true;
                break;
            }
        }
        if (!coded)
            out += text[i++];
    }
    return out;
}

// A CALLINFO field: '%' and '|' escaped, so the device gets the text back
// whole whatever it holds.
std::string Field(std::string const& text)
{
    std::string out;
    for (char c : text)
        out += c == '%' ? std::string("%25") : c == '|' ? std::string("%7C") : std::string(1, c);
    return out;
}

void Wipe(std::string& s)
{
    std::fill(s.begin(), s.end(), '\0');
}

} // namespace

int APPSESSION::DialConnectString(char const* text)
{
    std::string t(text ? text : "", text ? strnlen(text, 255) : 0);
    std::string device, rest;
    size_t const bang = t.find('!');
    size_t const colon = t.find(':');
    if (bang != std::string::npos) {
        device = t.substr(0, bang);
        rest = t.substr(bang + 1);
    } else if (colon != std::string::npos && CommLayer.QueryIDFromName(t.substr(0, colon).c_str()) == kSshDevice) {
        device = t.substr(0, colon);
        rest = t.substr(colon + 1);
    }
    int const id = device.empty() ? 0 : CommLayer.QueryIDFromName(device.c_str());
    if (bang != std::string::npos && (id == kTelnetDevice || id == kTelnetTlsDevice))
        return DialTelnet(id, rest);
    if (id != kSshDevice) {
        Wipe(t);
        return SESSION::DialConnectString(text);
    }
    std::string login, target = rest;
    size_t const at = rest.find('@');
    if (at != std::string::npos) {
        login = rest.substr(0, at);
        target = rest.substr(at + 1);
    }
    if (login == "?")
        login.clear();
    std::string fields[3];
    for (int i = 0, from = 0; i < 3; ++i) {
        size_t const sep = i < 2 ? login.find(':', static_cast<size_t>(from)) : std::string::npos;
        fields[i] = DecodeLogin(login.substr(static_cast<size_t>(from), sep == std::string::npos ? std::string::npos
                                                                                                  : sep - from));
        if (sep == std::string::npos)
            break;
        from = static_cast<int>(sep + 1);
    }
    while (!target.empty() && target.back() == '/')
        target.pop_back();
    LOGIT("APPSESSION::DialConnectString SSH to %s (user %s)\n", target.c_str(), fields[0].c_str());
    if (target.empty()) {
        for (std::string& f : fields)
            Wipe(f);
        return 0;
    }
    // As a dial begins: a clear screen (session event 8410).
    ProcessEvent(8410, 0, nullptr);
    if (!CommLayer.Device() || CommLayer.QueryIDFromCurrent() != kSshDevice) {
        if (CommLayer.OpenDevice(kSshDevice, Prof.data.DeviceOpts[kSshDevice]) != 0) {
            for (std::string& f : fields)
                Wipe(f);
            return 0;
        }
    }
    std::string callinfo = "CALLINFO|" + Field(fields[0]) + "|" + Field(fields[1]) + "|" + Field(fields[2]);
    char answer[256] = {};
    CommLayer.HandleDeviceCommand(callinfo.c_str(), answer, sizeof answer, nullptr);
    Wipe(callinfo);
    for (std::string& f : fields)
        Wipe(f);
    if (strcmp(answer, "OK") != 0)
        LOGIT("APPSESSION::DialConnectString the device answered \"%s\" to the login\n", answer);
    return CommLayer.Connect(target.c_str()) ? 1 : 0;
}

int APPSESSION::DialTelnet(int id, std::string target)
{
    while (!target.empty() && target.back() == '/')
        target.pop_back();
    LOGIT("APPSESSION::DialTelnet device %d to %s\n", id, target.c_str());
    if (target.empty())
        return 0;
    ProcessEvent(8410, 0, nullptr);
    if (!CommLayer.Device() || CommLayer.QueryIDFromCurrent() != id) {
        if (CommLayer.OpenDevice(id, Prof.data.DeviceOpts[id]) != 0)
            return 0;
    }
    return CommLayer.Connect(target.c_str()) ? 1 : 0;
}
