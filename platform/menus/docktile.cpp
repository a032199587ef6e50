// The application's tile: the picture kept here, a tray icon where the
// desktop has a notification area, and the tile's menu.
#include "platform/menus/docktile.h"

#include "platform/draw/qtdraw_p.h"
#include "platform/events/application.h"
#include "platform/events/queue.h"
#include "platform/menus/menus_qt.h"

#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QSystemTrayIcon>

namespace plat {
namespace {

struct Tile {
    Image base;
    Image overlay;
    QPointer<QSystemTrayIcon> tray;
    QPointer<QMenu> menu;
    MenuRef shown = nullptr; // the menu the tray shows now (retained)
};

Tile& TheTile()
{
    static auto* tile = new Tile;
    return *tile;
}

// The tray icon shows the tile where the desktop has a notification area.
void ShowTile()
{
    Tile& t = TheTile();
    const Image image = GetApplicationDockTileImage();
    if (image.IsNull() || !QSystemTrayIcon::isSystemTrayAvailable()) {
        if (t.tray)
            t.tray->hide();
        return;
    }
    if (!t.tray) {
        t.tray = new QSystemTrayIcon;
        t.menu = new QMenu;
        t.tray->setContextMenu(t.menu);
        QObject::connect(t.menu, &QMenu::aboutToShow, t.menu, [] {
            Tile& tile = TheTile();
            tile.menu->clear();
            if (tile.shown)
                ReleaseMenu(tile.shown);
            tile.shown = CopyDockTileMenu();
            if (!tile.shown)
                return;
            // The items of the program's menu, whose choices go to the
            // application.
            QMenu* items = menus::CreateQMenu(tile.menu, tile.shown, nullptr);
            for (QAction* a : items->actions())
                tile.menu->addAction(a);
            emit items->aboutToShow();
        });
    }
    t.tray->setIcon(QIcon(QPixmap::fromImage(image.Impl().image)));
    t.tray->show();
}

} // namespace

Status SetApplicationDockTileImage(const Image& image)
{
    if (!CheckMainThread("SetApplicationDockTileImage"))
        return kErrWrongThread;
    TheTile().base = image;
    ShowTile();
    return kNoErr;
}

Status OverlayApplicationDockTileImage(const Image& image)
{
    if (!CheckMainThread("OverlayApplicationDockTileImage"))
        return kErrWrongThread;
    if (image.IsNull())
        return kErrBadArgument;
    TheTile().overlay = image;
    ShowTile();
    return kNoErr;
}

Status RestoreApplicationDockTileImage()
{
    if (!CheckMainThread("RestoreApplicationDockTileImage"))
        return kErrWrongThread;
    TheTile().overlay = Image();
    ShowTile();
    return kNoErr;
}

Image GetApplicationDockTileOverlay()
{
    return IsMainThread() ? TheTile().overlay : Image();
}

Image GetApplicationDockTileImage()
{
    if (!IsMainThread())
        return Image();
    const Tile& t = TheTile();
    if (t.base.IsNull() && t.overlay.IsNull())
        return Image();
    std::unique_ptr<Bitmap> tile = Bitmap::Create(128, 128);
    if (!tile)
        return Image();
    {
        QPainter p(&tile->Impl().image);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        if (!t.base.IsNull())
            p.drawImage(QRect(0, 0, 128, 128), t.base.Impl().image);
        if (!t.overlay.IsNull())
            p.drawImage(QRect(0, 0, 128, 128), t.overlay.Impl().image);
    }
    return tile->MakeImage();
}

MenuRef CopyDockTileMenu()
{
    if (!CheckMainThread("CopyDockTileMenu"))
        return nullptr;
    EventPtr e = Event::Create(kEventClassApplication, kEventAppGetDockTileMenu);
    if (SendEvent(*e, ApplicationTarget()) != kNoErr)
        return nullptr;
    MenuRef menu = nullptr;
    if (e->Get(kParamMenuRef, kTypeMenuRef, &menu) != kNoErr || !IsValidMenu(menu))
        return nullptr;
    return menu;
}

} // namespace plat
