// The converter of foreign host lists: the formats it knows, and each
// format read into host entries written in the host-directory file's entry
// layout ("[HOST]" blocks of key=value lines).
//
// Formats, in the order of the format list:
//   0 "CSV;*.csv": one host a line, fields name, host, port, device, user
//     (commas, double quotes around a field that holds commas, quotes or
//     line breaks, a quote inside written twice); an optional first line
//     naming the fields; no passwords.
//   1 "OpenSSH client config;<~/.ssh/config": the "Host" blocks of the
//     user's OpenSSH client configuration with their HostName, Port and
//     User; patterns ("*", "?", "!") are not hosts. The "<" marks a format
//     that reads its own file, so the user names none.
//
// Bounded: sources of at most 16 MB, lines of at most 64 KB (longer ones
// are cut), at most 100,000 hosts.
#pragma once

#include <string>
#include <vector>

namespace zavarera {

constexpr char const* kFormats = "CSV;*.csv|OpenSSH client config;<~/.ssh/config";

struct HOST {
    std::string Name;   // UTF-8
    std::string Number; // host, or host:port
    int Device = -1;
    std::string User;
};

// The results of Convert, as the program reads them.
constexpr int kConverted = 0;
constexpr int kStopped = -1;    // nothing to do: an empty source
constexpr int kBadSource = 2;   // the source cannot be read
constexpr int kBadFormat = 1;   // the source is not of the format

// Reads the hosts of text in the format; false when the text is not of it.
bool ParseCsv(std::string const& text, std::vector<HOST>& hosts);
bool ParseSshConfig(std::string const& text, std::vector<HOST>& hosts);
// The device id of a device column (a number, or telnet, ssh, serial,
// modem, shell); -1 when unknown.
int DeviceOf(std::string const& text);
// The entries in the host-directory layout.
std::string Entries(std::vector<HOST> const& hosts);
// Converts the source (or, for a format that reads its own file, that
// file; "~" is the home folder) into the target file (mode 0600).
int Convert(char const* source, int format, char const* target);

} // namespace zavarera
