// OSYS: the static class through which the system asks the operating system
// for counters, names, folders, resources, colours, threads, dates and the
// starting of programs.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"

class WSTRING;
class STRINGARRAY;
struct OpaqueWindowPtr;

// Broken-down time: eight unsigned 16-bit fields, year to milliseconds.
struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek; // 0 = Sunday
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

// Thread function: gets the pointer-sized parameter given to CreateThread.
using THREADFUNCTION = unsigned long (*)(MSGWORD parm);

// The block handed to a thread started by CreateThreadWithParm.
struct THREADPARM2 {
    uint32_t Marker; // 0xFFEEDDCC
    MSGWORD Parm1;
    MSGWORD Parm2;
};
constexpr uint32_t THREADPARM2_MARKER = 0xFFEEDDCC;

// Standard folders for GetSystemPath.
enum OSYSFOLDER : int {
    OSYSFOLDER_APPSUPPORT = 5,
    OSYSFOLDER_HOME = 6,
    OSYSFOLDER_PICTURES = 7,
    OSYSFOLDER_DESKTOP = 8,
    OSYSFOLDER_APPSUPPORT_LOCAL = 13,
    OSYSFOLDER_DOCUMENTS = 14,
    OSYSFOLDER_LIBRARY = 15,
    OSYSFOLDER_LIBRARY_LOCAL = 17,
    OSYSFOLDER_LOGS = 18,
    OSYSFOLDER_DOWNLOADS = 19,
    OSYSFOLDER_PREFERENCES = 20,
};

class VELMOT_EXPORT OSYS {
public:
    // Threads and waiting.
    static MSGWORD CreateThread(THREADFUNCTION fn, MSGWORD parm);
    static MSGWORD CreateThreadWithParm(THREADFUNCTION fn, MSGWORD parm1, MSGWORD parm2);
    static bool WaitThread(MSGWORD handle, int timeout = -1);
    static bool TerminateThread(MSGWORD handle);
    static bool CloseThreadHandle(MSGWORD handle);
    static void Sleep(int ms);
    static DWORD GetCurrentThreadId();
    static DWORD GetCurrentProcessId();
    static int GetLastError();
    static void InitThread() {}
    static void SystemShutdown(bool) {}

    // A stop request for threads started by CreateThread: TerminateThread
    // sets it and the thread function polls it at safe points.
    static bool ThreadStopRequested();

    // Counters and names.
    static bool GetPerformanceCounter(unsigned long long* count, unsigned long long* frequency);
    static long long RelTime(bool restart = false);
    static STRING GetLastErrorString(long code = -4711);
    static STRING GetCurrentDirectory();
    static bool SetCurrentDirectory(char const* path);
    static STRING ComputerName();
    static STRING GetCurrentUserName();
    static STRING GetExeFilename();
    // The running executable's own path, and the name the program's bundle
    // would have: the executable's file name followed by ".app" (the stage
    // tree is the bundle; the program's name names it).
    static STRING GetExePath();
    static STRING GetBundleFileName();
    static int GetOSType();
    static STRING GetOSTypeAsString();
    static int GetCurrentProcessInstancesCount();
    static STRING GetValueFromAppInfoPlist(char const* key);
    static bool FileExists(char const* path);

    // Folder trees (filefind.cpp). Entries found in folders are used as
    // they are named on disk: no placeholder is expanded in them, and links
    // are listed, copied or removed as entries, never followed into. A copy
    // recreates a link as a link and replaces (never writes through) a link
    // at the destination; below the destination folder nothing is reached
    // through a link.
    static bool CreateDirectoryPath(char const* path);
    static int ListFiles(char const* dir, char const* mask, STRINGARRAY* out, bool recursive);
    static int TreeDel(char const* dir, char const* mask, bool recursive);
    static bool TreeCopy(char const* from, char const* to, char const* mask, bool recursive, bool keepExisting);
    static bool TreeCopy(char const* from, char const* to, STRINGARRAY& list, bool keepExisting);

    // Folders and resources.
    static STRING GetSystemPath(int id);
    static STRING GetResourceFilePath(char const* name, char const* type = nullptr);
    static STRING GetStringFromResource(char const* id, void* table = nullptr);
    static WSTRING GetWideStringFromResource(char const* id, void* table = nullptr);

    // Colours (0xTTBBGGRR).
    static COLORREF GetSysColor(int index);
    static COLORREF CalcColorBlend(COLORREF from, COLORREF to, double percent);
    static void ColorRGBtoHSB(COLORREF colour, double* hue, double* saturation, double* brightness);
    static COLORREF ColorHSBtoRGB(double hue, double saturation, double brightness, int alpha);

    // Four-character codes.
    static FOURCHARCODE BufferAsFourCharCode(char const* buffer);
    static void FourCharCodeToBuffer(FOURCHARCODE code, char* buffer, int size);

    // Sounds and small actions.
    static void PlayBeep(int frequency, int duration);
    static void PlayAlert();
    static bool PlaySoundFile(char const* file, bool wait);
    static void WakeupScreensaver();
    static void WakeupHarddisk(char const* folder);

    // Unique numbers shared by all processes of the user.
    static DWORD GetUniqueId();
    static unsigned long long GetUniqueId64();

    // Dates and times. ltime = seconds since 1970 (0 = now).
    static unsigned long long GetLTime();
    static STRING CurrentDate();
    static STRING CurrentTime();
    static STRING DateTimeFromLtime(unsigned long long ltime);
    static _SYSTEMTIME LocalSystemtimeFromLtime(unsigned long long ltime);
    static _SYSTEMTIME SystemtimeFromLtime(unsigned long long ltime);
    static unsigned long long LtimeFromLocalSystemtime(_SYSTEMTIME const& st);
    static unsigned long long LtimeFromSystemtime(_SYSTEMTIME const& st);
    static STRING CurrentDateLocalized();
    static STRING CurrentDateLocalizedLong();
    static STRING CurrentTimeLocalized();
    static STRING DateTimeFromLtimeLocalized(unsigned long long ltime);
    static STRING DateTimeArithmetic(char const* datetime, _SYSTEMTIME const& delta, int factor);

    // Starting programs and documents.
    static bool StartProgram(char const* program, char const* args, char const* folder, char const* unused,
                             unsigned long flags, int* pidOut, int* exitCode);
    static bool StartProgram(char const* program, char const* args, char const* unused, bool wait);
    static bool StartProgram(char const* program, char const* args, bool wait);
    static int StartProgramExitCode(char const* program, char const* args, char const* folder = nullptr,
                                    char const* unused = nullptr);
    static bool ShellExecuteRun(void* window, char const* file, char const* params, char const* folder);
    static bool ShowUrl(char const* url, OpaqueWindowPtr* window = nullptr);
    static bool AutoRun(char const* name, char const* cmdline);

    // Flags of StartProgram.
    static constexpr unsigned long STARTPROGRAM_WAIT = 0x01;       // wait until the program ends
    static constexpr unsigned long STARTPROGRAM_KEEPEVENTS = 0x10; // with WAIT: poll and keep events flowing

    // What StartProgram runs between its polls while it waits with
    // STARTPROGRAM_KEEPEVENTS, so that the window events of the main thread
    // keep flowing. The event layer installs its own; until then (and after
    // a null hook) the tasks queued for the main thread are run.
    using WAITEVENTSHOOK = void (*)();
    static void SetWaitEventsHook(WAITEVENTSHOOK hook);
};

// Measures the duration of a step and writes it to the log.
class VELMOT_EXPORT PERFORMANCETIMER {
public:
    explicit PERFORMANCETIMER(char const* name, bool logWhenDestroyed = false);
    virtual ~PERFORMANCETIMER();

    double GetDuration();
    void LogResult();

private:
    char const* Name;
    bool LogWhenDestroyed;
    unsigned long long Start;
    unsigned long long Stop = 0;
    unsigned long long Frequency;
};
