// PIPEIO: a channel between two processes of the same user over a pair of
// named FIFOs. One side accepts: it creates both FIFOs, waits for the other
// side and checks its 8-byte greeting "CONNECT\n". The other side calls:
// it opens the FIFOs by the same name and greets. The accepting side reads
// "<name>.upstream.fifo" and writes "<name>.downstream.fifo"; the calling
// side the other way round. No reader thread: Read polls the FIFO.
//
// The FIFOs live in the folder "tarvo-fifo" of the user's private runtime
// folder ($XDG_RUNTIME_DIR, else /tmp/qor-<uid>, made 0700): the folder is
// made 0700, and one that is a link, not a folder, or someone else's is
// never used (the next name, "tarvo-fifo0", "tarvo-fifo01", ... is taken).
// FIFOs are made 0600 and opened without following links.
//
// AcceptCall waits for a caller until one comes or DropCall (any thread)
// ends the wait; once a caller has opened its end, the rest of the
// handshake is bounded by HandshakeTimeout.
#pragma once

#include "velmot/channels/ios.h"

#include <atomic>

class VELMOT_EXPORT PIPEIO : public BASEIO {
public:
    // ourId is the pipe's name ("\" and "/" in it become "!" in the file
    // names).
    PIPEIO(char const* ourId, char const* callType, char const* parm);

    bool DevRead(char* buf, int* len, int timeoutMs) override;
    bool DevWrite(char const* data, int len) override;
    int DevGetNumAvail() override;
    bool DevIsConnected() override;
    ~PIPEIO() override;
    // True when the FIFO folder could be made.
    bool IsUpAndRunning() override;
    // Calls the side that accepts on `name`.
    bool MakeCall(char const* name) override;
    bool AcceptCall() override;
    bool DropCall() override;
    // "ONLINE", "BANDWIDTH", "LASTERROR", "LASTERRORSTRING", "IDLE_TIME",
    // "OWNID", "CALLERID", "DEVICENAME".
    STRING GetInfo(char const* key) override;

    // Makes the FIFO folder (see above); false when there is none to use.
    bool CreateBaseFolder();
    // The descriptor written (accepting side) or read (calling side).
    int GetStream(signed char flag);
    // The folder that holds the FIFOs.
    STRING GetFolder() const { return BaseDir || "/" || FolderName; }

    int HandshakeTimeout = 5000; // ms

protected:
    STRING FifoPath(char const* name, char const* which) const;
    void RemoveFifos();

    std::atomic<signed char> OurPipe{0};
    MUTEXSEM PipeLock;
    MUTEXSEM WriteLock;
    CHANNELFD hPipeIn;
    CHANNELFD hPipeOut;
    STRING PipeName;
    STRING BaseDir;
    STRING FolderName;
    EVENTSEM semAcceptDone;
    std::atomic<unsigned long long> LastActivity{0};

private:
    bool FolderOk = false;
    std::atomic<unsigned> Drops{0};
};
