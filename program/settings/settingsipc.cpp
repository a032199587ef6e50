// SETTINGSIPC: notices between the running instances.
#include "program/settings/settingsipc.h"

#include "velmot/core/logit.h"

#include <cinttypes>
#include <cstdio>
#include <unistd.h>

SETTINGSIPC::SETTINGSIPC(RECEIVER receiver) : Receiver(std::move(receiver))
{
    LOGIT("SETTINGSIPC::SETTINGSIPC\n");
}

SETTINGSIPC::~SETTINGSIPC()
{
    LOGIT("SETTINGSIPC::~SETTINGSIPC done\n");
}

STRING SETTINGSIPC::FormatNotice(long pid, uint32_t msg, uint32_t mp1, uint32_t mp2)
{
    STRING text;
    text.Format("QORIPC %ld %08" PRIx32 " %08" PRIx32 " %08" PRIx32, pid, msg, mp1, mp2);
    return text;
}

bool SETTINGSIPC::ParseNotice(char const* text, long* pid, uint32_t* msg, uint32_t* mp1, uint32_t* mp2)
{
    if (!text)
        return false;
    long p;
    unsigned long m;
    unsigned long a;
    unsigned long b;
    if (sscanf(text, "QORIPC %ld %lx %lx %lx", &p, &m, &a, &b) != 4)
        return false;
    if (m > UINT32_MAX || a > UINT32_MAX || b > UINT32_MAX)
        return false;
    *pid = p;
    *msg = static_cast<uint32_t>(m);
    *mp1 = static_cast<uint32_t>(a);
    *mp2 = static_cast<uint32_t>(b);
    return true;
}

void SETTINGSIPC::SendMessage(uint32_t msg, uint32_t mp1, uint32_t mp2)
{
    LOGIT("SETTINGSIPC::SendMessage msg=%u, mp1=%u, mp2= %u\n", msg, mp1, mp2);
    IpcPostEvent(FormatNotice(static_cast<long>(getpid()), msg, mp1, mp2).Buf());
}

void SETTINGSIPC::IpcNotificationCallback(char const* text)
{
    long pid;
    uint32_t msg;
    uint32_t mp1;
    uint32_t mp2;
    if (!ParseNotice(text, &pid, &msg, &mp1, &mp2) || pid == static_cast<long>(getpid()))
        return;
    LOGIT("SETTINGSIPC::IpcNotificationCallback %ld %08x %08x\n", pid, mp1, mp2);
    if (Receiver)
        Receiver(msg, mp1, mp2);
}
