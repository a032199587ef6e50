// vindle: runs one SSH client session in a process of its own. It prepares
// the process, reports the descriptors it inherited, hands its whole
// argument vector to the SSH engine and returns the engine's exit status.
// Diagnostics go to standard error.
#include "outside/tessaro/tessaro.h"

#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    (void)argc;
    // The network needs no start-up here.
    TARVOAPP::SetApplicationName("QORSSH", "6.44");
    LOGITARG("/CRASHDUMP:3");
    fprintf(stderr, "vindle main\n");
    for (int fd = 3; fd <= 63; ++fd) {
        if (fcntl(fd, F_GETFL) == -1)
            continue;
        fprintf(stderr, "vindle has lingering fd %d: ", fd);
        struct stat st;
        if (fstat(fd, &st) == 0)
            fprintf(stderr, " (dev= %d, size= %d, mod= %08o)", static_cast<int>(st.st_dev),
                    static_cast<int>(static_cast<uint32_t>(st.st_size)), static_cast<unsigned>(st.st_mode));
        fprintf(stderr, "\n");
    }
    fflush(stderr);
    int rc = ssh5_main(argv);
    fprintf(stderr, "vindle main done, rc= %d\n", rc);
    return rc;
}
