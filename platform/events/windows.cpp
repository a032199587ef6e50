// Top-level windows over QWidgets, and their modal loops.
#include "platform/events/application.h"
#include "platform/events/bridge_qt.h"
#include "platform/events/modal.h"
#include "platform/events/queue.h"
#include "platform/events/timers.h"

#include <QApplication>
#include <QHash>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <cstdio>
#include <vector>

namespace plat {
namespace bridge {
namespace {

QHash<const QWidget*, WindowRec*>& Windows()
{
    static auto* windows = new QHash<const QWidget*, WindowRec*>;
    return *windows;
}

// Our own front-to-back order, moved on activation (the window system
// does not tell its stacking order).
std::vector<WindowRec*>& ZOrder()
{
    static auto* order = new std::vector<WindowRec*>;
    return *order;
}

// The windows of the modal runs, innermost last.
std::vector<WindowRef>& ModalWindows()
{
    static auto* windows = new std::vector<WindowRef>;
    return *windows;
}

void MoveToFront(WindowRec* rec)
{
    auto& z = ZOrder();
    std::erase(z, rec);
    z.insert(z.begin(), rec);
}

QObject* Watcher()
{
    static QObject* watcher = new QObject;
    return watcher;
}

void Forget(WindowRec* rec)
{
    std::erase(ZOrder(), rec);
    DestroyTarget(rec->target);
    delete rec;
}

void OnTopLevelDestroyed(QObject* object)
{
    if (WindowRec* rec = Windows().take(static_cast<QWidget*>(object)))
        Forget(rec);
}

QRect ToQRect(const RectI& r)
{
    return QRect(r.left, r.top, std::max(0, r.Width()), std::max(0, r.Height()));
}

RectI ToRect(const QRect& r)
{
    return RectI{r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
}

// The close request's standard handling: a window whose close nobody
// refused goes away.
Status StandardWindowHandler(HandlerCall&, Event& e, WindowRef window)
{
    if (e.Class() == kEventClassWindow && e.Kind() == kEventWindowClose) {
        DisposeWindow(window);
        return kNoErr;
    }
    return kErrEventNotHandled;
}

} // namespace

Status Gone()
{
    return IsMainThread() ? kErrTargetGone : kErrWrongThread;
}

void WarnOffMainThread(const char* caller)
{
    std::string_view name = caller ? caller : "?";
    static std::mutex lock;
    static auto* counts = new std::map<std::string, int, std::less<>>;
    int n;
    {
        std::lock_guard<std::mutex> guard(lock);
        n = ++(*counts)[std::string(name)];
    }
    if (n <= 5)
        std::fprintf(stderr, "plat: %.*s called off the main thread; refused%s\n", static_cast<int>(name.size()),
                     name.data(), n == 5 ? " (no more reports of it)" : "");
}

WindowRec* GetWindowRec(WindowRef window, const char* caller)
{
    if (!IsMainThread()) {
        WarnOffMainThread(caller);
        return nullptr;
    }
    TargetRef t = reinterpret_cast<TargetRef>(window);
    TargetKind kind;
    if (!GetTargetKind(t, &kind) || kind != TargetKind::Window)
        return nullptr;
    auto* rec = static_cast<WindowRec*>(GetTargetOwner(t));
    return rec && rec->widget ? rec : nullptr;
}

WindowRec* WindowRecOfWidget(QWidget* widget)
{
    if (!widget)
        return nullptr;
    WindowRec* rec = Windows().value(widget->window(), nullptr);
    return rec && !rec->disposing ? rec : nullptr;
}

QWidget* WidgetOfWindow(WindowRef window)
{
    WindowRec* rec = GetWindowRec(window);
    return rec ? rec->widget.data() : nullptr;
}

bool IsBlockedByModalRun(const WindowRec* rec)
{
    const auto& modal = ModalWindows();
    return !modal.empty() && WindowRefOf(rec) != modal.back();
}

void NoteWindowActivated(WindowRec* rec)
{
    MoveToFront(rec);
}

void NoteWindowBehind(WindowRec* rec, WindowRec* other)
{
    auto& z = ZOrder();
    std::erase(z, rec);
    auto it = std::find(z.begin(), z.end(), other);
    z.insert(it == z.end() ? z.end() : it + 1, rec);
}

void DisposeAllWindows()
{
    std::vector<WindowRef> all;
    for (WindowRec* rec : ZOrder())
        all.push_back(WindowRefOf(rec));
    for (WindowRef w : all)
        DisposeWindow(w);
}

void LayOutNow(QWidget* top)
{
    QLayout* layout = top ? top->layout() : nullptr;
    if (!layout)
        return;
    QRect rect = top->rect();
    if (QWidget* bar = layout->menuBar(); bar && !bar->isHidden()) {
        int height = bar->heightForWidth(rect.width());
        if (height < 0)
            height = bar->sizeHint().height();
        bar->setGeometry(0, 0, rect.width(), height);
        rect.setTop(height);
    }
    layout->setGeometry(rect);
}

} // namespace bridge

using namespace bridge;

WindowRef CreateWindow(const WindowSpec& spec)
{
    if (!CheckMainThread("CreateWindow") || !IsApplicationRunning())
        return nullptr;
    Qt::WindowFlags flags = Qt::Window;
    if (spec.windowClass == WindowClass::Utility)
        flags = Qt::Tool | Qt::FramelessWindowHint;
    else if (spec.windowClass == WindowClass::MovableModal)
        flags = Qt::Dialog;
    auto* top = new QWidget(nullptr, flags);
    top->setMouseTracking(true);
    auto* layout = new QVBoxLayout(top);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    TargetRef target = CreateTarget(TargetKind::Window, ApplicationTarget());
    if (!target) {
        delete top;
        return nullptr;
    }
    auto* rec = new WindowRec;
    rec->target = target;
    rec->widget = top;
    rec->windowClass = spec.windowClass;
    SetTargetOwner(target, rec);
    WindowRef ref = WindowRefOf(rec);
    SetStandardHandler(target, [ref](HandlerCall& call, Event& e) { return StandardWindowHandler(call, e, ref); });
    Windows().insert(top, rec);
    ZOrder().push_back(rec);
    QObject::connect(top, &QObject::destroyed, Watcher(), OnTopLevelDestroyed);

    rec->root = RegisterView(top, target, ViewId{}, kViewKindRoot);
    ViewRef content = CreateUserPane(rec->root, RectI{0, 0, spec.bounds.Width(), spec.bounds.Height()},
                                     kContentViewId, kViewKindContent);
    if (!rec->root || !content) {
        DisposeWindow(ref);
        return nullptr;
    }
    rec->content = content;
    layout->addWidget(WidgetOfView(content));

    top->setWindowTitle(QString::fromUtf8(spec.title.data(), static_cast<int>(spec.title.size())));
    top->setGeometry(ToQRect(spec.bounds));
    if (spec.attributes & kWindowAttrNoResize)
        top->setFixedSize(spec.bounds.Width(), spec.bounds.Height());
    rec->lastBounds = spec.bounds;
    rec->haveBounds = true;
    return ref;
}

Status DisposeWindow(WindowRef window)
{
    if (!CheckMainThread("DisposeWindow"))
        return kErrWrongThread;
    WindowRec* rec = GetWindowRec(window);
    if (!rec)
        return Gone();
    if (rec->disposing)
        return kNoErr;
    rec->disposing = true;
    // A modal loop for this window could never be ended by its owner now.
    const uint64_t token = reinterpret_cast<uintptr_t>(window);
    if (IsModalLoopRunning(token))
        QuitModalLoop(token);

    EventPtr e = Event::Create(kEventClassWindow, kEventWindowDispose);
    e->Set(kParamDirectObject, kTypeWindow, window);
    SendEvent(*e, rec->target, kSendDontPropagate);
    if (GetWindowRec(window) != rec)
        return kNoErr; // the widget was deleted under the handler
    DisposeViewTree(GetViewRec(rec->root), false);

    QWidget* top = rec->widget;
    Windows().remove(top);
    MarkDeadWidget(top);
    Forget(rec);
    top->hide();
    top->deleteLater();
    return kNoErr;
}

bool IsWindowValid(WindowRef window)
{
    WindowRec* rec = GetWindowRec(window);
    return rec && !rec->disposing;
}

TargetRef WindowTarget(WindowRef window)
{
    // The handle is the target's number; only its kind is checked, which
    // the registry answers on any thread.
    TargetRef t = reinterpret_cast<TargetRef>(window);
    TargetKind kind;
    return GetTargetKind(t, &kind) && kind == TargetKind::Window ? t : nullptr;
}

WindowRef WindowFromTarget(TargetRef target)
{
    WindowRef ref = reinterpret_cast<WindowRef>(target);
    return GetWindowRec(ref) ? ref : nullptr;
}

ViewRef WindowRootView(WindowRef window)
{
    WindowRec* rec = GetWindowRec(window);
    return rec ? rec->root : nullptr;
}

ViewRef WindowContentView(WindowRef window)
{
    WindowRec* rec = GetWindowRec(window);
    return rec ? rec->content : nullptr;
}

Status ShowWindow(WindowRef window, bool show)
{
    WindowRec* rec = GetWindowRec(window);
    if (!rec)
        return Gone();
    rec->widget->setVisible(show);
    return kNoErr;
}

bool IsWindowVisible(WindowRef window)
{
    WindowRec* rec = GetWindowRec(window);
    return rec && rec->widget->isVisible();
}

Status ActivateWindow(WindowRef window)
{
    WindowRec* rec = GetWindowRec(window);
    if (!rec)
        return Gone();
    rec->widget->raise();
    rec->widget->activateWindow();
    NoteWindowActivated(rec);
    return kNoErr;
}

bool IsWindowActive(WindowRef window)
{
    // As the window's handlers were told (a press activates a window
    // before the window system may have done so).
    WindowRec* rec = GetWindowRec(window);
    return rec && rec->active;
}

Status SetWindowBounds(WindowRef window, const RectI& content)
{
    WindowRec* rec = GetWindowRec(window);
    if (!rec)
        return Gone();
    if (content.Width() <= 0 || content.Height() <= 0)
        return kErrBadArgument;
    rec->widget->setGeometry(ToQRect(content));
    // The content view follows at once, also while the window is hidden,
    // so that its size reads back right after the call.
    bridge::LayOutNow(rec->widget);
    return kNoErr;
}

RectI GetWindowBounds(WindowRef window, bool frame)
{
    WindowRec* rec = GetWindowRec(window);
    if (!rec)
        return RectI{};
    return ToRect(frame ? rec->widget->frameGeometry() : rec->widget->geometry());
}

Status SetWindowTitle(WindowRef window, const std::string& utf8)
{
    WindowRec* rec = GetWindowRec(window);
    if (!rec)
        return Gone();
    rec->widget->setWindowTitle(QString::fromUtf8(utf8.data(), static_cast<int>(utf8.size())));
    return kNoErr;
}

std::string GetWindowTitle(WindowRef window)
{
    WindowRec* rec = GetWindowRec(window);
    return rec ? rec->widget->windowTitle().toStdString() : std::string();
}

std::vector<WindowRef> ListWindows()
{
    std::vector<WindowRef> out;
    if (!IsMainThread()) {
        WarnOffMainThread();
        return out;
    }
    for (WindowRec* rec : ZOrder())
        if (!rec->disposing)
            out.push_back(WindowRefOf(rec));
    return out;
}

Status SetWindowProperty(WindowRef window, OSType creator, OSType tag, const void* data, size_t size)
{
    WindowRec* rec = GetWindowRec(window);
    return rec ? SetTargetProperty(rec->target, creator, tag, data, size) : Gone();
}

Status GetWindowProperty(WindowRef window, OSType creator, OSType tag, void* out, size_t capacity,
                         size_t* actualSize)
{
    WindowRec* rec = GetWindowRec(window);
    return rec ? GetTargetProperty(rec->target, creator, tag, out, capacity, actualSize) : Gone();
}

Status RemoveWindowProperty(WindowRef window, OSType creator, OSType tag)
{
    WindowRec* rec = GetWindowRec(window);
    return rec ? RemoveTargetProperty(rec->target, creator, tag) : Gone();
}

namespace bridge {

MODALRETURN::MODALRETURN(QWidget* modal) : modal_(modal)
{
    QWidget* active = QApplication::activeWindow();
    if (!active || active == modal)
        active = modal && modal->parentWidget() ? modal->parentWidget()->window() : nullptr;
    previous_ = active;
}

MODALRETURN::~MODALRETURN()
{
    QWidget* back = previous_;
    if (!back || back == modal_ || !back->isVisible() || IsDeadWidget(back))
        return;
    if (WindowRec* rec = WindowRecOfWidget(back); rec && !rec->disposing)
        ActivateWindow(WindowRefOf(rec));
    else
        back->activateWindow();
}

} // namespace bridge

Status RunAppModalLoopForWindow(WindowRef window)
{
    if (!CheckMainThread("RunAppModalLoopForWindow"))
        return kErrWrongThread;
    WindowRec* rec = GetWindowRec(window);
    if (!rec || rec->disposing)
        return Gone();
    const uint64_t token = reinterpret_cast<uintptr_t>(window);
    QPointer<QWidget> top = rec->widget;
    // Qt takes a window's modality into account only when it is shown. A
    // hidden window is made modal first and then shown, so the window
    // system knows it as modal from its first mapping; a visible one is
    // left as it is (hiding and showing it again would flicker and tell
    // its handlers it was hidden and shown). Either way the event filter
    // keeps input away from every other window while the run lasts.
    const bool showsIt = !top->isVisible();
    const Qt::WindowModality before = top->windowModality();
    bridge::MODALRETURN back(top);
    if (showsIt) {
        top->setWindowModality(Qt::ApplicationModal);
        top->show();
    }
    // The run's window takes the keys (Escape closes a dialog), also one
    // that was shown before the run.
    if (IsWindowValid(window))
        ActivateWindow(window);
    ModalWindows().push_back(window);

    // Responders run inside the loop, once it is serving events.
    PostTask([window, token] {
        WindowRec* r = GetWindowRec(window);
        if (!r || !IsModalLoopRunning(token))
            return; // the loop is over already: the responder stays for the next
        ModalRequest req;
        req.kind = kModalWindow;
        req.window = window;
        req.title = r->widget->windowTitle().toStdString();
        req.native = r->widget.data();
        ModalAnswer answer;
        OfferModal(req, answer);
    });
    LoopTimerRef watchdog = nullptr;
    if (IsTestMode()) {
        watchdog = InstallLoopTimer(static_cast<uint32_t>(TestModalTimeoutMs()), 0, [token](LoopTimerRef) {
            std::fprintf(stderr, "plat: modal loop of a window ended by the test-mode time-out\n");
            QuitModalLoop(token);
        });
    }
    Status s = IsWindowValid(window) ? RunModalLoop(token) : kNoErr;
    if (watchdog)
        RemoveLoopTimer(watchdog);
    auto& modal = ModalWindows();
    if (auto it = std::find(modal.rbegin(), modal.rend(), window); it != modal.rend())
        modal.erase(std::next(it).base());
    // The window the run showed goes away with it, and only hidden may it
    // take its old modality back.
    if (showsIt && top && IsWindowValid(window)) {
        top->hide();
        top->setWindowModality(before);
    }
    return s;
}

std::vector<WindowRef> ModalRunWindows()
{
    return ModalWindows();
}

Status QuitAppModalLoopForWindow(WindowRef window)
{
    if (!CheckMainThread("QuitAppModalLoopForWindow"))
        return kErrWrongThread;
    return QuitModalLoop(reinterpret_cast<uintptr_t>(window));
}

} // namespace plat
