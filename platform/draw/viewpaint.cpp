#include "platform/draw/viewpaint.h"
#include "platform/draw/qtdraw_p.h"

namespace plat {

struct BitmapViewPainter::Impl {
    QPainter painter;
};

BitmapViewPainter::BitmapViewPainter(Bitmap& bitmap) : impl_(std::make_unique<Impl>())
{
    if (!bitmap.Impl().context)
        impl_->painter.begin(&bitmap.Impl().image);
}

BitmapViewPainter::~BitmapViewPainter()
{
    if (impl_->painter.isActive())
        impl_->painter.end();
}

void* BitmapViewPainter::Handle() const
{
    return impl_->painter.isActive() ? &impl_->painter : nullptr;
}

} // namespace plat
