// Value types of the drawing layer: points, sizes, rectangles, affine
// transforms and colours.
//
// Coordinates are doubles in the user space of a drawing context. A
// rectangle is an origin plus a size; whether the origin is the top-left or
// the bottom-left corner depends on the context's orientation (see
// context.h). Transforms use the row-vector convention: a point (x, y) maps
// to (a*x + c*y + tx, b*x + d*y + ty).
#pragma once

#include <cstdint>

namespace plat {

struct Point {
    double x = 0;
    double y = 0;
};

struct Size {
    double width = 0;
    double height = 0;
};

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double MinX() const { return x; }
    double MinY() const { return y; }
    double MaxX() const { return x + width; }
    double MaxY() const { return y + height; }
    bool IsEmpty() const { return !(width > 0) || !(height > 0); }
};

struct AffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    static AffineTransform Identity() { return {}; }
    static AffineTransform Translation(double x, double y) { return {1, 0, 0, 1, x, y}; }
    static AffineTransform Scaling(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
    bool IsIdentity() const { return a == 1 && b == 0 && c == 0 && d == 1 && tx == 0 && ty == 0; }
    Point Apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
    bool operator==(const AffineTransform&) const = default;
};

// A colour with straight (not premultiplied) components from 0 to 1.
struct Color {
    float red = 0;
    float green = 0;
    float blue = 0;
    float alpha = 1;
    bool operator==(const Color&) const = default;
};

// The toolkit's 32-bit colour value, laid out as 0xTTBBGGRR: red in the low
// byte, then green and blue, and in the top byte a transparency T, so that
// the alpha is 1 - T/255 (0x00 opaque, 0xFF fully transparent).
inline Color ColorFromValue(uint32_t value)
{
    return Color{static_cast<float>(value & 0xFF) / 255.0f,
                 static_cast<float>((value >> 8) & 0xFF) / 255.0f,
                 static_cast<float>((value >> 16) & 0xFF) / 255.0f,
                 1.0f - static_cast<float>((value >> 24) & 0xFF) / 255.0f};
}

} // namespace plat
