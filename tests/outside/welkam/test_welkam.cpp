// The SSH device against an OpenSSH server the test starts on 127.0.0.1
// (and a paramiko server for password and keyboard-interactive logins):
// host keys, pass phrases, the shell, exec channels, hostile targets.
#include "tests/outside/welkam/sshpeer.h"

#include "outside/welkam/sshtext.h"

#include "velmot/core/logit.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <thread>
#include <unistd.h>

using namespace sshpeer;

namespace {

SSHD* gServer = nullptr;

class Welkam : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!gServer)
            gServer = new SSHD();
    }
    static void TearDownTestSuite()
    {
        delete gServer;
        gServer = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(gServer->Running());
        testutil::WriteFile(gServer->File("known_hosts"), "");
    }
    std::string Parm(std::string const& config)
    {
        return "[9]" + std::to_string(gServer->Port()) + "|" + config;
    }
};

constexpr int kWait = 20000;

// The processes below pid (children, grandchildren, ...).
std::vector<pid_t> Descendants(pid_t root)
{
    std::vector<pid_t> all{root}, out;
    for (size_t i = 0; i < all.size(); ++i) {
        DIR* dir = opendir("/proc");
        while (dirent* e = dir ? readdir(dir) : nullptr) {
            pid_t pid = atoi(e->d_name);
            if (pid <= 0)
                continue;
            std::string stat = testutil::ReadFile("/proc/" + std::to_string(pid) + "/stat");
            size_t close = stat.rfind(')');
            if (close == std::string::npos)
                continue;
            int ppid = 0;
            char state;
            if (sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == all[i]) {
                all.push_back(pid);
                out.push_back(pid);
            }
        }
        if (dir)
            closedir(dir);
    }
    return out;
}

} // namespace

TEST_F(Welkam, HostKeyQuestion)
{
    std::string const config = gServer->ClientConfig("plain.cfg", "id_plain");
    struct CASE {
        char const* What;
        bool Known; // the key is in known_hosts before
        bool Yes;   // the answer to the question
        bool Asked;
        bool Connects;
    } const cases[] = {
        {"unknown key, answered no", false, false, true, false},
        {"unknown key, answered yes", false, true, true, true},
        {"known key", true, false, false, true},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.What);
        if (c.Known)
            gServer->TrustHostKey();
        else
            testutil::WriteFile(gServer->File("known_hosts"), "");
        std::string const before = gServer->KnownHosts();
        SCRIPTEDPUBLIC pub;
        pub.HostKeyYes = c.Yes;
        DEVICE dev(pub, Parm(config));
        ASSERT_TRUE(dev.Dev().Connect("127.0.0.1"));
        ASSERT_TRUE(dev.WaitFor(c.Connects ? "[SSH] CONNECT 127.0.0.1\r\n" : "[SSH] FAIL: ", kWait)) << dev.Received();
        EXPECT_EQ(pub.Count("hostkey "), c.Asked ? 1 : 0);
        if (c.Asked) {
            std::lock_guard<std::mutex> guard(pub.Lock);
            EXPECT_NE(pub.Asked[0].find(gServer->Fingerprint()), std::string::npos) << pub.Asked[0];
            EXPECT_NE(pub.Asked[0].find("127.0.0.1"), std::string::npos);
        }
        EXPECT_EQ(dev.Dev().QueryOnline(), c.Connects ? 1 : 0);
        if (!c.Connects) {
            EXPECT_EQ(gServer->KnownHosts(), before);
        } else if (!c.Known) {
            EXPECT_NE(gServer->KnownHosts().find("127.0.0.1"), std::string::npos);
        }
    }
}

TEST_F(Welkam, ChangedHostKeyFailsWithoutQuestion)
{
    std::string const config = gServer->ClientConfig("plain.cfg", "id_plain");
    gServer->TrustHostKey();
    std::string const before = gServer->KnownHosts();
    ASSERT_TRUE(gServer->ChangeHostKey());
    SCRIPTEDPUBLIC pub;
    pub.HostKeyYes = true;
    DEVICE dev(pub, Parm(config));
    ASSERT_TRUE(dev.Dev().Connect("127.0.0.1"));
    ASSERT_TRUE(dev.WaitFor("[SSH] FAIL: ", kWait)) << dev.Received();
    EXPECT_NE(dev.Received().find("Host key verification failed"), std::string::npos) << dev.Received();
    EXPECT_EQ(pub.Count("hostkey "), 0);
    EXPECT_EQ(gServer->KnownHosts(), before);
    EXPECT_TRUE(dev.WaitOnline(0, kWait));
}

TEST_F(Welkam, PassphraseKeptReusedAndRefused)
{
    std::string const config = gServer->ClientConfig("phrase.cfg", "id_phrase", "  NumberOfPasswordPrompts 2\n");
    gServer->TrustHostKey();
    SCRIPTEDPUBLIC pub;
    {
        // Asked, kept when ticked.
        pub.Answers = {std::string("!") + SSHD::kPhrase};
        DEVICE dev(pub, Parm(config));
        ASSERT_TRUE(dev.Dev().Connect("127.0.0.1"));
        ASSERT_TRUE(dev.WaitFor("[SSH] CONNECT", kWait)) << dev.Received();
        EXPECT_EQ(pub.Count("passphrase " + gServer->File("id_phrase")), 1);
        std::lock_guard<std::mutex> guard(pub.Cache.Lock);
        ASSERT_EQ(pub.Cache.Entries.size(), 1u);
        EXPECT_EQ(pub.Cache.Entries.begin()->first, "key:" + gServer->File("id_phrase"));
    }
    {
        // Reused without a question.
        DEVICE dev(pub, Parm(config));
        ASSERT_TRUE(dev.Dev().Connect("127.0.0.1"));
        ASSERT_TRUE(dev.WaitFor("[SSH] CONNECT", kWait)) << dev.Received();
        EXPECT_EQ(pub.Count("passphrase "), 1);
    }
    {
        // A wrong kept answer is given once; then the user is asked, and
        // two wrong answers end the login.
        pub.Cache.Entries.begin()->second.second = "wrong";
        pub.Answers = {"bad one"};
        DEVICE dev(pub, Parm(config));
        ASSERT_TRUE(dev.Dev().Connect("127.0.0.1"));
        ASSERT_TRUE(dev.WaitFor("[SSH] FAIL: ", kWait)) << dev.Received();
        EXPECT_EQ(pub.Count("passphrase "), 2);
        EXPECT_NE(dev.Received().find("Permission denied"), std::string::npos) << dev.Received();
        EXPECT_EQ(dev.Dev().QueryOnline(), 0);
    }
}

TEST_F(Welkam, ShellBytesExitAndOffline)
{
    std::string const config = gServer->ClientConfig("plain.cfg", "id_plain");
    gServer->TrustHostKey();
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    testutil::WriteFile(gServer->File("bytes"), all);
    SCRIPTEDPUBLIC pub;
    DEVICE dev(pub, Parm(config));
    ASSERT_EQ(dev.Dev().QueryOnline(), 0);
    ASSERT_TRUE(dev.Dev().Connect("127.0.0.1"));
    ASSERT_TRUE(dev.WaitFor("[SSH] CONNECT 127.0.0.1\r\n", kWait)) << dev.Received();
    EXPECT_EQ(dev.Received().find("[SSH] CONNECT"), 0u) << "the status line comes first";
    EXPECT_EQ(dev.Dev().QueryOnline(), 1);
    EXPECT_EQ(dev.Command("EXECRAW TEST", 128), "##OK##");
    ASSERT_TRUE(dev.Write("stty raw -echo; echo STA''RT; cat " + gServer->File("bytes") + "; echo EN''D\r"));
    ASSERT_TRUE(dev.WaitFor("END", kWait)) << dev.Received();
    std::string got = dev.Received();
    size_t start = got.find("START");
    ASSERT_NE(start, std::string::npos);
    EXPECT_NE(got.find(all, start), std::string::npos) << "all 256 byte values arrive unchanged";
    ASSERT_TRUE(dev.Write("exit 3\r"));
    EXPECT_TRUE(dev.WaitOnline(0, kWait));
    EXPECT_EQ(dev.Command("EXECRAW TEST", 128), "##ERROR##");
    EXPECT_EQ(dev.Received().find("[SSH] FAIL"), std::string::npos);
}

TEST_F(Welkam, ExecChannels)
{
    std::string const config = gServer->ClientConfig("plain.cfg", "id_plain");
    gServer->TrustHostKey();
    SCRIPTEDPUBLIC pub;
    DEVICE dev(pub, Parm(config));
    EXPECT_EQ(dev.Command("EXECRAW Open cat"), "##ERROR##") << "no channel before the connection";
    ASSERT_TRUE(dev.Dev().Connect("127.0.0.1"));
    ASSERT_TRUE(dev.WaitFor("[SSH] CONNECT", kWait)) << dev.Received();
    ASSERT_TRUE(dev.WaitFor("$", kWait) || dev.WaitFor("#", 100));
    for (size_t size : {size_t(0), size_t(1), size_t(65537)}) {
        SCOPED_TRACE(size);
        std::string data(size, '\0');
        for (size_t i = 0; i < size; ++i)
            data[i] = static_cast<char>((i * 131 + 7) & 0xFF);
        size_t const mark = dev.ReceivedSize();
        std::string n = dev.Command("EXECRAW Open head -c " + std::to_string(size) + "; echo noise >&2");
        ASSERT_GT(atoi(n.c_str()), 0) << n;
        EXPECT_EQ(dev.Command("EXECRAW Open cat"), "##ERROR##") << "one channel at a time";
        ASSERT_TRUE(dev.Write(data) || size == 0);
        bool ended = false;
        for (int i = 0; i < 2000 && !ended; ++i) {
            ended = dev.Command("EXECRAW IsConnected " + n) == "0";
            if (!ended)
                usleep(10000);
        }
        ASSERT_TRUE(ended);
        EXPECT_EQ(dev.Received().substr(mark), data);
        EXPECT_EQ(dev.Command("EXECRAW Close " + n), "##OK##");
    }
    // The shell is back.
    size_t const mark = dev.ReceivedSize();
    ASSERT_TRUE(dev.Write("echo back$((40+2))\r"));
    EXPECT_TRUE(dev.WaitFor("back42", kWait, mark)) << dev.Received().substr(mark);
    EXPECT_EQ(dev.Received().find("noise"), std::string::npos) << "standard error stays out of the stream";
}

TEST_F(Welkam, HostileTargetsAndMissingSsh)
{
    std::string const config = gServer->ClientConfig("plain.cfg", "id_plain");
    std::string const touched = gServer->File("touched");
    SCRIPTEDPUBLIC pub;
    {
        DEVICE dev(pub, Parm(config));
        EXPECT_FALSE(dev.Dev().Connect(("-oProxyCommand=touch " + touched).c_str()));
        EXPECT_FALSE(dev.Dev().Connect("-oProxyCommand=true@127.0.0.1"));
        EXPECT_TRUE(dev.WaitFor("[SSH] FAIL: ", kWait));
        usleep(200000);
        struct stat st;
        EXPECT_NE(stat(touched.c_str(), &st), 0) << "no command ran";
    }
    {
        // A server that drops the connection during the login.
        int listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
        listen(listener, 1);
        std::thread dropper([listener] {
            int c = accept(listener, nullptr, nullptr);
            char const banner[] = "SSH-2.0-dropper\r\n";
            ssize_t rc = write(c, banner, sizeof banner - 1);
            (void)rc;
            char buf[512];
            rc = read(c, buf, sizeof buf);
            close(c);
        });
        DEVICE dev(pub, "[9]" + std::to_string(ntohs(a.sin_port)) + "|" + config);
        ASSERT_TRUE(dev.Dev().Connect("127.0.0.1"));
        EXPECT_TRUE(dev.WaitFor("[SSH] FAIL: ", kWait)) << dev.Received();
        EXPECT_TRUE(dev.WaitOnline(0, kWait));
        dropper.join();
        close(listener);
    }
    {
        setenv("TESSARO_SSH", "/nonexistent/ssh", 1);
        DEVICE dev(pub, Parm(config));
        ASSERT_TRUE(dev.Dev().Connect("127.0.0.1"));
        EXPECT_TRUE(dev.WaitFor("[SSH] FAIL: tessaro: cannot run /nonexistent/ssh", kWait)) << dev.Received();
        unsetenv("TESSARO_SSH");
    }
}

TEST(WelkamLogin, PasswordAndKeyboardInteractive)
{
    struct CASE {
        char const* What;
        char const* Mode;
        char const* Callinfo; // password given by the dialler
        std::vector<std::string> Answers;
        bool Connects;
        char const* Log; // what the server was given
        char const* Asked;
    } const cases[] = {
        {"password from CALLINFO", "password", "pa|ss%word", {}, true, "password pa|ss%word\n", ""},
        {"CALLINFO used once, then the user", "password", "wrong", {"pa|ss%word"}, true,
         "password wrong\npassword pa|ss%word\n", "userpass [READONLY]"},
        {"refused by the user", "password", "", {}, false, "", "userpass [READONLY]"},
        {"two questions", "kbdint2", "pa|ss%word", {"42"}, true, "answers pa|ss%word|42\n", "ask (tester@127.0.0.1) Code: "},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.What);
        LOGINSERVER server(c.Mode, "pa|ss%word");
        testutil::TempDir dir;
        testutil::WriteFile(dir.file("known_hosts"), server.HostKeyLine());
        testutil::WriteFile(dir.file("cfg"), "Host *\n  UserKnownHostsFile " + dir.file("known_hosts") +
                                                 "\n  GlobalKnownHostsFile /dev/null\n  PubkeyAuthentication no\n"
                                                 "  NumberOfPasswordPrompts 2\n  CheckHostIP no\n");
        SCRIPTEDPUBLIC pub;
        pub.Answers.assign(c.Answers.begin(), c.Answers.end());
        DEVICE dev(pub, "[9]" + std::to_string(server.Port()) + "|" + dir.file("cfg"));
        if (*c.Callinfo) {
            EXPECT_EQ(dev.Command("CALLINFO|tester|" + welkam::EscapeField(c.Callinfo) + "|"), "OK");
        }
        ASSERT_TRUE(dev.Dev().Connect("127.0.0.1"));
        ASSERT_TRUE(dev.WaitFor(c.Connects ? "WELCOME" : "[SSH] FAIL: ", kWait)) << dev.Received();
        if (*c.Log) {
            EXPECT_EQ(server.Answers(), c.Log);
        }
        if (*c.Asked) {
            EXPECT_EQ(pub.Count(c.Asked), 1);
        } else {
            EXPECT_TRUE(pub.Asked.empty());
        }
    }
}

TEST(WelkamLogin, NoSecretInArgumentsEnvironmentOrLog)
{
    std::string const secret = "Zq7-secret-Xv9";
    LOGINSERVER server("password", secret);
    testutil::TempDir dir;
    std::string const log = dir.file("qor.log");
    LOGITARG(("/LOGITHARD:" + log).c_str());
    testutil::WriteFile(dir.file("known_hosts"), server.HostKeyLine());
    testutil::WriteFile(dir.file("cfg"), "Host *\n  UserKnownHostsFile " + dir.file("known_hosts") +
                                             "\n  GlobalKnownHostsFile /dev/null\n  PubkeyAuthentication no\n");
    SCRIPTEDPUBLIC pub;
    DEVICE dev(pub, "[9]" + std::to_string(server.Port()) + "|" + dir.file("cfg"));
    EXPECT_EQ(dev.Command("CALLINFO|tester|" + secret + "|"), "OK");
    ASSERT_TRUE(dev.Dev().Connect("127.0.0.1"));
    ASSERT_TRUE(dev.WaitFor("WELCOME", kWait)) << dev.Received();
    std::vector<pid_t> kids = Descendants(getpid());
    ASSERT_FALSE(kids.empty());
    for (pid_t pid : kids) {
        if (testutil::ReadFile("/proc/" + std::to_string(pid) + "/cmdline").find("loginserver.py") != std::string::npos)
            continue; // the test's server, which was given the password
        for (char const* what : {"cmdline", "environ"}) {
            std::string text = testutil::ReadFile("/proc/" + std::to_string(pid) + "/" + what);
            EXPECT_EQ(text.find(secret), std::string::npos) << what << " of " << pid;
        }
    }
    dev.StopReader();
    LOGITARG("/LOGITCLOSE");
    std::string const text = testutil::ReadFile(log);
    EXPECT_NE(text.find("WELKAM::HandleDeviceCommand CALLINFO"), std::string::npos) << "the log was written";
    EXPECT_EQ(text.find(secret), std::string::npos);
}
