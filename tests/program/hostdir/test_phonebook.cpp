// The host-directory object: the sort, the menus, single keys for scripts,
// call statistics, the window's opening and end around its snapshot and
// file lock, other instances' changes (a second process saving the same
// file) and script threads working during a sort and a menu build.
#include "tests/program/hostdir/hostdirtest.h"

#include "program/hostdir/phonetext.h"
#include "program/session/sessionrunner.h"

#include "velmot/gui/winmenu.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <cstring>
#include <sys/stat.h>
#include <thread>

using namespace hostdirtest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

class PhoneBook : public HostdirPlatformTest {
protected:
    // The names of the table's entries in slot order.
    std::vector<std::string> Order()
    {
        std::vector<std::string> out;
        int capacity = 0;
        _PHONEBOOK_300** slots = Book->Table().LockTable(&capacity);
        for (int i = 0; i < capacity; ++i) {
            if (!slots[i]) {
                if (i < capacity - 1 && (out.empty() || out.back() != "-"))
                    out.push_back("-");
                continue;
            }
            std::string n;
            for (size_t k = 0; k < 65 && slots[i]->name[k]; ++k)
                n += static_cast<char>(slots[i]->name[k]);
            out.push_back(n);
        }
        Book->Table().UnlockTable(slots);
        return out;
    }

    _PHONEBOOK_300* Item(wchar_t const* name)
    {
        return Book->Table().LockItem(Book->Table().FindHandleFromNameWide(name));
    }
    void Set(wchar_t const* name, std::function<void(_PHONEBOOK_300&)> const& change)
    {
        _PHONEBOOK_300* e = Item(name);
        ASSERT_NE(e, nullptr);
        change(*e);
        Book->Table().UnlockItem(e);
    }
};

// A menu bar whose File menu holds the commands.
struct MENUBAR {
    explicit MENUBAR(std::initializer_list<int> commands)
    {
        Bar.CreateEmpty();
        File.CreateEmpty();
        for (int id : commands)
            File.InsertItem(id ? ("cmd" + std::to_string(id)).c_str() : nullptr, id, File.GetNumMenuItems());
        Bar.InsertSubMenu("File", File, 0);
    }
    MENU Bar;
    MENU File;
};

// The texts of a menu's items, "-" for a separator, "id:text".
std::vector<std::string> Items(MENU const& menu)
{
    std::vector<std::string> out;
    for (int i = 0; i < menu.GetNumMenuItems(); ++i) {
        int const id = menu.GetMenuIdFromPos(i);
        if (menu.IsMenuItemSeparator(i)) {
            out.push_back("-" + (id > 0 ? std::to_string(id) : std::string()));
            continue;
        }
        std::string text = menu.GetMenuItemText(static_cast<uint32_t>(i), true).Buf();
        if (plat::MenuRef sub = menu.GetSubmenuFromPos(i)) {
            MENU inner(sub);
            std::string items;
            for (std::string const& s : Items(inner))
                items += (items.empty() ? "" : ",") + s;
            out.push_back(text + "[" + items + "]");
            continue;
        }
        out.push_back(std::to_string(id) + ":" + text);
    }
    return out;
}

} // namespace

TEST_F(PhoneBook, SortOrder)
{
    Init(12);
    for (wchar_t const* n : {L"beta", L"~Alpha", L"gamma", L"", L"Delta", L"alpha"})
        Store(n);
    Set(L"gamma", [](_PHONEBOOK_300& e) { e.first = 1; });
    Book->Sort();
    // Empty slots first, then the entry without a name, then "first"
    // entries, then by name without "~" and case (ties by the exact name).
    EXPECT_THAT(Order(), ElementsAre("-", "", "gamma", "alpha", "~Alpha", "beta", "Delta"));
}

// Two quick-access entries of the same name would call the same menu item:
// the sort takes both out of the quick access and says so.
TEST_F(PhoneBook, SameNamedQuickAccessEntries)
{
    Init(12);
    Store(L"Twin");
    Store(L"Twin");
    Store(L"other");
    for (int h : {5555, 5556, 5557}) {
        _PHONEBOOK_300* e = Book->Table().LockItem(h);
        e->qaccess = 1;
        Book->Table().UnlockItem(e);
    }
    Book->Sort();
    EXPECT_THAT(Host.Take("info "), ElementsAre(HasSubstr("same name")));
    _PHONEBOOK_300 e;
    Book->Table().ItemCopyFromHandle(5555, &e);
    EXPECT_EQ(e.qaccess, 0);
    Book->Table().ItemCopyFromHandle(5557, &e);
    EXPECT_EQ(e.qaccess, 1);
}

TEST_F(PhoneBook, QuickAccessItemsOfTheConnectMenu)
{
    Init(20);
    MENUBAR menus{8380, 8381, 8383, 8200, 8382, 0, 8899};
    MENU& bar = menus.Bar;
    MENU& file = menus.File;

    for (wchar_t const* n : {L"Mail~box", L"A&B", L"Zulu", L"Not quick", L"Echo"})
        Store(n);
    for (wchar_t const* n : {L"Mail~box", L"A&B", L"Zulu", L"Echo"})
        Set(n, [](_PHONEBOOK_300& e) { e.qaccess = 1; });
    Book->Sort();
    EXPECT_EQ(Book->MakeMenu(bar, 1, 0, 0), 1);
    EXPECT_THAT(Items(file), ElementsAre("8380:cmd8380", "8381:cmd8381", "8383:cmd8383", "8200:cmd8200",
                                         "8382:cmd8382", "-10000", "10001:Call AB", "10002:Call Echo",
                                         "10003:Call Mailbox", "10004:Call Zulu", "-", "8899:cmd8899"));
    EXPECT_EQ(Book->Table().FindHandleFromMenuID(10003), Book->Table().FindHandleFromNameWide(L"Mail~box"));

    // A build without force waits for a change; a rebuild replaces the
    // block.
    Set(L"Echo", [](_PHONEBOOK_300& e) { e.qaccess = 0; });
    Book->MakeMenu(bar, 0, 0, 0);
    EXPECT_FALSE(Book->MenuRefreshPending());
    EXPECT_EQ(Book->MakeMenu(bar, 0, 0, 0), 0);
    Book->IpcEvent(PHONE_IPC_RELOADED, 0);
    EXPECT_TRUE(Book->MenuRefreshPending());
    EXPECT_EQ(Book->MakeMenu(bar, 0, 0, 0), 1);
    EXPECT_EQ(std::count(Host.Messages.begin(), Host.Messages.end(), 1059), 1);
    std::vector<std::string> items = Items(file);
    EXPECT_EQ(std::count(items.begin(), items.end(), "-10000"), 1);
    EXPECT_EQ(items.size(), 11u);
}

// The all-entries menu: a submenu per section, folders before the loose
// entries, and ids that its own map resolves (beside the quick access).
TEST_F(PhoneBook, AllEntriesMenu)
{
    Init(20);
    PHONESTRUCTURE* s = Book->Table().LockStructure();
    s->numsections = 2;
    strcpy(s->sections[0], "Work");
    strcpy(s->sections[1], "Home");
    s->numfolders = 1;
    s->folders[0] = PHONEFOLDER{"Servers", 0, 7001, 0, 0, 0};
    Book->Table().UnLockStructure(s);
    Store(L"loose");
    Store(L"in folder");
    Store(L"at home");
    Set(L"in folder", [](_PHONEBOOK_300& e) { e.folder = 7001; });
    Set(L"at home", [](_PHONEBOOK_300& e) {
        e.section = 1;
        e.qaccess = 1;
    });
    Book->Sort();
    MENUBAR menus{8381};
    Book->MakeMenu(menus.Bar, 1, 0, 0);

    MENU all;
    all.CreateEmpty();
    all.InsertItem("old", 1, 0);
    ASSERT_EQ(Book->MakeMenu(all, 1, 1, 0), 1);
    EXPECT_THAT(Items(all), ElementsAre("Work[Servers[11000:in folder],11001:loose]", "Home[11002:at home]"));
    EXPECT_EQ(Book->Table().FindHandleFromMenuID(11001), Book->Table().FindHandleFromNameWide(L"loose"));
    EXPECT_EQ(Book->Table().FindHandleFromMenuID(10001), Book->Table().FindHandleFromNameWide(L"at home"))
        << "the all-entries menu leaves the quick-access ids alone";

    MENU byHandle;
    byHandle.CreateEmpty();
    Book->MakeMenuWithAllEntries(byHandle, 0);
    MENU work(byHandle.GetSubmenuFromPos(0));
    EXPECT_EQ(work.GetMenuIdFromPos(1), Book->Table().FindHandleFromNameWide(L"loose"));
}

TEST_F(PhoneBook, SingleKeysForScripts)
{
    Init(20);
    Store(L"My~Host", 6001);
    Store(L"Other", 6002);
    EXPECT_EQ(Book->SetOpt("myhost", "number=\"example.org\""), 0);
    EXPECT_EQ(Book->SetOpt("MYHOST", "password=\"secret\""), 0);
    EXPECT_EQ(Book->SetOpt("nobody", "number=\"x\""), 1);
    EXPECT_EQ(Book->SetOpt("myhost", "nokey=1"), 1);
    // Handles stay unique and positive.
    EXPECT_EQ(Book->SetOpt("myhost", "handle=6002"), 1);
    EXPECT_EQ(Book->SetOpt("myhost", "handle=0"), 1);
    EXPECT_EQ(Book->SetOpt("myhost", "handle=6100"), 0);

    char out[512];
    Book->GetOpt("myhost", "number", out, sizeof out);
    EXPECT_STREQ(out, "number=\"example.org\"");
    Book->GetOpt("myhost", "book", out, sizeof out);
    EXPECT_STREQ(out, "section=0");
    Book->GetOpt("myhost", "password", out, sizeof out);
    EXPECT_EQ(std::string(out).compare(0, 10, "password=y"), 0);
    EXPECT_EQ(std::string(out).find("secret"), std::string::npos);
    Book->GetOpt("nobody", "number", out, sizeof out);
    EXPECT_STREQ(out, "nobody=<NOT FOUND>");
    Book->GetOpt("myhost", "nokey", out, sizeof out);
    EXPECT_STREQ(out, "nokey=<NOT FOUND>");
    Book->GetOpt("myhost", "number", out, 8);
    EXPECT_STREQ(out, "number=");
}

TEST_F(PhoneBook, CallStatistics)
{
    Init(20);
    Store(L"Counted", 6001);
    Store(L"counted", 6002);
    Store(L"Idle", 6003);
    HEADLESSSESSION run({});
    ASSERT_TRUE(run.IsOpen());
    run.Session().DialQueue.AddEntry(6001, 0);
    run.Session().DialQueue.AddEntry(6003, 0);
    Book->Clock = 3000000000u; // after 2038 for a signed 32-bit time

    Book->RecordCall(L"COUNTED", 1, run.Session());
    PHONESTATS s;
    for (int h : {6001, 6002}) {
        ASSERT_TRUE(Book->ReadStats(h, &s)) << h;
        EXPECT_EQ(s.calls, 1);
        EXPECT_EQ(s.lastcall, 3000000000u);
    }
    EXPECT_FALSE(run.Session().DialQueue.IsQueued(6001));
    EXPECT_TRUE(run.Session().DialQueue.IsQueued(6003));
    Book->RecordCall(L"Counted", 1, run.Session());
    ASSERT_TRUE(Book->ReadStats(6001, &s));
    EXPECT_EQ(s.calls, 2);

    EXPECT_FALSE(Book->ReadStats(6003, &s));
    Book->RecordCall(L"Idle", 0, run.Session());
    ASSERT_TRUE(Book->ReadStats(6003, &s));
    EXPECT_EQ(s.calls, 0);
    EXPECT_EQ(s.lastcall, 0u);
    EXPECT_TRUE(run.Session().DialQueue.IsQueued(6003));
}

namespace {

// A window that runs while the test says so.
class FAKEWINDOW : public PHONEBOOKDIALOGHANDLER {
public:
    bool IsRunning() const override { return Running; }
    bool Run(SESSION* session, bool readOnly) override
    {
        Running = true;
        ReadOnly = readOnly;
        return true;
    }
    void Kill() override { Running = false; }
    int HandleIpcEvent(int event, unsigned long) override
    {
        Events.push_back(event);
        return 7;
    }
    bool Running = false;
    bool ReadOnly = false;
    std::vector<int> Events;
};

} // namespace

// The window edits the live table around a snapshot, holding the file:
// accepted changes are saved and announced, cancelled ones undone.
TEST_F(PhoneBook, WindowEndsSaveOrUndo)
{
    std::string const file = Path("hosts.qorini");
    Init(20, file);
    Store(L"kept", 6001);
    Store(L"deleted later", 6002);
    ASSERT_EQ(Book->Save(), 0);
    auto* window = new FAKEWINDOW;
    Book->SetDialogHandler(std::unique_ptr<PHONEBOOKDIALOGHANDLER>(window));

    // Cancel: every deleted entry comes back, the others reload.
    Book->Dialog();
    ASSERT_TRUE(window->Running);
    EXPECT_FALSE(window->ReadOnly);
    EXPECT_TRUE(Book->HoldsFile());
    _PHONEBOOK_300* e = Book->Table().LockItem(6002);
    Book->Table().DeleteEntry(e);
    Book->Table().UnlockItem(e);
    window->Running = false;
    Book->OnDialogEnd(nullptr, PHONE_END_BACK, 0);
    EXPECT_EQ(Book->Table().FindHandleFromNameWide(L"deleted later"), 6002);
    EXPECT_THAT(Host.Notices, ElementsAre(PHONE_IPC_CATEGORY | PHONE_IPC_RELOADED));
    EXPECT_FALSE(Book->HoldsFile());

    // Accept: saved, announced.
    Host.Notices.clear();
    Book->Dialog();
    Store(L"added", 6003);
    // Another window of the same file meanwhile works read-only, and its
    // saves are refused while the file is held.
    {
        TESTBOOK other(Host);
        other.InitPhonebook(file.c_str(), 20);
        auto* otherWindow = new FAKEWINDOW;
        other.SetDialogHandler(std::unique_ptr<PHONEBOOKDIALOGHANDLER>(otherWindow));
        other.Dialog();
        EXPECT_TRUE(otherWindow->ReadOnly);
        otherWindow->Running = false;
        other.OnDialogEnd(nullptr, PHONE_END_OKAY, 1);
        Host.Take();
        EXPECT_EQ(other.Save(), 1);
        EXPECT_THAT(Host.Take("error "), ElementsAre(HasSubstr("could not be saved")));
    }
    Host.Notices.clear();
    window->Running = false;
    Book->OnDialogEnd(nullptr, PHONE_END_OKAY, 0);
    EXPECT_THAT(testutil::ReadFile(file), HasSubstr("name=\"added\""));
    EXPECT_THAT(Host.Notices, ElementsAre(PHONE_IPC_CATEGORY | PHONE_IPC_RELOADED));

    // Read-only: OKAY counts as cancel, nothing is written or announced.
    Host.Notices.clear();
    chmod(file.c_str(), 0400);
    Book->Dialog();
    if (geteuid() != 0)
        EXPECT_TRUE(window->ReadOnly);
    bool const readOnly = window->ReadOnly;
    Store(L"not saved", 6004);
    window->Running = false;
    Book->OnDialogEnd(nullptr, PHONE_END_OKAY, readOnly ? 1 : 0);
    chmod(file.c_str(), 0600);
    if (readOnly) {
        EXPECT_THAT(Host.Notices, ::testing::IsEmpty());
        EXPECT_EQ(testutil::ReadFile(file).find("not saved"), std::string::npos);
    }

    // Notices of other instances reach the running window.
    window->Running = true;
    EXPECT_EQ(Book->IpcEvent(PHONE_IPC_DELETED, 6001), 7);
    EXPECT_EQ(Book->IpcEvent(11, 0), 0);
    EXPECT_THAT(window->Events, ElementsAre(PHONE_IPC_DELETED));
    window->Running = false;

    // The administrator can switch the window off.
    Host.AdminRecord.DisableHostDirectory = 1;
    Book->Dialog();
    EXPECT_FALSE(window->Running);
}

// A save by another process makes this one reload once, even when the
// file's time in seconds is the same; a save of its own does not.
TEST_F(PhoneBook, ChangesOfAnotherProcess)
{
    std::string const file = Path("shared.qorini");
    Init(20, file);
    Store(L"mine", 6001);
    ASSERT_EQ(Book->Save(), 0);
    Book->TrackChanges();
    EXPECT_EQ(Book->Table().FindHandleFromNameWide(L"mine"), 6001) << "its own save reloads nothing";
    Store(L"only in memory", 6002);
    Book->TrackChanges();
    EXPECT_EQ(Book->Table().FindHandleFromNameWide(L"only in memory"), 6002);

    struct stat before;
    ASSERT_EQ(stat(file.c_str(), &before), 0);
    std::string const probe = std::string(getenv("QOR_TEST_BIN_DIR")) + "/hostdir_probe";
    ASSERT_EQ(testutil::RunProgram({probe, file, "theirs"}), 0);
    // The same second and nanoseconds: only the file's identity tells.
    timespec const times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);

    Host.Messages.clear();
    Book->TrackChanges();
    EXPECT_GT(Book->Table().FindHandleFromNameWide(L"theirs"), 0);
    EXPECT_EQ(Book->Table().FindHandleFromNameWide(L"only in memory"), -1);
    EXPECT_THAT(Host.Messages, ElementsAre(1059));
    Store(L"after the reload", 6003);
    Book->TrackChanges();
    EXPECT_EQ(Book->Table().FindHandleFromNameWide(L"after the reload"), 6003) << "reloaded once only";
}

// Script threads read, change and save entries while the main thread
// sorts and builds menus; every access goes through the table lock
// (checked under ThreadSanitizer).
TEST_F(PhoneBook, ScriptThreadsDuringSortAndMenus)
{
    std::string const file = Path("busy.qorini");
    Init(300, file);
    for (int i = 0; i < 200; ++i)
        Store((L"host " + std::to_wstring(i)).c_str());
    for (int i = 0; i < 200; i += 7)
        Set((L"host " + std::to_wstring(i)).c_str(), [](_PHONEBOOK_300& e) { e.qaccess = 1; });
    MENUBAR menus{8381};
    MENU& bar = menus.Bar;

    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> scripts;
    for (int t = 0; t < 3; ++t) {
        scripts.emplace_back([&, t] {
            char out[256];
            for (int n = 0; !stop.load(); ++n) {
                std::string const name = "host " + std::to_string((n * 13 + t) % 200);
                std::string const line = "number=\"t" + std::to_string(t) + "-" + std::to_string(n) + "\"";
                if (Book->SetOpt(name.c_str(), line.c_str()) != 0)
                    ++failures;
                Book->GetOpt(name.c_str(), "number", out, sizeof out);
                if (strncmp(out, "number=\"t", 9) != 0 && strncmp(out, "number=\"\"", 9) != 0)
                    ++failures;
                if (t == 0 && n % 10 == 0 && Book->Save() != 0)
                    ++failures;
            }
        });
    }
    for (int round = 0; round < 30; ++round) {
        Book->Sort();
        Book->MakeMenu(bar, 1, 0, 0);
        MENU all;
        all.CreateEmpty();
        Book->MakeMenu(all, 1, 1, 0);
    }
    stop = true;
    for (std::thread& t : scripts)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_THAT(Host.Take("error "), ::testing::IsEmpty());
    Init(300, file);
    EXPECT_EQ(Book->Table().FindHandleFromNameWide(L"host 199") > 0, true);
}
