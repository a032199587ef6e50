#include "outside/sarvoth/telnetlink.h"

#include "outside/devicegate/devicegate.h"
#include "outside/devicegate/devicetext.h"
#include "outside/sarvoth/certpins.h"
#include "outside/sarvoth/telnettext.h"

#include "velmot/core/logit.h"

#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <thread>

namespace sarvoth {

namespace {

// Received bytes taken from the channel at a time.
constexpr int kRawSize = 16384;
// Writes of plain data go in pieces of this size (a record goes whole).
constexpr size_t kWritePiece = 1 << 20;
// How long a write may make no progress before the connection is dropped.
constexpr int kWriteTimeoutMs = 20000;

enum : int { CONNECTING, ONLINE, ENDED };

// Keeps this module's code loaded for good: a worker that could not be
// stopped in time still runs in it.
void KeepModuleLoaded()
{
    Dl_info info = {};
    if (dladdr(reinterpret_cast<void*>(&KeepModuleLoaded), &info) && info.dli_fname)
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

} // namespace

// What the link, its reader and a connection's worker share.
struct TELNETLINK::SHARED {
    DEVICEGATE Gate;
    std::mutex Lock; // guards Conn and Term
    std::shared_ptr<CONNECTION> Conn;
    TERMINAL Term;
};

struct TELNETLINK::CONNECTION {
    explicit CONNECTION(TERMINAL const& term) : Proto(term) {}
    std::shared_ptr<TELNETIO> Io = std::make_shared<TELNETIO>();
    std::string Host;
    int Port = 0;
    bool Tls = false;
    std::atomic<int> State{CONNECTING};
    std::atomic<bool> Abandoned{false}; // ended by the link: the worker says nothing more
    std::mutex ProtoLock;
    TELNETPROTOCOL Proto;
    // The worker.
    std::thread Worker;
    std::mutex DoneLock;
    std::condition_variable DoneCv;
    bool Done = false;
    // The reader thread's: received bytes not parsed yet.
    std::unique_ptr<uint8_t[]> Raw{new uint8_t[kRawSize]};
    size_t RawAt = 0, RawEnd = 0;

    void Run(std::shared_ptr<SHARED> const& s, LINKOPTIONS const& options, std::string const& destination,
             std::string const& prefix);
};

void TELNETLINK::CONNECTION::Run(std::shared_ptr<SHARED> const& s, LINKOPTIONS const& options,
                                 std::string const& destination, std::string const& prefix)
{
    std::string reason;
    bool ok = Io->MakeCall(destination.c_str());
    if (!ok)
        reason = Io->GetInfo("LASTERRORSTRING").Buf();
    else
        Io->Prepare();
    if (ok && Tls) {
        CERTCHECK check;
        ok = Io->StartTls(Host, options.ConnectTimeoutMs, &check, &reason);
        if (ok && !check.Verified) {
            PINSTORE pins(options.PinFile.empty() ? PINSTORE::DefaultPath() : options.PinFile);
            if (pins.Has(Host, Port, check.Fingerprint)) {
                LOGIT("TELNETLINK %s: certificate %s pinned\n", Host.c_str(), check.Fingerprint.c_str());
            } else {
                CERTQUESTION q;
                q.Host = PrintableText(Host);
                q.Port = Port;
                q.Check.Reason = PrintableText(check.Reason);
                q.Check.Subject = PrintableText(check.Subject, 400);
                q.Check.Issuer = PrintableText(check.Issuer, 400);
                q.Check.Fingerprint = check.Fingerprint;
                int const answer = Abandoned || !options.AskCertificate ? CERT_REFUSE : options.AskCertificate(q);
                LOGIT("TELNETLINK %s: certificate refused by its check (%s), answer %d\n", Host.c_str(),
                      q.Check.Reason.c_str(), answer);
                if (answer == CERT_ALWAYS && !pins.Add(Host, Port, check.Fingerprint))
                    LOGIT("TELNETLINK %s: the pin could not be kept\n", Host.c_str());
                if (answer == CERT_REFUSE) {
                    ok = false;
                    reason = "certificate: " + check.Reason;
                }
            }
        }
    }
    if (Abandoned) {
        ok = false;
        reason.clear();
    }
    if (ok) {
        LOGIT("TELNETLINK %s port %d connected %s\n", Host.c_str(), Port, Io->TlsDescription().c_str());
        State = ONLINE;
        s->Gate.Announce(prefix + "CONNECT " + PrintableText(Host) + "\r\n");
    } else {
        State = ENDED;
        Io->DropCall();
        if (!reason.empty()) {
            LOGIT("TELNETLINK %s port %d failed: %s\n", Host.c_str(), Port, reason.c_str());
            s->Gate.Announce(prefix + "FAIL: " + PrintableText(reason) + "\r\n");
        }
    }
    std::lock_guard<std::mutex> guard(DoneLock);
    Done = true;
    DoneCv.notify_all();
}

TELNETLINK::TELNETLINK(std::string prefix, std::function<void()> endOfRecord)
    : Prefix(std::move(prefix)), EndOfRecord(std::move(endOfRecord)), S(std::make_shared<SHARED>())
{
    Out.reserve(kRawSize);
}

TELNETLINK::~TELNETLINK()
{
    Close();
}

bool TELNETLINK::Open()
{
    MarkerPending = false;
    return S->Gate.Open();
}

void TELNETLINK::Close()
{
    Hangup();
    S->Gate.Detach();
}

std::shared_ptr<TELNETLINK::CONNECTION> TELNETLINK::Current()
{
    std::lock_guard<std::mutex> guard(S->Lock);
    return S->Conn;
}

void TELNETLINK::Hangup()
{
    std::shared_ptr<CONNECTION> c;
    {
        std::lock_guard<std::mutex> guard(S->Lock);
        c = std::move(S->Conn);
    }
    if (!c)
        return;
    c->Abandoned = true;
    if (c->State != ENDED)
        LOGIT("TELNETLINK::Hangup %s\n", c->Host.c_str());
    // A drop that comes before the worker's connect has begun is not seen
    // by it: it is repeated until the worker has ended.
    bool done = false;
    for (int i = 0; i < 40 && !done; ++i) {
        c->Io->DropCall();
        std::unique_lock<std::mutex> guard(c->DoneLock);
        done = c->DoneCv.wait_for(guard, std::chrono::milliseconds(100), [&] { return c->Done; });
    }
    if (done) {
        c->Worker.join();
    } else {
        // Waiting for a name server or for the user's answer: it ends by
        // itself, with its share of the state, and says nothing.
        LOGIT("TELNETLINK::Hangup the worker is busy; left to end by itself\n");
        KeepModuleLoaded();
        c->Worker.detach();
    }
    c->State = ENDED;
    S->Gate.Nudge();
}

bool TELNETLINK::Connect(char const* target, LINKOPTIONS const& options)
{
    Hangup();
    TARGET t;
    std::string reason;
    if (!ParseTarget(target, &t, &reason)) {
        LOGIT("TELNETLINK::Connect refused: %s\n", reason.c_str());
        S->Gate.Announce(Prefix + "FAIL: " + PrintableText(reason) + "\r\n");
        return false;
    }
    std::shared_ptr<CONNECTION> c;
    {
        std::lock_guard<std::mutex> guard(S->Lock);
        c = std::make_shared<CONNECTION>(S->Term);
    }
    c->Host = t.Host;
    c->Port = t.Port > 0 ? t.Port : options.Port;
    c->Tls = options.Tls;
    // Names are resolved forwards only: no reverse lookup goes out.
    c->Io->ResolvePeerOnCall = 0;
    c->Io->ConnectTimeout = options.ConnectTimeoutMs;
    c->Io->WriteTimeout = kWriteTimeoutMs;
    std::string const destination = Destination(t, c->Port);
    LOGIT("TELNETLINK::Connect %s%s\n", destination.c_str(), options.Tls ? " (TLS)" : "");
    {
        std::lock_guard<std::mutex> guard(S->Lock);
        S->Conn = c;
    }
    CONNECTION* raw = c.get();
    // The worker keeps its connection and the shared state alive.
    c->Worker = std::thread([s = S, keep = c, raw, options, destination, prefix = Prefix] {
        raw->Run(s, options, destination, prefix);
    });
    return true;
}

int TELNETLINK::NumAvail()
{
    int n = S->Gate.NumAvail();
    if (n > 0)
        return n;
    std::shared_ptr<CONNECTION> c = Current();
    if (!c || c->State != ONLINE)
        return 0;
    size_t const buffered = c->RawEnd - c->RawAt;
    return static_cast<int>(buffered) + (buffered < kRawSize ? c->Io->DevGetNumAvail() : 0);
}

signed char TELNETLINK::Read(char* buf, unsigned long* len)
{
    size_t const want = *len;
    *len = 0;
    // A record's end found in the last call goes after the bytes it gave.
    if (MarkerPending) {
        MarkerPending = false;
        if (EndOfRecord)
            EndOfRecord();
    }
    for (;;) {
        if (size_t n = S->Gate.TakeAnnounced(buf, want)) {
            *len = n;
            return 0;
        }
        std::shared_ptr<CONNECTION> c = Current();
        if (!c || c->State != ONLINE) {
            // Nothing to read until a connection is made.
            if (S->Gate.Wait(-1) == 2)
                return 2;
            continue;
        }
        if (c->RawAt < c->RawEnd) {
            size_t const take = std::min(c->RawEnd - c->RawAt, want);
            std::string replies;
            Out.clear();
            TELNETPROTOCOL::RECEIVED r;
            {
                std::lock_guard<std::mutex> guard(c->ProtoLock);
                r = c->Proto.Receive(c->Raw.get() + c->RawAt, take, Out, replies);
            }
            c->RawAt += r.Used;
            if (!replies.empty())
                c->Io->Write(replies.data(), static_cast<int>(replies.size()));
            if (r.EndOfRecord) {
                if (Out.empty() && EndOfRecord)
                    EndOfRecord();
                else
                    MarkerPending = true;
            }
            if (!Out.empty()) {
                memcpy(buf, Out.data(), Out.size());
                *len = Out.size();
                return 0;
            }
            continue;
        }
        if (!c->Io->HasBuffered()) {
            CHANNELFD::REF socket = c->Io->SocketRef();
            if (socket && S->Gate.Wait(*socket) == 2)
                return 2;
        }
        int n = kRawSize;
        if (c->Io->DevRead(reinterpret_cast<char*>(c->Raw.get()), &n, 0) && n > 0) {
            c->RawAt = 0;
            c->RawEnd = static_cast<size_t>(n);
        } else if (!c->Io->DevIsConnected()) {
            LOGIT("TELNETLINK %s: the connection ended (%s)\n", c->Host.c_str(),
                  c->Io->GetInfo("LASTERRORSTRING").Buf());
            c->State = ENDED;
        }
    }
}

bool TELNETLINK::Write(char const* data, size_t len)
{
    std::shared_ptr<CONNECTION> c = Current();
    if (!c || c->State != ONLINE || !data)
        return false;
    std::string wire;
    size_t at = 0;
    do {
        wire.clear();
        size_t piece;
        {
            std::lock_guard<std::mutex> guard(c->ProtoLock);
            bool const record = c->Proto.Ours(telnet::OPT_EOR);
            // A record goes whole; plain data in pieces, none ending in a
            // CR (whether an LF follows decides how it is sent).
            piece = record ? len - at : std::min(len - at, kWritePiece);
            if (at + piece < len && data[at + piece - 1] == '\r')
                ++piece;
            c->Proto.Encode(data + at, piece, wire);
        }
        if (wire.size() > INT_MAX || !c->Io->Write(wire.data(), static_cast<int>(wire.size())))
            return false;
        at += piece;
    } while (at < len);
    return true;
}

bool TELNETLINK::SendBreak()
{
    std::shared_ptr<CONNECTION> c = Current();
    char const brk[] = {static_cast<char>(telnet::IAC), static_cast<char>(telnet::BRK)};
    return c && c->State == ONLINE && c->Io->Write(brk, 2);
}

bool TELNETLINK::Online()
{
    std::shared_ptr<CONNECTION> c = Current();
    return c && c->State == ONLINE;
}

void TELNETLINK::SetTerminal(TERMINAL const& terminal)
{
    std::shared_ptr<CONNECTION> c;
    {
        std::lock_guard<std::mutex> guard(S->Lock);
        S->Term = terminal;
        c = S->Conn;
    }
    if (!c)
        return;
    std::string replies;
    {
        std::lock_guard<std::mutex> guard(c->ProtoLock);
        c->Proto.SetTerminal(terminal, replies);
    }
    if (!replies.empty() && c->State == ONLINE)
        c->Io->Write(replies.data(), static_cast<int>(replies.size()));
}

std::string TELNETLINK::Status()
{
    std::shared_ptr<CONNECTION> c = Current();
    if (!c)
        return "STATE: closed\r\n";
    static char const* const states[] = {"connecting", "connected", "ended"};
    std::string out = "HOST: " + PrintableText(c->Host) + " PORT " + std::to_string(c->Port) + "\r\n";
    out += std::string("STATE: ") + states[c->State.load()] + "\r\n";
    {
        std::lock_guard<std::mutex> guard(c->ProtoLock);
        out += "OPTIONS: " + c->Proto.Describe() + "\r\n";
    }
    if (c->Tls)
        out += "TLS: " + c->Io->TlsDescription() + "\r\n";
    return out;
}

} // namespace sarvoth
