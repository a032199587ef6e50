// The second process of the pipe-RPC tests.
//
//   rpc_peer server <target> <mode>   serves until standard input closes;
//                                     prints "ready" once it listens
//   rpc_peer client <target>          calls "hello" once and prints the
//                                     reply's "greeting"
//
// Commands served: "echo" (the arguments back, rc 0), "sleep" (waits "ms"
// milliseconds, then answers "tag"), "pid" (the process id), "callback"
// (calls "ping" on the caller while the call waits, answers what came
// back).
#include "velmot/channels/piperpc.h"
#include "velmot/core/osys.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

PIPERPC* gRpc = nullptr;

void Serve(char const* command, HASH const& args, HASH* result, void*)
{
    if (strcmp(command, "echo") == 0) {
        *result = args;
    } else if (strcmp(command, "sleep") == 0) {
        OSYS::Sleep(static_cast<int>(args["ms"]));
        (*result)["tag"] = args["tag"];
    } else if (strcmp(command, "pid") == 0) {
        (*result)["pid"] = STRING(static_cast<int>(getpid()));
    } else if (strcmp(command, "callback") == 0) {
        HASH ask;
        ask["n"] = args["n"];
        HASH answer;
        if (!gRpc->RpcCall("ping", ask, &answer, 0))
            return;
        (*result)["pong"] = answer["pong"];
    } else {
        return;
    }
    (*result)["rc"] = "0";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && strcmp(argv[1], "server") == 0) {
        PIPERPC rpc("peer");
        gRpc = &rpc;
        rpc.pfnCallback = &Serve;
        if (!rpc.RpcConnect(argv[2], static_cast<unsigned>(atoi(argv[3])))) {
            printf("failed\n");
            return 1;
        }
        printf("ready %s\n", rpc.GetDeviceInfo("ACCEPTPORT").Buf());
        fflush(stdout);
        char buf[64];
        while (read(0, buf, sizeof buf) > 0) {
        }
        return 0;
    }
    if (argc >= 3 && strcmp(argv[1], "client") == 0) {
        PIPERPC rpc("peer");
        if (!rpc.RpcConnect(argv[2], 0))
            return 1;
        HASH args;
        args["who"] = "peer";
        HASH reply;
        if (!rpc.RpcCall("hello", args, &reply, 0))
            return 2;
        printf("%s\n", reply["greeting"].Buf());
        return 0;
    }
    fprintf(stderr, "usage: rpc_peer server <target> <mode> | client <target>\n");
    return 64;
}
