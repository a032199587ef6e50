// WINDC drawing and MEMORYBITMAP. The font operations of WINDC live in
// winfont.cpp.
#include "velmot/gui/windraw.h"

#include "platform/draw/bitmap.h"
#include "platform/draw/cells.h"
#include "platform/draw/context.h"
#include "platform/events/paint.h"
#include "platform/events/views.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/tarvo.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/winfont.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cwchar>

namespace {

void Check(char const* where) { TARVOAPP::CheckCallerThread(where); }

plat::Color Colour(COLORREF value) { return plat::ColorFromValue(value); }

plat::Rect TopDown(RECT const& r)
{
    return plat::Rect{double(r.left), double(r.top), double(r.right) - r.left, double(r.bottom) - r.top};
}

bool IsEmptyDirty(RECT const& r) { return r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0; }

// The inverse of a transform; identity when it has none.
plat::AffineTransform Inverse(plat::AffineTransform const& t)
{
    double det = t.a * t.d - t.b * t.c;
    if (det == 0 || !std::isfinite(det))
        return plat::AffineTransform{};
    plat::AffineTransform i;
    i.a = t.d / det;
    i.b = -t.b / det;
    i.c = -t.c / det;
    i.d = t.a / det;
    i.tx = (t.c * t.ty - t.d * t.tx) / det;
    i.ty = (t.b * t.tx - t.a * t.ty) / det;
    return i;
}

} // namespace

// ---------------------------------------------------------------------------
// ADJUSTCOORDINATES

WINDC::ADJUSTCOORDINATES::ADJUSTCOORDINATES(WINDC& dc, bool wantBottomUp) : Dc(dc)
{
    if (dc.IsBottomUp == wantBottomUp)
        return;
    plat::DrawContext* c = dc.Context();
    if (!c)
        return;
    // The flip is its own inverse, so it is undone by applying it again:
    // cheaper than saving and restoring the whole graphics state, which
    // text output would otherwise do once per run of cells. Everything
    // drawn inside the scope sets the attributes it uses.
    Height = dc.GetHeight();
    c->ConcatTransform(plat::AffineTransform{1, 0, 0, -1, 0, double(Height)});
    Applied = true;
}

void WINDC::ADJUSTCOORDINATES::End()
{
    if (!Applied)
        return;
    if (plat::DrawContext* c = Dc.Context())
        c->ConcatTransform(plat::AffineTransform{1, 0, 0, -1, 0, double(Height)});
    Applied = false;
}

// ---------------------------------------------------------------------------
// Construction and context

WINDC::WINDC(plat::DrawContext* context, RECT rect, bool isBottomUp)
    : fContext(context), Rect(rect), IsBottomUp(isBottomUp)
{
    Check("WINDC::WINDC");
    Init();
}

WINDC::WINDC(DCWINDOW& window) : Rect(window.GetClientRect()), pWindowAutoRelease(&window)
{
    Check("WINDC::WINDC");
    AutoFlush = true;
    fContext = window.GetDC();
    Init();
}

WINDC::WINDC(PAINTSTRUCT& ps, DCWINDOW const& window) : fContext(ps.hdc), Rect(window.GetClientRect())
{
    Check("WINDC::WINDC");
    Init();
}

WINDC::~WINDC() { Release(); }

void WINDC::Init()
{
    hFont = nullptr;
    hFontContext = nullptr;
    DirtyRect = RECT{};
    CurPos.x = CurPos.y = 0;
    InClipPath = false;
    AutoFlush = pWindowAutoRelease != nullptr;
    BkMode = WINDC_TRANSPARENT;
    TextAlign = 0;
    BkColor = OSYS::GetSysColor(5);
    TextColor = OSYS::GetSysColor(8);
    LineWidth = 0.98f;
    if (fContext)
        fContext->SetAntialias(true);
}

void WINDC::Release()
{
    Check("WINDC::Release");
    if (hFont) {
        ASSERTMSG(!this->hFont, "WINDC::Release");
        // The layout belongs to this DC; the font stays the caller's.
        if (hFontContext)
            hFont->CleanupContext(hFontContext);
        hFont = nullptr;
        hFontContext = nullptr;
    }
    if (pWindowAutoRelease) {
        pWindowAutoRelease->ReleaseDC(Context());
        pWindowAutoRelease = nullptr;
        fContext = nullptr;
    }
}

void WINDC::ChangeContextHandle(plat::DrawContext* newContext, plat::DrawContext* oldContext)
{
    Check("WINDC::ChangeContextHandle");
    ASSERTMSG(!this->pWindowAutoRelease, nullptr);
    ASSERTMSG(oldContext == this->fContext, "(CGContextRef)foldcontext==this->fContext");
    fContext = newContext;
}

void WINDC::SetRect(RECT r)
{
    Check("WINDC::SetRect");
    Rect = RECT{0, 0, r.right - r.left, r.bottom - r.top};
}

int WINDC::GetHeight() const
{
    if (pWindowAutoRelease)
        return pWindowAutoRelease->GetSize().cy;
    return Rect.bottom - Rect.top;
}

plat::DrawContext* WINDC::Context() const
{
    if (pWindowAutoRelease)
        return pWindowAutoRelease->GetDC();
    return fContext;
}

// ---------------------------------------------------------------------------
// Dirty tracking

void WINDC::MarkDirty(RECT const* r)
{
    if (!r) {
        DirtyRect = RECT{};
        return;
    }
    if (IsEmptyDirty(DirtyRect)) {
        DirtyRect = *r;
    } else {
        DirtyRect.left = std::min(DirtyRect.left, r->left);
        DirtyRect.top = std::min(DirtyRect.top, r->top);
        DirtyRect.right = std::max(DirtyRect.right, r->right);
        DirtyRect.bottom = std::max(DirtyRect.bottom, r->bottom);
    }
    if (pWindowAutoRelease && AutoFlush)
        FlushDirty();
}

void WINDC::FlushDirty()
{
    Check("WINDC::FlushDirty");
    if (!ASSERTMSG(this->pWindowAutoRelease, nullptr) || !pWindowAutoRelease)
        return;
    pWindowAutoRelease->Invalidate(&DirtyRect);
    DirtyRect = RECT{};
}

// ---------------------------------------------------------------------------
// Lines and curves

int WINDC::MoveTo(int x, int y, POINT* old)
{
    Check("WINDC::MoveTo");
    // Half a line width puts a thin line on one row or column of pixels
    // instead of across two; a clip path wants the exact edge.
    double off = InClipPath ? 0.0 : 0.5 * LineWidth;
    if (old)
        *old = POINT{int32_t(CurPos.x), int32_t(CurPos.y)};
    return MoveTo(x + off, y + off, static_cast<plat::Point*>(nullptr));
}

int WINDC::MoveTo(double x, double y, plat::Point* old)
{
    Check("WINDC::MoveTo");
    if (old)
        *old = plat::Point{CurPos.x, CurPos.y};
    CurPos.x = float(x);
    CurPos.y = float(y);
    if (InClipPath) {
        if (plat::DrawContext* c = Context()) {
            ADJUSTCOORDINATES adjust(*this, false);
            c->MoveTo(x, y);
        }
    }
    return 1;
}

void WINDC::StrokeTo(COLORREF colour)
{
    plat::DrawContext* c = Context();
    c->SetLineWidth(LineWidth);
    c->SetLineCap(plat::LineCap::Square);
    c->SetStrokeColor(Colour(colour));
    c->StrokePath();
}

int WINDC::LineTo(int x, int y, COLORREF colour)
{
    Check("WINDC::LineTo");
    double off = InClipPath ? 0.0 : 0.5 * LineWidth;
    return LineTo(x + off, y + off, colour);
}

int WINDC::LineTo(double x, double y, COLORREF colour)
{
    Check("WINDC::LineTo");
    plat::DrawContext* c = Context();
    if (!c)
        return 0;
    {
        ADJUSTCOORDINATES adjust(*this, false);
        if (!InClipPath) {
            c->BeginPath();
            c->MoveTo(CurPos.x, CurPos.y);
        }
        c->LineTo(x, y);
        if (!InClipPath)
            StrokeTo(colour);
    }
    CurPos.x = float(x);
    CurPos.y = float(y);
    return 1;
}

int WINDC::Line(int x1, int y1, int x2, int y2, COLORREF colour)
{
    Check("WINDC::Line");
    auto saved = CurPos;
    MoveTo(x1, y1);
    LineTo(x2, y2, colour);
    CurPos = saved;
    return 1;
}

int WINDC::Line(double x1, double y1, double x2, double y2, COLORREF colour)
{
    Check("WINDC::Line");
    auto saved = CurPos;
    MoveTo(x1, y1);
    LineTo(x2, y2, colour);
    CurPos = saved;
    return 1;
}

int WINDC::CurveTo(int x, int y, int cx, int cy, COLORREF colour)
{
    Check("WINDC::CurveTo");
    double off = InClipPath ? 0.0 : 0.5 * LineWidth;
    return CurveTo(x + off, y + off, cx + off, cy + off, colour);
}

int WINDC::CurveTo(double x, double y, double cx, double cy, COLORREF colour)
{
    Check("WINDC::CurveTo");
    plat::DrawContext* c = Context();
    if (!c)
        return 0;
    const double px = CurPos.x, py = CurPos.y;
    {
        ADJUSTCOORDINATES adjust(*this, false);
        if (!InClipPath) {
            c->BeginPath();
            c->MoveTo(px, py);
        }
        // The curve leaves the pen toward the corner point and arrives from
        // it, each control point halfway to the corner.
        c->CurveTo((px + cx) / 2, (py + cy) / 2, (x + cx) / 2, (y + cy) / 2, x, y);
        if (!InClipPath)
            StrokeTo(colour);
    }
    CurPos.x = float(x);
    CurPos.y = float(y);
    return 1;
}

// ---------------------------------------------------------------------------
// Shapes

int WINDC::FillRect(RECT const* r, COLORREF colour)
{
    Check("WINDC::FillRect");
    plat::DrawContext* c = Context();
    if (!c)
        return 0;
    RECT area = r ? *r : Rect;
    {
        ADJUSTCOORDINATES adjust(*this, false);
        c->SetFillColor(Colour(colour));
        c->FillRect(TopDown(area));
    }
    MarkDirty(&area);
    return 1;
}

int WINDC::ClearRect(RECT const* r)
{
    Check("WINDC::ClearRect");
    plat::DrawContext* c = Context();
    if (!c)
        return 0;
    RECT area = r ? *r : Rect;
    {
        ADJUSTCOORDINATES adjust(*this, false);
        c->ClearRect(TopDown(area));
    }
    MarkDirty(&area);
    return 1;
}

int WINDC::InvertRect(RECT const& r)
{
    Check("WINDC::InvertRect");
    plat::DrawContext* c = Context();
    if (!c)
        return 0;
    c->SetBlendMode(plat::BlendMode::Difference);
    FillRect(&r, 0xFFFFFF);
    c->SetBlendMode(plat::BlendMode::Normal);
    return 1;
}

int WINDC::DrawRect(RECT const& r, COLORREF line, COLORREF fill)
{
    Check("WINDC::DrawRect");
    if (fill != WINDC_NOCOLOR) {
        RECT inside{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
        FillRect(&inside, fill);
    }
    MoveTo(r.left, r.bottom - 1);
    LineTo(r.left, r.top, line);
    LineTo(r.right - 1, r.top, line);
    LineTo(r.right - 1, r.bottom - 1, line);
    LineTo(r.left, r.bottom - 1, line);
    MarkDirty(&r);
    return 1;
}

namespace {

// The outline of a rounded rectangle through the DC's pen operations, so
// that it strokes or, inside a clip path, outlines.
void TraceRoundRect(WINDC& dc, RECT const& r, int radius, COLORREF colour)
{
    const int rr = r.right - 1, bb = r.bottom - 1, R = radius;
    dc.MoveTo(r.left, bb - R);
    dc.LineTo(r.left, r.top + R, colour);
    dc.CurveTo(r.left + R, r.top, r.left, r.top, colour);
    dc.LineTo(rr - R, r.top, colour);
    dc.CurveTo(rr, r.top + R, rr, r.top, colour);
    dc.LineTo(rr, bb - R, colour);
    dc.CurveTo(rr - R, bb, rr, bb, colour);
    dc.LineTo(r.left + R, bb, colour);
    dc.CurveTo(r.left, bb - R, r.left, bb, colour);
}

} // namespace

int WINDC::DrawRoundRect(RECT const& r, int radius, COLORREF line, COLORREF fill)
{
    Check("WINDC::DrawRoundRect");
    if (fill != WINDC_NOCOLOR) {
        RECT grown{r.left, r.top, r.right + 1, r.bottom + 1};
        BeginClipPath();
        TraceRoundRect(*this, grown, radius, fill);
        EndClipPath();
        FillRect(&grown, fill);
        ClearClipPath();
    }
    TraceRoundRect(*this, r, radius, line);
    return 1;
}

int WINDC::DrawEllipse(RECT const* r, COLORREF line, COLORREF fill)
{
    Check("WINDC::DrawEllipse");
    plat::DrawContext* c = Context();
    if (!c)
        return 0;
    RECT area = r ? *r : Rect;
    const int w = area.right - area.left - 1, h = area.bottom - area.top - 1;
    if (w <= 0 || h <= 0)
        return 1;
    const plat::Rect box{area.left + 0.5, area.top + 0.5, double(w), double(h)};
    ADJUSTCOORDINATES adjust(*this, false);
    if (fill != WINDC_NOCOLOR) {
        c->BeginPath();
        c->AddEllipseInRect(box);
        c->SetFillColor(Colour(fill));
        c->FillPath();
    }
    c->BeginPath();
    c->AddEllipseInRect(box);
    c->SetLineWidth(LineWidth);
    c->SetStrokeColor(Colour(line));
    c->StrokePath();
    return 1;
}

int WINDC::DrawPolygon(POINT const* points, int count, COLORREF line, COLORREF fill)
{
    Check("WINDC::DrawPolygon");
    plat::DrawContext* c = Context();
    if (!c || !points || count < 2)
        return 1;
    ADJUSTCOORDINATES adjust(*this, false);
    auto trace = [&] {
        c->BeginPath();
        c->MoveTo(points[0].x + 0.5, points[0].y + 0.5);
        for (int i = 1; i < count; ++i)
            c->LineTo(points[i].x + 0.5, points[i].y + 0.5);
        c->ClosePath();
    };
    if (fill != WINDC_NOCOLOR) {
        trace();
        c->SetFillColor(Colour(fill));
        c->FillPath();
    }
    trace();
    c->SetLineWidth(LineWidth);
    c->SetStrokeColor(Colour(line));
    c->StrokePath();
    return 1;
}

int WINDC::NiceRCL(RECT const& r, int mode, bool fill, COLORREF colour)
{
    Check("WINDC::NiceRCL");
    ASSERTMSG(mode == 2 || mode == 1 || mode == 0 || mode == -1 || mode == -2, nullptr);
    const COLORREF face = colour == WINDC_NOCOLOR ? OSYS::GetSysColor(15) : colour;
    COLORREF light = face, dark = face;
    switch (mode) {
    case 1: light = OSYS::GetSysColor(22); dark = OSYS::GetSysColor(16); break;
    case 2: light = OSYS::GetSysColor(22); dark = OSYS::GetSysColor(21); break;
    case -1: light = OSYS::GetSysColor(16); dark = OSYS::GetSysColor(22); break;
    case -2: light = OSYS::GetSysColor(21); dark = OSYS::GetSysColor(22); break;
    default: break;
    }
    MoveTo(r.left, r.bottom);
    LineTo(r.left, r.top, light);
    LineTo(r.right, r.top, light);
    LineTo(r.right, r.bottom, dark);
    LineTo(r.left, r.bottom, dark);
    if (fill) {
        RECT inside{r.left + 1, r.top + 1, r.right, r.bottom};
        FillRect(&inside, face);
    }
    MarkDirty(&r);
    return 1;
}

int WINDC::DrawShadowRect(RECT const& r, COLORREF colour, int depth, int dx, int dy)
{
    Check("WINDC::DrawShadowRect");
    plat::DrawContext* c = Context();
    if (!c)
        return 0;
    c->SaveState();
    c->SetShadow(plat::Size{double(dx), double(dy - depth)}, depth + 8.0,
                 plat::Color{0, 0, 0, float(std::clamp(depth * 0.25, 0.0, 1.0))});
    FillRect(&r, colour);
    c->RestoreState();
    return 1;
}

int WINDC::FillRectGradient(RECT const* r, COLORREF from, COLORREF to, bool vertical, RECT const* clip)
{
    Check("WINDC::FillRectGradient");
    plat::DrawContext* c = Context();
    if (!c)
        return 1;
    const RECT area = r ? *r : Rect;
    ADJUSTCOORDINATES adjust(*this, false);
    c->SaveState();
    c->ClipToRect(TopDown(clip ? *clip : area));
    // The axis runs from edge to edge through the rectangle's middle. (The
    // other coordinate does not change a linear gradient, but the drawing
    // layer only paints the band near the axis' end points, so they must
    // lie by the rectangle.)
    const double midX = (area.left + area.right) / 2.0, midY = (area.top + area.bottom) / 2.0;
    plat::Point start, end;
    if (vertical) {
        start = plat::Point{midX, double(area.top)};
        end = plat::Point{midX, double(area.bottom)};
    } else {
        start = plat::Point{double(area.left), midY};
        end = plat::Point{double(area.right), midY};
    }
    c->DrawLinearGradient(Colour(from), Colour(to), start, end, false, false);
    c->RestoreState();
    adjust.End();
    MarkDirty(&area);
    return 0;
}

int WINDC::DrawIcon(plat::Image const* icon, int x, int y, int cx, int cy)
{
    Check("WINDC::DrawIcon");
    plat::DrawContext* c = Context();
    if (!c || !icon || icon->IsNull())
        return 0;
    {
        ADJUSTCOORDINATES adjust(*this, true);
        c->DrawImage(plat::Rect{double(x), double(GetHeight() - y - cy), double(cx), double(cy)}, *icon);
    }
    RECT box{x, y, x + cx, y + cy};
    MarkDirty(&box);
    return 1;
}

int WINDC::BitBlt(POINT from, POINT to, SIZE size)
{
    Check("WINDC::BitBlt");
    plat::DrawContext* c = Context();
    plat::Bitmap* bitmap = c ? c->TargetBitmap() : nullptr;
    if (!bitmap) {
        AssertMsg(0, "data", __FILE__, __LINE__);
        return 0;
    }
    {
        ADJUSTCOORDINATES adjust(*this, false);
        c->SaveState();
        c->ClipToRect(plat::Rect{double(to.x), double(to.y), double(size.cx), double(size.cy)});
        // The move is worked out in the bitmap's own pixel space, where the
        // whole bitmap drawn at the origin covers itself exactly; so the
        // pixels land unmirrored whichever way the DC's y axis runs.
        const plat::AffineTransform t = c->Transform();
        const plat::Point pf = t.Apply(plat::Point{double(from.x), double(from.y)});
        const plat::Point pt = t.Apply(plat::Point{double(to.x), double(to.y)});
        c->ConcatTransform(Inverse(t));
        c->DrawBitmap(plat::Rect{pt.x - pf.x, pt.y - pf.y, double(bitmap->Width()), double(bitmap->Height())},
                      *bitmap);
        c->RestoreState();
    }
    RECT dirty{to.x, to.y, to.x + size.cx, to.y + size.cy};
    MarkDirty(&dirty);
    return 1;
}

// ---------------------------------------------------------------------------
// Clipping

void WINDC::BeginClipPath()
{
    Check("WINDC::BeginClipPath");
    ASSERTMSG(!this->InClipPath, nullptr);
    plat::DrawContext* c = Context();
    if (!c)
        return;
    InClipPath = true;
    c->SaveState();
    ADJUSTCOORDINATES adjust(*this, false);
    c->BeginPath();
    c->MoveTo(CurPos.x, CurPos.y);
}

void WINDC::EndClipPath()
{
    Check("WINDC::EndClipPath");
    ASSERTMSG(this->InClipPath, nullptr);
    if (plat::DrawContext* c = Context())
        c->Clip();
    InClipPath = false;
}

void WINDC::ClearClipPath()
{
    Check("WINDC::ClearClipPath");
    ASSERTMSG(!this->InClipPath, nullptr);
    if (plat::DrawContext* c = Context())
        c->RestoreState();
}

void WINDC::SetClipRect(RECT const* r)
{
    Check("WINDC::SetClipRect");
    plat::DrawContext* c = Context();
    if (!c)
        return;
    if (!r) {
        c->RestoreState();
        return;
    }
    c->SaveState();
    // The clip must outlive this call, so it cannot be set inside a flip
    // that is undone on return: the rectangle is turned around instead.
    plat::Rect clip = TopDown(*r);
    if (IsBottomUp)
        clip.y = GetHeight() - r->bottom;
    c->ClipToRect(clip);
}

// ---------------------------------------------------------------------------
// Text

namespace {

size_t Length16(unsigned short const* text)
{
    size_t n = 0;
    while (text[n])
        ++n;
    return n;
}

// Characters, counting a surrogate pair once.
size_t CharCount(std::u16string_view text)
{
    size_t n = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF)
            ++i;
        ++n;
    }
    return n;
}
size_t CharCount(std::u32string_view text) { return text.size(); }

// Wide characters as UTF-16: characters outside the Basic Multilingual
// Plane become surrogate pairs instead of losing their upper bits.
void ToUtf16(wchar_t const* text, size_t n, std::u16string& out)
{
    out.clear();
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        uint32_t c = static_cast<uint32_t>(text[i]);
        if (c >= 0x10000 && c <= 0x10FFFF) {
            c -= 0x10000;
            out.push_back(char16_t(0xD800 + (c >> 10)));
            out.push_back(char16_t(0xDC00 + (c & 0x3FF)));
        } else if (c > 0x10FFFF) {
            out.push_back(u'\uFFFD');
        } else {
            out.push_back(char16_t(c));
        }
    }
}

} // namespace

template <class View>
int WINDC::TextOut(int x, int y, View text, POINT* end)
{
    plat::DrawContext* c = Context();
    if (!ASSERTMSG(this->hFont, nullptr) || !ASSERTMSG(this->hFontContext, nullptr) || !hFont || !hFontContext ||
        !c)
        return 0;
    int cell = 0, height = 0, descent = 0;
    GetFontSize(&cell, &height, &descent);

    // The text box: whole cells for a fixed-pitch font, else the measured
    // extent.
    int left = 0, right = 0;
    if (hFont->Fixed) {
        right = int(CharCount(text)) * cell;
    } else {
        std::u16string measured;
        if constexpr (std::is_same_v<View, std::u16string_view>) {
            measured.assign(text);
        } else {
            std::wstring w(text.begin(), text.end());
            ToUtf16(w.data(), w.size(), measured);
        }
        RECT box{};
        if (hFont->GetStringInfo(hFontContext, c, reinterpret_cast<unsigned short const*>(measured.data()),
                                 int(measured.size()), &box)) {
            left = box.left;
            right = box.right;
        }
    }
    const int w = right - left;

    int start = x;
    switch (TextAlign & 6) {
    case WINDC_TA_CENTER: start = x - w / 2; break;
    case WINDC_TA_RIGHT: start = x - w; break;
    default: break;
    }
    // The baseline's distance above the point given, and the top of the
    // box the text fills.
    int offset = height - descent, top = y;
    switch (TextAlign & 24) {
    case WINDC_TA_BASELINE: offset = 0; top = y - (height - descent); break;
    case WINDC_TA_BOTTOM: offset = -descent; top = y - height; break;
    default: break;
    }
    // The box where the text lands (also after alignment), so that the
    // background and the repaint cover the text itself.
    RECT box{start + left, top, start + right, top + height};

    if (BkMode == WINDC_OPAQUE) {
        ADJUSTCOORDINATES adjust(*this, false);
        c->SetFillColor(Colour(BkColor));
        c->FillRect(TopDown(box));
    }
    c->SetFillColor(Colour(TextColor));
    hFont->Colour = TextColor;
    if (end)
        *end = POINT{x + w, y};
    {
        ADJUSTCOORDINATES adjust(*this, true);
        hFont->DrawRun(hFontContext, c, start, double(GetHeight() - y - offset), text);
    }
    MarkDirty(&box);
    return 1;
}

int WINDC::DrawText16(int x, int y, std::u16string_view text, POINT* end) { return TextOut(x, y, text, end); }
int WINDC::DrawText32(int x, int y, std::u32string_view text, POINT* end) { return TextOut(x, y, text, end); }

int WINDC::StringOutU(int x, int y, unsigned short const* text, int length, POINT* end)
{
    Check("WINDC::StringOutU");
    if (!text)
        return 0;
    size_t n = length < 0 ? Length16(text) : size_t(length);
    Scratch16.assign(text, text + n);
    return DrawText16(x, y, Scratch16, end);
}

int WINDC::StringOutW(int x, int y, wchar_t const* text, int length, POINT* end)
{
    Check("WINDC::StringOutW");
    if (!text)
        return 0;
    size_t n = length < 0 ? wcslen(text) : size_t(length);
    if (hFont && hFont->Fixed) {
        // The cell grid takes whole characters; no UTF-16 detour.
        Scratch32.resize(n);
        for (size_t i = 0; i < n; ++i)
            Scratch32[i] = char32_t(text[i]);
        return DrawText32(x, y, Scratch32, end);
    }
    ToUtf16(text, n, Scratch16);
    return DrawText16(x, y, Scratch16, end);
}

int WINDC::StringOut(int x, int y, char const* text, int length, POINT* end)
{
    Check("WINDC::StringOut");
    if (!text)
        return 0;
    int32_t n = length < 0 ? int32_t(strlen(text)) : length;
    WSTRING wide(text, n, hFont ? hFont->CodePage : UNICODE_CPDEFAULT);
    return StringOutW(x, y, wide.Buf(), wide.Length(), end);
}

SIZE WINDC::GetTextSizeW(wchar_t const* text, int length)
{
    Check("WINDC::GetTextSizeW");
    if (!text) {
        text = L" ";
        length = 1;
    }
    plat::DrawContext* c = Context();
    if (!ASSERTMSG(this->hFont, nullptr) || !ASSERTMSG(this->hFontContext, nullptr) || !hFont || !hFontContext)
        return SIZE{};
    // The whole text is measured, however long.
    size_t n = length < 0 ? wcslen(text) : size_t(length);
    ToUtf16(text, n, Scratch16);
    RECT box{};
    {
        ADJUSTCOORDINATES adjust(*this, false);
        hFont->GetStringInfo(hFontContext, c, reinterpret_cast<unsigned short const*>(Scratch16.data()),
                             int(Scratch16.size()), &box);
    }
    return SIZE{box.right - box.left, hFontContext->CellHeight};
}

SIZE WINDC::GetTextSize(char const* text, int length)
{
    Check("WINDC::GetTextSize");
    if (!text) {
        text = " ";
        length = 1;
    }
    int32_t n = length < 0 ? int32_t(strlen(text)) : length;
    WSTRING wide(text, n, hFont ? hFont->CodePage : UNICODE_CPDEFAULT);
    return GetTextSizeW(wide.Buf(), wide.Length());
}

// ---------------------------------------------------------------------------
// PAINTPASS

PAINTPASS::PAINTPASS(plat::Event& drawEvent)
{
    Check("PAINTPASS::PAINTPASS");
    plat::PainterRef painter = nullptr;
    if (drawEvent.Get(plat::kParamDrawContext, plat::kTypePainter, &painter) == plat::kNoErr)
        fContext = plat::DrawContext::ForPainter(painter);
    Ps.hdc = fContext.get();
    plat::RectI bounds{};
    drawEvent.Get(plat::kParamUpdateRect, plat::kTypeIntRect, &bounds);
    Ps.rcPaint = RECT{bounds.left, bounds.top, bounds.right, bounds.bottom};
    for (plat::RectI const& r : plat::GetUpdateRects(drawEvent))
        Ps.rcRegion.push_back(RECT{r.left, r.top, r.right, r.bottom});
}

PAINTPASS::~PAINTPASS() = default;

// ---------------------------------------------------------------------------
// CELLPAINTER

namespace {

plat::AffineTransform FlipAbout(int height) { return plat::AffineTransform{1, 0, 0, -1, 0, double(height)}; }

} // namespace

CELLPAINTER::CELLPAINTER(WINDC& dc, SIZE cell, int baseline) : Dc(dc), Cell(cell)
{
    Check("CELLPAINTER::CELLPAINTER");
    plat::DrawContext* c = dc.Context();
    if (!c)
        return;
    if (dc.IsBottomUp) {
        Height = dc.GetHeight();
        c->ConcatTransform(FlipAbout(Height));
        dc.IsBottomUp = false;
        Flipped = true;
    }
    fCells = std::make_unique<plat::CellPainter>(*c, cell.cx, cell.cy, baseline);
}

CELLPAINTER::~CELLPAINTER()
{
    Check("CELLPAINTER::~CELLPAINTER");
    fCells.reset();
    if (Flipped) {
        if (plat::DrawContext* c = Dc.Context())
            c->ConcatTransform(FlipAbout(Height));
        Dc.IsBottomUp = true;
    }
}

int CELLPAINTER::Draw(int x, int y, wchar_t const* text, int n, COREFONT* font, COLORREF fore, COLORREF back,
                      uint32_t flags, RECT const* cursor, COLORREF cursorColour, int how, std::u32string_view cluster)
{
    if (!fCells || !text || n <= 0 || Cell.cx <= 0 || Cell.cy <= 0)
        return 0;
    Text.resize(size_t(n));
    for (int i = 0; i < n; ++i)
        Text[size_t(i)] = char32_t(text[i]);
    plat::CellRun run;
    run.cluster = cluster;
    run.font = font ? font->FontRef.get() : nullptr;
    run.x = x;
    run.y = y;
    run.cells = Text;
    run.fore = Colour(fore);
    run.back = Colour(back);
    run.flags = ((flags & UNDERLINE) ? plat::kCellUnderline : 0) | ((flags & WIDE) ? plat::kCellWide : 0);
    if (cursor) {
        run.cursor = TopDown(*cursor);
        run.cursorColor = Colour(cursorColour);
    }
    int width = n * Cell.cx * ((flags & WIDE) ? 2 : 1);
    switch (how) {
    case 0: fCells->DrawRun(run); break;
    case DOUBLEWIDTH: fCells->DrawRunStretched(run, plat::CellStretch::DoubleWidth); break;
    case DOUBLEHEIGHTTOP: fCells->DrawRunStretched(run, plat::CellStretch::DoubleHeightTop); break;
    case DOUBLEHEIGHTBOTTOM: fCells->DrawRunStretched(run, plat::CellStretch::DoubleHeightBottom); break;
    default: fCells->DrawRunStretched(run, plat::CellStretch::DoubleHeightBottom); break;
    }
    if (how)
        width *= 2;
    RECT box{x, y, x + width, y + Cell.cy};
    Dc.MarkDirty(&box);
    return 1;
}

int CELLPAINTER::Run(int x, int y, wchar_t const* text, int n, COREFONT* font, COLORREF fore, COLORREF back,
                     uint32_t flags, RECT const* cursor, COLORREF cursorColour)
{
    Check("CELLPAINTER::Run");
    return Draw(x, y, text, n, font, fore, back, flags, cursor, cursorColour, 0);
}

int CELLPAINTER::RunCluster(int x, int y, std::u32string_view text, COREFONT* font, COLORREF fore, COLORREF back,
                            uint32_t flags, RECT const* cursor, COLORREF cursorColour, int how)
{
    Check("CELLPAINTER::RunCluster");
    if (text.empty())
        return 0;
    if (how != 0 && how != DOUBLEWIDTH && how != DOUBLEHEIGHTTOP && how != DOUBLEHEIGHTBOTTOM) {
        AssertMsg(0, "how", __FILE__, __LINE__);
        return 0;
    }
    wchar_t const first = wchar_t(text[0]);
    return Draw(x, y, &first, 1, font, fore, back, flags, cursor, cursorColour, how, text);
}

int CELLPAINTER::RunStretched(int x, int y, wchar_t const* text, int n, COREFONT* font, COLORREF fore,
                              COLORREF back, uint32_t flags, int how, RECT const* cursor, COLORREF cursorColour)
{
    Check("CELLPAINTER::RunStretched");
    if (how != DOUBLEWIDTH && how != DOUBLEHEIGHTTOP && how != DOUBLEHEIGHTBOTTOM) {
        AssertMsg(0, "how", __FILE__, __LINE__);
        return 0;
    }
    return Draw(x, y, text, n, font, fore, back, flags, cursor, cursorColour, how);
}

void CELLPAINTER::FillRect(RECT const& r, COLORREF colour)
{
    Check("CELLPAINTER::FillRect");
    if (!fCells)
        return;
    fCells->FillRect(TopDown(r), Colour(colour));
    Dc.MarkDirty(&r);
}

void CELLPAINTER::ClearRect(RECT const& r)
{
    Check("CELLPAINTER::ClearRect");
    if (!fCells)
        return;
    fCells->ClearRect(TopDown(r));
    Dc.MarkDirty(&r);
}

void CELLPAINTER::InvertRect(RECT const& r)
{
    Check("CELLPAINTER::InvertRect");
    if (!fCells)
        return;
    fCells->InvertRect(TopDown(r));
    Dc.MarkDirty(&r);
}

// ---------------------------------------------------------------------------
// MEMORYBITMAP

MEMORYBITMAP::MEMORYBITMAP(plat::ViewRef view, int cx, int cy) : fView(view)
{
    Check("MEMORYBITMAP::MEMORYBITMAP");
    if (cx > 0 && cy > 0) {
        Init(cx, cy);
    } else if (view) {
        plat::RectI frame = plat::GetViewFrame(view);
        Init(frame.Width(), frame.Height());
    } else {
        Init(0, 0);
    }
}

MEMORYBITMAP::MEMORYBITMAP(int cx, int cy)
{
    Check("MEMORYBITMAP::MEMORYBITMAP");
    if (cx > 0 && cy > 0)
        Init(cx, cy);
    else
        Init(0, 0);
}

MEMORYBITMAP::~MEMORYBITMAP() { Check("MEMORYBITMAP::~MEMORYBITMAP"); }

bool MEMORYBITMAP::Init(SIZE size)
{
    Check("MEMORYBITMAP::Init");
    LOGIF(2, "MEMORYBITMAP::Init size.cx= %d, size.cy= %d\n", size.cx, size.cy);
    fBitmap.reset();
    if (size.cx <= 0 || size.cy <= 0) {
        LOGIT("MEMORYBITMAP::Init WARNING: size.cx= %d, size.cy= %d\n", size.cx, size.cy);
        size.cx = std::max(size.cx, 1);
        size.cy = std::max(size.cy, 1);
        LOGIT("MEMORYBITMAP::Init WARNING: now size.cx= %d, size.cy= %d\n", size.cx, size.cy);
    }
    // The bitmap is made at device resolution; sides beyond what the
    // drawing layer takes leave it without a context.
    const int64_t pw = int64_t(int(ScaleX)) * size.cx, ph = int64_t(int(ScaleY)) * size.cy;
    if (pw > 0 && ph > 0 && pw <= INT32_MAX && ph <= INT32_MAX)
        fBitmap = plat::Bitmap::Create(int(pw), int(ph));
    if (fBitmap) {
        plat::DrawContext& c = fBitmap->Context();
        // Drawing uses logical units; this state stays for the bitmap's life.
        c.SaveState();
        c.Scale(int(ScaleX), int(ScaleY));
    } else {
        AssertMsg(0, "this->fBitmapContext", __FILE__, __LINE__);
    }
    Cx = size.cx;
    Cy = size.cy;
    LOGIF(2, "MEMORYBITMAP::Init this->fBitmapContext= %p\n", static_cast<void*>(fBitmap.get()));
    LOGIF(2, "MEMORYBITMAP::Init finished\n");
    return fBitmap != nullptr;
}

int MEMORYBITMAP::Resize(int cx, int cy)
{
    Check("MEMORYBITMAP::Resize");
    if (cx == Cx && cy == Cy)
        return 0;
    LOGIT("MEMORYBITMAP::Resize %dx%d -> %dx%d\n", Cx, Cy, cx, cy);
    Init(cx, cy);
    LOGIT("MEMORYBITMAP::Resize done\n");
    return 1;
}

int MEMORYBITMAP::Resize(plat::ViewRef view)
{
    Check("MEMORYBITMAP::Resize");
    if (!view)
        view = fView;
    ASSERTMSG(view == this->fView, "fview==this->fView");
    plat::RectI frame = plat::GetViewFrame(view);
    return Resize(frame.Width(), frame.Height());
}

void MEMORYBITMAP::SetAffineTransform(int sx, int sy)
{
    Check("MEMORYBITMAP::SetAffineTransform");
    sx = std::max(sx, 1);
    sy = std::max(sy, 1);
    if (int(ScaleX) == sx && int(ScaleY) == sy)
        return;
    ScaleX = float(sx);
    ScaleY = float(sy);
    Init(Cx, Cy);
}

SIZE MEMORYBITMAP::GetSize() const
{
    // The logical size: the units a WINDC over the bitmap draws in,
    // whatever the scale to device pixels.
    return SIZE{Cx, Cy};
}

RECT MEMORYBITMAP::GetRect() const { return RECT{0, 0, Cx, Cy}; }

MEMORYBITMAP::operator plat::DrawContext*() const { return fBitmap ? &fBitmap->Context() : nullptr; }

void MEMORYBITMAP::Draw(int x, int y, plat::DrawContext* target)
{
    Check("MEMORYBITMAP::Draw");
    if (!fBitmap || !target)
        return;
    target->DrawBitmap(plat::Rect{double(x), double(y), double(Cx), double(Cy)}, *fBitmap);
}

void MEMORYBITMAP::DrawStretched(int x, int y, int cx, int cy, plat::DrawContext* target, int sx, int sy, int scx,
                                 int scy)
{
    Check("MEMORYBITMAP::DrawStretched");
    if (!fBitmap || !target || scx <= 0 || scy <= 0)
        return;
    target->SaveState();
    target->ClipToRect(plat::Rect{double(x), double(y), double(cx), double(cy)});
    // Source coordinates are logical units, so the scale to device pixels
    // plays no part here.
    const double fx = double(cx) / scx, fy = double(cy) / scy;
    target->DrawBitmap(plat::Rect{double(int(x - sx * fx)), double(int(y - sy * fy)), double(int(Cx * fx)),
                                  double(int(Cy * fy))},
                       *fBitmap);
    target->RestoreState();
}
