// libFuzzer entry for what the channels take from outside: pipe-RPC frames,
// broadcast-message datagrams (from several senders), and destination and
// proxy texts. The first byte picks the parser. Nothing here opens a
// socket or asks a name server.
#include "velmot/channels/mailio.h"
#include "velmot/channels/piperpc.h"
#include "velmot/channels/tcphelpers.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Check(bool ok)
{
    if (!ok)
        abort();
}

void Frames(char const* data, int len)
{
    PIPERPC::FRAME frame;
    if (!PIPERPC::ParseFrame(data, len, &frame))
        return;
    Check(frame.Type == '+' || frame.Type == '-' || frame.Type == '=');
    // What parses decodes, and a frame built from it parses to the same.
    HASH const payload = PIPERPC::DecodePayload(frame.Payload);
    STRING const again = PIPERPC::BuildFrame(frame.Type, frame.Id, frame.Command, payload);
    PIPERPC::FRAME second;
    Check(PIPERPC::ParseFrame(again.Buf(), again.Length(), &second));
    Check(second.Id == frame.Id && second.Type == frame.Type && second.Command == frame.Command);
    Check(PIPERPC::DecodePayload(second.Payload).AsString() == payload.AsString());
}

struct SEEN {
    size_t Messages = 0;
};

void Deliver(void* context, char const* data, int len)
{
    Check(len >= 0 && (len == 0 || data != nullptr));
    Check(memchr(data, 0x03, static_cast<size_t>(len)) == nullptr);
    ++static_cast<SEEN*>(context)->Messages;
}

// Datagrams: a byte of sender, a byte of length, the bytes.
void Datagrams(char const* data, int len)
{
    MAILASSEMBLER assembler("[MAILIO::f]");
    SEEN seen;
    int at = 0;
    while (at + 2 <= len) {
        char sender[8];
        snprintf(sender, sizeof sender, "s%d", static_cast<unsigned char>(data[at]) % 80);
        int n = static_cast<unsigned char>(data[at + 1]) * 8;
        at += 2;
        n = std::min(n, len - at);
        assembler.Take(sender, data + at, n, &Deliver, &seen);
        Check(assembler.Senders() <= static_cast<size_t>(MAILASSEMBLER::MAXSENDERS));
        at += n;
    }
}

void Destinations(char const* text)
{
    STRING host, port;
    TCP::SplitDestination(text, host, port);
    Check(port.Length() > 0);
    TCP::DestinationToHostAndPort(text, 23, host, port);
    char const* colon = TCP::FindColonForPort(text);
    Check(!colon || *colon == ':');
    char proxy[64];
    unsigned short proxyPort = 0;
    TCP::HostPortFromSocks(text, proxy, sizeof proxy, &proxyPort, -1);
    Check(strlen(proxy) < sizeof proxy);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    if (size == 0 || size > (1u << 16))
        return 0;
    auto const* text = reinterpret_cast<char const*>(data + 1);
    int const len = static_cast<int>(size - 1);
    switch (data[0] % 3) {
    case 0:
        Frames(text, len);
        break;
    case 1:
        Datagrams(text, len);
        break;
    default:
        Destinations(std::string(text, static_cast<size_t>(len)).c_str());
        break;
    }
    return 0;
}
