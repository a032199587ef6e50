// Main windows offscreen with sessions on the local shell: what the host
// tells the window (its title) and how a tab follows its program's end.
#include "tests/program/shell/appfixture.h"

#include "program/shell/tabs.h"

#include "platform/controls/drops.h"
#include "tests/support/testutil.h"

#include <cctype>
#include <cstdio>
#include <string>
#include <unistd.h>

using namespace apptest;

namespace {

std::wstring TabName(APP& app, int idx)
{
    return app.Tabsbar()->GetNameWide(idx).Buf();
}

std::wstring WindowTitle(APP& app)
{
    return app.GetTextWide().Buf();
}

// A window with two tabs on the shell.
TESTAPP* OpenTwoTabs(AppTest& test)
{
    TESTAPP* app = test.Open();
    if (app)
        app->ProcessEvent(8421, 0, nullptr);
    return app && app->GetNumSessions() == 2 ? app : nullptr;
}

} // namespace

TEST_F(AppTest, HostTitleNamesTheTabAndTheWindow)
{
    TESTAPP* app = OpenTwoTabs(*this);
    ASSERT_NE(app, nullptr);
    SESSION* first = app->GetSessionPtr(0);
    SESSION* second = app->GetSessionPtr(1);
    std::wstring const plain = WindowTitle(*app);
    EXPECT_EQ(plain.rfind(L"QOR/", 0), 0u) << "no title yet: the program's own";

    // OSC 2 and OSC 0 name the tab of their session; the window shows the
    // current session's title before its own.
    ASSERT_TRUE(Run(*second, "printf '\\033]2;%s\\007' \"build $((6*7))\"; echo ti$((1+1))tle", "ti2tle"));
    EXPECT_TRUE(Pump([&] { return TabName(*app, 1) == L"build 42"; }, 5000)) << TabName(*app, 1).size();
    EXPECT_TRUE(Pump([&] { return WindowTitle(*app) == L"build 42 - " + plain; }, 5000));
    ASSERT_TRUE(Run(*first, "printf '\\033]0;%s\\033\\\\' \"edit $((6*7))\"; echo ti$((2+1))tle", "ti3tle"));
    EXPECT_TRUE(Pump([&] { return TabName(*app, 0) == L"edit 42"; }, 5000));
    EXPECT_EQ(TabName(*app, 1), L"build 42") << "each tab keeps its own";
    app->SwitchSession(0);
    EXPECT_TRUE(Pump([&] { return WindowTitle(*app) == L"edit 42 - " + plain; }, 5000));

    // An empty title gives the tab its plain name back.
    ASSERT_TRUE(Run(*first, "printf '\\033]2;\\007'; echo ti$((4+1))tle", "ti5tle"));
    EXPECT_TRUE(Pump([&] { return TabName(*app, 0) == L"Terminal"; }, 5000));
    EXPECT_TRUE(Pump([&] { return WindowTitle(*app) == plain; }, 5000));
}

TEST_F(AppTest, AnEndedShellSaysSoAndConnectingAgainStartsANewOne)
{
    TESTAPP* app = OpenTwoTabs(*this);
    ASSERT_NE(app, nullptr);
    SESSION* first = app->GetSessionPtr(0);
    SESSION* second = app->GetSessionPtr(1);
    app->Settings().data.DisconCloseTab = 0;
    app->Settings().data.DisconCloseWin = 0;
    auto online = [&](int idx) { return (app->Tabsbar()->Info(idx).Flags & TABS_TABINFO::ONLINE) != 0; };
    ASSERT_TRUE(Pump([&] { return online(0) && online(1); }, 5000));

    // The settings keep the tab: it says that its program ended.
    app->SwitchSession(0);
    app->UpdateToolbarAndMenu(true);
    EXPECT_FALSE(app->IsMenuEntryEnabled(8383)) << "nothing to connect again while the shell runs";
    Type(*first, L"exit\r");
    ASSERT_TRUE(Pump([&] { return !online(0); }, 10000));
    EXPECT_TRUE(Pump([&] { return Shows(*first, "[The program has ended."); }, 5000));
    EXPECT_EQ(app->GetNumSessions(), 2);
    app->UpdateToolbarAndMenu(true);
    EXPECT_TRUE(app->IsMenuEntryEnabled(8383));

    // Connect Again starts a new shell in the tab.
    app->ProcessEvent(8383, 0, nullptr);
    ASSERT_TRUE(Pump([&] { return online(0); }, 5000));
    EXPECT_TRUE(Run(*first, "echo again$((1+1))", "again2"));

    // Reconnect Offline Tabs starts every ended one, and only those.
    Type(*first, L"exit\r");
    Type(*second, L"exit\r");
    ASSERT_TRUE(Pump([&] { return !online(0) && !online(1); }, 10000));
    app->ProcessEvent(8426, 0, nullptr);
    ASSERT_TRUE(Pump([&] { return online(0) && online(1); }, 5000));
    EXPECT_TRUE(Run(*first, "echo one$((1+1))", "one2"));
    EXPECT_TRUE(Run(*second, "echo two$((1+1))", "two2"));
}

// A file whose name holds a line feed, dropped on a shell: its name stays
// one word, and what follows the line feed does not run.
TEST_F(AppTest, ADroppedFileNameRunsNothing)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    SESSION* s = app->GetCurrentSession();
    ASSERT_TRUE(Run(*s, "echo re$((1+1))ady", "re2ady"));
    testutil::TempDir dir;
    std::string url = "file://";
    // No blank in it, so that even double quotes would not have kept it in.
    for (char c : dir.path() + "/x\ntouch${IFS}" + dir.path() + "/PWNED") {
        char hex[4];
        snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
        url += isalnum(static_cast<unsigned char>(c)) || c == '/' ? std::string(1, c) : std::string(hex);
    }
    Type(*s, L"printf '[%s]\\n' ");
    ASSERT_EQ(plat::SimulateDrop(s->GetControlRef(), {url}, {20, 20}), plat::kNoErr);
    ASSERT_TRUE(Run(*s, "; echo do$((1+1))ne", "do2ne"));
    EXPECT_NE(access(dir.file("PWNED").c_str(), F_OK), 0) << "a command in the file's name ran";
}
