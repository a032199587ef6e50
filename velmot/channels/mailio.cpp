// MAILIO: named messages by UDP broadcast.
#include "velmot/channels/mailio.h"

#include "velmot/core/logit.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char const* kSource = "mailio";
constexpr char kEtx = 0x03;
// A read takes at most this much of a datagram at once; the rest follows.
constexpr int kReadSize = 1400;

} // namespace

// ---------------------------------------------------------------------------
// MAILASSEMBLER

void MAILASSEMBLER::Take(char const* sender, char const* data, int len, DELIVER deliver, void* context)
{
    std::string const key = sender ? sender : "";
    auto it = std::find_if(Pending.begin(), Pending.end(), [&](SENDER const& s) { return s.Key == key; });
    if (it == Pending.end()) {
        if (len <= 0)
            return;
        if (Pending.size() >= static_cast<size_t>(MAXSENDERS)) {
            // The sender heard from longest ago gives way.
            auto oldest = std::min_element(Pending.begin(), Pending.end(),
                                           [](SENDER const& a, SENDER const& b) { return a.LastUse < b.LastUse; });
            LOGIT("MAILIO drops %zu unfinished bytes of %s\n", oldest->Bytes.size(), oldest->Key.c_str());
            Pending.erase(oldest);
        }
        Pending.push_back({key, std::string(), 0});
        it = Pending.end() - 1;
    }
    it->LastUse = ++Uses;
    it->Bytes.append(data, static_cast<size_t>(std::max(len, 0)));
    size_t start = 0;
    for (size_t etx; (etx = it->Bytes.find(kEtx, start)) != std::string::npos; start = etx + 1) {
        size_t const length = etx - start;
        if (length >= Prefix.size() && it->Bytes.compare(start, Prefix.size(), Prefix) == 0)
            deliver(context, it->Bytes.data() + start + Prefix.size(), static_cast<int>(length - Prefix.size()));
    }
    it->Bytes.erase(0, start);
    if (it->Bytes.size() > static_cast<size_t>(MAXPENDING)) {
        LOGIT("MAILIO drops %zu bytes of %s without an end\n", it->Bytes.size(), key.c_str());
        it->Bytes.clear();
    }
    if (it->Bytes.empty())
        Pending.erase(it);
}

// ---------------------------------------------------------------------------
// MAILIO

namespace {

STRING MakePrefix(char const* name)
{
    STRING prefix;
    prefix.Format("[MAILIO::%s]", name ? name : "");
    return prefix;
}

} // namespace

MAILIO::MAILIO(char const* name, char const*, char const*)
    : UDPIO("50801", "{broadcast}", "0"), Name(name ? name : ""), Prefix(MakePrefix(name)), Assembler(Prefix.Buf())
{
    LOGIT("MAILIO::MAILIO\n");
    LOGIT("MAILIO::MAILIO done\n");
}

MAILIO::~MAILIO()
{
    LOGIT("MAILIO::MAILIO\n");
    UDPIO::DropCall();
    // The reader thread works on the members below: it ends first.
    KillDaemon(1);
    LOGIT("MAILIO::MAILIO done\n");
}

bool MAILIO::MakeCall(char const*)
{
    return UDPIO::MakeCall("*:50801");
}

bool MAILIO::DropCall()
{
    LOGIT("MAILIO::DropCall\n");
    LOGIT("MAILIO::DropCall done\n");
    return true;
}

int MAILIO::DropAccept()
{
    LOGIT("MAILIO::DropAccept\n");
    return 1;
}

bool MAILIO::DevWrite(char const* data, int len)
{
    std::string message(Prefix.Buf(), static_cast<size_t>(Prefix.Length()));
    message.append(data ? data : "", static_cast<size_t>(std::max(len, 0)));
    message.push_back(kEtx);
    return UDPIO::DevWrite(message.data(), static_cast<int>(message.size()));
}

void MAILIO::Deliver(void* self, char const* data, int len)
{
    static_cast<MAILIO*>(self)->Feed(data, len);
}

bool MAILIO::DevRead(char*, int* len, int timeoutMs)
{
    *len = 0;
    if (timeoutMs != -1)
        AssertMsg(0, "timeout==-1", kSource, __LINE__, nullptr, false);
    if (!HasDataFunction())
        AssertMsg(0, "this->pfnDataCallback", kSource, __LINE__, nullptr, false);
    if (!GetThreadHandle())
        AssertMsg(0, "this->GetThreadHandle()!=NULL", kSource, __LINE__, nullptr, false);
    char datagram[kReadSize];
    int n = sizeof datagram;
    if (!UDPIO::DevRead(datagram, &n, timeoutMs))
        return false;
    Assembler.Take(LastSender(), datagram, n, &Deliver, this);
    return true;
}

STRING MAILIO::GetInfo(char const* key)
{
    STRING k(key ? key : "");
    k.ToUpper();
    if (k == "ONLINE")
        return STRING(DevIsConnected() ? 1 : 0);
    if (k == "DEVICENAME")
        return STRING("MAIL");
    return UDPIO::GetInfo(key);
}
