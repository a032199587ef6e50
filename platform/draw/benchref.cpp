#include "platform/draw/benchref.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGlyphRun>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QRawFont>
#include <QWidget>

#include <chrono>

namespace plat::benchref {
namespace {

struct Fonts {
    QRawFont normal, bold;
    int cellWidth = 0, cellHeight = 0, baseline = 0;
    QString text;
    std::vector<quint32> glyphs;
    std::vector<QPointF> positions;

    void Draw(QPainter& p, const CellRunRef& r)
    {
        const int width = r.count * cellWidth;
        p.fillRect(QRect(r.x, r.y, width, cellHeight), QColor::fromRgba(r.back));
        QRawFont& font = r.bold ? bold : normal;
        text.resize(r.count);
        for (int i = 0; i < r.count; ++i)
            text[i] = QChar(char16_t(r.text[i]));
        glyphs.resize(size_t(r.count));
        positions.resize(size_t(r.count));
        int n = r.count;
        font.glyphIndexesForChars(text.constData(), r.count, glyphs.data(), &n);
        for (int i = 0; i < n; ++i)
            positions[size_t(i)] = QPointF(r.x + i * cellWidth, r.y + baseline);
        p.setPen(QColor::fromRgba(r.fore));
        QGlyphRun run;
        run.setRawFont(font);
        run.setRawData(glyphs.data(), positions.data(), n);
        p.drawGlyphRun(QPointF(0, 0), run);
        if (r.underline)
            p.fillRect(QRect(r.x, r.y + cellHeight - 1, width, 1), QColor::fromRgba(r.fore));
    }
};

class Window : public QWidget {
public:
    explicit Window(Fonts& f) : fonts(f)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
    }
    Fonts& fonts;
    const std::vector<CellRunRef>* runs = nullptr;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* e) override
    {
        ++paints;
        if (!runs)
            return;
        QPainter p(this);
        const QRect area = e->rect();
        for (const CellRunRef& r : *runs)
            if (r.y < area.bottom() + 1 && r.y + fonts.cellHeight > area.top())
                fonts.Draw(p, r);
    }
};

} // namespace

struct QtCells::Impl {
    Fonts fonts;
    QImage image;
    std::unique_ptr<Window> window;
};

QtCells::QtCells(const std::string& family, int pixelSize, int cellWidth, int cellHeight, int baseline)
    : impl_(std::make_unique<Impl>())
{
    QFont f(QString::fromStdString(family));
    f.setPixelSize(pixelSize);
    impl_->fonts.normal = QRawFont::fromFont(f);
    f.setBold(true);
    impl_->fonts.bold = QRawFont::fromFont(f);
    impl_->fonts.cellWidth = cellWidth;
    impl_->fonts.cellHeight = cellHeight;
    impl_->fonts.baseline = baseline;
}

QtCells::~QtCells() = default;

bool QtCells::Ok() const { return impl_->fonts.normal.isValid() && impl_->fonts.bold.isValid(); }

void QtCells::DrawIntoImage(int width, int height, const std::vector<CellRunRef>& runs)
{
    if (impl_->image.width() != width || impl_->image.height() != height)
        impl_->image = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&impl_->image);
    for (const CellRunRef& r : runs)
        impl_->fonts.Draw(p, r);
}

bool QtCells::OpenWindow(int width, int height)
{
    impl_->window = std::make_unique<Window>(impl_->fonts);
    impl_->window->resize(width, height);
    impl_->window->show();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (impl_->window->paints == 0 && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return impl_->window->paints > 0;
}

void QtCells::RepaintWindow(const std::vector<CellRunRef>& runs)
{
    impl_->window->runs = &runs;
    impl_->window->repaint();
    impl_->window->runs = nullptr;
}

void QtCells::UpdateWindowRows(const std::vector<CellRunRef>& runs, int top, int bottom)
{
    Window& w = *impl_->window;
    w.runs = &runs;
    const int before = w.paints;
    w.update(QRect(0, top, w.width(), bottom - top));
    while (w.paints == before)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    w.runs = nullptr;
}

int QtCells::Paints() const { return impl_->window ? impl_->window->paints : 0; }

} // namespace plat::benchref
