// The automatic login of a session (PHONEAUTOLOGIN), learned logins, host
// entries from bare connection data and the search of the host-directory
// window.
//
// A host entry's wait/send text ("Wait=login:" / "Send=^%^M" items, one a
// line or separated by "|") is compiled into numbered items ("W1=login:",
// "S1=user^M", ...). While a session's step counter is 1 or more, every
// received character goes to the watcher: when the received text ends with
// the wait text of the current step, that step's send text goes out as
// typed keys 250 ms later and the next step is watched; after the last one
// the entry's login script starts.
//
// Main thread only (the session's received-data road and its timers).
#pragma once

#include "program/hostdir/phonerecord.h"

#include "program/shell/miscclasses.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

class SESSION;

namespace plat {
struct OpaqueLoopTimer;
}

// The automatic login of one session: its compiled list, its step, the
// recent received text and the host entry it was armed for.
class PHONEAUTOLOGIN {
public:
    static constexpr int BUFSIZE = 2048;
    static constexpr int MAXITEMS = 64;
    // The pause before a reply is sent (the host may still be writing its
    // prompt).
    static constexpr int REPLYDELAYMS = 250;

    PHONEAUTOLOGIN();
    ~PHONEAUTOLOGIN();
    PHONEAUTOLOGIN(PHONEAUTOLOGIN const&) = delete;
    PHONEAUTOLOGIN& operator=(PHONEAUTOLOGIN const&) = delete;

    // Compiles the entry's list and watches from step 1 (what the dialling
    // does once the entry connected). The count of items; 0 leaves the step
    // at 0 (nothing to watch, or a list too long for the buffer).
    int Arm(SESSION& session, _PHONEBOOK_300 const& entry);
    // One received character; -2 none, -1 resets the recent text, the step
    // and the replies not sent yet.
    int Watch(SESSION& session, int ch);
    // Whether received characters must come here.
    bool Active() const { return Step >= 1 || Entry.iemsiwanted; }

    int GetStep() const { return Step; }
    void SetStep(int step) { Step = step; }
    char** Items() { return ItemList; }
    int NumItems() const { return Count; }
    _PHONEBOOK_300 const& CurrentEntry() const { return Entry; }
    std::string RecentText() const { return Recent.Text(); }
    // Replies waiting for their moment.
    size_t PendingReplies() const { return Pending.size(); }

private:
    void Schedule(SESSION& session);
    void SendNext(SESSION& session);
    void CancelTimer();

    int Step = 0;
    char Buffer[BUFSIZE] = {};
    char* ItemList[MAXITEMS + 1] = {};
    int Count = 0;
    REMEMBERBUFFER Recent{1024, 256};
    _PHONEBOOK_300 Entry{};
    bool InWatch = false;
    std::deque<std::string> Pending;
    plat::OpaqueLoopTimer* Timer = nullptr;
};

// The search of the host-directory window: the entries of a section and
// folder whose name, number or memo (as chosen) contains the text, without
// regard to case, in table order. The caller holds the table lock.
struct PHONESEARCH {
    bool Name = true;
    bool Number = true;
    bool Memo = false;
};
void PhonebookSearch(_PHONEBOOK_300* const* slots, int count, int section, int folder, wchar_t const* text,
                     PHONESEARCH const& fields, std::vector<int>& handles);
