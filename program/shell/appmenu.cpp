// The main window's commands and menus: the entry of every command number
// (OnCommand, DoCommand), the menu set-up with its shortcuts, the dynamic
// menu parts, the states of the commands in the menus and the toolbar at
// once, refreshed from the current session, and the context menu.
//
// Commands whose part of the program is not built are disabled wherever
// they show, with the reason kept in kUnavailable; a command the session
// routes becomes available as soon as the session has a handler for it.
#include "program/shell/app.h"

#include "program/shell/status.h"
#include "program/shell/toolbar.h"

#include "platform/events/appevents.h"
#include "platform/nibs/nib.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/appfunction.h"
#include "velmot/gui/clipboard.h"
#include "velmot/gui/helpfile.h"
#include "velmot/gui/winkeys.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

namespace {

// Commands whose new state is the opposite of their check mark.
constexpr int kToggles[] = {8030, 8290, 8291, 8292, 8293, 8294, 8295, 8450, 8455, 8478, 8479};

struct HELPTOPIC {
    int Command;
    char const* Topic;
    int Result;
};

constexpr HELPTOPIC kHelpTopics[] = {
    {9004, "HLP_REXX", 1},          {9007, "HLP_ORDER", 1},         {9010, "HLP_QUICKSTART", 1},
    {9011, "HLP_STARTER", 1},       {9012, "HLP_MENU", 1},          {9013, "HLP_SCREEN", 1},
    {9014, "HLP_FONTCOLOR", 1},     {9015, "HLP_START_PARM", 1},    {9016, "HLP_APXCODES", 1},
    {9017, "HLP_APXSHORTCUTS", 1},  {9019, "HLP_REXXREF", 0},       {9020, "HLP_APXRXCMDS", 1},
    {9021, "HLP_APXHOWTO", 1},      {9022, "HLP_APXPROBS", 1},      {9023, "HLP_UPDATES", 1},
    {9024, "HLP_CONTACT", 1},       {9025, "HLP_UNINSTALL", 1},
    // Help topics, not layouts.
    {9050, "IDM_CLIPTEXT", 1}, // nibcheck: absent
    {9051, "IDM_VIEW", 1},     // nibcheck: absent
    {9052, "IDM_LOGFILE", 1},  // nibcheck: absent
    {9053, "IDM_TRANSFER", 1}, // nibcheck: absent
    {9054, "HLP_AUTOMATION", 1},    {9055, "HLP_OPTSOVERVIEW", 1},
};

HELPTOPIC const* FindHelpTopic(int cmd)
{
    for (HELPTOPIC const& h : kHelpTopics)
        if (h.Command == cmd)
            return &h;
    return nullptr;
}

// The program's help book (the application object sets it up).
HELPFILE* HelpBook()
{
    HELPFILE* help = HELPFILE::GetInstance();
    return help && help->IsValid() ? help : nullptr;
}

// Whether the help book has a page for the topic (through its aliases).
bool HelpHasTopic(char const* topic)
{
    HELPFILE* help = HelpBook();
    if (!help)
        return false;
    for (int i = 0; i < help->NumMappings; ++i) {
        if (strcasecmp(help->Mappings[i].From.Buf(), topic) == 0) {
            topic = help->Mappings[i].To.Buf();
            break;
        }
    }
    for (int i = 0; i < help->Topics.NumItems(); ++i)
        if (strcasecmp(help->Topics[i]->Buf(), topic) == 0)
            return true;
    return false;
}

// What a command that is not built yet waits for.
enum class NEED {
    NOTHING,  // it stays unavailable until its part is built here
    ROUTE,    // the session's handler of the event (SESSION::SetEventRoute)
    USERBAR,  // the user button bar
    HELPPAGE, // a page of the help book
};

struct UNAVAILABLE {
    int First;
    int Last;
    NEED Need;
    char const* Reason;
};

// The commands of the menus, the toolbar and the status line that cannot
// run in this program yet, and why.
constexpr UNAVAILABLE kUnavailable[] = {
    {8115, 8116, NEED::ROUTE, "the connect clock is not built"},
    {8125, 8141, NEED::ROUTE, "REXX scripts are not built"},
    {8200, 8200, NEED::ROUTE, "the dialling queue of the host directory is not built"},
    {8210, 8210, NEED::ROUTE, "the scroll-back browser is not built"},
    {8220, 8220, NEED::NOTHING, "the program settings dialog is not built"},
    {8221, 8221, NEED::ROUTE, "the translation table editor is not built"},
    {8222, 8222, NEED::NOTHING, "the toolbar has no editor on this desktop"},
    {8223, 8223, NEED::ROUTE, "the key map editor is not built"},
    {8230, 8288, NEED::ROUTE, "the session profile dialog is not built"},
    {8290, 8290, NEED::NOTHING, "a window of this desktop always shows its menu bar"},
    {8292, 8292, NEED::USERBAR, "the user button bar is not built"},
    {8293, 8293, NEED::ROUTE, "the chat line is not built"},
    {8352, 8352, NEED::ROUTE, "copying to the clipboard is not built"},
    {8355, 8375, NEED::ROUTE, "sending the clipboard is not built"},
    {8380, 8380, NEED::NOTHING, "the host directory is not built"},
    {8381, 8381, NEED::ROUTE, "dialling is not built"},
    // The quick-access items of the host directory dial by menu id; they are
    // enabled as they are made.
    {PHONE_MENUID_QUICK, PHONE_MENUID_LAST, NEED::ROUTE, "dialling is not built"},
    {8440, 8440, NEED::NOTHING, "the session thumbnails are not built"},
    {8470, 8471, NEED::ROUTE, "learning logins is not built"},
    {8475, 8475, NEED::ROUTE, "the automatic login is not built"},
    {8478, 8478, NEED::ROUTE, "snippets are not built"},
    {8479, 8479, NEED::ROUTE, "the split-screen chat is not built"},
    {8487, 8488, NEED::ROUTE, "the scroll-back viewer is not built"},
    {8516, 8519, NEED::ROUTE, "file transfers are not built"},
    {9001, 9055, NEED::HELPPAGE, "the help book has no page for this topic"},
};

// Every command id of the menus and the toolbar that the refresh touches.
constexpr int kCaptureCommands[] = {8390, 8392, 8393, 8394};
constexpr int kClipboardCommands[] = {8355, 8360, 8365, 8367, 8370, 8375};
constexpr int kDeviceCommands[] = {8500, 8501, 8502, 8503};

std::string CutAtTab(std::string text)
{
    size_t const tab = text.find('\t');
    if (tab != std::string::npos)
        text.resize(tab);
    return text;
}

} // namespace

// ---------------------------------------------------------------------------
// What cannot run

char const* APP::CommandUnavailable(int cmd)
{
    for (UNAVAILABLE const& u : kUnavailable) {
        if (cmd < u.First || cmd > u.Last)
            continue;
        switch (u.Need) {
        case NEED::NOTHING:
            return u.Reason;
        case NEED::ROUTE: {
            CURRENTSESSIONPTR session(*this);
            int const event = cmd == 8031 ? 8030 : cmd;
            return session && session->HasEventRoute(event) ? nullptr : u.Reason;
        }
        case NEED::USERBAR:
            return pUserbar ? nullptr : u.Reason;
        case NEED::HELPPAGE: {
            if (cmd == 9001)
                return HelpHasTopic("CONTENT") ? nullptr : u.Reason;
            HELPTOPIC const* h = FindHelpTopic(cmd);
            return h && HelpHasTopic(h->Topic) ? nullptr : (h ? u.Reason : nullptr);
        }
        }
    }
    return nullptr;
}

void APP::ApplyUnavailable()
{
    for (UNAVAILABLE const& u : kUnavailable) {
        if (u.First == PHONE_MENUID_QUICK)
            continue;
        for (int cmd = u.First; cmd <= u.Last; ++cmd) {
            if (u.Need == NEED::HELPPAGE && cmd != 9001 && !FindHelpTopic(cmd))
                continue;
            if (CommandUnavailable(cmd))
                EnableMenuEntry(cmd, 0, true);
        }
    }
}

// ---------------------------------------------------------------------------
// Entries

bool APP::OnCommand(uint32_t id)
{
    if (id == plat::FourCC("quit")) {
        plat::RequestQuit();
        return true;
    }
    // The application's Help menu: the help's contents, the keyboard
    // shortcuts and the tip of the day.
    if (id == plat::FourCC("ID9A") || id == plat::FourCC("HKEY") || id == plat::FourCC("HTIP")) {
        DoCommand(id == plat::FourCC("ID9A") ? 9001 : id == plat::FourCC("HKEY") ? 9017 : 8493, 0, 0);
        return true;
    }
    plat::MenuRef holder = nullptr;
    if (MainMenu.GetMenuRef() && MainMenu.GetMenuAndIndexFromID(id, &holder) >= 0 &&
        MainMenu.GetMenuItemText(id, false).NotEmpty() && !MainMenu.IsMenuItemEnabled(id))
        return false;
    // The toolkit's own commands (the Help menu's) are not numbers of ours.
    if (id == 0 || id > 32766)
        return false;
    DoCommand(id, 0, 0);
    return true;
}

int APP::DoCommand(unsigned long cmd, unsigned long p1, MSGWORD p2)
{
    LOGIT("APP::DoCommand %ld %ld %p\n", static_cast<long>(cmd), static_cast<long>(p1), reinterpret_cast<void*>(p2));
    int rc = 0;
    int const c = static_cast<int>(cmd);
    if (std::find(std::begin(kToggles), std::end(kToggles), c) != std::end(kToggles)) {
        bool const now = !IsMenuChecked(c);
        MenuCheck(c, now);
        rc = ProcessEvent(c, now ? 1 : 0, nullptr);
    } else if (c == 8031) {
        STATUSLINE* status = Statusline();
        rc = 1;
        ProcessEvent(8030, status ? status->CaptureSwitchValue() : 0, nullptr);
    } else if (c == 9001) {
        if (HELPFILE* help = HelpBook())
            help->Contents(true);
        rc = 1;
    } else if (c == 9009 || cmd == plat::FourCC("abou")) {
        // The program's name and version, until the About dialog comes.
        STRING text;
        text.Format(OSYS::GetStringFromResource("IDS_ABOUT_TEXT").Buf(), gVersion, gSubVersion);
        InfoMsg(text.Buf());
        rc = 1;
    } else if (HELPTOPIC const* h = FindHelpTopic(c)) {
        if (HELPFILE* help = HelpBook())
            help->Display(h->Topic);
        rc = h->Result;
    } else {
        rc = ProcessEvent(c, static_cast<short>(p1), reinterpret_cast<char const*>(p2));
    }
    LOGIT("APP::DoCommand %ld done, rc= %d\n", static_cast<long>(cmd), rc);
    return rc;
}

// ---------------------------------------------------------------------------
// Set-up

void APP::InitMenu(MENU& menu)
{
    if (!menu.GetMenuRef())
        return;
    menu.DeleteMenuItem(8215, false);
    STRING quit = OSYS::GetStringFromResource("IDS_CMDQUIT");
    menu.SetMenuItemText(8899, quit.Token(1, "|").Buf());
    struct SHORTCUT {
        int Command;
        int Key;
        bool Virtual;
        uint32_t Modifiers;
    };
    // Command is typed as Ctrl+Shift (or Super) on this desktop. The tabs
    // switch with Ctrl+PgUp and Ctrl+PgDn, as in the other terminals here:
    // those two keys are taken from the terminal, and the transfers that
    // carry them elsewhere get none.
    static constexpr SHORTCUT kShortcuts[] = {
        {8899, 'W', false, MENUMOD_COMMAND | MENUMOD_SHIFT},
        {8424, 'W', false, MENUMOD_COMMAND},
        {8220, ',', false, MENUMOD_COMMAND},
        {8293, 'C', false, MENUMOD_COMMAND | MENUMOD_OPTION},
        {8499, 35, true, MENUMOD_CONTROL},
        {8365, 'Q', false, MENUMOD_COMMAND | MENUMOD_OPTION},
        {8367, 'Q', false, MENUMOD_COMMAND | MENUMOD_OPTION | MENUMOD_SHIFT},
        {8487, 'F', false, MENUMOD_COMMAND},
        {8422, 34, true, MENUMOD_CONTROL | MENUMOD_TAKEN},
        {8423, 33, true, MENUMOD_CONTROL | MENUMOD_TAKEN},
        {8440, 27, false, MENUMOD_SHIFT},
    };
    for (int command : {8422, 8423, 8518, 8519})
        menu.ClearMenuItemShortcut(command);
    for (SHORTCUT const& s : kShortcuts)
        menu.SetMenuItemShortcut(s.Command, s.Key, s.Virtual, s.Modifiers);
    plat::MenuRef holder = nullptr;
    int const item = menu.GetMenuAndIndexFromID(8222, &holder);
    if (item >= 0 && holder) {
        MENU inner(holder);
        inner.DeleteMenuItem(8222, false);
        // The separator that stood above it.
        if (item >= 1 && inner.IsMenuItemSeparator(item - 1))
            inner.DeleteMenuItemSeparator(item - 1, true);
    }
}

void APP::AddHelpTopics()
{
    plat::MenuRef help = MainMenu.GetMenuRef() ? MainMenu.GetHelpMenu() : nullptr;
    if (!help)
        return;
    // The Help menu is the application's: the first window fills it.
    MENU helpMenu(help);
    plat::MenuRef holder = nullptr;
    if (helpMenu.GetMenuAndIndexFromID(9001, &holder) >= 0)
        return;
    MENU topics("IDM_HELPTOPICS");
    if (!topics.GetMenuRef())
        return;
    // Only topics the book has a page for are offered (a Help item that
    // opens nothing would only disappoint), and the keyboard shortcuts once:
    // the Help menu's own item shows them.
    for (int pos = topics.GetNumMenuItems() - 1; pos >= 0; --pos) {
        int const cmd = topics.GetMenuIdFromPos(pos);
        if (topics.IsMenuItemSeparator(pos) || cmd <= 0)
            continue;
        if (cmd == 9017 || (FindHelpTopic(cmd) && CommandUnavailable(cmd)) ||
            (cmd == 9001 && CommandUnavailable(cmd)))
            topics.DeleteMenuItem(static_cast<uint32_t>(pos), true);
    }
    // No separator at either end or twice in a row.
    for (int pos = topics.GetNumMenuItems() - 1; pos >= 0; --pos) {
        bool const last = pos == topics.GetNumMenuItems() - 1;
        if (topics.IsMenuItemSeparator(pos) && (pos == 0 || last || topics.IsMenuItemSeparator(pos - 1)))
            topics.DeleteMenuItemSeparator(pos, true);
    }
    int const at = plat::CountMenuItems(help);
    plat::InsertMenuItem(help, at, plat::Text(), plat::kMenuItemAttrSeparator, 0);
    plat::CopyMenuItems(topics.GetMenuRef(), 1, plat::CountMenuItems(topics.GetMenuRef()), help, at + 1);
}

int APP::MakeMenu(MENU const& menu, bool force)
{
    LOGIT("APP::MakeMenu\n");
    if (!menu.GetMenuRef())
        return 0;
    if (menu.GetMenuRef() != MainMenu.GetMenuRef())
        force = true;
    CURRENTSESSIONPTR session(*this);
    if (session && session->CommLayer.Device())
        session->CommLayer.MakeMenu(menu, force ? 1 : 0);
    // The host directory's quick-access entries, each enabled when the
    // session can dial it.
    if (Phonebook->MakeMenu(menu, force ? 1 : 0, 0, 0)) {
        for (int id = PHONE_MENUID_QUICK + 1; id < PHONE_MENUID_ALLENTRIES; ++id) {
            plat::MenuRef holder = nullptr;
            if (menu.GetMenuAndIndexFromID(static_cast<uint32_t>(id), &holder) < 0)
                break;
            EnableMenuEntry(id, 1, true);
        }
    }
    // The transfer and script parts of the menus come with their own parts.
    LOGIT("APP::MakeMenu done\n");
    return 1;
}

int APP::MakeMenu(bool force)
{
    if (!Active && !force)
        return 0;
    return MakeMenu(MainMenu, force);
}

void APP::MenuText(int cmd, int size, char* buffer)
{
    if (!buffer || size < 1)
        return;
    buffer[0] = 0;
    plat::MenuRef holder = nullptr;
    if (!MainMenu.GetMenuRef() || MainMenu.GetMenuAndIndexFromID(static_cast<uint32_t>(cmd), &holder) < 0)
        return;
    snprintf(buffer, static_cast<size_t>(size), "%s", MainMenu.GetMenuItemText(static_cast<uint32_t>(cmd), false).Buf());
}

void APP::AddCondMenuItemToPopup(MENU& popup, unsigned long cmd, char const* text, bool cutAtTab)
{
    std::string label;
    if (text) {
        label = text;
    } else {
        char buffer[256];
        MenuText(static_cast<int>(cmd), sizeof buffer, buffer);
        label = buffer;
    }
    if (cutAtTab)
        label = CutAtTab(label);
    if (label.empty())
        return;
    popup.InsertItem(label.c_str(), static_cast<int>(cmd), popup.GetNumMenuItems());
    plat::MenuRef holder = nullptr;
    uint32_t const id = static_cast<uint32_t>(cmd);
    if (MainMenu.GetMenuRef() && MainMenu.GetMenuAndIndexFromID(id, &holder) >= 0 &&
        MainMenu.GetMenuItemText(id, false).NotEmpty() && !MainMenu.IsMenuItemEnabled(id))
        popup.EnableMenuItem(id, 0);
}

void APP::PopupMenu()
{
    if (!ContextMenu.GetMenuRef() || Closing)
        return;
    int const choice = ContextMenu.Popup(GetWindow(), nullptr, 1);
    if (choice > 0)
        OnCommand(static_cast<uint32_t>(choice));
}

// ---------------------------------------------------------------------------
// States

int APP::MenuIdFromName(char const* name)
{
    if (!MainMenu.GetMenuRef() || !name)
        return 0;
    int id = MainMenu.GetMenuIdFromName(name);
    return id < 0 ? 0 : id;
}

bool APP::IsMenuEntryEnabled(int id)
{
    plat::MenuRef holder = nullptr;
    if (!MainMenu.GetMenuRef() || MainMenu.GetMenuAndIndexFromID(static_cast<uint32_t>(id), &holder) < 0)
        return !ProgSettings.DisableMenuItems(id) && !CommandUnavailable(id);
    return MainMenu.IsMenuItemEnabled(static_cast<uint32_t>(id));
}

void APP::EnableMenuEntry(int id, int enable, bool alsoInactive)
{
    if (!TARVOAPP::IsMainThread()) {
        APPFUNCTION call(this, static_cast<void (APP::*)(int, int, bool)>(&APP::EnableMenuEntry), id, enable,
                         alsoInactive);
        call.CallFrom(*this);
        return;
    }
    if (enable && (ProgSettings.DisableMenuItems(id) || CommandUnavailable(id)))
        enable = 0;
    if (TOOLBAR* toolbar = dynamic_cast<TOOLBAR*>(pToolbar.get()))
        toolbar->EnableButton(static_cast<uint32_t>(id), static_cast<signed char>(enable != 0));
    if (MainMenu.GetMenuRef() && (Active || alsoInactive))
        MainMenu.EnableMenuItem(static_cast<uint32_t>(id), enable);
    if (ContextMenu.GetMenuRef())
        ContextMenu.EnableMenuItem(static_cast<uint32_t>(id), enable);
}

void APP::MenuCheck(int id, bool on)
{
    if (MainMenu.GetMenuRef())
        MainMenu.CheckMenuItem(static_cast<uint32_t>(id), on ? 1 : 0);
    if (ContextMenu.GetMenuRef())
        ContextMenu.CheckMenuItem(static_cast<uint32_t>(id), on ? 1 : 0);
}

bool APP::IsMenuChecked(int id)
{
    return MainMenu.GetMenuRef() && MainMenu.IsMenuItemChecked(static_cast<uint32_t>(id));
}

void APP::SetCommandText(int cmd, char const* text)
{
    for (MENU* menu : {&MainMenu, &ContextMenu}) {
        plat::MenuRef holder = nullptr;
        if (menu->GetMenuRef() && menu->GetMenuAndIndexFromID(static_cast<uint32_t>(cmd), &holder) >= 0 &&
            strcmp(menu->GetMenuItemText(static_cast<uint32_t>(cmd), false).Buf(), text) != 0)
            menu->SetMenuItemText(cmd, text);
    }
}

void APP::UpdateToolbarAndMenu(bool full)
{
    // Other threads leave it to the next tick of the window's timer.
    if (Closing || !TARVOAPP::IsMainThread())
        return;
    CURRENTSESSIONPTR session(*this);
    auto changed = [full](int& cached, int now) {
        bool const differs = full || cached != now;
        cached = now;
        return differs;
    };
    int const count = GetNumSessions();

    // 1: tabs.
    for (int id : {8422, 8423, 8440})
        EnableMenuEntry(id, count > 1 ? 1 : 0, true);

    // 2: the number of sessions.
    if (changed(Cache.Sessions, count)) {
        EnableMenuEntry(8424, count > 0 ? 1 : 0, true);
        STRING texts = OSYS::GetStringFromResource("IDS_CMDCLOSETAB");
        SetCommandText(8424, CutAtTab(texts.Token(count < 2 ? 1 : 0, "|").Buf()).c_str());
    }
    if (!session)
        return;
    SESSIONPROFILEDATA const& p = session->Prof.data;

    // 3: a selection (always computed; the text only when it changed).
    int const marked = session->IsTextMarked() ? 1 : 0;
    if (changed(Cache.Selection, marked)) {
        STRING texts = OSYS::GetStringFromResource("IDS_CMDCLIPCOPYSCREEN");
        std::string text = texts.Token(marked ? 0 : 1, "|").Buf();
        char current[256];
        MenuText(8352, sizeof current, current);
        if (char const* tab = strchr(current, '\t'))
            text += tab;
        SetCommandText(8352, text.c_str());
    }

    // 4: scripts (no interpreter in this build: nothing runs).
    bool const rexxAvailable = false;
    bool const scriptRuns = false;
    if (changed(Cache.Script, scriptRuns ? 1 : 0)) {
        EnableMenuEntry(8125, rexxAvailable && !scriptRuns, true);
        EnableMenuEntry(8140, scriptRuns, true);
    }

    // 5: learning.
    int const learning = session->LearningActive() ? 1 : 0;
    if (changed(Cache.Learning, learning)) {
        EnableMenuEntry(8470, !learning, true);
        EnableMenuEntry(8471, learning, true);
    }

    // 6: automatic login waiting (kept by the automatic login, not built).
    if (changed(Cache.AutoLogin, 0))
        EnableMenuEntry(8475, 0, true);

    // 7: the session's clock.
    int timer = 0;
    if (auto* s = dynamic_cast<APPSESSION*>(session.Get()))
        timer = s->OnlineTimer.IsRunning() ? 1 : 0;
    if (changed(Cache.Timer, timer)) {
        EnableMenuEntry(8116, !timer, true);
        EnableMenuEntry(8115, timer, true);
    }

    // 8: the clipboard (always computed).
    CLIPBOARD* clipboard = CLIPBOARD::GetInstance();
    int const clip = clipboard && clipboard->IsTextAvailable() ? 1 : 0;
    if (changed(Cache.Clipboard, clip))
        for (int id : kClipboardCommands)
            EnableMenuEntry(id, clip, true);

    // 9: the connection: its state, and whether it is known.
    bool const device = session->CommLayer.Device() != nullptr;
    int const online = device ? session->CommLayer.QueryOnline() : 0;
    int const connection = (device ? 0x100 : 0) | (online & 0xFF);
    if (changed(Cache.Connection, connection)) {
        bool const up = online == 1 || online == -1;
        EnableMenuEntry(8382, up, true);
        EnableMenuEntry(8383, session->CanReconnect(), true);
        EnableMenuEntry(8200, 0, true);
        for (int id : kDeviceCommands)
            EnableMenuEntry(id, up, true);
    }

    // 10: the scroll-back (filled; the viewer is not built, so never shown).
    int const scrollback = session->Scrollback.QueryFilled() > 0 ? 1 : 0;
    int const oldScrollback = Cache.Scrollback;
    if (changed(Cache.Scrollback, scrollback)) {
        bool const inactive = oldScrollback != scrollback;
        EnableMenuEntry(8490, scrollback, true);
        EnableMenuEntry(8486, scrollback, true);
        EnableMenuEntry(8488, scrollback, inactive);
        EnableMenuEntry(8210, scrollback, inactive);
        EnableMenuEntry(8487, scrollback, inactive);
    }

    // 11: the capture buffer: has data, plus 2 while its viewer is open.
    int const filled = session->Capture.QueryCaptureFilled() ? 1 : 0;
    int const capture = filled | (session->CaptureViewer() ? 2 : 0);
    int const oldCapture = Cache.Capture;
    if (changed(Cache.Capture, capture)) {
        for (int id : kCaptureCommands)
            EnableMenuEntry(id, filled, true);
        EnableMenuEntry(8395, filled && !session->CaptureViewer(), oldCapture != capture);
    }

    // 12: emulation and transfer protocol.
    int const emu = p.ActiveEmulation;
    int const packed = emu << 8 | (p.ActiveTransfer & 0xFF);
    if (changed(Cache.EmuTransfer, packed)) {
        bool const blockMode = emu == 11 || emu == 17;
        EnableMenuEntry(8518, !blockMode || p.ActiveTransfer == 6, true);
        EnableMenuEntry(8519, !blockMode || p.ActiveTransfer == 6, true);
        EnableMenuEntry(8517, !blockMode, true);
        EnableMenuEntry(8516, !blockMode, true);
    }

    // 13: accepting calls and the check marks, each from its own source.
    EnableMenuEntry(8450, device && session->CommLayer.CanAccept() ? 1 : 0, true);
    struct CHECK {
        int Command;
        int Value;
    };
    CHECK const checks[] = {
        {8030, p.CaptStatus == 2},     {8478, p.ShowSnippets == 1},
        {8479, session->SplitChatActive()}, {8290, p.ShowMenu != 0},
        {8291, p.ShowToolbar != 0},    {8292, p.ShowUserbar != 0},
        {8295, p.ShowScrollbar != 0},  {8293, p.ShowChat != 0},
        {8294, p.ShowStatusline != 0},
    };
    for (size_t i = 0; i < std::size(checks); ++i) {
        if (changed(Cache.Checks[i], checks[i].Value))
            MenuCheck(checks[i].Command, checks[i].Value != 0);
    }

    // 14: what the administrator disabled, and what this program lacks.
    for (int i = 0; i < ADMIN_MAXDISABLEDCOMMANDS && AdminRecord.DisabledCommands[i] >= 1; ++i)
        EnableMenuEntry(AdminRecord.DisabledCommands[i], 0, true);
    EnableMenuEntry(8045, AdminRecord.DisableLogging ? 0 : 1, true);
    EnableMenuEntry(8030, AdminRecord.DisableLogging ? 0 : 1, true);
    if (full)
        ApplyUnavailable();
}

void APP::UpdateStatusbar(bool full)
{
    if ((Building[0] && Building[1]) || Closing)
        return;
    if (!TARVOAPP::IsMainThread()) {
        APPFUNCTION call(this, static_cast<void (APP::*)(bool)>(&APP::UpdateStatusbar), full);
        call.CallFrom(*this);
        return;
    }
    CURRENTSESSIONPTR session(*this);
    if (STATUSLINE* status = Statusline(); status && session)
        status->NewStatusline(*session, full);
    UpdateToolbarAndMenu(full);
}

// ---------------------------------------------------------------------------
// The window's bars

STATUSLINE* APP::Statusline() const
{
    return dynamic_cast<STATUSLINE*>(pStatusbar.get());
}

bool APP::HasStatusLine()
{
    return Statusline() != nullptr;
}

void APP::SetLed(int led, bool on, int mode)
{
    if (STATUSLINE* status = Statusline())
        status->SetLed(led, static_cast<signed char>(on), mode);
}

int APP::SetLedMode(int mode)
{
    if (STATUSLINE* status = Statusline())
        status->SetLedMode(mode);
    return 1;
}

std::unique_ptr<WINDOWPART> APP::MakeWindowPart(PARTKIND kind)
{
    switch (kind) {
    case PARTKIND::TOOLBAR:
        return std::make_unique<TOOLBAR>(*this);
    case PARTKIND::STATUSLINE:
        return std::make_unique<STATUSLINE>(*this, std::max(GetClientSize().cx, 1));
    default:
        return nullptr;
    }
}

// The context menu: the menus of the menu bar, as one pop-up.
namespace appmenu {
void LoadContextMenu(MENU& context)
{
    if (!context.CreateEmpty())
        return;
    plat::NibRef nib = plat::OpenMainNib();
    plat::NibModel const* model = nib ? plat::GetNibModel(nib) : nullptr;
    if (!model)
        return;
    auto bar = model->menubars.find("IDW_MAINWIN");
    if (bar == model->menubars.end())
        return;
    int after = 0;
    for (std::string const& name : bar->second.names) {
        if (name.empty())
            continue;
        MENU sub(name.c_str());
        if (!sub.GetMenuRef())
            continue;
        if (plat::InsertMenuItem(context.GetMenuRef(), after, plat::GetMenuTitle(sub.GetMenuRef()), 0, 0) !=
            plat::kNoErr)
            continue;
        ++after;
        plat::SetMenuItemSubmenu(context.GetMenuRef(), after, sub.GetMenuRef());
    }
}
} // namespace appmenu
