#include "platform/draw/pickers.h"

#include "platform/draw/font.h"
#include "platform/events/application.h"
#include "platform/events/bridge_qt.h"
#include "platform/events/queue.h"

#include <QColorDialog>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QTimer>

#include <cstdio>

namespace plat {
namespace {

// Runs the dialog, asking the responders once its loop runs; their answer
// ends the loop the way the buttons do. True when it was accepted.
bool AnswerInLoop(QDialog& dialog, const ModalRequest& req, ModalAnswer& answer, const char* what)
{
    QTimer::singleShot(0, &dialog, [&] {
        if (!OfferModal(req, answer)) {
            if (!IsTestMode())
                return; // a human answers
            std::fprintf(stderr, "plat: %s in test mode without a responder: cancelled\n", what);
            answer.choice = 2;
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
    QFont initial(QString::fromStdString(SubstituteFamily(font.family)));
    initial.setPixelSize(font.size > 0 ? font.size : 12);
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
    req.choices.push_back(std::to_string(font.size));
    if (font.bold)
        req.choices.push_back("bold");
    if (font.italic)
        req.choices.push_back("italic");
    req.window = parent;
    req.native = &dialog;
    ModalAnswer answer;
    if (!AnswerInLoop(dialog, req, answer, "font chooser"))
        return false;

    const QFont result = dialog.selectedFont();
    QString family = result.family();
    int size = result.pixelSize() > 0 ? result.pixelSize() : static_cast<int>(result.pointSizeF() + 0.5);
    bool bold = result.bold();
    bool italic = result.italic();
    if (!answer.text.empty())
        family = QString::fromStdString(answer.text);
    if (answer.value > 0)
        size = static_cast<int>(answer.value);
    if (!answer.items.empty()) {
        bold = italic = false;
        for (const std::string& style : answer.items) {
            bold = bold || style == "bold";
            italic = italic || style == "italic";
        }
    }
    // The stand-in family shown for a missing one is not a choice.
    if (family != shownFamily)
        font.family = family.toStdString();
    font.size = size;
    font.bold = bold;
    font.italic = italic;
    return true;
}

} // namespace plat
