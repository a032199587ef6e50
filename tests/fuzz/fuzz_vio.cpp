// libFuzzer entry for the terminal screen: the input is a program of
// screen operations with their arguments (often outside the screen) and
// text, run on a small screen of random size with a small scroll-back.
// After every operation: the cursor is on the screen, every row's end cell
// is intact, the row table ends with its empty record, and the scroll-back
// holds no more than its capacity. AddressSanitizer catches any write out
// of bounds. Assertion reports of refused arguments are expected; a report
// of a broken end cell is a finding.
#include "program/screen/scrollback.h"
#include "program/screen/vio.h"
#include "program/screen/vioutils.h"
#include "velmot/core/logit.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Check(bool ok)
{
    if (!ok)
        abort();
}

bool Question(char const*, char const* question)
{
    // A broken end cell is reported as "lastcell...".
    Check(std::strstr(question, "lastcell") == nullptr);
    return true;
}

class READER {
public:
    READER(uint8_t const* data, size_t size) : Data(data), Size(size) {}
    bool Empty() const { return At >= Size; }
    uint8_t Byte() { return At < Size ? Data[At++] : 0; }
    uint16_t Word() { return uint16_t(Byte() | Byte() << 8); }
    // A coordinate around the screen: mostly inside, sometimes outside.
    int Coord(int size) { return int(Byte() % (size + 6)) - 3; }

private:
    uint8_t const* Data;
    size_t Size;
    size_t At = 0;
};

// Characters that matter to the screen: controls, blanks, plain text,
// double-width, the right-half code, graphic characters, surrogates,
// characters beyond the Basic Multilingual Plane and combining marks.
wchar_t Char(READER& r)
{
    static wchar_t const kChars[] = {8, 9, 10, 13, 0, 27, 32, 'a', 'Z', '~', 127, 0xE4, 0x20AC, 0x4E2D, 0x3000,
                                     0xAC00, 0xFFF8, 0xFFFD, 0xD800, 0x2550, 0x2554, 0x2591, 0x25B2, 0xE003,
                                     0x1F600, 0x20000, 0x0301, 0x0323, 0x200D, 0xFE0F, 0xE0100, 0x1D400,
                                     0x231A};
    uint8_t const b = r.Byte();
    if (b < 128)
        return kChars[b % (sizeof kChars / sizeof kChars[0])];
    return wchar_t(r.Word());
}

void Invariants(VIO& vio, SCROLLBACKBUFFER& sb)
{
    int width = 0, height = 0, x = -1, y = -1;
    vio.GetWinSize(&width, &height);
    vio.GetCursorPos(&x, &y);
    Check(width >= 1 && height >= 1);
    Check(x >= 0 && x < width && y >= 0 && y < height);
    VIOROW const* rows = vio.Rows();
    Check(rows != nullptr);
    uint64_t const end = vioutils::Bits(VIO::ScreenMakeEndCell());
    for (int r = 0; r < height; ++r)
        Check(rows[r].Cells && vioutils::Bits(rows[r].Cells[width]) == end);
    Check(rows[height].Cells == nullptr && rows[height].LineAttr == 0);
    Check(sb.QueryFilled() >= 0 && sb.QueryFilled() <= std::max(sb.MaxLinesLimit, 0));
    Check(sb.CurLineIdx >= 0 && sb.CurLineIdx <= sb.QueryFilled());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    static bool hooked = (SetAssertQuestionHook(&Question), true);
    (void)hooked;
    READER r(data, size);
    SCROLLBACKBUFFER sb;
    VIO vio(nullptr, &sb);
    sb.AttachScreen(&vio);
    sb.MakeScrollback(r.Byte() % 4 == 0 ? 0 : 100 + r.Byte(), nullptr);
    vio.Init(1 + r.Byte() % 40, 1 + r.Byte() % 20);
    vio.SetCellSize(r.Byte() % 3, 16);
    for (int steps = 0; !r.Empty() && steps < 400; ++steps) {
        int width = 0, height = 0;
        vio.GetWinSize(&width, &height);
        switch (r.Byte() % 23) {
        case 0:
        case 1: {
            std::wstring text;
            for (int n = r.Byte() % 96; n > 0; --n)
                text.push_back(Char(r));
            vio.conputws(text.c_str(), long(text.size()));
            break;
        }
        case 2: {
            std::string bytes;
            for (int n = r.Byte() % 64; n > 0; --n)
                bytes.push_back(char(r.Byte()));
            static int const kPages[] = {1252, 437, UNICODE_CPUTF8, UNICODE_CPFLAT, 850};
            vio.SetCodepage(kPages[r.Byte() % 5]);
            vio.conputs(bytes.data(), long(bytes.size()));
            break;
        }
        case 3:
            vio.SetCursorPos(r.Coord(width), r.Coord(height));
            break;
        case 4: {
            int const x1 = r.Coord(width), y1 = r.Coord(height), x2 = r.Coord(width), y2 = r.Coord(height);
            static int const kModes[] = {VIOSCROLL_UP, VIOSCROLL_DOWN, 5};
            vio.ScrollArea(x1, y1, x2, y2, int(r.Byte() % 30) - 2, kModes[r.Byte() % 3]);
            break;
        }
        case 5:
            vio.Erase(r.Coord(width), r.Coord(height), int(r.Word() % 1000) - 1, r.Byte() & 1, char(r.Byte()));
            break;
        case 6:
            vio.MoveArea(r.Coord(width), r.Coord(height), r.Coord(width), r.Coord(height), int(r.Byte()) - 2);
            break;
        case 7:
            vio.WriteWideByte(Char(r), int(r.Word() % 2000) - 1, r.Coord(width), r.Coord(height),
                              r.Byte() % 2 ? -1 : int(r.Word()));
            break;
        case 8:
            vio.SetWinSize(1 + r.Byte() % 45, 1 + r.Byte() % 25);
            break;
        case 9:
            vio.SetMode(int(r.Byte() % 40) - 20);
            break;
        case 10: {
            // Every code but the two that only report a caller's mistake.
            int code = 1 + r.Byte() % 18;
            if (code == VIODO_GETCURSORTYPE || code == VIODO_MINIMIZE)
                code = VIODO_INHERIT;
            vio.Do(code, int(r.Word()) - 100 + (r.Byte() % 4 == 0 ? 0x10000 * (r.Byte() % 30) : 0),
                   int(r.Byte()) - 2);
            break;
        }
        case 11:
            vio.SetColors(int(r.Word() % 600) - 10, int(r.Word() % 600) - 10);
            break;
        case 12:
            vio.SetMarkArea(r.Byte() % 3, r.Coord(width), r.Coord(height), r.Coord(width), r.Coord(height),
                            r.Byte() & 1);
            break;
        case 13: {
            STRING link;
            vio.HandleMouseHover(r.Coord(width), r.Coord(height), &link);
            break;
        }
        case 14: {
            std::wstring text;
            for (int n = r.Byte() % 40; n > 0; --n)
                text.push_back(Char(r));
            vio.TextToMem(text.c_str(), int(text.size()), r.Coord(width), r.Coord(height));
            break;
        }
        case 15:
            vio.CharToMem(Char(r), int(r.Word() % 2000) - 5, int(r.Word()), r.Byte() & 1);
            break;
        case 16: {
            VIOCELL* cells = nullptr;
            if (r.Byte() & 1)
                sb.PopFullWrappedLine(&cells, r.Byte() & 1);
            else
                sb.PopLine(&cells, r.Byte() & 1);
            delete[] cells;
            break;
        }
        case 17:
            vio.ScreenToScrollback(r.Coord(height));
            break;
        case 18: {
            VIOCELL* cell = vio.AccessVioCell(int(r.Word() % 2000) - 5);
            cell->c = uint16_t(Char(r));
            cell->attrib = r.Word();
            break;
        }
        case 19:
            vio.SetAltScreen(r.Byte() & 1);
            vio.Settings.ScrollbackIncludeAltScreens = r.Byte() & 1;
            break;
        case 20:
            sb.MakeScrollback(r.Byte() % 4 == 0 ? 0 : 100 + r.Byte(), nullptr);
            break;
        case 21: {
            // An xterm colour-setting text as the emulation passes it on.
            std::string text = "4;";
            for (int n = r.Byte() % 32; n > 0; --n)
                text.push_back(char(r.Byte() % 2 ? "0123456789abcdefABCDEF;:/#rgbi."[r.Byte() % 31] : r.Byte()));
            vio.SetXtermColor(text.c_str());
            break;
        }
        default: {
            wchar_t buf[64];
            int length = r.Byte() % 64;
            signed char wrapped = 0;
            vio.GetString(buf, &length, r.Coord(width), r.Coord(height), &wrapped);
            Check(length >= 0 && length <= 63);
            VIOCELL cells[64];
            int count = r.Byte() % 64;
            vio.GetCells(cells, &count, r.Coord(width), r.Coord(height));
            Check(count >= 0 && count <= 63);
            int const lines = sb.QueryFilled();
            if (lines > 0) {
                int const line = r.Byte() % lines;
                sb.UnpackLine(line, cells, 64);
                wchar_t text[64];
                Check(sb.UnpackLine(line, text, 64) <= 63);
            }
            std::u32string all;
            vio.GetText(all, r.Byte() % 200, r.Coord(width), r.Coord(height), &wrapped);
            if (r.Byte() % 8 == 0)
                vio.SweepChars();
            break;
        }
        }
        Invariants(vio, sb);
    }
    return 0;
}
