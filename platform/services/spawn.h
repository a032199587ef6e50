// Starting programs and opening documents.
//
// Programs are started from an argument vector, never through a shell.
// The new process gets the caller's descriptors 0 to 2 and no other (every
// descriptor from 3 up is closed before the program runs, whether or not it
// was marked close-on-exec), an empty signal mask and default handling of
// every signal, so that an ignored SIGPIPE of ours does not leak into it.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace plat {

// Starts argv[0] with the arguments argv (argv[0] included, as the program
// sees it), in folder when it is not empty. A program name without "/" is
// looked up on $PATH when searchPath is set; a relative path is taken from
// the caller's current folder, not from folder. Returns the new process's
// id, or -1 when it could not be started (nothing to run, not executable, a
// folder, no such working folder): only a negative id is a failed start.
// *error, when given, receives the errno of the failure (0 on success).
pid_t SpawnProgram(std::vector<std::string> const& argv, std::string const& folder = {},
                   bool searchPath = false, int* error = nullptr);

struct ChildStatus {
    enum State {
        Running,    // still running (only from a wait that does not block)
        Exited,     // ended normally; code is its exit status
        Signalled,  // ended by a signal; code is the signal number
        Gone,       // not a child of ours (already waited for, or never)
    };
    State state = Gone;
    int code = 0;
};

// Waits for a child started by SpawnProgram: until it ends with block, or
// only looks with !block.
ChildStatus WaitChild(pid_t pid, bool block);
// Looks every 10 ms up to timeoutMs (0: once); Running when the time is up.
ChildStatus WaitChildFor(pid_t pid, int timeoutMs);

// The full path of an executable program name found on $PATH (or the name
// itself when it holds a "/"), empty when there is none.
std::string FindProgram(std::string const& name);

// Opens a document, folder or URL with the desktop's opener ("xdg-open" on
// $PATH) or the given opener program, started as {opener, target} in
// folder (when not empty). Waits up to timeoutMs for the opener: true when
// it ended with status 0, or is still running then (ReapLater takes it);
// false when it could not start or failed.
bool OpenDocument(std::string const& target, std::string const& folder = {},
                  std::string const& opener = {}, int timeoutMs = 10000);

// Takes a child that is still running and nobody will wait for: the next
// SpawnProgram calls collect it once it has ended, so it does not stay a
// zombie.
void ReapLater(pid_t pid);

} // namespace plat
