#include "platform/draw/runtime.h"

#include <QApplication>
#include <QGuiApplication>

#include <cstdlib>

namespace plat {

bool EnsureGuiApplication()
{
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
