// Device 11, "Local Shell": the user's shell, or the command its parameter
// string names after the "[11]" tag, on a pseudo terminal.
#pragma once

#include "outside/tennick/tennickdevice.h"

#include <string>
#include <sys/types.h>
#include <vector>

class LOCALSHELL final : public TENNICKDEVICE {
public:
    LOCALSHELL(SUBSYSINITDATA const& init, int id);
    ~LOCALSHELL() override;

    signed char Open(char const* parm) override;
    void Close() override;
    int QueryOnline() override;
    int QuerySpeed() override;
    void StatusText(char* buf) override;
    int Write(char const* data, long len) override;
    signed char Read(char* buf, unsigned long* len) override;
    signed char Connect(char const* target) override;
    signed char Disconnect() override;
    int HandleDeviceCommand(char const* cmd, char* result, int max, void* data) override;
    signed char TrackChanges() override;

    // The argument vector of a command line: words split at blanks, with
    // '...' and "..." quoting and backslash escapes (no other shell syntax).
    static std::vector<std::string> SplitCommand(char const* text);

private:
    bool Reap(bool wait);

    pid_t Child = -1;
    int ExitStatus = -1;
};
