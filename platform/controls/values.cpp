// Value controls: scroll bars, sliders, little arrows and progress bars.
#include "platform/controls/control_qt.h"

#include <QAbstractSlider>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace plat::controls {
namespace {

Qt::Orientation OrientationOf(const RectI& frame)
{
    return frame.Width() < frame.Height() ? Qt::Vertical : Qt::Horizontal;
}

int16_t PartOfAction(int action)
{
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        return kControlPartUp;
    case QAbstractSlider::SliderSingleStepAdd:
        return kControlPartDown;
    case QAbstractSlider::SliderPageStepSub:
        return kControlPartPageUp;
    case QAbstractSlider::SliderPageStepAdd:
        return kControlPartPageDown;
    case QAbstractSlider::SliderMove:
        return kControlPartIndicator;
    default:
        return kControlPartNone;
    }
}

// Scroll bars and sliders. While an action runs, the slider's position
// already holds the value it leads to, so handlers called from it read
// the new value.
template <class Base>
class Slider final : public Base, public ControlWidget {
public:
    explicit Slider(const ControlSpec& spec) : Base(OrientationOf(spec.frame))
    {
        Base::setRange(spec.minimum, std::max(spec.minimum, spec.maximum));
        Base::setValue(spec.value);
        Base::setPageStep(std::max(1, spec.viewSize));
        Base::setSingleStep(1);
        QObject::connect(this, &QAbstractSlider::actionTriggered, [this](int action) {
            const int16_t part = PartOfAction(action);
            if (part == kControlPartNone)
                return;
            RunAction(this, part);
            if (part != kControlPartIndicator && ViewTarget(view))
                SendHit(this, part);
        });
        QObject::connect(this, &QAbstractSlider::sliderReleased, [this] { SendHit(this, kControlPartIndicator); });
        QObject::connect(this, &QAbstractSlider::valueChanged, [this] { SendValueChanged(this); });
    }
    QWidget* Widget() override { return this; }
    int32_t Value() const override { return Base::sliderPosition(); }
    void SetValue(int32_t v) override
    {
        QSignalBlocker block(this);
        Base::setValue(v);
    }
    int32_t Minimum() const override { return Base::minimum(); }
    void SetMinimum(int32_t v) override
    {
        QSignalBlocker block(this);
        Base::setMinimum(v);
    }
    int32_t Maximum() const override { return Base::maximum(); }
    void SetMaximum(int32_t v) override
    {
        QSignalBlocker block(this);
        Base::setMaximum(v);
    }
    int32_t ViewSize() const override { return Base::pageStep(); }
    void SetViewSize(int32_t v) override { Base::setPageStep(std::max(1, v)); }
    int32_t Increment() const override { return Base::singleStep(); }
    void SetIncrement(int32_t v) override { Base::setSingleStep(std::max(1, v)); }
};

// Two small arrow buttons, up over down; held, they repeat. The numbers
// live here: the arrows have no Qt control that holds them.
class LittleArrows final : public QWidget, public ControlWidget {
public:
    explicit LittleArrows(const ControlSpec& spec)
        : value_(spec.value), minimum_(spec.minimum), maximum_(std::max(spec.minimum, spec.maximum)),
          increment_(std::max(1, spec.increment))
    {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        for (bool up : {true, false}) {
            auto* b = new QToolButton(this);
            b->setArrowType(up ? Qt::UpArrow : Qt::DownArrow);
            b->setAutoRepeat(true);
            b->setFocusPolicy(Qt::NoFocus);
            b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
            b->setObjectName(up ? "up" : "down");
            layout->addWidget(b);
            const int16_t part = up ? kControlPartUp : kControlPartDown;
            QObject::connect(b, &QAbstractButton::clicked, [this, part] {
                RunAction(this, part);
                if (ViewTarget(view))
                    SendHit(this, part);
            });
        }
        value_ = std::clamp(value_, minimum_, maximum_);
    }
    QWidget* Widget() override { return this; }
    int32_t Value() const override { return value_; }
    void SetValue(int32_t v) override { value_ = std::clamp(v, minimum_, maximum_); }
    int32_t Minimum() const override { return minimum_; }
    void SetMinimum(int32_t v) override
    {
        minimum_ = v;
        maximum_ = std::max(maximum_, v);
        value_ = std::clamp(value_, minimum_, maximum_);
    }
    int32_t Maximum() const override { return maximum_; }
    void SetMaximum(int32_t v) override
    {
        maximum_ = v;
        minimum_ = std::min(minimum_, v);
        value_ = std::clamp(value_, minimum_, maximum_);
    }
    int32_t Increment() const override { return increment_; }
    void SetIncrement(int32_t v) override { increment_ = v; }

private:
    int32_t value_;
    int32_t minimum_;
    int32_t maximum_;
    int32_t increment_;
};

class ProgressBar final : public QProgressBar, public ControlWidget {
public:
    explicit ProgressBar(const ControlSpec& spec)
    {
        setTextVisible(false);
        setRange(spec.minimum, std::max(spec.minimum, spec.maximum));
        setValue(spec.value);
    }
    QWidget* Widget() override { return this; }
    int32_t Value() const override { return value(); }
    void SetValue(int32_t v) override { setValue(std::clamp(v, minimum(), maximum())); }
    int32_t Minimum() const override { return minimum(); }
    void SetMinimum(int32_t v) override { setMinimum(v); }
    int32_t Maximum() const override { return maximum(); }
    void SetMaximum(int32_t v) override { setMaximum(v); }
};

} // namespace

ControlWidget* CreateValueControl(const ControlSpec& spec)
{
    switch (spec.kind) {
    case kControlKindScrollBar:
        return new Slider<QScrollBar>(spec);
    case kControlKindSlider:
        return new Slider<QSlider>(spec);
    case kControlKindLittleArrows:
        return new LittleArrows(spec);
    case kControlKindProgressBar:
        return new ProgressBar(spec);
    default:
        return nullptr;
    }
}

} // namespace plat::controls
