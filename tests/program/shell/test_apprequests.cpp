// Requests and message boxes: shown on the main thread whoever asks,
// answered at once without a box in unattended mode; the boxes the user can
// silence; the program password; the text editor.
#include "tests/program/shell/appfixture.h"

#include "program/shell/appdialog.h"

#include "platform/events/modal.h"
#include "velmot/core/registry.h"
#include "velmot/gui/windialog.h"

#include "tests/support/testutil.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <sys/stat.h>
#include <thread>

using namespace apptest;

namespace {

// Runs fn on a thread of its own while the main loop turns; its result.
template <class FN>
auto OnThread(FN fn)
{
    using R = decltype(fn());
    R result{};
    std::atomic<bool> done{false};
    std::thread t([&] {
        result = fn();
        done = true;
    });
    AppTest::Pump([&] { return done.load(); }, 10000);
    t.join();
    return result;
}

// The dialog a modal run shows.
DIALOG* DialogOf(plat::ModalRequest const& r)
{
    return dynamic_cast<DIALOG*>(DARWINDOW::GetThisFromWindowRef(r.window));
}

} // namespace

TEST_F(AppTest, UnattendedRequestsAnswerWithoutABox)
{
    TESTAPP* app = Open("/Q /U");
    ASSERT_NE(app, nullptr);
    ASSERT_EQ(gUnattended, 1);
    ALERTS alerts(2);
    int windows = 0;
    plat::AddModalResponder(
        plat::kModalWindow,
        [&](plat::ModalRequest const&, plat::ModalAnswer&) {
            ++windows;
            return false;
        },
        -1);
    char const* labels[] = {"one", "two", "three", "four"};
    char const* items[] = {"a", "b"};
    for (bool thread : {false, true}) {
        auto run = [&](auto fn) { return thread ? OnThread(fn) : fn(); };
        EXPECT_TRUE(run([&] { return app->YesNoRequest("T", "really?"); }));
        EXPECT_EQ(run([&] { return app->WarningMsg("?Question"); }), 1);
        EXPECT_EQ(run([&] { return app->ShowRequest("pick", labels[0], labels[1], labels[2], labels[3]); }), labels[0]);
        EXPECT_EQ(run([&] { return app->ShowMultiRequest("pick", 2, items); }), 0);
        wchar_t wide[8] = L"keep";
        EXPECT_EQ(run([&] { return app->AskWide(L"T", L"Name:", wide, 8, 0, nullptr); }), nullptr);
        EXPECT_STREQ(wide, L"") << "the buffer is emptied";
        char narrow[8] = "keep";
        EXPECT_EQ(run([&] { return app->Ask("T", "Name:", narrow, 8, 0, nullptr); }), nullptr);
        EXPECT_STREQ(narrow, "keep") << "the narrow form leaves it";
        char user[16] = "u", pass[16] = "p";
        EXPECT_EQ(run([&] { return app->AskUserPass("T", user, 16, pass, 16, nullptr); }), 0);
        run([&] {
            app->ErrorMsg("error");
            app->InfoMsg("info");
            return 0;
        });
    }
    EXPECT_TRUE(alerts.Texts.empty()) << "nothing was shown";
    EXPECT_EQ(windows, 0);
    int pickers = 0;
    for (plat::OSType kind : {plat::kModalFileOpen, plat::kModalFileSave, plat::kModalFolder}) {
        plat::AddModalResponder(
            kind,
            [&](plat::ModalRequest const&, plat::ModalAnswer&) {
                ++pickers;
                return false;
            },
            -1);
    }
    EXPECT_TRUE(OnThread([&] { return app->AskFilename("T", "/tmp").IsEmpty(); }));
    EXPECT_TRUE(app->AskSaveAsFilename("T", "/tmp/x").IsEmpty());
    EXPECT_TRUE(app->AskDirectory("T", "/tmp").IsEmpty());
    EXPECT_EQ(app->AskFilenames("T", "/tmp", *app), nullptr);
    EXPECT_EQ(pickers, 0);
}

TEST_F(AppTest, PickersAskThroughTheFileDialogs)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    testutil::TempDir dir;
    std::string const table = dir.file("table.txt");
    testutil::WriteFile(table, "x");
    testutil::WriteFile(dir.file("other.txt"), "y");

    // One file, asked from another thread; a line break in the title
    // starts the filter list ("text;pattern" pairs joined by "|").
    plat::ModalRequest seen;
    plat::AddModalResponder(
        plat::kModalFileOpen,
        [&](plat::ModalRequest const& r, plat::ModalAnswer& a) {
            seen = r;
            a.text = table;
            a.choice = 1;
            return true;
        },
        1);
    STRING const chosen =
        OnThread([&] { return app->AskFilename("Load a table\rText files;*.txt|All files;*.*", dir.path().c_str()); });
    EXPECT_STREQ(chosen.Buf(), table.c_str());
    EXPECT_EQ(seen.title, "Load a table") << "the filter list is not part of the title";
    EXPECT_EQ(seen.choices, (std::vector<std::string>{"Text files (*.txt)", "All files (*)"}))
        << "the filter's entries make the dialog's type list";

    struct CASE {
        plat::OSType kind;
        std::string answer;
        std::function<STRING()> ask;
        std::string expected;
    };
    std::string const saved = dir.file("saved.txt");
    CASE const cases[] = {
        {plat::kModalFileSave, saved, [&] { return app->AskSaveAsFilename("Save", dir.file("x.txt").c_str()); }, saved},
        {plat::kModalFolder, dir.path(), [&] { return app->AskDirectory(nullptr, "/"); }, dir.path()},
        {plat::kModalFileOpen, "", [&] { return app->AskFilename(nullptr, dir.path().c_str()); }, ""},
    };
    for (CASE const& c : cases) {
        plat::AddModalResponder(
            c.kind,
            [&](plat::ModalRequest const&, plat::ModalAnswer& a) {
                a.text = c.answer;
                a.choice = c.answer.empty() ? 2 : 1;
                return true;
            },
            1);
        EXPECT_STREQ(c.ask().Buf(), c.expected.c_str()) << plat::FourCCText(c.kind);
    }

    // Several files: a table of the names followed by a null; no start
    // folder asks nothing.
    EXPECT_EQ(app->AskFilenames("Pick", nullptr, *app), nullptr);
    plat::AddModalResponder(
        plat::kModalFileOpen,
        [&](plat::ModalRequest const&, plat::ModalAnswer& a) {
            a.items = {"table.txt", "other.txt"};
            a.choice = 1;
            return true;
        },
        1);
    char** names = app->AskFilenames("Pick", dir.path().c_str(), *app);
    ASSERT_NE(names, nullptr);
    std::vector<std::string> got;
    for (char** n = names; *n; ++n)
        got.emplace_back(*n);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::string>{dir.file("other.txt"), table}));
}

TEST_F(AppTest, RequestsFromAnotherThreadAreShownOnTheMainThread)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    {
        ALERTS alerts(2);
        EXPECT_FALSE(OnThread([&] { return app->YesNoRequest(nullptr, "Go on?"); })) << "the second button is No";
        EXPECT_EQ(OnThread([&] { return app->WarningMsg("?Continue now"); }), 0);
        ASSERT_EQ(alerts.Texts.size(), 2u);
        EXPECT_NE(alerts.Texts[1].find("Continue now"), std::string::npos);
        EXPECT_EQ(alerts.Texts[1].find('?'), std::string::npos) << "the question mark only says it is a question";
    }
    std::thread::id shownOn;
    plat::AddModalResponder(
        plat::kModalWindow,
        [&](plat::ModalRequest const& r, plat::ModalAnswer&) {
            shownOn = std::this_thread::get_id();
            if (DIALOG* d = DialogOf(r))
                d->Dismiss(plat::FourCC("PUSH") + 2);
            return true;
        },
        1);
    char const* labels[] = {"one", "two", "three"};
    EXPECT_EQ(OnThread([&] { return app->ShowRequest("pick", labels[0], labels[1], labels[2], nullptr); }), labels[2])
        << "the third button gives the very pointer passed as label3";
    EXPECT_EQ(shownOn, std::this_thread::get_id());
}

TEST_F(AppTest, InputDialogs)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    RECT where{};
    plat::AddModalResponder(
        plat::kModalWindow,
        [&](plat::ModalRequest const& r, plat::ModalAnswer&) {
            DIALOG* d = DialogOf(r);
            if (!d)
                return false;
            where = d->GetRect();
            EXPECT_STREQ(d->GetControlText(CONTROLID{plat::FourCC("TEXT"), 1}).Buf(), "Place:");
            d->SetControlText(CONTROLID{plat::FourCC("EDIT"), 1}, "typed answer");
            d->Dismiss(plat::FourCC("OKAY"));
            return true;
        },
        1);
    wchar_t buffer[8] = L"old";
    EXPECT_EQ(app->AskWide(L"Title", L"\x00B0Place:", buffer, 8, 0, nullptr), buffer);
    EXPECT_STREQ(buffer, L"typed a") << "at most size - 1 characters";
    RECT const desktop = WINDOW(static_cast<plat::WindowRef>(nullptr)).GetRect();
    // The frame's border may stand a pixel or two beyond what was asked.
    EXPECT_NEAR(where.right, desktop.right, 4) << "a prompt starting with a degree sign goes to the bottom right";
    EXPECT_NEAR(where.bottom, desktop.bottom - 32, 4);

    app->Admin().DisableStoredPasswords = 1;
    plat::AddModalResponder(
        plat::kModalWindow,
        [&](plat::ModalRequest const& r, plat::ModalAnswer&) {
            DIALOG* d = DialogOf(r);
            d->SetControlChecked(CONTROLID{plat::FourCC("CHEC"), 0}, true);
            d->SetControlText(CONTROLID{plat::FourCC("EDIT"), 0}, "changed");
            d->SetControlText(CONTROLID{plat::FourCC("EDIT"), 1}, std::string(200, 'x').c_str());
            d->Dismiss(plat::FourCC("OKAY"));
            return true;
        },
        1);
    char user[32] = "[READONLY]bob";
    char pass[8] = {};
    int store = 1;
    EXPECT_EQ(app->AskUserPass("Login", user, sizeof user, pass, sizeof pass, &store), 1);
    EXPECT_STREQ(user, "[READONLY]bob") << "a read-only user stays as it was";
    EXPECT_EQ(strlen(pass), 7u) << "the password is cut to the caller's buffer";
    EXPECT_EQ(store, 0) << "no stored passwords";

    char const* items[] = {"red", "green", "blue"};
    plat::AddModalResponder(
        plat::kModalWindow,
        [&](plat::ModalRequest const& r, plat::ModalAnswer&) {
            auto* d = dynamic_cast<MULTIREQUESTDIALOG*>(DialogOf(r));
            d->List.SelectItem(2, 1);
            d->OnControlEvent(770, d->List, nullptr);
            return true;
        },
        1);
    EXPECT_EQ(app->ShowMultiRequest("Colour", 3, items), 2) << "a double click is OK";
    plat::AddModalResponder(
        plat::kModalWindow,
        [&](plat::ModalRequest const& r, plat::ModalAnswer&) {
            DialogOf(r)->Dismiss(0);
            return true;
        },
        1);
    EXPECT_EQ(app->ShowMultiRequest("Colour", 3, items), -1);
}

TEST_F(AppTest, MessagesTheUserSilenced)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    REGISTRY reg(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", "QOR6\\DontShowAgain", REGISTRY::READWRITE);
    reg.DeleteValue("TestNotice");
    {
        ALERTS alerts(3);
        app->InfoMsgOnce(*app, nullptr, "A notice", "TestNotice");
        app->InfoMsgOnce(*app, nullptr, "A notice", "TestNotice");
        EXPECT_EQ(alerts.Texts.size(), 1u) << "\"Don't show again\" was chosen the first time";
    }
    DWORD value = 0;
    EXPECT_TRUE(reg.Read("TestNotice", &value));
    EXPECT_EQ(value, 1u);
    reg.Write("TestNotice", DWORD(0));
    ALERTS again(1);
    app->InfoMsgOnce(*app, nullptr, "A notice", "TestNotice");
    EXPECT_EQ(again.Texts.size(), 1u) << "shown again once the value is 0";
}

TEST_F(AppTest, ProgramPasswordAndTheEditor)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->VerifyPassword(1), 1) << "no password set";
    snprintf(app->Settings().data.Password, sizeof app->Settings().data.Password, "%s", "Secret");
    auto answer = [&](char const* text) {
        plat::AddModalResponder(
            plat::kModalWindow,
            [text](plat::ModalRequest const& r, plat::ModalAnswer&) {
                DIALOG* d = DialogOf(r);
                d->SetControlText(CONTROLID{plat::FourCC("EDIT"), 0}, text);
                d->Dismiss(text ? plat::FourCC("OKAY") : 0);
                return true;
            },
            1);
    };
    ALERTS alerts(1);
    answer("secret");
    EXPECT_EQ(app->VerifyPassword(1), 0) << "compared exactly";
    EXPECT_EQ(alerts.Texts.size(), 1u) << "the error was shown";
    app->Notices.clear();
    answer("Secret");
    EXPECT_EQ(app->VerifyPassword(1), 1);
    EXPECT_EQ(app->Notices, (std::vector<uint32_t>{APP::IPC_CATEGORY | APP::IPC_KEYACTIVITY,
                                                   APP::IPC_CATEGORY | APP::IPC_PASSWORDOK}));
    app->Settings().data.Password[0] = 0;

    testutil::TempDir dir;
    std::string const file = dir.file("notes.txt");
    testutil::WriteFile(file, "first line\nsecond");
    auto edit = [](bool check) {
        plat::AddModalResponder(
            plat::kModalWindow,
            [check](plat::ModalRequest const& r, plat::ModalAnswer&) {
                DIALOG* d = DialogOf(r);
                if (check) {
                    EXPECT_STREQ(d->GetControlText(CONTROLID{plat::FourCC("EDIT"), 1}).Buf(), "first line\nsecond");
                }
                d->SetControlText(CONTROLID{plat::FourCC("EDIT"), 1}, "edited");
                d->Dismiss(plat::FourCC("OKAY"));
                return true;
            },
            1);
    };
    edit(true);
    EXPECT_NE(app->EditTextFile(*app, file.c_str()), 0);
    EXPECT_EQ(testutil::ReadFile(file), "edited");
    // A file that cannot be written reports the error instead of losing the
    // edit without a word.
    std::string const folder = dir.file("a folder");
    mkdir(folder.c_str(), 0700);
    size_t const shown = alerts.Texts.size();
    edit(false);
    EXPECT_EQ(app->EditTextFile(*app, folder.c_str()), 0);
    EXPECT_EQ(alerts.Texts.size(), shown + 1);
}

TEST_F(AppTest, TipOfTheDayWhenTheUserAsks)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    REGISTRY reg(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", "QOR6", REGISTRY::READWRITE);
    reg.Write("TipOfDayStyle", "0");
    std::vector<std::string> titles;
    plat::AddModalResponder(
        plat::kModalWindow,
        [&](plat::ModalRequest const& r, plat::ModalAnswer&) {
            DIALOG* d = DialogOf(r);
            titles.emplace_back(d ? d->GetText().Buf() : "");
            if (d)
                d->Dismiss(0);
            return true;
        },
        -1);
    EXPECT_EQ(app->ProcessEvent(8493, 1, nullptr), 1);
    EXPECT_TRUE(titles.empty()) << "the user turned the tips off";
    EXPECT_EQ(app->ProcessEvent(8493, 0, nullptr), 1);
    ASSERT_EQ(titles.size(), 1u) << "asked for, the tip shows anyway";
    EXPECT_NE(titles[0].find("Tip of the Day"), std::string::npos) << titles[0];
    EXPECT_TRUE(app->OnCommand(plat::FourCC("HTIP"))) << "the Help menu's item";
    EXPECT_EQ(titles.size(), 2u);
    reg.DeleteValue("TipOfDayStyle");
}
