// Helpers shared by the toolkit's drawing, font and printing tests: the
// application (started once per binary, offscreen, test mode), pixel
// helpers, golden pictures, and PANEWINDOW, a plain window with one user
// pane that lends its drawing context to a WINDC the way a child window
// does (off-screen bitmap outside a paint pass, the pass's context inside).
#pragma once

#include "platform/draw/bitmap.h"
#include "platform/events/views.h"
#include "platform/events/windows.h"
#include "tests/support/pixels.h"
#include "velmot/gui/windraw.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace guitest {

using pixeltest::Alpha;
using pixeltest::Blue;
using pixeltest::Box;
using pixeltest::Green;
using pixeltest::InkBounds;
using pixeltest::Picture;
using pixeltest::Red;

// Compares the bitmap with tests/velmot/gui/golden/<name>.png (see
// pixeltest::MatchesGolden).
inline ::testing::AssertionResult MatchesGolden(const plat::Bitmap& bitmap, const std::string& name)
{
    return pixeltest::MatchesGolden(bitmap, "velmot/gui/golden", name);
}

// Runs the event loop until `done` holds or `ms` milliseconds have passed;
// returns `done()`.
bool RunUntil(const std::function<bool()>& done, int ms = 5000);

class PANEWINDOW : public DCWINDOW {
public:
    // A shown window whose content is one user pane of this size.
    PANEWINDOW(int width, int height);
    ~PANEWINDOW() override;

    plat::DrawContext* GetDC() override;
    void ReleaseDC(plat::DrawContext* context) override;
    RECT GetClientRect() const override;
    SIZE GetSize() const override;
    void Invalidate(RECT const* rect) override;
    void Scroll(RECT const* rect, int dx, int dy) override;

    plat::WindowRef Window() const { return Win; }
    plat::ViewRef View() const { return Pane; }
    MEMORYBITMAP* Bitmap() const { return Memory.get(); }

    // Paints the pane now and returns what it shows.
    std::unique_ptr<plat::Bitmap> Grab();
    // Paints the pane now (through the window system's own repaint).
    void Render();

    // Called inside each paint pass; without it the pass copies the
    // off-screen bitmap.
    std::function<void(PAINTSTRUCT&)> OnPaint;

    int Invalidations = 0;
    RECT LastInvalid;
    int Paints = 0;
    std::vector<RECT> LastRegion; // of the last paint pass

private:
    plat::WindowRef Win = nullptr;
    plat::ViewRef Pane = nullptr;
    plat::HandlerRef Handler = nullptr;
    std::unique_ptr<MEMORYBITMAP> Memory;
    plat::DrawContext* PaintContext = nullptr;
    int InPaint = 0;
};

} // namespace guitest
