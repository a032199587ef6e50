// tessaro-askpass: the program ssh runs for each question while tessaro
// runs it (SSH_ASKPASS). It hands the question to tessaro over the socket
// named in TESSARO_ASKPASS_SOCKET and prints the answer for ssh; it ends
// with 1 when no answer came (ssh then takes the question as cancelled).
#include "outside/tessaro/frames.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    char const* path = getenv("TESSARO_ASKPASS_SOCKET");
    if (!path || !*path)
        return 1;
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    if (strlen(path) >= sizeof addr.sun_path)
        return 1;
    strcpy(addr.sun_path, path);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return 1;
    char const* hint = getenv("SSH_ASKPASS_PROMPT");
    std::string question = std::string(hint ? hint : "") + "\n" + (argc > 1 && argv[1] ? argv[1] : "");
    std::string answer;
    if (!tessaro::WriteFrame(fd, question) || !tessaro::ReadFrame(fd, answer) || answer.empty() || answer[0] != '1')
        return 1;
    std::string out = answer.substr(1) + "\n";
    size_t done = 0;
    while (done < out.size()) {
        ssize_t n = write(1, out.data() + done, out.size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    std::fill(out.begin(), out.end(), '\0');
    std::fill(answer.begin(), answer.end(), '\0');
    close(fd);
    return done == out.size() ? 0 : 1;
}
