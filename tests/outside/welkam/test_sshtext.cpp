// The texts of the SSH device and the SSH engine stand-in: CALLINFO, the
// connect target, ssh's questions, the argument vectors and the frames.
#include "outside/tessaro/frames.h"
#include "outside/tessaro/tessaro.h"
#include "outside/welkam/sshtext.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

using namespace welkam;

TEST(SshText, Callinfo)
{
    struct CASE {
        char const* Text;
        bool Ok;
        char const* User;
        char const* Password;
        char const* Key;
        bool Global;
    } const cases[] = {
        {"CALLINFO|bob|pw|id_rsa", true, "bob", "pw", "id_rsa", false},
        {"CALLINFO|bob|a%7Cb%7cc|*", true, "bob", "a|b|c", "", true},
        {"CALLINFO|bob|100%25%7C|*k|ey", true, "bob", "100%|", "k|ey", true},
        {"CALLINFO|bob|50%|", true, "bob", "50%", "", false},  // a lone '%' stays
        {"CALLINFO|bob|%7C|", true, "bob", "|", "", false},
        {"CALLINFO|a%7Cb", true, "a|b", "", "", false},
        {"CALLINFO", true, "", "", "", false},
        {"CALLINFOX|a", false, "", "", "", false},
        {"LOADINIT", false, "", "", "", false},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.Text);
        CALLINFO info;
        ASSERT_EQ(ParseCallinfo(c.Text, &info), c.Ok);
        if (!c.Ok)
            continue;
        EXPECT_EQ(info.User, c.User);
        EXPECT_EQ(info.Password, c.Password);
        EXPECT_EQ(info.KeyFile, c.Key);
        EXPECT_EQ(info.GlobalKey, c.Global);
    }
    // Escaping and unescaping give back any text, "%7C" written literally
    // included.
    for (char const* text : {"a|b", "%7C", "%25", "100%", "|%|", ""})
        EXPECT_EQ(UnescapeField(EscapeField(text)), text);
}

TEST(SshText, Target)
{
    struct CASE {
        char const* Text;
        bool Ok;
        char const* User;
        char const* Host;
        int Port;
    } const cases[] = {
        {"host", true, "", "host", 0},
        {"host:2222", true, "", "host", 2222},
        {"bob@host:22\tMy entry", true, "bob", "host", 22},
        {"[::1]:2222", true, "", "::1", 2222},
        {"fe80::1", true, "", "fe80::1", 0},
        {"a@b@host", true, "a@b", "host", 0},
        {"ssh://bob@host:2200/", true, "bob", "host", 2200},
        {"-oProxyCommand=touch x", false, "", "", 0},
        {"-oProxyCommand=x", false, "", "", 0},
        {"-x@host", false, "", "", 0},
        {"host:0", false, "", "", 0},
        {"host:99999", false, "", "", 0},
        {"host:22x", false, "", "", 0},
        {"[::1", false, "", "", 0},
        {"", false, "", "", 0},
        {"bob@", false, "", "", 0},
        {"ho\x01st", false, "", "", 0},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.Text);
        TARGET t;
        std::string why;
        ASSERT_EQ(ParseTarget(c.Text, &t, &why), c.Ok) << why;
        if (!c.Ok) {
            EXPECT_FALSE(why.empty());
            continue;
        }
        EXPECT_EQ(t.User, c.User);
        EXPECT_EQ(t.Host, c.Host);
        EXPECT_EQ(t.Port, c.Port);
    }
    EXPECT_FALSE(ParseTarget(std::string(300, 'h').c_str(), nullptr, nullptr));
}

TEST(SshText, Questions)
{
    struct CASE {
        char const* Frame;
        PROMPT Kind;
        char const* User;
        char const* Host;
        char const* Key;
    } const cases[] = {
        {"\nThe authenticity of host '[127.0.0.1]:2222 ([127.0.0.1]:2222)' can't be established.\nED25519 key "
         "fingerprint is SHA256:abc.\nAre you sure you want to continue connecting (yes/no/[fingerprint])? ",
         PROMPT::HostKey, "", "", ""},
        {"\nbob@example.org's password: ", PROMPT::Password, "bob", "example.org", ""},
        {"\nEnter passphrase for key '/home/b/.ssh/id it's': ", PROMPT::Passphrase, "", "", "/home/b/.ssh/id it's"},
        {"\nPassword: ", PROMPT::Other, "", "", ""},
        {"\nVerification code: ", PROMPT::Other, "", "", ""},
        {"confirm\nAllow use of key?", PROMPT::HostKey, "", "", ""},
        {"no newline at all", PROMPT::Other, "", "", ""},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.Frame);
        QUESTION q = ParseQuestion(c.Frame);
        EXPECT_EQ(q.Kind, c.Kind);
        EXPECT_EQ(q.User, c.User);
        EXPECT_EQ(q.Host, c.Host);
        EXPECT_EQ(q.KeyFile, c.Key);
    }
    EXPECT_EQ(CleanLine("\x1b[31mHost key \tverification failed.\r"), "[31mHost key  verification failed.");
}

TEST(SshText, ArgumentVectors)
{
    SESSIONARGS a;
    a.Helper = "/stage/bin/vindle";
    a.ControlPath = "/run/x%y/ctl";
    a.Parms = ParseParms("2200|/cfg file");
    ASSERT_TRUE(ParseTarget("bob@host", &a.Target, nullptr));
    a.KeyFiles = {"/k"};
    std::vector<std::string> const want{"/stage/bin/vindle", "-tt", "-o", "ControlMaster=yes", "-S", "/run/x%%y/ctl",
                                        "-p", "2200", "-i", "/k", "-l", "bob", "-F", "/cfg file", "--", "host"};
    EXPECT_EQ(SessionArgs(a), want);
    EXPECT_EQ(FormatParms(a.Parms), "2200|/cfg file");
    std::vector<std::string> exec = ExecArgs("/c", "", "host", "scp -t x");
    EXPECT_EQ(exec.back(), "scp -t x");
    EXPECT_EQ(exec[exec.size() - 3], "--");

    // The engine finds the destination as ssh does and refuses one that is
    // an option.
    struct CASE {
        std::vector<char const*> Args;
        char const* Destination;
        bool Safe;
    } const cases[] = {
        {{"v", "-tt", "-p", "22", "--", "host"}, "host", true},
        {{"v", "-p22", "-lbob", "host", "ls"}, "host", true},
        {{"v", "-oProxyCommand=x", "host"}, "host", true},
        {{"v", "--", "-oProxyCommand=touch f"}, "-oProxyCommand=touch f", false},
        {{"v", "-l", "-oFoo", "host"}, "host", false},
        {{"v", "-tt"}, "", false},
        {{"v", "--", "ssh://-x@host"}, "ssh://-x@host", false},
    };
    for (CASE const& c : cases) {
        std::vector<char*> argv;
        for (char const* s : c.Args)
            argv.push_back(const_cast<char*>(s));
        argv.push_back(nullptr);
        EXPECT_EQ(tessaro::Destination(argv.data(), nullptr), c.Destination);
        EXPECT_EQ(tessaro::ArgumentsSafe(argv.data()), c.Safe) << c.Destination;
    }
}

TEST(SshText, Frames)
{
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    std::string big(tessaro::TESSARO_MAXFRAME, 'x');
    for (std::string const& text : {std::string(), std::string("1yes\n"), big}) {
        ASSERT_TRUE(tessaro::WriteFrame(sv[0], text));
        std::string got;
        ASSERT_TRUE(tessaro::ReadFrame(sv[1], got));
        EXPECT_EQ(got, text);
    }
    EXPECT_FALSE(tessaro::WriteFrame(sv[0], big + "y"));
    unsigned char const huge[4] = {0xFF, 0xFF, 0xFF, 0x7F};
    ASSERT_EQ(write(sv[0], huge, 4), 4);
    std::string got;
    EXPECT_FALSE(tessaro::ReadFrame(sv[1], got)) << "an over-long frame is refused before it is read";
    close(sv[0]);
    EXPECT_FALSE(tessaro::ReadFrame(sv[1], got));
    close(sv[1]);
}
