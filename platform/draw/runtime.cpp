#include "platform/draw/runtime.h"

#include <QApplication>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace plat {

namespace {

QtMessageHandler gBeforeQuiet = nullptr;

void QuietHandler(QtMsgType type, QMessageLogContext const& context, QString const& message)
{
    if (type == QtWarningMsg && message.trimmed().startsWith(QLatin1String("OpenType support missing for")))
        return;
    if (gBeforeQuiet) {
        gBeforeQuiet(type, context, message);
        return;
    }
    // Qt's own default: the formatted message on the standard error.
    QByteArray const line = qFormatLogMessage(type, context, message).toLocal8Bit();
    std::fprintf(stderr, "%s\n", line.constData());
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

void QuietTextShapingNotes()
{
    static std::once_flag once;
    std::call_once(once, [] { gBeforeQuiet = qInstallMessageHandler(&QuietHandler); });
}

bool EnsureGuiApplication()
{
    QuietTextShapingNotes();
    if (QCoreApplication* app = QCoreApplication::instance())
        return qobject_cast<QGuiApplication*>(app) != nullptr;
    // Without a display server a tool still draws into bitmaps and PDF.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "qor";
    static char* argv[] = {name, nullptr};
    // Deliberately never destroyed: fonts and images may be released by
    // static destructors that run after any owner of the object would.
    new QApplication(argc, argv);
    return true;
}

} // namespace plat
