#include "program/screen/mapfiles.h"

#include "platform/services/fileio.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>

namespace mapfiles {

bool ReadFile(char const* path, std::string* out, int* error)
{
    int code = 0;
    if (plat::fileio::ReadBounded(path, MAXFILE, *out, &code))
        return true;
    if (error)
        *error = code;
    return false;
}

bool WriteFile(char const* path, std::string const& content)
{
    // A link stays a link: the file it names is replaced.
    std::string const target = plat::fileio::LinkTarget(path);
    struct stat st;
    mode_t mode = 0644;
    if (stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        mode = st.st_mode & 07777;
    return plat::fileio::WriteAtomic(target, content, mode);
}

bool LINES::Next(std::string_view* line)
{
    if (Pos >= Text.size())
        return false;
    size_t end = Text.find('\n', Pos);
    size_t next = end == std::string_view::npos ? Text.size() : end + 1;
    if (end == std::string_view::npos)
        end = Text.size();
    std::string_view l = Text.substr(Pos, end - Pos);
    while (!l.empty() && l.back() == '\r')
        l.remove_suffix(1);
    Pos = next;
    ++Count;
    *line = l;
    return true;
}

void CURSOR::SkipBlanks()
{
    while (Pos < Text.size() && (Text[Pos] == ' ' || Text[Pos] == '\t'))
        ++Pos;
}

bool CURSOR::Take(char c)
{
    if (Pos >= Text.size() || Text[Pos] != c)
        return false;
    ++Pos;
    return true;
}

bool CURSOR::Any(char* c)
{
    if (Pos >= Text.size())
        return false;
    *c = Text[Pos++];
    return true;
}

bool CURSOR::Hex(int maxDigits, uint32_t* value)
{
    SkipBlanks();
    uint32_t v = 0;
    int digits = 0;
    while (Pos < Text.size() && digits < maxDigits) {
        char const c = Text[Pos];
        int d = -1;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        if (d < 0)
            break;
        v = v * 16 + static_cast<uint32_t>(d);
        ++digits;
        ++Pos;
    }
    if (digits == 0)
        return false;
    *value = v;
    return true;
}

bool CURSOR::Decimal()
{
    SkipBlanks();
    if (Pos < Text.size() && (Text[Pos] == '-' || Text[Pos] == '+'))
        ++Pos;
    int digits = 0;
    while (Pos < Text.size() && Text[Pos] >= '0' && Text[Pos] <= '9' && digits < 10) {
        ++digits;
        ++Pos;
    }
    return digits > 0;
}

} // namespace mapfiles
