// Making windows, controls, menus and menu bars from a nib.
#include "platform/nibs/nib.h"

#include "platform/controls/popups.h"
#include "platform/controls/tabs.h"

#include "platform/events/queue.h"
#include "platform/services/folders.h"
#include "platform/services/resources.h"

#include <cstdio>
#include <map>

namespace plat {
namespace {

struct NibRec {
    NibModel model;
};

struct Registry {
    std::map<uintptr_t, NibRec> nibs;
    uintptr_t next = 0;
    NibRef main = nullptr;
    std::vector<std::string> mainFolders;
};

Registry& Nibs()
{
    static auto* registry = new Registry;
    return *registry;
}

NibRec* Find(NibRef nib)
{
    auto& nibs = Nibs().nibs;
    auto it = nibs.find(reinterpret_cast<uintptr_t>(nib));
    return it == nibs.end() ? nullptr : &it->second;
}

// The text of a layout entry in the current language.
Text Resolve(const std::string& text)
{
    const std::string id = NibTextValue(text);
    if (!id.empty())
        return Text::FromUtf8(StringFromResource(id, "Layouts").value_or(id));
    if (text.size() > 1 && text[0] == '@')
        return Text::FromUtf8(std::string_view(text).substr(1));
    return Text::FromUtf8(text);
}

ViewRef CreateOne(const NibControl& c, ViewRef parent)
{
    if (c.kind == kViewKindUserPane || c.kind == kControlKindPlacard) {
        ViewRef pane = CreateUserPane(parent, c.frame, c.id, c.kind);
        // Panes take the flags that mean something for any view.
        if (pane && (c.flags & kControlFlagHidden))
            SetViewVisible(pane, false);
        if (pane && (c.flags & kControlFlagDisabled))
            SetViewEnabled(pane, false);
        return pane;
    }
    ControlSpec spec;
    spec.kind = c.kind;
    spec.id = c.id;
    spec.frame = c.frame;
    spec.title = Resolve(c.title);
    spec.value = c.value;
    spec.minimum = c.minimum;
    spec.maximum = c.maximum;
    spec.viewSize = c.viewSize;
    spec.increment = c.increment;
    spec.flags = c.flags;
    if (c.icon)
        spec.icon = GetIconRef(kNibCreator, c.icon);
    ViewRef view = CreateControl(parent, spec);
    if (spec.icon)
        ReleaseIconRef(spec.icon);
    return view;
}

// The items of pop-ups, combo boxes and tab controls.
void FillItems(const NibControl& c, ViewRef view)
{
    const int count = static_cast<int>(c.items.size());
    if (c.kind == kControlKindPopupButton || c.kind == kControlKindPopupGroupBox) {
        MenuRef menu = GetControlMenu(view);
        if (!c.hasItems) {
            for (int i = 1; i <= 3; ++i)
                InsertMenuItem(menu, i - 1, Text::FromUtf8("Item " + std::to_string(i)), 0, 0);
            const uintptr_t one = 1;
            SetViewProperty(view, kNibCreator, kNibPlaceholderItems, &one, sizeof one);
        }
        for (int i = 0; i < count; ++i)
            InsertMenuItem(menu, i, Resolve(c.items[static_cast<size_t>(i)]), 0, 0);
        const int n = CountMenuItems(menu);
        if (GetViewMaximum(view) < n)
            SetViewMaximum(view, n);
        if (GetViewValue(view) == 0 && n > 0)
            SetViewValue(view, 1);
    } else if (c.kind == kControlKindComboBox) {
        for (const std::string& item : c.items)
            ComboBoxAppendItem(view, Resolve(item));
    } else if (c.kind == kControlKindTabs && c.hasItems) {
        SetViewMaximum(view, count);
        for (int i = 0; i < count; ++i)
            SetTabLabel(view, i + 1, Resolve(c.items[static_cast<size_t>(i)]));
        if (GetViewValue(view) == 0 && count > 0)
            SetViewValue(view, 1);
    }
}

MenuRef BuildMenu(const NibModel& model, const NibMenu& m, int depth);

MenuRef BuildNamed(const NibModel& model, const std::string& name, int depth)
{
    auto it = model.menus.find(name);
    return it == model.menus.end() ? nullptr : BuildMenu(model, it->second, depth);
}

MenuRef BuildMenu(const NibModel& model, const NibMenu& m, int depth)
{
    // A menu that names itself (directly or not) would never end.
    if (depth > 16)
        return nullptr;
    MenuRef menu = CreateMenu(Resolve(m.title));
    if (!menu)
        return nullptr;
    int n = 0;
    for (const NibMenuItem& item : m.items) {
        if (item.separator) {
            InsertMenuItem(menu, n++, Text(), kMenuItemAttrSeparator, 0);
            continue;
        }
        InsertMenuItem(menu, n, Resolve(item.text), item.virtualKey ? kMenuItemAttrUseVirtualKey : 0, item.command);
        ++n;
        if (item.key) {
            SetMenuItemKey(menu, n, item.key);
            SetMenuItemModifiers(menu, n, item.modifiers);
        }
        EnableMenuItem(menu, n, item.enabled);
        if (item.checked)
            SetMenuItemMark(menu, n, kMenuCheckMark);
        MenuRef sub = item.submenu ? BuildMenu(model, *item.submenu, depth + 1)
                                   : item.submenuName.empty() ? nullptr
                                                              : BuildNamed(model, item.submenuName, depth + 1);
        if (sub) {
            SetMenuItemSubmenu(menu, n, sub);
            ReleaseMenu(sub);
        }
    }
    return menu;
}

NibRef OpenFolders(const std::vector<std::string>& folders)
{
    if (!CheckMainThread("OpenNib"))
        return nullptr;
    NibModel model = LoadNibFolders(folders);
    if (model.windows.empty() && model.menus.empty() && model.menubars.empty())
        return nullptr;
    for (const std::string& e : model.errors)
        std::fprintf(stderr, "plat: layout %s\n", e.c_str());
    Registry& r = Nibs();
    const uintptr_t id = ++r.next;
    r.nibs[id].model = std::move(model);
    return reinterpret_cast<NibRef>(id);
}

} // namespace

NibRef OpenNib(const std::string& folder)
{
    return OpenFolders({folder});
}

NibRef OpenMainNib()
{
    Registry& r = Nibs();
    if (r.main && Find(r.main))
        return r.main;
    std::vector<std::string> folders{ResourcesFolder() + "/nibs"};
    folders.insert(folders.end(), r.mainFolders.begin(), r.mainFolders.end());
    r.main = OpenFolders(folders);
    return r.main;
}

void AddMainNibFolder(const std::string& folder)
{
    if (CheckMainThread("AddMainNibFolder"))
        Nibs().mainFolders.push_back(folder);
}

void CloseNib(NibRef nib)
{
    if (!CheckMainThread("CloseNib"))
        return;
    Registry& r = Nibs();
    r.nibs.erase(reinterpret_cast<uintptr_t>(nib));
    if (nib == r.main)
        r.main = nullptr;
}

void CloseMainNib()
{
    if (NibRef main = Nibs().main)
        CloseNib(main);
}

const NibModel* GetNibModel(NibRef nib)
{
    NibRec* rec = IsMainThread() ? Find(nib) : nullptr;
    return rec ? &rec->model : nullptr;
}

bool CreateNibControls(const std::vector<NibControl>& controls, ViewRef parent)
{
    bool all = true;
    for (const NibControl& c : controls) {
        ViewRef view = CreateOne(c, parent);
        if (!view) {
            all = false;
            continue;
        }
        FillItems(c, view);
        for (const auto& [tag, value] : c.props) {
            const auto word = static_cast<uintptr_t>(value);
            SetViewProperty(view, kNibCreator, tag, &word, sizeof word);
        }
        if (!c.children.empty() && !CreateNibControls(c.children, view))
            all = false;
    }
    return all;
}

Status CreateWindowFromNib(NibRef nib, std::string_view name, WindowRef* out)
{
    if (out)
        *out = nullptr;
    if (!CheckMainThread("CreateWindowFromNib"))
        return kErrWrongThread;
    NibRec* rec = Find(nib);
    if (!rec)
        return kErrTargetGone;
    auto it = rec->model.windows.find(name);
    if (it == rec->model.windows.end())
        return kErrParamNotFound;
    const NibWindow& w = it->second;
    WindowSpec spec;
    spec.windowClass = w.windowClass;
    spec.attributes = w.resizable ? 0 : kWindowAttrNoResize;
    spec.bounds = w.bounds;
    std::string title;
    Resolve(w.title).ToUtf8(title, '?');
    spec.title = title;
    WindowRef window = CreateWindow(spec);
    if (!window)
        return kErrBadArgument;
    CreateNibControls(w.controls, WindowContentView(window));
    if (out)
        *out = window;
    return kNoErr;
}

Status CreateMenuFromNib(NibRef nib, std::string_view name, MenuRef* out)
{
    if (out)
        *out = nullptr;
    if (!CheckMainThread("CreateMenuFromNib"))
        return kErrWrongThread;
    NibRec* rec = Find(nib);
    if (!rec)
        return kErrTargetGone;
    auto it = rec->model.menus.find(name);
    if (it == rec->model.menus.end())
        return kErrParamNotFound;
    MenuRef menu = BuildMenu(rec->model, it->second, 0);
    if (!menu)
        return kErrBadArgument;
    if (out)
        *out = menu;
    else
        ReleaseMenu(menu);
    return kNoErr;
}

Status CreateMenuBarFromNib(NibRef nib, std::string_view name, MenuRef* out)
{
    if (out)
        *out = nullptr;
    if (!CheckMainThread("CreateMenuBarFromNib"))
        return kErrWrongThread;
    NibRec* rec = Find(nib);
    if (!rec)
        return kErrTargetGone;
    auto it = rec->model.menubars.find(name);
    if (it == rec->model.menubars.end())
        return kErrParamNotFound;
    const NibMenuBar& bar = it->second;
    MenuRef root = CreateMenu();
    if (!root)
        return kErrBadArgument;
    int n = 0;
    for (size_t i = 0; i < bar.menus.size(); ++i) {
        MenuRef sub = bar.menus[i] ? BuildMenu(rec->model, *bar.menus[i], 1) : BuildNamed(rec->model, bar.names[i], 1);
        if (!sub)
            continue;
        InsertMenuItem(root, n, GetMenuTitle(sub), 0, 0);
        SetMenuItemSubmenu(root, ++n, sub);
        ReleaseMenu(sub);
    }
    if (out)
        *out = root;
    else
        ReleaseMenu(root);
    return kNoErr;
}

} // namespace plat
