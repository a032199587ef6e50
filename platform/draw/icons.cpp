#include "platform/draw/icons_qt.h"

#include "platform/draw/qtdraw_p.h"
#include "platform/events/bridge_qt.h"
#include "platform/events/queue.h"

#include <QImageReader>

#include <map>
#include <string>
#include <utility>

namespace plat {
namespace {

struct IconRec {
    // Decoded on first use: a program registers many more icons than a
    // window shows at start.
    Image image;
    std::string path;
    int refs = 0;
    bool registered = false;
    OSType creator = 0;
    OSType type = 0;
};

struct Registry {
    std::map<uintptr_t, IconRec> icons;
    std::map<std::pair<OSType, OSType>, uintptr_t> byPair;
    uintptr_t next = 0;
};

Registry& Icons()
{
    static auto* registry = new Registry;
    return *registry;
}

IconRec* Find(IconRef icon)
{
    auto& icons = Icons().icons;
    auto it = icons.find(reinterpret_cast<uintptr_t>(icon));
    return it == icons.end() ? nullptr : &it->second;
}

void ForgetIfUnused(uintptr_t id)
{
    auto& icons = Icons().icons;
    auto it = icons.find(id);
    if (it != icons.end() && it->second.refs <= 0 && !it->second.registered)
        icons.erase(it);
}

IconRef RefOf(uintptr_t id)
{
    return reinterpret_cast<IconRef>(id);
}

} // namespace

IconRef RegisterIconFromFile(OSType creator, OSType type, const std::string& path)
{
    if (!CheckMainThread("RegisterIconFromFile"))
        return nullptr;
    // Only the header is read here: a file that is no PNG is refused now,
    // the pixels are decoded when the icon is first drawn.
    if (!QImageReader(QString::fromStdString(path), "png").size().isValid())
        return nullptr;
    Registry& r = Icons();
    if (auto old = r.byPair.find({creator, type}); old != r.byPair.end()) {
        const uintptr_t oldId = old->second;
        r.byPair.erase(old);
        if (auto it = r.icons.find(oldId); it != r.icons.end())
            it->second.registered = false;
        ForgetIfUnused(oldId);
    }
    const uintptr_t id = ++r.next;
    IconRec rec;
    rec.path = path;
    rec.refs = 1;
    rec.registered = true;
    rec.creator = creator;
    rec.type = type;
    r.icons.emplace(id, std::move(rec));
    r.byPair[{creator, type}] = id;
    return RefOf(id);
}

Status UnregisterIcon(OSType creator, OSType type)
{
    if (!CheckMainThread("UnregisterIcon"))
        return kErrWrongThread;
    Registry& r = Icons();
    auto it = r.byPair.find({creator, type});
    if (it == r.byPair.end())
        return kErrParamNotFound;
    const uintptr_t id = it->second;
    r.byPair.erase(it);
    if (auto rec = r.icons.find(id); rec != r.icons.end())
        rec->second.registered = false;
    ForgetIfUnused(id);
    return kNoErr;
}

IconRef GetIconRef(OSType creator, OSType type)
{
    if (!CheckMainThread("GetIconRef"))
        return nullptr;
    Registry& r = Icons();
    auto it = r.byPair.find({creator, type});
    if (it == r.byPair.end())
        return nullptr;
    ++r.icons[it->second].refs;
    return RefOf(it->second);
}

Status AcquireIconRef(IconRef icon)
{
    if (!CheckMainThread("AcquireIconRef"))
        return kErrWrongThread;
    IconRec* rec = Find(icon);
    if (!rec)
        return kErrTargetGone;
    ++rec->refs;
    return kNoErr;
}

Status ReleaseIconRef(IconRef icon)
{
    if (!CheckMainThread("ReleaseIconRef"))
        return kErrWrongThread;
    IconRec* rec = Find(icon);
    if (!rec || rec->refs <= 0)
        return kErrTargetGone;
    --rec->refs;
    ForgetIfUnused(reinterpret_cast<uintptr_t>(icon));
    return kNoErr;
}

bool IsValidIconRef(IconRef icon)
{
    return IsMainThread() && Find(icon) != nullptr;
}

Image IconImage(IconRef icon)
{
    IconRec* rec = IsMainThread() ? Find(icon) : nullptr;
    if (!rec)
        return Image();
    if (!rec->path.empty()) {
        rec->image = Image::LoadPng(rec->path);
        rec->path.clear();
    }
    return rec->image;
}

namespace {
constexpr OSType kProxyCreator = FourCC("plat");
constexpr OSType kProxyTag = FourCC("prxy");
} // namespace

Status SetWindowProxyIcon(WindowRef window, IconRef icon)
{
    QWidget* top = bridge::WidgetOfWindow(window);
    if (!top)
        return kErrTargetGone;
    if (icon && !IsValidIconRef(icon))
        return kErrBadArgument;
    top->setWindowIcon(QIconOf(icon));
    if (!icon)
        return RemoveWindowProperty(window, kProxyCreator, kProxyTag) == kErrTargetGone ? kErrTargetGone : kNoErr;
    return SetWindowProperty(window, kProxyCreator, kProxyTag, &icon, sizeof icon);
}

IconRef GetWindowProxyIcon(WindowRef window)
{
    IconRef icon = nullptr;
    if (GetWindowProperty(window, kProxyCreator, kProxyTag, &icon, sizeof icon) != kNoErr)
        return nullptr;
    return IsValidIconRef(icon) ? icon : nullptr;
}

QPixmap QPixmapOf(IconRef icon)
{
    Image image = IconImage(icon);
    return image.IsNull() ? QPixmap() : QPixmap::fromImage(image.Impl().image);
}

QIcon QIconOf(IconRef icon)
{
    QPixmap pixmap = QPixmapOf(icon);
    if (pixmap.isNull())
        return QIcon();
    QIcon result(pixmap);
    const Image image = IconImage(icon);
    if (!image.Impl().hires.isNull()) {
        QPixmap large = QPixmap::fromImage(image.Impl().hires);
        large.setDevicePixelRatio(2.0);
        result.addPixmap(large);
    }
    return result;
}

} // namespace plat
