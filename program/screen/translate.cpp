#include "program/screen/translate.h"

#include "program/screen/mapfiles.h"
#include "platform/services/fileio.h"

#include "velmot/core/logit.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

char const* const TRANSLATE::DEFAULTFILE = "Standard.qtr";

namespace {

constexpr char kHeaderFormat[] = "QOR%s%s // TRANSLATE\n";
constexpr char kComments[] = "// CHARACTER TRANSLATION TABLE (CHANGED ENTRIES ONLY)\n"
                             "// format: x|Old|New \n"
                             "//         x= I (inward) or O (outward), Old/New in hex\n";

} // namespace

TRANSLATE::TRANSLATE(TRANSLATEHOST& host) : Host(host)
{
    Reset();
    Valid = 1;
}

TRANSLATE::~TRANSLATE() = default;

void TRANSLATE::Reset()
{
    for (int b = 0; b < 256; ++b)
        Inward[b] = Outward[b] = static_cast<uint8_t>(b);
}

bool TRANSLATE::Active()
{
    return Valid && Host.DoTrans() && !Host.EmulationFlag(EMUFLAG_NOTRANSLATION);
}

int TRANSLATE::Translate(char direction, int byte)
{
    if (!Active() || byte < 0 || byte > 255)
        return byte;
    switch (direction) {
    case 'I':
    case 'i':
        return Inward[byte];
    case 'O':
    case 'o':
        return Outward[byte];
    default:
        return -1;
    }
}

FILENAME TRANSLATE::GetTranslationTablesFolder()
{
    std::string folder = Host.TranslationFolderSetting();
    if (folder.empty())
        folder = Host.OptionsFolder();
    std::string const work = Host.WorkFolder();
    return FILENAME(work.c_str(), folder.c_str());
}

void TRANSLATE::SetFileName(char const* path)
{
    File = path ? path : "";
}

void TRANSLATE::Load(char const* name)
{
    if (!name || !*name)
        name = DEFAULTFILE;
    FILENAME const path(GetTranslationTablesFolder().Buf(), name);
    LOGIT("TRANSLATE::Load %s\n", path.Buf());
    std::string text;
    int error = 0;
    if (!mapfiles::ReadFile(path.Buf(), &text, &error)) {
        if (strcmp(name, DEFAULTFILE) == 0 && error == ENOENT) {
            LOGIT("TRANSLATE::Load no %s: no translation\n", DEFAULTFILE);
            Reset();
            return;
        }
        LOGIT("TRANSLATE::Load cannot read %s: %s\n", path.Buf(), plat::fileio::ErrorText(error).c_str());
        errno = error;
        Host.FileError(path.Buf());
        return;
    }
    ReadText(text.data(), text.size());
    SetFileName(path.Buf());
}

int TRANSLATE::ReadText(char const* data, size_t size)
{
    Reset();
    mapfiles::LINES lines(data, size);
    std::string_view line;
    if (!lines.Next(&line))
        return 0; // the header says nothing the reader needs
    int applied = 0;
    while (lines.Next(&line)) {
        if (line.substr(0, 2) == "//")
            continue;
        mapfiles::CURSOR c{line};
        char direction = 0;
        uint32_t from = 0, to = 0;
        if (!c.Any(&direction) || !c.Take('|') || !c.Hex(2, &from) || !c.Take('|') || !c.Hex(2, &to) ||
            (direction != 'I' && direction != 'O')) {
            LOGIT("TRANSLATE::ReadText line %d skipped: not \"I|xx|yy\" or \"O|xx|yy\"\n", lines.Number());
            continue;
        }
        (direction == 'I' ? Inward : Outward)[from] = static_cast<uint8_t>(to);
        ++applied;
    }
    return applied;
}

std::string TRANSLATE::WriteText() const
{
    std::string out;
    char line[64];
    snprintf(line, sizeof line, kHeaderFormat, "6.44", "");
    out += line;
    out += kComments;
    for (char direction : {'I', 'O'}) {
        uint8_t const* map = direction == 'I' ? Inward : Outward;
        for (int b = 0; b < 256; ++b) {
            if (map[b] == b)
                continue;
            snprintf(line, sizeof line, "%c|%02X|%02X\n", direction, b, map[b]);
            out += line;
        }
    }
    return out;
}

void TRANSLATE::Save(char const* name)
{
    std::string path;
    if (name && *name)
        path = FILENAME(GetTranslationTablesFolder().Buf(), name).Buf();
    else if (!File.empty())
        path = File;
    else
        path = FILENAME(GetTranslationTablesFolder().Buf(), DEFAULTFILE).Buf();
    LOGIT("TRANSLATE::Save %s\n", path.c_str());
    if (!mapfiles::WriteFile(path.c_str(), WriteText())) {
        int const error = errno;
        LOGIT("TRANSLATE::Save cannot write %s: %s\n", path.c_str(), strerror(error));
        errno = error;
        Host.FileError(path.c_str());
        return;
    }
    SetFileName(path.c_str());
}
