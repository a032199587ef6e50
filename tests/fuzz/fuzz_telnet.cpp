// libFuzzer entry for the Telnet protocol: a stream received whole and the
// same stream cut at random places must give the same data, the same
// replies and the same record ends; the data is the input without its
// commands; no request is answered more than once.
#include "outside/sarvoth/telnetproto.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace sarvoth;
using namespace sarvoth::telnet;

namespace {

void Check(bool ok)
{
    if (!ok)
        abort();
}

struct RESULT {
    std::string Data;
    std::string Replies;
    int Records = 0;
};

// Feeds in pieces of the lengths cuts gives (0: the rest at once).
RESULT Run(TERMINAL const& term, uint8_t const* in, size_t n, uint32_t seed)
{
    TELNETPROTOCOL proto(term);
    RESULT r;
    size_t at = 0;
    while (at < n) {
        size_t piece = n - at;
        if (seed) {
            seed = seed * 1103515245u + 12345u;
            piece = std::min<size_t>(piece, 1 + (seed >> 16) % 7);
        }
        size_t done = 0;
        while (done < piece) {
            TELNETPROTOCOL::RECEIVED const got = proto.Receive(in + at + done, piece - done, r.Data, r.Replies);
            Check(got.Used <= piece - done);
            Check(got.Used > 0 || got.EndOfRecord);
            if (got.EndOfRecord)
                ++r.Records;
            done += got.Used;
        }
        at += piece;
    }
    return r;
}

// What a stream asks for, read by a plain scanner of its own: requests per
// option (WILL/WONT from the peer, DO/DONT to us), subnegotiations, and the
// bytes outside commands.
struct COUNTS {
    int PeerSide[256] = {};
    int OurSide[256] = {};
    int Subs = 0;
    size_t Plain = 0;
};

COUNTS Scan(std::string const& s, bool replies)
{
    COUNTS c;
    enum { DATA, CMD, VERB, SBOPT, SBDATA, SBIAC } state = DATA;
    uint8_t verb = 0;
    for (unsigned char b : s) {
        switch (state) {
        case DATA:
            if (b == IAC)
                state = CMD;
            else
                ++c.Plain;
            break;
        case CMD:
            state = DATA;
            if (b == IAC)
                ++c.Plain;
            else if (b >= WILL)
                state = VERB, verb = b;
            else if (b == SB)
                state = SBOPT;
            break;
        case VERB:
            // In the input WILL/WONT speak of the peer's side; in the
            // replies DO/DONT do.
            if ((verb == WILL || verb == WONT) != replies)
                ++c.PeerSide[b];
            else
                ++c.OurSide[b];
            state = DATA;
            break;
        case SBOPT:
            ++c.Subs;
            state = SBDATA;
            break;
        case SBDATA:
            if (b == IAC)
                state = SBIAC;
            break;
        case SBIAC:
            state = b == IAC ? SBDATA : b == SE ? DATA : CMD;
            if (state == CMD && b != SE) {
                // The IAC began a command of its own: read b as one.
                state = DATA;
                if (b >= WILL)
                    state = VERB, verb = b;
                else if (b == SB)
                    state = SBOPT;
            }
            break;
        }
    }
    return c;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    if (size < 2)
        return 0;
    TERMINAL term;
    term.Records = data[0] & 1;
    term.Names = {"XTERM", "VT220"};
    if (data[0] & 2)
        term.Environment = {{"DEVNAME", "QPAD"}, {"USER", "x\xff"}};
    term.Columns = data[0] & 4 ? 255 : 80;
    uint32_t const seed = data[1] | 1u;
    uint8_t const* in = data + 2;
    size_t const n = size - 2;

    RESULT const whole = Run(term, in, n, 0);
    RESULT const cut = Run(term, in, n, seed);
    Check(whole.Data == cut.Data);
    Check(whole.Replies == cut.Replies);
    Check(whole.Records == cut.Records);

    std::string const input(reinterpret_cast<char const*>(in), n);
    if (input.find('\xff') == std::string::npos) {
        // Without commands the data is the input, each CR NUL a CR.
        std::string want;
        for (size_t i = 0; i < n; ++i) {
            want += input[i];
            if (input[i] == '\r' && i + 1 < n && input[i + 1] == '\0')
                ++i;
        }
        Check(whole.Data == want);
        Check(whole.Replies.empty());
        return 0;
    }
    COUNTS const asked = Scan(input, false);
    COUNTS const answered = Scan(whole.Replies, true);
    Check(whole.Data.size() <= asked.Plain);
    // Each request at most one answer; our own first offers (BINARY, EOR)
    // one more.
    for (int o = 0; o < 256; ++o) {
        Check(answered.PeerSide[o] <= asked.PeerSide[o] + 1);
        Check(answered.OurSide[o] <= asked.OurSide[o] + 1);
    }
    // A subnegotiation answers one, and the window size goes once each
    // time NAWS is asked for.
    Check(answered.Subs <= asked.Subs + asked.OurSide[OPT_NAWS]);
    return 0;
}
