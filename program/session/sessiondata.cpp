// The received-data road: the reader thread's notification (user message
// 1029), the main thread's passes over the received characters (UTF-8,
// high bit, sequence check, receive translation, line ends, triggers) into
// the received-character buffer, and event 8810, which hands the buffer to
// the emulation inside the screen's update bracket.
//
// Every received byte leaves the road exactly once: a byte the UTF-8
// decoder holds stays there until the sequence ends or breaks (a broken
// sequence gives its bytes back as characters), and characters the decoder
// gives beyond the first wait in the session's own queue, ahead of the
// device's, so they are never decoded twice.
#include "program/session/session.h"

#include "platform/events/queue.h"
#include "velmot/core/logit.h"
#include "velmot/core/unicode.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr int kCR = 13;
constexpr int kLF = 10;
// The buffer holds at most this many characters before a pass ends; one
// more character and its expansion (a caret, a CR LF) still fit.
constexpr int kComBufLimit = 4093;
// The visible mark of a pass's end at diagnostic level 4096.
constexpr wchar_t kPassMark = 0xBA;

bool IsMarker(int c)
{
    return c >= COMM_MARKER_FIRST && c <= COMM_MARKER_LAST;
}

} // namespace

void SESSION::ComDataNotification(bool force)
{
    // The reader thread posts at most one 1029 until the main thread has
    // run a pass; forced calls always post.
    if (force)
        ComDataPending.store(true);
    else if (ComDataPending.exchange(true))
        return;
    PostUserMessage(MSG_COMDATA, 0, 0);
}

bool SESSION::IsIncomingDataForFiletransfer()
{
    return IsTransferActive() && (TransferSuppressesOutput() || Dialling || Connecting);
}

void SESSION::SetTransferActive(bool active, int arg)
{
    if (active) {
        TransferActive.store(true);
        CommLayer.PrepareForFileTransfer(static_cast<signed char>(arg));
        return;
    }
    if (!TransferActive.load())
        return;
    CommLayer.CleanupAfterFileTransfer(static_cast<signed char>(arg));
    TransferActive.store(false);
    // Data that arrived meanwhile is shown now.
    ComDataNotification(true);
}

void SESSION::SetHold(bool on)
{
    Hold.store(on);
    if (!on)
        ComDataNotification(true);
}

void SESSION::ComDataProcess()
{
    LOGIF(3, "SESSION::ComDataProcess (bracket =%d)\n", ComDataHaveVioBracket);
    ++Stats.Messages;
    if (IsIncomingDataForFiletransfer())
        return;
    if (Hold.load() || ComDataRunning || ShuttingDown.load() || Deleted.load())
        return;
    ComDataRunning = true;
    if (!ComDataHaveVioBracket) {
        Screen.Do(VIODO_DRAWBRACKET, 1, 0);
        ComDataHaveVioBracket = true;
    }
    auto const start = std::chrono::steady_clock::now();
    for (;;) {
        int ddeFound = 0, rexxFound = 0;
        int rc = ProcessSer(&ddeFound, &rexxFound);
        if (rc >= 0) {
            LOGIF(3, "SESSION::ComDataProcess before EVC_COMMDATA, rc= %d\n", rc);
            ProcessEvent(8810, 0, nullptr);
            if (ddeFound)
                ScriptWaitFound(0, ddeFound - 1);
            if (rexxFound)
                ScriptWaitFound(1, rexxFound - 1);
        }
        // Another pass in the same turn only while nothing else waits for
        // the main thread and the turn is still short: the events between
        // passes (input, painting, other sessions) are never held up longer
        // than the slice.
        if (rc < 0 || PassSliceUs <= 0 || Hold.load() || ShuttingDown.load() || Deleted.load() ||
            plat::PendingCount() > 0 ||
            std::chrono::steady_clock::now() - start >= std::chrono::microseconds(PassSliceUs) ||
            IsIncomingDataForFiletransfer() || (Decoded.empty() && CommLayer.QueryNumAvail() <= 0))
            break;
    }
    ComDataPending.store(false);
    if ((!Decoded.empty() || CommLayer.QueryNumAvail() > 0) && !IsIncomingDataForFiletransfer()) {
        // More is waiting: the bracket stays open over the burst.
        ComDataNotification(false);
    } else {
        ASSERTMSG(this->ComDataHaveVioBracket, "this->ComDataHaveVioBracket");
        if (ComDataHaveVioBracket)
            Screen.Do(VIODO_DRAWBRACKET, 0, 0);
        ComDataHaveVioBracket = false;
    }
    ComDataRunning = false;
    LOGIF(3, "SESSION::ComDataProcess done (bracket =%d)\n", ComDataHaveVioBracket);
}

inline int SESSION::NextChar(bool* decoded)
{
    if (!Decoded.empty()) [[unlikely]] {
        wchar_t c = Decoded.front();
        Decoded.pop_front();
        *decoded = true;
        return static_cast<int>(c);
    }
    *decoded = false;
    return CommLayer.WaitChar(0);
}

void SESSION::PushBack(int c, bool decoded)
{
    if (decoded) {
        Decoded.push_front(static_cast<wchar_t>(c));
    } else {
        wchar_t w = static_cast<wchar_t>(c);
        CommLayer.UngetData(&w, 1);
    }
}

int SESSION::JumpBudget()
{
    int const height = Prof.data.WinHeight;
    switch (Prof.data.JumpScroll) {
    case 0:
        return 3;
    case 1:
        return height / 8;
    case 2:
        return height / 4;
    case 3:
        return height / 2;
    default:
        return 2;
    }
}

int SESSION::ProcessSer(int* ddeFound, int* rexxFound)
{
    SESSIONPROFILEDATA const& p = Prof.data;
    bool const noTranslate = EmuLayer.NoTranslateDatastream() != 0;
    bool const localEditing = EmuLayer.HasLocalEditing() != 0;
    bool const wantMarkers = EmuLayer.WantStreamMarkers() != 0;
    bool const utf8 = (p.CodePage == 1000 || EmuLayer.WantUtf8Conversion()) && !EmuLayer.NoUnicode();
    bool const triggers = ReceiveTriggersActive();
    bool const translate = !noTranslate && TranslateInActive();
    // The per-character log lines of level 8 leave the fast way.
    bool const fast = !translate && !triggers && !LOGIF(8, nullptr);
    bool const stripHigh = p.StripHiBit != 0;
    bool const ctrlChars = p.CtrlChars != 0;
    UNICODE const* uni = UNICODE::GetInstance();
    int dde = 0, rexx = 0;
    LOGIF(3, "SESSION::ProcessSer ComBufCount =%d\n", ComBufCount);
    TransCrLf.SetMode(p.InCR ? TRANSCRLF::TOCRLF : TRANSCRLF::KEEP);

    // The scripts' checks of a received character; a find ends the pass.
    auto scripts = [&](int ch, bool inSequence, int& budget) {
        ScriptReceived(1, ch, inSequence);
        ScriptReceived(0, ch, inSequence);
        if (int f = ScriptWatchWait(0, static_cast<wchar_t>(ch))) {
            dde = f;
            budget = 0;
        }
        if (int f = ScriptWatchWait(1, static_cast<wchar_t>(ch))) {
            rexx = f;
            budget = 0;
        }
    };

    bool decoded = false;
    int c = NextChar(&decoded);
    if (c == COMM_NOCHAR) {
        *ddeFound = *rexxFound = 0;
        return -1;
    }
    ++Stats.Passes;
    int budget = JumpBudget();
    bool first = true;
    int lines = 0;
    WSTRING out;
    for (;;) {
        // Most received characters are printable 7-bit ones that no hook
        // looks at: the sequence check, the line-end translator's memory and
        // the buffer, nothing else. (No decoder sequence is open: such a
        // character would break it.)
        if (fast && c >= 32 && c < 127 && !decoded && Utf8State.Remaining == 0) [[likely]] {
            // The budget counts line ends only: a run of these characters
            // ends at the buffer's limit or when nothing more is waiting.
            int count = ComBufCount;
            bool full = false;
            do {
                EmuLayer.Sequence(&SequenceState, static_cast<char>(c));
                ComBuf[count++] = static_cast<wchar_t>(c);
                if (budget < 1 || count > kComBufLimit) {
                    full = true;
                    break;
                }
                c = NextChar(&decoded);
            } while (c >= 32 && c < 127 && !decoded);
            TransCrLf.Pass(ComBuf[count - 1]);
            ComBufCount = count;
            first = false;
            if (full || c == COMM_NOCHAR)
                break;
            continue;
        }
        if (!decoded && IsMarker(c)) {
            if (wantMarkers)
                ComBuf[ComBufCount++] = static_cast<wchar_t>(c);
            break;
        }
        if (!decoded && utf8) {
            // A byte with the high bit goes into the decoder, and so does a
            // 7-bit character while a sequence is open: it breaks the
            // sequence, whose bytes come back before it.
            bool const feed = c <= 255 && ((c & 0x80) || Utf8State.Remaining > 0);
            if (feed) {
                char const b = static_cast<char>(c);
                out.Cut(0);
                int n = uni->Utf8Decoder(&b, 1, out, &Utf8State);
                if (n == 0) {
                    c = NextChar(&decoded);
                    if (c == COMM_NOCHAR)
                        break;
                    continue;
                }
                wchar_t const* chars = out.Buf();
                c = static_cast<int>(chars[0]);
                for (int i = n - 1; i >= 1; --i)
                    Decoded.push_front(chars[i]);
            }
        } else if (!decoded) {
            Utf8State = UNICODE_UTF8STATE{};
        }
        if (stripHigh)
            c &= 0x7F;
        bool const inSequence = EmuLayer.Sequence(&SequenceState, static_cast<char>(c & 0xFF));
        if (!inSequence && translate && c < 256)
            c = TranslateIn(c);

        if ((c == kLF || c == kCR) && !noTranslate) {
            LOGIF(4, "SESSION::ProcessSer .5\n");
            if (triggers) {
                scripts(c, inSequence, budget);
                // The watch sees a line feed as a carriage return.
                if (WatchCheckSerInput(kCR, first))
                    budget = 0;
            }
            if (c == kLF) {
                --budget;
                ++lines;
            }
            LOGIF(4, "SESSION::ProcessSer .6\n");
            if (c == kCR && budget == 1) {
                // The last unit of the budget: a CR LF pair stays in one pass.
                bool nextDecoded = false;
                int next = NextChar(&nextDecoded);
                if (next == COMM_NOCHAR) {
                    budget = 0;
                } else {
                    PushBack(next, nextDecoded);
                    if (next != kLF)
                        budget = 0;
                }
            }
            ComBufCount += TransCrLf.Translate(static_cast<wchar_t>(c), ComBuf + ComBufCount, -1);
            first = false;
        } else {
            TransCrLf.Pass(static_cast<wchar_t>(c & 0xFF));
            if (ctrlChars && c < 32) {
                ComBuf[ComBufCount++] = L'^';
                c |= 64;
            }
            ComBuf[ComBufCount++] = static_cast<wchar_t>(c);
            if (triggers && !localEditing) {
                int trigger = c;
                if (c > 255)
                    trigger = static_cast<unsigned char>(
                        uni->ToForcedCodepageChar(static_cast<wchar_t>(c), p.CodePage == 1000 ? 1252 : p.CodePage));
                LOGIF(8, "SESSION::ProcessSer .2 cch= %04x\n", trigger);
                scripts(trigger, inSequence, budget);
                LOGIF(8, "SESSION::ProcessSer .3\n");
                if (WatchCheckSerInput(trigger, first))
                    budget = 0;
                if (WatchAutoStart(trigger, ComBuf, &ComBufCount))
                    break;
            }
            LOGIF(8, "SESSION::ProcessSer .4\n");
            first = false;
        }
        if (budget < 1 || ComBufCount > kComBufLimit)
            break;
        c = NextChar(&decoded);
        if (c == COMM_NOCHAR)
            break;
    }
    if (LOGIF(4096, nullptr) && ComBufCount < COMBUFSIZE)
        ComBuf[ComBufCount++] = kPassMark;
    if (Background.load() && !KeepAliveSent)
        Host.SetSessionTabTraffic(*this, 1, lines);
    if (Host.HasThumbnails())
        Host.SetThumbnailDirty(*this);
    KeepAliveSent = false;
    *ddeFound = dde;
    *rexxFound = rexx;
    LOGIF(3, "SESSION::ProcessSer done, ComBufCount =%d, rc= %d\n", ComBufCount, 0);
    return 0;
}

int SESSION::ProcessEvent8810()
{
    LOGIF(8, "EVC_COMMDATA .1\n");
    // A hook may rewrite the buffer; it never gets more than its room.
    int count = ComBufCount;
    CallHook(11, ComBuf, &count);
    count = std::clamp(count, 0, COMBUFSIZE);
    SESSIONPROFILEDATA const& p = Prof.data;
    if (p.DumpMode) {
        std::string bytes(static_cast<size_t>(count), '\0');
        UNICODE::GetInstance()->CharsToBytes(ComBuf, count, bytes.data(), 1252);
        HexDump(bytes.data(), count);
    } else if (SplitChatActive()) {
        SplitChatPuts(ComBuf, count, true);
    } else if (EmuLayer.UpAndRunning()) {
        EmuLayer.conputws(ComBuf, count);
    }
    LOGIF(8, "EVC_COMMDATA .2\n");
    int const emu = EmuLayer.CurrentId();
    bool const blockMode = emu == EMULATION::ID_IBM3270 || emu == EMULATION::ID_IBM5250;
    if (LearningActive()) {
        for (int i = 0; i < count; ++i) {
            if (!blockMode || ComBuf[i] == 26)
                WatchLearn('I', ComBuf[i]);
        }
    }
    LOGIF(8, "EVC_COMMDATA .3\n");
    if (p.Host && count > 0) {
        std::string bytes(static_cast<size_t>(count), '\0');
        UNICODE::GetInstance()->CharsToBytes(ComBuf, count, bytes.data(), 1252);
        CommLayer.WriteData(bytes.data(), count);
    }
    if (!blockMode && ReceiveTriggersActive()) {
        for (int i = 0; i < count; ++i)
            WatchAutoLogin(ComBuf[i]);
    }
    LOGIF(8, "EVC_COMMDATA .4\n");
    Stats.Characters += static_cast<uint64_t>(count);
    ComBufCount = 0;
    return 1;
}
