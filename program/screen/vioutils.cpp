// Colours, the xterm palette, reading cells, the selection and the link
// under the mouse.
#include "program/screen/vioutils.h"

#include "program/screen/vio.h"
#include "program/screen/scrollback.h"
#include "velmot/core/osys.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace vioutils {

uint32_t Halftone(uint32_t colour, bool full)
{
    // The last colour asked for, per flag: dim text comes in runs of one
    // colour, and the brightness needs a few divisions.
    thread_local uint32_t lastIn[2] = {0xFFFFFFFF, 0xFFFFFFFF};
    thread_local uint32_t lastOut[2] = {0, 0};
    int const k = full ? 1 : 0;
    if (lastIn[k] == colour)
        return lastOut[k];
    double brightness = 0;
    OSYS::ColorRGBtoHSB(colour, nullptr, nullptr, &brightness);
    uint32_t tint = 0x78A0A0;
    int percent = 10;
    if (brightness < 0.1)
        percent = 18;
    else if (brightness <= 0.9 && brightness >= 0.2)
        tint = 0x003740;
    if (!full)
        percent /= 2;
    uint32_t const out = OSYS::CalcColorBlend(colour, tint, percent);
    lastIn[k] = colour;
    lastOut[k] = out;
    return out;
}

bool IsLinkChar(uint32_t c)
{
    if (c < 128 && std::isalnum(int(c)))
        return true;
    return c < 128 && std::strchr("@:/.-_!~*'()%&?=+#", int(c)) && c != 0;
}

bool IsUrlString(std::u32string_view word)
{
    size_t const colon = word.find(U':');
    if (colon == std::u32string_view::npos)
        return false;
    for (size_t i = 0; i < colon; ++i) {
        char32_t const c = word[i];
        if (!((c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z')))
            return false;
    }
    std::u32string_view const rest = word.substr(colon + 1);
    return rest.size() >= 2 && rest[0] == U'/' && rest[1] == U'/' && rest.find(U'.') != std::u32string_view::npos;
}

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// 1 to 4 hex digits scaled to 8 bits; -1 when the part is not that.
int ScaledHex(std::string const& part)
{
    if (part.empty() || part.size() > 4)
        return -1;
    int v = 0;
    for (char c : part) {
        int const h = HexValue(c);
        if (h < 0)
            return -1;
        v = v * 16 + h;
    }
    switch (part.size()) {
    case 1:
        return v * 16;
    case 2:
        return v;
    case 3:
        return v / 16;
    default:
        return v / 256;
    }
}

uint32_t Rgb(int r, int g, int b)
{
    return uint32_t(std::clamp(r, 0, 255)) | uint32_t(std::clamp(g, 0, 255)) << 8 |
           uint32_t(std::clamp(b, 0, 255)) << 16;
}

} // namespace

bool ParseXtermColor(char const* text, int* index, uint32_t* rgb)
{
    if (!text)
        return false;
    std::string s(text);
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    char* end = nullptr;
    long const n = std::strtol(s.c_str(), &end, 10);
    if (end == s.c_str() || n < -100000 || n > 100000)
        return false;
    std::string rest(end);
    if (rest.rfind(";rgbi:", 0) == 0) {
        double r = 0, g = 0, b = 0;
        int dummy = 0;
        if (std::sscanf(s.c_str(), "%d;rgbi:%lf/%lf/%lf", &dummy, &r, &g, &b) != 4)
            return false;
        auto level = [](double f) { return f >= 0 && f <= 1 ? int(f * 255) : (f > 1 ? 255 : 0); };
        *index = int(n);
        *rgb = Rgb(level(r), level(g), level(b));
        return true;
    }
    if (rest.rfind(";rgb:", 0) != 0)
        return false;
    std::string const spec = rest.substr(5);
    *index = int(n);
    if (!spec.empty() && spec[0] == '#') {
        std::string const hex = spec.substr(1);
        auto digits = [&](size_t from, size_t count) {
            int v = 0;
            for (size_t i = from; i < from + count; ++i) {
                int const h = HexValue(hex[i]);
                if (h < 0)
                    return -1;
                v = v * 16 + h;
            }
            return v;
        };
        if (hex.size() == 6) {
            int const r = digits(0, 2), g = digits(2, 2), b = digits(4, 2);
            if (r < 0 || g < 0 || b < 0)
                return false;
            *rgb = Rgb(r, g, b);
            return true;
        }
        if (hex.size() == 3) {
            int const r = digits(0, 1), g = digits(1, 1), b = digits(2, 1);
            if (r < 0 || g < 0 || b < 0)
                return false;
            *rgb = Rgb(r * 16, g * 16, b * 16);
            return true;
        }
        return false;
    }
    size_t const s1 = spec.find('/');
    size_t const s2 = s1 == std::string::npos ? std::string::npos : spec.find('/', s1 + 1);
    if (s2 == std::string::npos) {
        *rgb = 0; // without its slashes the colour reads as black
        return true;
    }
    int const r = ScaledHex(spec.substr(0, s1));
    int const g = ScaledHex(spec.substr(s1 + 1, s2 - s1 - 1));
    int const b = ScaledHex(spec.substr(s2 + 1));
    if (r < 0 || g < 0 || b < 0)
        return false;
    *rgb = Rgb(r, g, b);
    return true;
}

} // namespace vioutils

// ---- VIO: colours ----

uint32_t const VIO::DefaultSysColors[32] = {
    0x000000, 0x181090, 0x189010, 0x109090, 0x962010, 0x801090, 0x809010, 0xC0C0C0,
    0x606060, 0x3030FF, 0x30FF30, 0x10F0FF, 0xFF4020, 0xFF30FF, 0xFFFF30, 0xFFFFFF,
    0x412A16, 0xBB5735, 0xF0AF80, 0xFEDDC3, 0x22233B, 0x3F4386, 0x90BBCD, 0xC4DADE,
    0x800040, 0xFF4080, 0xFF80C0, 0xFFE6EC, 0x477D20, 0x8EE0BD, 0x0080FF, 0x00C0FF,
};

namespace {
std::atomic<uint32_t const*> gSysColorTable{VIO::DefaultSysColors};
} // namespace

void VIO::SetSysColorTable(uint32_t const* table32)
{
    gSysColorTable.store(table32 ? table32 : DefaultSysColors, std::memory_order_release);
}

uint32_t VIO::GetSysColor(int colour)
{
    uint32_t const* table = gSysColorTable.load(std::memory_order_acquire);
    if (colour >= 0 && colour < 32)
        return table[colour];
    if (colour >= 256 && colour < 272)
        return table[colour - 256];
    if (colour >= 272 && colour < 512)
        return XtermPalette[colour - 256];
    return 0;
}

void VIO::InitXtermColors()
{
    for (int i = 0; i < 16; ++i)
        XtermPalette[i] = 0;
    auto level = [](int l) { return uint32_t(l == 0 ? 0 : 55 + 40 * l); };
    for (int i = 16; i < 232; ++i) {
        int const n = i - 16;
        XtermPalette[i] = level(n / 36) | level((n / 6) % 6) << 8 | level(n % 6) << 16;
    }
    for (int i = 232; i < 256; ++i) {
        uint32_t const g = uint32_t(8 + 10 * (i - 232));
        XtermPalette[i] = g | g << 8 | g << 16;
    }
}

uint32_t VIO::GetXtermColor(int index)
{
    if (index > 15 && index < 256)
        return XtermPalette[index];
    return GetSysColor(index);
}

void VIO::SetXtermColor(int index, uint32_t rgb)
{
    if (index >= 16 && index < 256) {
        XtermPalette[index] = rgb;
        MarkAllDirty(1);
    }
}

void VIO::SetXtermColor(char const* text)
{
    if (!text || std::strlen(text) < 2)
        return;
    int index = 0;
    uint32_t rgb = 0;
    if (vioutils::ParseXtermColor(text + 2, &index, &rgb))
        SetXtermColor(index, rgb);
}

void VIO::AttribToColors(int attrib, int fore, int back, uint32_t* foreRGB, uint32_t* backRGB)
{
    bool const plainField = (attrib & VIOATTR_FIELD) && !AttrCellsPlain;
    // Text hidden by blinking or by the invisible attribute takes the
    // background the cell shows, after every swap: a hidden cell of an
    // inverse cell or of a reversed screen is blank in that cell's
    // background, not a box of the background it would have without them.
    bool hidden = false;
    if (!plainField) {
        if (attrib & VIOATTR_BRIGHT) {
            // Bold on the profile's text colour keeps that colour and stands
            // out by the bold face: the colour 8 numbers away may be lighter
            // than the text (grey for the default dark blue on white), and
            // under a reversed screen it would become a grey background.
            if (fore != Profile.ColorFore) {
                if (fore >= 0 && fore < 16)
                    fore ^= 8;
                else if (fore >= 16 && fore < 256)
                    fore -= 8;
            }
        }
        hidden = ((attrib & VIOATTR_BLINK) && BlinkPhase) || (attrib & VIOATTR_INVISIBLE);
        int const mark = Profile.ColorMark;
        bool const highlight = attrib & VIOATTR_HIGHLIGHT;
        bool const inverse = attrib & VIOATTR_INVERSE;
        if (inverse != (highlight && mark == 0))
            std::swap(fore, back);
        if (highlight && mark != 0) {
            back = mark - 1;
            if (fore == back)
                fore = back == 15 ? 0 : 15;
        }
    }
    if (Inverse)
        std::swap(fore, back);
    uint32_t f = GetSysColor(fore), b = GetSysColor(back);
    if (!plainField && (attrib & (VIOATTR_HALFTONE | VIOATTR_DIM))) {
        f = vioutils::Halftone(f, false);
        b = vioutils::Halftone(b, true);
    }
    if (hidden)
        f = b;
    if (foreRGB)
        *foreRGB = f;
    if (backRGB)
        *backRGB = b;
}

uint32_t VIO::GetBackgroundColorRGB(signed char withAlpha)
{
    uint32_t rgb = 0;
    AttribToColors(0, Profile.ColorFore, Profile.ColorBack, nullptr, &rgb);
    if (withAlpha) {
        uint32_t const alpha = uint32_t(Profile.Transparency) * 255 / 100;
        if (alpha)
            rgb = (rgb & 0x00FFFFFF) | (alpha & 0xFF) << 24;
    }
    return rgb;
}

// ---- VIO: the text of cells ----

void VIO::AppendCellText(VIOCELL cell, std::u32string& out) const
{
    if (vioutils::IsWideRight(cell))
        return;
    if (VIOCHARS::IsExtended(cell))
        Chars.AppendText(cell, out);
    else
        out.push_back(cell.c ? char32_t(cell.c) : U' ');
}

char32_t VIO::CellChar(VIOCELL cell) const
{
    if (VIOCHARS::IsExtended(cell))
        return Chars.Base(cell);
    return cell.c;
}

uint64_t VIO::TextCode(std::u32string_view text)
{
    GUARD lock(*this);
    if (Chars.SweepDue())
        SweepChars();
    return Chars.Intern(text);
}

void VIO::SweepChars()
{
    GUARD lock(*this);
    std::vector<uint64_t> live(VIOCHARS::kCapacity / 64);
    for (int y = 0; RowTable && y < ScreenHeight; ++y)
        for (int x = 0; x < ScreenWidth; ++x)
            VIOCHARS::Mark(live, RowTable[y].Cells[x]);
    if (Scrollback)
        Scrollback->MarkChars(live);
    Chars.Sweep(live);
}

int VIO::GetText(std::u32string& out, int count, int x, int y, signed char* wrapped)
{
    GUARD lock(*this);
    if (wrapped)
        *wrapped = 0;
    if (x < 0 || y < 0 || !RowTable || y >= ScreenHeight || x >= ScreenWidth || count <= 0)
        return 0;
    int const total = ScreenWidth * ScreenHeight;
    int const start = y * ScreenWidth + x;
    int const end = int(std::min<long long>(total, (long long)start + count));
    for (int pos = start; pos < end; ++pos)
        AppendCellText(RowTable[pos / ScreenWidth].Cells[pos % ScreenWidth], out);
    if (wrapped)
        *wrapped = (RowTable[(end - 1) / ScreenWidth].Cells[(end - 1) % ScreenWidth].attrib & VIOATTR_WRAPPED) ? 1 : 0;
    return end - start;
}

void VIO::GetString(wchar_t* buffer, int* length, int x, int y, signed char* wrapped)
{
    if (!length)
        return;
    GUARD lock(*this);
    if (!buffer || x < 0 || y < 0 || !RowTable || y >= ScreenHeight || x >= ScreenWidth) {
        *length = 0;
        if (wrapped)
            *wrapped = 0;
        return;
    }
    // The buffer holds *length characters: a cell whose character comes
    // with marks may not fit whole at its end, and is then left out with
    // the cells after it.
    int const room = std::max(*length, 0);
    int const total = ScreenWidth * ScreenHeight;
    int pos = y * ScreenWidth + x;
    int const end = std::min(total, pos + room);
    int stored = 0;
    bool lastWrapped = false;
    std::u32string text;
    for (; pos < end; ++pos) {
        VIOCELL const cell = RowTable[pos / ScreenWidth].Cells[pos % ScreenWidth];
        text.clear();
        AppendCellText(cell, text);
        if (stored + int(text.size()) > room)
            break;
        for (char32_t c : text)
            buffer[stored++] = wchar_t(c);
        lastWrapped = cell.attrib & VIOATTR_WRAPPED;
    }
    *length = stored;
    if (wrapped)
        *wrapped = lastWrapped ? 1 : 0;
}

void VIO::GetString(char* buffer, int* length, int x, int y, int codePage, signed char* wrapped)
{
    if (!length)
        return;
    if (!buffer || *length <= 0) {
        *length = 0;
        return;
    }
    // One byte per character: its marks are left out (a code page has no
    // room for them), a character beyond U+FFFF is converted as U+FFFD.
    GUARD lock(*this);
    if (x < 0 || y < 0 || !RowTable || y >= ScreenHeight || x >= ScreenWidth) {
        *length = 0;
        if (wrapped)
            *wrapped = 0;
        return;
    }
    int const total = ScreenWidth * ScreenHeight;
    int pos = y * ScreenWidth + x;
    int const end = std::min(total, pos + *length);
    int stored = 0;
    bool lastWrapped = false;
    for (; pos < end; ++pos) {
        VIOCELL const cell = RowTable[pos / ScreenWidth].Cells[pos % ScreenWidth];
        lastWrapped = cell.attrib & VIOATTR_WRAPPED;
        if (vioutils::IsWideRight(cell))
            continue;
        char32_t const c = cell.c ? CellChar(cell) : U' ';
        char const b = Uni->ToForcedCodepageChar(c < 0x10000 ? wchar_t(c) : wchar_t(0xFFFD), codePage);
        buffer[stored++] = b ? b : ' ';
    }
    *length = stored;
    if (wrapped)
        *wrapped = lastWrapped ? 1 : 0;
}

void VIO::GetCells(VIOCELL* buffer, int* count, int x, int y)
{
    if (!count)
        return;
    GUARD lock(*this);
    if (!buffer || !RowTable || x < 0 || y < 0 || x >= ScreenWidth || y >= ScreenHeight) {
        *count = 0;
        return;
    }
    int const total = ScreenWidth * ScreenHeight;
    int pos = y * ScreenWidth + x;
    int const n = std::clamp(*count, 0, total - pos);
    for (int i = 0; i < n;) {
        int const row = pos / ScreenWidth, col = pos % ScreenWidth;
        int const take = std::min(n - i, ScreenWidth - col);
        std::memcpy(buffer + i, RowTable[row].Cells + col, size_t(take) * sizeof(VIOCELL));
        i += take;
        pos += take;
    }
    *count = n;
}

// ---- VIO: the selection ----

void VIO::SetMarkArea(int mode, int x1, int y1, int x2, int y2, signed char repaint)
{
    GUARD lock(*this);
    if (y1 > y2 || (y1 == y2 && x1 > x2)) {
        std::swap(x1, x2);
        std::swap(y1, y2);
    }
    if (mode == VIOMARK_BLOCK && x1 > x2)
        std::swap(x1, x2);
    int const oldX1 = MarkX1 == -1 ? x1 : MarkX1, oldY1 = MarkY1 == -1 ? y1 : MarkY1;
    int const oldX2 = MarkX2 == -1 ? x2 : MarkX2, oldY2 = MarkY2 == -1 ? y2 : MarkY2;
    MarkMode = mode;
    MarkX1 = x1;
    MarkY1 = y1;
    MarkX2 = x2;
    MarkY2 = y2;
    if (!repaint || !RowTable)
        return;
    int const top = std::max(0, std::min(oldY1, y1));
    int const bottom = std::min(ScreenHeight - 1, std::max(oldY2, y2));
    if (top > bottom)
        return;
    if (mode == VIOMARK_BLOCK) {
        int const left = std::max(0, std::min({oldX1, oldX2, x1}));
        int const right = std::min(ScreenWidth - 1, std::max({oldX1, oldX2, x2}));
        if (left <= right)
            MarkCellsDirty(left, top, right - left + 1, bottom - top + 1, 1);
    } else {
        MarkCellsDirty(0, top, ScreenWidth, bottom - top + 1, 1);
    }
}

int VIO::GetMarkArea(int* mode, int* x1, int* y1, int* x2, int* y2)
{
    if (mode)
        *mode = MarkMode;
    if (x1)
        *x1 = MarkX1;
    if (y1)
        *y1 = MarkY1;
    if (x2)
        *x2 = MarkX2;
    if (y2)
        *y2 = MarkY2;
    return MarkMode;
}

int VIO::ClearMarkArea(signed char repaint)
{
    if (MarkMode == VIOMARK_NONE)
        return 0;
    SetMarkArea(VIOMARK_NONE, MarkX1, MarkY1, MarkX2, MarkY2, repaint);
    return 1;
}

// ---- VIO: the link under the mouse ----

bool VIO::HandleMouseHover(int x, int y, STRING* link)
{
    if (!Running)
        return false;
    GUARD lock(*this);
    if (!RowTable)
        return false;
    int const total = ScreenWidth * ScreenHeight;
    int from = -1, to = -1; // the link's cells, inclusive
    if (x >= 0 && y >= 0 && x < ScreenWidth && y < ScreenHeight) {
        auto charAt = [&](int pos) {
            VIOCELL const cell = RowTable[pos / ScreenWidth].Cells[pos % ScreenWidth];
            return uint32_t(cell.c);
        };
        int const at = y * ScreenWidth + x;
        if (vioutils::IsLinkChar(charAt(at))) {
            constexpr int kMaxWord = 255;
            int first = at, last = at;
            while (first > 0 && last - first + 1 < kMaxWord && vioutils::IsLinkChar(charAt(first - 1)))
                --first;
            while (last + 1 < total && last - first + 1 < kMaxWord && vioutils::IsLinkChar(charAt(last + 1)))
                ++last;
            std::u32string word;
            for (int p = first; p <= last; ++p)
                word.push_back(char32_t(charAt(p)));
            if (vioutils::IsUrlString(word)) {
                from = first;
                to = last;
                if (link) {
                    std::string text(word.begin(), word.end());
                    *link = STRING(text.c_str());
                }
            }
        }
    }
    for (int pos = 0; pos < total; ++pos) {
        VIOCELL& cell = RowTable[pos / ScreenWidth].Cells[pos % ScreenWidth];
        bool const inLink = pos >= from && pos <= to;
        if (bool(cell.extattr & VIOEXT_LINK) != inLink) {
            cell.extattr ^= VIOEXT_LINK;
            MarkCellsDirty(pos % ScreenWidth, pos / ScreenWidth, 1, 1, 1);
        }
    }
    return from >= 0;
}
