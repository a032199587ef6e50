// Buttons: push, picture and round buttons, bevel buttons, check boxes,
// radio buttons and disclosure buttons.
#include "platform/controls/control_qt.h"

#include "platform/draw/icons_qt.h"
#include "platform/menus/menus_qt.h"

#include <QCheckBox>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QToolButton>

#include <algorithm>

namespace plat::controls {
namespace {

// A button control: the widget is its own, and its label is the button's
// text.
template <class Button>
class Labelled : public Button, public ControlWidget {
public:
    QWidget* Widget() override { return this; }
    Text Title() const override { return TextOf(this->text()); }
    bool SetTitle(const Text& t) override
    {
        this->setText(QStr(t));
        return true;
    }
};

class PushButton : public Labelled<QPushButton> {
public:
    explicit PushButton(const ControlSpec& spec) : picture_(spec.kind == kControlKindPictureButton)
    {
        setText(QStr(spec.title));
        setAutoDefault(false);
        connect(this, &QAbstractButton::clicked, [this] { SendHit(this, kControlPartButton); });
    }
    int32_t Maximum() const override { return 1; }
    bool SetIcon(IconRef i) override
    {
        if (!ControlWidget::SetIcon(i))
            return false;
        setIcon(QIconOf(i));
        return true;
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        // A picture button's picture fills it, within its margins.
        if (picture_) {
            const int side = std::max(16, std::min(width(), height()) - 12);
            setIconSize(QSize(side, side));
        }
        QPushButton::resizeEvent(event);
    }

private:
    bool picture_;
};

// A circular button: a round face that takes clicks only inside its
// circle, with its icon or text in the middle.
class RoundButton final : public PushButton {
public:
    using PushButton::PushButton;

protected:
    QRectF Face() const
    {
        const qreal d = std::max(0, std::min(width(), height()) - 2);
        return QRectF((width() - d) / 2.0, (height() - d) / 2.0, d, d);
    }
    bool hitButton(const QPoint& p) const override
    {
        const QRectF f = Face();
        const QPointF c = f.center();
        const qreal r = f.width() / 2;
        const qreal dx = p.x() + 0.5 - c.x();
        const qreal dy = p.y() + 0.5 - c.y();
        return dx * dx + dy * dy <= r * r;
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPalette& pal = palette();
        QColor face = pal.color(QPalette::Button);
        if (isDown() || isChecked())
            face = face.darker(120);
        painter.setPen(QPen(pal.color(isEnabled() ? QPalette::Dark : QPalette::Mid), 1));
        painter.setBrush(face);
        painter.drawEllipse(Face().adjusted(0.5, 0.5, -0.5, -0.5));
        if (hasFocus()) {
            painter.setPen(QPen(pal.color(QPalette::Highlight), 1.5));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(Face().adjusted(2, 2, -2, -2));
        }
        const QRect inner = Face().toAlignedRect();
        if (!QPushButton::icon().isNull()) {
            const QSize s = iconSize().boundedTo(inner.size() * 0.7);
            QPushButton::icon().paint(&painter, QRect(inner.center() - QPoint(s.width() / 2, s.height() / 2), s), Qt::AlignCenter,
                         isEnabled() ? QIcon::Normal : QIcon::Disabled);
        } else if (!text().isEmpty()) {
            painter.setPen(pal.color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
            painter.drawText(inner, Qt::AlignCenter, text());
        }
    }
};

// A check box's values: 0 off, 1 on, 2 mixed.
class CheckBox final : public Labelled<QCheckBox> {
public:
    explicit CheckBox(const ControlSpec& spec) : autoToggle_(spec.flags & kControlFlagAutoToggle)
    {
        setText(QStr(spec.title));
        SetValue(spec.value);
        connect(this, &QAbstractButton::clicked, [this] { SendHit(this, kControlPartCheckBox); });
    }
    int32_t Value() const override
    {
        switch (checkState()) {
        case Qt::Checked:
            return 1;
        case Qt::PartiallyChecked:
            return 2;
        default:
            return 0;
        }
    }
    void SetValue(int32_t v) override
    {
        QSignalBlocker block(this);
        // Mixed is shown only when asked for; the user's clicks go between
        // off and on.
        setTristate(v == 2);
        setCheckState(v == 2 ? Qt::PartiallyChecked : v == 1 ? Qt::Checked : Qt::Unchecked);
    }
    int32_t Maximum() const override { return 2; }

protected:
    void nextCheckState() override
    {
        if (!autoToggle_)
            return;
        // Off and mixed become on, on becomes off.
        const int32_t v = Value();
        SetValue(v == 1 ? 0 : 1);
    }

private:
    bool autoToggle_;
};

class RadioButton final : public Labelled<QRadioButton> {
public:
    explicit RadioButton(const ControlSpec& spec) : autoToggle_(spec.flags & kControlFlagAutoToggle)
    {
        // The toolkit groups radio buttons itself.
        setAutoExclusive(false);
        setText(QStr(spec.title));
        setChecked(spec.value != 0);
        connect(this, &QAbstractButton::clicked, [this] { SendHit(this, kControlPartCheckBox); });
    }
    int32_t Value() const override { return isChecked() ? 1 : 0; }
    void SetValue(int32_t v) override
    {
        QSignalBlocker block(this);
        setChecked(v != 0);
    }
    int32_t Maximum() const override { return 1; }

protected:
    void nextCheckState() override
    {
        // A click turns a radio button on; only its group turns it off.
        if (autoToggle_)
            SetValue(1);
    }

private:
    bool autoToggle_;
};

class BevelButton final : public Labelled<QToolButton> {
public:
    explicit BevelButton(const ControlSpec& spec)
    {
        setText(QStr(spec.title));
        setToolButtonStyle(Qt::ToolButtonTextOnly);
        setAutoRaise(false);
        if (spec.flags & kControlFlagToggles) {
            setCheckable(true);
            setChecked(spec.value != 0);
        }
        connect(this, &QAbstractButton::clicked, [this] { SendHit(this, kControlPartButton); });
    }
    int32_t Value() const override { return isChecked() ? 1 : 0; }
    void SetValue(int32_t v) override
    {
        QSignalBlocker block(this);
        setChecked(v != 0);
    }
    int32_t Maximum() const override { return 1; }
    bool SetIcon(IconRef i) override
    {
        if (!ControlWidget::SetIcon(i))
            return false;
        setIcon(QIconOf(i));
        // The picture at the left, the text beside it.
        setToolButtonStyle(i ? Qt::ToolButtonTextBesideIcon : Qt::ToolButtonTextOnly);
        return true;
    }
    bool SetMenu(MenuRef m) override
    {
        if (m && RetainMenu(m) != kNoErr)
            return false;
        if (ControlWidget::menu)
            ReleaseMenu(ControlWidget::menu);
        ControlWidget::menu = m;
        if (QMenu* old = QToolButton::menu())
            old->deleteLater();
        setMenu(m ? menus::CreateQMenu(this, m, GetViewWindow(view)) : nullptr);
        setPopupMode(m ? QToolButton::InstantPopup : QToolButton::DelayedPopup);
        return true;
    }
};

// A disclosure button shows its value as the direction of its arrow: right
// closed (0), down open (1). Its clicks change nothing by themselves.
class DisclosureButton final : public Labelled<QToolButton> {
public:
    explicit DisclosureButton(const ControlSpec& spec)
    {
        setAutoRaise(true);
        setText(QStr(spec.title));
        setToolButtonStyle(spec.title.Length() ? Qt::ToolButtonTextBesideIcon : Qt::ToolButtonIconOnly);
        SetValue(spec.value);
        connect(this, &QAbstractButton::clicked, [this] { SendHit(this, kControlPartButton); });
    }
    int32_t Value() const override { return arrowType() == Qt::DownArrow ? 1 : 0; }
    void SetValue(int32_t v) override { setArrowType(v ? Qt::DownArrow : Qt::RightArrow); }
    int32_t Maximum() const override { return 1; }
};

} // namespace

ControlWidget* CreateButton(const ControlSpec& spec)
{
    switch (spec.kind) {
    case kControlKindPushButton:
    case kControlKindPictureButton:
        return new PushButton(spec);
    case kControlKindRoundButton:
        return new RoundButton(spec);
    case kControlKindCheckBox:
        return new CheckBox(spec);
    case kControlKindRadioButton:
        return new RadioButton(spec);
    case kControlKindBevelButton:
        return new BevelButton(spec);
    case kControlKindDisclosureButton:
        return new DisclosureButton(spec);
    default:
        return nullptr;
    }
}

} // namespace plat::controls
