// Off-screen bitmaps and immutable images.
//
// A Bitmap is a 32-bit pixel buffer, 8 bits per component, alpha
// premultiplied, with its own drawing context (y-up, origin at the
// bottom-left corner, one unit per pixel; see context.h). Pixels are 32-bit
// words 0xAARRGGBB in the machine's byte order, row 0 being the top row of
// the picture (the row at the largest y of the context).
//
// An Image is an immutable picture: a snapshot of a bitmap, or a PNG file.
// Copies share the pixels. Main thread only.
#pragma once

#include "platform/draw/context.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace plat {

struct BitmapImpl;
struct ImageImpl;

class Image {
public:
    Image(); // the null image
    ~Image();
    Image(const Image&);
    Image& operator=(const Image&);

    static Image LoadPng(const std::string& path); // null when unreadable
    bool IsNull() const;
    int Width() const;
    int Height() const;
    uint32_t Pixel(int x, int row) const; // premultiplied 0xAARRGGBB; 0 outside

    const ImageImpl& Impl() const { return *impl_; }

private:
    friend class Bitmap;
    std::shared_ptr<ImageImpl> impl_;
};

class Bitmap {
public:
    // A fully transparent bitmap. Null when a side is not above 0, a side
    // exceeds 32767 pixels, or the memory cannot be had.
    static std::unique_ptr<Bitmap> Create(int width, int height);
    static std::unique_ptr<Bitmap> LoadPng(const std::string& path); // null when unreadable
    ~Bitmap();
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

    int Width() const;
    int Height() const;
    size_t BytesPerRow() const;
    uint32_t* Data();             // row 0 first, BytesPerRow() bytes per row
    const uint32_t* Data() const;
    uint32_t Pixel(int x, int row) const; // 0 outside the bitmap
    void SetPixel(int x, int row, uint32_t argb);

    // The bitmap's drawing context; it lives as long as the bitmap.
    DrawContext& Context();

    // A snapshot of the current pixels; later drawing does not change it.
    Image MakeImage() const;

    bool SavePng(const std::string& path) const;

    BitmapImpl& Impl() const { return *impl_; }

private:
    explicit Bitmap(std::unique_ptr<BitmapImpl> impl);
    std::unique_ptr<BitmapImpl> impl_;
};

} // namespace plat
