#include "platform/draw/pickers.h"

#include "platform/draw/font.h"
#include "platform/events/application.h"
#include "platform/events/bridge_qt.h"
#include "platform/events/queue.h"

#include <QColorDialog>
#include <QFontDialog>
#include <QFontInfo>
#include <QTimer>

#include <cstdio>

namespace plat {
namespace {

// Runs the dialog, asking the responders once its loop runs; their answer
// ends the loop the way the buttons do. True when it was accepted;
// *answered tells whether a responder (rather than a human) answered.
bool AnswerInLoop(QDialog& dialog, const ModalRequest& req, ModalAnswer& answer, const char* what,
                  bool* answered = nullptr)
{
    QTimer::singleShot(0, &dialog, [&] {
        if (!OfferModal(req, answer)) {
            if (!IsTestMode())
                return; // a human answers
            std::fprintf(stderr, "plat: %s in test mode without a responder: cancelled\n", what);
            answer.choice = 2;
        } else if (answered) {
            *answered = true;
        }
        if (answer.choice == 1)
            dialog.accept();
        else
            dialog.reject();
    });
    return dialog.exec() == QDialog::Accepted;
}

void CentreOver(QDialog& dialog, QWidget* parent)
{
    dialog.adjustSize();
    if (parent)
        dialog.move(parent->frameGeometry().center() - dialog.rect().center());
}

} // namespace

bool PickColor(WindowRef parent, const std::string& prompt, RGBColor16 colour, RGBColor16* chosen)
{
    if (!CheckMainThread("PickColor") || !IsApplicationRunning())
        return false;
    QWidget* const owner = bridge::WidgetOfWindow(parent);
    const QColor initial(colour.red >> 8, colour.green >> 8, colour.blue >> 8);
    QColorDialog dialog(initial, owner);
    dialog.setOption(QColorDialog::DontUseNativeDialog, true);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (!prompt.empty())
        dialog.setWindowTitle(QString::fromStdString(prompt));
    CentreOver(dialog, owner);

    ModalRequest req;
    req.kind = kModalColor;
    req.title = prompt;
    req.text = initial.name().toStdString();
    req.window = parent;
    req.native = &dialog;
    ModalAnswer answer;
    answer.value = UINT32_MAX;
    if (!AnswerInLoop(dialog, req, answer, "colour picker"))
        return false;
    QColor result = dialog.currentColor();
    if (answer.value != UINT32_MAX)
        result = QColor(answer.value & 0xFF, (answer.value >> 8) & 0xFF, (answer.value >> 16) & 0xFF);
    if (chosen) {
        // 8 bits widened to 16 as the platform's pickers give them.
        chosen->red = static_cast<uint16_t>(result.red() * 0x101);
        chosen->green = static_cast<uint16_t>(result.green() * 0x101);
        chosen->blue = static_cast<uint16_t>(result.blue() * 0x101);
    }
    return true;
}

bool PickFont(WindowRef parent, const std::string& title, FontChoice& font)
{
    if (!CheckMainThread("PickFont") || !IsApplicationRunning())
        return false;
    QWidget* const owner = bridge::WidgetOfWindow(parent);
    // The sizes of font texts are points of a 72-dpi page, as the chooser
    // shows them.
    const int size = font.size > 0 ? font.size : 12;
    QFont initial(QString::fromStdString(SubstituteFamily(font.family)));
    initial.setPointSize(size);
    initial.setBold(font.bold);
    initial.setItalic(font.italic);
    const QString shownFamily = QFontInfo(initial).family();
    QFontDialog dialog(initial, owner);
    dialog.setOption(QFontDialog::DontUseNativeDialog, true);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (!title.empty())
        dialog.setWindowTitle(QString::fromStdString(title));
    CentreOver(dialog, owner);

    ModalRequest req;
    req.kind = kModalFont;
    req.title = title;
    req.text = shownFamily.toStdString();
    req.choices.push_back(std::to_string(size));
    if (font.bold)
        req.choices.push_back("bold");
    if (font.italic)
        req.choices.push_back("italic");
    req.window = parent;
    req.native = &dialog;
    ModalAnswer answer;
    bool answered = false;
    if (!AnswerInLoop(dialog, req, answer, "font chooser", &answered))
        return false;

    FontChoice chosen = font;
    chosen.size = size;
    if (answered) {
        // What the responder did not say stays as it was.
        if (!answer.text.empty())
            chosen.family = answer.text;
        else if (chosen.family.empty())
            chosen.family = shownFamily.toStdString();
        if (answer.value > 0)
            chosen.size = static_cast<int>(answer.value);
        if (!answer.items.empty()) {
            chosen.bold = chosen.italic = false;
            for (const std::string& style : answer.items) {
                chosen.bold = chosen.bold || style == "bold";
                chosen.italic = chosen.italic || style == "italic";
            }
        }
    } else {
        const QFont result = dialog.selectedFont();
        // The stand-in family shown for a missing one is not a choice.
        if (result.family() != shownFamily || chosen.family.empty())
            chosen.family = result.family().toStdString();
        if (result.pointSize() > 0)
            chosen.size = result.pointSize();
        chosen.bold = result.bold();
        chosen.italic = result.italic();
    }
    font = chosen;
    return true;
}

} // namespace plat
