// The bare reader of the terminal benchmark: runs a command on a pseudo
// terminal of the size given and reads what it writes as fast as it comes,
// doing nothing with it but answering a primary device attributes request
// (ESC [ c, ESC [ 0 c), as the timing harness needs of a terminal. It gives
// the speed of the pseudo terminal itself, next to the terminals that draw.
//
//   barepty COLS ROWS SCROLLBACK TITLE -e COMMAND [ARG...]
//
// (the terminal harness's words; SCROLLBACK and TITLE are taken and left
// unused). Exits with the command's status.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The answer to a request: a VT100 with advanced video.
constexpr char kAnswer[] = "\x1b[?1;2c";

bool WriteAll(int fd, char const* data, size_t len)
{
    while (len > 0) {
        ssize_t const n = write(fd, data, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        len -= size_t(n);
    }
    return true;
}

// Finds the requests in what is read, across the reads: where it stands
// in ESC [ (0) c.
class REQUESTS {
public:
    // How many requests the n bytes at p end.
    int Scan(char const* p, size_t n)
    {
        int found = 0;
        char const* const end = p + n;
        while (p < end) {
            if (State == 0) {
                p = static_cast<char const*>(memchr(p, 0x1b, size_t(end - p)));
                if (!p)
                    break;
                State = 1;
                ++p;
                continue;
            }
            char const c = *p++;
            if (c == 0x1b)
                State = 1;
            else if (State == 1 && c == '[')
                State = 2;
            else if (State == 2 && c == '0')
                State = 3;
            else if ((State == 2 || State == 3) && c == 'c')
                ++found, State = 0;
            else
                State = 0;
        }
        return found;
    }

private:
    int State = 0;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 7 || strcmp(argv[5], "-e") != 0) {
        fprintf(stderr, "usage: barepty COLS ROWS SCROLLBACK TITLE -e COMMAND [ARG...]\n");
        return 2;
    }
    winsize size{};
    size.ws_col = static_cast<unsigned short>(atoi(argv[1]));
    size.ws_row = static_cast<unsigned short>(atoi(argv[2]));
    int master = -1;
    pid_t const child = forkpty(&master, nullptr, nullptr, &size);
    if (child < 0) {
        perror("barepty: forkpty");
        return 1;
    }
    if (child == 0) {
        setenv("TERM", "xterm-256color", 1);
        execvp(argv[6], argv + 6);
        _exit(127);
    }
    signal(SIGPIPE, SIG_IGN);
    static char buffer[1 << 16];
    REQUESTS requests;
    for (;;) {
        ssize_t const n = read(master, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // EIO once the command and its children have gone
        for (int k = requests.Scan(buffer, size_t(n)); k > 0; --k) {
            if (!WriteAll(master, kAnswer, sizeof kAnswer - 1))
                break;
        }
    }
    close(master);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
