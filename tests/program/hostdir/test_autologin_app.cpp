// The automatic login in a main window's session on the loopback device,
// against a scripted login in Python: caret notation made real by the
// program's own notation, the user name and a password holding carets put
// in, and a login learned into an entry that then logs in by itself.
#include "tests/program/hostdir/hostdirtest.h"
#include "tests/program/shell/appfixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace apptest;

namespace {

class AutoLoginApp : public AppTest {
protected:
    // Runs the scripted login for the user and password against the
    // session, relaying what the session sends; its exit status (-1 when
    // it did not end within the time).
    int Login(SESSION& session, std::string const& user, std::string const& password)
    {
        char answer[64] = {};
        session.CommLayer.HandleDeviceCommand("LOOPBACK FD", answer, sizeof answer, nullptr);
        int const peer = atoi(answer);
        if (peer <= 0)
            return -2;
        int in[2];
        if (pipe2(in, O_CLOEXEC) != 0)
            return -3;
        std::string const script = testutil::SourceDir() + "/program/hostdir/scriptedlogin.py";
        pid_t const pid = fork();
        if (pid == 0) {
            dup2(in[0], 0);
            dup2(peer, 1);
            int const flags = fcntl(1, F_GETFL);
            fcntl(1, F_SETFL, flags & ~O_NONBLOCK);
            execlp("python3", "python3", script.c_str(), user.c_str(), password.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        // What the session sent before is not this login's.
        char before[4096] = {};
        session.CommLayer.HandleDeviceCommand("SENT", before, sizeof before, nullptr);
        size_t relayed = strlen(before);
        int status = -1;
        bool const ended = Pump(
            [&] {
                char sent[4096] = {};
                session.CommLayer.HandleDeviceCommand("SENT", sent, sizeof sent, nullptr);
                size_t const n = strlen(sent);
                if (n > relayed) {
                    if (write(in[1], sent + relayed, n - relayed) < 0)
                        return true;
                    relayed = n;
                }
                int st = 0;
                if (waitpid(pid, &st, WNOHANG) == pid) {
                    status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
                    return true;
                }
                return false;
            },
            20000);
        close(in[1]);
        if (!ended) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        return status;
    }
};

} // namespace

TEST_F(AutoLoginApp, ScriptedLoginOnTheLoopbackDevice)
{
    TESTAPP* app = Open("/Q /DEV:Loopback /EMU:TTY");
    ASSERT_NE(app, nullptr);
    SESSION* s = app->GetCurrentSession();
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->CommLayer.QueryIDFromCurrent(), 5) << "the session runs on the loopback device";
    char ok[16];
    s->CommLayer.HandleDeviceCommand("ONLINE 1", ok, sizeof ok, nullptr);

    _PHONEBOOK_300 e;
    PHONEBOOK::PrepareEntry(&e);
    e.handle = 6001;
    wcscpy(e.name, L"Test host");
    strcpy(e.username, "joe");
    strcpy(e.password, "p^Mw^^d");
    strcpy(e.waitsend, "Wait=login:\r\nSend=^%^M\r\nWait=Password:\r\nSend=^&^M");
    ASSERT_EQ(s->AutoLogin.Arm(*s, e), 4);
    EXPECT_EQ(Login(*s, "joe", "p^Mw^^d"), 0);
    EXPECT_TRUE(Pump([&] { return Shows(*s, "Last login: today"); }, 5000));

    // A login learned into an entry, stored with its placeholders, logs in
    // by itself.
    PHONEBOOK& book = app->Hostdir();
    e.handle = 0;
    e.learn = 1;
    e.waitsend[0] = 0;
    int const handle = book.Table().StoreAsNew(&e);
    ASSERT_GT(handle, 0);
    std::vector<std::string> learned{"w=login:", "s=joe^M", "w=Password:", "s=p^Mw^^d^M"};
    std::vector<char*> items;
    for (std::string& l : learned)
        items.push_back(l.data());
    items.push_back(nullptr);
    book.StoreLearnedLogin(items.data(), handle);
    _PHONEBOOK_300 stored;
    ASSERT_TRUE(book.Table().ItemCopyFromHandle(handle, &stored));
    EXPECT_STREQ(stored.waitsend, "Wait=login:\r\nSend=^%^M\r\nWait=Password:\r\nSend=^&^M\r\n");
    ASSERT_EQ(s->AutoLogin.Arm(*s, stored), 4);
    EXPECT_EQ(Login(*s, "joe", "p^Mw^^d"), 0);
    EXPECT_EQ(TakeAssertions(), std::vector<std::string>());
    Close(app);
}
