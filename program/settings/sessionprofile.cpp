// SESSIONPROFILE: defaults, loading with the upgrade of old releases,
// saving, and the packing of the text-pair tables.
#include "program/settings/sessionprofile.h"

#include "velmot/core/workdir.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

namespace {

void* const kStrings = const_cast<char*>("Settings");



// memcmp over the first four characters of the version, zero-padded.
int CompareVersion4(std::string const& version, char const* other)
{
    char padded[5] = {};
    memcpy(padded, version.c_str(), std::min<size_t>(4, version.size()));
    return memcmp(padded, other, 4);
}

} // namespace

SESSIONPROFILE::SESSIONPROFILE(SESSIONPROFILEHOST& owner) : session(owner), opts(&data, Optlist, -1), loadEvent(0)
{
    LOGIT("SESSIONPROFILE::SESSIONPROFILE\n");
    memset(&data, 0, sizeof data);
    Init(&data);
}

SESSIONPROFILE::~SESSIONPROFILE()
{
    LOGIT("SESSIONPROFILE::~SESSIONPROFILE\n");
}

void SESSIONPROFILE::Init(SESSIONPROFILEDATA* block)
{
    memset(block, 0, sizeof *block);
    OPTSBASE::CopyText(block->Header, sizeof block->Header, "QOR 6.44");
    block->BlockSize = sizeof *block;
    block->ActiveDevice = 11;
    OPTSBASE::CopyText(block->DeviceOpts[1], sizeof block->DeviceOpts[1], "[1]:38400-8N1|9|250");
    OPTSBASE::CopyText(block->TimeoutString, sizeof block->TimeoutString, "^@");
    block->Beep = 1;
    block->DoTrans = 1;
    block->CursorBlink = 1;
    OPTSBASE::CopyText(block->EnqString, sizeof block->EnqString, "QOR^9");
    OPTSBASE::CopyText(block->CaptDefaultName, sizeof block->CaptDefaultName, "QOR^3^2_^+^8.LOG");
    block->CaptHeading = 1;
    block->CaptAppend = 1;
    block->ActiveTransfer = 2;
    block->StartTap = 1;
    block->GuessUploadName = 1;
    block->ZAutoDownload = 1;
    OPTSBASE::CopyText(block->TransAltDir, sizeof block->TransAltDir, "QW?|MO?|TU?|WE?|TH?|FR?|SA?|SU?");
    OPTSBASE::CopyText(block->TransAutoRemove, sizeof block->TransAutoRemove, "TMP");
    block->AsciiCRLF = 2;
    block->AsciiDelay2 = 50;
    block->ActiveEmulation = 3;
    block->VTStripSeq = 1;
    OPTSBASE::CopyWide(block->UserDesc[0], 32, L"Send 'exit'");
    OPTSBASE::CopyWide(block->UserValue[0], 196, L"exit^M");
    block->ShowScrollbar = 1;
    block->ShowToolbar = 1;
    block->ShowStatusline = 1;
    block->ShowUserbar = 1;
    block->ShowMenu = 1;
    block->ShowTraffic = 1;
    block->ColorBack = 15;
    block->ColorFore = 16;
    block->ColorMark = 20;
    block->WinWidth = 80;
    block->WinHeight = 24;
    SettingsDefaultFont(block->WinFont, 64, 80, 14);
    block->Dynamic = 2;
    block->JumpScroll = 2;
    block->CodePage = 1252;
}

void SESSIONPROFILE::InitAtCommands(ATCOMMANDDATA* block)
{
    memset(block, 0, sizeof *block);
    block->ModemLoadInit = 1;
    block->ModemInitCD = 0;
    block->ModemDtrHangup = 1;
    OPTSBASE::CopyText(block->MdmIni, sizeof block->MdmIni, "AT&F^M");
    OPTSBASE::CopyText(block->MdmDial[0], sizeof block->MdmDial[0], "ATDT ^#^M");
    OPTSBASE::CopyText(block->MdmDial[1], sizeof block->MdmDial[1], "ATDT ^#^M");
    std::string dial = block->MdmDial[0];
    OPTSBASE::CopyText(block->MdmDial[2], sizeof block->MdmDial[2], ("ATZ0^M~~~~" + dial).c_str());
    OPTSBASE::CopyText(block->MdmDial[3], sizeof block->MdmDial[3], ("ATZ1^M~~~~" + dial).c_str());
    OPTSBASE::CopyText(block->MdmHangup, sizeof block->MdmHangup, "+++~~~~ATH^M");
    OPTSBASE::CopyText(block->MdmAnswerOn, sizeof block->MdmAnswerOn, "ATS0=1^M");
    OPTSBASE::CopyText(block->MdmAnswerOff, sizeof block->MdmAnswerOff, "ATS0=0^M");
    OPTSBASE::CopyText(block->MdmDtrOn, sizeof block->MdmDtrOn, "+++~~~~AT&D2^M~~ATO^M~~^H^H^H");
    OPTSBASE::CopyText(block->MdmDtrOff, sizeof block->MdmDtrOff, "+++~~~~AT&D0^M~~ATO^M~~^H^H^H");
}

FILENAME SESSIONPROFILE::GetCurrentFilename()
{
    return FILENAME(WORKDIR::GetCurrent().Buf(), session.OptsPath().Buf(), currentFilename.Buf());
}

FILENAME SESSIONPROFILE::FullName(char const* name)
{
    return FILENAME(WORKDIR::GetCurrent().Buf(), session.OptsPath().Buf(), name ? name : "");
}

void SESSIONPROFILE::SetDefaultFilename(char const* name)
{
    currentFilename = FILENAME(name ? name : "");
}

// ---------------------------------------------------------------------------
// Loading

int SESSIONPROFILE::Load(char const* name)
{
    LOGIT("SESSIONPROFILE::Load %s\n", name ? name : "<ask>");
    STRING opts_path = session.OptsPath();
    STRING asked;
    if (!name) {
        FILENAME folder(WORKDIR::GetCurrent().Buf(), opts_path.Buf());
        asked = session.AskFilename(OSYS::GetStringFromResource("IDS_SELECTOPTSLOAD", kStrings).Buf(), folder.Buf());
        if (asked.IsEmpty())
            return 0;
        name = asked.Buf();
    }
    if (!*name)
        return 0;

    FILENAME full = FullName(name);
    int error = 0;
    FILE* f = OPTSBASE::OpenFile(full.Buf(), &error);
    if (!f) {
        LOGIT("SESSIONPROFILE::Load cannot open %s: %s\n", full.Buf(), OSYS::GetLastErrorString(error).Buf());
        errno = error;
        return 0;
    }
    std::string first;
    OPTSBASE::ReadLine(f, first);
    if (first.size() > 255)
        first.resize(255);
    std::string version;
    bool accepted = false;
    if (first.compare(0, 4, "QOR ") == 0 && CompareVersion4(first.substr(4), "3.00") > 0) {
        version = first.substr(4);
        accepted = true;
    } else if (first.compare(0, 3, "QOR") == 0 && CompareVersion4(first.substr(3), "6.21") >= 0) {
        version = first.substr(3);
        accepted = true;
    }

    int result = 0;
    if (!accepted) {
        // Not a profile: the block and the name stay, so that a later save
        // cannot write over a file of another kind.
        LOGIT("SESSIONPROFILE::Load rejects %s (first line %s)\n", full.Buf(), first.c_str());
        fclose(f);
    } else {
        if (!version.empty() && strcmp(version.c_str(), "6.00") >= 0 && strcmp(version.c_str(), SESSIONPROFILE_VERSION) < 0) {
            STRING backup;
            backup.Format("%s.v%s.bak", full.Buf(), version.c_str());
            full.CopyTo(backup.Buf(), false);
        }
        auto scratch = std::make_unique<SESSIONPROFILEDATA>();
        Init(scratch.get());
        OPTSBASE reader(scratch.get(), Optlist, -1);
        reader.SetDataVersion(version.c_str());
        reader.LoadEntries(f, 1);
        reader.ClampReadValues();
        data = *scratch;
        fclose(f);
        currentFilename = full;
        session.UpdateWindowTitle();
        lastVersion = version.c_str();
        Upgrade(full.Buf());
        result = 1;
    }

    if (data.CodePage == 1004 || data.CodePage == 850)
        data.CodePage = 1252;
    else if (data.CodePage == 1280)
        data.CodePage = 1253;
    // The session's layers index their option tables with these ids.
    if (data.ActiveDevice < 0 || data.ActiveDevice >= static_cast<int>(ARRAYMAX(data.DeviceOpts)))
        data.ActiveDevice = 11;
    if (data.ActiveEmulation < 0 || data.ActiveEmulation >= static_cast<int>(ARRAYMAX(data.EmulationOpts)))
        data.ActiveEmulation = 3;
    if (data.ActiveTransfer < 0 || data.ActiveTransfer >= static_cast<int>(ARRAYMAX(data.TransferOpts)))
        data.ActiveTransfer = 2;
    PackPairs(32, data.AutoMacShort, data.AutoMacLong);
    PackPairs(32, data.AutoReplyIn, data.AutoReplyOut);
    int cols;
    int rows;
    if (data.Dynamic == 2 && session.GetScreenSize(&cols, &rows)) {
        data.WinWidth = cols;
        data.WinHeight = rows;
    }
    LOGIT("SESSIONPROFILE::Load done, rc= %d\n", result);
    return result;
}

void SESSIONPROFILE::Upgrade(char const* path)
{
    std::string v = lastVersion.Buf();
    if (CompareVersion4(v, "3.11") <= 0)
        data.ShowScrollbar = 1;
    if (CompareVersion4(v, "4.95") > 0)
        return;
    LOGIT("SESSIONPROFILE::Upgrade %s from %s\n", path, v.c_str());
    if (!data.EnqString[0])
        OPTSBASE::CopyText(data.EnqString, sizeof data.EnqString, "QOR^9");

    // Old profiles carry the AT commands themselves.
    ATCOMMANDDATA at;
    InitAtCommands(&at);
    OPTSBASE reader(&at, AtCmdOptlist, -1);
    if (reader.LoadFile(path, 0) != 0)
        return;
    std::string name = path;
    if (name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".qor") == 0)
        name.resize(name.size() - 4);
    name += ".qat";
    FILENAME qat(name.c_str());
    if (!qat.Exists())
        reader.SaveFile(qat.Buf(), "QOR 6.44 AT COMMAND PROFILE");
    if (!qat.Exists())
        return;

    char* device = data.DeviceOpts[1];
    if (strncmp(device, "[1]", 3) != 0 || strchr(device, '<'))
        return;
    FILENAME base(WORKDIR::GetCurrent().Buf(), session.OptsPath().Buf());
    std::string extended = std::string(device) + "<" + qat.RelPath(base.Buf()).Buf() + ">";
    if (extended.size() >= sizeof data.DeviceOpts[1]) {
        // A cut reference would name another file and lose the device's
        // own options; the device keeps its settings without it.
        LOGIT("SESSIONPROFILE::Upgrade no room for the AT-command reference in %s\n", device);
        return;
    }
    OPTSBASE::CopyText(device, sizeof data.DeviceOpts[1], extended.c_str());
}

// ---------------------------------------------------------------------------
// Saving

int SESSIONPROFILE::Save(char const* name, STRING* result)
{
    LOGIT("SESSIONPROFILE::Save %s\n", name ? name : "<ask>");
    if (result)
        *result = "";
    STRING opts_path = session.OptsPath();
    STRING asked;
    if (!name) {
        asked = session.AskSaveAsFilename(OSYS::GetStringFromResource("IDS_SELECTOPTSSAVE", kStrings).Buf(),
                                          currentFilename.Buf());
        if (asked.IsEmpty())
            return -1;
        name = asked.Buf();
    } else if (*name && currentFilename.IsEmpty()) {
        currentFilename = FILENAME(WORKDIR::GetCurrent().Buf(), opts_path.Buf(), name);
    }
    if (!*name)
        return 0;

    FILENAME full(WORKDIR::GetCurrent().Buf(), opts_path.Buf(), name);
    STRING header;
    header.Format("QOR%s\n", SESSIONPROFILE_VERSION);
    if (opts.SaveFile(full.Buf(), header.Buf()) != 0) {
        LOGIT("SESSIONPROFILE::Save failed for %s\n", full.Buf());
        return 0;
    }
    currentFilename = full;
    session.UpdateWindowTitle();
    if (result)
        *result = STRING(name, 1252);
    return 1;
}

void SESSIONPROFILE::PackPairs(int count, wchar_t (*keys)[32], wchar_t (*values)[196])
{
    for (bool moved = true; moved;) {
        moved = false;
        for (int i = 0; i + 1 < count; ++i) {
            if (keys[i][0] == 0 && keys[i + 1][0] != 0) {
                memcpy(keys[i], keys[i + 1], sizeof keys[i]);
                memcpy(values[i], values[i + 1], sizeof values[i]);
                wmemset(keys[i + 1], 0, 32);
                wmemset(values[i + 1], 0, 196);
                moved = true;
            }
        }
    }
}
