// EMULATION: a session's emulation layer, the host of emulation plug-ins
// (type EMU) and the one place through which the session, the scripts, the
// clipboard sender and the screen talk to the current emulation.
//
// Around the forwarding it keeps what belongs to the session rather than to
// one emulation: which emulation is current and the switch to another, the
// screen size the session negotiated, the remembered colours, a custom
// window title, the flag that suppresses screen output, and the printer
// controller (the print job into which an emulation copies printed text,
// with merging of jobs that follow each other closely).
//
// Plug-ins call it back by slot through EMULATIONAPI (slots 19 to 55 after
// the plug-in host's); the 5250 emulation uses InfoOut, SwitchSize and
// HandleCustomEvent.
//
// Threads: the session's main thread only. The busy flag of SetEmulation
// guards against re-entry from that thread.
#pragma once

#include "plugins/sdk/emulationapi.h"
#include "plugins/sdk/qorsubsystem.h"
#include "program/session/subsys.h"

#include "velmot/gui/wintypes.h"

#include <cstdint>

class EMULATION : public SUBSYSLAYER<EMULATIONAPI> {
public:
    // Emulation ids that the layer treats specially: no colours on a switch,
    // no clearing of the screen (block-mode terminals).
    static constexpr int ID_IBM3270 = 11;
    static constexpr int ID_IBM5250 = 17;

    explicit EMULATION(SESSIONLINK& session);
    ~EMULATION() override;

    void Cleanup() override;
    void SetCurrent(QORSUBSYSTEM* object) override;

    int Initialize() override;
    int UpAndRunning() override;
    int conputs(char const* s, long len) override;
    int conputws(wchar_t const* s, long len) override;
    int InfoOut(char const* s) override;
    int StringOut(wchar_t const* s, long len, signed char force) override;
    int ProcessKey(KEYBOARDEVENT const& event) override;
    int TrackSize(int* cols, int* rows, signed char force) override;
    int IsSequence(int* state, char c, int reserved) override;
    int SetEmulation(int id, signed char force) override;
    int SetCursorType(signed char big, int blink, signed char flag) override;
    int TrackColors(int back, int fore, int force) override;
    int QueryUnixName(int n, char* dst) override;
    int QueryEnvironment(char* buf, int max, char const* specific) override;
    int QueryCursorPos(int* col, int* row) override;
    int QueryWinSize(int* cols, int* rows) override;
    int SetWinSize(int cols, int rows) override;
    int AdjustScreenSize(int* cols, int* rows) override;
    int ClearScreen() override;
    int SwitchSize(int cols, int rows) override;
    int SuppressOutput(int value) override;
    int FeedSymbolicKey(char const* name) override;
    int FeedKeyString(wchar_t const* s, int len, signed char expand) override;
    int HandleMouseEvent(int col, int row, int button, int up) override;
    int HandleTerminalEvent(EMULATION_EVENT event) override;
    int HandleCustomEvent(char const* name, char* result, int size, void* data) override;
    int SyncCursorPos() override;
    void* PrinterControl(int fnc, int arg) override;
    void SetCustomTitleWide(wchar_t const* title) override;
    wchar_t const* QueryCustomTitleWide() override;
    int CheckFlag(unsigned long mask) override;
    int WantStreamMarkers() override;
    int HasLocalEditing() override;
    int WantUtf8Conversion() override;
    int SendUtf8Keys() override;
    int NoUnicode() override;
    int NoTranslateDatastream() override;
    int SequenceRun(int* state, char const* text, int len) override;

    // Functions of PrinterControl.
    static constexpr int PRINTER_QUERY = 0;
    static constexpr int PRINTER_TICK = 3;
    static constexpr int PRINTER_OFF = 4;
    static constexpr int PRINTER_ON = 5;

    // The received-character check of IsSequence, for the data road's loop
    // over every received character: the plug-in keeps the low 24 bits of
    // the caller's state word, the caller the top 8; true when the
    // character belongs to a sequence or the top bits are set.
    bool Sequence(int* state, char c)
    {
        int const word = *state;
        int const top = word & static_cast<int>(0xFF000000u);
        if (top == 0)
            return SequenceLow(state, c);
        if (!CurrentEmulation)
            return true;
        int low = word & 0x00FFFFFF;
        CurrentEmulation->IsSequence(&low, c);
        *state = top | (low & 0x00FFFFFF);
        return true;
    }
    // Sequence for a state word whose top 8 bits are clear (and stay so):
    // the plug-in may have the word itself, and whatever it sets above its
    // 24 bits is taken away.
    bool SequenceLow(int* state, char c)
    {
        QOREMULATION* const emulation = CurrentEmulation;
        if (!emulation) [[unlikely]]
            return false;
        int const result = emulation->IsSequence(state, c);
        if (static_cast<unsigned>(*state) > 0x00FFFFFFu) [[unlikely]]
            *state &= 0x00FFFFFF;
        return result != 0;
    }

    // SequenceRun for the data road, for a state word whose top 8 bits are
    // clear, when the current emulation reports EMUFLAG_SEQUENCERUN
    // (RunsChecked): one call into the plug-in for the whole run.
    int SequenceRunLow(int* state, char const* text, int len)
    {
        int const n = CurrentEmulation->SequenceRun(state, text, len);
        if (static_cast<unsigned>(*state) > 0x00FFFFFFu) [[unlikely]]
            *state &= 0x00FFFFFF;
        // A plug-in's answer never reaches beyond the run (0, no answer,
        // leaves the caller to ask character by character).
        return n > len ? len : n < -len ? -len : n;
    }
    // Whether the current emulation takes runs (EMUFLAG_SEQUENCERUN).
    bool RunsChecked() { return CurrentEmulation && CurrentEmulation->GetFlags(EMUFLAG_SEQUENCERUN) != 0; }

    QOREMULATION* Current() const { return CurrentEmulation; }
    int CurrentId() const { return CurrentEmuId; }
    int RequestedId() const { return RequestedEmuId; }
    void* ScheduledPrintJob() const { return TmpPrinter; }

    // The clock of the printer controller (seconds since the epoch); the
    // system clock unless a test sets it.
    uint32_t (*Clock)() = nullptr;

private:
    uint32_t Now() const;
    // Blanks a screen row (the last rows an emulation drew on when it is
    // left).
    void BlankRow(int row);

    QOREMULATION* CurrentEmulation = nullptr;
    int CurrentEmuId = -1;
    void* PrinterJob = nullptr;
    void* TmpPrinter = nullptr;
    uint32_t ClosePrinter = 0;
    // A print job was closed since the last tick: the printer's script
    // (LPTFILE) runs once for it.
    bool JobClosed = false;
    signed char Suppress = 0;
    int RequestedEmuId = -1;
    int Busy = 0;
    int TrackedCols = -1, TrackedRows = -1;
    int RememberedBack = -1, RememberedFore = -1;
    int RequestedCols = -1, RequestedRows = -1;
    int PreviousCols = -1;
    wchar_t CustomTitle[256] = {};
    RECT SavedRect{};
};
