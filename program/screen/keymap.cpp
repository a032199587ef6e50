// The key map: its table, its files and the lookup of a key event.
#include "program/screen/keymap.h"

#include "program/screen/mapfiles.h"
#include "platform/services/fileio.h"
#include "program/settings/programsettings.h"

#include "velmot/core/logit.h"
#include "velmot/core/unicode.h"
#include "velmot/core/wstring.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

char const* const KEYMAPPER::DEFAULTFILE = "Standard.qky";

namespace {

// A key event whose flag word has this bit is a key release.
constexpr uint32_t kReleased = 0x100;
// The Print Screen key, whose release is looked up like a press.
constexpr uint16_t kVkSnapshot = 44;
constexpr uint16_t kVkPause = 19;
// Pause and Num Lock share a scan code on PC keyboards; Pause counts as
// 0x59 so that the two stay apart.
constexpr uint8_t kScanNumLock = 0x45;
constexpr uint8_t kScanPause = 0x59;

// Files older than this version knew no Scroll Lock state: their entries
// ignore it.
constexpr char kScrollLockVersion[] = "QOR3.80";

constexpr char kHeaderFormat[] = "QOR%s%s // KEYBOARD\n";
constexpr char const* kComments[] = {
    "// each entry: scancode(hex)|flags(hex)|void|void|future|future|remap-string\n",
    "// flags: UTF8(256), Cmd(128), Ignore-Scroll(64), Alt(32), Ctrl(16), Shift(8), Ignore-Num(4), \n",
    "//        Scroll(2), Num(1) (one bit each, e.g flag for Ctrl+Shift = 16+8 = 24 = flag 18(hex))\n",
};

// The bits of the flags that stand for modifiers and locks in memory.
constexpr uint32_t kMemoryFlags = 0xFF;

// One entry line: "%X|%X|%d|%d|0|0|text". False, with the reason, when the
// line does not have that form.
bool ParseEntry(std::string_view line, uint32_t* keycode, uint32_t* flags, std::string_view* text, char const** why)
{
    mapfiles::CURSOR c{line};
    uint32_t key = 0, bits = 0;
    if (!c.Hex(8, &key) || !c.Take('|')) {
        *why = "no key code";
        return false;
    }
    if (!c.Hex(8, &bits) || !c.Take('|')) {
        *why = "no flags";
        return false;
    }
    if (!c.Decimal() || !c.Take('|') || !c.Decimal() || !c.Take('|') || !c.Take('0') || !c.Take('|') ||
        !c.Take('0') || !c.Take('|')) {
        *why = "the fields between flags and text are missing";
        return false;
    }
    if (key == 0 || key > 0xFFFF) {
        *why = "key code out of range";
        return false;
    }
    if (bits > 0x1FF) {
        *why = "unknown flags";
        return false;
    }
    std::string_view rest = c.Rest();
    rest = rest.substr(0, std::min(rest.size(), rest.find('\0')));
    if (rest.empty()) {
        *why = "no text";
        return false;
    }
    *keycode = key;
    *flags = bits;
    *text = rest;
    return true;
}

// Whether every character of the text is written in Windows-1252 and
// reads back as itself.
bool FitsCp1252(wchar_t const* text)
{
    UNICODE* uc = UNICODE::GetInstance();
    for (; *text; ++text) {
        if (static_cast<uint32_t>(*text) > 0xFF)
            return false;
        char const b = uc->ToForcedCodepageChar(*text, 1252);
        if (uc->FromCodepage(b, 1252) != *text)
            return false;
    }
    return true;
}

} // namespace

KEYMAPPER::KEYMAPPER(KEYMAPHOST& host) : Host(host), Keyboard(KEYBOARD::GetInstance())
{
    memset(Table, 0, sizeof Table);
    memset(MenuShortcuts, 0, sizeof MenuShortcuts);
}

KEYMAPPER::~KEYMAPPER() = default;

FILENAME KEYMAPPER::GetKeymapsFolder()
{
    std::string folder = Host.KeymapsFolderSetting();
    if (folder.empty()) {
        PROGRAMSETTINGSDATA const* settings = Host.Settings();
        folder = settings ? settings->OptsPath : "";
    }
    std::string const work = Host.WorkFolder();
    return FILENAME(work.c_str(), folder.c_str());
}

void KEYMAPPER::Clear()
{
    memset(Table, 0, sizeof Table);
    Remembered = -1;
}

void KEYMAPPER::Load(char const* name)
{
    if (!name || !*name)
        name = DEFAULTFILE;
    FILENAME const path(GetKeymapsFolder().Buf(), name);
    LOGIT("KEYMAPPER::Load %s\n", path.Buf());
    std::string text;
    int error = 0;
    if (!mapfiles::ReadFile(path.Buf(), &text, &error)) {
        if (strcmp(name, DEFAULTFILE) == 0 && error == ENOENT) {
            LOGIT("KEYMAPPER::Load no %s: the key map is empty\n", DEFAULTFILE);
            Clear();
            return;
        }
        LOGIT("KEYMAPPER::Load cannot read %s: %s\n", path.Buf(), plat::fileio::ErrorText(error).c_str());
        errno = error;
        Host.FileError(path.Buf());
        return;
    }
    ReadText(text.data(), text.size());
    File = path;
    UpdateMainMenuShortcuts();
}

int KEYMAPPER::ReadText(char const* data, size_t size)
{
    Clear();
    mapfiles::LINES lines(data, size);
    std::string_view header;
    if (!lines.Next(&header))
        return 0;
    // Entries of files from before the Scroll Lock state ignore it.
    bool const old = header.substr(0, 3) == "QOR" &&
                     strncmp(std::string(header.substr(0, 7)).c_str(), kScrollLockVersion, 7) < 0;
    UNICODE* uc = UNICODE::GetInstance();
    int count = 0;
    std::string_view line;
    while (lines.Next(&line)) {
        int const number = lines.Number();
        if (line.substr(0, 2) == "//")
            continue;
        if (count == NUMKEYDEFS) {
            LOGIT("KEYMAPPER::ReadText line %d and after: the map is full (%d entries)\n", number, NUMKEYDEFS);
            break;
        }
        if (line.size() > mapfiles::MAXLINE) {
            LOGIT("KEYMAPPER::ReadText line %d skipped: longer than %zu bytes\n", number, mapfiles::MAXLINE);
            continue;
        }
        uint32_t keycode = 0, flags = 0;
        std::string_view bytes;
        char const* why = "";
        if (!ParseEntry(line, &keycode, &flags, &bytes, &why)) {
            LOGIT("KEYMAPPER::ReadText line %d skipped: %s\n", number, why);
            continue;
        }
        if (old)
            flags |= FLAG_IGNORESCROLL;
        WSTRING wide;
        if (flags & FLAG_UTF8) {
            uc->Utf8Decoder(bytes.data(), bytes.size(), wide, nullptr);
            flags &= ~FLAG_UTF8;
        } else {
            wide = uc->StringFromCodepage(bytes.data(), static_cast<int32_t>(bytes.size()), 1252);
        }
        int n = std::min<int>(wide.Length(), MAXREMAP);
        if (wide.Length() > MAXREMAP)
            LOGIT("KEYMAPPER::ReadText line %d: text cut to %d characters\n", number, MAXREMAP);
        // A line cannot end in a carriage return (it reads as the line's
        // end): neither may a text, so that it is written as it is read.
        while (n > 0 && wide.Buf()[n - 1] == L'\r')
            --n;
        if (n == 0) {
            LOGIT("KEYMAPPER::ReadText line %d skipped: no text\n", number);
            continue;
        }
        KEYDEF& e = Table[count++];
        e.Keycode = keycode;
        e.Flags = flags;
        wmemcpy(e.Remap, wide.Buf(), static_cast<size_t>(n));
        e.Remap[n] = 0;
    }
    LOGIT("KEYMAPPER::ReadText %d entries\n", count);
    return count;
}

void KEYMAPPER::Sort()
{
    // The entries move: the remembered one is forgotten.
    Remembered = -1;
    // Stable, so that of two entries for one key and the same modifiers the
    // one that came first keeps winning.
    std::stable_sort(std::begin(Table), std::end(Table), [](KEYDEF const& a, KEYDEF const& b) {
        if ((a.Keycode == 0) != (b.Keycode == 0))
            return b.Keycode == 0;
        uint32_t const ka = a.Keycode * 65536u + a.Flags * 256u;
        uint32_t const kb = b.Keycode * 65536u + b.Flags * 256u;
        return ka < kb;
    });
}

std::string KEYMAPPER::WriteText()
{
    Sort();
    std::string out;
    char line[64];
    snprintf(line, sizeof line, kHeaderFormat, "6.44", "");
    out += line;
    for (char const* comment : kComments)
        out += comment;
    for (KEYDEF const& e : Table) {
        if (e.Keycode == 0 || e.Remap[0] == 0)
            continue;
        size_t const length = wcsnlen(e.Remap, MAXREMAP + 1);
        std::wstring_view const text(e.Remap, length);
        bool const narrow = FitsCp1252(std::wstring(text).c_str());
        uint32_t const flags = (e.Flags & kMemoryFlags) | (narrow ? 0 : FLAG_UTF8);
        snprintf(line, sizeof line, "%02X|%02X|-1|-1|0|0|", e.Keycode, flags);
        out += line;
        UNICODE* uc = UNICODE::GetInstance();
        for (wchar_t c : text) {
            if (narrow) {
                out += uc->ToForcedCodepageChar(c, 1252);
            } else {
                char buf[4];
                out.append(buf, static_cast<size_t>(UNICODE::Utf8Encode(c, buf)));
            }
        }
        out += '\n';
    }
    return out;
}

void KEYMAPPER::Save(char const* name)
{
    Sort();
    FILENAME path;
    if (name && *name)
        path = FILENAME(GetKeymapsFolder().Buf(), name);
    else if (File.Length() > 0)
        path = File;
    else
        path = FILENAME(GetKeymapsFolder().Buf(), DEFAULTFILE);
    LOGIT("KEYMAPPER::Save %s\n", path.Buf());
    if (!mapfiles::WriteFile(path.Buf(), WriteText())) {
        int const error = errno;
        LOGIT("KEYMAPPER::Save cannot write %s: %s\n", path.Buf(), strerror(error));
        errno = error;
        Host.FileError(path.Buf());
        return;
    }
    File = path;
}

uint32_t KEYMAPPER::EventModifiers(KEYBOARDEVENT const& event)
{
    uint32_t m = 0;
    if (event.Flags & KEYFLAG_CONTROL)
        m |= FLAG_CTRL;
    if (event.Flags & KEYFLAG_SHIFT)
        m |= FLAG_SHIFT;
    if (event.Flags & KEYFLAG_OPTION)
        m |= FLAG_ALT;
    if (event.Flags & KEYFLAG_COMMAND)
        m |= FLAG_CMD;
    if (Host.KeyState(144))
        m |= FLAG_NUM;
    if (Host.KeyState(145))
        m |= FLAG_SCROLL;
    return m;
}

int KEYMAPPER::FindEntry(KEYBOARDEVENT const& event, uint32_t modifiers) const
{
    uint32_t scan = event.Scancode;
    if (scan == kScanNumLock && event.Keycode == kVkPause)
        scan = kScanPause;
    uint32_t const vk = event.Keycode;
    for (int i = 0; i < NUMKEYDEFS; ++i) {
        KEYDEF const& e = Table[i];
        if (e.Keycode == 0)
            continue;
        uint32_t const escan = e.Keycode & 0xFF, evk = (e.Keycode >> 8) & 0xFF;
        if (!((escan != 0 && escan == scan) || (evk != 0 && evk == vk)))
            continue;
        uint32_t mask = ~(FLAG_IGNORENUM | FLAG_IGNORESCROLL);
        if (e.Flags & FLAG_IGNORENUM)
            mask &= ~FLAG_NUM;
        if (e.Flags & FLAG_IGNORESCROLL)
            mask &= ~FLAG_SCROLL;
        if (((e.Flags ^ modifiers) & mask) == 0)
            return i;
    }
    return -1;
}

int KEYMAPPER::ProcessKeymap(int execute, KEYBOARDEVENT const& event)
{
    if ((event.Flags & kReleased) && event.Keycode != kVkSnapshot)
        return 0;
    uint32_t const modifiers = EventModifiers(event);
    int const found = FindEntry(event, modifiers);
    int rc = 0;
    if (!execute) {
        rc = found >= 0 ? 1 : 0;
    } else if (found >= 0) {
        // The text is executed from a copy: a command it runs may load
        // another key map.
        wchar_t text[MAXREMAP + 1];
        wcsncpy(text, Table[found].Remap, MAXREMAP);
        text[MAXREMAP] = 0;
        Remembered = found;
        Host.DoStringWide(text);
        rc = 1;
    } else {
        // The follow-up of a mapped key: the same key again, without
        // Control or Alt, sends nothing.
        if (Remembered >= 0) {
            KEYDEF const& r = Table[Remembered];
            if (r.Keycode != 0 && event.Scancode == r.Keycode && !(modifiers & (FLAG_CTRL | FLAG_ALT)) &&
                (r.Flags & (FLAG_CTRL | FLAG_ALT)) == modifiers)
                rc = 1;
        }
        Remembered = -1;
    }
    if (rc == 1)
        LOGIT("KEYMAPPER::ProcessKeymap handles key for map index %d (return %d)\n", found, rc);
    return rc;
}
