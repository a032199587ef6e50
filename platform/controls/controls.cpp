// Controls: making them, what all of them share, and the default and
// cancel buttons of a window.
#include "platform/controls/control_qt.h"
#include "platform/controls/databrowser.h"
#include "platform/controls/popups.h"
#include "platform/controls/tabs.h"

#include "platform/events/application.h"
#include "platform/events/queue.h"

#include <QKeyEvent>
#include <QToolTip>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionFrame>
#include <QSignalBlocker>

namespace plat {
namespace controls {
namespace {

constexpr char kCancelProperty[] = "platCancel";
constexpr char kDialogKeysProperty[] = "platDialogKeys";

class DialogKeys final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress || !object->isWidgetType())
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        if (mods != Qt::NoModifier || key->isAutoRepeat())
            return false;
        auto* top = static_cast<QWidget*>(object);
        QPushButton* target = nullptr;
        for (QPushButton* b : top->findChildren<QPushButton*>()) {
            if (!b->isEnabled() || !b->isVisible() || !bridge::ViewRecOfWidget(b))
                continue;
            const bool wanted = (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
                                    ? b->isDefault()
                                    : key->key() == Qt::Key_Escape && b->property(kCancelProperty).toBool();
            if (wanted) {
                target = b;
                break;
            }
        }
        if (!target)
            return false;
        target->click();
        return true;
    }
};

QPushButton* PushButtonOf(ViewRef view)
{
    ControlWidget* c = ControlOf(view);
    return c ? qobject_cast<QPushButton*>(c->Widget()) : nullptr;
}

ViewRef FindButton(WindowRef window, bool cancel)
{
    QWidget* top = bridge::WidgetOfWindow(window);
    if (!top)
        return nullptr;
    for (QPushButton* b : top->findChildren<QPushButton*>()) {
        bridge::ViewRec* rec = bridge::ViewRecOfWidget(b);
        if (rec && !rec->disposing && (cancel ? b->property(kCancelProperty).toBool() : b->isDefault()))
            return bridge::ViewRefOf(rec);
    }
    return nullptr;
}

Status MarkButton(WindowRef window, ViewRef button, bool cancel)
{
    QWidget* top = bridge::WidgetOfWindow(window);
    if (!top)
        return kErrTargetGone;
    QPushButton* target = nullptr;
    if (button) {
        target = PushButtonOf(button);
        if (!target || target->window() != top)
            return kErrBadArgument;
    }
    for (QPushButton* b : top->findChildren<QPushButton*>()) {
        if (!bridge::ViewRecOfWidget(b))
            continue;
        if (cancel)
            b->setProperty(kCancelProperty, b == target);
        else
            b->setDefault(b == target);
    }
    WatchDialogKeys(top);
    return kNoErr;
}

} // namespace

ControlWidget::~ControlWidget()
{
    // Widgets deleted with the application object outlive the event core:
    // their views and references went with it.
    if (!IsMainThread())
        return;
    if (bridge::ViewRec* rec = bridge::GetViewRec(view))
        if (rec->control == this)
            rec->control = nullptr;
    if (icon)
        ReleaseIconRef(icon);
    if (menu)
        ReleaseMenu(menu);
}

bool ControlWidget::SetIcon(IconRef newIcon)
{
    if (newIcon && AcquireIconRef(newIcon) != kNoErr)
        return false;
    if (icon)
        ReleaseIconRef(icon);
    icon = newIcon;
    return true;
}

ControlWidget* ControlOf(ViewRef view)
{
    bridge::ViewRec* rec = bridge::GetViewRec(view);
    return rec && !rec->disposing && rec->control ? static_cast<ControlWidget*>(rec->control) : nullptr;
}

QString QStr(const Text& text)
{
    std::u16string_view u = text.Units();
    return QString(reinterpret_cast<const QChar*>(u.data()), static_cast<qsizetype>(u.size()));
}

Text TextOf(const QString& text)
{
    return Text::FromUnits(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size())));
}

int32_t CodePointsBefore(const QString& s, int units)
{
    int32_t n = 0;
    for (int i = 0; i < units && i < s.size(); ++i) {
        if (s.at(i).isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate())
            ++i;
        ++n;
    }
    return n;
}

int UnitsBefore(const QString& s, int32_t codePoints)
{
    int i = 0;
    for (int32_t n = 0; n < codePoints && i < s.size(); ++n) {
        if (s.at(i).isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate())
            ++i;
        ++i;
    }
    return i;
}

Status SendHit(ControlWidget* control, int16_t part)
{
    const ViewRef view = control->view;
    TargetRef target = ViewTarget(view);
    if (!target)
        return kErrTargetGone;
    EventPtr e = Event::Create(kEventClassControl, kEventControlHit);
    e->Set(kParamDirectObject, kTypeView, view);
    e->Set(kParamControlPart, kTypeSInt32, static_cast<int32_t>(part));
    e->Set(kParamKeyModifiers, kTypeUInt32, CurrentKeyModifiers());
    return SendEvent(*e, target);
}

void SendValueChanged(ControlWidget* control)
{
    TargetRef target = ViewTarget(control->view);
    if (!target)
        return;
    EventPtr e = Event::Create(kEventClassControl, kEventControlValueFieldChanged);
    e->Set(kParamDirectObject, kTypeView, control->view);
    SendEvent(*e, target);
}

void RunAction(ControlWidget* control, int16_t part)
{
    if (control->action)
        control->action(control->view, part);
}

void WatchDialogKeys(QWidget* top)
{
    if (!top || top->property(kDialogKeysProperty).toBool())
        return;
    top->setProperty(kDialogKeysProperty, true);
    top->installEventFilter(new DialogKeys(top));
}

} // namespace controls

using namespace controls;

bool IsControlKind(OSType kind)
{
    switch (kind) {
    case kControlKindPushButton:
    case kControlKindPictureButton:
    case kControlKindRoundButton:
    case kControlKindBevelButton:
    case kControlKindCheckBox:
    case kControlKindRadioButton:
    case kControlKindDisclosureButton:
    case kControlKindEditUnicodeText:
    case kControlKindEditText:
    case kControlKindStaticText:
    case kControlKindIcon:
    case kControlKindScrollBar:
    case kControlKindSlider:
    case kControlKindLittleArrows:
    case kControlKindProgressBar:
    case kControlKindGroupBox:
    case kControlKindSeparator:
    case kControlKindPopupButton:
    case kControlKindPopupGroupBox:
    case kControlKindComboBox:
    case kControlKindDataBrowser:
    case kControlKindTabs:
        return true;
    default:
        return false;
    }
}

ViewRef CreateControl(ViewRef parent, const ControlSpec& spec)
{
    if (!CheckMainThread("CreateControl") || !bridge::GetViewRec(parent))
        return nullptr;
    ControlWidget* c = nullptr;
    for (auto make : {CreateButton, CreateTextControl, CreateValueControl, CreateStaticControl, CreatePopupControl,
                      CreateDataBrowser, CreateTabControl})
        if ((c = make(spec)))
            break;
    if (!c)
        return nullptr;
    c->kind = spec.kind;
    QWidget* w = c->Widget();
    ViewRef ref = bridge::CreateViewForWidget(w, parent, spec.frame, spec.id, spec.kind);
    if (!ref) {
        delete w;
        return nullptr;
    }
    bridge::GetViewRec(ref)->control = c;
    c->view = ref;
    c->Attached();
    if (spec.icon)
        c->SetIcon(spec.icon);
    if (spec.flags & kControlFlagDisabled)
        w->setEnabled(false);
    if (spec.flags & kControlFlagHidden)
        w->setVisible(false);
    if (spec.flags & kControlFlagDefault)
        SetControlDefault(ref, true);
    if (spec.flags & kControlFlagCancel)
        SetWindowCancelButton(GetViewWindow(ref), ref);
    return ref;
}

Status SetControlTitle(ViewRef view, const Text& title)
{
    ControlWidget* c = ControlOf(view);
    if (!c)
        return bridge::GetViewRec(view) ? kErrBadArgument : kErrTargetGone;
    QSignalBlocker block(c->Widget());
    return c->SetTitle(title.IsNull() ? Text::FromUnits(u"") : title) ? kNoErr : kErrBadArgument;
}

Text GetControlTitle(ViewRef view)
{
    ControlWidget* c = ControlOf(view);
    return c ? c->Title() : Text();
}

Status SetControlViewSize(ViewRef view, int32_t size)
{
    ControlWidget* c = ControlOf(view);
    if (!c)
        return kErrTargetGone;
    QSignalBlocker block(c->Widget());
    c->SetViewSize(size);
    return kNoErr;
}

int32_t GetControlViewSize(ViewRef view)
{
    ControlWidget* c = ControlOf(view);
    return c ? c->ViewSize() : 0;
}

Status SetControlIncrement(ViewRef view, int32_t increment)
{
    ControlWidget* c = ControlOf(view);
    if (!c)
        return kErrTargetGone;
    c->SetIncrement(increment);
    return kNoErr;
}

int32_t GetControlIncrement(ViewRef view)
{
    ControlWidget* c = ControlOf(view);
    return c ? c->Increment() : 0;
}

Status SetControlDefault(ViewRef view, bool on)
{
    QPushButton* b = PushButtonOf(view);
    if (!b)
        return bridge::GetViewRec(view) ? kErrBadArgument : kErrTargetGone;
    if (on)
        return MarkButton(GetViewWindow(view), view, false);
    b->setDefault(false);
    return kNoErr;
}

bool IsControlDefault(ViewRef view)
{
    QPushButton* b = PushButtonOf(view);
    return b && b->isDefault();
}

Status SetWindowDefaultButton(WindowRef window, ViewRef button)
{
    return MarkButton(window, button, false);
}

ViewRef GetWindowDefaultButton(WindowRef window)
{
    return FindButton(window, false);
}

Status SetWindowCancelButton(WindowRef window, ViewRef button)
{
    return MarkButton(window, button, true);
}

ViewRef GetWindowCancelButton(WindowRef window)
{
    return FindButton(window, true);
}

Status SetControlIcon(ViewRef view, IconRef icon)
{
    ControlWidget* c = ControlOf(view);
    if (!c)
        return kErrTargetGone;
    if (icon && !IsValidIconRef(icon))
        return kErrBadArgument;
    return c->SetIcon(icon) ? kNoErr : kErrBadArgument;
}

IconRef GetControlIcon(ViewRef view)
{
    ControlWidget* c = ControlOf(view);
    return c ? c->icon : nullptr;
}

Status SetControlMenu(ViewRef view, MenuRef menu)
{
    ControlWidget* c = ControlOf(view);
    if (!c)
        return kErrTargetGone;
    if (menu && !IsValidMenu(menu))
        return kErrBadArgument;
    return c->SetMenu(menu) ? kNoErr : kErrBadArgument;
}

MenuRef GetControlMenu(ViewRef view)
{
    ControlWidget* c = ControlOf(view);
    return c ? c->menu : nullptr;
}

Status SetControlAction(ViewRef view, ControlActionProc proc)
{
    ControlWidget* c = ControlOf(view);
    if (!c)
        return kErrTargetGone;
    c->action = proc;
    return kNoErr;
}

Status SetViewZOrder(ViewRef view, bool above, ViewRef other)
{
    QWidget* w = bridge::WidgetOfView(view);
    if (!w)
        return kErrTargetGone;
    QWidget* o = other ? bridge::WidgetOfView(other) : nullptr;
    if (other && (!o || o->parentWidget() != w->parentWidget() || o == w))
        return kErrBadArgument;
    if (!o) {
        if (above)
            w->raise();
        else
            w->lower();
        return kNoErr;
    }
    if (!above) {
        w->stackUnder(o);
        return kNoErr;
    }
    // Directly above `other`: under the sibling that lies just above it,
    // or on top when none does.
    const QObjectList& siblings = w->parentWidget()->children();
    QWidget* next = nullptr;
    bool seen = false;
    for (QObject* s : siblings) {
        if (!s->isWidgetType() || s == w)
            continue;
        if (seen) {
            next = static_cast<QWidget*>(s);
            break;
        }
        seen = s == o;
    }
    if (next)
        w->stackUnder(next);
    else
        w->raise();
    return kNoErr;
}

Status GetBestControlSize(ViewRef view, int32_t* width, int32_t* height)
{
    ControlWidget* c = ControlOf(view);
    if (!c)
        return bridge::GetViewRec(view) ? kErrBadArgument : kErrTargetGone;
    QWidget* w = c->Widget();
    QSize best = w->sizeHint();
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        // A line edit's own hint is a fixed width whatever it holds.
        const QFontMetrics fm = edit->fontMetrics();
        const QMargins m = edit->textMargins();
        QStyleOptionFrame option;
        option.initFrom(edit);
        option.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
        const QSize text(fm.horizontalAdvance(edit->text()) + m.left() + m.right() + 4,
                         fm.height() + m.top() + m.bottom());
        best = edit->style()->sizeFromContents(QStyle::CT_LineEdit, &option, text, edit);
    }
    if (width)
        *width = best.width();
    if (height)
        *height = best.height();
    return kNoErr;
}

Status ClearKeyboardFocus(WindowRef window)
{
    QWidget* top = bridge::WidgetOfWindow(window);
    if (!top)
        return kErrTargetGone;
    if (QWidget* focus = top->focusWidget())
        focus->clearFocus();
    return kNoErr;
}

bool IsViewFocusable(ViewRef view)
{
    QWidget* w = bridge::WidgetOfView(view);
    return w && (w->focusPolicy() & Qt::TabFocus);
}

std::string ShownHelpTag()
{
    return QToolTip::isVisible() ? QToolTip::text().toStdString() : std::string();
}

} // namespace plat
