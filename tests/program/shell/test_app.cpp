// Main windows offscreen with their sessions on the local shell: start-up,
// tabs, the session table, a shell that ends, the layout, the event layer,
// the hand-over of a tab from another instance and the application events.
#include "tests/program/shell/appfixture.h"

#include "program/shell/status.h"
#include "program/shell/tabs.h"

#include "platform/events/windows.h"
#include "platform/services/folders.h"
#include "velmot/core/hash.h"
#include "velmot/core/registry.h"
#include "velmot/gui/windialog.h"

#include "platform/events/modal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace apptest;

namespace {

// The sessions of a window in tab order.
std::vector<SESSION*> Sessions(APP& app)
{
    std::vector<SESSION*> out;
    for (int i = 0; i < app.GetNumSessions(); ++i)
        out.push_back(app.GetSessionPtr(i));
    return out;
}

} // namespace

TEST_F(AppTest, StartsWithOneTabRunningTheShell)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->NorunCode(), 0);
    EXPECT_TRUE(app->StartupDone());
    EXPECT_EQ(app->Instance(), 1);
    ASSERT_EQ(app->GetNumSessions(), 1);
    SESSION* s = app->GetCurrentSession();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->CommLayer.QueryIDFromCurrent(), 11) << "the local shell";
    ASSERT_TRUE(Run(*s, "echo $((6*7))", "42"));
    ASSERT_NE(app->Tabsbar(), nullptr);
    EXPECT_EQ(app->Tabsbar()->NumButtons(), 1);
    EXPECT_EQ(app->Tabsbar()->ActiveIndex(), 0);
    EXPECT_TRUE(Pump([&] { return app->Tabsbar()->Info(0).Flags & TABS_TABINFO::ONLINE; }, 5000))
        << "the lamp shows the connection";
    EXPECT_EQ(std::string(app->GetText().Buf()).rfind("QOR/", 0), 0u) << app->GetText().Buf();
    char const* instance = getenv("QORINSTANCE");
    ASSERT_NE(instance, nullptr);
    EXPECT_STREQ(instance, "1");
}

TEST_F(AppTest, TabsSwitchDragAndClose)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    app->ProcessEvent(8421, 0, nullptr);
    app->ProcessEvent(8421, 0, nullptr);
    ASSERT_EQ(app->GetNumSessions(), 3);
    std::vector<SESSION*> s = Sessions(*app);
    EXPECT_EQ(app->GetCurrentSession(), s[2]) << "a new tab comes to the front";
    EXPECT_EQ(app->Tabsbar()->ActiveIndex(), 2);
    EXPECT_GT(app->Tabsbar()->QuerySizeY(), 0);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(Run(*s[static_cast<size_t>(i)], "echo tab$((40+" + std::to_string(i) + "))",
                        "tab4" + std::to_string(i)));
    EXPECT_FALSE(Shows(*s[0], "tab41")) << "each tab has its own shell";

    app->ProcessEvent(8422, 0, nullptr);
    EXPECT_EQ(app->GetCurrentSession(), s[0]) << "next from the last wraps to the first";
    app->ProcessEvent(8423, 0, nullptr);
    EXPECT_EQ(app->GetCurrentSession(), s[2]) << "previous from the first wraps to the last";
    EXPECT_TRUE(s[2]->IsVisible());
    EXPECT_FALSE(s[0]->IsVisible()) << "only the current tab's terminal shows";

    std::vector<int> uses;
    for (SESSION* x : s)
        uses.push_back(x->UseCount());
    app->DragSession(0, 2);
    EXPECT_EQ(Sessions(*app), (std::vector<SESSION*>{s[1], s[2], s[0]}));
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(s[i]->UseCount(), uses[i]) << "the use counts stay";
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(app->Tabsbar()->GetUserdata(i), app->GetSessionPtr(i)) << "tab i is session i";
    EXPECT_EQ(app->Tabsbar()->ActiveIndex(), 2);
    EXPECT_EQ(app->GetCurrentSession(), s[0]);

    // Closing the current middle tab activates the one after it; the
    // closed session goes once nothing holds it.
    app->SwitchSession(1);
    ASSERT_EQ(app->GetCurrentSession(), s[2]);
    int const heldBefore = s[2]->UseCount();
    {
        CURRENTSESSIONPTR holder(s[2]);
        ASSERT_EQ(app->CloseSession(1), 1);
        EXPECT_EQ(app->GetCurrentSession(), s[0]);
        EXPECT_EQ(app->GetNumSessions(), 2);
        EXPECT_EQ(s[2]->UseCount(), heldBefore) << "the table gave up its hold, the holder keeps one";
        Spin(700);
        EXPECT_EQ(app->DeadSessionCount(), 1) << "held: not deleted";
    }
    EXPECT_TRUE(Pump([&] { return app->DeadSessionCount() == 0; }, 3000)) << "deleted at a tick once free";

    // Closing the current last tab activates the one before it.
    ASSERT_EQ(app->GetCurrentSession(), s[0]);
    ASSERT_EQ(app->CloseSession(1), 1);
    EXPECT_EQ(app->GetCurrentSession(), s[1]);
    EXPECT_EQ(app->GetNumSessions(), 1);
}

TEST_F(AppTest, ShellThatEndsClosesItsTabOrLeavesItOffline)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    app->ProcessEvent(8421, 0, nullptr);
    ASSERT_EQ(app->GetNumSessions(), 2);
    SESSION* second = app->GetSessionPtr(1);
    ASSERT_TRUE(Pump([&] { return app->Tabsbar()->Info(1).Flags & TABS_TABINFO::ONLINE; }, 5000));

    app->Settings().data.DisconCloseTab = 0;
    Type(*second, L"exit\r");
    ASSERT_TRUE(Pump([&] { return !(app->Tabsbar()->Info(1).Flags & TABS_TABINFO::ONLINE); }, 10000));
    EXPECT_TRUE(app->Tabsbar()->Info(1).Flags & TABS_TABINFO::WASONLINE);
    EXPECT_EQ(app->GetNumSessions(), 2) << "without the setting the tab stays";

    app->ProcessEvent(8421, 0, nullptr);
    ASSERT_EQ(app->GetNumSessions(), 3);
    SESSION* third = app->GetSessionPtr(2);
    ASSERT_TRUE(Pump([&] { return app->Tabsbar()->Info(2).Flags & TABS_TABINFO::ONLINE; }, 5000));
    app->Settings().data.DisconCloseTab = 1;
    app->Settings().data.SafAskHangup = 0;
    Type(*third, L"exit\r");
    ASSERT_TRUE(Pump([&] { return app->GetNumSessions() == 2; }, 10000)) << "the tab closes with its shell";
    EXPECT_EQ(app->FindSessionIdx(third), -1);
}

TEST_F(AppTest, ScrollBarFollowsTheScrollback)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    SESSION* s = app->GetCurrentSession();
    ASSERT_NE(app->ScrollbarState(), 0) << "the standard settings show the scroll bar";
    SCROLLBAR* bar = app->ScrollBar();
    ASSERT_TRUE(Run(*s, "seq 1 150", "150"));
    int rows = 0, cols = 0;
    s->Screen.GetWinSize(&cols, &rows);
    // The range holds every line scrolled off the screen; the thumb stays
    // at the bottom with the live screen.
    EXPECT_TRUE(Pump([&] { return bar->GetControlMaximum() >= 150 - rows; }, 5000)) << bar->GetControlMaximum();
    EXPECT_EQ(bar->GetControlValue(), s->Scrollback.QueryFilled());
}

TEST_F(AppTest, TerminalSnapsToWholeCells)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    SESSION* s = app->GetCurrentSession();
    int cw = 0, ch = 0;
    s->QueryFontSize(&cw, &ch);
    ASSERT_GT(cw, 0);
    ASSERT_GT(ch, 0);
    auto check = [&](char const* when) {
        SIZE const term = s->CONTROL::GetSize();
        EXPECT_EQ(term.cx % cw, 0) << when;
        EXPECT_EQ(term.cy % ch, 0) << when;
        SIZE const client = app->GetClientSize();
        int const scroll = app->ScrollbarState() == 0 ? 0 : APP::SCROLLWIDTH;
        EXPECT_EQ(client.cx, term.cx + 2 + scroll) << when;
        int const status = app->Statusline() ? app->Statusline()->QueryHeight(nullptr, 0) : 0;
        EXPECT_EQ(client.cy, term.cy + 2 + app->Tabsbar()->QuerySizeY() + status) << when;
        int cols = 0, rows = 0;
        s->Screen.GetWinSize(&cols, &rows);
        EXPECT_EQ(cols * cw, term.cx) << when;
        EXPECT_EQ(rows * ch, term.cy) << when;
    };
    check("at start");
    RECT const r = app->GetRect();
    app->Move(r.left, r.top, r.right - r.left + 3 * cw + 5, r.bottom - r.top + 2 * ch + 3);
    Pump([&] { return app->LastLaidOutSize().cx == app->GetClientSize().cx; }, 3000);
    Spin(100);
    check("after a resize");
    SIZE const before = app->LastLaidOutSize();
    app->SendUserMessage(APP::MSG_DOSIZING, 1, 0);
    EXPECT_EQ(app->LastLaidOutSize().cx, before.cx) << "a forced layout at the same size gives the same";
    EXPECT_EQ(app->LastLaidOutSize().cy, before.cy);

    // Dragging the left edge keeps the right edge where it is.
    plat::RectI const was = plat::GetWindowBounds(app->GetWindow(), false);
    plat::SetWindowBounds(app->GetWindow(), plat::RectI{was.left + 2 * cw - 3, was.top, was.right, was.bottom});
    Spin(100);
    plat::RectI const now = plat::GetWindowBounds(app->GetWindow(), false);
    EXPECT_EQ(now.right, was.right);
    EXPECT_EQ(was.Width() - now.Width(), 2 * cw) << "snapped to whole cells";
    check("after the left edge moved");
}

TEST_F(AppTest, EventsCarryTheirParameterAndFilter)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    static char const text[] = "payload";
    app->Events.clear();
    app->PostEvent(8495, static_cast<short>(0x1234), text);
    ASSERT_TRUE(Pump([&] { return !app->Events.empty(); }, 3000));
    EXPECT_EQ(app->Events[0].Event, 8495);
    EXPECT_EQ(app->Events[0].Parm & 0xFFFF, 0x1234);
    EXPECT_EQ(app->Events[0].Text, text);

    auto* s = dynamic_cast<APPSESSION*>(app->GetCurrentSession());
    ASSERT_NE(s, nullptr);
    s->EventFilter = true;
    EXPECT_EQ(app->FilterEvent(*s, 8424, 0, nullptr), 1);
    EXPECT_EQ(app->FilterEvent(*s, 8420, 0, nullptr), 0);
    EXPECT_EQ(app->FilterEvent(*s, 8899, 0, nullptr), 0);
    EXPECT_EQ(app->FilterEvent(*s, 8424, 0, reinterpret_cast<char const*>(-1)), 0);
    s->EventFilter = false;
    EXPECT_EQ(app->FilterEvent(*s, 8424, 0, nullptr), 0);

    app->Notices.clear();
    app->KeyboardEvent(1);
    app->KeyboardEvent(1);
    EXPECT_EQ(std::count(app->Notices.begin(), app->Notices.end(), APP::IPC_CATEGORY | APP::IPC_KEYACTIVITY), 1)
        << "one activity notice for two keys within 6 seconds";
    EXPECT_EQ(app->IpcEvent(APP::IPC_AVAILABLE, 0), 1) << "started, no password";
}

TEST_F(AppTest, HandOverOfATabFromAnotherInstance)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    std::string const folder = plat::FolderPath(plat::Folder::Runtime, true);
    auto write = [&](long pid, char const* connect, mode_t mode) {
        std::string const file = folder + std::to_string(pid) + ".txt";
        HASH keys;
        keys["ConnectTo"] = connect;
        keys["SessionProfile"] = "";
        keys["TabTitle"] = "Handed";
        keys["RunScript"] = "";
        keys.Save(file.c_str());
        chmod(file.c_str(), mode);
        return file;
    };
    std::string file = write(4242001, "", 0600);
    EXPECT_EQ(app->IpcEvent(APP::IPC_NEWTAB, 4242001), 0);
    EXPECT_EQ(app->GetNumSessions(), 2);
    EXPECT_EQ(access(file.c_str(), F_OK), -1) << "the file is taken";
    EXPECT_STREQ(STRING(app->Tabsbar()->GetNameWide(1).Buf(), 1252).Buf(), "Handed");

    struct {
        long pid;
        char const* connect;
        mode_t mode;
        char const* why;
    } const refused[] = {
        {4242002, "^SHELL=touch /tmp/never", 0600, "a connect text that runs a program"},
        {4242006, "^EVENT=8215|0|-c \"touch /tmp/never\"", 0600, "an event that runs a program"},
        {4242007, "^EVENT=8424", 0600, "an event of the menus"},
        {4242008, "touch /tmp/never\r", 0600, "a free text, typed into the tab"},
        {4242003, "", 0644, "a file others can read"},
    };
    for (auto const& r : refused) {
        file = write(r.pid, r.connect, r.mode);
        app->IpcEvent(APP::IPC_NEWTAB, static_cast<unsigned long>(r.pid));
        EXPECT_EQ(app->GetNumSessions(), 2) << r.why;
        unlink(file.c_str());
    }
    std::string const target = folder + "target.txt";
    write(4242005, "", 0600);
    rename((folder + "4242005.txt").c_str(), target.c_str());
    ASSERT_EQ(symlink(target.c_str(), (folder + "4242004.txt").c_str()), 0);
    app->IpcEvent(APP::IPC_NEWTAB, 4242004);
    EXPECT_EQ(app->GetNumSessions(), 2) << "a link is not followed";
    unlink((folder + "4242004.txt").c_str());
    unlink(target.c_str());
    app->IpcEvent(APP::IPC_NEWTAB, 4242099);
    EXPECT_EQ(app->GetNumSessions(), 2) << "a file that is not there";
}

TEST_F(AppTest, ApplicationEvents)
{
    QOR& q = Qor();
    STRINGARRAY docs(16);
    for (char const* d : {"/tmp/A.QRX", "/tmp/p.qor", "Telnet://host:23", "ssh://box", "ssh://me@box", "/tmp/x.qsh",
                          "/tmp/unknown.bin"})
        docs.AppendItem(STRING(d));
    char** argv = nullptr;
    int argc = q.MakeTempArgcArgv(&argv, &docs, 2);
    std::vector<std::string> args(argv + 1, argv + argc);
    EXPECT_EQ(args, (std::vector<std::string>{"/RUN:/tmp/A.QRX", "/O:/tmp/p.qor", "/TELNET:host:23", "/SSH:?@box",
                                              "/SSH:me@box", "/tmp/x.qsh"}));
    EXPECT_EQ(argv[argc], nullptr);
    q.MakeTempArgcArgv(&argv, nullptr, 0);

    STRINGARRAY none(4);
    EXPECT_TRUE(q.OnApplicationEvent(APPLICATION::APPLICATION_OPENDOC, &none, nullptr, nullptr));
    EXPECT_EQ(q.WindowCount(), 0) << "no document, no window";

    int32_t value = -1;
    EXPECT_TRUE(q.OnApplicationEvent(QOREVENT_QUERYWINDOWS, nullptr, &value, nullptr));
    EXPECT_EQ(value, 1);
    std::vector<TESTAPP*> windows;
    for (int i = 0; i < 4; ++i)
        windows.push_back(Open());
    EXPECT_EQ(windows[3]->Instance(), 4);
    Close(windows[2]);
    value = -1;
    q.OnApplicationEvent(QOREVENT_QUERYWINDOWS, nullptr, &value, nullptr);
    EXPECT_EQ(value, 3) << "the lowest number no window uses";
    value = 0;
    q.OnApplicationEvent(QOREVENT_QUERYWINDOWS, nullptr, &value, nullptr);
    EXPECT_EQ(value, 3);
    EXPECT_FALSE(q.OnApplicationEvent(APPLICATION::APPLICATION_OPEN, nullptr, nullptr, nullptr))
        << "open with a window there does nothing";
    EXPECT_EQ(q.WindowCount(), 3);
    // The program started again without documents: a new main window.
    STRINGARRAY nothing(4);
    EXPECT_TRUE(q.OnApplicationEvent(APPLICATION::APPLICATION_REOPEN, &nothing, nullptr, nullptr));
    ASSERT_EQ(q.WindowCount(), 4);
    Close(q.Window(3));

    // Quit asks the windows in turn; the first that refuses ends it.
    TESTAPP* refusing = static_cast<TESTAPP*>(q.Window(1));
    refusing->Settings().data.NoQuitWhenOnline = 1;
    for (int i = 0; i < q.WindowCount(); ++i)
        static_cast<APP*>(q.Window(i))->Settings().data.SafAskHangup = 0;
    ASSERT_TRUE(Pump([&] { return refusing->GetCurrentSession()->CommLayer.QueryOnline() == 1; }, 5000));
    EXPECT_TRUE(q.OnApplicationEvent(APPLICATION::APPLICATION_QUIT, nullptr, nullptr, nullptr));
    EXPECT_EQ(q.WindowCount(), 2) << "the first window agreed and left";
    EXPECT_EQ(q.Window(0), refusing);
    refusing->Settings().data.NoQuitWhenOnline = 0;
    EXPECT_FALSE(q.OnApplicationEvent(APPLICATION::APPLICATION_QUIT, nullptr, nullptr, nullptr)) << "all agree";
    EXPECT_EQ(q.WindowCount(), 0);
    EXPECT_TRUE(Pump([&] { return q.ReapClosed(); }, 5000));
}

TEST_F(AppTest, NewInstanceAndFailedStartUp)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    app->NewInstance("Standard.qor", nullptr, nullptr);
    ASSERT_TRUE(Pump([&] { return Qor().WindowCount() == 2; }, 5000));
    auto* second = static_cast<TESTAPP*>(Qor().Window(1));
    std::vector<std::string> const expected{"/Q", "/O:Standard.qor"};
    EXPECT_EQ(second->Arguments(), expected);

    // A start-up that stops (an unknown data folder the user does not
    // create) ends the window a second later, without the loop.
    plat::AddModalResponder(
        plat::kModalWindow,
        [](plat::ModalRequest const& request, plat::ModalAnswer&) {
            if (auto* dialog = dynamic_cast<DIALOG*>(DARWINDOW::GetThisFromWindowRef(request.window)))
                dialog->Dismiss(0);
            return true;
        },
        -1);
    TESTAPP* failed = Open("/Q /WD:/nonexistent/folder/of/nobody");
    ASSERT_NE(failed, nullptr);
    EXPECT_NE(failed->NorunCode(), 0);
    EXPECT_FALSE(failed->IsVisible());
    EXPECT_TRUE(Pump([&] { return Qor().WindowCount() == 2; }, 4000)) << "closed through the application";
}
