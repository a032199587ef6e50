// Responders for modal services, and the generic alert.
#include "platform/events/modal.h"

#include "platform/events/application.h"
#include "platform/events/bridge_qt.h"
#include "platform/events/queue.h"

#include <QApplication>
#include <QColorDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace plat {
namespace {

struct Responder {
    uint64_t id;
    OSType kind;
    ModalResponder fn;
    int times;
    bool busy = false; // running: a nested modal of the same kind skips it
};

std::vector<Responder>& Responders()
{
    static auto* list = new std::vector<Responder>;
    return *list;
}

uint64_t gNextResponder = 0;
bool gDeclined = false;

// Ends one modal run as a cancel would.
void Cancel(const ModalRequest& request)
{
    if (request.kind == kModalWindow) {
        QuitAppModalLoopForWindow(request.window);
        return;
    }
    auto* widget = static_cast<QWidget*>(request.native);
    if (auto* dialog = qobject_cast<QDialog*>(widget))
        dialog->reject();
    else if (widget)
        widget->close();
}

QString Text(const std::string& s)
{
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

int RunAlertOnMain(const AlertSpec& spec)
{
    if (!IsApplicationRunning())
        return -1;
    std::vector<std::string> buttons = spec.buttons;
    if (buttons.empty())
        buttons.push_back("OK");
    if (buttons.size() > 3)
        buttons.resize(3);
    const int cancel = buttons.size() > 1 ? 2 : 1;

    QMessageBox::Icon icon = QMessageBox::Information;
    if (spec.type == kAlertStop)
        icon = QMessageBox::Critical;
    else if (spec.type == kAlertCaution)
        icon = QMessageBox::Warning;
    else if (spec.type == kAlertPlain)
        icon = QMessageBox::NoIcon;
    QMessageBox box(icon, Text(spec.title), Text(spec.message), QMessageBox::NoButton,
                    bridge::WidgetOfWindow(spec.parent));
    box.setInformativeText(Text(spec.explanation));
    std::vector<QAbstractButton*> qbuttons;
    for (size_t i = 0; i < buttons.size(); ++i) {
        QMessageBox::ButtonRole role = i == 0 ? QMessageBox::AcceptRole
                                       : i == 1 ? QMessageBox::RejectRole
                                                : QMessageBox::DestructiveRole;
        qbuttons.push_back(box.addButton(Text(buttons[i]), role));
    }
    box.setDefaultButton(static_cast<QPushButton*>(qbuttons[0]));
    box.setEscapeButton(qbuttons[static_cast<size_t>(cancel - 1)]);

    ModalRequest req;
    req.kind = kModalAlert;
    req.title = spec.title;
    req.text = spec.explanation.empty() ? spec.message : spec.message + "\n" + spec.explanation;
    req.choices = buttons;
    req.window = spec.parent;
    req.native = &box;
    // Asked once the dialog's own loop runs, so the answer goes through
    // the dialog as a click would.
    QTimer::singleShot(0, &box, [&] {
        ModalAnswer answer;
        int choice = 0;
        if (OfferModal(req, answer)) {
            choice = answer.choice;
        } else if (IsTestMode()) {
            std::fprintf(stderr, "plat: alert \"%s\" in test mode without a responder: cancelled\n",
                         spec.title.c_str());
            choice = cancel;
        } else {
            return; // a human answers
        }
        if (choice < 1 || choice > static_cast<int>(qbuttons.size()))
            choice = cancel;
        qbuttons[static_cast<size_t>(choice - 1)]->click();
    });
    {
        bridge::MODALRETURN back(&box);
        box.exec();
    }
    QAbstractButton* clicked = box.clickedButton();
    for (size_t i = 0; i < qbuttons.size(); ++i)
        if (clicked == qbuttons[i])
            return static_cast<int>(i) + 1;
    return cancel;
}

} // namespace

uint64_t AddModalResponder(OSType kind, ModalResponder responder, int times)
{
    if (!responder || times == 0 || !CheckMainThread("AddModalResponder"))
        return 0;
    const uint64_t id = ++gNextResponder;
    auto& list = Responders();
    list.insert(list.begin(), Responder{id, kind, std::move(responder), times, false});
    return id;
}

void RemoveModalResponder(uint64_t id)
{
    if (!CheckMainThread("RemoveModalResponder"))
        return;
    std::erase_if(Responders(), [id](const Responder& r) { return r.id == id; });
}

void ClearModalResponders()
{
    if (CheckMainThread("ClearModalResponders"))
        Responders().clear();
}

bool OfferModal(const ModalRequest& request, ModalAnswer& answer)
{
    if (!CheckMainThread("OfferModal"))
        return false;
    if (gDeclined) {
        answer = ModalAnswer{};
        Cancel(request);
        return true;
    }
    // A responder may open a modal of its own and register or remove
    // responders meanwhile; walk a copy of the ids.
    std::vector<uint64_t> ids;
    for (const Responder& r : Responders())
        if (r.kind == request.kind)
            ids.push_back(r.id);
    auto find = [](uint64_t id) {
        auto& list = Responders();
        return std::find_if(list.begin(), list.end(), [id](const Responder& r) { return r.id == id; });
    };
    for (uint64_t id : ids) {
        auto it = find(id);
        if (it == Responders().end() || it->busy)
            continue;
        it->busy = true;
        ModalResponder fn = it->fn;
        const bool answered = fn(request, answer);
        it = find(id);
        if (it == Responders().end()) {
            if (answered)
                return true;
            continue;
        }
        it->busy = false;
        if (!answered)
            continue;
        if (it->times > 0 && --it->times == 0)
            Responders().erase(it);
        return true;
    }
    return false;
}

void DeclineModals(bool on)
{
    if (!CheckMainThread("DeclineModals"))
        return;
    gDeclined = on;
    if (!on)
        return;
    for (WindowRef window : ModalRunWindows())
        QuitAppModalLoopForWindow(window);
    // Pop-up menus first (they grab the input), then every modal dialog
    // that runs its own loop.
    for (int i = 0; i < 16 && QApplication::activePopupWidget(); ++i)
        QApplication::activePopupWidget()->close();
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(w);
        if (dialog && dialog->isVisible() && dialog->isModal())
            dialog->reject();
    }
}

bool ModalsDeclined()
{
    return gDeclined;
}

int RunAlert(const AlertSpec& spec)
{
    if (IsMainThread())
        return RunAlertOnMain(spec);
    if (!IsEventCoreRunning())
        return -1;
    int result = -1;
    // The alert description and the result live on this thread's stack, which waits
    // until the task has run or was dropped unrun.
    Status s = RunTaskAndWait([&spec, &result] { result = RunAlertOnMain(spec); });
    return s == kNoErr ? result : -1;
}

bool RunColorPicker(const std::string& title, uint32_t* colour, WindowRef parent)
{
    if (!colour || !IsMainThread() || !IsApplicationRunning())
        return false;
    const uint32_t start = *colour;
    QColorDialog dialog(QColor(start & 0xFF, (start >> 8) & 0xFF, (start >> 16) & 0xFF),
                        bridge::WidgetOfWindow(parent));
    dialog.setWindowTitle(Text(title));
    dialog.setOption(QColorDialog::DontUseNativeDialog);
    ModalRequest req;
    req.kind = kModalColor;
    req.title = title;
    req.window = parent;
    req.native = &dialog;
    bool answered = false;
    uint32_t picked = start;
    QTimer::singleShot(0, &dialog, [&] {
        ModalAnswer answer;
        answer.choice = 1;
        answer.value = start;
        if (OfferModal(req, answer)) {
            answered = answer.choice != 0;
            picked = answer.value & 0xFFFFFF;
            if (answered)
                dialog.accept();
            else
                dialog.reject();
        } else if (IsTestMode()) {
            dialog.reject();
        }
    });
    const int rc = dialog.exec();
    if (answered) {
        *colour = picked;
        return true;
    }
    if (rc != QDialog::Accepted)
        return false;
    const QColor c = dialog.currentColor();
    *colour = static_cast<uint32_t>(c.red()) | static_cast<uint32_t>(c.green()) << 8 |
              static_cast<uint32_t>(c.blue()) << 16;
    return true;
}

} // namespace plat
