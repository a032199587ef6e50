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

std::atomic<bool> SCROLLBACKBUFFER::RecordingSuspended{false};

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

// Packs a row (1 <= length <= kMaxLength); null when out of memory.
uint8_t* Pack(VIOCELL const* cells, int length, bool dim, std::vector<uint64_t>& runs)
{
    // The trailing blanks that repeat the last cell are not stored.
    uint64_t const last = vioutils::Bits(cells[length - 1]);
    int stored = length;
    if ((last & vioutils::kCharMask) == 32) {
        uint64_t const fill = last & ~(uint64_t{VIOATTR_BLINK} << 16);
        while (stored > 0 && (vioutils::Bits(cells[stored - 1]) & ~(uint64_t{VIOATTR_BLINK} << 16)) == fill)
            --stored;
    }
    runs.clear();
    uint64_t style = vioutils::Bits(cells[0]) & kStyleMask;
    int start = 0;
    uint64_t high = 0;
    for (int i = 0; i < stored; ++i) {
        uint64_t const v = vioutils::Bits(cells[i]);
        high |= v & 0xFF00;
        uint64_t const s = v & kStyleMask;
        if (s != style) {
            runs.push_back(style | uint64_t(i - start));
            style = s;
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
    auto* data = static_cast<uint8_t*>(std::malloc(size));
    if (!data)
        return nullptr;
    Put16(data, uint16_t(length));
    Put16(data + 2, uint16_t(stored));
    Put16(data + 4, uint16_t(runs.size()));
    data[6] = uint8_t((wide ? PACK_WIDE : 0) | (dim ? PACK_DIM : 0));
    data[7] = 0;
    std::memcpy(data + kHeader, runs.data(), runs.size() * 8);
    uint8_t* chars = data + kHeader + runs.size() * 8;
    if (wide) {
        for (int i = 0; i < stored; ++i)
            Put16(chars + size_t(i) * 2, cells[i].c);
    } else {
        for (int i = 0; i < stored; ++i)
            chars[i] = uint8_t(cells[i].c);
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

SCROLLBACKBUFFER::SCROLLBACKBUFFER(SCROLLBACKHOST* host) : Host(host ? host : &NullHost) {}

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
        std::free(Lines[i].Data);
    std::free(Lines);
    Lines = nullptr;
    TableSize = 0;
    PackedBytes = 0;
}

void SCROLLBACKBUFFER::MakeScrollback(int lines, SCROLLBAR* bar)
{
    int capacity = std::clamp(lines, 0, 64000);
    if (capacity > 0 && capacity < 100)
        capacity = 100;
    if (capacity != MaxLinesLimit) {
        MUTEXLOCK lock(Lock);
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
    for (int i = 0; i < n; ++i) {
        PackedBytes -= PackedSize(Lines[i].Data);
        std::free(Lines[i].Data);
    }
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
        MUTEXLOCK lock(Lock);
        if (NumLines >= MaxLinesLimit)
            DropOldest(std::max(1, MaxLinesLimit / 10));
        VIOASSERT(NumLines < MaxLinesLimit, "this->NumLines<this->MaxLinesLimit");
        if (NumLines >= TableSize)
            return;
        VIOASSERT(Lines[NumLines].Data == nullptr, "this->Lines[this->NumLines].Cells==NULL");
        std::free(Lines[NumLines].Data);
        uint8_t* data = Pack(cells, length, dim, Runs);
        if (data) {
            Lines[NumLines++].Data = data;
            PackedBytes += PackedSize(data);
        }
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
    MUTEXLOCK lock(Lock);
    if (!Lines || NumLines == 0)
        return -1;
    uint8_t* const data = Lines[NumLines - 1].Data;
    int const len = PackedLength(data);
    if (out) {
        *out = new VIOCELL[size_t(len)];
        Unpack(data, *out, len);
    }
    if (!keep) {
        PackedBytes -= PackedSize(data);
        std::free(data);
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
    MUTEXLOCK lock(Lock);
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
    MUTEXLOCK lock(Lock);
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
    MUTEXLOCK lock(Lock);
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
    MUTEXLOCK lock(Lock);
    if (!Lines || line < 0 || line >= NumLines) {
        out[0] = 0;
        return 0;
    }
    uint8_t const* data = Lines[line].Data;
    int const n = std::min(max - 1, PackedLength(data));
    std::vector<VIOCELL> cells(size_t(std::max(n, 0)));
    Unpack(data, cells.data(), n);
    for (int i = 0; i < n; ++i)
        out[i] = cells[size_t(i)].c;
    out[n] = 0;
    return n;
}

int SCROLLBACKBUFFER::LineLength(int line)
{
    MUTEXLOCK lock(Lock);
    if (!Lines || line < 0 || line >= NumLines)
        return 0;
    return PackedLength(Lines[line].Data);
}

void SCROLLBACKBUFFER::RegisterViewer(SCROLLBACKWIN* viewer)
{
    MUTEXLOCK lock(Lock);
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
    MUTEXLOCK lock(Lock);
    if (!Lines)
        return;
    for (int i = 0; i < NumLines; ++i) {
        VIOASSERT(Lines[i].Data != nullptr, "this->Lines[i].Cells!=NULL");
        std::free(Lines[i].Data);
        Lines[i].Data = nullptr;
    }
    PackedBytes = 0;
    NumLines = 0;
    CurLineIdx = 0;
    SelStartLine = -1;
    SelEndLine = -1;
    HoverLine = -1;
}

void SCROLLBACKBUFFER::SetHoverLink(int line, int from, int to)
{
    MUTEXLOCK lock(Lock);
    HoverLine = line >= 0 && line < NumLines ? line : -1;
    HoverFrom = from;
    HoverTo = to;
}

size_t SCROLLBACKBUFFER::MemoryUsed()
{
    MUTEXLOCK lock(Lock);
    return PackedBytes + size_t(TableSize) * sizeof(SCROLLLINE);
}

namespace {

// One saved line: the characters of the cells (right halves of
// double-width characters left out), trailing blanks and tabs trimmed.
std::u32string LineText(VIOCELL const* cells, int n)
{
    std::u32string text;
    text.reserve(size_t(n));
    for (int i = 0; i < n; ++i) {
        if (vioutils::IsWideRight(cells[i]))
            continue;
        text.push_back(cells[i].c ? cells[i].c : U' ');
    }
    while (!text.empty() && (text.back() == U' ' || text.back() == U'\t'))
        text.pop_back();
    return text;
}

} // namespace

void SCROLLBACKBUFFER::SaveScrollbackDataToDestination(int dest)
{
    if (!Lines)
        return;
    // The lines are gathered first and the screen read afterwards, so the
    // screen lock is never taken while this buffer's lock is held.
    std::vector<std::u32string> texts;
    {
        MUTEXLOCK lock(Lock);
        texts.reserve(size_t(NumLines));
        std::vector<VIOCELL> cells;
        for (int i = 0; i < NumLines; ++i) {
            int const len = PackedLength(Lines[i].Data);
            cells.resize(size_t(len));
            Unpack(Lines[i].Data, cells.data(), len);
            texts.push_back(LineText(cells.data(), len));
        }
    }
    if (Screen) {
        int width = 0, height = 0;
        Screen->GetWinSize(&width, &height);
        std::vector<VIOCELL> row(size_t(std::max(width, 1)));
        for (int y = 0; y < height; ++y) {
            int count = width;
            Screen->GetCells(row.data(), &count, 0, y);
            texts.push_back(LineText(row.data(), count));
        }
    }

    UNICODE const* uni = UNICODE::GetInstance();
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
    std::string bytes;
    for (auto const& t : texts) {
        bytes.assign(1, '\n');
        for (char32_t c : t)
            bytes.push_back(uni->ToForcedCodepageChar(wchar_t(c), 1252));
        std::fwrite(bytes.data(), 1, bytes.size(), f);
    }
    bool const ok = std::fclose(f) == 0;
    if (!ok) {
        Host->FileError(path.c_str());
        return;
    }
    if (dest == 1)
        Host->EditFile(path.c_str());
}
