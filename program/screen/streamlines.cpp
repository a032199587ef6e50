#include "program/screen/streamlines.h"

#include "program/screen/codepagetext.h"

#include "velmot/core/unicode.h"

#include <algorithm>
#include <cstring>

namespace streamlines {

namespace {

struct STEP {
    uint32_t Char;
    int Bytes;
    int Width;
};

// The character at text[i] (not a CR or LF).
inline STEP Step(char const* text, size_t len, size_t i, bool utf8)
{
    auto const b = static_cast<unsigned char>(text[i]);
    if (b == 9)
        return {9, 1, TABWIDTH};
    if (!utf8 || b < 0x80)
        return {b, 1, 1};
    int const n = cptext::Utf8Length(b);
    if (n == 1 || i + static_cast<size_t>(n) > len)
        return {UNICODE_REPLACEMENT, 1, 1};
    uint32_t v = b & (n == 2 ? 0x1Fu : n == 3 ? 0x0Fu : 0x07u);
    for (int k = 1; k < n; ++k) {
        auto const c = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
        if ((c & 0xC0) != 0x80)
            return {UNICODE_REPLACEMENT, 1, 1};
        v = (v << 6) | (c & 0x3Fu);
    }
    auto const ch = static_cast<uint32_t>(UNICODE::Utf8Finish(v, n));
    int w = UNICODE::CellWidth(ch);
    if (w < 0)
        w = 1;
    return {ch, n, std::min(w, 2)};
}

// Whether a character of width w still fits a line holding col columns.
inline bool Fits(int col, int w, bool tab, int cols)
{
    if (col == 0)
        return true;
    return tab ? col < cols : col + w <= cols;
}

template <class VISIT>
size_t Walk(char const* text, size_t len, size_t pos, LAYOUT const& layout, VISIT&& visit)
{
    int const cols = std::max(1, layout.Columns);
    size_t i = pos;
    int col = 0;
    while (i < len) {
        auto const b = static_cast<unsigned char>(text[i]);
        if (b == 13) {
            ++i;
            break;
        }
        if (b == 10) {
            ++i;
            continue;
        }
        STEP const s = Step(text, len, i, layout.Utf8);
        if (i > pos && i - pos + static_cast<size_t>(s.Bytes) > MAXLINEBYTES)
            break;
        if (!Fits(col, s.Width, b == 9, cols))
            break;
        visit(s, i, col);
        col += s.Width;
        i += static_cast<size_t>(s.Bytes);
    }
    while (i < len && text[i] == 10)
        ++i;
    return i > pos ? i : pos + 1;
}

} // namespace

size_t NextLine(char const* text, size_t len, size_t pos, LAYOUT const& layout)
{
    // Most lines are bytes of one column each up to a CR: those are passed
    // in one tight loop; a line with a TAB, an LF or (in UTF-8) a character
    // beyond ASCII takes the walk.
    size_t const limit = std::min<size_t>(static_cast<size_t>(std::max(1, layout.Columns)), MAXLINEBYTES);
    size_t const stop = std::min(len, pos + limit);
    size_t i = pos;
    if (layout.Utf8) {
        while (i < stop && static_cast<unsigned char>(text[i]) - 14u < 0x72u)
            ++i;
    } else {
        while (i < stop && (static_cast<unsigned char>(text[i]) >= 14 || (text[i] != 9 && text[i] != 10 && text[i] != 13)))
            ++i;
    }
    bool plain = i == stop;
    if (!plain && text[i] == 13) {
        ++i;
        plain = true;
    } else if (plain && i < len && i - pos == limit) {
        // A full line: a CR right after it (LFs between) ends it too.
        size_t j = i;
        while (j < len && text[j] == 10)
            ++j;
        if (j < len && text[j] == 13)
            i = j + 1;
    }
    if (!plain || i == pos)
        return Walk(text, len, pos, layout, [](STEP const&, size_t, int) {});
    while (i < len && text[i] == 10)
        ++i;
    return i;
}

size_t LineCells(char const* text, size_t len, size_t pos, LAYOUT const& layout, std::vector<CELL>& out)
{
    out.clear();
    return Walk(text, len, pos, layout, [&](STEP const& s, size_t i, int col) {
        out.push_back(CELL{s.Char, static_cast<uint32_t>(i - pos), static_cast<uint8_t>(s.Bytes),
                           static_cast<uint8_t>(s.Width), static_cast<uint16_t>(std::min(col, 65535))});
    });
}

size_t LineUp(char const* text, size_t len, size_t pos, LAYOUT const& layout, size_t floor)
{
    pos = std::min(pos, len);
    if (pos == 0)
        return 0;
    size_t p = pos;
    while (p > 0 && text[p - 1] == 10)
        --p;
    if (p > 0 && text[p - 1] == 13)
        --p;
    size_t start = 0;
    if (p > 0) {
        if (void const* cr = memrchr(text, 13, p)) {
            start = static_cast<size_t>(static_cast<char const*>(cr) - text) + 1;
            while (start < p && text[start] == 10)
                ++start;
        }
    }
    if (floor > start && floor < pos)
        start = floor;
    size_t last = start;
    for (;;) {
        size_t const next = NextLine(text, len, last, layout);
        if (next >= pos || next >= len)
            return last;
        last = next;
    }
}

size_t PositionAt(char const* text, size_t len, size_t pos, int column, LAYOUT const& layout)
{
    if (pos >= len)
        return len;
    size_t const end = NextLine(text, len, pos, layout);
    size_t i = pos;
    int col = 0;
    while (i < end && i < len) {
        auto const b = static_cast<unsigned char>(text[i]);
        if (b == 13)
            break;
        if (b == 10) {
            ++i;
            continue;
        }
        STEP const s = Step(text, len, i, layout.Utf8);
        if (col + std::max(s.Width, 1) > column)
            break;
        col += s.Width;
        i += static_cast<size_t>(s.Bytes);
    }
    return std::min(i, end);
}

size_t CountLines(char const* text, size_t len, LAYOUT const& layout)
{
    size_t lines = 0;
    for (size_t pos = 0; pos < len; pos = NextLine(text, len, pos, layout))
        ++lines;
    return lines;
}

// ---------------------------------------------------------------------------
// LINEINDEX

void LINEINDEX::Update(char const* text, size_t len, uint64_t base, uint64_t epoch, uint64_t stable,
                       LAYOUT const& layout)
{
    if (!Valid || !(layout == Layout) || epoch != Epoch || base != Base || ResumeAt > base + len) {
        Valid = true;
        Layout = layout;
        Epoch = epoch;
        Base = base;
        ResumeAt = base;
        ResumeIndex = 0;
        Checkpoints.assign(1, base);
    }
    size_t const stableRel = stable > base ? static_cast<size_t>(std::min<uint64_t>(stable - base, len)) : 0;
    size_t pos = static_cast<size_t>(ResumeAt - base);
    size_t index = ResumeIndex;
    while (pos < len) {
        if (pos <= stableRel) {
            ResumeAt = base + pos;
            ResumeIndex = index;
            if (index % CHECKPOINT == 0 && index / CHECKPOINT == Checkpoints.size())
                Checkpoints.push_back(base + pos);
        }
        pos = NextLine(text, len, pos, layout);
        ++index;
    }
    Lines = index;
}

void LINEINDEX::Nearest(uint64_t pos, uint64_t* start, size_t* index) const
{
    *start = Base;
    *index = 0;
    if (!Valid || Checkpoints.empty())
        return;
    auto it = std::upper_bound(Checkpoints.begin(), Checkpoints.end(), pos);
    if (it != Checkpoints.begin()) {
        --it;
        *start = *it;
        *index = static_cast<size_t>(it - Checkpoints.begin()) * CHECKPOINT;
    }
    if (ResumeAt <= pos && ResumeAt > *start) {
        *start = ResumeAt;
        *index = ResumeIndex;
    }
}

size_t LINEINDEX::IndexOf(char const* text, size_t len, uint64_t base, uint64_t pos) const
{
    if (pos <= base || len == 0)
        return 0;
    uint64_t s = base;
    size_t index = 0;
    if (base == Base)
        Nearest(pos, &s, &index);
    size_t p = static_cast<size_t>(s - base);
    size_t const rel = static_cast<size_t>(std::min<uint64_t>(pos - base, len));
    while (p < len) {
        size_t const next = NextLine(text, len, p, Layout);
        if (next > rel || next >= len)
            break;
        p = next;
        ++index;
    }
    return index;
}

uint64_t LINEINDEX::StartOf(char const* text, size_t len, uint64_t base, size_t index) const
{
    size_t p = 0;
    size_t at = 0;
    if (Valid && base == Base && !Checkpoints.empty()) {
        size_t const k = std::min(index / CHECKPOINT, Checkpoints.size() - 1);
        p = static_cast<size_t>(Checkpoints[k] - base);
        at = k * CHECKPOINT;
        if (ResumeIndex <= index && ResumeIndex > at) {
            p = static_cast<size_t>(ResumeAt - base);
            at = ResumeIndex;
        }
    }
    while (at < index && p < len) {
        size_t const next = NextLine(text, len, p, Layout);
        if (next >= len)
            break;
        p = next;
        ++at;
    }
    return base + std::min(p, len);
}

uint64_t LINEINDEX::LineUp(char const* text, size_t len, uint64_t base, uint64_t pos) const
{
    if (pos <= base)
        return base;
    size_t const rel = static_cast<size_t>(std::min<uint64_t>(pos - base, len));
    uint64_t s = base;
    size_t index = 0;
    if (base == Base)
        Nearest(pos - 1, &s, &index);
    return base + streamlines::LineUp(text, len, rel, Layout, static_cast<size_t>(s - base));
}

} // namespace streamlines
