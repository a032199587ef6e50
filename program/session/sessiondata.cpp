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
#include <array>
#include <chrono>
#include <cstring>
#include <emmintrin.h>

namespace {

constexpr int kCR = 13;
constexpr int kLF = 10;
// The buffer holds at most this many characters before a pass ends; one
// more character and its expansion (a caret, a CR LF) still fit.
constexpr int kComBufLimit = 4093;
// The most characters the fast way takes from the communication layer at
// a time.
constexpr int kRunMax = 256;
// The visible mark of a pass's end at diagnostic level 4096.
constexpr wchar_t kPassMark = 0xBA;

bool IsMarker(int c)
{
    return c >= COMM_MARKER_FIRST && c <= COMM_MARKER_LAST;
}

// The receive table that keeps every character.
constexpr auto kSame = [] {
    std::array<uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    return table;
}();

// A printable 7-bit character that stays printable through the receive
// table (inward).
inline bool IsPlainPrintable(int c, uint8_t const* inward)
{
    return static_cast<unsigned>(c - 32) < 95u && inward[c] >= 32;
}

// Whether the receive table keeps every printable 7-bit character
// printable (it may be asked for 127 too: a table that does not keep it
// is only looked at more closely).
bool KeepsPrintable(uint8_t const* inward)
{
    __m128i const space = _mm_set1_epi8(32);
    for (int c = 32; c < 128; c += 16) {
        __m128i const v = _mm_loadu_si128(reinterpret_cast<__m128i const*>(inward + c));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(v, space), v)) != 0xFFFF)
            return false;
    }
    return true;
}

// Whether the receive table keeps every printable 7-bit character as it
// is.
bool KeepsPlainAsIs(uint8_t const* inward)
{
    return memcmp(inward + 32, kSame.data() + 32, 95) == 0;
}

// How many of the n bytes at p, from the first on, are plain printable
// characters (IsPlainPrintable); sixteen at a time when the table keeps
// them all.
int PlainRun(uint8_t const* p, int n, uint8_t const* inward, bool keepsPrintable)
{
    int i = 0;
    if (keepsPrintable) {
        __m128i const space = _mm_set1_epi8(32), span = _mm_set1_epi8(94);
        for (; i + 16 <= n; i += 16) {
            __m128i const t = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<__m128i const*>(p + i)), space);
            int const mask = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(t, span), t));
            if (mask != 0xFFFF)
                return i + __builtin_ctz(~static_cast<unsigned>(mask));
        }
    }
    while (i < n && IsPlainPrintable(p[i], inward))
        ++i;
    return i;
}

// The n characters at bytes into the buffer at out, through the receive
// table when there is one.
void ShowRun(wchar_t* out, uint8_t const* bytes, int n, uint8_t const* inward)
{
    int i = 0;
    if (inward) {
        for (; i < n; ++i)
            out[i] = static_cast<wchar_t>(inward[bytes[i]]);
        return;
    }
    static_assert(sizeof(wchar_t) == 4);
    __m128i const zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        __m128i const v = _mm_loadu_si128(reinterpret_cast<__m128i const*>(bytes + i));
        __m128i const lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi16(lo, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 4), _mm_unpackhi_epi16(lo, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpacklo_epi16(hi, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 12), _mm_unpackhi_epi16(hi, zero));
    }
    for (; i < n; ++i)
        out[i] = static_cast<wchar_t>(bytes[i]);
}

// Whether a checked byte is a graphic character: text in the ground state
// of an emulation that takes runs (EMUFLAG_SEQUENCERUN).
inline bool IsGraphic(unsigned char b)
{
    return b >= 0xA0 || (b >= 0x20 && b != 0x7F && b < 0x80);
}

// How many of the first n bytes at p (at most max) are printable 7-bit
// characters, or ESC unless it is shown as a caret pair (withEsc false):
// what may belong to an escape or control sequence the fast way takes
// whole. Sixteen at a time.
int CalmBytes(uint8_t const* p, int n, bool withEsc, int max)
{
    int i = 0;
    __m128i const escape = _mm_set1_epi8(withEsc ? 27 : 32);
    for (; i + 16 <= n && i < max; i += 16) {
        __m128i const v = _mm_loadu_si128(reinterpret_cast<__m128i const*>(p + i));
        __m128i const t = _mm_sub_epi8(v, _mm_set1_epi8(32));
        __m128i const printable = _mm_cmpeq_epi8(_mm_min_epu8(t, _mm_set1_epi8(94)), t);
        __m128i const esc = _mm_cmpeq_epi8(v, escape);
        unsigned const mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(printable, esc)));
        if (mask != 0xFFFF)
            return std::min(i + __builtin_ctz(~mask), max);
    }
    while (i < n && i < max && (static_cast<unsigned>(p[i] - 32) < 95u || (withEsc && p[i] == 27)))
        ++i;
    return std::min(i, max);
}

// The bytes a sequence is looked at in, at most: enough for the longest
// common control sequence; a longer one is taken in pieces.
constexpr int kSequenceWindow = 32;

// Whether the receive table keeps every character as it is.
bool KeepsAllAsIs(uint8_t const* inward)
{
    return memcmp(inward, kSame.data(), 256) == 0;
}

// Text in the ground state at the start of the n bytes at p: printable
// 7-bit characters and graphic characters from 0xA0 up (a UTF-8 sequence
// only when it is whole among the n bytes) that the receive table keeps
// printable, as the slow way would hand them out. They go to out (at most
// room characters); the bytes taken, and *written the characters.
int GroundText(uint8_t const* p, int n, wchar_t* out, int room, SESSION::TEXTRULES const& r, int* written)
{
    int i = 0, w = 0;
    while (i < n && w < room) {
        int const k = PlainRun(p + i, std::min(n - i, room - w), r.Inward, r.KeepsPrintable);
        if (k > 0) {
            ShowRun(out + w, p + i, k, r.Plain);
            i += k;
            w += k;
            continue;
        }
        unsigned char const b = p[i];
        if (b < 0xA0 || !r.High)
            break;
        uint32_t u = b;
        int len = 1;
        if (r.Utf8) {
            // A whole sequence of a lead byte and its continuation bytes,
            // decoded as the slow way's decoder decodes it.
            if (b < 0xC2 || b > 0xF4)
                break;
            len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
            if (i + len > n)
                break;
            uint32_t value = b & (len == 2 ? 0x1Fu : len == 3 ? 0x0Fu : 0x07u);
            int j = 1;
            for (; j < len && (p[i + j] & 0xC0) == 0x80; ++j)
                value = value << 6 | (p[i + j] & 0x3Fu);
            if (j < len)
                break;
            u = static_cast<uint32_t>(UNICODE::Utf8Finish(value, len));
        }
        if (u < 0xA0)
            break;
        if (u < 256 && r.Translate) {
            if (r.Translate[u] < 32)
                break;
            u = r.Translate[u];
        }
        out[w++] = static_cast<wchar_t>(u);
        i += len;
    }
    *written = w;
    return i;
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

void SESSION::DeviceEndNotification()
{
    if (!DeviceEndPending.exchange(true))
        PostUserMessage(MSG_DEVICEEND, 0, 0);
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
    // The receive table as a table: a session whose translation is not one
    // takes every character through TranslateIn.
    uint8_t const* const table = translate ? TranslateInTable() : nullptr;
    bool const fast = !triggers && !LOGIF(8, nullptr) && (!translate || table);
    bool const stripHigh = p.StripHiBit != 0;
    bool const ctrlChars = p.CtrlChars != 0;
    // An emulation that takes runs is asked once for a whole sequence, and
    // never for graphic characters in its ground state.
    bool const runs = EmuLayer.RunsChecked();
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

    // What a printable 7-bit character becomes outside a sequence: itself,
    // or its entry of the receive table.
    uint8_t const* const inward = table ? table : kSame.data();
    bool const keepsPrintable = !table || KeepsPrintable(inward);
    // A table that keeps the printable 7-bit characters as they are need
    // not be looked at for them.
    uint8_t const* const plainTable = translate && !KeepsPlainAsIs(inward) ? inward : nullptr;
    // Which received characters belong to sequences matters only to a
    // receive table that changes some (they are kept from it) and to the
    // scripts' triggers. While neither looks, an emulation that takes runs
    // parses its sequences once, in its own output, and the road does not
    // check them; when they look again, the check starts from the state the
    // emulation's parser is in.
    bool const unchecked = runs && !triggers && (!translate || KeepsAllAsIs(inward));
    if (unchecked) {
        SequenceUntracked = true;
    } else if (SequenceUntracked) {
        int word = 0;
        if (runs)
            EmuLayer.SequenceRunLow(&word, nullptr, 0);
        SequenceState = (SequenceState & static_cast<int>(0xFF000000u)) | (word & 0x00FFFFFF);
        SequenceUntracked = false;
    }
    TEXTRULES const rules{inward, translate ? inward : nullptr, plainTable, keepsPrintable, utf8, !stripHigh, unchecked};

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
        // Most received characters are text and escape sequences that no
        // hook looks at: they are taken in runs straight from the
        // communication layer's read buffer, with the sequence check, the
        // table, the line-end translator's memory and the buffer, nothing
        // else. (No decoder sequence is open: such a character would break
        // it; and no decoded character waits, so the next ones come
        // straight from the communication layer.) The budget counts line
        // ends only: a run ends at the buffer's limit (or after one
        // character when the budget is already spent) or when nothing more
        // is waiting.
        bool const calm = fast && !decoded && Utf8State.Remaining == 0 && Decoded.empty() &&
                          (SequenceState & static_cast<int>(0xFF000000u)) == 0;
        if (calm && runs && c < 256) [[likely]] {
            int const stop = budget < 1 ? ComBufCount + 1 : kComBufLimit + 1;
            if (TakeRuns(c, rules, ctrlChars, stop) > 0) {
                first = false;
                if (ComBufCount >= stop)
                    break;
                c = NextChar(&decoded);
                if (c == COMM_NOCHAR)
                    break;
                continue;
            }
        } else if (calm && !runs && IsPlainPrintable(c, inward)) {
            int count = ComBufCount;
            int const stop = budget < 1 ? count + 1 : kComBufLimit + 1;
            DWORD const me = COMM::ThreadTag();
            bool full = false;
            for (;;) {
                // c and the plain characters right behind it in the layer's
                // read buffer are taken together (copied: the sequence
                // check must not see them change), shown in the buffer,
                // and then each goes through the sequence check, which
                // keeps a character of a sequence as it came.
                uint8_t run[kRunMax];
                run[0] = static_cast<uint8_t>(c);
                uint8_t const* more = nullptr;
                int const room = std::min({CommLayer.PeekRun(&more, me), stop - count - 1, kRunMax - 1});
                int const extra = room > 0 ? PlainRun(more, room, inward, keepsPrintable) : 0;
                if (extra > 0) {
                    memcpy(run + 1, more, static_cast<size_t>(extra));
                    CommLayer.TakeRun(extra);
                }
                int const n = 1 + extra;
                ShowRun(ComBuf + count, run, n, plainTable);
                for (int i = 0; i < n; ++i) {
                    if (EmuLayer.SequenceLow(&SequenceState, static_cast<char>(run[i]))) [[unlikely]]
                        ComBuf[count + i] = static_cast<wchar_t>(run[i]);
                }
                count += n;
                if (count >= stop) {
                    full = true;
                    break;
                }
                c = CommLayer.NextChar(0, me);
                if (!IsPlainPrintable(c, inward))
                    break;
            }
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
                // The well-formed steps go inline; the decoder takes the rest.
                wchar_t one = 0;
                int const step = UNICODE::Utf8Step(static_cast<unsigned char>(c), Utf8State, &one);
                if (step == 0) {
                    c = NextChar(&decoded);
                    if (c == COMM_NOCHAR)
                        break;
                    continue;
                }
                if (step == 1) {
                    c = static_cast<int>(one);
                } else {
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
            }
        } else if (!decoded) {
            Utf8State = UNICODE_UTF8STATE{};
        }
        if (stripHigh)
            c &= 0x7F;
        // The check takes bytes: a wide character goes as a byte that is
        // text everywhere (its low byte could be ESC or CAN).
        char const checked = static_cast<char>(c > 0xFF ? 0xFF : c);
        bool const inSequence =
            unchecked || (runs && SequenceState == 0 && IsGraphic(static_cast<unsigned char>(checked)))
                ? false
                : EmuLayer.Sequence(&SequenceState, checked);
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
                // (A character at hand in the layer's read buffer is only
                // looked at; any other is read and pushed back.)
                uint8_t const* ahead = nullptr;
                int next;
                if (Decoded.empty() && CommLayer.PeekRun(&ahead, COMM::ThreadTag()) > 0) {
                    next = ahead[0];
                } else {
                    bool nextDecoded = false;
                    next = NextChar(&nextDecoded);
                    if (next != COMM_NOCHAR)
                        PushBack(next, nextDecoded);
                }
                if (next != kLF)
                    budget = 0;
            }
            ComBufCount += TransCrLf.Translate(static_cast<wchar_t>(c), ComBuf + ComBufCount, -1);
            first = false;
        } else {
            // The translator remembers the whole character: the low byte of
            // a wide one (U+4E0A) must not pass for a line end.
            TransCrLf.Pass(static_cast<wchar_t>(c));
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

int SESSION::TakeRuns(int c, TEXTRULES const& rules, bool ctrlChars, int stop)
{
    int count = ComBufCount;
    // c first, which the layer has given already.
    if (c == 27 && ctrlChars)
        return 0;
    uint8_t const* more = nullptr;
    int const avail = CommLayer.PeekRun(&more, COMM::ThreadTag());
    int used = 0; // of the bytes at more
    bool const ground = rules.Unchecked || SequenceState == 0;
    if (ground && (IsPlainPrintable(c, rules.Inward) || (rules.Unchecked && c == 27))) {
        ComBuf[count++] = static_cast<wchar_t>(rules.Plain ? rules.Plain[c] : c);
    } else if (ground && c >= 0xA0) {
        // A character from 0xA0 up: a UTF-8 sequence is whole only with the
        // bytes behind it.
        uint8_t head[4] = {static_cast<uint8_t>(c)};
        int const have = 1 + std::min(avail, 3);
        for (int i = 1; i < have; ++i)
            head[i] = more[i - 1];
        int written = 0;
        int const k = GroundText(head, have, ComBuf + count, 1, rules, &written);
        if (k == 0)
            return 0;
        count += written;
        used = k - 1;
    } else if (!rules.Unchecked && (static_cast<unsigned>(c - 32) < 95u || c == 27)) {
        char const ch = static_cast<char>(c);
        int const before = SequenceState;
        int const k = EmuLayer.SequenceRunLow(&SequenceState, &ch, 1);
        if (k < 0) {
            ComBuf[count++] = static_cast<wchar_t>(c);
        } else if (k > 0 && IsPlainPrintable(c, rules.Inward)) {
            ComBuf[count++] = static_cast<wchar_t>(rules.Plain ? rules.Plain[c] : c);
        } else {
            SequenceState = before;
            return 0;
        }
    } else {
        return 0;
    }
    // Then straight from the layer's read buffer, taken once at the end.
    uint8_t const* const p = more;
    int const n = avail;
    int i = used;
    while (i < n && count < stop) {
        if (rules.Unchecked) {
            // Text and sequences alike, as they came (the table keeps them).
            int const k = std::min(CalmBytes(p + i, n - i, !ctrlChars, n - i), stop - count);
            if (k > 0) {
                ShowRun(ComBuf + count, p + i, k, nullptr);
                i += k;
                count += k;
                continue;
            }
            int written = 0;
            int const taken = GroundText(p + i, n - i, ComBuf + count, stop - count, rules, &written);
            if (taken == 0)
                break;
            i += taken;
            count += written;
            continue;
        }
        if (SequenceState == 0) {
            // Graphic characters in the ground state: text, unchecked. A
            // few plain ones between two sequences are taken here.
            int const shortRun = std::min({n - i, stop - count, 8});
            int k = 0;
            while (k < shortRun && IsPlainPrintable(p[i + k], rules.Inward)) {
                ComBuf[count + k] = static_cast<wchar_t>(rules.Plain ? rules.Plain[p[i + k]] : p[i + k]);
                ++k;
            }
            i += k;
            count += k;
            if (k > 0 && k < 8)
                continue;
            // Longer text, and characters from 0xA0 up.
            int written = 0;
            int const taken = GroundText(p + i, n - i, ComBuf + count, stop - count, rules, &written);
            i += taken;
            count += written;
            if (k + taken > 0)
                continue;
        }
        // A sequence (or what the emulation makes of ESC and printable
        // characters outside the ground state): one check for the lot.
        int const window = std::min(CalmBytes(p + i, n - i, !ctrlChars, kSequenceWindow), stop - count);
        if (window == 0)
            break;
        int const before = SequenceState;
        int const k = EmuLayer.SequenceRunLow(&SequenceState, reinterpret_cast<char const*>(p + i), window);
        if (k < 0) {
            // Characters of a sequence stay as they came.
            ShowRun(ComBuf + count, p + i, -k, nullptr);
            i -= k;
            count -= k;
            continue;
        }
        // Text: the plain characters among them through the table; what
        // is not plain waits for the slow way, with the state it found.
        int const plain = k > 0 ? PlainRun(p + i, k, rules.Inward, rules.KeepsPrintable) : 0;
        if (plain < k || k == 0) {
            SequenceState = before;
            if (plain > 0)
                EmuLayer.SequenceRunLow(&SequenceState, reinterpret_cast<char const*>(p + i), plain);
        }
        if (plain == 0)
            break;
        ShowRun(ComBuf + count, p + i, plain, rules.Plain);
        i += plain;
        count += plain;
        if (plain < k)
            break;
    }
    if (i > 0)
        CommLayer.TakeRun(i);
    TransCrLf.Pass(ComBuf[count - 1]);
    ComBufCount = count;
    return 1 + i;
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
