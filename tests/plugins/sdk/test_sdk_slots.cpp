// The plug-in interface is the order of virtual slots and of the data
// members in the shared headers. This table pins every slot, so an edit that
// moves one fails here. (Itanium C++ ABI: a pointer to a virtual member
// function holds 1 + the byte offset of its slot; slots 0 and 1 are the
// destructors.)
#include "plugins/sdk/commapi.h"
#include "plugins/sdk/emulationapi.h"
#include "plugins/sdk/filetransferapi.h"
#include "plugins/sdk/qorpublic.h"
#include "plugins/sdk/qorsubsystem.h"
#include "plugins/sdk/sessionapi.h"
#include "program/settings/optsbase.h"
#include "tests/plugins/sdk/slotof.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

using slottest::SlotOf;

struct ROW {
    char const* name;
    long slot;
    long expected;
};

#define SLOT(C, M, N) ROW{#C "::" #M, SlotOf(&C::M), N}
#define SLOTO(C, M, SIG, N) ROW{#C "::" #M #SIG, SlotOf(static_cast<SIG>(&C::M)), N}

void Check(std::initializer_list<ROW> rows)
{
    for (ROW const& r : rows)
        EXPECT_EQ(r.slot, r.expected) << r.name;
}

} // namespace

TEST(SdkSlots, PlugInHost)
{
    Check({
        SLOT(SUBSYSAPI, Cleanup, 2), SLOT(SUBSYSAPI, SetCurrent, 3), SLOT(SUBSYSAPI, FindObject, 4),
        SLOT(SUBSYSAPI, QueryNameFromID, 5), SLOT(SUBSYSAPI, QueryIDFromPtr, 6), SLOT(SUBSYSAPI, QueryIDFromName, 7),
        SLOT(SUBSYSAPI, QueryIDFromCurrent, 8), SLOT(SUBSYSAPI, QueryList, 9), SLOT(SUBSYSAPI, QueryStatus, 10),
        SLOT(SUBSYSAPI, QueryParm, 11), SLOT(SUBSYSAPI, QueryStdParm, 12), SLOT(SUBSYSAPI, SetParm, 13),
        SLOT(SUBSYSAPI, MatchParms, 14), SLOT(SUBSYSAPI, ForceLoad, 15), SLOT(SUBSYSAPI, InvalidateLoadFlags, 16),
        SLOT(SUBSYSAPI, OptionsDialog, 17), SLOT(SUBSYSAPI, LoadOptionsSubDialog, 18),
    });
}

TEST(SdkSlots, CommunicationLayer)
{
    Check({
        SLOT(COMMAPI, Cleanup, 2), SLOT(COMMAPI, LoadOptionsSubDialog, 18),
        SLOT(COMMAPI, Initialize, 19), SLOT(COMMAPI, OpenDevice, 20), SLOT(COMMAPI, CloseDevice, 21),
        SLOT(COMMAPI, PrepareForFileTransfer, 22), SLOT(COMMAPI, CleanupAfterFileTransfer, 23),
        SLOT(COMMAPI, ProcessKey, 24), SLOTO(COMMAPI, UngetData, void (COMMAPI::*)(char*, int), 25),
        SLOTO(COMMAPI, UngetData, void (COMMAPI::*)(wchar_t*, int), 26), SLOT(COMMAPI, QueryNumAvail, 27),
        SLOT(COMMAPI, QueryOnline, 28), SLOT(COMMAPI, QuerySpeed, 29), SLOT(COMMAPI, ReportStatus, 30),
        SLOT(COMMAPI, SendBreak, 31), SLOT(COMMAPI, ReadChar, 32), SLOT(COMMAPI, WaitChar, 33),
        SLOT(COMMAPI, WriteChar, 34), SLOT(COMMAPI, WriteData, 35), SLOT(COMMAPI, FeedData, 36),
        SLOT(COMMAPI, FeedMarker, 37), SLOT(COMMAPI, FlushInputBuffer, 38), SLOT(COMMAPI, PrintString, 39),
        SLOT(COMMAPI, PrintStringW, 40), SLOT(COMMAPI, PurgeLine, 41), SLOT(COMMAPI, Connect, 42),
        SLOT(COMMAPI, AbortConnect, 43), SLOT(COMMAPI, Reset, 44), SLOT(COMMAPI, Disconnect, 45),
        SLOT(COMMAPI, AcceptCalls, 46), SLOT(COMMAPI, MakeMenu, 47), SLOT(COMMAPI, HandleMenuEvent, 48),
        SLOT(COMMAPI, StartCommTimer, 49), SLOT(COMMAPI, HandleTimerEvent, 50),
        SLOT(COMMAPI, HandleDeviceCommand, 51), SLOT(COMMAPI, CanAccept, 52), SLOT(COMMAPI, TrackChanges, 53),
        SLOT(COMMAPI, SetSuppressAsyncChangeTracking, 54), SLOT(COMMAPI, IsAcceptActive, 55),
    });
}

TEST(SdkSlots, EmulationLayer)
{
    Check({
        SLOT(EMULATIONAPI, Initialize, 19), SLOT(EMULATIONAPI, UpAndRunning, 20), SLOT(EMULATIONAPI, conputs, 21),
        SLOT(EMULATIONAPI, conputws, 22), SLOT(EMULATIONAPI, InfoOut, 23), SLOT(EMULATIONAPI, StringOut, 24),
        SLOT(EMULATIONAPI, ProcessKey, 25), SLOT(EMULATIONAPI, TrackSize, 26), SLOT(EMULATIONAPI, IsSequence, 27),
        SLOT(EMULATIONAPI, SetEmulation, 28), SLOT(EMULATIONAPI, SetCursorType, 29),
        SLOT(EMULATIONAPI, TrackColors, 30), SLOT(EMULATIONAPI, QueryUnixName, 31),
        SLOT(EMULATIONAPI, QueryEnvironment, 32), SLOT(EMULATIONAPI, QueryCursorPos, 33),
        SLOT(EMULATIONAPI, QueryWinSize, 34), SLOT(EMULATIONAPI, SetWinSize, 35),
        SLOT(EMULATIONAPI, AdjustScreenSize, 36), SLOT(EMULATIONAPI, ClearScreen, 37),
        SLOT(EMULATIONAPI, SwitchSize, 38), SLOT(EMULATIONAPI, SuppressOutput, 39),
        SLOT(EMULATIONAPI, FeedSymbolicKey, 40), SLOT(EMULATIONAPI, FeedKeyString, 41),
        SLOT(EMULATIONAPI, HandleMouseEvent, 42), SLOT(EMULATIONAPI, HandleTerminalEvent, 43),
        SLOT(EMULATIONAPI, HandleCustomEvent, 44), SLOT(EMULATIONAPI, SyncCursorPos, 45),
        SLOT(EMULATIONAPI, PrinterControl, 46), SLOT(EMULATIONAPI, SetCustomTitleWide, 47),
        SLOT(EMULATIONAPI, QueryCustomTitleWide, 48), SLOT(EMULATIONAPI, CheckFlag, 49),
        SLOT(EMULATIONAPI, WantStreamMarkers, 50), SLOT(EMULATIONAPI, HasLocalEditing, 51),
        SLOT(EMULATIONAPI, WantUtf8Conversion, 52), SLOT(EMULATIONAPI, SendUtf8Keys, 53),
        SLOT(EMULATIONAPI, NoUnicode, 54), SLOT(EMULATIONAPI, NoTranslateDatastream, 55),
        SLOT(EMULATIONAPI, SequenceRun, 56),
    });
}

TEST(SdkSlots, FileTransferLayer)
{
    Check({
        SLOT(FILETRANSFERAPI, printf_to_window, 19), SLOT(FILETRANSFERAPI, logdebugbyte, 20),
        SLOT(FILETRANSFERAPI, logdebugstring, 21), SLOT(FILETRANSFERAPI, logdebugstring2, 22),
        SLOT(FILETRANSFERAPI, SetProtocol, 23), SLOT(FILETRANSFERAPI, Upload, 24),
        SLOT(FILETRANSFERAPI, Download, 25), SLOT(FILETRANSFERAPI, TransferTimerTick, 26),
        SLOT(FILETRANSFERAPI, CancelZmodem, 27), SLOT(FILETRANSFERAPI, OnEndTransfer, 28),
        SLOT(FILETRANSFERAPI, CheckPath, 29), SLOT(FILETRANSFERAPI, AfterTransfer, 30),
        SLOT(FILETRANSFERAPI, SetBinary, 31), SLOT(FILETRANSFERAPI, WatchAutoStart, 32),
        SLOT(FILETRANSFERAPI, HandleMenuEvent, 33), SLOT(FILETRANSFERAPI, HandleCustomEvent, 34),
        SLOT(FILETRANSFERAPI, NoSuppressScreenOutput, 35), SLOT(FILETRANSFERAPI, TransferWin, 36),
        SLOT(FILETRANSFERAPI, TransferWinEvent, 37),
    });
}

TEST(SdkSlots, HostServicesAndSession)
{
    Check({
        SLOT(QORPUBLIC, SetLed, 2), SLOT(QORPUBLIC, SetLedMode, 3), SLOT(QORPUBLIC, PrinterOpen, 4),
        SLOT(QORPUBLIC, PrinterWrite, 5), SLOT(QORPUBLIC, PrinterClose, 6), SLOT(QORPUBLIC, Log, 7),
        SLOT(QORPUBLIC, LogWide, 8), SLOT(QORPUBLIC, WaitForSessionForeground, 9),
        SLOT(QORPUBLIC, AddScrollLine, 10), SLOT(QORPUBLIC, FeedKeys, 11), SLOT(QORPUBLIC, Bell, 12),
        SLOT(QORPUBLIC, AppTrackChanges, 13), SLOT(QORPUBLIC, GetEnqString, 14), SLOT(QORPUBLIC, WatchLearn, 15),
        SLOT(QORPUBLIC, WatchWait, 16), SLOT(QORPUBLIC, Ask, 17), SLOT(QORPUBLIC, AskUserPass, 18),
        SLOT(QORPUBLIC, AskPassphrase, 19), SLOT(QORPUBLIC, AskFilename, 20),
        SLOT(QORPUBLIC, AskSaveAsFilename, 21), SLOT(QORPUBLIC, EditSysColors, 22),
        SLOT(QORPUBLIC, StartProgram, 23), SLOT(QORPUBLIC, WarningMsg, 24), SLOT(QORPUBLIC, DestroyIntroWin, 25),
        SLOT(QORPUBLIC, PushFnctSelectFile, 26), SLOT(QORPUBLIC, PushFnctSelectFolder, 27),
        SLOT(SESSIONAPI, SendEvent, 2), SLOT(SESSIONAPI, PostEvent, 3), SLOT(SESSIONAPI, CondEvent, 4),
        SLOT(SESSIONAPI, Notify, 5),
    });
}

TEST(SdkSlots, PlugInObjects)
{
    Check({
        SLOT(QORSUBSYSTEM, SetParm, 2), SLOT(QORSUBSYSTEM, QueryParm, 3), SLOT(QORSUBSYSTEM, QueryStdParm, 4),
        SLOT(QORSUBSYSTEM, QueryStatus, 5), SLOT(QORSUBSYSTEM, MakeMenu, 6), SLOT(QORSUBSYSTEM, HandleMenuEvent, 7),
        SLOT(QORSUBSYSTEM, GetOptsDialogId, 8), SLOT(QORSUBSYSTEM, OnOptsDialogInit, 9),
        SLOT(QORSUBSYSTEM, OnOptsDialogPushbutton, 10), SLOT(QORSUBSYSTEM, OnOptsDialogControlEvent, 11),
        SLOT(QORSUBSYSTEM, OnOptsDialogGetVaues, 12),

        SLOT(QORDEVICE, Open, 13), SLOT(QORDEVICE, Close, 14), SLOT(QORDEVICE, NumAvail, 15),
        SLOT(QORDEVICE, QueryOnline, 16), SLOT(QORDEVICE, QuerySpeed, 17), SLOT(QORDEVICE, StatusText, 18),
        SLOT(QORDEVICE, SendBreak, 19), SLOT(QORDEVICE, Write, 20), SLOT(QORDEVICE, Read, 21),
        SLOT(QORDEVICE, Connect, 22), SLOT(QORDEVICE, Reset, 23), SLOT(QORDEVICE, Disconnect, 24),
        SLOT(QORDEVICE, AcceptCalls, 25), SLOT(QORDEVICE, PrepareForFileTransfer, 26),
        SLOT(QORDEVICE, CleanupAfterFileTransfer, 27), SLOT(QORDEVICE, ProcessKey, 28),
        SLOT(QORDEVICE, HandleTimerEvent, 29), SLOT(QORDEVICE, HandleDeviceCommand, 30),
        SLOT(QORDEVICE, AbortConnect, 31), SLOT(QORDEVICE, CanAccept, 32), SLOT(QORDEVICE, TrackChanges, 33),

        SLOT(QOREMULATION, Open, 13), SLOT(QOREMULATION, Close, 14), SLOT(QOREMULATION, conputs, 15),
        SLOT(QOREMULATION, IsSequence, 16), SLOT(QOREMULATION, QueryUnixName, 17),
        SLOT(QOREMULATION, ProcessKey, 18), SLOT(QOREMULATION, GetFlags, 19), SLOT(QOREMULATION, GetCursorPos, 20),
        SLOT(QOREMULATION, AdjustScreenSize, 21), SLOT(QOREMULATION, QueryEmulationKeys, 22),
        SLOT(QOREMULATION, SyncCursorPos, 23), SLOT(QOREMULATION, QueryWinSize, 24),
        SLOT(QOREMULATION, SetWinSize, 25), SLOT(QOREMULATION, FeedSymbolicKey, 26),
        SLOT(QOREMULATION, InfoOut, 27), SLOT(QOREMULATION, FeedKeyString, 28),
        SLOT(QOREMULATION, QueryEnvironment, 29), SLOT(QOREMULATION, HandleTerminalEvent, 30),
        SLOT(QOREMULATION, HandleMouseEvent, 31), SLOT(QOREMULATION, HandleCustomEvent, 32),
        SLOT(QOREMULATION, SequenceRun, 33),

        SLOT(QORTRANSFER, Upload, 13), SLOT(QORTRANSFER, Download, 14), SLOT(QORTRANSFER, OnEndTransfer, 15),
        SLOT(QORTRANSFER, Prestart, 16), SLOT(QORTRANSFER, GetCommonOptions, 17),
        SLOT(QORTRANSFER, GetDownloadOptions, 18), SLOT(QORTRANSFER, GetUploadOptions, 19),
        SLOT(QORTRANSFER, CheckDownloadOptions, 20), SLOT(QORTRANSFER, CheckUploadOptions, 21),
        SLOT(QORTRANSFER, GetAutoUploadSeq, 22), SLOT(QORTRANSFER, GetAutoDownloadSeq, 23),
        SLOT(QORTRANSFER, HandleCustomEvent, 24), SLOT(QORTRANSFER, NoSuppressScreenOutput, 25),
    });
}

// The modem device calls the AT-command option set its QORPUBLIC hands it
// by slot, like the layers.
TEST(SdkSlots, OptionSet)
{
    using MAKEROW = int (OPTSBASE::*)(int, char*, int);
    using MAKEVALUE = int (OPTSBASE::*)(int, char const*, void const*, int, char*, int);
    Check({
        SLOT(OPTSBASE, SetBaseList, 2), SLOT(OPTSBASE, SetMultiPaged, 3), SLOT(OPTSBASE, SetDataVersion, 4),
        SLOT(OPTSBASE, LoadFile, 5), SLOT(OPTSBASE, LoadEntries, 6), SLOT(OPTSBASE, SaveFile, 7),
        SLOT(OPTSBASE, SaveEntries, 8), SLOT(OPTSBASE, SetOpt, 9), SLOT(OPTSBASE, GetOpt, 10),
        SLOTO(OPTSBASE, MakeOptStr, MAKEROW, 11), SLOTO(OPTSBASE, MakeOptStr, MAKEVALUE, 12),
        SLOT(OPTSBASE, AssocAll, 13),
    });
}

#pragma GCC diagnostic ignored "-Winvalid-offsetof"

// The data members of QORPUBLIC after the table pointer: ints stay 4 bytes,
// everything that holds a pointer is 8.
TEST(SdkLayout, HostServicesMembers)
{
    struct {
        char const* name;
        size_t offset, expected;
    } const rows[] = {
        {"InstanceNumber", offsetof(QORPUBLIC, InstanceNumber), 8},
        {"Reserved1", offsetof(QORPUBLIC, Reserved1), 16},
        {"ParentWindow", offsetof(QORPUBLIC, ParentWindow), 24},
        {"App", offsetof(QORPUBLIC, App), 32},
        {"Session", offsetof(QORPUBLIC, Session), 40},
        {"Language", offsetof(QORPUBLIC, Language), 48},
        {"Unattended", offsetof(QORPUBLIC, Unattended), 56},
        {"Reserved2", offsetof(QORPUBLIC, Reserved2), 64},
        {"Profile", offsetof(QORPUBLIC, Profile), 72},
        {"Reserved3", offsetof(QORPUBLIC, Reserved3), 80},
        {"AppRegKey", offsetof(QORPUBLIC, AppRegKey), 88},
        {"DownloadPath", offsetof(QORPUBLIC, DownloadPath), 104},
        {"UploadPath", offsetof(QORPUBLIC, UploadPath), 112},
        {"WorkPath", offsetof(QORPUBLIC, WorkPath), 120},
        {"HomePath", offsetof(QORPUBLIC, HomePath), 128},
        {"ProgramSettings", offsetof(QORPUBLIC, ProgramSettings), 136},
        {"Vio", offsetof(QORPUBLIC, Vio), 144},
        {"Comm", offsetof(QORPUBLIC, Comm), 152},
        {"TransferFileIo", offsetof(QORPUBLIC, TransferFileIo), 160},
        {"Emulation", offsetof(QORPUBLIC, Emulation), 168},
        {"Transfer", offsetof(QORPUBLIC, Transfer), 176},
        {"PasswordCache", offsetof(QORPUBLIC, PasswordCache), 184},
        {"AtCmdOpts", offsetof(QORPUBLIC, AtCmdOpts), 192},
        {"AtCmdOptlist", offsetof(QORPUBLIC, AtCmdOptlist), 200},
        {"SysColors", offsetof(QORPUBLIC, SysColors), 208},
        {"size", sizeof(QORPUBLIC), 216},
        {"SUBSYSINITDATA::Module", offsetof(SUBSYSINITDATA, Module), 8},
    };
    for (auto const& r : rows)
        EXPECT_EQ(r.offset, r.expected) << r.name;
}
