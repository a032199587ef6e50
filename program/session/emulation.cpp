#include "program/session/emulation.h"

#include "program/session/sessionlink.h"
#include "program/settings/programsettings.h"
#include "program/settings/sessionprofile.h"

#include "plugins/sdk/vioapi.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/unicode.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/winkeys.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

// A key event whose flag word has this bit is a key release.
constexpr uint32_t KEYFLAG_RELEASED = 0x100;
// The break marker that the caret notation "^!" leaves in a text.
constexpr wchar_t BREAKMARKER = 0xFFF8;
// Session event: send a break.
constexpr int EVENT_SENDBREAK = 8499;
// Session event: run a REXX script.
constexpr int EVENT_RUNSCRIPT = 8125;
// Main-window message: lay the window out again.
constexpr int MSG_RELAYOUT = 1034;

// Text decoded from bytes into wide characters: UTF-8 or a code page.
std::wstring Decode(char const* s, long len, bool utf8, UNICODE_CODEPAGE cp)
{
    std::wstring out;
    if (len <= 0)
        return out;
    if (utf8) {
        WSTRING w;
        UNICODE::GetInstance()->Utf8Decoder(s, static_cast<size_t>(len), w, nullptr);
        out.assign(w.Buf(), static_cast<size_t>(w.Length()));
    } else {
        out.resize(static_cast<size_t>(len));
        UNICODE::GetInstance()->BytesToChars(s, static_cast<int32_t>(len), out.data(), cp);
    }
    return out;
}

} // namespace

EMULATION::EMULATION(SESSIONLINK& session) : SUBSYSLAYER<EMULATIONAPI>(session, SS_TYPE_EMULATION)
{
    LOGIT("EMULATION::EMULATION\n");
}

EMULATION::~EMULATION()
{
    LOGIT("EMULATION::~EMULATION\n");
    Cleanup();
    LOGIT("EMULATION::~EMULATION done\n");
}

uint32_t EMULATION::Now() const
{
    return Clock ? Clock() : static_cast<uint32_t>(OSYS::GetLTime());
}

void EMULATION::SetCurrent(QORSUBSYSTEM* object)
{
    CurrentEmulation = static_cast<QOREMULATION*>(object);
    SUBSYS::SetCurrent(object);
    CurrentEmuId = object ? QueryIDFromCurrent() : -1;
}

void EMULATION::Cleanup()
{
    if (CurrentEmulation)
        CurrentEmulation->Close();
    SetCurrent(nullptr);
    SUBSYS::Cleanup();
}

int EMULATION::Initialize()
{
    LOGIT("EMULATION::Initialize\n");
    VIOAPI* vio = Link().Vio();
    SESSIONPROFILEDATA* profile = Link().ProfileData();
    if (vio) {
        if (profile) {
            vio->InitWithFont(profile->WinWidth, profile->WinHeight, profile->WinFont, profile->BoldFont);
            vio->Do(VIODO_CURSORSHAPE, profile->BigCursor, profile->CursorBlink);
            vio->SetScreenAttr(profile->ColorBack, profile->ColorFore, -1);
        } else {
            vio->Init(80, 24);
        }
    }
    LOGIT("EMULATION::Initialize done, error= %d\n", 0);
    return 0;
}

int EMULATION::UpAndRunning()
{
    return CurrentEmulation != nullptr;
}

int EMULATION::conputs(char const* s, long len)
{
    if (!s)
        return 0;
    if (len == -1)
        len = static_cast<long>(strlen(s));
    int cp = Link().CodePage();
    std::wstring w = Decode(s, len, cp == 1000, cp == 1000 ? UNICODE_CPDEFAULT : cp);
    return StringOut(w.c_str(), static_cast<long>(w.size()), 0);
}

int EMULATION::conputws(wchar_t const* s, long len)
{
    return StringOut(s, len, 0);
}

int EMULATION::InfoOut(char const* s)
{
    if (!(s != nullptr)) {
        AssertMsg(0, "s!=NULL", __FILE__, __LINE__, "EMULATION::InfoOut");
        return 0;
    }
    if (!CurrentEmulation || Suppress)
        return 0;
    long len = static_cast<long>(strlen(s));
    SESSIONPROFILEDATA* profile = Link().ProfileData();
    if (profile && profile->DumpMode) {
        Link().HexDump(s, static_cast<int>(len));
        return 0;
    }
    bool utf8 = (Link().CodePage() == 1000 || WantUtf8Conversion()) && !NoUnicode();
    std::wstring w = Decode(s, len, utf8, UNICODE_CPSYSTEM);
    return CurrentEmulation->InfoOut(w.c_str());
}

int EMULATION::StringOut(wchar_t const* s, long len, signed char force)
{
    if (!(s != nullptr)) {
        AssertMsg(0, "s!=NULL", __FILE__, __LINE__, "EMULATION::StringOut");
        return 0;
    }
    if (!CurrentEmulation) {
        ASSERTMSG(this->CurrentEmulation != NULL, "EMULATION::StringOut");
        return 0;
    }
    if (Suppress && !force)
        return 0;
    if (len == -1)
        len = static_cast<long>(wcslen(s));
    if (gDoLogit) {
        if (LOGIF(5, nullptr)) {
            char shown[33];
            long n = std::min(len, 32L);
            for (long i = 0; i < n; ++i)
                shown[i] = s[i] >= 32 && s[i] < 127 ? static_cast<char>(s[i]) : '.';
            shown[n] = 0;
            LOGIT("EMULATION::StringOut l= %ld, s= '%s'\n", len, shown);
        } else {
            LOGIT("EMULATION::StringOut l= %ld\n", len);
        }
    }
    VIOAPI* vio = Link().Vio();
    if (vio)
        vio->Do(VIODO_DRAWBRACKET, 1, 0);
    if (len != 0) {
        if (gDoLogit) {
            PERFORMANCETIMER timer("EMULATION::StringOut");
            CurrentEmulation->conputs(s, len);
            timer.LogResult();
        } else {
            CurrentEmulation->conputs(s, len);
        }
    }
    if (vio)
        vio->Do(VIODO_DRAWBRACKET, 0, 0);
    return 0;
}

int EMULATION::ProcessKey(KEYBOARDEVENT const& event)
{
    if (!CurrentEmulation) {
        ASSERTMSG(this->CurrentEmulation != NULL, "EMULATION::ProcessKey");
        return 0;
    }
    if ((event.Flags & KEYFLAG_RELEASED) && !CheckFlag(EMUFLAG_KEYRELEASE))
        return 0;
    return CurrentEmulation->ProcessKey(event);
}

int EMULATION::TrackSize(int* cols, int* rows, signed char force)
{
    if (!cols || !rows)
        return 0;
    if (*cols == TrackedCols && *rows == TrackedRows && !force)
        return 0;
    if (!CurrentEmulation) {
        ASSERTMSG(this->CurrentEmulation != NULL, "EMULATION::TrackSize");
        TrackedCols = *cols;
        TrackedRows = *rows;
        return 1;
    }
    AdjustScreenSize(cols, rows);
    if (!CurrentEmulation->SetWinSize(*cols, *rows)) {
        if (VIOAPI* vio = Link().Vio())
            vio->SetWinSize(*cols, *rows);
    }
    TrackedCols = *cols;
    TrackedRows = *rows;
    return 1;
}

int EMULATION::IsSequence(int* state, char c, int)
{
    int word = state ? *state : 0;
    bool const result = Sequence(&word, c);
    if (state)
        *state = word;
    return result ? 1 : 0;
}

int EMULATION::SequenceRun(int* state, char const* text, int len)
{
    if (!text || len <= 0)
        return 0;
    int const before = state ? *state : 0;
    int word = before;
    int n = 0;
    if ((word & static_cast<int>(0xFF000000u)) == 0 && RunsChecked())
        n = SequenceRunLow(&word, text, len);
    if (n == 0) {
        word = before;
        // Character by character, each looked at on a copy of the state
        // first: the run ends before the first one whose answer differs.
        bool const sequence = Sequence(&word, text[0]);
        n = 1;
        while (n < len) {
            int next = word;
            if (Sequence(&next, text[n]) != sequence)
                break;
            word = next;
            ++n;
        }
        n = sequence ? -n : n;
    }
    if (state)
        *state = word;
    return n;
}

int EMULATION::SetEmulation(int id, signed char force)
{
    LOGIT("EMULATION::SetEmulation= %d %d\n", id, force);
    if (Busy)
        return 0;
    if (!force && CurrentEmulation && id == RequestedEmuId)
        return 0;
    Busy = 1;
    Link().SetLedMode(0);
    QORSUBSYSTEM* obj = nullptr;
    if (id != -1) {
        ForceLoad(id, SS_FORCELOAD_LOAD);
        obj = FindObject(id);
    }
    bool ok = false;
    if (CurrentEmulation && !obj && id != -1) {
        // The emulation asked for is not there: the current one stays.
    } else {
        if (CurrentEmulation) {
            int cols = 0, rows = 0;
            if (VIOAPI* vio = Link().Vio())
                vio->GetWinSize(&cols, &rows);
            if (CheckFlag(EMUFLAG_LASTROW))
                BlankRow(rows - 1);
            if (CheckFlag(EMUFLAG_SECONDLASTROW))
                BlankRow(rows - 2);
            CurrentEmulation->Close();
            SetCurrent(nullptr);
        }
        if (obj) {
            SetCurrent(obj);
            if (VIOAPI* vio = Link().Vio())
                vio->Do(VIODO_INHERIT, 0, 0);
            char const* parm = Link().ParmString(SS_TYPE_EMULATION, id);
            CurrentEmulation->Open(parm ? parm : "");
            LOGIT("EMULATION::SetEmulation emu_Open done\n");
            SESSIONPROFILEDATA* profile = Link().ProfileData();
            if (profile && id != ID_IBM3270 && id != ID_IBM5250)
                TrackColors(profile->ColorBack, profile->ColorFore, 0);
            SwitchSize(-1, -1);
            LOGIT("EMULATION::SetEmulation this->TrackColor/Size done\n");
            Link().SendMainWindowMessage(MSG_RELAYOUT, 1, 0);
            ok = true;
        }
    }
    if (!ok)
        Link().ErrorMsg("PANIC! Emulation not found!");
    // Only a switch that happened is remembered: a failed request for an
    // id must not make a later request for the same id look done.
    if (ok)
        RequestedEmuId = id;
    Busy = 0;
    LOGIT("EMULATION::SetEmulation done\n");
    return ok ? 1 : 0;
}

void EMULATION::BlankRow(int row)
{
    VIOAPI* vio = Link().Vio();
    if (!vio || row < 0)
        return;
    int cols = 0, rows = 0;
    vio->GetWinSize(&cols, &rows);
    vio->Erase(0, row, cols, 1, ' ');
}

int EMULATION::SetCursorType(signed char big, int blink, signed char)
{
    if (VIOAPI* vio = Link().Vio())
        vio->Do(VIODO_CURSORSHAPE, big, blink);
    return 1;
}

int EMULATION::TrackColors(int back, int fore, int force)
{
    VIOAPI* vio = Link().Vio();
    bool changed = false;
    auto applyFore = [&] {
        if (vio) {
            vio->SetScreenAttr(-1, fore, -1);
            vio->Do(VIODO_COLORS, fore, -1);
        }
        RememberedFore = fore;
    };
    auto applyBack = [&] {
        if (vio) {
            vio->SetScreenAttr(back, -1, -1);
            vio->Do(VIODO_COLORS, -1, back);
        }
        RememberedBack = back;
    };
    if (fore != RememberedFore || force) {
        applyFore();
        changed = true;
    }
    if (force) {
        applyBack();
        Link().InvalidateWindow();
        return 1;
    }
    if (back != RememberedBack) {
        applyBack();
        changed = true;
    }
    if (changed)
        Link().InvalidateWindow();
    return changed ? 1 : 0;
}

int EMULATION::QueryUnixName(int n, char* dst)
{
    LOGIT("EMULATION::QueryUnixName %d\n", n);
    if (!dst)
        return 0;
    SESSIONPROFILEDATA* profile = Link().ProfileData();
    int result = 0;
    if (n == 0 && profile && profile->DoUnixName && profile->UnixName[0]) {
        snprintf(dst, sizeof profile->UnixName, "%s", profile->UnixName);
        result = 1;
    } else if (CurrentEmulation) {
        result = CurrentEmulation->QueryUnixName(n, dst);
    } else {
        strcpy(dst, "dumb");
    }
    LOGIT("EMULATION::QueryUnixName returns %s\n", dst);
    return result;
}

int EMULATION::QueryEnvironment(char* buf, int max, char const* specific)
{
    if (!buf || max <= 0)
        return 0;
    ASSERTMSG(max >= 256, "bufmax>=256");
    *buf = 0;
    if (!CurrentEmulation)
        return 0;
    int n = CurrentEmulation->QueryEnvironment(buf, max, specific);
    buf[max - 1] = 0;
    return n;
}

int EMULATION::QueryCursorPos(int* col, int* row)
{
    int c = 0, r = 0;
    if (!CurrentEmulation || !CurrentEmulation->GetCursorPos(&c, &r)) {
        if (VIOAPI* vio = Link().Vio())
            vio->GetCursorPos(&c, &r);
    }
    if (col)
        *col = c;
    if (row)
        *row = r;
    return 1;
}

int EMULATION::QueryWinSize(int* cols, int* rows)
{
    int c = 80, r = 24;
    if (CurrentEmulation && !CurrentEmulation->QueryWinSize(&c, &r)) {
        if (VIOAPI* vio = Link().Vio())
            vio->GetWinSize(&c, &r);
    }
    if (cols)
        *cols = c;
    if (rows)
        *rows = r;
    return 1;
}

int EMULATION::SetWinSize(int cols, int rows)
{
    LOGIT("EMULATION::SetWinSize %d %d\n", cols, rows);
    if (!CurrentEmulation || !CurrentEmulation->SetWinSize(cols, rows)) {
        if (VIOAPI* vio = Link().Vio())
            vio->SetWinSize(cols, rows);
    }
    return 1;
}

int EMULATION::AdjustScreenSize(int* cols, int* rows)
{
    if (RequestedRows != -1) {
        if (cols && RequestedCols != -1)
            *cols = RequestedCols;
        if (rows)
            *rows = RequestedRows;
        return 0;
    }
    return CurrentEmulation ? CurrentEmulation->AdjustScreenSize(cols, rows) : 0;
}

int EMULATION::ClearScreen()
{
    if (CurrentEmuId == ID_IBM3270 || CurrentEmuId == ID_IBM5250)
        return 0;
    VIOAPI* vio = Link().Vio();
    if (!vio)
        return 0;
    vio->SetMode(0);
    vio->SetCursorPos(0, 0);
    vio->ClearMarkArea(0);
    vio->Erase(0, 0, -1, 1, ' ');
    return 1;
}

int EMULATION::SwitchSize(int cols, int rows)
{
    if (cols == -1 && rows == -1) {
        SavedRect = RECT{};
        PreviousCols = -1;
        return 0;
    }
    SESSIONPROFILEDATA* profile = Link().ProfileData();
    if (!profile)
        return 0;
    int oldWidth = profile->WinWidth;
    if (cols != -1) {
        profile->WinWidth = cols;
        RequestedCols = cols;
    }
    if (rows != -1) {
        profile->WinHeight = rows;
        RequestedRows = rows;
    }
    RECT rect{};
    Link().MainWindowRect(&rect);
    if (cols != -1 && cols == PreviousCols && profile->Dynamic == 1) {
        // The switch back: the window returns to where it was.
        int w = profile->WinWidth, h = profile->WinHeight;
        TrackSize(&w, &h, 0);
        if (Link().IsMainWindowMaximized())
            Link().SendMainWindowMessage(MSG_RELAYOUT, 1, 0);
        else if (SavedRect.right > SavedRect.left)
            Link().MoveMainWindow(SavedRect);
    } else {
        int dynamic = profile->Dynamic;
        profile->Dynamic = 0;
        Link().TrackChanges(false);
        profile->Dynamic = dynamic;
    }
    SavedRect = rect;
    PreviousCols = oldWidth;
    RequestedCols = RequestedRows = -1;
    return 0;
}

int EMULATION::SuppressOutput(int value)
{
    if (value != -1)
        Suppress = static_cast<signed char>(value);
    return Suppress;
}

int EMULATION::FeedSymbolicKey(char const* name)
{
    return CurrentEmulation ? CurrentEmulation->FeedSymbolicKey(name) : -1;
}

int EMULATION::FeedKeyString(wchar_t const* s, int len, signed char expand)
{
    if (!s)
        return 1;
    if (len == -1)
        len = static_cast<int>(wcslen(s));
    if (len < 0)
        return 1;
    LOGIT("EMULATION::FeedString %d bytes\n", len);
    // Texts up to 1022 characters use the fixed buffer; longer ones a heap
    // buffer in steps of 256 characters. Both leave room for the caret
    // expansion to grow the text within their capacity.
    wchar_t fixed[1023];
    std::unique_ptr<wchar_t[]> heap;
    wchar_t* buf = fixed;
    int capacity = 1023;
    if (len > 1022) {
        capacity = ((len + 256) / 256) * 256;
        heap.reset(new wchar_t[static_cast<size_t>(capacity)]);
        buf = heap.get();
    }
    wmemcpy(buf, s, static_cast<size_t>(len));
    buf[len] = 0;
    int n = len;
    bool partwise = false;
    if (expand) {
        n = Link().MakeCtrlWide(buf, capacity);
        if (n < 0 || n >= capacity)
            n = static_cast<int>(wcsnlen(buf, static_cast<size_t>(capacity - 1)));
        buf[n] = 0;
        partwise = wmemchr(buf, BREAKMARKER, static_cast<size_t>(n)) != nullptr;
    }
    auto offer = [this](wchar_t const* piece, int count) {
        if (!CurrentEmulation || !CurrentEmulation->FeedKeyString(piece, count))
            Link().FeedKeys(piece, count, 0);
    };
    if (!partwise) {
        LOGIT("EMULATION::FeedString (bulk)\n");
        offer(buf, n);
    } else {
        LOGIT("EMULATION::FeedString (part wise)\n");
        int start = 0;
        for (int i = 0; i < n; ++i) {
            if (buf[i] != BREAKMARKER)
                continue;
            offer(buf + start, i - start);
            Link().ProcessEvent(EVENT_SENDBREAK, 0, nullptr);
            start = i + 1;
        }
        offer(buf + start, n - start);
    }
    LOGIT("EMULATION::FeedString %d bytes done\n", len);
    return 1;
}

int EMULATION::HandleMouseEvent(int col, int row, int button, int up)
{
    return CurrentEmulation ? CurrentEmulation->HandleMouseEvent(col, row, button, up) : 0;
}

int EMULATION::HandleTerminalEvent(EMULATION_EVENT event)
{
    return CurrentEmulation ? CurrentEmulation->HandleTerminalEvent(event) : 0;
}

int EMULATION::HandleCustomEvent(char const* name, char* result, int size, void* data)
{
    char standin[256];
    if (!result) {
        memset(standin, 0, sizeof standin);
        result = standin;
        size = sizeof standin;
    }
    return CurrentEmulation ? CurrentEmulation->HandleCustomEvent(name, result, size, data) : 0;
}

int EMULATION::SyncCursorPos()
{
    return CurrentEmulation ? CurrentEmulation->SyncCursorPos() : 0;
}

void* EMULATION::PrinterControl(int fnc, int arg)
{
    if (fnc == PRINTER_QUERY)
        return PrinterJob;
    uint32_t now = Now();
    if (fnc != PRINTER_TICK)
        LOGIT("EMULATION::PrinterControl::ProcSeq printer controller fnc %d at t= %lu\n", fnc,
              static_cast<unsigned long>(now));
    switch (fnc) {
    case PRINTER_ON:
        LOGIT("EMULATION::PrinterControl::ProcSeq printer controller on\n");
        if (TmpPrinter) {
            PrinterJob = TmpPrinter;
            TmpPrinter = nullptr;
            LOGIT("EMULATION::PrinterControl::job chained\n");
        } else if (!PrinterJob) {
            LOGIT("EMULATION::PrinterControl::about to open ...\n");
            PrinterJob = Link().PrinterOpen(1);
            LOGIT("EMULATION::PrinterControl::opened \n");
        }
        ClosePrinter = 0;
        break;
    case PRINTER_OFF: {
        LOGIT("EMULATION::PrinterControl::ProcSeq printer controller off\n");
        PROGRAMSETTINGSDATA* settings = Link().SettingsData();
        int merging = settings ? settings->PrintJobMerging : 0;
        if (PrinterJob) {
            if (merging == 0 || arg != 0) {
                Link().PrinterClose(PrinterJob);
                JobClosed = true;
                LOGIT("EMULATION::PrinterControl::closed\n");
            } else {
                TmpPrinter = PrinterJob;
                ClosePrinter = now + static_cast<uint32_t>(merging);
                LOGIT("EMULATION::PrinterControl::close scheduled\n");
            }
        }
        PrinterJob = nullptr;
        break;
    }
    case PRINTER_TICK: {
        if (ClosePrinter && TmpPrinter && ClosePrinter <= now) {
            Link().PrinterClose(TmpPrinter);
            TmpPrinter = nullptr;
            ClosePrinter = 0;
            JobClosed = true;
        }
        // The printer "LPTFILE|<file>|<script>" hands each finished job to
        // its script, once per job.
        PROGRAMSETTINGSDATA* settings = Link().SettingsData();
        if (JobClosed && settings && !Link().IsScriptRunning()) {
            JobClosed = false;
            std::string printer = settings->Printer;
            std::vector<std::string> fields;
            size_t pos = 0;
            for (int i = 0; i < 3; ++i) {
                size_t bar = i < 2 ? printer.find('|', pos) : std::string::npos;
                fields.push_back(printer.substr(pos, bar == std::string::npos ? std::string::npos : bar - pos));
                if (bar == std::string::npos) {
                    pos = printer.size();
                    for (++i; i < 3; ++i)
                        fields.emplace_back();
                    break;
                }
                pos = bar + 1;
            }
            if (strcasecmp(fields[0].c_str(), "LPTFILE") == 0 && fields[2] != "*" && !fields[2].empty()) {
                std::string text = fields[2] + " " + fields[1];
                Link().ProcessEvent(EVENT_RUNSCRIPT, 0, text.c_str());
            }
        }
        return PrinterJob;
    }
    default:
        break;
    }
    LOGIT("EMULATION::PrinterControl job= %p tmp= %p close= %lu\n", PrinterJob, TmpPrinter,
          static_cast<unsigned long>(ClosePrinter));
    return PrinterJob;
}

void EMULATION::SetCustomTitleWide(wchar_t const* title)
{
    wchar_t before[256];
    wcscpy(before, CustomTitle);
    // At most 255 characters; control characters become blanks, as a
    // title is one line of text.
    size_t n = 0;
    for (; title && title[n] && n < 255; ++n) {
        wchar_t const c = title[n];
        CustomTitle[n] = c < 0x20 || (c >= 0x7F && c < 0xA0) ? L' ' : c;
    }
    CustomTitle[n] = 0;
    LOGIT("EMULATION::SetCustomTitleWide %ls\n", CustomTitle);
    if (wcscmp(before, CustomTitle) != 0)
        Link().CustomTitleChanged();
}

wchar_t const* EMULATION::QueryCustomTitleWide()
{
    LOGIT("EMULATION::GetCustomTitleWide returns %ls\n", CustomTitle);
    return CustomTitle;
}

int EMULATION::CheckFlag(unsigned long mask)
{
    return CurrentEmulation && CurrentEmulation->GetFlags(mask) != 0;
}

int EMULATION::WantStreamMarkers()
{
    return CheckFlag(EMUFLAG_STREAMMARKERS);
}

int EMULATION::HasLocalEditing()
{
    return CheckFlag(EMUFLAG_LOCALEDITING);
}

int EMULATION::WantUtf8Conversion()
{
    return CheckFlag(EMUFLAG_UTF8CONVERSION);
}

int EMULATION::SendUtf8Keys()
{
    return CheckFlag(EMUFLAG_UTF8KEYS);
}

int EMULATION::NoUnicode()
{
    return CheckFlag(EMUFLAG_NOUNICODE);
}

int EMULATION::NoTranslateDatastream()
{
    return CheckFlag(EMUFLAG_NOTRANSLATION);
}
