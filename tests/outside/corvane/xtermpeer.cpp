// The program a reference xterm runs for one case of the VT tests (see
// xtermref.h): it puts its terminal into raw mode, writes the case's
// bytes, asks for the cursor position and a marker report after them, and
// keeps every answer the terminal sent until the marker's; then it has the
// terminal print its screen (to the printer command the test gave xterm)
// and waits for the marker once more, so that the print is complete when
// the program ends.
//
//   xtermpeer CASEFILE ANSWERFILE
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

// A DECRQCRA of one cell with an id no case uses: its answer ends what a
// case made the terminal send.
constexpr char kMarker[] = "\x1b[9999;1;1;1;1;1*y";

bool WriteAll(int fd, std::string const& data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t const n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// Whether the marker's answer (with 7-bit or 8-bit introducers) ends the
// text read so far.
bool MarkerAnswered(std::string const& in, size_t from)
{
    size_t const at = in.find("9999!~", from);
    if (at == std::string::npos || in.size() < at + 10)
        return false;
    size_t const end = at + 10;
    return in.compare(end, 2, "\x1b\\") == 0 || (in.size() > end && in[end] == '\x9c');
}

// Reads answers into `in` until the marker's arrives or `ms` pass.
bool ReadUntilMarker(std::string& in, size_t from, int ms)
{
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!MarkerAnswered(in, from)) {
        auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return false;
        pollfd p{0, POLLIN, 0};
        int const r = poll(&p, 1, int(left));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        char buf[4096];
        ssize_t const n = read(0, buf, sizeof buf);
        if (n <= 0)
            return false;
        in.append(buf, size_t(n));
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    std::string bytes;
    if (FILE* f = fopen(argv[1], "rb")) {
        char buf[65536];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            bytes.append(buf, n);
        fclose(f);
    } else {
        return 2;
    }
    termios mode{};
    if (tcgetattr(0, &mode) == 0) {
        cfmakeraw(&mode);
        tcsetattr(0, TCSANOW, &mode);
    }
    std::string answers;
    WriteAll(1, bytes + "\x1b[6n" + kMarker);
    bool const answered = ReadUntilMarker(answers, 0, 8000);
    if (FILE* f = fopen(argv[2], "wb")) {
        fwrite(answers.data(), 1, answers.size(), f);
        if (!answered)
            fputs("\n(no marker)", f);
        fclose(f);
    }
    // The whole screen to the printer, then the marker once more.
    size_t const mark = answers.size();
    WriteAll(1, std::string("\x1b[?19h\x1b[i") + kMarker);
    ReadUntilMarker(answers, mark, 8000);
    return 0;
}
