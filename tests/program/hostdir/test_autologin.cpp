// The automatic login: the wait/send text compiled into numbered items,
// the watcher on a session's received-data road (replies a timer sends,
// steps, the login script, the IEMSI request), learned logins stored into
// an entry, and host entries made from bare connection data.
#include "tests/program/hostdir/hostdirtest.h"

#include "program/hostdir/phonemisc.h"
#include "program/session/sessionrunner.h"

#include <gmock/gmock.h>

#include <cstring>

using namespace hostdirtest;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

class AutoLogin : public HostdirPlatformTest {
protected:
    static _PHONEBOOK_300 LoginEntry(char const* waitsend, char const* user = "joe", char const* password = "s3cret")
    {
        _PHONEBOOK_300 e = Entry(L"Mailbox", 6001);
        snprintf(e.waitsend, sizeof e.waitsend, "%s", waitsend);
        snprintf(e.username, sizeof e.username, "%s", user);
        snprintf(e.password, sizeof e.password, "%s", password);
        return e;
    }

    static std::vector<std::string> Compile(SESSION& session, _PHONEBOOK_300 const& e)
    {
        char out[PHONEAUTOLOGIN::BUFSIZE];
        char* items[PHONEAUTOLOGIN::MAXITEMS + 1];
        int const n = PHONEBOOK::WaitSendToAutoLogin(e, session, out, items, PHONEAUTOLOGIN::MAXITEMS);
        return std::vector<std::string>(items, items + n);
    }
};

} // namespace

TEST_F(AutoLogin, WaitSendTextsCompiled)
{
    HEADLESSSESSION run({});
    SESSION& s = run.Session();
    struct CASE {
        char const* Text;
        char const* Password;
        std::vector<std::string> Items;
    };
    std::vector<CASE> const cases = {
        {"Wait=login:\r\nSend=^%^M\r\nWait=Password:\r\nSend=^&^M", "s3cret",
         {"W1=login:", "S1=joe^M", "W2=Password:", "S2=s3cret^M"}},
        // A password holding carets stays as it is through the notation.
        {"W=assword:|S=^&^M", "a^Mb^^", {"W1=assword:", "S1=a^^Mb^^^^^M"}},
        // Control notation is made real in wait texts only.
        {"W=^[[1m|S=^[x", "", {"W1=\x1b[1m", "S1=^[x"}},
        {"W=a^^b", "", {"W1=a^b"}},
        // A send item before any wait item is step 0; keys in any case.
        {"send=early|wait=x|SEND=y|s=z", "", {"S0=early", "W1=x", "S1=y", "S1=z"}},
        // Blanks at an item's start go, others stay; "|" at the ends go.
        {"|  W=a b |\tS= c||", "", {"W1=a b ", "S1= c"}},
        // Other items stay as they are, their carets too.
        {"comment ^M|W=p", "", {"comment ^M", "W1=p"}},
        // No user name or password: nothing in their place.
        {"S=^%^&^M", "", {"S0=joe^M"}},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.Text);
        EXPECT_THAT(Compile(s, LoginEntry(c.Text, "joe", c.Password)), ElementsAreArray(c.Items));
    }
    // A list too long for the session's buffer is not cut: no login.
    std::string longest;
    while (longest.size() + 8 < 400)
        longest += "S=^&^&|";
    EXPECT_TRUE(Compile(s, LoginEntry(longest.c_str(), "joe", std::string(95, 'p').c_str())).empty());
    // At most 64 items.
    std::string many;
    for (int i = 0; i < 70; ++i)
        many += "W=" + std::to_string(i % 10) + "|";
    EXPECT_EQ(Compile(s, LoginEntry(many.c_str())).size(), 64u);
}

// The watcher on the session's road: a reply goes out from a timer once
// the received text ends with the step's wait text, one step after the
// other; then the entry's login script starts.
TEST_F(AutoLogin, StepsRepliesAndTheLoginScript)
{
    HEADLESSSESSION run({});
    ASSERT_TRUE(run.IsOpen());
    SESSION& s = run.Session();
    std::vector<std::string> scripts;
    s.SetEventRoute(8125, 8125, [&](SESSION&, int, int, char const* text) {
        scripts.push_back(text ? text : "");
        return 1;
    });
    _PHONEBOOK_300 e = LoginEntry("Wait=login:\r\nSend=^%\r\nWait=Password:\r\nSend=^&\r\nWait=\r\nSend=never");
    snprintf(e.script, sizeof e.script, "%s", "after.qrx");
    EXPECT_EQ(s.AutoLogin.Arm(s, e), 6);
    EXPECT_TRUE(s.ReceiveTriggersActive());

    ASSERT_TRUE(run.Feed(std::string("Welcome\r\n\0log", 13)));
    ASSERT_TRUE(run.WaitIdle());
    EXPECT_EQ(s.AutoLogin.PendingReplies(), 0u);
    ASSERT_TRUE(run.Feed("in:"));
    ASSERT_TRUE(run.WaitIdle());
    // Not sent inside the road: a timer sends it.
    EXPECT_EQ(s.AutoLogin.GetStep(), 2);
    EXPECT_EQ(s.AutoLogin.PendingReplies(), 1u);
    EXPECT_EQ(run.Sent(), "");
    ASSERT_TRUE(run.RunUntil([&] { return run.Sent() == "joe"; }, 5000));

    ASSERT_TRUE(run.Feed("\r\nPassword:"));
    ASSERT_TRUE(run.RunUntil([&] { return run.Sent() == "joes3cret"; }, 5000));
    // An empty wait text never matches: the login stays at that step.
    ASSERT_TRUE(run.Feed("anything\r\n"));
    ASSERT_TRUE(run.WaitIdle());
    run.RunUntil([] { return false; }, 400);
    EXPECT_EQ(s.AutoLogin.GetStep(), 3);
    EXPECT_EQ(run.Sent(), "joes3cret");
    EXPECT_TRUE(scripts.empty());

    // Without a wait item for the step the login is done: the next
    // character starts the script with the entry's name.
    e = LoginEntry("W=$|S=ls");
    snprintf(e.script, sizeof e.script, "%s", "after.qrx");
    s.AutoLogin.Arm(s, e);
    ASSERT_TRUE(run.Feed("$"));
    ASSERT_TRUE(run.RunUntil([&] { return run.Sent() == "joes3cretls"; }, 5000));
    EXPECT_TRUE(scripts.empty());
    ASSERT_TRUE(run.Feed("x"));
    ASSERT_TRUE(run.WaitIdle());
    EXPECT_THAT(scripts, ElementsAre("after.qrx Mailbox"));
    EXPECT_EQ(s.AutoLogin.GetStep(), 0);
    EXPECT_FALSE(s.ReceiveTriggersActive());

    // A reset drops a reply not yet sent.
    e = LoginEntry("W=go|S=late");
    s.AutoLogin.Arm(s, e);
    ASSERT_TRUE(run.Feed("go"));
    ASSERT_TRUE(run.WaitIdle());
    EXPECT_EQ(s.AutoLogin.PendingReplies(), 1u);
    s.WatchAutoLogin(-1);
    run.RunUntil([] { return false; }, 400);
    EXPECT_EQ(run.Sent(), "joes3cretls");
    EXPECT_EQ(s.AutoLogin.GetStep(), 0);
}

// An entry that wants IEMSI hears the host's request whatever the step.
TEST_F(AutoLogin, IemsiRequest)
{
    HEADLESSSESSION run({});
    ASSERT_TRUE(run.IsOpen());
    SESSION& s = run.Session();
    int requests = 0;
    s.SetEventRoute(8817, 8817, [&](SESSION&, int, int, char const*) {
        ++requests;
        return 1;
    });
    _PHONEBOOK_300 e = LoginEntry("");
    s.AutoLogin.Arm(s, e);
    ASSERT_TRUE(run.Feed("**EMSI_IRQ8E08\r\n"));
    ASSERT_TRUE(run.WaitIdle());
    run.RunUntil([] { return false; }, 200);
    EXPECT_EQ(requests, 0) << "not wanted";
    e.iemsiwanted = 1;
    s.AutoLogin.Arm(s, e);
    EXPECT_TRUE(s.ReceiveTriggersActive());
    ASSERT_TRUE(run.Feed("BBS **EMSI_IRQ8E08"));
    ASSERT_TRUE(run.RunUntil([&] { return requests == 1; }, 5000));
    ASSERT_TRUE(run.Feed("\r\nmore"));
    ASSERT_TRUE(run.WaitIdle());
    run.RunUntil([] { return false; }, 200);
    EXPECT_EQ(requests, 1);
}

// A learned login: user name and password become their placeholders only
// as whole send texts; while stored passwords are off the answer to a
// password prompt is never stored.
TEST_F(AutoLogin, LearnedLoginsStored)
{
    struct CASE {
        std::vector<char const*> Items;
        bool NoPasswords;
        char const* Stored;
    };
    std::vector<CASE> const cases = {
        {{"w=login:", "s=joe^M", "W=Password:", "S=s3cret^M"}, false,
         "Wait=login:\r\nSend=^%^M\r\nWait=Password:\r\nSend=^&^M\r\n"},
        // A user "o" does not turn every "o" of the prompts into "^%".
        {{"w=logon:", "s=o", "w=pwd", "s=other"}, false, "Wait=logon:\r\nSend=^%\r\nWait=pwd\r\nSend=other\r\n"},
        {{"w=Passwort:", "s=typed^M"}, true, "Wait=Passwort:\r\nSend=^&^M\r\n"},
        {{"w=Passwort:", "s=typed^M"}, false, "Wait=Passwort:\r\nSend=typed^M\r\n"},
    };
    Init(10);
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.Stored);
        Host.AdminRecord.DisableStoredPasswords = c.NoPasswords ? 1 : 0;
        _PHONEBOOK_300 e = LoginEntry("");
        if (std::string(c.Items[1]) == "s=o")
            snprintf(e.username, sizeof e.username, "o");
        e.learn = 1;
        e.handle = 0;
        int const handle = Book->Table().StoreAsNew(&e);
        std::vector<char*> items;
        std::vector<std::string> copies(c.Items.begin(), c.Items.end());
        for (std::string& item : copies)
            items.push_back(item.data());
        items.push_back(nullptr);
        Book->StoreLearnedLogin(items.data(), handle);
        _PHONEBOOK_300 stored;
        ASSERT_TRUE(Book->Table().ItemCopyFromHandle(handle, &stored));
        EXPECT_STREQ(stored.waitsend, c.Stored);
        EXPECT_EQ(stored.learn, 0);
    }
    // The directory was saved each time, also for an entry that is gone.
    char* none[] = {nullptr};
    Book->StoreLearnedLogin(none, 424242);
    EXPECT_THAT(testutil::ReadFile(Book->Filename()), ::testing::HasSubstr("Send=^&^M"));
}

TEST_F(AutoLogin, EntriesFromConnectionData)
{
    Init(10);
    Store(L"taken", 7000);
    HEADLESSSESSION run({});
    SESSION& s = run.Session();
    _PHONEBOOK_300 e;
    ASSERT_TRUE(Book->PhonebookEntryFromData(s, &e, "example.org", 3, "", 18, "", 2, "/opt/p/Work.qor", 0,
                                             "joe||*~/.ssh/id_ed25519"));
    EXPECT_EQ(std::wstring(e.name), L"example.org");
    EXPECT_STREQ(e.number, "example.org");
    EXPECT_EQ(e.handle, 7001);
    EXPECT_EQ(e.dosimpledial, 1);
    EXPECT_EQ(e.protocol, 2);
    EXPECT_STREQ(e.optfile, "Work.qor");
    EXPECT_STREQ(e.username, "joe");
    EXPECT_STREQ(e.password, "");
    EXPECT_STREQ(e.authfile, "~/.ssh/id_ed25519");
    EXPECT_EQ(e.authglobal, 1);

    struct SIMPLE {
        int Device;
        char const* Target;
        int Simple;
    } const simple[] = {{12, "", 1}, {12, "LocalHost", 1}, {12, "far", 0}, {1, "", 1}, {1, "5551234", 0},
                        {9, "x", 1},  {2, "", 0}};
    for (SIMPLE const& c : simple) {
        Book->PhonebookEntryFromData(s, &e, c.Target, c.Device, nullptr, -1, nullptr, -1, "<Default>", 1, "");
        EXPECT_EQ(e.dosimpledial, c.Simple) << c.Device << " " << c.Target;
    }
    EXPECT_EQ(std::wstring(e.name), L"(None)");
    EXPECT_STREQ(e.optfile, "<Current>");
    EXPECT_EQ(e.dialtype, 1);
}
