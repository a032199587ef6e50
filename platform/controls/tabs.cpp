// Tab controls: a tab bar over a framed content area.
#include "platform/controls/control_qt.h"
#include "platform/controls/tabs.h"

#include <QPainter>
#include <QSignalBlocker>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>

#include <algorithm>

namespace plat::controls {
namespace {

class TabControl final : public QWidget, public ControlWidget {
public:
    explicit TabControl(const ControlSpec& spec) : bar_(new QTabBar(this))
    {
        bar_->setDrawBase(false);
        bar_->setExpanding(false);
        bar_->setElideMode(Qt::ElideNone);
        bar_->setUsesScrollButtons(false);
        setFocusPolicy(Qt::StrongFocus);
        setFocusProxy(bar_);
        SetMaximum(std::max(0, spec.maximum));
        SetValue(spec.value);
        connect(bar_, &QTabBar::currentChanged, [this](int index) {
            if (index >= 0)
                SendHit(this, static_cast<int16_t>(index + 1));
        });
    }
    QWidget* Widget() override { return this; }
    int32_t Value() const override { return bar_->currentIndex() + 1; }
    void SetValue(int32_t v) override
    {
        QSignalBlocker block(bar_);
        bar_->setCurrentIndex(bar_->count() ? std::clamp(v, 1, bar_->count()) - 1 : -1);
    }
    int32_t Minimum() const override { return bar_->count() ? 1 : 0; }
    int32_t Maximum() const override { return bar_->count(); }
    void SetMaximum(int32_t v) override
    {
        QSignalBlocker block(bar_);
        while (bar_->count() < v)
            bar_->addTab(QString());
        while (bar_->count() > std::max(0, v))
            bar_->removeTab(bar_->count() - 1);
        Place();
    }

    bool SetLabel(int tab, const Text& label)
    {
        if (tab < 1 || tab > bar_->count())
            return false;
        QSignalBlocker block(bar_);
        bar_->setTabText(tab - 1, QStr(label));
        Place();
        return true;
    }
    Text Label(int tab) const
    {
        return tab >= 1 && tab <= bar_->count() ? TextOf(bar_->tabText(tab - 1)) : Text();
    }
    RectI TabRect(int tab) const
    {
        if (tab < 1 || tab > bar_->count() || !bar_->isVisible())
            return RectI{};
        const QRect r = bar_->tabRect(tab - 1).translated(bar_->pos());
        return RectI{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
    }
    RectI ContentRect() const
    {
        const int top = bar_->sizeHint().height() / 2;
        return RectI{0, top, width(), height()};
    }

protected:
    void resizeEvent(QResizeEvent*) override { Place(); }
    void paintEvent(QPaintEvent*) override
    {
        QStylePainter p(this);
        QStyleOptionTabWidgetFrame frame;
        frame.initFrom(this);
        const RectI r = ContentRect();
        frame.rect = QRect(r.left, r.top, r.Width(), r.Height());
        frame.shape = QTabBar::RoundedNorth;
        frame.tabBarSize = bar_->sizeHint();
        frame.tabBarRect = bar_->geometry();
        p.drawPrimitive(QStyle::PE_FrameTabWidget, frame);
    }

private:
    // The tabs sit centred across the top edge of the frame.
    void Place()
    {
        const QSize hint = bar_->sizeHint();
        const int w = std::min(width(), hint.width());
        bar_->setGeometry((width() - w) / 2, 0, w, hint.height());
        update();
    }

    QTabBar* bar_;
};

TabControl* TabsOf(ViewRef view, Status* err)
{
    ControlWidget* c = ControlOf(view);
    auto* t = c ? dynamic_cast<TabControl*>(c) : nullptr;
    if (err)
        *err = t ? kNoErr : c || bridge::GetViewRec(view) ? kErrBadArgument : kErrTargetGone;
    return t;
}

} // namespace

ControlWidget* CreateTabControl(const ControlSpec& spec)
{
    return spec.kind == kControlKindTabs ? new TabControl(spec) : nullptr;
}

} // namespace plat::controls

namespace plat {

using controls::TabsOf;

Status SetTabLabel(ViewRef view, int tab, const Text& label)
{
    Status err = kNoErr;
    controls::TabControl* t = TabsOf(view, &err);
    if (!t)
        return err;
    return t->SetLabel(tab, label.IsNull() ? Text::FromUnits(u"") : label) ? kNoErr : kErrBadArgument;
}

Text GetTabLabel(ViewRef view, int tab)
{
    controls::TabControl* t = TabsOf(view, nullptr);
    return t ? t->Label(tab) : Text();
}

RectI GetTabContentRect(ViewRef view)
{
    controls::TabControl* t = TabsOf(view, nullptr);
    return t ? t->ContentRect() : RectI{};
}

} // namespace plat

namespace plat {

RectI GetTabRect(ViewRef view, int tab)
{
    controls::TabControl* t = controls::TabsOf(view, nullptr);
    return t ? t->TabRect(tab) : RectI{};
}

} // namespace plat
