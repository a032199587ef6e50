// Reading layout files: JSON to the nib model, with every malformed entry
// reported and left out.
#include "platform/nibs/nib.h"

#include "platform/events/keys.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdio>

namespace plat {
namespace {

// Bounds that keep a damaged file from asking for absurd things.
constexpr int kMaxDepth = 16;
constexpr int kMaxCoordinate = 32767;

struct Reader {
    std::string source;
    NibModel& model;

    void Error(const std::string& where, const std::string& what)
    {
        model.errors.push_back(source + ": " + where + ": " + what);
    }
};

bool FourCCOf(const QJsonValue& v, OSType* out)
{
    if (!v.isString())
        return false;
    const QByteArray b = v.toString().toLatin1();
    if (b.size() != 4 || v.toString().size() != 4)
        return false;
    *out = FourCC({b[0], b[1], b[2], b[3], 0});
    return true;
}

bool CodeOf(const QJsonValue& v, uint32_t* out)
{
    if (v.isDouble()) {
        const double d = v.toDouble();
        if (d < 0 || d > 4294967295.0 || d != std::floor(d))
            return false;
        *out = static_cast<uint32_t>(d);
        return true;
    }
    return FourCCOf(v, out);
}

bool IntOf(const QJsonValue& v, int32_t* out, int32_t lo = INT32_MIN, int32_t hi = INT32_MAX)
{
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    if (d != std::floor(d) || d < lo || d > hi)
        return false;
    *out = static_cast<int32_t>(d);
    return true;
}

// [x, y, width, height] to a rectangle.
bool RectOf(const QJsonValue& v, RectI* out)
{
    const QJsonArray a = v.toArray();
    if (!v.isArray() || a.size() != 4)
        return false;
    int32_t n[4];
    for (int i = 0; i < 4; ++i)
        if (!IntOf(a[i], &n[i], i < 2 ? -kMaxCoordinate : 0, kMaxCoordinate))
            return false;
    *out = RectI{n[0], n[1], n[0] + n[2], n[1] + n[3]};
    return true;
}

bool TextOf(const QJsonValue& v, std::string* out)
{
    if (v.isUndefined())
        return true;
    if (!v.isString())
        return false;
    *out = v.toString().toStdString();
    return true;
}

struct FlagName {
    const char* name;
    uint32_t flag;
};
constexpr FlagName kFlags[] = {
    {"default", kControlFlagDefault},   {"cancel", kControlFlagCancel},       {"autoToggle", kControlFlagAutoToggle},
    {"toggles", kControlFlagToggles},   {"password", kControlFlagPassword},   {"multiline", kControlFlagMultiline},
    {"readOnly", kControlFlagReadOnly}, {"rounded", kControlFlagRounded},     {"disabled", kControlFlagDisabled},
    {"hidden", kControlFlagHidden},
};

bool ReadControl(Reader& r, const QJsonValue& v, const std::string& where, int depth, NibControl* out)
{
    if (!v.isObject()) {
        r.Error(where, "a control must be an object");
        return false;
    }
    const QJsonObject o = v.toObject();
    NibControl c;
    if (!FourCCOf(o["kind"], &c.kind) ||
        !(IsControlKind(c.kind) || c.kind == kViewKindUserPane || c.kind == kControlKindPlacard)) {
        r.Error(where, "unknown control kind");
        return false;
    }
    const QJsonArray id = o["id"].toArray();
    if (id.size() != 2 || !CodeOf(id[0], &c.id.signature) || !IntOf(id[1], &c.id.id)) {
        r.Error(where, "the id must be [\"ABCD\" or a number, number]");
        return false;
    }
    const std::string name = where + " " + FourCCText(c.id.signature) + " " + std::to_string(c.id.id);
    if (!RectOf(o["frame"], &c.frame)) {
        r.Error(name, "the frame must be [x, y, width, height]");
        return false;
    }
    if (!TextOf(o["title"], &c.title)) {
        r.Error(name, "the title must be a text");
        return false;
    }
    struct {
        const char* key;
        int32_t* field;
    } numbers[] = {{"value", &c.value}, {"min", &c.minimum}, {"max", &c.maximum}, {"viewSize", &c.viewSize},
                   {"increment", &c.increment}};
    for (auto& n : numbers) {
        if (o.contains(n.key) && !IntOf(o[n.key], n.field)) {
            r.Error(name, std::string(n.key) + " must be a whole number");
            return false;
        }
    }
    if (c.maximum < c.minimum) {
        r.Error(name, "max is below min");
        return false;
    }
    for (const QJsonValue& f : o["flags"].toArray()) {
        bool known = false;
        for (const FlagName& fn : kFlags)
            if (f.toString() == QLatin1String(fn.name)) {
                c.flags |= fn.flag;
                known = true;
            }
        if (!known) {
            r.Error(name, "unknown flag " + f.toString().toStdString());
            return false;
        }
    }
    if (o.contains("icon")) {
        int32_t icon = 0;
        if (!IntOf(o["icon"], &icon, 1)) {
            r.Error(name, "the icon must be an icon id above 0");
            return false;
        }
        c.icon = static_cast<uint32_t>(icon);
    }
    const QJsonObject props = o["props"].toObject();
    for (auto it = props.begin(); it != props.end(); ++it) {
        OSType tag = 0;
        if (!FourCCOf(QJsonValue(it.key()), &tag) || !it.value().isDouble()) {
            r.Error(name, "a property is a four-character tag with a number");
            return false;
        }
        c.props.emplace_back(tag, static_cast<int64_t>(it.value().toDouble()));
    }
    if (o.contains("children")) {
        if (depth >= kMaxDepth) {
            r.Error(name, "controls nested too deep");
            return false;
        }
        const QJsonArray children = o["children"].toArray();
        for (qsizetype i = 0; i < children.size(); ++i) {
            NibControl child;
            if (ReadControl(r, children[i], name + " child " + std::to_string(i), depth + 1, &child))
                c.children.push_back(std::move(child));
        }
    }
    *out = std::move(c);
    return true;
}

bool ReadWindow(Reader& r, const std::string& name, const QJsonValue& v, NibWindow* out)
{
    const QJsonObject o = v.toObject();
    if (!v.isObject()) {
        r.Error(name, "a window must be an object");
        return false;
    }
    NibWindow w;
    const QString cls = o["class"].toString("document");
    if (cls == "document")
        w.windowClass = WindowClass::Document;
    else if (cls == "utility")
        w.windowClass = WindowClass::Utility;
    else if (cls == "dialog")
        w.windowClass = WindowClass::MovableModal;
    else {
        r.Error(name, "unknown window class " + cls.toStdString());
        return false;
    }
    w.resizable = o["resizable"].toBool(cls == "document");
    if (!TextOf(o["title"], &w.title)) {
        r.Error(name, "the title must be a text");
        return false;
    }
    if (!RectOf(o["bounds"], &w.bounds) || w.bounds.Width() <= 0 || w.bounds.Height() <= 0) {
        r.Error(name, "the bounds must be [x, y, width, height] with a size");
        return false;
    }
    const QJsonArray controls = o["controls"].toArray();
    for (qsizetype i = 0; i < controls.size(); ++i) {
        NibControl c;
        if (ReadControl(r, controls[i], name + " control " + std::to_string(i), 0, &c))
            w.controls.push_back(std::move(c));
    }
    *out = std::move(w);
    return true;
}

struct KeyName {
    const char* name;
    uint32_t vk;
};
constexpr KeyName kVirtualKeys[] = {
    {"Return", kVkReturn}, {"Escape", kVkEscape}, {"Tab", kVkTab},   {"Backspace", kVkBack}, {"Delete", kVkDelete},
    {"Insert", kVkInsert}, {"Space", kVkSpace},   {"Left", kVkLeft}, {"Right", kVkRight},    {"Up", kVkUp},
    {"Down", kVkDown},     {"Home", kVkHome},     {"End", kVkEnd},   {"PageUp", kVkPrior},   {"PageDown", kVkNext},
    {"Help", kVkHelp},
};

bool VirtualKeyOf(const QJsonValue& v, uint32_t* out)
{
    if (v.isDouble()) {
        int32_t n = 0;
        if (!IntOf(v, &n, 1, 255))
            return false;
        *out = static_cast<uint32_t>(n);
        return true;
    }
    const QString s = v.toString();
    if (s.size() >= 2 && s[0] == 'F') {
        bool ok = false;
        const int n = s.mid(1).toInt(&ok);
        if (ok && n >= 1 && n <= 24) {
            *out = kVkF1 + static_cast<uint32_t>(n) - 1;
            return true;
        }
    }
    for (const KeyName& k : kVirtualKeys)
        if (s == QLatin1String(k.name)) {
            *out = k.vk;
            return true;
        }
    return false;
}

std::shared_ptr<NibMenu> ReadMenu(Reader& r, const std::string& name, const QJsonValue& v, int depth);

bool ReadItem(Reader& r, const std::string& where, const QJsonValue& v, int depth, NibMenuItem* out)
{
    const QJsonObject o = v.toObject();
    if (!v.isObject()) {
        r.Error(where, "an item must be an object");
        return false;
    }
    NibMenuItem item;
    if (o["separator"].toBool()) {
        item.separator = true;
        *out = std::move(item);
        return true;
    }
    if (!TextOf(o["text"], &item.text) || item.text.empty()) {
        r.Error(where, "an item needs a text");
        return false;
    }
    if (o.contains("command") && !CodeOf(o["command"], &item.command)) {
        r.Error(where, "the command must be a four-character code or a number");
        return false;
    }
    if (o.contains("key") && o.contains("vkey")) {
        r.Error(where, "an item has a key or a vkey, not both");
        return false;
    }
    if (o.contains("key")) {
        const QList<uint> key = o["key"].toString().toUcs4();
        if (key.size() != 1) {
            r.Error(where, "the key must be one character");
            return false;
        }
        item.key = key[0];
    } else if (o.contains("vkey")) {
        if (!VirtualKeyOf(o["vkey"], &item.key)) {
            r.Error(where, "unknown vkey");
            return false;
        }
        item.virtualKey = true;
    }
    if (item.key) {
        item.modifiers = kMenuNoCommandModifier;
        QJsonArray mods = o.contains("modifiers") ? o["modifiers"].toArray() : QJsonArray{"command"};
        for (const QJsonValue& m : mods) {
            const QString s = m.toString();
            if (s == "command")
                item.modifiers &= ~kMenuNoCommandModifier;
            else if (s == "shift")
                item.modifiers |= kMenuShiftModifier;
            else if (s == "option")
                item.modifiers |= kMenuOptionModifier;
            else if (s == "control")
                item.modifiers |= kMenuControlModifier;
            else {
                r.Error(where, "unknown modifier " + s.toStdString());
                return false;
            }
        }
    }
    item.enabled = o["enabled"].toBool(true);
    item.checked = o["checked"].toBool(false);
    if (o["submenu"].isString()) {
        item.submenuName = o["submenu"].toString().toStdString();
    } else if (o.contains("submenu")) {
        if (depth >= kMaxDepth) {
            r.Error(where, "submenus nested too deep");
            return false;
        }
        item.submenu = ReadMenu(r, where + " submenu", o["submenu"], depth + 1);
        if (!item.submenu)
            return false;
    }
    *out = std::move(item);
    return true;
}

std::shared_ptr<NibMenu> ReadMenu(Reader& r, const std::string& name, const QJsonValue& v, int depth)
{
    const QJsonObject o = v.toObject();
    if (!v.isObject()) {
        r.Error(name, "a menu must be an object");
        return nullptr;
    }
    auto menu = std::make_shared<NibMenu>();
    if (!TextOf(o["title"], &menu->title)) {
        r.Error(name, "the title must be a text");
        return nullptr;
    }
    const QJsonArray items = o["items"].toArray();
    for (qsizetype i = 0; i < items.size(); ++i) {
        NibMenuItem item;
        if (ReadItem(r, name + " item " + std::to_string(i + 1), items[i], depth, &item))
            menu->items.push_back(std::move(item));
    }
    return menu;
}

bool Unique(Reader& r, const NibModel& m, const std::string& name)
{
    if (m.windows.count(name) || m.menus.count(name) || m.menubars.count(name)) {
        r.Error(name, "the name is used twice");
        return false;
    }
    return true;
}

void ReadFolder(const std::string& folder, NibModel& model)
{
    QDir dir(QString::fromStdString(folder));
    const QStringList files = dir.entryList({"*.json"}, QDir::Files, QDir::Name);
    for (const QString& f : files) {
        QFile file(dir.filePath(f));
        if (!file.open(QIODevice::ReadOnly)) {
            model.errors.push_back(f.toStdString() + ": cannot be read");
            continue;
        }
        // Layout files are small; anything beyond this is no layout.
        if (file.size() > 16 * 1024 * 1024) {
            model.errors.push_back(f.toStdString() + ": too large");
            continue;
        }
        const QByteArray bytes = file.readAll();
        ParseNibText(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())), f.toStdString(),
                     model);
    }
}

} // namespace

bool ParseNibText(std::string_view json, const std::string& source, NibModel& model)
{
    Reader r{source, model};
    QJsonParseError err;
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())), &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject()) {
        r.Error("offset " + std::to_string(err.offset),
                err.error != QJsonParseError::NoError ? "not JSON: " + err.errorString().toStdString()
                                                      : "not a JSON object");
        return false;
    }
    const QJsonObject root = doc.object();
    for (auto it = root.begin(); it != root.end(); ++it)
        if (it.key() != "windows" && it.key() != "menus" && it.key() != "menubars")
            r.Error(it.key().toStdString(), "unknown section");
    const QJsonObject windows = root["windows"].toObject();
    for (auto it = windows.begin(); it != windows.end(); ++it) {
        const std::string name = it.key().toStdString();
        NibWindow w;
        if (Unique(r, model, name) && ReadWindow(r, name, it.value(), &w))
            model.windows.emplace(name, std::move(w));
    }
    const QJsonObject menus = root["menus"].toObject();
    for (auto it = menus.begin(); it != menus.end(); ++it) {
        const std::string name = it.key().toStdString();
        if (!Unique(r, model, name))
            continue;
        if (std::shared_ptr<NibMenu> m = ReadMenu(r, name, it.value(), 0))
            model.menus.emplace(name, std::move(*m));
    }
    const QJsonObject bars = root["menubars"].toObject();
    for (auto it = bars.begin(); it != bars.end(); ++it) {
        const std::string name = it.key().toStdString();
        if (!Unique(r, model, name))
            continue;
        NibMenuBar bar;
        const QJsonArray list = it.value().toObject()["menus"].toArray();
        if (list.isEmpty()) {
            r.Error(name, "a menu bar needs a list of menus");
            continue;
        }
        bool ok = true;
        for (qsizetype i = 0; i < list.size() && ok; ++i) {
            if (list[i].isString()) {
                bar.menus.push_back(nullptr);
                bar.names.push_back(list[i].toString().toStdString());
            } else if (auto m = ReadMenu(r, name + " menu " + std::to_string(i + 1), list[i], 1)) {
                bar.menus.push_back(std::move(m));
                bar.names.emplace_back();
            } else {
                ok = false;
            }
        }
        if (ok)
            model.menubars.emplace(name, std::move(bar));
    }
    return true;
}

NibModel LoadNibFolder(const std::string& folder)
{
    return LoadNibFolders({folder});
}

NibModel LoadNibFolders(const std::vector<std::string>& folders)
{
    NibModel model;
    for (const std::string& folder : folders)
        ReadFolder(folder, model);
    // Names a menu bar or item refers to must exist.
    auto check = [&model](const std::string& where, const std::string& name) {
        if (!name.empty() && !model.menus.count(name))
            model.errors.push_back(where + ": no menu " + name);
    };
    for (const auto& [name, bar] : model.menubars)
        for (const std::string& n : bar.names)
            check(name, n);
    std::vector<const NibMenu*> todo;
    for (const auto& [name, menu] : model.menus)
        todo.push_back(&menu);
    for (const auto& [name, bar] : model.menubars)
        for (const auto& m : bar.menus)
            if (m)
                todo.push_back(m.get());
    while (!todo.empty()) {
        const NibMenu* m = todo.back();
        todo.pop_back();
        for (const NibMenuItem& item : m->items) {
            check(m->title, item.submenuName);
            if (item.submenu)
                todo.push_back(item.submenu.get());
        }
    }
    return model;
}

std::string NibTextValue(const std::string& text)
{
    if (text.size() > 1 && text[0] == '@' && text[1] != '@')
        return text.substr(1);
    return {};
}

} // namespace plat
