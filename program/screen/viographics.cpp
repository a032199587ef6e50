// Box drawing, block and shade characters and a set of symbols, drawn as
// geometry on the cell grid instead of font glyphs, so that lines and
// blocks join without gaps between cells whatever the font.
#include "program/screen/vio.h"

#include "program/screen/vioutils.h"
#include "velmot/core/osys.h"
#include "velmot/gui/windraw.h"

#include <algorithm>
#include <cmath>

namespace {

// Shape bits of the table.
constexpr int kQuadrants = 0x000F;
constexpr int kSingle = 0x00F0;
constexpr int kDouble = 0x0F00;
constexpr int kSymbol = 0x8000;
constexpr int kUp = 0, kRight = 1, kDown = 2, kLeft = 3;

} // namespace

// Character, shape bits, centre pattern (three rows of three, "+" fill,
// "-" clear, "." leave), ended by a zero row.
VIO::GRAPHCHAR const VIO::GraphChars[] = {
    {0x259D, 1, nullptr}, {0x2597, 2, nullptr}, {0x2596, 4, nullptr}, {0x2598, 8, nullptr},
    {0x2580, 9, nullptr}, {0x2584, 6, nullptr}, {0x258C, 12, nullptr}, {0x2590, 3, nullptr},
    {0x2599, 14, nullptr}, {0x259B, 13, nullptr}, {0x259C, 11, nullptr}, {0x259F, 7, nullptr},
    {0x2588, 15, nullptr},
    {0x250C, 96, nullptr}, {0x2514, 48, nullptr}, {0x2510, 192, nullptr}, {0x2518, 144, nullptr},
    {0x252C, 224, nullptr}, {0x251C, 112, nullptr}, {0x2524, 208, nullptr}, {0x2534, 176, nullptr},
    {0x2500, 160, nullptr}, {0x2502, 80, nullptr}, {0x253C, 240, nullptr},
    {0x2554, 1536, "+../..-/.-."}, {0x255A, 768, ".-./+.-/+.."}, {0x2557, 3072, "..+/-../.-."},
    {0x255D, 2304, ".-./-../..+"}, {0x2566, 3584, ".../-.-/.-."}, {0x2560, 1792, ".-./..-/.-."},
    {0x2563, 3328, ".-./-../.-."}, {0x2569, 2816, ".-./-.-/..."}, {0x2550, 2560, nullptr},
    {0x2551, 1280, nullptr}, {0x256C, 3840, ".-./-.-/.-."}, {0x2553, 1056, nullptr}, {0x2559, 288, nullptr},
    {0x2556, 1152, nullptr}, {0x255C, 384, nullptr}, {0x2565, 1184, nullptr}, {0x255F, 1312, ".../.-./..."},
    {0x256B, 1440, nullptr}, {0x2562, 1408, ".../.-./..."}, {0x2568, 416, nullptr}, {0x2552, 576, nullptr},
    {0x2558, 528, nullptr}, {0x2555, 2112, nullptr}, {0x255B, 2064, nullptr}, {0x2564, 2624, ".../.-./..."},
    {0x255E, 592, nullptr}, {0x256A, 2640, nullptr}, {0x2561, 2128, nullptr}, {0x2567, 2576, ".../.-./..."},
    {0x2591, kSymbol, nullptr}, {0x2592, kSymbol, nullptr}, {0x2593, kSymbol, nullptr},
    {0x25CF, kSymbol, nullptr}, {0x25CB, kSymbol, nullptr}, {0x25D8, kSymbol, nullptr},
    {0x25D9, kSymbol, nullptr}, {0x25B2, kSymbol, nullptr}, {0x25BC, kSymbol, nullptr},
    {0x25C4, kSymbol, nullptr}, {0x25BA, kSymbol, nullptr}, {0x2666, kSymbol, nullptr},
    {0x25B3, kSymbol, nullptr}, {0x25B4, kSymbol, nullptr}, {0x25B5, kSymbol, nullptr},
    {0x25BD, kSymbol, nullptr}, {0x25BE, kSymbol, nullptr}, {0x25BF, kSymbol, nullptr},
    {0x25C0, kSymbol, nullptr}, {0x25C1, kSymbol, nullptr}, {0x25C2, kSymbol, nullptr},
    {0x25C3, kSymbol, nullptr}, {0x25C5, kSymbol, nullptr}, {0x25B6, kSymbol, nullptr},
    {0x25B7, kSymbol, nullptr}, {0x25B8, kSymbol, nullptr}, {0x25B9, kSymbol, nullptr},
    {0x25BB, kSymbol, nullptr}, {0x25C6, kSymbol, nullptr}, {0x25C7, kSymbol, nullptr},
    {0x25C8, kSymbol, nullptr}, {0xE000, kSymbol, nullptr}, {0xE001, kSymbol, nullptr},
    {0xE002, kSymbol, nullptr}, {0xE003, kSymbol, nullptr}, {0xE004, kSymbol, nullptr},
    {0xE005, kSymbol, nullptr}, {0xE006, kSymbol, nullptr},
    {0, 0, nullptr},
};

namespace {

// Index into GraphChars per character of U+2500..U+25FF, U+E000..U+E0FF
// and U+2666; -1 where the table has none. Built once.
struct GRAPHINDEX {
    int16_t Box[256];
    int16_t Private[256];
    int16_t Diamond = -1;
    GRAPHINDEX()
    {
        std::fill(std::begin(Box), std::end(Box), int16_t(-1));
        std::fill(std::begin(Private), std::end(Private), int16_t(-1));
        for (int i = 0; VIO::GraphChars[i].c; ++i) {
            unsigned const c = VIO::GraphChars[i].c;
            if (c >= 0x2500 && c <= 0x25FF)
                Box[c - 0x2500] = int16_t(i);
            else if (c >= 0xE000 && c <= 0xE0FF)
                Private[c - 0xE000] = int16_t(i);
            else if (c == 0x2666)
                Diamond = int16_t(i);
        }
    }
};

GRAPHINDEX const& Index()
{
    static GRAPHINDEX const index;
    return index;
}

int Find(unsigned c)
{
    GRAPHINDEX const& x = Index();
    if (c >= 0x2500 && c <= 0x25FF)
        return x.Box[c - 0x2500];
    if (c >= 0xE000 && c <= 0xE8FF)
        return c <= 0xE0FF ? x.Private[c - 0xE000] : -1;
    if (c == 0x2666)
        return x.Diamond;
    return -1;
}

// The cell painter of the paint under way: rectangles go through it (they
// are most of what graphic characters are made of), shapes through the
// context.
thread_local CELLPAINTER* tCells = nullptr;
// The run's rectangle on rows of double height, whose characters are drawn
// twice as high and cut to the row.
thread_local RECT const* tClip = nullptr;

void Fill(WINDC& dc, int left, int top, int right, int bottom, uint32_t colour)
{
    if (tClip) {
        left = std::max<int>(left, tClip->left);
        top = std::max<int>(top, tClip->top);
        right = std::min<int>(right, tClip->right);
        bottom = std::min<int>(bottom, tClip->bottom);
    }
    if (right <= left || bottom <= top)
        return;
    RECT const r{left, top, right, bottom};
    if (tCells)
        tCells->FillRect(r, colour);
    else
        dc.FillRect(&r, colour);
}

void Fill(WINDC& dc, RECT const& r, uint32_t colour) { Fill(dc, r.left, r.top, r.right, r.bottom, colour); }

void Polygon(WINDC& dc, std::initializer_list<POINT> points, uint32_t line, uint32_t fill)
{
    dc.DrawPolygon(points.begin(), int(points.size()), line, fill);
}

} // namespace

bool VIO::IsGraphicChar(wchar_t c)
{
    unsigned const u = unsigned(c);
    if (!((u >= 0x2500 && u <= 0x25FF) || (u >= 0xE000 && u <= 0xE8FF) || u == 0x2666))
        return false;
    return Find(u) >= 0;
}

void VIO::RenderQuarterBlock(WINDC& dc, RECT const& cell, int bits, uint32_t fore)
{
    int const w = cell.right - cell.left, h = cell.bottom - cell.top;
    int const leftW = w / 2 + w % 2, topH = h / 2 + h % 2;
    int const midX = cell.left + w / 2, midY = cell.top + h / 2;
    if (bits & 0x1) // top right
        Fill(dc, midX, cell.top, cell.right, cell.top + topH, fore);
    if (bits & 0x2) // bottom right
        Fill(dc, midX, midY, cell.right, cell.bottom, fore);
    if (bits & 0x4) // bottom left
        Fill(dc, cell.left, midY, cell.left + leftW, cell.bottom, fore);
    if (bits & 0x8) // top left
        Fill(dc, cell.left, cell.top, cell.left + leftW, cell.top + topH, fore);
}

void VIO::RenderLine(WINDC& dc, RECT const& cell, int bits, uint32_t fore)
{
    int const w = cell.right - cell.left, h = cell.bottom - cell.top;
    int const t = std::min(w, h) <= 9 ? 1 : 2;
    int const cx = cell.left + w / 2, cy = cell.top + h / 2;
    auto single = [&](int dir) { return (bits >> (4 + dir)) & 1; };
    auto dbl = [&](int dir) { return (bits >> (8 + dir)) & 1; };

    // Single strokes: a vertical one t wide at the centre column, a
    // horizontal one t high at the centre row; each half reaches the edge
    // so that neighbouring cells join, and the centre square is shared.
    if (single(kUp) || single(kDown)) {
        int const top = single(kUp) ? cell.top : cy;
        int const bottom = single(kDown) ? cell.bottom : cy + t;
        Fill(dc, cx, top, cx + t, bottom, fore);
    }
    if (single(kLeft) || single(kRight)) {
        int const left = single(kLeft) ? cell.left : cx;
        int const right = single(kRight) ? cell.right : cx + t;
        Fill(dc, left, cy, right, cy + t, fore);
    }
    // Double strokes: two lines, from centre - t to centre and from
    // centre + t to centre + 2t, whose halves end where a single stroke's
    // do. Where a double line meets a single one the ends meet exactly;
    // where double lines meet, the centre pattern closes the outer corner
    // and cuts what runs past the inner one.
    if (dbl(kUp) || dbl(kDown)) {
        int const top = dbl(kUp) ? cell.top : cy;
        int const bottom = dbl(kDown) ? cell.bottom : cy + t;
        Fill(dc, cx - t, top, cx, bottom, fore);
        Fill(dc, cx + t, top, cx + 2 * t, bottom, fore);
    }
    if (dbl(kLeft) || dbl(kRight)) {
        int const left = dbl(kLeft) ? cell.left : cx;
        int const right = dbl(kRight) ? cell.right : cx + t;
        Fill(dc, left, cy - t, right, cy, fore);
        Fill(dc, left, cy + t, right, cy + 2 * t, fore);
    }
}

void VIO::CorrectCenter(WINDC& dc, RECT const& cell, char const* pattern, uint32_t fore, uint32_t back)
{
    if (!pattern)
        return;
    int const w = cell.right - cell.left, h = cell.bottom - cell.top;
    int const t = std::min(w, h) <= 9 ? 1 : 2;
    int const x0 = cell.left + w / 2 - t, y0 = cell.top + h / 2 - t;
    int row = 0, col = 0;
    for (char const* p = pattern; *p && row < 3; ++p) {
        if (*p == '/') {
            ++row;
            col = 0;
            continue;
        }
        if (col < 3) {
            int const x = x0 + col * t, y = y0 + row * t;
            if (*p == '+')
                Fill(dc, x, y, x + t, y + t, fore);
            else if (*p == '-')
                Fill(dc, x, y, x + t, y + t, back);
        }
        ++col;
    }
}

bool VIO::RenderCustomCharacter(WINDC& dc, RECT const& cell, wchar_t c, uint32_t fore, uint32_t back)
{
    int const L = cell.left, T = cell.top, R = cell.right, B = cell.bottom;
    int const w = R - L, h = B - T;
    int const s = std::min(w, h);
    int const cx = L + w / 2, cy = T + h / 2;
    int const hs = s / 2;
    unsigned const u = unsigned(c);

    switch (u) {
    case 0x2591:
    case 0x2592:
    case 0x2593: {
        double const percent = u == 0x2591 ? 25 : u == 0x2592 ? 50 : 75;
        Fill(dc, L, T, R, B, OSYS::CalcColorBlend(back, fore, percent));
        return true;
    }
    case 0x25CB:
    case 0x25CF:
    case 0x25D8:
    case 0x25D9: {
        RECT const circle{cx - (s - 2) / 2, cy - (s - 2) / 2, cx - (s - 2) / 2 + s - 2, cy - (s - 2) / 2 + s - 2};
        if (u == 0x25CB)
            dc.DrawEllipse(&circle, fore, back);
        else if (u == 0x25CF)
            dc.DrawEllipse(&circle, fore, fore);
        else {
            Fill(dc, L, T, R, B, fore);
            dc.DrawEllipse(&circle, back, u == 0x25D8 ? back : fore);
            return true;
        }
        return false;
    }
    default:
        break;
    }

    if (u >= 0x25B2 && u <= 0x25C5 && u != 0x25C6) {
        int const i = (u == 0x25B2 || u == 0x25BC || u == 0x25C4 || u == 0x25BA) ? 0 : 1;
        bool const filled = u == 0x25B2 || u == 0x25B4 || u == 0x25BC || u == 0x25BE || u == 0x25C0 ||
                            u == 0x25C2 || u == 0x25C4 || u == 0x25B6 || u == 0x25B8 || u == 0x25BA;
        uint32_t const inside = filled ? fore : back;
        if (u >= 0x25B2 && u <= 0x25B5)
            Polygon(dc, {{cx, cy - hs + i}, {cx - hs + i, cy + hs - i}, {cx + hs - i, cy + hs - i}}, fore, inside);
        else if (u >= 0x25BC && u <= 0x25BF)
            Polygon(dc, {{cx - hs + i, cy - hs + i}, {cx + hs - i, cy - hs + i}, {cx, cy + hs - i}}, fore, inside);
        else if (u >= 0x25C0 && u <= 0x25C5)
            Polygon(dc, {{cx - hs + i, cy}, {cx + hs - i, cy - hs + i}, {cx + hs - i, cy + hs - i}}, fore, inside);
        else // 0x25B6 .. 0x25BB
            Polygon(dc, {{cx + hs - i, cy}, {cx - hs + i, cy - hs + i}, {cx - hs + i, cy + hs - i}}, fore, inside);
        return false;
    }
    if (u == 0x25C6 || u == 0x25C7 || u == 0x25C8 || u == 0x2666) {
        int const i = u == 0x25C8 ? 1 : 0;
        int const d = u == 0x2666 ? 1 : 0;
        Polygon(dc, {{cx, cy - hs + i}, {cx - hs + i + d, cy}, {cx, cy + hs - i}, {cx + hs - i - d, cy}}, fore,
                u == 0x25C7 ? back : fore);
        return false;
    }

    switch (u) {
    case 0xE000: {
        int a = 1, b = 2;
        if (h > 13)
            a = h / 7;
        if (h > 14)
            b = h / 5;
        float const width = dc.LineWidth;
        dc.LineWidth = float(a);
        dc.Line(L + 1, T + b, R - 1, B - 1, fore);
        dc.Line(R - 1, T + b, L + 1, B - 1, fore);
        dc.LineWidth = width;
        return false;
    }
    case 0xE001:
    case 0xE002: {
        int const q = w / 4;
        if (u == 0xE001) {
            int const tip = cx + 1 - hs;
            Polygon(dc, {{tip, cy}, {tip + q, cy - q}, {tip + q, cy + q}}, fore, fore);
            Fill(dc, tip + q, cy, cx + hs, cy + 1, fore);
        } else {
            int const tip = cx + hs - 1;
            Polygon(dc, {{tip, cy}, {tip - q, cy - q}, {tip - q, cy + q}}, fore, fore);
            Fill(dc, cx + 1 - hs, cy, tip - q + 1, cy + 1, fore);
        }
        return false;
    }
    case 0xE003: {
        int const k = s / 2, q = w / 4, e = s > 6 ? 1 : 0;
        int const barLeft = cx + q - k, barRight = cx - q + k + 1 + e;
        Fill(dc, barLeft, cy, barRight, cy + 1, fore);
        Fill(dc, cx, cy - 1, cx + 1 + e, cy - 1 + h / 4, fore);
        int const boxWidth = std::max(barRight - barLeft - 4, 4);
        RECT const box{cx - boxWidth / 2, std::max(T, cy - 1 - boxWidth), cx - boxWidth / 2 + boxWidth,
                       std::max(T + 2, cy - 1)};
        dc.DrawRoundRect(box, 2, fore, back);
        int const foot = cy - 1 + h / 4;
        int const leg = k - q;
        dc.Line(cx, foot, cx - leg, foot + leg, fore);
        dc.Line(cx + e, foot, cx + e + leg, foot + leg, fore);
        return false;
    }
    case 0xE004:
    case 0xE005: {
        int const r = (h - 5) / 2;
        int const dot = r >= 10 ? 2 : 1;
        int const centreX = u == 0xE004 ? R : L;
        int const start = u == 0xE004 ? 180 : 0;
        for (int angle = start; angle <= start + 180; angle += 30) {
            double const rad = angle * 3.14159265358979323846 / 180.0;
            int const x = int(std::lround(centreX + r * std::sin(rad)));
            int const y = int(std::lround(cy - 1 + r * std::cos(rad)));
            Fill(dc, x, y, x + dot, y + dot, fore);
        }
        if (u == 0xE005) {
            Fill(dc, L, cy, L + 1, cy + std::max(r - 3, 0), fore);
            dc.Line(L, cy - 1, L + r / 4, cy - 1 - r / 4, fore);
        }
        return false;
    }
    case 0xE006:
        Fill(dc, cx, cy, cx + 1, cy + 1, fore);
        return false;
    default:
        return false;
    }
}

void VIO::RenderGraphicChars(WINDC& dc, RECT const& run, VIOCELL const* cells, int n, int cellWidth, int cellHeight,
                             int lineAttr, uint32_t fore, uint32_t back, int cursorIndex, uint32_t cursorColour)
{
    bool const tall = lineAttr == VIOLINE_DOUBLEHEIGHT_TOP || lineAttr == VIOLINE_DOUBLEHEIGHT_BOTTOM;
    CELLPAINTER* const saved = tCells;
    tCells = PainterDC == &dc ? Painter : nullptr;
    if (tall) {
        dc.SetClipRect(&run);
        tClip = &run;
    }
    for (int i = 0; i < n; ++i) {
        RECT cell{run.left + i * cellWidth, run.top, run.left + (i + 1) * cellWidth, run.top + cellHeight};
        if (tall) {
            cell.bottom = cell.top + 2 * cellHeight;
            if (lineAttr == VIOLINE_DOUBLEHEIGHT_BOTTOM) {
                cell.top -= cellHeight;
                cell.bottom -= cellHeight;
            }
        }
        bool const cursorCell = i == cursorIndex;
        bool const blockCursor = cursorCell && CursorType == VIOCURSOR_BLOCK && cursorColour;
        uint32_t const ground = blockCursor ? cursorColour : back;
        int const k = Find(cells[i].c);
        Fill(dc, cell, ground);
        bool filledAll = false;
        if (k >= 0) {
            int const bits = GraphChars[k].bits;
            if (bits & kQuadrants)
                RenderQuarterBlock(dc, cell, bits & kQuadrants, fore);
            if (bits & (kSingle | kDouble))
                RenderLine(dc, cell, bits & (kSingle | kDouble), fore);
            if (GraphChars[k].centre)
                CorrectCenter(dc, cell, GraphChars[k].centre, fore, ground);
            if (bits & kSymbol)
                filledAll = RenderCustomCharacter(dc, cell, cells[i].c, fore, ground);
        }
        if (cursorCell && cursorColour && (CursorType != VIOCURSOR_BLOCK || filledAll)) {
            Fill(dc, GetCursorRect(0, 1), cursorColour);
        }
    }
    if (tall) {
        dc.SetClipRect(nullptr);
        tClip = nullptr;
    }
    tCells = saved;
}
