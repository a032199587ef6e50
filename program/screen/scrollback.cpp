// The scroll-back buffer: packed rows, the capacity and its tenth-at-a-time
// drop, popping logical lines for the re-wrap, and saving.
#include "program/screen/scrollback.h"

#include "program/screen/vio.h"
#include "program/screen/vioutils.h"
#include "velmot/core/logit.h"
#include "velmot/core/unicode.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <emmintrin.h>
#include <sys/mman.h>

std::atomic<bool> SCROLLBACKBUFFER::RecordingSuspended{false};

namespace {

// The buffer whose lock this thread holds through a GUARD: a nested
// operation of the same thread does not take the lock again.
thread_local SCROLLBACKBUFFER const* tHeld __attribute__((tls_model("initial-exec"))) = nullptr;

} // namespace

SCROLLBACKBUFFER::GUARD::GUARD(SCROLLBACKBUFFER& sb) : Buffer(sb)
{
    if (tHeld == &sb)
        return;
    Took = sb.Lock.Obtain(-1);
    if (Took) {
        Previous = tHeld;
        tHeld = &sb;
    }
}

SCROLLBACKBUFFER::GUARD::~GUARD()
{
    if (!Took)
        return;
    tHeld = Previous;
    Buffer.Lock.Release();
}

namespace {

// Layout of a packed row:
//   0  u16 length (cells)
//   2  u16 stored: cells whose character is kept; the others are blanks
//   4  u16 number of attribute runs
//   6  u8  flags (PACK_WIDE: characters take two bytes; PACK_DIM: dimmed)
//   7  u8  (zero)
//   8  runs: 8 bytes each, a VIOCELL whose character is the run's length
//   .. characters
constexpr int kHeader = 8;
constexpr uint8_t PACK_WIDE = 0x01;
constexpr uint8_t PACK_DIM = 0x02;
constexpr uint8_t PACK_OWN = 0x04; // an allocation of its own, not in a chunk
constexpr uint8_t PACK_EXT = 0x08; // some cell refers to the screen's table of characters
constexpr int kMaxLength = 0xFFFF;

// The cell's bits above the character (attribute, extra bits, colours);
// blinking is dropped: history stands still.
constexpr uint64_t kStyleMask = ~uint64_t{0xFFFF} & ~(uint64_t{VIOATTR_BLINK} << 16);

uint16_t Get16(uint8_t const* p)
{
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

void Put16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }

int PackedLength(uint8_t const* data) { return Get16(data); }

size_t PackedSize(uint8_t const* data)
{
    size_t const chars = Get16(data + 2) * ((data[6] & PACK_WIDE) ? 2u : 1u);
    return kHeader + size_t(Get16(data + 4)) * 8 + chars;
}

// How many cells at the end of cells[0, n) equal the last one under the
// mask (the last one included). Two cells at a time.
int TrailingRepeats(VIOCELL const* cells, int n, uint64_t mask)
{
    uint64_t const want = vioutils::Bits(cells[n - 1]) & mask;
    int i = n;
    __m128i const m = _mm_set1_epi64x(int64_t(mask));
    __m128i const w = _mm_set1_epi64x(int64_t(want));
    while (i >= 2) {
        __m128i const v = _mm_loadu_si128(reinterpret_cast<__m128i const*>(cells + i - 2));
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(v, m), w)) != 0xFFFF)
            break;
        i -= 2;
    }
    while (i > 0 && (vioutils::Bits(cells[i - 1]) & mask) == want)
        --i;
    return n - i;
}

// Over cells[0, n): *differ gets the bits in which a cell's style differs
// from `first`, *high the bits above 0xFF of the characters.
void ScanStyles(VIOCELL const* cells, int n, uint64_t first, uint64_t* differ, uint64_t* high)
{
    __m128i const sm = _mm_set1_epi64x(int64_t(kStyleMask));
    __m128i const f = _mm_set1_epi64x(int64_t(first));
    __m128i const hm = _mm_set1_epi64x(0xFF00);
    __m128i d = _mm_setzero_si128(), h = _mm_setzero_si128();
    int i = 0;
    for (; i + 2 <= n; i += 2) {
        __m128i const v = _mm_loadu_si128(reinterpret_cast<__m128i const*>(cells + i));
        d = _mm_or_si128(d, _mm_xor_si128(_mm_and_si128(v, sm), f));
        h = _mm_or_si128(h, _mm_and_si128(v, hm));
    }
    alignas(16) uint64_t dl[2], hl[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(dl), d);
    _mm_store_si128(reinterpret_cast<__m128i*>(hl), h);
    uint64_t dv = dl[0] | dl[1], hv = hl[0] | hl[1];
    for (; i < n; ++i) {
        uint64_t const v = vioutils::Bits(cells[i]);
        dv |= (v & kStyleMask) ^ first;
        hv |= v & 0xFF00;
    }
    *differ = dv;
    *high = hv;
}

// The first index in [i, n) whose cell's style differs from `style`; n when
// none does. Two cells at a time.
int NextStyleChange(VIOCELL const* cells, int i, int n, uint64_t style)
{
    __m128i const m = _mm_set1_epi64x(int64_t(kStyleMask));
    __m128i const w = _mm_set1_epi64x(int64_t(style));
    for (; i + 2 <= n; i += 2) {
        __m128i const v = _mm_loadu_si128(reinterpret_cast<__m128i const*>(cells + i));
        int const same = _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(v, m), w));
        if (same != 0xFFFF)
            return (same & 0xFF) != 0xFF ? i : i + 1;
    }
    if (i < n && (vioutils::Bits(cells[i]) & kStyleMask) != style)
        return i;
    return n;
}

// The low bytes of the characters of n cells, eight cells at a time.
void LowBytes(VIOCELL const* cells, int n, uint8_t* out)
{
    __m128i const lo = _mm_set1_epi64x(0xFF);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        auto load = [&](int k) {
            return _mm_and_si128(_mm_loadu_si128(reinterpret_cast<__m128i const*>(cells + i + k)), lo);
        };
        // Each 64-bit lane holds a byte; two packs of 32 to 16 bits gather
        // the eight of them in order, one pack of 16 to 8 bits narrows them.
        __m128i const ab = _mm_packs_epi32(load(0), load(2));
        __m128i const cd = _mm_packs_epi32(load(4), load(6));
        __m128i const all = _mm_packs_epi32(ab, cd);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(all, all));
    }
    for (; i < n; ++i)
        out[i] = uint8_t(cells[i].c);
}

} // namespace

// Packed rows live in chunks of 64 KiB, each row right after the one
// before: rows are dropped oldest first and popped newest first, so chunks
// empty as a whole and the room of a popped row is taken again by the next
// one. A row too long for a chunk gets an allocation of its own.
class ROWSTORE {
public:
    static constexpr size_t kChunk = 64 * 1024;
    static constexpr size_t kLargest = kChunk / 4;

    ~ROWSTORE()
    {
        if (Current)
            Unmap(Current);
        for (CHUNK* c : Spare)
            Unmap(c);
    }

    uint8_t* Alloc(size_t n, bool* own)
    {
        if (n > kLargest) {
            *own = true;
            auto* p = static_cast<uint8_t*>(std::malloc(n));
            if (p)
                OwnBytes += n;
            return p;
        }
        *own = false;
        if (!Current || Current->Top + n > kChunk - sizeof(CHUNK)) {
            if (Current && Current->Live == 0) {
                Current->Top = 0;
            } else {
                CHUNK* chunk = nullptr;
                if (!Spare.empty()) {
                    chunk = Spare.back();
                    Spare.pop_back();
                    chunk->Live = 0;
                    chunk->Top = 0;
                } else {
                    chunk = Map();
                }
                if (!chunk)
                    return nullptr;
                Current = chunk;
                ++Chunks;
            }
        }
        uint8_t* p = Data(Current) + Current->Top;
        Current->Top += uint32_t(n);
        ++Current->Live;
        return p;
    }

    void Free(uint8_t* p, size_t n, bool own)
    {
        if (own) {
            OwnBytes -= n;
            std::free(p);
            return;
        }
        auto* chunk = reinterpret_cast<CHUNK*>(reinterpret_cast<uintptr_t>(p) & ~uintptr_t(kChunk - 1));
        if (p + n == Data(chunk) + chunk->Top)
            chunk->Top -= uint32_t(n);
        if (--chunk->Live == 0) {
            if (chunk == Current) {
                chunk->Top = 0;
            } else {
                // A dropped tenth empties several chunks that the next rows
                // need again: a few are kept, so that the pages are not
                // given back and faulted in (and the mapping changed for
                // every processor) again and again.
                --Chunks;
                if (Spare.size() < kSpareChunks + Chunks / 8)
                    Spare.push_back(chunk);
                else
                    Unmap(chunk);
            }
        }
    }

    size_t Bytes() const { return (Chunks + Spare.size()) * kChunk + OwnBytes; }

private:
    struct CHUNK {
        uint32_t Live;
        uint32_t Top;
    };
    static uint8_t* Data(CHUNK* c) { return reinterpret_cast<uint8_t*>(c + 1); }

    // Chunks are mapped pages of their own, aligned to their size so that
    // a row finds its chunk from its address; the heap's aligned
    // allocation would leave (and touch) a gap of a chunk's size per chunk.
    static CHUNK* Map()
    {
        void* p = mmap(nullptr, 2 * kChunk, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            return nullptr;
        uintptr_t const start = reinterpret_cast<uintptr_t>(p);
        uintptr_t const aligned = (start + kChunk - 1) & ~uintptr_t(kChunk - 1);
        if (aligned > start)
            munmap(p, aligned - start);
        if (start + 2 * kChunk > aligned + kChunk)
            munmap(reinterpret_cast<void*>(aligned + kChunk), start + 2 * kChunk - (aligned + kChunk));
        auto* chunk = reinterpret_cast<CHUNK*>(aligned);
        chunk->Live = 0;
        chunk->Top = 0;
        return chunk;
    }
    static void Unmap(CHUNK* c) { munmap(c, kChunk); }

    // Spare chunks kept: a few, and an eighth of those in use (a drop frees
    // a tenth).
    static constexpr size_t kSpareChunks = 4;

    CHUNK* Current = nullptr;
    size_t Chunks = 0;
    std::vector<CHUNK*> Spare;
    size_t OwnBytes = 0;
};

namespace {

void FreeRow(ROWSTORE& store, uint8_t* data)
{
    if (data)
        store.Free(data, PackedSize(data), data[6] & PACK_OWN);
}

// Packs a row (1 <= length <= kMaxLength) into the store; null when out of
// memory.
uint8_t* Pack(VIOCELL const* cells, int length, bool dim, std::vector<uint64_t>& runs, ROWSTORE& store)
{
    // The trailing blanks that repeat the last cell are not stored.
    uint64_t const last = vioutils::Bits(cells[length - 1]);
    int stored = length;
    if ((last & vioutils::kCharMask) == 32)
        stored -= TrailingRepeats(cells, length, ~(uint64_t{VIOATTR_BLINK} << 16));
    runs.clear();
    uint64_t const firstStyle = vioutils::Bits(cells[0]) & kStyleMask;
    // Most rows have one style up to their trailing blanks; one pass tells,
    // and finds whether any character needs two bytes.
    uint64_t differ = 0, high = 0;
    ScanStyles(cells, stored, firstStyle, &differ, &high);
    uint64_t style = firstStyle;
    int start = 0;
    if (differ) {
        for (int i = NextStyleChange(cells, 1, stored, style); i < stored; i = NextStyleChange(cells, i + 1, stored, style)) {
            runs.push_back(style | uint64_t(i - start));
            style = vioutils::Bits(cells[i]) & kStyleMask;
            start = i;
        }
    }
    if (stored < length) {
        uint64_t const s = last & kStyleMask;
        if (s != style) {
            runs.push_back(style | uint64_t(stored - start));
            style = s;
            start = stored;
        }
    }
    runs.push_back(style | uint64_t(length - start));

    bool const wide = high != 0;
    size_t const size = kHeader + runs.size() * 8 + size_t(stored) * (wide ? 2 : 1);
    bool own = false;
    uint8_t* data = store.Alloc(size, &own);
    if (!data)
        return nullptr;
    Put16(data, uint16_t(length));
    Put16(data + 2, uint16_t(stored));
    Put16(data + 4, uint16_t(runs.size()));
    data[6] = uint8_t((wide ? PACK_WIDE : 0) | (dim ? PACK_DIM : 0) | (own ? PACK_OWN : 0));
    data[7] = 0;
    std::memcpy(data + kHeader, runs.data(), runs.size() * 8);
    uint8_t* chars = data + kHeader + runs.size() * 8;
    if (wide) {
        bool extended = false;
        for (int i = 0; i < stored; ++i) {
            Put16(chars + size_t(i) * 2, cells[i].c);
            extended = extended || VIOCHARS::IsExtended(cells[i]);
        }
        if (extended)
            data[6] |= PACK_EXT;
    } else {
        LowBytes(cells, stored, chars);
    }
    return data;
}

// The attribute of the row's last cell.
uint16_t LastAttrib(uint8_t const* data)
{
    int runs = Get16(data + 4);
    uint64_t run = vioutils::Load(data + kHeader + size_t(runs - 1) * 8);
    return uint16_t(run >> 16);
}

// The text of cells: right halves of double-width characters left out, a
// blank for a cell never written, characters with their marks (from the
// screen's table; U+FFFD without a screen).
void AppendCells(VIOCELL const* cells, int n, VIOCHARS const* chars, std::u32string& out)
{
    for (int i = 0; i < n; ++i) {
        VIOCELL const c = cells[i];
        if (vioutils::IsWideRight(c))
            continue;
        if (VIOCHARS::IsExtended(c) && chars)
            chars->AppendText(c, out);
        else
            out.push_back(VIOCHARS::IsExtended(c) ? U'\xFFFD' : c.c ? char32_t(c.c) : U' ');
    }
}

void TrimLine(std::u32string& text)
{
    while (!text.empty() && (text.back() == U' ' || text.back() == U'\t'))
        text.pop_back();
}

// Expands the first `count` cells of a packed row.
void Unpack(uint8_t const* data, VIOCELL* out, int count)
{
    int const stored = Get16(data + 2);
    int const runs = Get16(data + 4);
    bool const wide = data[6] & PACK_WIDE;
    uint8_t const* run = data + kHeader;
    uint8_t const* chars = run + size_t(runs) * 8;
    int pos = 0;
    for (int r = 0; r < runs && pos < count; ++r, run += 8) {
        uint64_t const rec = vioutils::Load(run);
        uint64_t const style = rec & ~uint64_t{0xFFFF};
        int const end = std::min(count, pos + int(rec & 0xFFFF));
        int const textEnd = std::min(end, stored);
        if (wide) {
            for (; pos < textEnd; ++pos)
                vioutils::Store(out + pos, style | Get16(chars + size_t(pos) * 2));
        } else {
            for (; pos < textEnd; ++pos)
                vioutils::Store(out + pos, style | chars[pos]);
        }
        for (; pos < end; ++pos)
            vioutils::Store(out + pos, style | 32);
    }
}

} // namespace

SCROLLBACKBUFFER::SCROLLBACKBUFFER(SCROLLBACKHOST* host)
    : Host(host ? host : &NullHost), Store(std::make_unique<ROWSTORE>())
{
}

SCROLLBACKBUFFER::~SCROLLBACKBUFFER()
{
    if (Lines) {
        ClearAll();
        FreeTable();
    }
}

void SCROLLBACKBUFFER::FreeTable()
{
    for (int i = 0; i < TableSize; ++i)
        FreeRow(*Store, Lines[i].Data);
    std::free(Lines);
    Lines = nullptr;
    TableSize = 0;
}

void SCROLLBACKBUFFER::MakeScrollback(int lines, SCROLLBAR* bar)
{
    int capacity = std::clamp(lines, 0, 64000);
    if (capacity > 0 && capacity < 100)
        capacity = 100;
    if (capacity != MaxLinesLimit) {
        GUARD lock(*this);
        if (Lines) {
            ClearAll();
            FreeTable();
        }
        MaxLinesLimit = capacity;
        TableSize = std::max(capacity, 10);
        Lines = static_cast<SCROLLLINE*>(std::calloc(size_t(TableSize), sizeof(SCROLLLINE)));
        if (!Lines)
            TableSize = 0;
        NumLines = 0;
        CurLineIdx = 0;
        HoverLine = -1;
        SelStartLine = SelEndLine = -1;
    }
    if (Viewer)
        Host->PostToViewer(Viewer, 1025);
    else if (bar)
        SetScrollbars(*bar, -1);
}

void SCROLLBACKBUFFER::DropOldest(int n)
{
    n = std::min(n, NumLines);
    for (int i = 0; i < n; ++i)
        FreeRow(*Store, Lines[i].Data);
    std::memmove(Lines, Lines + n, size_t(NumLines - n) * sizeof(SCROLLLINE));
    std::memset(Lines + (NumLines - n), 0, size_t(n) * sizeof(SCROLLLINE));
    NumLines -= n;
    CurLineIdx = std::max(0, CurLineIdx - n);
    HoverLine = HoverLine - n < 0 ? -1 : HoverLine - n;
    if (n > SelStartLine || n > SelEndLine) {
        SelStartLine = -1;
        SelEndLine = -1;
    } else {
        SelStartLine -= n;
        SelEndLine -= n;
    }
}

void SCROLLBACKBUFFER::AddLine(VIOCELL const* cells, int length, signed char notify)
{
    if (!Lines || MaxLinesLimit == 0 || RecordingSuspended.load(std::memory_order_relaxed) || length == 0)
        return;
    if (length < 0 || !cells) {
        AssertMsg(0, "FALSE", __FILE__, __LINE__, "AddLine");
        return;
    }
    // A plug-in may hand a row longer than a length field holds; the row is
    // kept up to that length rather than stored with a wrong one.
    length = std::min(length, kMaxLength);
    int const before = NumLines;
    bool const dim = !Host->NoDim();
    {
        GUARD lock(*this);
        if (NumLines >= MaxLinesLimit)
            DropOldest(std::max(1, MaxLinesLimit / 10));
        VIOASSERT(NumLines < MaxLinesLimit, "this->NumLines<this->MaxLinesLimit");
        if (NumLines >= TableSize)
            return;
        VIOASSERT(Lines[NumLines].Data == nullptr, "this->Lines[this->NumLines].Cells==NULL");
        FreeRow(*Store, Lines[NumLines].Data);
        Lines[NumLines].Data = Pack(cells, length, dim, Runs, *Store);
        if (Lines[NumLines].Data)
            ++NumLines;
        if (notify && !Viewer)
            CurLineIdx = NumLines;
    }
    if (notify) {
        if (Viewer)
            Host->PostToViewer(Viewer, 1025);
        else
            Host->ScrollbarUpdatePending();
    }
    if (before == 0)
        Host->UpdateToolbarAndMenu();
}

int SCROLLBACKBUFFER::PopLine(VIOCELL** out, signed char keep)
{
    if (out)
        *out = nullptr;
    GUARD lock(*this);
    if (!Lines || NumLines == 0)
        return -1;
    uint8_t* const data = Lines[NumLines - 1].Data;
    int const len = PackedLength(data);
    if (out) {
        *out = new VIOCELL[size_t(len)];
        Unpack(data, *out, len);
    }
    if (!keep) {
        FreeRow(*Store, data);
        Lines[NumLines - 1].Data = nullptr;
        --NumLines;
        if (CurLineIdx >= NumLines)
            CurLineIdx = std::max(0, NumLines - 1);
        if (HoverLine >= NumLines)
            HoverLine = -1;
    }
    return len;
}

int SCROLLBACKBUFFER::CountWrappedRows(int limit, bool onlyWrapped)
{
    GUARD lock(*this);
    if (!Lines || NumLines == 0)
        return 0;
    int i = NumLines - 1;
    if (onlyWrapped && !(LastAttrib(Lines[i].Data) & VIOATTR_WRAPPED))
        return 0;
    int rows = 1;
    while (rows <= limit && i > 0 && (LastAttrib(Lines[i - 1].Data) & VIOATTR_WRAPPED)) {
        --i;
        ++rows;
    }
    return rows;
}

int SCROLLBACKBUFFER::PopFullWrappedLine(VIOCELL** out, signed char onlyWrapped)
{
    if (out)
        *out = nullptr;
    GUARD lock(*this);
    int const rows = CountWrappedRows(NumLines, onlyWrapped != 0);
    if (rows == 0)
        return 0;
    int const first = NumLines - rows;
    size_t total = 0;
    for (int i = first; i < NumLines; ++i)
        total += size_t(PackedLength(Lines[i].Data));
    VIOCELL* cells = new VIOCELL[total];
    size_t pos = 0;
    for (int i = first; i < NumLines; ++i) {
        int const len = PackedLength(Lines[i].Data);
        Unpack(Lines[i].Data, cells + pos, len);
        pos += size_t(len);
    }
    for (int i = 0; i < rows; ++i)
        PopLine(nullptr, 0);
    for (size_t i = 0; i < total; ++i) {
        cells[i].attrib &= uint16_t(~VIOATTR_WRAPPED);
        cells[i].extattr &= uint8_t(~VIOEXT_LINK);
    }
    if (out)
        *out = cells;
    else
        delete[] cells;
    return int(total);
}

int SCROLLBACKBUFFER::UnpackLine(int line, VIOCELL* out, int max)
{
    GUARD lock(*this);
    if (!Lines || !out || line < 0 || line >= NumLines || max <= 0)
        return 0;
    uint8_t const* data = Lines[line].Data;
    int const n = std::min(max, PackedLength(data));
    Unpack(data, out, n);
    if (data[6] & PACK_DIM) {
        for (int i = 0; i < n; ++i)
            out[i].attrib |= VIOATTR_DIM;
    }
    if (line == HoverLine) {
        for (int i = std::max(0, HoverFrom); i <= HoverTo && i < n; ++i)
            out[i].extattr |= VIOEXT_LINK;
    }
    return n;
}

int SCROLLBACKBUFFER::UnpackLine(int line, wchar_t* out, int max)
{
    if (!out || max <= 0)
        return 0;
    GUARD lock(*this);
    if (!Lines || line < 0 || line >= NumLines) {
        out[0] = 0;
        return 0;
    }
    uint8_t const* data = Lines[line].Data;
    int const n = std::min(max - 1, PackedLength(data));
    std::vector<VIOCELL> cells(size_t(std::max(n, 0)));
    Unpack(data, cells.data(), n);
    // The cells' codes; a cell that refers to the screen's table gives its
    // text, when all of it fits.
    VIOCHARS const* chars = Screen ? &Screen->Chars : nullptr;
    std::u32string text;
    int stored = 0;
    for (int i = 0; i < n; ++i) {
        VIOCELL const c = cells[size_t(i)];
        text.clear();
        if (VIOCHARS::IsExtended(c))
            AppendCells(&c, 1, chars, text);
        else
            text.push_back(c.c);
        if (stored + int(text.size()) > max - 1)
            break;
        for (char32_t ch : text)
            out[stored++] = wchar_t(ch);
    }
    out[stored] = 0;
    return stored;
}

int SCROLLBACKBUFFER::GetLineText(int line, std::u32string& out)
{
    GUARD lock(*this);
    if (!Lines || line < 0 || line >= NumLines)
        return 0;
    uint8_t const* data = Lines[line].Data;
    int const n = PackedLength(data);
    std::vector<VIOCELL> cells(static_cast<size_t>(n));
    Unpack(data, cells.data(), n);
    AppendCells(cells.data(), n, Screen ? &Screen->Chars : nullptr, out);
    return n;
}

void SCROLLBACKBUFFER::MarkChars(std::vector<uint64_t>& live)
{
    GUARD lock(*this);
    std::vector<VIOCELL> cells;
    for (int i = 0; Lines && i < NumLines; ++i) {
        uint8_t const* data = Lines[i].Data;
        if (!(data[6] & PACK_EXT))
            continue;
        int const n = PackedLength(data);
        cells.resize(size_t(n));
        Unpack(data, cells.data(), n);
        for (VIOCELL const& c : cells)
            VIOCHARS::Mark(live, c);
    }
}

int SCROLLBACKBUFFER::LineLength(int line)
{
    GUARD lock(*this);
    if (!Lines || line < 0 || line >= NumLines)
        return 0;
    return PackedLength(Lines[line].Data);
}

void SCROLLBACKBUFFER::RegisterViewer(SCROLLBACKWIN* viewer)
{
    GUARD lock(*this);
    Viewer = viewer;
}

void SCROLLBACKBUFFER::SetScrollbars(SCROLLBAR& bar, int page)
{
    if (!Viewer && Host->IsBackgroundTab())
        return;
    int rows = 0;
    if (Screen)
        Screen->GetWinSize(nullptr, &rows);
    if (page == -1)
        page = rows;
    Host->SetScrollbar(bar, CurLineIdx, page, 0, rows + NumLines - 1);
}

void SCROLLBACKBUFFER::ClearAll()
{
    GUARD lock(*this);
    if (!Lines)
        return;
    for (int i = 0; i < NumLines; ++i) {
        VIOASSERT(Lines[i].Data != nullptr, "this->Lines[i].Cells!=NULL");
        FreeRow(*Store, Lines[i].Data);
        Lines[i].Data = nullptr;
    }
    NumLines = 0;
    CurLineIdx = 0;
    SelStartLine = -1;
    SelEndLine = -1;
    HoverLine = -1;
}

void SCROLLBACKBUFFER::SetHoverLink(int line, int from, int to)
{
    GUARD lock(*this);
    HoverLine = line >= 0 && line < NumLines ? line : -1;
    HoverFrom = from;
    HoverTo = to;
}

size_t SCROLLBACKBUFFER::MemoryUsed()
{
    GUARD lock(*this);
    return Store->Bytes() + size_t(TableSize) * sizeof(SCROLLLINE);
}

size_t SCROLLBACKBUFFER::LineBytes(int line)
{
    GUARD lock(*this);
    if (!Lines || line < 0 || line >= NumLines)
        return 0;
    return PackedSize(Lines[line].Data);
}

void SCROLLBACKBUFFER::SaveScrollbackDataToDestination(int dest)
{
    if (!Lines)
        return;
    // The lines are gathered first and the screen read afterwards, so the
    // screen lock is never taken while this buffer's lock is held.
    std::vector<std::u32string> texts;
    {
        GUARD lock(*this);
        texts.reserve(size_t(NumLines));
        VIOCHARS const* chars = Screen ? &Screen->Chars : nullptr;
        std::vector<VIOCELL> cells;
        for (int i = 0; i < NumLines; ++i) {
            int const len = PackedLength(Lines[i].Data);
            cells.resize(size_t(len));
            Unpack(Lines[i].Data, cells.data(), len);
            texts.emplace_back();
            AppendCells(cells.data(), len, chars, texts.back());
            TrimLine(texts.back());
        }
    }
    if (Screen) {
        int width = 0, height = 0;
        Screen->GetWinSize(&width, &height);
        for (int y = 0; y < height; ++y) {
            texts.emplace_back();
            Screen->GetText(texts.back(), width, 0, y, nullptr);
            TrimLine(texts.back());
        }
    }

    if (dest == 2) {
        // The clipboard gets the text itself, in UTF-8, so that no character
        // is lost to a code page; no file is written for it.
        std::string utf8;
        for (auto const& t : texts) {
            utf8 += '\n';
            for (char32_t c : t) {
                char buf[4];
                utf8.append(buf, size_t(UNICODE::Utf8Encode(wchar_t(c), buf)));
            }
        }
        Host->PutClipboardText(utf8, UNICODE_CPUTF8);
        return;
    }
    std::string const path = Host->ScrollEditFile();
    FILE* f = path.empty() ? nullptr : std::fopen(path.c_str(), "w");
    if (!f) {
        Host->FileError(path.c_str());
        return;
    }
    // The file is UTF-8, as text files are here: no character is lost to a
    // code page.
    std::string bytes;
    for (auto const& t : texts) {
        bytes.assign(1, '\n');
        for (char32_t c : t) {
            char buf[4];
            bytes.append(buf, size_t(UNICODE::Utf8Encode(wchar_t(c), buf)));
        }
        std::fwrite(bytes.data(), 1, bytes.size(), f);
    }
    // A full disk shows in the stream's error flag or at the close: either
    // is reported, never a file cut short taken for saved.
    bool const written = std::ferror(f) == 0;
    bool const ok = std::fclose(f) == 0 && written;
    if (!ok) {
        Host->FileError(path.c_str());
        return;
    }
    if (dest == 1)
        Host->EditFile(path.c_str());
}
