// A screen painted in a pane offscreen, for the painting tests: its font
// loaded as the session loads it, a host that counts invalidations, runs
// counted, pictures taken of what the window system shows.
#pragma once

#include "tests/velmot/gui/guitest.h"

#include "platform/draw/bitmap.h"
#include "program/screen/termfonts.h"
#include "program/screen/vio.h"
#include "velmot/gui/windraw.h"

#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace screenwindow {

using guitest::PANEWINDOW;

// Loads the terminal font the way the session does: the description text,
// or the default terminal font for the size.
inline COREFONT* LoadTerminalFont(wchar_t const* fontString, int codePage)
{
    wchar_t spec[256] = {};
    if (fontString)
        std::wcsncpy(spec, fontString, 255);
    else
        TERMFONTS::GetDefaultFont(spec, 256, 10);
    wchar_t name[128];
    TERMFONTS::GetNameFromFontstr(spec, name, 128);
    int w = 0, h = 0;
    TERMFONTS::GetSizeFromFontstr(spec, &w, &h);
    WINDC dc(nullptr, RECT{}, false);
    return dc.LoadFixedFontW(name, SIZE{w, h}, false, 1, codePage);
}

// The session window of the tests: a pane that the screen paints.
class PAINTHOST : public VIOHOST {
public:
    explicit PAINTHOST(PANEWINDOW& pane) : Pane(pane) {}
    void Invalidate(RECT const* rect) override
    {
        ++Invalidations;
        Last = rect ? *rect : RECT{0, 0, -1, -1};
        Pane.Invalidate(rect);
    }
    void RedrawNow() override { Pane.Render(); }
    SIZE ClientSize() override { return Pane.GetSize(); }
    bool HasFocus() override { return Focus; }
    COREFONT* LoadFont(wchar_t const* fontString, signed char*, int codePage) override
    {
        return LoadTerminalFont(fontString ? fontString : FontString, codePage);
    }
    PANEWINDOW& Pane;
    wchar_t const* FontString = nullptr;
    bool Focus = true;
    int Invalidations = 0;
    RECT Last{};
};

// A screen that counts the runs it draws.
class COUNTINGVIO : public VIO {
public:
    using VIO::VIO;
    int TextToWindow(WINDC& dc, int column, int row, POINT at, VIOCELL const* cells, int count, int endColumn,
                     int mode, int markFrom, int markTo, wchar_t* buffer) override
    {
        int const n = VIO::TextToWindow(dc, column, row, at, cells, count, endColumn, mode, markFrom, markTo, buffer);
        if (mode == MODE_DRAW)
            Runs.push_back({column, row, n});
        return n;
    }
    struct RUN {
        int column, row, cells;
    };
    std::vector<RUN> Runs;
};

// A pane, a host and a screen of cols x rows cells in the given font.
struct SCREENWINDOW {
    std::unique_ptr<PANEWINDOW> Pane;
    std::unique_ptr<PAINTHOST> Host;
    COUNTINGVIO Vio;
    SCREENWINDOW(int cols, int rows, wchar_t const* font = nullptr)
    {
        // The font decides the cell: a first screen measures it.
        PANEWINDOW probe(10, 10);
        PAINTHOST probeHost(probe);
        probeHost.FontString = font;
        VIO measure(&probeHost);
        measure.Init(1, 1);
        int cw = 0, ch = 0;
        measure.GetFontSize(&cw, &ch);
        Pane = std::make_unique<PANEWINDOW>(cols * cw, rows * ch);
        Host = std::make_unique<PAINTHOST>(*Pane);
        Host->FontString = font;
        Vio.SetHost(Host.get());
        Vio.Init(cols, rows);
        Vio.Settings.CursorBlinkDelay = 0;
        Vio.SetCursorType(static_cast<signed char>(1), VIOCURSOR_STEADY);
        Pane->OnPaint = [this](PAINTSTRUCT& ps) { Vio.OnPaint(ps); };
        // Painting starts once the window system has shown the window.
        guitest::RunUntil([this] { return Pane->Paints > 0; });
    }
    // Lets the window system deliver the paint of what was invalidated;
    // false when none came.
    bool Flush(int ms = 2000)
    {
        int const before = Pane->Paints;
        return guitest::RunUntil([&] { return Pane->Paints > before; }, ms);
    }
    // Paints whatever is still waiting, so that the next paint holds only
    // what comes after.
    void Settle()
    {
        for (int i = 0; i < 5 && Flush(100); ++i) {
        }
    }
    void Put(std::wstring const& text) { Vio.conputws(text.c_str(), long(text.size())); }
    std::unique_ptr<plat::Bitmap> Picture()
    {
        Vio.Runs.clear();
        return Pane->Grab();
    }
    int CellWidth()
    {
        int w = 0;
        Vio.GetFontSize(&w, nullptr);
        return w;
    }
    int CellHeight()
    {
        int h = 0;
        Vio.GetFontSize(nullptr, &h);
        return h;
    }
};

inline uint32_t Argb(uint32_t rgb) { return 0xFF000000u | (rgb & 0xFF) << 16 | (rgb & 0xFF00) | (rgb >> 16 & 0xFF); }

// Whether two pixels differ by at most `tolerance` in each channel.
inline bool Near(uint32_t a, uint32_t b, int tolerance)
{
    for (int shift = 0; shift < 32; shift += 8)
        if (std::abs(int(a >> shift & 0xFF) - int(b >> shift & 0xFF)) > tolerance)
            return false;
    return true;
}

} // namespace screenwindow
