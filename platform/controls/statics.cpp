// Static controls: icons, group boxes and separators.
#include "platform/controls/control_qt.h"

#include "platform/draw/icons_qt.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>

namespace plat::controls {
namespace {

// Shows an icon fitted into its frame; clicks go through to what lies
// below.
class IconControl final : public QLabel, public ControlWidget {
public:
    IconControl()
    {
        setAlignment(Qt::AlignCenter);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    QWidget* Widget() override { return this; }
    bool SetIcon(IconRef i) override
    {
        if (!ControlWidget::SetIcon(i))
            return false;
        QPixmap p = QPixmapOf(i);
        if (!p.isNull() && (p.width() > width() || p.height() > height()) && width() > 0 && height() > 0)
            p = p.scaled(size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
        setPixmap(p);
        return true;
    }
    void Attached() override
    {
        if (icon)
            SetIcon(icon);
    }
};

class GroupBox final : public QGroupBox, public ControlWidget {
public:
    explicit GroupBox(const ControlSpec& spec) { setTitle(QStr(spec.title)); }
    QWidget* Widget() override { return this; }
    Text Title() const override { return TextOf(title()); }
    bool SetTitle(const Text& t) override
    {
        setTitle(QStr(t));
        return true;
    }
};

class Separator final : public QFrame, public ControlWidget {
public:
    explicit Separator(const ControlSpec& spec)
    {
        setFrameShape(spec.frame.Width() < spec.frame.Height() ? QFrame::VLine : QFrame::HLine);
        setFrameShadow(QFrame::Sunken);
    }
    QWidget* Widget() override { return this; }
};

} // namespace

ControlWidget* CreateStaticControl(const ControlSpec& spec)
{
    switch (spec.kind) {
    case kControlKindIcon:
        return new IconControl;
    case kControlKindGroupBox:
        return new GroupBox(spec);
    case kControlKindSeparator:
        return new Separator(spec);
    default:
        return nullptr;
    }
}

} // namespace plat::controls
