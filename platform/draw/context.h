// Drawing contexts: one drawing surface with a graphics state, a current
// path, and shape, image and text drawing.
//
// A context is made over one of three surfaces:
// - a view during its paint event (ForPainter): user space is the view's,
//   origin at the top-left corner, y growing downward ("flipped");
// - a bitmap (Bitmap::Context, bitmap.h): origin at the bottom-left corner,
//   y growing upward;
// - a print page (PrintJob::BeginPage, print.h): origin at the paper's
//   bottom-left corner, y growing upward, one unit per point (1/72 inch).
// Drawing code that wants the other orientation concatenates a flip
// (translate by the height, scale y by -1), as callers written for a y-up
// system do.
//
// Orientation rules, as in the y-up system these contexts stand in for:
// - Text (DrawText, DrawCells) is drawn upright in a y-up user space: the
//   origin is on the baseline and glyphs rise toward larger y. In a flipped
//   user space text therefore comes out upside down unless the caller flips.
// - Images (DrawImage, DrawBitmap) are drawn upright in a y-up user space:
//   the image's top row lies at the rectangle's maximum y.
// - Shadow offsets are in device units with positive y upward on the
//   surface, whatever the current transform.
//
// Graphics state (SaveState/RestoreState): transform, clip, fill and stroke
// colours, line width and cap, shadow, blend mode, antialiasing. The current
// path is not part of the state; drawing or clipping with it consumes it.
//
// Colours are straight (not premultiplied) RGBA; ColorFromValue (geometry.h)
// converts the toolkit's 0xTTBBGGRR values. Main thread only.
#pragma once

#include "platform/draw/geometry.h"

#include <memory>
#include <string_view>

namespace plat {

class Bitmap;
class Font;
class Image;
struct ContextImpl;

enum class LineCap { Butt, Round, Square };
enum class BlendMode { Normal, Difference };
enum class PathDrawing { Fill, EvenOddFill, Stroke, FillStroke, EvenOddFillStroke };

class DrawContext {
public:
    // A context over a QPainter that is active on a view during its paint
    // event, passed as void* so that callers need no Qt header. The context
    // takes the painter's current transform and clip as its starting point,
    // leaves the painter as it found it when destroyed, and must not outlive
    // the paint event. Null when the painter is null or not active.
    static std::unique_ptr<DrawContext> ForPainter(void* qpainter);

    ~DrawContext();
    DrawContext(const DrawContext&) = delete;
    DrawContext& operator=(const DrawContext&) = delete;

    // The surface: its size in user units of the default user space, whether
    // the default user space is y-up, and the bitmap drawn into (null unless
    // this is a bitmap's context).
    Size SurfaceSize() const;
    bool IsBottomUp() const;
    Bitmap* TargetBitmap() const;

    // Graphics state.
    void SaveState();
    void RestoreState(); // unmatched calls are ignored

    // Transform of user space relative to the default user space.
    void Translate(double tx, double ty);
    void Scale(double sx, double sy);
    void ConcatTransform(const AffineTransform& t); // t applies first
    AffineTransform Transform() const;
    // Device pixels per user unit along x and y (includes the surface's
    // device pixel ratio), e.g. for sizing a bitmap to device resolution.
    Size DeviceScale() const;

    // The current path, in user coordinates at the time each point is added.
    // A line or curve without a current point is ignored.
    void BeginPath();
    void MoveTo(double x, double y);
    void LineTo(double x, double y);
    void CurveTo(double c1x, double c1y, double c2x, double c2y, double x, double y); // cubic
    void ClosePath();
    void AddRect(const Rect& r);
    void AddEllipseInRect(const Rect& r);
    bool PathIsEmpty() const;
    Point CurrentPoint() const; // (0, 0) without one

    // Drawing with the current path, which is then empty.
    void FillPath();        // nonzero winding rule
    void EvenOddFillPath();
    void StrokePath();
    void DrawPath(PathDrawing mode);

    // Clipping: intersects the clip with the current path (which is then
    // empty) or with a rectangle. An empty path clips everything away.
    void Clip();
    void EvenOddClip();
    void ClipToRect(const Rect& r);
    Rect ClipBoundingBox() const; // in user space

    // Stroke and fill attributes.
    void SetLineWidth(double width); // 0 = the thinnest visible line
    void SetLineCap(LineCap cap);
    void SetFillColor(const Color& c);
    void SetStrokeColor(const Color& c);
    void SetBlendMode(BlendMode mode);
    void SetAntialias(bool on);
    // A shadow under everything drawn until the state is restored or the
    // shadow cleared: offset in device units (y up), blur radius in device
    // units (0 = sharp), colour (alpha 0 = no shadow).
    void SetShadow(Size offset, double blur, const Color& c);
    void ClearShadow();

    // Rectangles; they leave the current path alone.
    void FillRect(const Rect& r);
    void StrokeRect(const Rect& r);
    void ClearRect(const Rect& r); // to fully transparent

    // Fills the clip area with a two-stop linear gradient from `from` at
    // `start` to `to` at `end`; beyond the ends the area is painted with the
    // end colours only when the matching extend flag is set.
    void DrawLinearGradient(const Color& from, const Color& to, Point start, Point end,
                            bool extendBefore = false, bool extendAfter = false);

    // Images, scaled into the rectangle. DrawBitmap draws the bitmap's
    // current pixels without taking a copy (a bitmap drawn into its own
    // context is copied first).
    void DrawImage(const Rect& r, const Image& image);
    void DrawBitmap(const Rect& r, const Bitmap& bitmap);

    // Text in the fill colour; see the orientation rules above.
    // DrawText lays the run out as one line with its baseline origin at
    // `origin`; extraAdvance is added after every character.
    void DrawText(const Font& font, Point origin, std::u16string_view text, double extraAdvance = 0);
    void DrawText(const Font& font, Point origin, std::u32string_view text, double extraAdvance = 0);
    // DrawCells puts one character per cell on a grid of whole-pixel cells,
    // the first cell's left edge at origin.x, baseline at origin.y, so that
    // fractional advances never drift off the grid. Cells holding 0 or a
    // space draw nothing. In the UTF-16 form a surrogate pair fills one cell.
    void DrawCells(const Font& font, Point origin, std::u32string_view cells, int cellWidth);
    void DrawCells(const Font& font, Point origin, std::u16string_view cells, int cellWidth);

    // Pushes pending drawing to the surface (a no-op for the raster
    // surfaces; kept so callers can mark the end of a batch).
    void Flush();

    ContextImpl& Impl() { return *impl_; }

private:
    friend class Bitmap;
    friend class PrintJob;
    explicit DrawContext(std::unique_ptr<ContextImpl> impl);
    std::unique_ptr<ContextImpl> impl_;
};

} // namespace plat
