#include "platform/draw/qtdraw_p.h"

#include <QImageReader>

namespace plat {
namespace {

constexpr int kMaxSide = 32767;

QImage ReadPng(const std::string& path)
{
    QImageReader reader(QString::fromStdString(path), "png");
    // Refuse pictures whose pixels would need more than 1 GiB.
    reader.setAllocationLimit(1024);
    QImage img = reader.read();
    if (img.isNull() || img.width() > kMaxSide || img.height() > kMaxSide)
        return QImage();
    return img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

uint32_t PixelOf(const QImage& img, int x, int row)
{
    if (img.isNull() || x < 0 || row < 0 || x >= img.width() || row >= img.height())
        return 0;
    return reinterpret_cast<const uint32_t*>(img.constScanLine(row))[x];
}

} // namespace

// Image

Image::Image() = default;
Image::~Image() = default;
Image::Image(const Image&) = default;
Image& Image::operator=(const Image&) = default;

Image Image::LoadPng(const std::string& path)
{
    Image result;
    QImage img = ReadPng(path);
    if (img.isNull())
        return result;
    QImage hires;
    const size_t dot = path.rfind('.');
    if (dot != std::string::npos && path.compare(dot, std::string::npos, ".png") == 0) {
        hires = ReadPng(path.substr(0, dot) + "@2x.png");
        if (hires.width() != 2 * img.width() || hires.height() != 2 * img.height())
            hires = QImage();
    }
    result.impl_ = std::make_shared<ImageImpl>(ImageImpl{std::move(img), std::move(hires)});
    return result;
}

bool Image::IsNull() const { return !impl_ || impl_->image.isNull(); }
int Image::Width() const { return impl_ ? impl_->image.width() : 0; }
int Image::Height() const { return impl_ ? impl_->image.height() : 0; }
uint32_t Image::Pixel(int x, int row) const { return impl_ ? PixelOf(impl_->image, x, row) : 0; }

// Bitmap

Bitmap::Bitmap(std::unique_ptr<BitmapImpl> impl) : impl_(std::move(impl)) {}

Bitmap::~Bitmap()
{
    // The context's painter must end before the image it paints on goes.
    impl_->context.reset();
}

std::unique_ptr<Bitmap> Bitmap::Create(int width, int height)
{
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return nullptr;
    auto impl = std::make_unique<BitmapImpl>();
    impl->image = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
    if (impl->image.isNull())
        return nullptr;
    impl->image.fill(Qt::transparent);
    return std::unique_ptr<Bitmap>(new Bitmap(std::move(impl)));
}

std::unique_ptr<Bitmap> Bitmap::LoadPng(const std::string& path)
{
    QImage img = ReadPng(path);
    if (img.isNull())
        return nullptr;
    auto impl = std::make_unique<BitmapImpl>();
    impl->image = std::move(img);
    return std::unique_ptr<Bitmap>(new Bitmap(std::move(impl)));
}

int Bitmap::Width() const { return impl_->image.width(); }
int Bitmap::Height() const { return impl_->image.height(); }
size_t Bitmap::BytesPerRow() const { return static_cast<size_t>(impl_->image.bytesPerLine()); }

// bits() does not copy here: the image's pixels are never shared (snapshots
// are deep copies), so the painter and the caller see the same buffer.
uint32_t* Bitmap::Data() { return reinterpret_cast<uint32_t*>(impl_->image.bits()); }
const uint32_t* Bitmap::Data() const { return reinterpret_cast<const uint32_t*>(impl_->image.constBits()); }

uint32_t Bitmap::Pixel(int x, int row) const { return PixelOf(impl_->image, x, row); }

void Bitmap::SetPixel(int x, int row, uint32_t argb)
{
    QImage& img = impl_->image;
    if (x < 0 || row < 0 || x >= img.width() || row >= img.height())
        return;
    reinterpret_cast<uint32_t*>(img.scanLine(row))[x] = argb;
}

DrawContext& Bitmap::Context()
{
    if (!impl_->context) {
        auto ctx = std::make_unique<ContextImpl>();
        ctx->ownedPainter = std::make_unique<QPainter>(&impl_->image);
        QImage& img = impl_->image;
        // Default user space: origin at the bottom-left corner, y up.
        ctx->Init(ctx->ownedPainter.get(), QTransform(1, 0, 0, -1, 0, img.height()), true,
                  Size{double(img.width()), double(img.height())});
        ctx->bitmap = this;
        ctx->targetImage = &impl_->image;
        impl_->context.reset(new DrawContext(std::move(ctx)));
    }
    return *impl_->context;
}

Image Bitmap::MakeImage() const
{
    Image result;
    // A deep copy: the painter keeps drawing into the bitmap's own buffer,
    // which a shared copy would see change.
    result.impl_ = std::make_shared<ImageImpl>(ImageImpl{impl_->image.copy(), QImage()});
    return result;
}

bool Bitmap::SavePng(const std::string& path) const
{
    return impl_->image.save(QString::fromStdString(path), "png");
}

} // namespace plat
