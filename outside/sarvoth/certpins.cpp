#include "outside/sarvoth/certpins.h"

#include "velmot/core/logit.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sarvoth {

namespace {

// A pin file larger than this is not read.
constexpr off_t kMaxFile = 1 << 20;

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(tolower(c)); });
    return s;
}

// Makes each missing folder of path's parent, 0700.
void MakeParents(std::string const& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0700);
}

bool WriteAll(int fd, std::string const& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

PINSTORE::PINSTORE(std::string path) : File(std::move(path)) {}

std::string PINSTORE::DefaultPath()
{
    char const* xdg = getenv("XDG_CONFIG_HOME");
    char const* home = getenv("HOME");
    std::string base = xdg && *xdg == '/' ? std::string(xdg) : std::string(home ? home : "") + "/.config";
    return base + "/qor/tls-pins";
}

std::string PINSTORE::Load() const
{
    int fd = open(File.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return std::string();
    struct stat st;
    std::string text;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
        !(st.st_mode & (S_IWGRP | S_IWOTH)) && st.st_size <= kMaxFile) {
        text.resize(static_cast<size_t>(st.st_size));
        ssize_t const n = read(fd, text.data(), text.size());
        text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    } else {
        LOGIT("PINSTORE::Load %s is not the user's alone; it is not read\n", File.c_str());
    }
    close(fd);
    return text;
}

bool PINSTORE::Has(std::string const& host, int port, std::string const& fingerprint) const
{
    if (fingerprint.empty())
        return false;
    std::istringstream lines(Load());
    std::string line;
    std::string const h = Lower(host);
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string lineHost, print;
        int linePort = 0;
        if (fields >> lineHost >> linePort >> print && Lower(lineHost) == h && linePort == port && print == fingerprint)
            return true;
    }
    return false;
}

bool PINSTORE::Add(std::string const& host, int port, std::string const& fingerprint)
{
    std::string const h = Lower(host);
    if (h.empty() || fingerprint.empty() || h.find_first_of(" \t\r\n") != std::string::npos)
        return false;
    std::istringstream lines(Load());
    std::string line, kept;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string lineHost;
        int linePort = 0;
        if (fields >> lineHost >> linePort && Lower(lineHost) == h && linePort == port)
            continue;
        kept += line + "\n";
    }
    kept += h + " " + std::to_string(port) + " " + fingerprint + "\n";

    MakeParents(File);
    size_t const slash = File.rfind('/');
    std::string templ = (slash == std::string::npos ? std::string(".") : File.substr(0, slash)) + "/.tls-pins-XXXXXX";
    std::vector<char> name(templ.begin(), templ.end());
    name.push_back('\0');
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = fchmod(fd, 0600) == 0 && WriteAll(fd, kept) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(name.data(), File.c_str()) == 0;
    if (!ok) {
        LOGIT("PINSTORE::Add can't write %s: %s\n", File.c_str(), strerror(errno));
        unlink(name.data());
    }
    return ok;
}

} // namespace sarvoth
