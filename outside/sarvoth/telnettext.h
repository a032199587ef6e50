// The texts the Telnet device reads: its parameter string, the connect
// target, the emulation's environment. Plain functions over plain values,
// bounded and free of side effects.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace sarvoth {

// The parameter string after its "[3]" or "[10]" tag:
// "<port>|<terminal type>", both optional ("", "2323", "2323|vt100",
// "|IBM-3179-2"). The terminal type, when given, is offered instead of the
// emulation's names.
struct PARMS {
    int Port = 0; // 0: 23, or 992 over TLS
    std::string TerminalType;
};
PARMS ParseParms(std::string const& options);
std::string FormatParms(PARMS const& parms);

// The connect target: "host", "host:port", "host port", "[v6]:port",
// "[v6]" or a bare IPv6 address ("::1"); the port a number or a service
// name. Anything after a TAB (the dialler's entry name) is ignored. False,
// with a reason, for an empty host, blanks or control characters in it, a
// port out of range and texts over 255 characters.
struct TARGET {
    std::string Host; // without brackets
    int Port = 0;     // 0: none given
};
bool ParseTarget(char const* text, TARGET* out, std::string* reason);
// What the TCP channel dials: "host:port", "[v6]:port".
std::string Destination(TARGET const& target, int port);
// Whether the host is an IP address (no name to check a certificate for).
bool IsAddress(std::string const& host);

// The emulation's environment, lines "name=value" (an emulation's
// QueryEnvironment): the pairs, in order, at most 64.
std::vector<std::pair<std::string, std::string>> ParseEnvironment(std::string const& text);

} // namespace sarvoth
