// Menus on screen: the menu bar of each window, the Help menu, commands
// from menus, command keys and pop-up menus.
#include "platform/draw/icons_qt.h"
#include "platform/draw/qtdraw_p.h"
#include "platform/events/application.h"
#include "platform/events/bridge_qt.h"
#include "platform/events/modal.h"
#include "platform/events/queue.h"
#include "platform/menus/menus_p.h"
#include "platform/menus/menus_qt.h"
#include "platform/services/resources.h"

#include <QAction>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

namespace plat {
namespace menus {
namespace {

struct BarRec {
    MenuRef root = nullptr; // retained
    QPointer<QMenuBar> bar;
    uint64_t generation = 0;
};

std::map<WindowRef, BarRec>& Bars()
{
    static auto* bars = new std::map<WindowRef, BarRec>;
    return *bars;
}

// A window's menu bar stands above its content, as the global menu bar
// stands above the windows elsewhere: the window grows (or shrinks) by the
// bar's height, so its content keeps the size it was made with.
void GrowForBar(QWidget* top, int delta)
{
    if (delta == 0 || top->isMaximized() || top->isFullScreen())
        return;
    const int height = std::max(1, top->height() + delta);
    if (top->minimumHeight() == top->maximumHeight())
        top->setFixedHeight(height);
    else
        top->resize(top->width(), height);
}

MenuRef gHelpMenu = nullptr;
bool gRefreshPending = false;

QString QText(const Text& t)
{
    std::u16string_view u = t.Units();
    return QString(reinterpret_cast<const QChar*>(u.data()), static_cast<qsizetype>(u.size()));
}

QString Escaped(const QString& s)
{
    QString out = s;
    return out.replace('&', "&&");
}

// The target that commands of the window's menus go to.
TargetRef FocusTarget(WindowRef window)
{
    if (!window)
        return ApplicationTarget();
    if (ViewRef focus = GetKeyboardFocus(window))
        return ViewTarget(focus);
    return WindowTarget(window);
}

std::string KeyName(uint32_t key, bool isVirtual)
{
    if (!isVirtual) {
        // A control character names its key (no glyph would show for it).
        switch (key) {
        case 27: return "Esc";
        case 8: return "Backspace";
        case 9: return "Tab";
        case 13: return "Return";
        case 127: return "Del";
        case ' ': return "Space";
        default: break;
        }
        if (key < 0x20)
            return "Ctrl+" + std::string(1, static_cast<char>('@' + key));
        if (key < 0x80)
            return std::string(1, static_cast<char>(std::toupper(static_cast<int>(key))));
        QString s = QString::fromUcs4(reinterpret_cast<const char32_t*>(&key), 1);
        return s.toUpper().toStdString();
    }
    if (key >= kVkF1 && key <= kVkF1 + 23)
        return "F" + std::to_string(key - kVkF1 + 1);
    if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z'))
        return std::string(1, static_cast<char>(key));
    switch (key) {
    case kVkReturn: return "Return";
    case kVkEscape: return "Esc";
    case kVkTab: return "Tab";
    case kVkBack: return "Backspace";
    case kVkDelete: return "Del";
    case kVkInsert: return "Ins";
    case kVkSpace: return "Space";
    case kVkLeft: return "Left";
    case kVkRight: return "Right";
    case kVkUp: return "Up";
    case kVkDown: return "Down";
    case kVkHome: return "Home";
    case kVkEnd: return "End";
    case kVkPrior: return "PgUp";
    case kVkNext: return "PgDown";
    default: {
        char b[16];
        std::snprintf(b, sizeof b, "0x%02X", key);
        return b;
    }
    }
}

// A menu whose actions do not send their commands leaves the choice to
// whoever runs it (a pop-up button, a menu tracked for its choice).
void FillMenu(QMenu* qmenu, MenuRef menu, WindowRef window, bool sendCommands = true);

QMenu* SubMenu(QWidget* parent, MenuRef menu, WindowRef window, const QString& title, bool sendCommands = true)
{
    auto* qmenu = new QMenu(Escaped(title), parent);
    QPointer<QMenu> guard = qmenu;
    QObject::connect(qmenu, &QMenu::aboutToShow, qmenu, [guard, menu, window, sendCommands] {
        if (!guard)
            return;
        UpdateMenuStatus(window, menu);
        FillMenu(guard, menu, window, sendCommands);
    });
    return qmenu;
}

void FillMenu(QMenu* qmenu, MenuRef menu, WindowRef window, bool sendCommands)
{
    // The actions of the last opening go; their submenus with them.
    for (QAction* a : qmenu->actions()) {
        qmenu->removeAction(a);
        if (QMenu* sub = a->menu())
            sub->deleteLater();
        a->deleteLater();
    }
    MenuRec* rec = GetMenuRec(menu);
    if (!rec)
        return;
    const int count = static_cast<int>(rec->items.size());
    for (int i = 1; i <= count; ++i) {
        const MenuItem* item = GetItem(menu, i);
        if (!item)
            break;
        if (item->attributes & kMenuItemAttrSeparator) {
            qmenu->addSeparator();
            continue;
        }
        QString text = Escaped(QText(item->text));
        const std::string shortcut = MenuItemShortcutText(menu, i);
        if (!shortcut.empty())
            text += '\t' + QString::fromStdString(shortcut);
        QAction* action = nullptr;
        if (item->submenu) {
            QMenu* sub = SubMenu(qmenu, item->submenu, window, QText(item->text), sendCommands);
            action = qmenu->addMenu(sub);
        } else {
            action = qmenu->addAction(text);
            if (sendCommands)
                QObject::connect(action, &QAction::triggered, [window, menu, i] { SendMenuCommand(window, menu, i); });
        }
        action->setProperty("platMenu", QVariant::fromValue(reinterpret_cast<qulonglong>(menu)));
        action->setProperty("platItem", i);
        action->setEnabled(item->enabled);
        if (item->mark) {
            action->setCheckable(true);
            action->setChecked(true);
        }
        if (item->icon)
            action->setIcon(QIconOf(item->icon));
    }
}

void BuildBar(BarRec& bar, WindowRef window)
{
    if (!bar.bar)
        return;
    bar.bar->clear();
    bar.generation = Generation();
    bool haveHelp = false;
    const int count = CountMenuItems(bar.root);
    for (int i = 1; i <= count; ++i) {
        MenuRef sub = GetMenuItemSubmenu(bar.root, i);
        if (!sub)
            continue;
        haveHelp = haveHelp || sub == gHelpMenu;
        Text title = GetMenuTitle(sub);
        if (title.Length() == 0)
            title = GetMenuItemText(bar.root, i);
        bar.bar->addMenu(SubMenu(bar.bar, sub, window, QText(title)));
    }
    if (gHelpMenu && !haveHelp)
        bar.bar->addMenu(SubMenu(bar.bar, gHelpMenu, window, QText(GetMenuTitle(gHelpMenu))));
}

void RefreshBars()
{
    gRefreshPending = false;
    for (auto it = Bars().begin(); it != Bars().end();) {
        if (!it->second.bar || !IsWindowValid(it->first)) {
            MenuRef root = it->second.root;
            it = Bars().erase(it);
            ReleaseMenu(root);
            continue;
        }
        if (it->second.generation != Generation())
            BuildBar(it->second, it->first);
        ++it;
    }
}

// The virtual key that types a punctuation character on a US keyboard, so
// that a shortcut such as Command+, matches with Ctrl held (which types no
// character); 0 for other characters.
uint32_t PunctuationKey(uint32_t c)
{
    switch (c) {
    case ',': return kVkOemComma;
    case '.': return kVkOemPeriod;
    case '/': return kVkOem2;
    case ';': return kVkOem1;
    case '\'': return kVkOem7;
    case '[': return kVkOem4;
    case ']': return kVkOem6;
    case '\\': return kVkOem5;
    case '-': return kVkOemMinus;
    case '=': return kVkOemPlus;
    case '`': return kVkOem3;
    default: return 0;
    }
}

// The key-record modifiers (kMod*) of an item's own kMenu*Modifier bits,
// Command aside.
uint32_t OwnModifiers(uint32_t m)
{
    uint32_t own = 0;
    if (m & kMenuShiftModifier)
        own |= kModShift;
    if (m & kMenuOptionModifier)
        own |= kModOption;
    if (m & kMenuControlModifier)
        own |= kModControl;
    return own;
}

bool ItemKeyMatches(const MenuItem& item, const KeyRecord& key, bool commandOnly)
{
    if (!item.key || (item.attributes & kMenuItemAttrSeparator) || item.submenu)
        return false;
    const bool command = !(item.modifiers & kMenuNoCommandModifier);
    if (commandOnly && !command && !(item.modifiers & kMenuMatchedWithoutCommand))
        return false;
    const uint32_t have = key.modifiers & (kModCommand | kModShift | kModOption | kModControl);
    std::vector<uint32_t> chords = MenuShortcutChords(item.modifiers);
    // A shortcut that is only shown is still matched where the caller asks
    // for every shortcut, with the modifiers it has.
    if (chords.empty())
        chords.push_back(OwnModifiers(item.modifiers));
    if (std::find(chords.begin(), chords.end(), have) == chords.end())
        return false;
    if (item.attributes & kMenuItemAttrUseVirtualKey)
        return key.vk == item.key;
    const uint32_t k = item.key < 0x80 ? static_cast<uint32_t>(std::toupper(static_cast<int>(item.key))) : item.key;
    if (((k >= 'A' && k <= 'Z') || (k >= '0' && k <= '9')) && key.vk == k)
        return true;
    if (const uint32_t vk = PunctuationKey(k); vk != 0 && key.vk == vk)
        return true;
    if (!(key.flags & kKeyHasChar))
        return false;
    const uint32_t c = key.ch < 0x80 ? static_cast<uint32_t>(std::toupper(static_cast<int>(key.ch))) : key.ch;
    return c == k;
}

bool FindKey(MenuRef menu, const KeyRecord& key, bool commandOnly, MenuRef* outMenu, int* outItem, int depth)
{
    if (depth > 32)
        return false;
    const int count = CountMenuItems(menu);
    for (int i = 1; i <= count; ++i) {
        const MenuItem* item = GetItem(menu, i);
        if (!item)
            return false;
        if (ItemKeyMatches(*item, key, commandOnly)) {
            *outMenu = menu;
            *outItem = i;
            return true;
        }
        if (MenuRef sub = item->submenu)
            if (FindKey(sub, key, commandOnly, outMenu, outItem, depth + 1))
                return true;
    }
    return false;
}

void OfferStatus(TargetRef target, MenuRef menu, int item, uint32_t command)
{
    EventPtr e = Event::Create(kEventClassCommand, kEventCommandUpdateStatus);
    CommandRecord cmd;
    cmd.attributes = kCommandFromMenu;
    cmd.commandId = command;
    cmd.source = reinterpret_cast<uintptr_t>(menu);
    cmd.menuItem = static_cast<uint32_t>(item);
    e->Set(kParamDirectObject, kTypeCommand, cmd);
    SendEvent(*e, target);
}

// Command keys go to the menus before the focused view: only the Command
// shortcuts (Ctrl+Shift or Super) and those marked to be taken without it,
// so the other Ctrl and Alt combinations stay the terminal's.
void InstallKeyMatcher()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    SetKeyEquivalentMatcher([](WindowRef window, const KeyRecord& key) { return ProcessMenuKey(window, key, true); });
}

} // namespace

QMenu* CreateQMenu(QWidget* parent, MenuRef menu, WindowRef window)
{
    return SubMenu(parent, menu, window, QText(GetMenuTitle(menu)));
}

void ScheduleMenuBarRefresh()
{
    if (gRefreshPending || Bars().empty())
        return;
    if (PostTask(RefreshBars) == kNoErr)
        gRefreshPending = true;
}

} // namespace menus

using namespace menus;

MenuRef GetHelpMenu()
{
    if (!CheckMainThread("GetHelpMenu"))
        return nullptr;
    if (gHelpMenu && IsValidMenu(gHelpMenu))
        return gHelpMenu;
    std::string title = StringFromResource("PLATFORM_HELPMENU", "Layouts").value_or("Help");
    std::string item = StringFromResource("PLATFORM_HELPITEM", "Layouts").value_or("Help Contents");
    if (title == "PLATFORM_HELPMENU")
        title = "Help";
    if (item == "PLATFORM_HELPITEM")
        item = "Help Contents";
    InstallKeyMatcher();
    gHelpMenu = CreateMenu(Text::FromUtf8(title));
    if (gHelpMenu) {
        InsertMenuItem(gHelpMenu, 0, Text::FromUtf8(item), 0, kCommandAppHelp);
        NoteChanged();
    }
    return gHelpMenu;
}

void ReleaseHelpMenu()
{
    if (!CheckMainThread("ReleaseHelpMenu") || !gHelpMenu)
        return;
    MenuRef menu = gHelpMenu;
    gHelpMenu = nullptr;
    ReleaseMenu(menu);
    NoteChanged();
}

Status SetWindowMenuBar(WindowRef window, MenuRef root)
{
    if (!CheckMainThread("SetWindowMenuBar"))
        return kErrWrongThread;
    QWidget* top = bridge::WidgetOfWindow(window);
    if (!top || !IsWindowValid(window))
        return kErrTargetGone;
    if (root && RetainMenu(root) != kNoErr)
        return kErrTargetGone;
    InstallKeyMatcher();
    auto& bars = Bars();
    auto it = bars.find(window);
    int oldHeight = 0;
    if (it != bars.end()) {
        MenuRef old = it->second.root;
        QMenuBar* oldBar = it->second.bar;
        bars.erase(it);
        if (oldBar) {
            oldHeight = oldBar->sizeHint().height();
            if (top->layout())
                top->layout()->setMenuBar(nullptr);
            oldBar->deleteLater();
        }
        ReleaseMenu(old);
    }
    if (!root) {
        GrowForBar(top, -oldHeight);
        return kNoErr;
    }
    BarRec& rec = bars[window];
    rec.root = root;
    rec.bar = new QMenuBar(top);
    // Linux has no global menu bar: every window carries its own.
    rec.bar->setNativeMenuBar(false);
    BuildBar(rec, window);
    if (top->layout()) {
        top->layout()->setMenuBar(rec.bar);
        GrowForBar(top, rec.bar->sizeHint().height() - oldHeight);
        // The content view keeps its size; the bar has its room now,
        // shown or not.
        top->layout()->activate();
    }
    return kNoErr;
}

MenuRef GetWindowMenuBar(WindowRef window)
{
    if (!IsMainThread())
        return nullptr;
    auto it = Bars().find(window);
    return it != Bars().end() && it->second.bar && IsWindowValid(window) ? it->second.root : nullptr;
}

std::vector<std::string> MenuBarTitles(WindowRef window)
{
    std::vector<std::string> out;
    if (!IsMainThread())
        return out;
    RefreshBars();
    auto it = Bars().find(window);
    if (it == Bars().end() || !it->second.bar)
        return out;
    for (QAction* a : it->second.bar->actions())
        out.push_back(a->text().replace("&&", "&").toStdString());
    return out;
}

void UpdateMenuStatus(WindowRef window, MenuRef menu)
{
    if (!CheckMainThread("UpdateMenuStatus"))
        return;
    const TargetRef target = FocusTarget(window);
    const int count = CountMenuItems(menu);
    for (int i = 1; i <= count; ++i) {
        const MenuItem* item = GetItem(menu, i);
        if (!item)
            return; // a handler changed the menu under us
        if (!(item->attributes & kMenuItemAttrSeparator))
            OfferStatus(target, menu, i, item->command);
    }
}

Status SendMenuCommand(WindowRef window, MenuRef menu, int item)
{
    if (!CheckMainThread("SendMenuCommand"))
        return kErrWrongThread;
    const MenuItem* it = GetItem(menu, item);
    if (!it)
        return kErrBadArgument;
    if (window && !IsWindowValid(window))
        return kErrTargetGone;
    EventPtr e = Event::Create(kEventClassCommand, kEventCommandProcess);
    CommandRecord cmd;
    cmd.attributes = kCommandFromMenu;
    cmd.commandId = it->command;
    cmd.source = reinterpret_cast<uintptr_t>(menu);
    cmd.menuItem = static_cast<uint32_t>(item);
    e->Set(kParamDirectObject, kTypeCommand, cmd);
    return SendEvent(*e, FocusTarget(window));
}

std::vector<uint32_t> MenuShortcutChords(uint32_t m)
{
    uint32_t const own = menus::OwnModifiers(m);
    if (m & kMenuNoCommandModifier)
        return (m & kMenuMatchedWithoutCommand) ? std::vector<uint32_t>{own} : std::vector<uint32_t>{};
    // Ctrl+Shift stands for Command where the shortcut leaves both free.
    if (!(own & (kModShift | kModControl)))
        return {own | kModControl | kModShift, own | kModCommand};
    return {own | kModCommand};
}

std::string MenuItemShortcutText(MenuRef menu, int item)
{
    const MenuItem* it = GetItem(menu, item);
    if (!it || !it->key)
        return {};
    // The chord a menu shows: the first one, or the item's own modifiers for
    // a shortcut that is only shown.
    std::vector<uint32_t> const chords = MenuShortcutChords(it->modifiers);
    uint32_t const chord = chords.empty() ? menus::OwnModifiers(it->modifiers) : chords.front();
    std::string s;
    if (chord & kModCommand)
        s += "Super+";
    if (chord & kModControl)
        s += "Ctrl+";
    if (chord & kModOption)
        s += "Alt+";
    if (chord & kModShift)
        s += "Shift+";
    return s + KeyName(it->key, it->attributes & kMenuItemAttrUseVirtualKey);
}

bool MatchMenuKey(WindowRef window, MenuRef root, const KeyRecord& key, bool commandOnly, MenuRef* outMenu,
                  int* outItem)
{
    MenuRef m = nullptr;
    int i = 0;
    if (!IsMainThread() || !FindKey(root, key, commandOnly, &m, &i, 0))
        return false;
    // The handlers may enable or disable the item for the key as they do
    // before a menu opens.
    OfferStatus(FocusTarget(window), m, i, GetMenuItemCommand(m, i));
    if (outMenu)
        *outMenu = m;
    if (outItem)
        *outItem = i;
    return true;
}

bool ProcessMenuKey(WindowRef window, const KeyRecord& key, bool commandOnly)
{
    if (!CheckMainThread("ProcessMenuKey"))
        return false;
    if (key.flags & (kKeyRelease | kKeyModifierKey))
        return false;
    MenuRef m = nullptr;
    int i = 0;
    MenuRef root = GetWindowMenuBar(window);
    bool found = root && MatchMenuKey(window, root, key, commandOnly, &m, &i);
    if (!found && gHelpMenu)
        found = MatchMenuKey(window, gHelpMenu, key, commandOnly, &m, &i);
    if (!found)
        return false;
    // A disabled item still owns its key: nothing else gets it.
    if (IsMenuItemEnabled(m, i))
        SendMenuCommand(window, m, i);
    return true;
}

std::unique_ptr<Bitmap> DrawMenuPicture(MenuRef menu, WindowRef window)
{
    if (!CheckMainThread("DrawMenuPicture") || !IsValidMenu(menu) || !IsApplicationRunning())
        return nullptr;
    QMenu qmenu;
    UpdateMenuStatus(window, menu);
    FillMenu(&qmenu, menu, window);
    qmenu.ensurePolished();
    qmenu.adjustSize();
    std::unique_ptr<Bitmap> bitmap = Bitmap::Create(qmenu.width(), qmenu.height());
    if (!bitmap)
        return nullptr;
    qmenu.render(&bitmap->Impl().image, QPoint(0, 0), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
    return bitmap;
}

Status menus::TrackPopUpMenu(MenuRef menu, WindowRef window, PointI global, MenuRef* outMenu, int* outItem)
{
    if (outMenu)
        *outMenu = nullptr;
    if (outItem)
        *outItem = 0;
    if (!CheckMainThread("PopUpMenuSelect"))
        return kErrWrongThread;
    if (!IsValidMenu(menu) || !IsApplicationRunning())
        return kErrTargetGone;
    QMenu qmenu(bridge::WidgetOfWindow(window));
    UpdateMenuStatus(window, menu);
    FillMenu(&qmenu, menu, window, false);

    MenuRef chosenMenu = nullptr;
    int chosenItem = 0;
    QObject::connect(&qmenu, &QMenu::triggered, &qmenu, [&](QAction* a) {
        chosenMenu = reinterpret_cast<MenuRef>(a->property("platMenu").toULongLong());
        chosenItem = a->property("platItem").toInt();
    });
    QTimer::singleShot(0, &qmenu, [&] {
        ModalRequest req;
        req.kind = kModalPopupMenu;
        req.window = window;
        req.native = &qmenu;
        req.title = GetMenuTitle(menu).IsNull() ? std::string() : QText(GetMenuTitle(menu)).toStdString();
        for (int i = 1; i <= CountMenuItems(menu); ++i)
            req.choices.push_back(QText(GetMenuItemText(menu, i)).toStdString());
        ModalAnswer answer;
        if (OfferModal(req, answer)) {
            MenuRef m = nullptr;
            int i = 0;
            if (answer.value != 0) {
                FindMenuItemWithCommand(menu, answer.value, 1, &m, &i);
            } else if (answer.choice > 0 && answer.choice <= CountMenuItems(menu)) {
                m = menu;
                i = answer.choice;
            }
            if (m && IsMenuItemEnabled(m, i) && !(GetMenuItemAttributes(m, i) & kMenuItemAttrSeparator) &&
                !GetMenuItemSubmenu(m, i)) {
                chosenMenu = m;
                chosenItem = i;
            }
            qmenu.close();
        } else if (IsTestMode()) {
            std::fprintf(stderr, "plat: pop-up menu in test mode without a responder: nothing chosen\n");
            qmenu.close();
        }
    });
    qmenu.exec(QPoint(global.x, global.y));
    if (outMenu)
        *outMenu = chosenMenu;
    if (outItem)
        *outItem = chosenItem;
    return kNoErr;
}

Status PopUpMenuSelect(MenuRef menu, WindowRef window, PointI global, MenuRef* outMenu, int* outItem)
{
    MenuRef chosenMenu = nullptr;
    int chosenItem = 0;
    const Status err = menus::TrackPopUpMenu(menu, window, global, &chosenMenu, &chosenItem);
    if (err == kNoErr && chosenMenu)
        SendMenuCommand(window, chosenMenu, chosenItem);
    if (outMenu)
        *outMenu = chosenMenu;
    if (outItem)
        *outItem = chosenItem;
    return err;
}

} // namespace plat
