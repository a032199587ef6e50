#include "outside/corvane/vtdialect.h"

#include "plugins/sdk/subsysapi.h"

#include <cstring>

namespace vt {

namespace {

// The answers a VT100 with the advanced video option, a VT102 and a VT220
// give (VT220: 132 columns, printer, selective erase, user-defined keys,
// national replacement sets, technical characters). The secondary answer
// names a VT220 at firmware 1.0.
constexpr char kVT100[] = "\x1b[?1;2c";
constexpr char kVT102[] = "\x1b[?6c";
constexpr char kVT220[] = "\x1b[?62;1;2;6;7;8;9c";
constexpr char kSecondary[] = "\x1b[>1;10;0c";
// xterm answers as the VT420 it plays by default: 132 columns, printer,
// selective erase, national replacement sets, technical characters, state
// interrogation, user windows, horizontal scrolling, ANSI colour and
// rectangular editing (xterm's locator port, 16, is left out: there is no
// DEC locator here); the secondary answer is xterm's own (a VT420, patch
// 379), which programs that know xterm read its features from.
constexpr char kXterm[] = "\x1b[?64;1;2;6;9;15;17;18;21;22;28c";
constexpr char kXtermSecondary[] = "\x1b[>41;379;0c";

} // namespace

// Ids 4 and 13 to 15 play the VT220 and id 19 plays xterm.
DIALECT const CorvaneDialects[] = {
    {2, "VT102", LEVEL::VT102, {"vt102", "vt100", nullptr}, kVT102, nullptr, false},
    {3, "VT220", LEVEL::VT220, {"vt220", "vt100", nullptr}, kVT220, kSecondary, false},
    {5, "VT100", LEVEL::VT100, {"vt100", nullptr, nullptr}, kVT100, nullptr, false},
    {18, "xterm", LEVEL::XTERM, {"xterm-256color", "xterm", "vt220"}, kXterm, kXtermSecondary, false},
    {4, "VT220/4", LEVEL::VT220, {"vt220", "vt100", nullptr}, kVT220, kSecondary, false},
    {13, "VT220/13", LEVEL::VT220, {"vt220", "vt100", nullptr}, kVT220, kSecondary, false},
    {14, "VT220/14", LEVEL::VT220, {"vt220", "vt100", nullptr}, kVT220, kSecondary, false},
    {15, "VT220/15", LEVEL::VT220, {"vt220", "vt100", nullptr}, kVT220, kSecondary, false},
    {19, "xterm/19", LEVEL::XTERM, {"xterm-256color", "xterm", "vt220"}, kXterm, kXtermSecondary, false},
};
int const CorvaneDialectCount = sizeof CorvaneDialects / sizeof CorvaneDialects[0];

// The ANSI terminal answers DA as a VT100 without options would (its
// terminal description expects an answer of that form) and sends BS for
// Backspace.
DIALECT const PindrelDialects[] = {
    {1, "ANSI", LEVEL::ANSI, {"ansi", nullptr, nullptr}, "\x1b[?1;0c", nullptr, true},
    {8, "ANSI/8", LEVEL::ANSI, {"ansi", nullptr, nullptr}, "\x1b[?1;0c", nullptr, true},
};
int const PindrelDialectCount = sizeof PindrelDialects / sizeof PindrelDialects[0];

int IntroduceDialects(DIALECT const* list, int count, char* names, int* ids)
{
    constexpr size_t kRoom = 256;
    size_t used = 0;
    for (int i = 0; i < count; ++i) {
        size_t const n = strlen(list[i].Name) + 1;
        if (used + n > kRoom)
            return 0;
        memcpy(names + used, list[i].Name, n);
        used += n;
        ids[i] = list[i].Id;
    }
    return count;
}

int IntroduceBundle(int version, DIALECT const* list, int count, char* names, int* ids)
{
    if (version != SS_INTERFACEVERSION || !names || !ids)
        return 0;
    return IntroduceDialects(list, count, names, ids);
}

DIALECT const* DialectOf(DIALECT const* list, int count, int sub)
{
    return sub >= 0 && sub < count ? &list[sub] : nullptr;
}

} // namespace vt
