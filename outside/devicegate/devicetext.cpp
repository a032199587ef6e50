#include "outside/devicegate/devicetext.h"

std::string PrintableText(std::string_view text, size_t max)
{
    std::string out;
    for (char c : text) {
        if (out.size() >= max)
            break;
        unsigned char const u = static_cast<unsigned char>(c);
        out += u >= 0x20 && u < 0x7F ? c : '?';
    }
    size_t const first = out.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::string();
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}
