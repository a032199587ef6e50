// The channel interface the device plug-ins call by position: the virtual
// order of BASEIO, with TCPIPIO's two operations after it, pinned slot by
// slot, and called slot by slot from a plug-in built on the SDK.
#include "velmot/channels/tcpio.h"

#include "tests/plugins/sdk/slotof.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using slottest::SlotOf;

namespace {

struct ROW {
    char const* name;
    long slot;
    long expected;
};
#define SLOT(C, M, N) ROW{#C "::" #M, SlotOf(&C::M), N}

// Records every virtual operation called on it.
class RECIO : public BASEIO {
public:
    RECIO(std::vector<std::string>& log) : BASEIO("rec", "", "", BASEIO_DEVICE_NO_DAEMON), Log(log) {}
    ~RECIO() override
    {
        Log.push_back("~BASEIO");
        KillDaemon(1);
    }
    bool DevRead(char*, int* len, int) override { return Note("DevRead", *len = 0); }
    bool DevWrite(char const* data, int len) override { return Note("DevWrite:" + std::string(data, static_cast<size_t>(len)), true); }
    int DevGetNumAvail() override { return Note("DevGetNumAvail", 0); }
    bool DevIsConnected() override { return Note("DevIsConnected", false); }
    bool IsUpAndRunning() override { return Note("IsUpAndRunning", true); }
    bool MakeCall(char const* d) override { return Note(std::string("MakeCall:") + d, true); }
    bool AcceptCall() override { return Note("AcceptCall", true); }
    bool DropCall() override { return Note("DropCall", true); }
    bool IsConnected() override { return Note("IsConnected", false); }
    void SetInfoFunction(BASEIOINFOFUNCTION, void*) override { Note("SetInfoFunction", 0); }
    void SetDataFunction(BASEIODATAFUNCTION, void*) override { Note("SetDataFunction", 0); }
    void SetCallType(char const* t) override { Note(std::string("SetCallType:") + t, 0); }
    void SetOurId(char const* id) override
    {
        Note(std::string("SetOurId:") + id, 0);
        BASEIO::SetOurId(id);
    }
    STRING const& GetOurId() const override
    {
        Log.push_back("GetOurId");
        return BASEIO::GetOurId();
    }
    STRING GetInfo(char const* key) override
    {
        Note(std::string("GetInfo:") + key, 0);
        return STRING("answer");
    }
    void SetParm(char const* name, char const* value) override { Note(std::string("SetParm:") + name + "=" + value, 0); }

private:
    template <class T>
    T Note(std::string const& what, T result)
    {
        Log.push_back(what);
        return result;
    }
    std::vector<std::string>& Log;
};

class RECTCP : public TCPIPIO {
public:
    RECTCP(std::vector<std::string>& log) : TCPIPIO("0", "", ""), Log(log) {}
    int Recv(int socket, char* buf, int len) override
    {
        Log.push_back("Recv");
        return TCPIPIO::Recv(socket, buf, len);
    }
    int Send(int socket, char const* data, int len) override
    {
        Log.push_back("Send");
        return TCPIPIO::Send(socket, data, len);
    }

private:
    std::vector<std::string>& Log;
};

} // namespace

TEST(ChannelAbi, SlotOrder)
{
    for (ROW const& r : {SLOT(BASEIO, DevRead, 0), SLOT(BASEIO, DevWrite, 1), SLOT(BASEIO, DevGetNumAvail, 2),
                         SLOT(BASEIO, DevIsConnected, 3), SLOT(BASEIO, IsUpAndRunning, 6), SLOT(BASEIO, MakeCall, 7),
                         SLOT(BASEIO, AcceptCall, 8), SLOT(BASEIO, DropCall, 9), SLOT(BASEIO, IsConnected, 10),
                         SLOT(BASEIO, SetInfoFunction, 11), SLOT(BASEIO, SetDataFunction, 12),
                         SLOT(BASEIO, SetCallType, 13), SLOT(BASEIO, SetOurId, 14), SLOT(BASEIO, GetOurId, 15),
                         SLOT(BASEIO, GetInfo, 16), SLOT(BASEIO, SetParm, 17), SLOT(TCPIPIO, Recv, 18),
                         SLOT(TCPIPIO, Send, 19), SLOT(TCPIPIO, DevRead, 0), SLOT(TCPIPIO, GetInfo, 16)}) {
        EXPECT_EQ(r.slot, r.expected) << r.name;
    }
}

TEST(ChannelAbi, APlugInCallsEverySlot)
{
    void* plug = dlopen(QOR_ABIPLUG_SO, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(plug, nullptr) << dlerror();
    using RUN = int (*)(BASEIO*, TCPIPIO*, int);
    auto run = reinterpret_cast<RUN>(dlsym(plug, "AbiPlugCallEverySlot"));
    ASSERT_NE(run, nullptr);

    std::vector<std::string> log;
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    ASSERT_EQ(write(pair[1], "abc", 3), 3); // what the plug-in's Recv gets
    {
        RECTCP tcp(log);
        int const calls = run(new RECIO(log), &tcp, pair[0]);
        EXPECT_GT(calls, 0);
    }
    close(pair[0]);
    close(pair[1]);
    std::vector<std::string> const expected = {
        "DevRead", "DevWrite:w", "DevGetNumAvail", "DevIsConnected", "IsUpAndRunning", "MakeCall:host:23",
        "AcceptCall", "DropCall", "IsConnected", "SetInfoFunction", "SetDataFunction", "SetCallType:calltype",
        "SetOurId:ourid", "GetOurId", "GetInfo:KEY", "SetParm:name=value", "DevWrite:plain", "DevGetNumAvail",
        "Send", "Recv", "~BASEIO",
    };
    EXPECT_EQ(log, expected);
    dlclose(plug);
}
