// Window toolbars over QToolBar.
#include "platform/controls/toolbar.h"

#include "platform/controls/control_qt.h"
#include "platform/draw/icons_qt.h"
#include "platform/events/bridge_qt.h"
#include "platform/events/queue.h"
#include "platform/services/prefs.h"

#include <QAction>
#include <QLayout>
#include <QSizePolicy>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <map>

namespace plat {
namespace {

struct ToolbarRec;

struct ItemRec {
    TargetRef target = nullptr;
    std::string identifier;
    Text label;
    Text help;
    uint32_t command = 0;
    IconRef icon = nullptr; // retained
    uint32_t attributes = 0;
    bool enabled = true;
    ToolbarRec* owner = nullptr;
    QPointer<QAction> action;
    ViewRef view = nullptr; // the item's button while it shows
};

struct ToolbarRec {
    TargetRef target = nullptr;
    std::string identifier;
    uint32_t attributes = 0;
    std::string domain = "toolbars";
    std::string key;
    WindowRef window = nullptr;
    QPointer<QToolBar> bar;
    std::vector<ItemRec*> items;
    bool built = false;
    ToolbarDisplayMode mode = ToolbarDisplayMode::IconAndLabel;
};

Qt::ToolButtonStyle StyleOf(ToolbarDisplayMode mode)
{
    switch (mode) {
    case ToolbarDisplayMode::IconOnly:
        return Qt::ToolButtonIconOnly;
    case ToolbarDisplayMode::LabelOnly:
        return Qt::ToolButtonTextOnly;
    default:
        return Qt::ToolButtonTextUnderIcon;
    }
}

std::map<WindowRef, ToolbarRec*>& WindowToolbars()
{
    static auto* map = new std::map<WindowRef, ToolbarRec*>;
    return *map;
}

template <class Rec>
Rec* RecOf(TargetRef target, TargetKind wanted)
{
    TargetKind kind{};
    if (!IsMainThread() || !GetTargetKind(target, &kind) || kind != wanted)
        return nullptr;
    return static_cast<Rec*>(GetTargetOwner(target));
}

ToolbarRec* Find(ToolbarRef toolbar)
{
    return RecOf<ToolbarRec>(reinterpret_cast<TargetRef>(toolbar), TargetKind::Toolbar);
}

ItemRec* Find(ToolbarItemRef item)
{
    return RecOf<ItemRec>(reinterpret_cast<TargetRef>(item), TargetKind::ToolbarItem);
}

void DestroyItem(ItemRec* item)
{
    if (item->action)
        delete item->action;
    if (item->icon)
        ReleaseIconRef(item->icon);
    DestroyTarget(item->target);
    delete item;
}

bool IsStandard(const std::string& identifier)
{
    return identifier.rfind(kToolbarIdentifierPrefix, 0) == 0;
}

std::vector<std::string> AskIdentifiers(ToolbarRec* rec, uint32_t kind)
{
    std::vector<std::string> ids;
    EventPtr e = Event::Create(kEventClassToolbar, kind);
    std::vector<std::string>* list = &ids;
    e->Set(kParamMutableArray, kTypeIdentifierList, list);
    SendEvent(*e, rec->target);
    return ids;
}

// The item of an identifier: the handlers' one, else a standard item.
ItemRec* MakeItem(ToolbarRec* rec, const std::string& identifier)
{
    EventPtr e = Event::Create(kEventClassToolbar, kEventToolbarCreateItemWithIdentifier);
    e->SetParam(kParamToolbarItemIdentifier, kTypeUTF8, identifier.data(), identifier.size());
    ToolbarItemRef made = nullptr;
    if (SendEvent(*e, rec->target) == kNoErr)
        e->Get(kParamToolbarItem, kTypeToolbarItem, &made);
    ItemRec* item = Find(made);
    if (item && item->owner)
        item = nullptr; // another toolbar's
    if (!item && IsStandard(identifier))
        item = Find(CreateToolbarItem(identifier));
    return item;
}

void SendCommand(ItemRec* item)
{
    ToolbarRec* rec = item->owner;
    if (!rec || !rec->window || !item->command)
        return;
    CommandRecord cmd;
    cmd.attributes = kCommandFromControl;
    cmd.commandId = item->command;
    cmd.source = reinterpret_cast<uintptr_t>(item->view);
    EventPtr e = Event::Create(kEventClassCommand, kEventCommandProcess);
    e->Set(kParamDirectObject, kTypeCommand, cmd);
    if (TargetRef target = WindowTarget(rec->window))
        SendEvent(*e, target);
}

void ShowItem(ItemRec* item)
{
    QAction* a = item->action;
    if (!a)
        return;
    a->setText(controls::QStr(item->label.IsNull() ? Text::FromUnits(u"") : item->label));
    a->setToolTip(item->help.IsNull() ? QString() : controls::QStr(item->help));
    a->setIcon(item->icon ? QIconOf(item->icon) : QIcon());
    a->setEnabled(item->enabled);
    a->setCheckable(item->attributes & kToolbarItemSelected);
    a->setChecked(item->attributes & kToolbarItemSelected);
}

// Puts the items into the bar.
void Render(ToolbarRec* rec)
{
    if (!rec->bar)
        return;
    QToolBar* bar = rec->bar;
    bar->clear();
    for (ItemRec* item : rec->items) {
        if (item->identifier == kToolbarSeparatorIdentifier) {
            item->action = bar->addSeparator();
            continue;
        }
        if (item->identifier == kToolbarSpaceIdentifier || item->identifier == kToolbarFlexibleSpaceIdentifier) {
            auto* space = new QWidget(bar);
            if (item->identifier == kToolbarSpaceIdentifier)
                space->setFixedWidth(16);
            else
                space->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
            item->action = bar->addWidget(space);
            continue;
        }
        QAction* a = bar->addAction(QString());
        item->action = a;
        ShowItem(item);
        // The button is a view of the window, the source of its commands.
        item->view = nullptr;
        QWidget* button = bar->widgetForAction(a);
        ViewRef root = WindowRootView(rec->window);
        if (button && root)
            item->view = bridge::RegisterView(button, ViewTarget(root), ViewId{kViewKindToolbarItem, 0},
                                              kViewKindToolbarItem);
        QObject::connect(a, &QAction::triggered, a, [item] {
            // The program decides what is pressed, not the click.
            ShowItem(item);
            SendCommand(item);
        });
    }
}

void Adopt(ToolbarRec* rec, const std::vector<std::string>& identifiers)
{
    for (ItemRec* item : rec->items)
        DestroyItem(item);
    rec->items.clear();
    for (const std::string& id : identifiers) {
        if (ItemRec* item = MakeItem(rec, id)) {
            item->owner = rec;
            rec->items.push_back(item);
        }
    }
    rec->built = true;
    Render(rec);
}

std::vector<std::string> SavedIdentifiers(ToolbarRec* rec, bool* found)
{
    *found = false;
    std::vector<std::string> ids;
    if (!(rec->attributes & kToolbarAutoSavesConfig))
        return ids;
    std::optional<PrefValue> v = GetPref(rec->domain, rec->key, PrefScope::CurrentUser);
    const Text* text = v ? std::get_if<Text>(&*v) : nullptr;
    std::string utf8;
    if (!text || !text->ToUtf8(utf8))
        return ids;
    *found = true;
    size_t start = 0;
    while (start < utf8.size()) {
        size_t end = utf8.find('\n', start);
        if (end == std::string::npos)
            end = utf8.size();
        if (end > start)
            ids.push_back(utf8.substr(start, end - start));
        start = end + 1;
    }
    return ids;
}

void Build(ToolbarRec* rec)
{
    if (rec->built)
        return;
    bool saved = false;
    std::vector<std::string> ids = SavedIdentifiers(rec, &saved);
    if (!saved)
        ids = AskIdentifiers(rec, kEventToolbarGetDefaultIdentifiers);
    Adopt(rec, ids);
}

void Detach(ToolbarRec* rec)
{
    if (rec->window)
        WindowToolbars().erase(rec->window);
    rec->window = nullptr;
    if (rec->bar) {
        QToolBar* bar = rec->bar;
        rec->bar = nullptr;
        bar->deleteLater();
    }
}

void Destroy(ToolbarRec* rec)
{
    Detach(rec);
    for (ItemRec* item : rec->items)
        DestroyItem(item);
    DestroyTarget(rec->target);
    delete rec;
}

} // namespace

ToolbarRef CreateToolbar(std::string_view identifier, uint32_t attributes)
{
    if (!CheckMainThread("CreateToolbar"))
        return nullptr;
    TargetRef target = CreateTarget(TargetKind::Toolbar);
    if (!target)
        return nullptr;
    auto* rec = new ToolbarRec;
    rec->target = target;
    rec->identifier = std::string(identifier);
    rec->key = rec->identifier;
    rec->attributes = attributes;
    SetTargetOwner(target, rec);
    return reinterpret_cast<ToolbarRef>(target);
}

Status DisposeToolbar(ToolbarRef toolbar)
{
    ToolbarRec* rec = Find(toolbar);
    if (!rec)
        return kErrTargetGone;
    if (rec->window)
        return kNoErr; // the window's now
    Destroy(rec);
    return kNoErr;
}

bool IsValidToolbar(ToolbarRef toolbar)
{
    return Find(toolbar) != nullptr;
}

TargetRef ToolbarTarget(ToolbarRef toolbar)
{
    ToolbarRec* rec = Find(toolbar);
    return rec ? rec->target : nullptr;
}

std::string GetToolbarIdentifier(ToolbarRef toolbar)
{
    ToolbarRec* rec = Find(toolbar);
    return rec ? rec->identifier : std::string();
}

Status SetToolbarAutosave(ToolbarRef toolbar, std::string_view domain, std::string_view key)
{
    ToolbarRec* rec = Find(toolbar);
    if (!rec)
        return kErrTargetGone;
    if (domain.empty() || key.empty())
        return kErrBadArgument;
    rec->domain = std::string(domain);
    rec->key = std::string(key);
    return kNoErr;
}

Status SetToolbarDisplayMode(ToolbarRef toolbar, ToolbarDisplayMode mode)
{
    ToolbarRec* rec = Find(toolbar);
    if (!rec)
        return kErrTargetGone;
    rec->mode = mode;
    if (rec->bar)
        rec->bar->setToolButtonStyle(StyleOf(mode));
    return kNoErr;
}

ToolbarDisplayMode GetToolbarDisplayMode(ToolbarRef toolbar)
{
    ToolbarRec* rec = Find(toolbar);
    return rec ? rec->mode : ToolbarDisplayMode::IconAndLabel;
}

Status SetWindowToolbar(WindowRef window, ToolbarRef toolbar)
{
    if (!CheckMainThread("SetWindowToolbar"))
        return kErrWrongThread;
    QWidget* top = bridge::WidgetOfWindow(window);
    if (!top)
        return kErrTargetGone;
    ToolbarRec* rec = toolbar ? Find(toolbar) : nullptr;
    if (toolbar && !rec)
        return kErrTargetGone;
    auto& map = WindowToolbars();
    auto it = map.find(window);
    if (it != map.end()) {
        if (it->second == rec)
            return kNoErr;
        Destroy(it->second);
    }
    if (!rec)
        return kNoErr;
    Detach(rec);
    rec->window = window;
    rec->bar = new QToolBar(top);
    // The buttons' help shows whether or not the window is the active one (a
    // window under the pointer often is not, on X11); Qt asks the window.
    top->setAttribute(Qt::WA_AlwaysShowToolTips);
    rec->bar->setMovable(false);
    rec->bar->setToolButtonStyle(StyleOf(rec->mode));
    rec->bar->hide();
    // The toolbar goes with its window.
    QObject::connect(rec->bar, &QObject::destroyed, [target = rec->target] {
        if (!IsMainThread())
            return;
        auto* r = RecOf<ToolbarRec>(target, TargetKind::Toolbar);
        if (r && r->bar.isNull()) {
            r->window = nullptr;
            for (auto i = WindowToolbars().begin(); i != WindowToolbars().end(); ++i)
                if (i->second == r) {
                    WindowToolbars().erase(i);
                    break;
                }
            Destroy(r);
        }
    });
    if (auto* layout = qobject_cast<QVBoxLayout*>(top->layout()))
        layout->insertWidget(0, rec->bar);
    map[window] = rec;
    if (rec->built)
        Render(rec);
    return kNoErr;
}

ToolbarRef GetWindowToolbar(WindowRef window)
{
    if (!IsMainThread())
        return nullptr;
    auto it = WindowToolbars().find(window);
    return it == WindowToolbars().end() ? nullptr : reinterpret_cast<ToolbarRef>(it->second->target);
}

Status ShowHideWindowToolbar(WindowRef window, bool show, bool)
{
    if (!CheckMainThread("ShowHideWindowToolbar"))
        return kErrWrongThread;
    auto it = WindowToolbars().find(window);
    if (it == WindowToolbars().end() || !it->second->bar)
        return kErrParamNotFound;
    if (show)
        Build(it->second);
    it->second->bar->setVisible(show);
    return kNoErr;
}

bool IsWindowToolbarVisible(WindowRef window)
{
    if (!IsMainThread())
        return false;
    auto it = WindowToolbars().find(window);
    return it != WindowToolbars().end() && it->second->bar && !it->second->bar->isHidden();
}

std::vector<ToolbarItemRef> CopyToolbarItems(ToolbarRef toolbar)
{
    ToolbarRec* rec = Find(toolbar);
    if (!rec)
        return {};
    Build(rec);
    std::vector<ToolbarItemRef> out;
    for (ItemRec* item : rec->items)
        out.push_back(reinterpret_cast<ToolbarItemRef>(item->target));
    return out;
}

std::vector<std::string> GetToolbarIdentifiers(ToolbarRef toolbar)
{
    std::vector<std::string> out;
    for (ToolbarItemRef item : CopyToolbarItems(toolbar))
        out.push_back(GetToolbarItemIdentifier(item));
    return out;
}

std::vector<std::string> GetToolbarAllowedIdentifiers(ToolbarRef toolbar)
{
    ToolbarRec* rec = Find(toolbar);
    return rec ? AskIdentifiers(rec, kEventToolbarGetAllowedIdentifiers) : std::vector<std::string>();
}

Status SetToolbarIdentifiers(ToolbarRef toolbar, const std::vector<std::string>& identifiers)
{
    ToolbarRec* rec = Find(toolbar);
    if (!rec)
        return kErrTargetGone;
    const std::vector<std::string> allowed = AskIdentifiers(rec, kEventToolbarGetAllowedIdentifiers);
    std::vector<std::string> ids;
    for (const std::string& id : identifiers)
        if (std::find(allowed.begin(), allowed.end(), id) != allowed.end())
            ids.push_back(id);
    Adopt(rec, ids);
    if (!(rec->attributes & kToolbarAutoSavesConfig))
        return kNoErr;
    std::string text;
    for (const std::string& id : ids)
        text += id + "\n";
    if (!SetPref(rec->domain, rec->key, Text::FromUtf8(text), PrefScope::CurrentUser) ||
        !SynchronizePrefs(rec->domain, PrefScope::CurrentUser))
        return kErrBadArgument;
    return kNoErr;
}

ToolbarItemRef CreateToolbarItem(std::string_view identifier, uint32_t)
{
    if (!CheckMainThread("CreateToolbarItem"))
        return nullptr;
    TargetRef target = CreateTarget(TargetKind::ToolbarItem);
    if (!target)
        return nullptr;
    auto* item = new ItemRec;
    item->target = target;
    item->identifier = std::string(identifier);
    SetTargetOwner(target, item);
    PostTask([target] {
        ItemRec* left = RecOf<ItemRec>(target, TargetKind::ToolbarItem);
        if (left && !left->owner)
            DestroyItem(left);
    });
    return reinterpret_cast<ToolbarItemRef>(target);
}

bool IsValidToolbarItem(ToolbarItemRef item)
{
    return Find(item) != nullptr;
}

std::string GetToolbarItemIdentifier(ToolbarItemRef item)
{
    ItemRec* rec = Find(item);
    return rec ? rec->identifier : std::string();
}

#define ITEM_OR_RETURN(item)                                                                                          \
    ItemRec* rec = Find(item);                                                                                        \
    if (!rec)                                                                                                         \
    return kErrTargetGone

Status SetToolbarItemLabel(ToolbarItemRef item, const Text& label)
{
    ITEM_OR_RETURN(item);
    rec->label = label;
    ShowItem(rec);
    return kNoErr;
}

Text GetToolbarItemLabel(ToolbarItemRef item)
{
    ItemRec* rec = Find(item);
    return rec ? rec->label : Text();
}

Status SetToolbarItemHelpText(ToolbarItemRef item, const Text& help)
{
    ITEM_OR_RETURN(item);
    rec->help = help;
    ShowItem(rec);
    return kNoErr;
}

Text GetToolbarItemHelpText(ToolbarItemRef item)
{
    ItemRec* rec = Find(item);
    return rec ? rec->help : Text();
}

Status SetToolbarItemCommand(ToolbarItemRef item, uint32_t command)
{
    ITEM_OR_RETURN(item);
    rec->command = command;
    return kNoErr;
}

uint32_t GetToolbarItemCommand(ToolbarItemRef item)
{
    ItemRec* rec = Find(item);
    return rec ? rec->command : 0;
}

Status SetToolbarItemIcon(ToolbarItemRef item, IconRef icon)
{
    ITEM_OR_RETURN(item);
    if (icon && AcquireIconRef(icon) != kNoErr)
        return kErrBadArgument;
    if (rec->icon)
        ReleaseIconRef(rec->icon);
    rec->icon = icon;
    ShowItem(rec);
    return kNoErr;
}

Status ChangeToolbarItemAttributes(ToolbarItemRef item, uint32_t set, uint32_t clear)
{
    ITEM_OR_RETURN(item);
    rec->attributes = (rec->attributes | set) & ~clear;
    ShowItem(rec);
    return kNoErr;
}

uint32_t GetToolbarItemAttributes(ToolbarItemRef item)
{
    ItemRec* rec = Find(item);
    return rec ? rec->attributes : 0;
}

Status EnableToolbarItem(ToolbarItemRef item, bool enable)
{
    ITEM_OR_RETURN(item);
    rec->enabled = enable;
    ShowItem(rec);
    return kNoErr;
}

bool IsToolbarItemEnabled(ToolbarItemRef item)
{
    ItemRec* rec = Find(item);
    return rec && rec->enabled;
}

RectI GetToolbarItemFrame(ToolbarItemRef item)
{
    ItemRec* rec = Find(item);
    if (!rec || !rec->owner || !rec->owner->bar || !rec->action || rec->owner->bar->isHidden())
        return RectI{};
    QWidget* w = rec->owner->bar->widgetForAction(rec->action);
    if (!w || !w->isVisible())
        return RectI{};
    const QRect r(w->mapTo(w->window(), QPoint(0, 0)), w->size());
    return RectI{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
}

} // namespace plat
