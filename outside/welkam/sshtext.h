// The texts the SSH device reads and builds: its parameter string, the
// dialler's CALLINFO command, the connect target, the questions ssh asks,
// ssh's error lines and the helper's argument vector. Plain functions over
// plain values, bounded and free of side effects.
#pragma once

#include <string>
#include <vector>

namespace welkam {

// The parameter string after its "[9]" tag: "<port>|<ssh config file>",
// both optional ("", "2222", "2222|/home/u/.ssh/test_config", "|cfg").
struct PARMS {
    int Port = 0; // 0: ssh's own (22 or the config file's)
    std::string ConfigFile;
};
PARMS ParseParms(std::string const& options);
std::string FormatParms(PARMS const& parms);

// "CALLINFO|user|password|[*]keyfile": '|' inside a field is written
// "%7C" and '%' as "%25". False when the text is not a CALLINFO command.
struct CALLINFO {
    std::string User;
    std::string Password;
    std::string KeyFile;
    bool GlobalKey = false; // '*' before the key file: the keys of the SSH folder
};
bool ParseCallinfo(char const* text, CALLINFO* out);
// The escape of one field as the dialler writes it.
std::string EscapeField(std::string const& text);
std::string UnescapeField(std::string const& text);

// The connect target: "host", "host:port", "[v6]:port", "v6", "user@host",
// anything after a TAB is the entry's name and is ignored. False (with a
// reason) for an empty host, blanks or control characters, a host or user
// that starts with "-", or texts over 255 characters.
struct TARGET {
    std::string User;
    std::string Host;
    int Port = 0;
};
bool ParseTarget(char const* text, TARGET* out, std::string* reason);

// The question kinds of ssh.
enum class PROMPT {
    HostKey,    // the unknown host key: yes or no
    Password,   // "<user>@<host>'s password: "
    Passphrase, // "Enter passphrase for key '<file>': "
    Other,      // keyboard-interactive and anything else
};
struct QUESTION {
    PROMPT Kind = PROMPT::Other;
    std::string Hint;   // ssh's SSH_ASKPASS_PROMPT
    std::string Text;   // the prompt as ssh wrote it
    std::string User;   // Password: the user ssh names
    std::string Host;   // Password: the host ssh names
    std::string KeyFile; // Passphrase: the key file
};
// A question frame "<hint>\n<prompt>".
QUESTION ParseQuestion(std::string const& frame);

// An error line of ssh as a status text: control characters taken out,
// blanks at both ends cut, at most 200 characters.
std::string CleanLine(std::string const& line);

// The helper's arguments (argv[0] the helper itself) for an interactive
// session: -tt, the master connection on ctlPath, port, keys, user,
// config file, then "--" and the host.
struct SESSIONARGS {
    std::string Helper;
    std::string ControlPath;
    PARMS Parms;
    TARGET Target;
    std::string User;                 // overrides Target.User when set
    std::vector<std::string> KeyFiles; // -i each
};
std::vector<std::string> SessionArgs(SESSIONARGS const& a);
// ssh's arguments for a command on the master connection (argv[0] "ssh").
std::vector<std::string> ExecArgs(std::string const& ctlPath, std::string const& configFile, std::string const& host,
                                  std::string const& command);
// ... and for asking the master whether it runs.
std::vector<std::string> CheckArgs(std::string const& ctlPath, std::string const& configFile, std::string const& host);

// Whether the file is an unencrypted or encrypted private key (its first
// line "-----BEGIN ... PRIVATE KEY-----").
bool IsPrivateKeyFile(std::string const& path);
// The private keys of a folder, sorted.
std::vector<std::string> PrivateKeys(std::string const& folder);

} // namespace welkam
