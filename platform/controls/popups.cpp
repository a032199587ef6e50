// Pop-up buttons, pop-up group boxes and combo boxes.
#include "platform/controls/control_qt.h"
#include "platform/controls/popups.h"

#include "platform/draw/icons_qt.h"
#include "platform/events/queue.h"
#include "platform/menus/menus_p.h"
#include "platform/menus/menus_qt.h"

#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QWheelEvent>
#include <QLineEdit>
#include <QSignalBlocker>

#include <algorithm>
#include <functional>

namespace plat::controls {
namespace {

// The Qt side of a pop-up: a read-only combo box that shows the items of
// a menu and keeps the control's numbers. The menu is the one store of
// the items; the combo box copies them when the menu changed since it
// last looked.
class PopupCombo : public QComboBox {
public:
    explicit PopupCombo(const ControlSpec& spec, QWidget* parent = nullptr)
        : QComboBox(parent), value_(spec.value), minimum_(spec.minimum),
          maximum_(std::max(spec.minimum, spec.maximum))
    {
        setEditable(false);
        setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        setMinimumContentsLength(4);
        menu_ = CreateMenu();
        connect(this, QOverload<int>::of(&QComboBox::activated), [this](int index) { Choose(index + 1); });
    }
    ~PopupCombo() override
    {
        if (IsMainThread() && menu_)
            ReleaseMenu(menu_);
    }

    std::function<void()> chosen; // the user chose an item

    MenuRef Menu() const { return menu_; }
    bool SetMenu(MenuRef m)
    {
        if (m && RetainMenu(m) != kNoErr)
            return false;
        if (menu_)
            ReleaseMenu(menu_);
        menu_ = m;
        Sync(true);
        return true;
    }
    int32_t Value() const { return value_; }
    void SetValue(int32_t v)
    {
        value_ = std::clamp(v, minimum_, maximum_);
        ShowValue();
    }
    int32_t Minimum() const { return minimum_; }
    void SetMinimum(int32_t v)
    {
        minimum_ = v;
        maximum_ = std::max(maximum_, v);
        SetValue(value_);
    }
    int32_t Maximum() const { return maximum_; }
    void SetMaximum(int32_t v)
    {
        maximum_ = v;
        minimum_ = std::min(minimum_, v);
        SetValue(value_);
    }

    void Sync(bool force = false)
    {
        const uint64_t generation = menus::Generation();
        if (!force && generation == generation_)
            return;
        generation_ = generation;
        QSignalBlocker block(this);
        clear();
        const int count = CountMenuItems(menu_);
        for (int i = 1; i <= count; ++i) {
            if (GetMenuItemAttributes(menu_, i) & kMenuItemAttrSeparator) {
                insertSeparator(QComboBox::count());
                continue;
            }
            IconRef icon = GetMenuItemIcon(menu_, i);
            addItem(icon ? QIconOf(icon) : QIcon(), QStr(GetMenuItemText(menu_, i)));
        }
        ShowValue();
    }

    void showPopup() override
    {
        Sync();
        MenuRef m = nullptr;
        int item = 0;
        menus::TrackPopUpMenu(menu_, GetViewWindow(bridge::ViewRefOf(bridge::NearestViewRec(this))),
                              PointI{mapToGlobal(QPoint(0, 0)).x(), mapToGlobal(QPoint(0, 0)).y()}, &m, &item);
        if (m == menu_ && item > 0)
            Choose(item);
    }

protected:
    void paintEvent(QPaintEvent* e) override
    {
        Sync();
        QComboBox::paintEvent(e);
    }

private:
    void ShowValue()
    {
        QSignalBlocker block(this);
        setCurrentIndex(value_ >= 1 && value_ <= count() ? value_ - 1 : -1);
    }
    void Choose(int item)
    {
        value_ = std::clamp(item, minimum_, maximum_);
        ShowValue();
        if (chosen)
            chosen();
    }

    MenuRef menu_ = nullptr;
    uint64_t generation_ = ~uint64_t{0};
    int32_t value_;
    int32_t minimum_;
    int32_t maximum_;
};

// Forwards a control's numbers and menu to its pop-up.
template <class Base>
class PopupControl : public Base, public ControlWidget {
public:
    int32_t Value() const override { return Combo()->Value(); }
    void SetValue(int32_t v) override { Combo()->SetValue(v); }
    int32_t Minimum() const override { return Combo()->Minimum(); }
    void SetMinimum(int32_t v) override { Combo()->SetMinimum(v); }
    int32_t Maximum() const override { return Combo()->Maximum(); }
    void SetMaximum(int32_t v) override { Combo()->SetMaximum(v); }
    bool SetMenu(MenuRef m) override
    {
        if (!Combo()->SetMenu(m))
            return false;
        if (ControlWidget::menu)
            ReleaseMenu(ControlWidget::menu);
        ControlWidget::menu = m;
        if (m)
            RetainMenu(m);
        return true;
    }
    void Attached() override
    {
        Combo()->chosen = [this] { SendHit(this, kControlPartMenu); };
        // The control answers GetControlMenu with the pop-up's own menu.
        ControlWidget::menu = Combo()->Menu();
        RetainMenu(ControlWidget::menu);
    }
    virtual PopupCombo* Combo() const = 0;
};

class PopupButton final : public PopupControl<QWidget> {
public:
    explicit PopupButton(const ControlSpec& spec) : combo_(new PopupCombo(spec, this))
    {
        setFocusPolicy(combo_->focusPolicy());
        setFocusProxy(combo_);
    }
    QWidget* Widget() override { return this; }
    PopupCombo* Combo() const override { return combo_; }

protected:
    void resizeEvent(QResizeEvent*) override { combo_->setGeometry(rect()); }

private:
    PopupCombo* combo_;
};

// A frame whose top edge carries the pop-up, centred and half above the
// line.
class PopupGroupBox final : public PopupControl<QFrame> {
public:
    explicit PopupGroupBox(const ControlSpec& spec) : combo_(new PopupCombo(spec, this))
    {
        frame_ = new QFrame(this);
        frame_->setFrameShape(QFrame::StyledPanel);
        frame_->setFrameShadow(QFrame::Sunken);
        frame_->lower();
        setFocusPolicy(combo_->focusPolicy());
        setFocusProxy(combo_);
    }
    QWidget* Widget() override { return this; }
    PopupCombo* Combo() const override { return combo_; }

protected:
    void resizeEvent(QResizeEvent*) override
    {
        const QSize hint = combo_->sizeHint();
        const int w = std::min(width(), std::max(hint.width(), width() / 3));
        combo_->setGeometry((width() - w) / 2, 0, w, hint.height());
        frame_->setGeometry(0, hint.height() / 2, width(), std::max(0, height() - hint.height() / 2));
    }

private:
    PopupCombo* combo_;
    QFrame* frame_;
};

// An edit field with a list; the field's text is the title.
class ComboBox final : public QComboBox, public ControlWidget {
public:
    explicit ComboBox(const ControlSpec& spec)
    {
        setEditable(true);
        setInsertPolicy(QComboBox::NoInsert);
        lineEdit()->setText(QStr(spec.title));
        connect(this, QOverload<int>::of(&QComboBox::activated), [this](int) {
            TargetRef target = ViewTarget(ControlWidget::view);
            if (!target)
                return;
            EventPtr e = Event::Create(kEventClassComboBox, kEventComboBoxListItemSelected);
            e->Set(kParamDirectObject, kTypeView, ControlWidget::view);
            SendEvent(*e, target);
        });
    }
    QWidget* Widget() override { return this; }
    Text Title() const override { return TextOf(lineEdit()->text()); }
    bool SetTitle(const Text& t) override
    {
        KeepText(QStr(t));
        return true;
    }

    // Makes the item that matches the edit text (without regard to case)
    // the current one, so that the keys step on from it, and keeps the
    // text as it is.
    void KeepText(const QString& text)
    {
        QSignalBlocker block(this);
        setCurrentIndex(findText(text, Qt::MatchFixedString));
        lineEdit()->setText(text);
    }
    void KeepText() { KeepText(lineEdit()->text()); }

protected:
    void keyPressEvent(QKeyEvent* e) override
    {
        KeepText();
        QComboBox::keyPressEvent(e);
    }
    void wheelEvent(QWheelEvent* e) override
    {
        KeepText();
        QComboBox::wheelEvent(e);
    }
};

ComboBox* ComboOf(ViewRef view, Status* err)
{
    ControlWidget* c = ControlOf(view);
    auto* combo = c ? dynamic_cast<ComboBox*>(c) : nullptr;
    *err = combo ? kNoErr : c ? kErrBadArgument : kErrTargetGone;
    return combo;
}

} // namespace

ControlWidget* CreatePopupControl(const ControlSpec& spec)
{
    switch (spec.kind) {
    case kControlKindPopupButton:
        return new PopupButton(spec);
    case kControlKindPopupGroupBox:
        return new PopupGroupBox(spec);
    case kControlKindComboBox:
        return new ComboBox(spec);
    default:
        return nullptr;
    }
}

} // namespace plat::controls

namespace plat {

using namespace controls;

Status ComboBoxAppendItem(ViewRef view, const Text& text, int32_t* index)
{
    Status err = kNoErr;
    ComboBox* combo = ComboOf(view, &err);
    if (!combo)
        return err;
    QSignalBlocker block(combo);
    // The first item would become the edit text otherwise.
    const QString text0 = combo->lineEdit()->text();
    combo->addItem(QStr(text));
    combo->KeepText(text0);
    if (index)
        *index = combo->count() - 1;
    return kNoErr;
}

Status ComboBoxInsertItem(ViewRef view, int32_t index, const Text& text)
{
    Status err = kNoErr;
    ComboBox* combo = ComboOf(view, &err);
    if (!combo)
        return err;
    if (index < 0 || index > combo->count())
        return kErrBadArgument;
    QSignalBlocker block(combo);
    const QString text0 = combo->lineEdit()->text();
    combo->insertItem(index, QStr(text));
    combo->KeepText(text0);
    return kNoErr;
}

Status ComboBoxRemoveItem(ViewRef view, int32_t index)
{
    Status err = kNoErr;
    ComboBox* combo = ComboOf(view, &err);
    if (!combo)
        return err;
    if (index < 0 || index >= combo->count())
        return kErrBadArgument;
    QSignalBlocker block(combo);
    const QString text0 = combo->lineEdit()->text();
    combo->removeItem(index);
    combo->KeepText(text0);
    return kNoErr;
}

Text ComboBoxItemText(ViewRef view, int32_t index)
{
    Status err = kNoErr;
    ComboBox* combo = ComboOf(view, &err);
    if (!combo || index < 0 || index >= combo->count())
        return Text();
    return TextOf(combo->itemText(index));
}

int32_t ComboBoxItemCount(ViewRef view)
{
    Status err = kNoErr;
    ComboBox* combo = ComboOf(view, &err);
    return combo ? combo->count() : 0;
}

} // namespace plat
