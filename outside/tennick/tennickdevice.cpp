#include "outside/tennick/tennickdevice.h"

#include <cstdio>
#include <cstring>

TENNICKDEVICE::TENNICKDEVICE(SUBSYSINITDATA const& init, int id, char const* name)
    : QORDEVICE(init), Id(id), Name(name), Parm("[" + std::to_string(id) + "]")
{
}

void TENNICKDEVICE::CopyCut(char* dst, int size, std::string const& text)
{
    if (dst && size > 0)
        snprintf(dst, static_cast<size_t>(size), "%s", text.c_str());
}

int TENNICKDEVICE::SetParm(char const* parm)
{
    if (parm)
        Parm = parm;
    return 1;
}

char* TENNICKDEVICE::QueryParm(char* buf, int max)
{
    CopyCut(buf, max, Parm);
    return buf;
}

char* TENNICKDEVICE::QueryStdParm(char* buf)
{
    CopyCut(buf, 128, "[" + std::to_string(Id) + "]");
    return buf;
}

char* TENNICKDEVICE::QueryStatus(char* buf)
{
    CopyCut(buf, 256, Gate.Attached() ? Name : Name + " (closed)");
    return buf;
}

std::string TENNICKDEVICE::Options() const
{
    if (!Parm.empty() && Parm[0] == '[') {
        size_t close = Parm.find(']');
        if (close != std::string::npos)
            return Parm.substr(close + 1);
    }
    return Parm;
}
