// tessaro: the SSH engine the helper vindle runs. This stand-in runs the
// system's OpenSSH client (/usr/bin/ssh) with the helper's arguments.
//
// ssh5_main(argv): argv[0] is the caller's name, argv[1..] are OpenSSH
// client arguments. Returns ssh's exit status (128 + the signal when a
// signal ended it); 255 when the arguments are refused or ssh cannot run.
// SIGTERM and SIGHUP received meanwhile are passed on to ssh.
//
// A destination or a user name that starts with "-" is refused: such a
// text would be read by ssh as an option (a host entry "-oProxyCommand=..."
// would run a command).
//
// Questions of ssh (passwords, pass phrases, the host key): when the
// environment names an inherited descriptor in TESSARO_ASKPASS_FD (one end
// of a stream socket pair whose other end the caller keeps), ssh runs
// tessaro's askpass program (SSH_ASKPASS, SSH_ASKPASS_REQUIRE=force) for
// every question, and tessaro relays each question to that descriptor and
// the answer back; ssh itself closes every descriptor it inherits, so the
// askpass program reaches tessaro through a socket in a private 0700
// folder that only lives while ssh runs.
//
// Frames on the descriptor and on the askpass socket: a 4-byte length
// (little-endian) and that many bytes, at most TESSARO_MAXFRAME.
//   question: "<hint>\n<prompt>"  (hint: ssh's SSH_ASKPASS_PROMPT, often empty)
//   answer:   "1<text>" answered, "0" no answer
// TESSARO_SSH in the environment names another ssh program (tests).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#define TESSARO_EXPORT __attribute__((visibility("default")))

extern "C" TESSARO_EXPORT int ssh5_main(char** argv);

namespace tessaro {

// The destination of an OpenSSH argument vector (argv[1..], null ended):
// the first argument that is not an option or an option's value, or the
// one after "--". Empty when there is none. *user gets the value of the
// last "-l" (empty when none).
std::string Destination(char** argv, std::string* user);
// Whether ssh may run with these arguments (no destination or user that
// starts with "-").
bool ArgumentsSafe(char** argv);

} // namespace tessaro
