// The Telnet device in a session whose emulation wants records (the test
// emulation in the 5250's place): names in the plug-in dictionary, records
// that reach the emulation with their end marks, the emulation's
// environment told to the host, each write one record.
#include "tests/outside/sarvoth/telnetpeer.h"
#include "tests/program/session/sessionfixture.h"

#include "outside/sarvoth/telnetproto.h"

#include <initializer_list>

using namespace sessiontest;
using namespace sarvoth::telnet;

namespace {

[[maybe_unused]] bool const kPlatform = (UsePlatform(), true);

std::string B(std::initializer_list<int> bytes)
{
    std::string out;
    for (int b : bytes)
        out += static_cast<char>(b);
    return out;
}

class TelnetRecordsTest : public SessionTest {
protected:
    void SetUp() override
    {
        Stage.Add(QOR_SARVOTH_SO, "sarvoth.so");
        Stage.Add(TestEmuBundle(), "peltra.so");
        SessionTest::SetUp();
    }
};

} // namespace

TEST_F(TelnetRecordsTest, NamesOfTheDevices)
{
    ASSERT_TRUE(Open(3, 17, "[3]23|"));
    COMM& comm = S->CommLayer;
    EXPECT_EQ(comm.QueryIDFromName("TELNET"), 3);
    EXPECT_EQ(comm.QueryIDFromName("telnet/ssl"), 10);
    EXPECT_STREQ(comm.QueryNameFromID(3).Buf(), "Telnet");
    char parm[128];
    EXPECT_STREQ(comm.QueryStdParm(10, parm), "[10]992|");
    char answer[64] = {};
    EXPECT_EQ(comm.HandleDeviceCommand("CALLINFO|user", answer, sizeof answer, nullptr), 1);
    EXPECT_STREQ(answer, "OK");
    EXPECT_EQ(comm.HandleDeviceCommand("QUERYAUTHFILES", answer, sizeof answer, nullptr), 0);
    EXPECT_EQ(comm.QueryOnline(), 0);
}

TEST_F(TelnetRecordsTest, RecordsAndEnvironmentForABlockTerminal)
{
    telnetpeer::RAWPEER peer;
    std::string const parm = "[3]" + std::to_string(peer.Port()) + "|";
    ASSERT_TRUE(Open(3, 1, parm.c_str()));
    EXPECT_EQ(Custom("FLAGS 2"), "OK");
    EXPECT_EQ(Custom("ENVIRON DEVNAME=QPAD|IBMFONT=12"), "OK");
    ASSERT_NE(S->CommLayer.Connect("127.0.0.1"), 0);
    ASSERT_TRUE(peer.Accept(10000));
    ASSERT_TRUE(Pump([&] { return S->CommLayer.QueryOnline() == 1; }, 10000));

    ASSERT_TRUE(peer.Send(B({IAC, DO, OPT_EOR, IAC, WILL, OPT_EOR, IAC, DO, OPT_NEWENVIRON, IAC, SB, OPT_NEWENVIRON, 1,
                             IAC, SE})));
    std::string const want = B({IAC, DO, OPT_BINARY, IAC, WILL, OPT_BINARY, IAC, DO, OPT_EOR, IAC, WILL, OPT_EOR, IAC,
                                WILL, OPT_NEWENVIRON, IAC, SB, OPT_NEWENVIRON, 0, 3}) +
                             "DEVNAME" + B({1}) + "QPAD" + B({3}) + "IBMFONT" + B({1}) + "12" + B({IAC, SE});
    EXPECT_EQ(peer.Take(want.size(), 10000), want);

    Custom("RECEIVED");
    ASSERT_TRUE(peer.Send(B({'a', 'b', IAC, EOR, 'c', IAC, IAC, IAC, EOR})));
    std::string got;
    std::string const marked = "ab\xEF\xBF\xB7" "c\xC3\xBF\xEF\xBF\xB7"; // U+FFF7 after each record
    ASSERT_TRUE(Pump([&] {
        got += Custom("RECEIVED");
        S->ComDataNotification(true);
        return got.find(marked) != std::string::npos;
    }, 10000)) << got;

    S->CommLayer.WriteData("x\xff", 2);
    EXPECT_EQ(peer.Take(5, 10000), B({'x', 255, 255, IAC, EOR})) << "one write, one record";
}
