// Session profiles: every setting of one terminal session (device,
// emulation and transfer protocol with their option strings, terminal
// behaviour, logging and capture, transfer rules, window size, font,
// colours and bars, function keys, user-bar buttons, automatic macros and
// replies), kept in "*.qor" files in the options folder; the default
// profile is "Standard.qor". Profiles of releases before 5.00 also carried
// the modem's AT commands, which a load moves once into a ".qat" file.
//
// Each session owns one SESSIONPROFILE; the session's layers read
// SESSIONPROFILEDATA directly. Profile files are read into a scratch block
// that starts from the defaults, so keys a file lacks take their defaults.
//
// Threads: the caller's, in practice the main thread.
#pragma once

#include "program/settings/defaultfont.h"
#include "program/settings/optsbase.h"
#include "velmot/core/osysfile.h"
#include "velmot/core/osyssync.h"

constexpr char const* SESSIONPROFILE_VERSION = "6.44";

struct SESSIONPROFILEDATA {
    char Header[28];    // "QOR 6.44"
    uint32_t BlockSize; // sizeof the block
    int32_t ActiveDevice;
    char DeviceOpts[24][128]; // by device id
    int32_t TimeoutTime;
    int32_t TimeoutControl;
    char TimeoutString[64];
    signed char Standby;
    signed char ShowStats;
    signed char CtrlChars;
    signed char DumpMode;
    signed char AscTrace;
    signed char BinTrace;
    signed char StripHiBit;
    signed char Echo;
    signed char EchoCrOnly;
    signed char Host;
    signed char InCR;
    signed char Beep;
    signed char Software7E1;
    signed char AutoUppercase;
    signed char AutoUppercaseAlways;
    signed char DoTrans;
    signed char DoEnq;
    int32_t BigCursor; // a flag of four bytes
    int32_t CursorBlink;
    int32_t ScrlLock;
    char EnqString[128];
    char CaptDefaultName[65];
    signed char CaptStatus;
    signed char CaptDc2Dc4;
    signed char CaptHeading;
    signed char CaptAppend;
    signed char CaptTimeMarks;
    int32_t ActiveTransfer;
    char TransferOpts[24][128]; // by transfer protocol id
    int32_t ExistActionOldDate;
    int32_t ExistActionSameDate;
    int32_t ExistActionNewerDate;
    int32_t ExistActionNoDate;
    signed char RenameOld;
    signed char StartTap;
    signed char TransHighPrio;
    signed char GuessUploadName;
    signed char ZNoWait;
    signed char ZAutoDownload;
    signed char XferNoConsoleOutput;
    char TransAltDir[260];
    char TransAutoRemove[260];
    int32_t AsciiCRLF; // a flag of four bytes
    int32_t AsciiDelay;
    int32_t AsciiDelay2;
    int32_t ActiveEmulation;
    char EmulationOpts[32][128]; // by emulation id
    signed char DoUnixName;
    char UnixName[32];
    signed char VTStripSeq;
    wchar_t FKey[24][196];
    char UserIcon[50][5];
    wchar_t UserDesc[50][32];
    wchar_t UserValue[50][196];
    signed char UserButtonWrap;
    int32_t UserButtonFixedPerRow;
    wchar_t AutoMacShort[32][32];
    wchar_t AutoMacLong[32][196];
    wchar_t AutoReplyIn[32][32];
    wchar_t AutoReplyOut[32][196];
    signed char ShowScrollbar;
    signed char ShowToolbar;
    signed char ShowStatusline;
    signed char ShowUserbar;
    signed char ShowChat;
    signed char ShowSnippets;
    signed char ShowMenu;
    signed char ShowLeds;
    signed char ShowTraffic;
    signed char ShowCursorPos;
    int32_t ColorBack;
    int32_t ColorFore;
    int32_t ColorBlink;
    int32_t ColorItalic;
    int32_t ColorBold;
    int32_t ColorDim;
    int32_t ColorCursor;
    int32_t ColorMark;
    int32_t Transparency;
    int32_t WinWidth;
    int32_t WinHeight;
    wchar_t WinFont[64];
    int32_t Dynamic;
    int32_t JumpScroll;
    int32_t CodePage; // 1000 stands for UTF-8
    int32_t KbdCodePage;
    signed char BoldFont;
    signed char AntiAliasing; // -1, 0 or 1
};

// The AT commands of a modem, the ".qat" file.
struct ATCOMMANDDATA {
    signed char ModemLoadInit;
    signed char ModemInitCD;
    signed char ModemDtrHangup;
    char MdmIni[128];
    char MdmDial[4][128];
    char MdmHangup[32];
    char MdmAnswerOn[32];
    char MdmAnswerOff[32];
    char MdmDtrOn[40];
    char MdmDtrOff[40];
};

// What a profile asks of its session. The session implements it; the
// defaults ask nobody and change nothing.
class SESSIONPROFILEHOST {
public:
    virtual ~SESSIONPROFILEHOST() = default;
    // The options folder of the program settings (OptsPath), relative to
    // the work folder or absolute.
    virtual STRING OptsPath() = 0;
    // Renew the session window's title after the profile's name changed.
    virtual void UpdateWindowTitle() {}
    // The screen's current columns and rows; false when there is no screen.
    virtual bool GetScreenSize(int* cols, int* rows) { return false; }
    // File dialogs; empty when the user cancels.
    virtual STRING AskFilename(char const* title, char const* folder) { return STRING(); }
    virtual STRING AskSaveAsFilename(char const* title, char const* proposal) { return STRING(); }
};

class SESSIONPROFILE {
public:
    SESSIONPROFILEDATA data;

    static OPTLIST const Optlist[];
    static OPTLIST const AtCmdOptlist[];

    explicit SESSIONPROFILE(SESSIONPROFILEHOST& session);
    ~SESSIONPROFILE();
    SESSIONPROFILE(SESSIONPROFILE const&) = delete;
    SESSIONPROFILE& operator=(SESSIONPROFILE const&) = delete;

    // Fills a block (this profile's or a scratch one) with the defaults.
    static void Init(SESSIONPROFILEDATA* block);
    // The defaults of an AT-command block.
    static void InitAtCommands(ATCOMMANDDATA* block);

    // Reads a profile (null: asks for one); 1 when one was read. A file
    // that cannot be opened (errno tells why) or is not a profile changes
    // nothing and keeps the current name.
    int Load(char const* name);
    // The path Load reads for a name: relative to the options folder of the
    // work folder, or absolute.
    FILENAME FullName(char const* name);
    // Writes the profile (null: asks); 1 written, 0 not written, -1 the
    // user cancelled. result receives the name saved under.
    int Save(char const* name, STRING* result = nullptr);
    // The fix-ups for files of old releases, for the file just read.
    void Upgrade(char const* path);
    // Closes the gaps in a table of text pairs: used pairs move to the
    // front in their order.
    static void PackPairs(int count, wchar_t (*keys)[32], wchar_t (*values)[196]);

    FILENAME GetCurrentFilename();
    void SetDefaultFilename(char const* name);

    OPTSBASE& Opts() { return opts; }
    EVENTSEM& LoadEvent() { return loadEvent; }
    // Set while the profile editor runs.
    signed char InDialog = 0;

private:
    SESSIONPROFILEHOST& session;
    OPTSBASE opts;
    FILENAME currentFilename;
    EVENTSEM loadEvent;
    STRING lastVersion; // the version text of the file Load read last
};
