// The Telnet protocol alone: what each received command is answered with,
// the data that comes through, the bytes a write becomes, the limits a
// hostile peer meets. Every exchange of the table is also fed in pieces cut
// at every place, and must come out the same.
#include "outside/sarvoth/telnetproto.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

using namespace sarvoth;
using namespace sarvoth::telnet;

namespace {

// Bytes from numbers and texts: B({IAC, DO, OPT_NAWS}) + "text".
std::string B(std::initializer_list<int> bytes)
{
    std::string out;
    for (int b : bytes)
        out += static_cast<char>(b);
    return out;
}

// The replies to the peer's first command: BINARY asked for both ways.
std::string const kOffer = B({IAC, DO, OPT_BINARY, IAC, WILL, OPT_BINARY});
std::string const kOfferRecords = kOffer + B({IAC, DO, OPT_EOR, IAC, WILL, OPT_EOR});

struct FED {
    std::string Data;
    std::string Replies;
    int Records = 0;
};

// Feeds input in pieces of `piece` bytes (0: whole); a record's end is
// marked "<EOR>" in the data.
FED Feed(TELNETPROTOCOL& p, std::string const& input, size_t piece = 0)
{
    FED out;
    size_t at = 0;
    while (at < input.size()) {
        size_t const n = piece ? std::min(piece, input.size() - at) : input.size() - at;
        size_t used = 0;
        while (used < n) {
            auto r = p.Receive(reinterpret_cast<uint8_t const*>(input.data() + at + used), n - used, out.Data,
                               out.Replies);
            used += r.Used;
            if (r.EndOfRecord) {
                out.Data += "<EOR>";
                ++out.Records;
            }
        }
        at += n;
    }
    return out;
}

TERMINAL Xterm()
{
    TERMINAL t;
    t.Names = {"xterm-256color", "xterm"};
    t.Columns = 100;
    t.Rows = 30;
    return t;
}

TERMINAL Block5250()
{
    TERMINAL t;
    t.Names = {"IBM-3179-2"};
    t.Records = true;
    t.Environment = {{"USER", "bob"}, {"DEVNAME", std::string("QPAD\x01", 5)}, {"IBMFONT", "12"}};
    return t;
}

} // namespace

TEST(TelnetProtocol, ExchangesByTheByte)
{
    std::string const ttypeSend = B({IAC, SB, OPT_TTYPE, 1, IAC, SE});
    auto ttypeIs = [](std::string const& name) {
        return B({IAC, SB, OPT_TTYPE, 0}) + name + B({IAC, SE});
    };
    struct CASE {
        char const* What;
        TERMINAL Term;
        std::string In;
        std::string Data;
        std::string Replies;
    } const cases[] = {
        {"data alone needs no answer", Xterm(), "login: ", "login: ", ""},
        {"IAC IAC is one 255", Xterm(), B({'a', IAC, IAC, 'b'}), B({'a', 255, 'b'}), ""},
        {"outside BINARY a CR NUL is a CR", Xterm(), B({'a', '\r', 0, 'b', '\r', '\n'}), "a\rb\r\n", ""},
        {"the first command brings the offer of BINARY", Xterm(), B({IAC, NOP}), "", kOffer},
        {"unknown options are refused", Xterm(), B({IAC, DO, 99, IAC, WILL, 98}), "",
         kOffer + B({IAC, WONT, 99, IAC, DONT, 98})},
        {"a refusal is not answered again", Xterm(), B({IAC, DO, 99, IAC, DONT, 99, IAC, WONT, 98}), "",
         kOffer + B({IAC, WONT, 99})},
        {"echo and go-ahead from the server, not from us", Xterm(),
         B({IAC, WILL, OPT_ECHO, IAC, WILL, OPT_SGA, IAC, WILL, OPT_ECHO, IAC, DO, OPT_ECHO, IAC, DO, OPT_SGA}), "",
         kOffer + B({IAC, DO, OPT_ECHO, IAC, DO, OPT_SGA, IAC, WONT, OPT_ECHO, IAC, WONT, OPT_SGA})},
        {"the offered BINARY accepted: no second answer; CR NUL stays", Xterm(),
         B({IAC, WILL, OPT_BINARY, IAC, DO, OPT_BINARY, 'a', '\r', 0}), B({'a', '\r', 0}), kOffer},
        {"a disabled option is confirmed", Xterm(), B({IAC, WILL, OPT_ECHO, IAC, WONT, OPT_ECHO}), "",
         kOffer + B({IAC, DO, OPT_ECHO, IAC, DONT, OPT_ECHO})},
        {"terminal types in turn, the last one repeated", Xterm(),
         B({IAC, DO, OPT_TTYPE}) + ttypeSend + ttypeSend + ttypeSend, "",
         kOffer + B({IAC, WILL, OPT_TTYPE}) + ttypeIs("xterm-256color") + ttypeIs("xterm") + ttypeIs("xterm")},
        {"no type before the option is on", Xterm(), ttypeSend, "", kOffer},
        {"the window size once NAWS is asked for", Xterm(), B({IAC, DO, OPT_NAWS}), "",
         kOffer + B({IAC, WILL, OPT_NAWS, IAC, SB, OPT_NAWS, 0, 100, 0, 30, IAC, SE})},
        {"EOR refused while the terminal wants no records", Xterm(),
         B({IAC, DO, OPT_EOR, IAC, WILL, OPT_EOR, 'a', IAC, EOR, 'b'}), "ab",
         kOffer + B({IAC, WONT, OPT_EOR, IAC, DONT, OPT_EOR})},
        {"records: each IAC EOR after data ends one", Block5250(),
         B({IAC, DO, OPT_EOR, IAC, WILL, OPT_EOR, 'a', 'b', IAC, EOR, IAC, EOR, 'c', IAC, EOR}), "ab<EOR>c<EOR>",
         kOfferRecords},
        {"NOP, DM, GA, AYT, BRK and a stray SE are read and ignored", Xterm(),
         B({'x', IAC, NOP, IAC, DM, IAC, GA, IAC, AYT, IAC, BRK, IAC, SE, 'y'}), "xy", kOffer},
        {"the environment, all of it", Block5250(),
         B({IAC, DO, OPT_NEWENVIRON, IAC, SB, OPT_NEWENVIRON, 1, IAC, SE}), "",
         kOfferRecords + B({IAC, WILL, OPT_NEWENVIRON, IAC, SB, OPT_NEWENVIRON, 0}) +
             B({0}) + "USER" + B({1}) + "bob" + B({3}) + "DEVNAME" + B({1}) + "QPAD" + B({2, 1}) + B({3}) +
             "IBMFONT" + B({1}) + "12" + B({IAC, SE})},
        {"the environment, as asked: a known and an unknown variable", Block5250(),
         B({IAC, DO, OPT_NEWENVIRON, IAC, SB, OPT_NEWENVIRON, 1, 3}) + "IBMFONT" + B({3}) + "IBMRSEED" +
             B({IAC, SE}),
         "",
         kOfferRecords + B({IAC, WILL, OPT_NEWENVIRON, IAC, SB, OPT_NEWENVIRON, 0, 3}) + "IBMFONT" + B({1}) +
             "12" + B({3}) + "IBMRSEED" + B({IAC, SE})},
        {"no environment: NEW-ENVIRON refused", Xterm(), B({IAC, DO, OPT_NEWENVIRON}), "",
         kOffer + B({IAC, WONT, OPT_NEWENVIRON})},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.What);
        for (size_t piece : {size_t(0), size_t(1), size_t(2), size_t(3), size_t(5)}) {
            SCOPED_TRACE("pieces of " + std::to_string(piece));
            TELNETPROTOCOL p(c.Term);
            FED const f = Feed(p, c.In, piece);
            EXPECT_EQ(f.Data, c.Data);
            EXPECT_EQ(f.Replies, c.Replies);
        }
    }
}

TEST(TelnetProtocol, WritesBecomeTheirBytes)
{
    // Outside BINARY (nothing negotiated), inside it, and as records.
    TELNETPROTOCOL plain(Xterm());
    TELNETPROTOCOL binary(Xterm());
    FED f = Feed(binary, B({IAC, DO, OPT_BINARY}));
    ASSERT_TRUE(binary.Ours(OPT_BINARY));
    TELNETPROTOCOL records(Block5250());
    f = Feed(records, B({IAC, DO, OPT_EOR, IAC, DO, OPT_BINARY}));
    ASSERT_TRUE(records.Ours(OPT_EOR));
    struct CASE {
        TELNETPROTOCOL& P;
        std::string In;
        std::string Wire;
    } const cases[] = {
        {plain, "ls\r", B({'l', 's', '\r', 0})},
        {plain, "a\r\nb", "a\r\nb"},
        {plain, B({'a', 255, 'b', 255}), B({'a', 255, 255, 'b', 255, 255})},
        {plain, B({'\r', '\r', 'x'}), B({'\r', 0, '\r', 0, 'x'})},
        {binary, "ls\r", "ls\r"},
        {binary, B({255, 0x80}), B({255, 255, 0x80})},
        {records, B({'x', 255}), B({'x', 255, 255, IAC, EOR})},
        {records, "", B({IAC, EOR})},
    };
    for (CASE const& c : cases) {
        std::string wire;
        c.P.Encode(c.In.data(), c.In.size(), wire);
        EXPECT_EQ(wire, c.Wire) << c.In;
    }
}

TEST(TelnetProtocol, WindowSizeIsToldWhenItChanges)
{
    TELNETPROTOCOL p(Xterm());
    std::string replies;
    p.SetTerminal(Xterm(), replies);
    EXPECT_EQ(replies, "") << "not before the peer asks";
    FED const f = Feed(p, B({IAC, DO, OPT_NAWS}));
    EXPECT_EQ(f.Replies, kOffer + B({IAC, WILL, OPT_NAWS, IAC, SB, OPT_NAWS, 0, 100, 0, 30, IAC, SE}));
    TERMINAL t = Xterm();
    p.SetTerminal(t, replies);
    EXPECT_EQ(replies, "") << "the same size again";
    // A 255 in a size is doubled inside the subnegotiation.
    t.Columns = 255;
    t.Rows = 511;
    p.SetTerminal(t, replies);
    EXPECT_EQ(replies, B({IAC, SB, OPT_NAWS, 0, 255, 255, 1, 255, 255, IAC, SE}));
    // The peer turns it off: no more sizes.
    Feed(p, B({IAC, DONT, OPT_NAWS}));
    replies.clear();
    t.Rows = 40;
    p.SetTerminal(t, replies);
    EXPECT_EQ(replies, "");
}

TEST(TelnetProtocol, HostilePeerMeetsLimits)
{
    // A subnegotiation longer than the limit is dropped whole; the data
    // after it comes through.
    {
        TELNETPROTOCOL p(Xterm());
        Feed(p, B({IAC, DO, OPT_TTYPE}));
        std::string big = B({IAC, SB, OPT_TTYPE, 1}) + std::string(1 << 20, 'x') + B({IAC, IAC, IAC, SE});
        FED const f = Feed(p, big + "after", 4096);
        EXPECT_EQ(f.Replies, "") << "no answer to the cut request";
        EXPECT_EQ(f.Data, "after");
    }
    // A subnegotiation never ended: the next command ends it, unanswered,
    // and data after that is data again.
    {
        TELNETPROTOCOL p(Xterm());
        Feed(p, B({IAC, DO, OPT_TTYPE}));
        FED const f = Feed(p, B({IAC, SB, OPT_TTYPE, 1, 'j', 'u', 'n', 'k', IAC, NOP}) + "data", 1);
        EXPECT_EQ(f.Replies, "");
        EXPECT_EQ(f.Data, "data");
    }
    // Storms: each request is answered once at most, however often it comes.
    {
        TELNETPROTOCOL p(Xterm());
        std::string storm;
        for (int i = 0; i < 10000; ++i)
            storm += B({IAC, i % 2 ? DONT : DO, i % 7 + 60, IAC, WILL, OPT_ECHO});
        FED const f = Feed(p, storm + "ok", 777);
        EXPECT_EQ(f.Data, "ok");
        // 5000 DO, each refused once; the first WILL ECHO accepted; the
        // DONTs find the option off and are not answered.
        EXPECT_EQ(f.Replies.size(), kOffer.size() + 3 * 5000 + 3);
    }
    {
        TELNETPROTOCOL p(Xterm());
        std::string sends = B({IAC, DO, OPT_TTYPE});
        for (int i = 0; i < 10000; ++i)
            sends += B({IAC, SB, OPT_TTYPE, 1, IAC, SE});
        FED const f = Feed(p, sends, 8192);
        std::string const last = B({IAC, SB, OPT_TTYPE, 0}) + "xterm" + B({IAC, SE});
        EXPECT_EQ(f.Replies.size(), kOffer.size() + 3 + (4 + 14 + 2) + 9999 * last.size());
        EXPECT_EQ(f.Replies.substr(f.Replies.size() - last.size()), last);
    }
}

TEST(TelnetProtocol, TerminalNamesAndEnvironmentAreKeptInBounds)
{
    TERMINAL t;
    t.Names = {"bad name\xff", "", std::string(100, 'a')};
    t.Environment.assign(200, {"NAME", std::string(1000, 'v')});
    TELNETPROTOCOL p(t);
    FED const f = Feed(p, B({IAC, DO, OPT_TTYPE, IAC, SB, OPT_TTYPE, 1, IAC, SE, IAC, SB, OPT_TTYPE, 1, IAC, SE,
                             IAC, DO, OPT_NEWENVIRON, IAC, SB, OPT_NEWENVIRON, 1, IAC, SE}));
    std::string const first = B({IAC, SB, OPT_TTYPE, 0}) + "badname" + B({IAC, SE});
    std::string const second = B({IAC, SB, OPT_TTYPE, 0}) + std::string(40, 'a') + B({IAC, SE});
    EXPECT_NE(f.Replies.find(first + second), std::string::npos) << "printable, without blanks, 40 at most";
    EXPECT_LT(f.Replies.size(), 64u * (4 + 1 + 256 + 2) + 200) << "64 variables of 256 characters at most";
}
