// A plug-in built on the SDK, as a device module is: it calls every
// virtual operation of a channel the host made, through the channel's
// virtual table as this plug-in was compiled, and destroys it through its
// virtual destructor. It also calls the base's plain operations, which it
// imports from the shared library.
#include "velmot/channels/tcpio.h"

extern "C" __attribute__((visibility("default"))) int AbiPlugCallEverySlot(BASEIO* io, TCPIPIO* tcp, int socket)
{
    char buf[8];
    int n = sizeof buf;
    int calls = 0;
    calls += io->DevRead(buf, &n, 0);
    calls += io->DevWrite("w", 1);
    calls += io->DevGetNumAvail();
    calls += io->DevIsConnected();
    calls += io->IsUpAndRunning();
    calls += io->MakeCall("host:23");
    calls += io->AcceptCall();
    calls += io->DropCall();
    calls += io->IsConnected();
    io->SetInfoFunction(nullptr, nullptr);
    io->SetDataFunction(nullptr, nullptr);
    io->SetCallType("calltype");
    io->SetOurId("ourid");
    calls += io->GetOurId().Length() > 0;
    calls += io->GetInfo("KEY").Length() > 0;
    io->SetParm("name", "value");
    // The plain operations of the base, from the library.
    calls += io->Write("plain", 5);
    calls += io->GetNumAvail() >= 0;
    char got[4];
    calls += tcp->Send(socket, "abc", 3) == 3;
    calls += tcp->Recv(socket, got, sizeof got) == 3;
    delete io;
    return calls;
}
