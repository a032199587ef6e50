// WINDC, the toolkit's drawing surface in the style of a Windows device
// context, and MEMORYBITMAP, an off-screen 32-bit bitmap.
//
// A WINDC wraps one drawing context of the platform layer
// (plat::DrawContext) and draws lines, curves, rectangles, gradients,
// polygons, ellipses, icons and text with integer coordinates that grow
// downward from the top-left corner, and colours laid out as 0xTTBBGGRR
// (red in the low byte; T is a transparency, 0 opaque). A context whose own
// y axis runs upward (a bitmap or a print page) is flipped for the drawing
// of shapes (ADJUSTCOORDINATES); text and icons are drawn upright in the
// context's y-up space.
//
// A WINDC can also borrow the context of a window (DCWINDOW): it then asks
// the window for its current context before each operation, invalidates
// what it drew, and hands the context back when released.
//
// All public operations belong to the main thread (they warn through
// TARVOAPP::CheckCallerThread elsewhere). Misuse is reported through
// AssertMsg and the operation goes on as far as it can.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"
#include "velmot/gui/wintypes.h"

#include <memory>
#include <string>
#include <vector>

namespace plat {
class Bitmap;
class CellPainter;
class DrawContext;
class Event;
class Image;
struct Point;
struct OpaqueView;
using ViewRef = OpaqueView*;
} // namespace plat

class COREFONT;
struct FONTLAYOUT;

// One paint pass of a window: the context the window paints with (valid
// only during the pass) and the area to paint.
struct PAINTSTRUCT {
    plat::DrawContext* hdc = nullptr;
    // The bounding box of the area to paint.
    RECT rcPaint;
    // The rectangles the area is made of (empty: rcPaint alone). The
    // context is clipped to them, so painting whole rows that touch one
    // loses only time; walking them spares the rows between.
    std::vector<RECT> rcRegion;
};

// A paint pass made from a view's draw event ('cntl' kind 4): the context
// over the event's painter, owned for the pass, and the update region.
// Ps.hdc is null when the event carries no usable painter.
class VELMOT_EXPORT PAINTPASS {
public:
    explicit PAINTPASS(plat::Event& drawEvent);
    ~PAINTPASS();
    PAINTPASS(PAINTPASS const&) = delete;
    PAINTPASS& operator=(PAINTPASS const&) = delete;

    bool IsValid() const { return Ps.hdc != nullptr; }
    PAINTSTRUCT Ps;

private:
    std::unique_ptr<plat::DrawContext> fContext;
};

// The colour value that means "no fill" where a fill is optional.
constexpr COLORREF WINDC_NOCOLOR = 0xFFFFFFFF;

// WINDC::BkMode: fill the text box with BkColor before drawing text.
constexpr int32_t WINDC_OPAQUE = 1;
constexpr int32_t WINDC_TRANSPARENT = 2;

// WINDC::TextAlign bits: horizontal (& 6) and vertical (& 24) placement of
// the point given to the text operations.
constexpr uint32_t WINDC_TA_LEFT = 0;
constexpr uint32_t WINDC_TA_RIGHT = 2;    // the text ends at x
constexpr uint32_t WINDC_TA_CENTER = 4;   // the text is centred on x
constexpr uint32_t WINDC_TA_TOP = 0;      // y is the top of the text box
constexpr uint32_t WINDC_TA_BOTTOM = 8;   // y is the bottom of the text box
constexpr uint32_t WINDC_TA_BASELINE = 16; // y is the baseline

// What a window lends a WINDC that is bound to it: its current drawing
// context, its size, and invalidation of what was drawn. The window classes
// implement it; a context obtained with GetDC is handed back with ReleaseDC.
class VELMOT_EXPORT DCWINDOW {
public:
    virtual plat::DrawContext* GetDC() = 0;
    virtual void ReleaseDC(plat::DrawContext* context) = 0;
    // (0, 0, width, height) of the window's drawing area.
    virtual RECT GetClientRect() const = 0;
    virtual SIZE GetSize() const = 0;
    // Marks the rectangle (null: all of it) for repainting.
    virtual void Invalidate(RECT const* rect) = 0;
    // Moves the pixels of the rectangle (null: all of it) by (dx, dy) and
    // marks for repainting the part they uncovered. A window that cannot
    // move its pixels repaints the whole rectangle instead.
    virtual void Scroll(RECT const* rect, int dx, int dy)
    {
        (void)dx;
        (void)dy;
        Invalidate(rect);
    }

protected:
    virtual ~DCWINDOW() = default;
};

class VELMOT_EXPORT WINDC {
public:
    // While it lives, the WINDC's drawing runs in top-down coordinates
    // (wantBottomUp false) or in the context's upright y-up coordinates
    // (true): when the context's orientation differs, a flip about the DC's
    // height is applied; End or the destructor takes it back.
    class VELMOT_EXPORT ADJUSTCOORDINATES {
    public:
        ADJUSTCOORDINATES(WINDC& dc, bool wantBottomUp);
        ~ADJUSTCOORDINATES() { End(); }
        ADJUSTCOORDINATES(ADJUSTCOORDINATES const&) = delete;
        ADJUSTCOORDINATES& operator=(ADJUSTCOORDINATES const&) = delete;
        void End();

    private:
        WINDC& Dc;
        bool Applied = false;
        int Height = 0;
    };

    // The context, the rectangle and the window this DC borrows from.
    plat::DrawContext* fContext = nullptr;
    RECT Rect;
    DCWINDOW* pWindowAutoRelease = nullptr;

    // Text and pen attributes; callers set them directly.
    int32_t BkMode = WINDC_TRANSPARENT;
    uint32_t TextAlign = 0;
    COLORREF BkColor = 0;
    COLORREF TextColor = 0;
    float LineWidth = 0.98f;

    bool IsBottomUp = false;
    bool InClipPath = false;
    COREFONT* hFont = nullptr;
    FONTLAYOUT* hFontContext = nullptr;
    struct {
        float x = 0;
        float y = 0;
    } CurPos;
    RECT DirtyRect;
    bool AutoFlush = false;

    // A DC over an existing context (bitmaps, printing, views painting).
    WINDC(plat::DrawContext* context, RECT rect, bool isBottomUp);
    // A DC that borrows the window's context until it is released.
    explicit WINDC(DCWINDOW& window);
    // A DC for one paint pass of the window: the pass's context.
    WINDC(PAINTSTRUCT& ps, DCWINDOW const& window);
    virtual ~WINDC();
    WINDC(WINDC const&) = delete;
    WINDC& operator=(WINDC const&) = delete;

    void Init();
    void Release();
    void ChangeContextHandle(plat::DrawContext* newContext, plat::DrawContext* oldContext);
    void SetRect(RECT r);
    int GetHeight() const;
    // The context operations draw on: the bound window's current one, else
    // fContext.
    plat::DrawContext* Context() const;
    operator plat::DrawContext*() const { return Context(); }

    void MarkDirty(RECT const* r);
    void FlushDirty();

    // Lines and curves; the pen moves to the end point.
    int MoveTo(int x, int y, POINT* old = nullptr);
    int MoveTo(double x, double y, plat::Point* old = nullptr);
    int LineTo(int x, int y, COLORREF colour);
    int LineTo(double x, double y, COLORREF colour);
    int Line(int x1, int y1, int x2, int y2, COLORREF colour);
    int Line(double x1, double y1, double x2, double y2, COLORREF colour);
    int CurveTo(int x, int y, int cx, int cy, COLORREF colour);
    int CurveTo(double x, double y, double cx, double cy, COLORREF colour);

    // Shapes. A fill of WINDC_NOCOLOR leaves the inside alone.
    int FillRect(RECT const* r, COLORREF colour);
    int ClearRect(RECT const* r);
    int InvertRect(RECT const& r);
    int DrawRect(RECT const& r, COLORREF line, COLORREF fill);
    int DrawRoundRect(RECT const& r, int radius, COLORREF line, COLORREF fill);
    int DrawEllipse(RECT const* r, COLORREF line, COLORREF fill);
    int DrawPolygon(POINT const* points, int count, COLORREF line, COLORREF fill);
    // A 3-D frame; mode 2, 1, 0, -1 or -2 picks the light and dark edges.
    int NiceRCL(RECT const& r, int mode, bool fill, COLORREF colour);
    int DrawShadowRect(RECT const& r, COLORREF colour, int depth, int dx, int dy);
    // 0 when drawn as a gradient of the drawing layer, 1 otherwise.
    int FillRectGradient(RECT const* r, COLORREF from, COLORREF to, bool vertical, RECT const* clip = nullptr);
    // Draws the picture into the box (x, y, cx, cy); 1 when it was drawn.
    int DrawIcon(plat::Image const* icon, int x, int y, int cx, int cy);
    // Moves the pixels of the rectangle at `from` to `to` inside the DC's
    // own bitmap.
    int BitBlt(POINT from, POINT to, SIZE size);

    void BeginClipPath();
    void EndClipPath();
    void ClearClipPath();
    // r: save the state and clip to r; null: restore the state.
    void SetClipRect(RECT const* r);

    // Text in the selected font at (x, y) placed by TextAlign; `end`
    // receives (x + the text's width, y). A length of -1 means up to the
    // terminator. 0 when the text is null.
    int StringOutU(int x, int y, unsigned short const* text, int length, POINT* end = nullptr);
    int StringOutW(int x, int y, wchar_t const* text, int length = -1, POINT* end = nullptr);
    int StringOut(int x, int y, char const* text, int length = -1, POINT* end = nullptr);
    SIZE GetTextSizeW(wchar_t const* text, int length = -1);
    SIZE GetTextSize(char const* text, int length = -1);

    // Fonts (winfont.cpp). A font handle is a COREFONT the caller owns
    // until DestroyFont.
    COREFONT* LoadFont(char const* spec, UNICODE_CODEPAGE cp = 0);
    COREFONT* LoadFontW(wchar_t const* spec, UNICODE_CODEPAGE cp = 0);
    COREFONT* LoadFont(char const* name, int size, bool bold, bool italic, bool fixed, int smoothing,
                       UNICODE_CODEPAGE cp);
    COREFONT* LoadFontW(wchar_t const* name, int size, bool bold, bool italic, bool fixed, int smoothing,
                        UNICODE_CODEPAGE cp);
    COREFONT* LoadFixedFont(char const* name, SIZE cell, bool bold, int smoothing, UNICODE_CODEPAGE cp);
    COREFONT* LoadFixedFontW(wchar_t const* name, SIZE cell, bool bold, int smoothing, UNICODE_CODEPAGE cp);
    int DestroyFont(COREFONT* font);
    void SelectFont(COREFONT* font);
    void DeselectFont(COREFONT* font);
    SIZE GetFontSize();
    void GetFontSize(int* width, int* height, int* descent);
    void GetFontname(char* buffer, int size);
    void GetFontnameW(wchar_t* buffer, int size);
    static STRING GetDefaultFontnamesize();

private:
    friend class ADJUSTCOORDINATES;
    int DrawText16(int x, int y, std::u16string_view text, POINT* end);
    int DrawText32(int x, int y, std::u32string_view text, POINT* end);
    template <class View>
    int TextOut(int x, int y, View text, POINT* end);
    void StrokeTo(COLORREF colour);

    // Scratch buffers for the text conversions, kept to spare an
    // allocation per call.
    std::u16string Scratch16;
    std::u32string Scratch32;
};

// Cell-grid drawing on a WINDC for a terminal screen's paint: one object
// per paint (or per batch of drawing), runs of cells of one font and one
// pair of colours drawn with one call each (see platform/draw/cells.h).
//
// Coordinates are the WINDC's own (top-down pixels). While the object
// lives the DC's context runs top-down even over a bitmap: the flip is
// applied once, IsBottomUp reads false, and the WINDC's other operations
// (lines, polygons and ellipses for graphic characters, text, icons) go on
// working in between without a flip of their own each. Everything drawn is
// marked dirty like the WINDC's other drawing.
class VELMOT_EXPORT CELLPAINTER {
public:
    // Run flags.
    static constexpr uint32_t UNDERLINE = 1; // a one-pixel line in the fore colour along the bottom row
    static constexpr uint32_t WIDE = 2;      // every character takes two cells
    // RunStretched: how the run fills its double-size row.
    static constexpr int DOUBLEWIDTH = 1;        // twice as wide
    static constexpr int DOUBLEHEIGHTTOP = 2;    // twice as wide, the top half of the cells twice as high
    static constexpr int DOUBLEHEIGHTBOTTOM = 3; // twice as wide, the bottom half twice as high

    // Cells of cell.cx x cell.cy pixels whose baseline lies `baseline`
    // pixels below the cell's top (the height less the descent, from
    // WINDC::GetFontSize).
    CELLPAINTER(WINDC& dc, SIZE cell, int baseline);
    ~CELLPAINTER();
    CELLPAINTER(CELLPAINTER const&) = delete;
    CELLPAINTER& operator=(CELLPAINTER const&) = delete;

    // The n characters at `text` (one per cell; 0 and blanks draw no glyph)
    // in the font, fore on back, the run's top-left cell at (x, y). The run
    // replaces its cells; a cursor rectangle (may be null) is filled with
    // cursorColour behind the characters. Glyphs are cut at the run's
    // ends. 0 when nothing could be drawn (no context, no cells).
    int Run(int x, int y, wchar_t const* text, int n, COREFONT* font, COLORREF fore, COLORREF back,
            uint32_t flags = 0, RECT const* cursor = nullptr, COLORREF cursorColour = 0);
    // The same run on a row of double-size characters: drawn as at (x, y)
    // (the cursor rectangle too) and stretched into the box at (x, y) twice
    // its width and one cell high (`how` is DOUBLEWIDTH, DOUBLEHEIGHTTOP or
    // DOUBLEHEIGHTBOTTOM).
    int RunStretched(int x, int y, wchar_t const* text, int n, COREFONT* font, COLORREF fore, COLORREF back,
                     uint32_t flags, int how, RECT const* cursor = nullptr, COLORREF cursorColour = 0);
    // One cell (two with WIDE) that shows a character with its combining
    // marks, `text` (the character first), laid out as one; `how` 0 draws
    // it as Run does, else stretched as RunStretched does.
    int RunCluster(int x, int y, std::u32string_view text, COREFONT* font, COLORREF fore, COLORREF back,
                   uint32_t flags = 0, RECT const* cursor = nullptr, COLORREF cursorColour = 0, int how = 0);

    // Rectangles: FillRect blends like WINDC::FillRect, ClearRect makes the
    // pixels transparent, InvertRect inverts them (a cursor over text).
    void FillRect(RECT const& r, COLORREF colour);
    void ClearRect(RECT const& r);
    void InvertRect(RECT const& r);

private:
    int Draw(int x, int y, wchar_t const* text, int n, COREFONT* font, COLORREF fore, COLORREF back, uint32_t flags,
             RECT const* cursor, COLORREF cursorColour, int how, std::u32string_view cluster = {});

    WINDC& Dc;
    SIZE Cell;
    bool Flipped = false;
    int Height = 0;
    std::unique_ptr<plat::CellPainter> fCells;
    std::u32string Text; // the characters of a run, kept to spare an allocation per run
};

// An off-screen 32-bit bitmap (premultiplied ARGB) with its own context,
// y-up like every bitmap context; a WINDC put over it (bottom-up) draws
// top-down. Its logical size times the scale is its pixel size.
class VELMOT_EXPORT MEMORYBITMAP {
public:
    MEMORYBITMAP(plat::ViewRef view, int cx, int cy);
    MEMORYBITMAP(int cx, int cy);
    ~MEMORYBITMAP();
    MEMORYBITMAP(MEMORYBITMAP const&) = delete;
    MEMORYBITMAP& operator=(MEMORYBITMAP const&) = delete;

    // (Re)creates the bitmap, discarding the pixels; true when it has a
    // context. A side of 0 becomes 1.
    bool Init(SIZE size);
    bool Init(int cx, int cy) { return Init(SIZE{cx, cy}); }
    // 0 when the size is the current one (the pixels stay), else 1.
    int Resize(int cx, int cy);
    int Resize(plat::ViewRef view);
    // Device pixels per logical unit, as whole numbers.
    void SetAffineTransform(int sx, int sy);

    SIZE GetSize() const;
    RECT GetRect() const;
    operator plat::DrawContext*() const;
    plat::Bitmap* GetBitmap() const { return fBitmap.get(); }

    // Draws the bitmap upright (in the target's y-up sense) into the box at
    // (x, y) of its logical size.
    void Draw(int x, int y, plat::DrawContext* target);
    // Draws the source rectangle (sx, sy, scx, scy) of the bitmap into the
    // box (x, y, cx, cy) of the target.
    void DrawStretched(int x, int y, int cx, int cy, plat::DrawContext* target, int sx, int sy, int scx, int scy);

    int32_t Cx = 0;
    int32_t Cy = 0;

private:
    std::unique_ptr<plat::Bitmap> fBitmap;
    float ScaleX = 1;
    float ScaleY = 1;
    plat::ViewRef fView = nullptr;
};
