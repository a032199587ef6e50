// The session table of a main window: sessions in tab order, the current
// session, creating, switching, reordering, shutting down and deleting
// sessions, the broadcasts over all of them, and the holder that keeps a
// session alive while code uses it.
#include "program/shell/app.h"

#include "program/shell/qor.h"
#include "program/shell/tabs.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/tarvo.h"

#include <algorithm>
#include <cstring>

// ---------------------------------------------------------------------------
// CURRENTSESSIONPTR

CURRENTSESSIONPTR::CURRENTSESSIONPTR(APP& app)
{
    MUTEXLOCK lock(app.SessionLock);
    Retain(app.CurrentSession.load());
}

void CURRENTSESSIONPTR::Retain(SESSION* session)
{
    Session = session;
    if (Session)
        Session->AddUse();
}

void CURRENTSESSIONPTR::Release()
{
    if (Session)
        Session->ReleaseUse();
    Session = nullptr;
}

CURRENTSESSIONPTR& CURRENTSESSIONPTR::operator=(SESSION* session)
{
    if (session == Session)
        return *this;
    Release();
    Retain(session);
    return *this;
}

// ---------------------------------------------------------------------------
// Creating and closing

int APP::NewSession(char const* profile, char const* keymap, char const* translation, CURRENTSESSIONPTR* holder,
                    int colour, signed char background, wchar_t const* title, char const* connect,
                    char const* script)
{
    LOGIT("APP::NewSession fnsessionprofile= %s, fnkeymapfile= %s, fntranslatefile= %s, idxcolor= %d\n",
          profile ? profile : "<NULL>", keymap ? keymap : "<NULL>", translation ? translation : "<NULL>", colour);
    LOGIT("APP::NewSession title= %ls, connectstring= %s, startupscript= %s\n", title ? title : L"<NULL>",
          connect ? "<given>" : "<NULL>", script ? script : "<NULL>");
    if (!VCHECK(profile == nullptr || profile[0] != '<', "fnsessionprofile==NULL || fnsessionprofile[0]!='<'",
                profile))
        profile = nullptr;
    if (GetNumSessions() >= MAXSESSIONS) {
        if (holder)
            holder->Release();
        return 0;
    }
    MUTEXLOCK lock(SessionLock);
    int const newIdx = NumSessions;
    SIZE const client = GetClientSize();
    SESSION* session = MakeSession(RECT{0, 0, std::max<int>(client.cx, 1), std::max<int>(client.cy, 1)});
    SessionTable[static_cast<size_t>(newIdx)].Retain(session);
    ++NumSessions;
    // The new session's window stays hidden until it becomes the current
    // one.
    session->Show(false);

    if (title && !*title)
        title = nullptr;
    if (profile && !*profile)
        profile = nullptr;
    if (!keymap || !*keymap)
        keymap = "Standard.qky";
    if (!translation || !*translation)
        translation = "Standard.qtr";

    session->Prof.Load(profile ? profile : "Standard.qor");
    int& emulation = session->Prof.data.ActiveEmulation;
    emulation = InstalledEmulation(session->EmuLayer, emulation);
    session->RemakeAll();
    session->TermInit();
    session->TermInit2(keymap, translation);

    WSTRING label;
    if (title) {
        session->EmuLayer.SetCustomTitleWide(title);
        label = title;
    } else {
        label = OSYS::GetWideStringFromResource("IDS_UNTITLED");
    }
    int rc = -1;
    if (pTabsbar)
        rc = pTabsbar->AddButtonWide(label.Buf(), session, colour, !background);
    if (background && session->Prof.data.Dynamic == 2) {
        CURRENTSESSIONPTR current(*this);
        if (current) {
            SIZE const size = current->CONTROL::GetSize();
            int cx = size.cx, cy = size.cy;
            session->OfferWindow(&cx, &cy, size.cx, size.cy, true);
        }
    }
    TabsVisible = NumSessions >= 2 || ProgSettings.data.ShowTabsAlways;
    TrackChanges(false, 0, 0);
    if (pTabsbar)
        VASSERT(rc == newIdx, "rc==newidx", nullptr);
    if (holder)
        *holder = session;

    // The device opens for the new tab as it does for the first one; a tab
    // made to run a program (an editor) runs it on the local shell device.
    int dev = session->Prof.data.ActiveDevice;
    std::string options = dev >= 0 && dev < 24 ? session->Prof.data.DeviceOpts[dev] : "";
    if (!TabProgram.empty()) {
        dev = 11;
        options = "[11]" + TabProgram;
    }
    if (!session->EmuLayer.UpAndRunning())
        session->EmuLayer.SetEmulation(emulation, 0);
    if (!TabProgram.empty()) {
        // The profile's device, opened with its settings, gives way, and
        // what it showed goes with it.
        session->CommLayer.CloseDevice();
        session->CommLayer.PurgeLine(0, 0);
        session->ProcessEvent(8410, 0, nullptr);
    }
    if (dev >= 0 && dev < 24 && !session->CommLayer.Device())
        session->CommLayer.OpenDevice(dev, options.c_str());
    if (session->CommLayer.Device())
        session->ProcessCarrier(session->CommLayer.QueryOnline(), 0);

    if (script && *script) {
        snprintf(StartupScriptText, sizeof StartupScriptText, "%s", script);
        if (!connect || !*connect)
            PostEvent(8125, 0, StartupScriptText);
    }
    LOGIT("APP::NewSession before connection\n");
    if (connect && *connect) {
        std::string text;
        if (connect[0] == '^')
            text = connect;
        else if (strncmp(connect, "CALL:", 5) == 0)
            text = std::string("^CALL=") + (connect + 5);
        else
            text = std::string("^CONNECT=") + connect;
        snprintf(ConnectText, 256, "%s", text.c_str());
        session->DoString(ConnectText);
    }
    LOGIT("APP::NewSession done, newidx= %d\n", newIdx);
    return newIdx;
}

int APP::CloseSession(int idx)
{
    LOGIT("APP::CloseSession idx= %d\n", idx);
    MUTEXLOCK lock(SessionLock);
    if (CloseInProgress)
        return 0;
    CloseInProgress = true;
    int rc = 0;
    if (VCHECK(idx >= 0 && idx < NumSessions, "idxsession>=0 && idxsession<this->NumSessions", nullptr)) {
        SESSION* session = SessionTable[static_cast<size_t>(idx)].Get();
        if (VCHECK(!session->IsShuttingDown(), "!psession->IsInShutdown()", nullptr)) {
            ShutdownSession(session);
            if (session == CurrentSession.load() && NumSessions > 1) {
                int const next = idx + 1 < NumSessions ? idx + 1 : idx - 1;
                if (pTabsbar)
                    pTabsbar->Activate(next);
                else
                    SwitchSession(next);
                VASSERT(CurrentSession.load() != session, "this->pCurrentSession!=psession", nullptr);
            }
            DeleteSession(session);
            TabsVisible = NumSessions >= 2 || ProgSettings.data.ShowTabsAlways;
            TrackChanges(false, 0, 0);
            rc = 1;
        }
    }
    CloseInProgress = false;
    LOGIT("APP::CloseSession done, rc= %d\n", rc);
    return rc;
}

void APP::ShutdownSession(SESSION* session)
{
    LOGIT("APP::ShutdownSession psession= %p\n", static_cast<void*>(session));
    if (!session)
        return;
    MUTEXLOCK lock(SessionLock);
    session->SetShuttingDown(true);
    if (pTabsbar) {
        int idx = pTabsbar->FindButton(static_cast<void*>(session));
        if (VCHECK(idx >= 0 && idx < NumSessions, "idxsession>=0 && idxsession<this->NumSessions", nullptr)) {
            pTabsbar->SetButtonClosing(idx, 1);
            pTabsbar->FlushRedraw();
        }
    }
    // Scripts and the transfer's file I/O stop with their own parts.
    session->CommLayer.CloseDevice();
    session->TermCleanup();
    // The event script "CLOSE" runs with the scripting layer.
    session->EmuLayer.Cleanup();
    session->Screen.Cleanup();
}

void APP::DeleteSession(SESSION* session)
{
    LOGIT("APP::DeleteSession psession= %p\n", static_cast<void*>(session));
    MUTEXLOCK lock(SessionLock);
    int const idx = FindSessionIdx(session);
    if (!VCHECK(idx != -1, "FALSE", nullptr))
        return;
    LOGIT("APP::DeleteSession for idx= %d\n", idx);
    if (pTabsbar)
        pTabsbar->DeleteButton(idx);
    // The slot gives up its hold; the sessions behind move down with theirs.
    SessionTable[static_cast<size_t>(idx)].Release();
    for (int i = idx; i + 1 < NumSessions; ++i) {
        // The hold moves with the session.
        SessionTable[static_cast<size_t>(i)] = std::move(SessionTable[static_cast<size_t>(i + 1)]);
        SESSION* moved = SessionTable[static_cast<size_t>(i)].Get();
        if (pTabsbar)
            VASSERT(pTabsbar->FindButton(static_cast<void*>(moved)) == i, "idx2==i", nullptr);
    }
    --NumSessions;
    session->TermDestroy();
    session->Show(false);
    DeadList.push_back(session);
}

void APP::DeleteDeadSessions()
{
    MUTEXLOCK lock(SessionLock);
    for (size_t i = 0; i < DeadList.size();) {
        SESSION* session = DeadList[i];
        // A session is deleted once nothing uses it: no holder, and no
        // handler of its own on the stack.
        if (session->UseCount() == 0 && !session->IsHeld()) {
            DeadList.erase(DeadList.begin() + static_cast<std::ptrdiff_t>(i));
            delete session;
        } else {
            ++i;
        }
    }
}

int APP::DeadSessionCount()
{
    MUTEXLOCK lock(SessionLock);
    return static_cast<int>(DeadList.size());
}

// ---------------------------------------------------------------------------
// Switching and moving

int APP::SwitchSession(int idx)
{
    LOGIT("APP::SwitchSessions idx= %d\n", idx);
    MUTEXLOCK lock(SessionLock);
    if (!VCHECK(idx >= 0 && idx < NumSessions, "idxswitchto>=0 && idxswitchto<this->NumSessions", nullptr))
        return 1;
    SESSION* next = SessionTable[static_cast<size_t>(idx)].Get();
    SESSION* previous = CurrentSession.load();
    if (next != previous) {
        SwitchInProgress = true;
        CurrentSession.store(next);
        // The window of the new tab takes the terminal area at once.
        if (previous) {
            RECT const r = previous->CONTROL::GetRect();
            next->Move(r.left, r.top, r.right - r.left, r.bottom - r.top);
        }
        next->Show(true);
        next->SetBackgroundTab(false);
        if (previous) {
            previous->Show(false);
            previous->SetBackgroundTab(true);
        }
        SwitchInProgress = false;
        UpdateStatusbar(false);
        next->TrackChanges(true);
        if (pTabsbar && pTabsbar->ActiveIndex() != idx)
            pTabsbar->Activate(idx);
        LastCx = -1;
        PostUserMessage(MSG_DOSIZING, 1, 0);
    }
    PostUserMessage(MSG_SETFOCUS, 0, 0);
    LOGIT("APP::SwitchSessions done\n");
    return 1;
}

int APP::SwitchNextSession(int direction)
{
    LOGIT("APP::SwitchNextSession fwdback= %d\n", direction);
    int const count = GetNumSessions();
    int rc = 0;
    if (count > 0) {
        int current = pTabsbar ? pTabsbar->ActiveIndex() : FindSessionIdx(CurrentSession.load());
        int target = current + direction;
        if (target < 0)
            target = count - 1;
        else if (target >= count)
            target = 0;
        rc = pTabsbar ? pTabsbar->Activate(target) : SwitchSession(target);
    }
    LOGIT("APP::SwitchNextSession done, rc= %d\n", rc);
    return rc;
}

int APP::DragSession(int from, int to)
{
    MUTEXLOCK lock(SessionLock);
    if (!VCHECK(from >= 0 && from < NumSessions, "idxfrom<this->NumSessions", nullptr) ||
        !VCHECK(to >= 0 && to < NumSessions, "idxto<this->NumSessions", nullptr))
        return 1;
    if (from == to)
        return 1;
    if (pTabsbar)
        pTabsbar->DragButton(from, to);
    // Each session keeps exactly its one hold: the slots are rotated.
    auto first = SessionTable.begin();
    if (from < to)
        std::rotate(first + from, first + from + 1, first + to + 1);
    else
        std::rotate(first + to, first + from, first + from + 1);
    CheckTabOrder();
    if (pTabsbar)
        pTabsbar->Activate(to);
    return 1;
}

void APP::CheckTabOrder()
{
    if (!pTabsbar)
        return;
    for (int i = 0; i < NumSessions; ++i)
        VASSERT(pTabsbar->FindButton(static_cast<void*>(SessionTable[static_cast<size_t>(i)].Get())) == i, "idx2==i",
                nullptr);
}

// ---------------------------------------------------------------------------
// Lookups

int APP::FindSessionIdx(SESSION const* session)
{
    MUTEXLOCK lock(SessionLock);
    for (int i = 0; i < NumSessions; ++i) {
        if (SessionTable[static_cast<size_t>(i)].Get() == session)
            return i;
    }
    return -1;
}

int APP::FindSessionIdx(wchar_t const* name)
{
    MUTEXLOCK lock(SessionLock);
    return pTabsbar && name ? pTabsbar->FindButton(name) : -1;
}

int APP::GetNumSessions()
{
    MUTEXLOCK lock(SessionLock);
    return NumSessions;
}

SESSION* APP::GetSessionPtr(int idx)
{
    MUTEXLOCK lock(SessionLock);
    return idx >= 0 && idx < GetNumSessions() ? SessionTable[static_cast<size_t>(idx)].Get() : nullptr;
}

WSTRING APP::GetSessionTabName(SESSION* session)
{
    if (!pTabsbar)
        return WSTRING();
    int idx = pTabsbar->FindButton(static_cast<void*>(session));
    if (!VCHECK(idx != -1, "idxtab!=-1", nullptr))
        return WSTRING();
    return pTabsbar->GetNameWide(idx);
}

// ---------------------------------------------------------------------------
// Tab state by session

void APP::SetSessionTabTraffic(SESSION& session, int receive, int send)
{
    if (!pTabsbar)
        return;
    int idx = pTabsbar->FindButton(static_cast<void*>(&session));
    if (idx != -1)
        pTabsbar->SetButtonTraffic(idx, receive, send);
}

void APP::SetSessionTabBlinking(SESSION& session, bool on)
{
    if (!pTabsbar)
        return;
    int idx = pTabsbar->FindButton(static_cast<void*>(&session));
    if (VCHECK(idx != -1, "idxtab!=-1", nullptr))
        pTabsbar->SetButtonBlinking(idx, on ? 1 : 0);
}

void APP::SetSessionTabOnline(SESSION* session, signed char on)
{
    if (!pTabsbar)
        return;
    int idx = pTabsbar->FindButton(static_cast<void*>(session));
    if (VCHECK(idx != -1, "idxtab!=-1", nullptr))
        pTabsbar->SetButtonOnline(idx, on);
}

void APP::SetSessionTabNameWide(SESSION& session, wchar_t const* name)
{
    if (!pTabsbar)
        return;
    int idx = pTabsbar->FindButton(static_cast<void*>(&session));
    if (VCHECK(idx != -1, "idxtab!=-1", nullptr))
        pTabsbar->RenameButtonWide(idx, name ? name : L"");
}

void APP::SetSessionColor(SESSION* session, int colour)
{
    if (!pTabsbar)
        return;
    int idx = pTabsbar->FindButton(static_cast<void*>(session));
    if (VCHECK(idx != -1, "idxtab!=-1", nullptr)) {
        pTabsbar->SetButtonColorCode(idx, colour);
        TrackChanges(false, 0, 0);
    }
}

void APP::SetSessionTabsNoneActive(signed char flag)
{
    if (pTabsbar && pTabsbar->NoneActive() != (flag != 0))
        pTabsbar->SetNoneActive(flag != 0);
}

// ---------------------------------------------------------------------------
// Broadcasts

void APP::AllSessions_PostUserMessage(int msg, MSGWORD p1, MSGWORD p2)
{
    LOGIT("APP::AllSessions_PostUserMessage msg= %d\n", msg);
    MUTEXLOCK lock(SessionLock);
    for (int i = 0; i < NumSessions; ++i)
        SessionTable[static_cast<size_t>(i)]->PostUserMessage(msg, p1, p2);
}

void APP::AllSessions_PostEvent(int event, short parm, char const* text, int mode)
{
    LOGIT("APP::AllSessions_PostEvent event= %d\n", event);
    MUTEXLOCK lock(SessionLock);
    for (int i = 0; i < NumSessions; ++i) {
        SESSION* s = SessionTable[static_cast<size_t>(i)].Get();
        int const online = s->CommLayer.Device() ? s->CommLayer.QueryOnline() : 0;
        bool const chosen = mode == -1 || (mode == 1 && online > 0) || (mode == 2 && online == 0);
        if (chosen)
            s->PostEvent(event, parm, text);
    }
}

int APP::AllSessions_CanQuit()
{
    LOGIT("APP::AllSessions_CanQuit\n");
    // The questions run loops of their own, in which tabs may close: every
    // session is held while it is asked.
    std::vector<std::unique_ptr<CURRENTSESSIONPTR>> holds;
    {
        MUTEXLOCK lock(SessionLock);
        for (int i = 0; i < NumSessions; ++i)
            holds.push_back(std::make_unique<CURRENTSESSIONPTR>(SessionTable[static_cast<size_t>(i)].Get()));
    }
    int rc = 1;
    for (auto& hold : holds) {
        bool all = false;
        if (hold->Get()->IsShuttingDown())
            continue;
        if (!hold->Get()->CanQuit(&all)) {
            rc = 0;
            break;
        }
        if (all)
            break;
    }
    LOGIT("APP::AllSessions_CanQuit, rc= %d\n", rc);
    return rc;
}

void APP::AllSessions_PostKeys(WSTRING const& keys)
{
    LOGIT("APP::AllSessions_PostKeys (len= %d)\n", keys.Length());
    MUTEXLOCK lock(SessionLock);
    for (int i = 0; i < NumSessions; ++i)
        SessionTable[static_cast<size_t>(i)]->PostKeys(keys.Buf(), keys.Length(), true);
    LOGIT("APP::AllSessions_PostKeys done\n");
}

int APP::OnSessionDisconnect(SESSION* session)
{
    LOGIT("APP::OnSessionDisconnect psession= %p\n", static_cast<void*>(session));
    int didit = 0;
    int const count = GetNumSessions();
    if (ProgSettings.data.DisconCloseTab && count > 1) {
        PostUserMessage(MSG_TABSBAR, 2, reinterpret_cast<MSGWORD>(session));
        didit = 1;
    } else if (ProgSettings.data.DisconCloseWin && count == 1) {
        OnClose();
        didit = 1;
    }
    LOGIT("APP::OnSessionDisconnect done, didit= %d\n", didit);
    return didit;
}

int APP::NewInstance(char const* profile, char const* entry, char const* extra)
{
    LOGIT("APP::NewInstance\n");
    std::string line = "/Q";
    if (profile && *profile)
        line += std::string(" \"/O:") + profile + "\"";
    if (entry && *entry)
        line += std::string(" \"/P:") + entry + "\"";
    if (extra && *extra)
        line += std::string(" ") + extra;
    line = line.substr(0, 255);
    char* text = strdup(line.c_str());
    DARWINDOW::DeliverMessage(false, nullptr, nullptr, APPLICATION_MESSAGE, QOREVENT_NEWWINDOW,
                              reinterpret_cast<MSGWORD>(text), 0);
    LOGIT("APP::NewInstance done, rc= %d\n", 1);
    return 1;
}
