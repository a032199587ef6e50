// The texts the SSH device and its engine read from outside: CALLINFO and
// connect strings, ssh's questions and error lines, the parameter string,
// an argument vector, and the question frames.
#include "outside/tessaro/frames.h"
#include "outside/tessaro/tessaro.h"
#include "outside/welkam/sshtext.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    std::string const text(reinterpret_cast<char const*>(data), size);
    std::string const z = text.substr(0, text.find('\0'));
    welkam::CALLINFO info;
    welkam::ParseCallinfo(z.c_str(), &info);
    welkam::TARGET target;
    std::string why;
    if (welkam::ParseTarget(z.c_str(), &target, &why) && (target.Host.empty() || target.Host[0] == '-'))
        __builtin_trap();
    welkam::ParseQuestion(text);
    welkam::CleanLine(text);
    welkam::ParseParms(z);
    welkam::UnescapeField(z);

    // Words at NUL bytes as an argument vector.
    std::vector<std::string> words{"vindle"};
    for (size_t at = 0; at < text.size() && words.size() < 64;) {
        size_t end = text.find('\0', at);
        words.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    if (tessaro::ArgumentsSafe(argv.data()) && tessaro::Destination(argv.data(), nullptr)[0] == '-')
        __builtin_trap();

    // The bytes as a frame stream.
    int sv[2];
    if (size <= 4096 && socketpair(AF_UNIX, SOCK_STREAM, 0, sv) == 0) {
        ssize_t rc = write(sv[0], data, size);
        (void)rc;
        close(sv[0]);
        std::string frame;
        while (tessaro::ReadFrame(sv[1], frame)) {
        }
        close(sv[1]);
    }
    return 0;
}
