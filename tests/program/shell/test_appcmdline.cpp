// The command line of a main window: switch lookup, the connect string,
// argument files, the start-up script, and where a new window opens.
#include "tests/program/shell/appfixture.h"

#include "program/settings/workfolder.h"
#include "program/shell/helper.h"

#include "tests/support/testutil.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace apptest;

namespace {

// The connect string of an argument list.
std::string ConnectOf(APP& app, std::vector<std::string> const& args)
{
    app.ArgList = args;
    char buffer[256] = {};
    app.InitConnectStringArgs(buffer, sizeof buffer);
    return buffer;
}

} // namespace

TEST_F(AppTest, SwitchLookup)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    app->ArgList = {"-O", "file.qor", "/TITLE=x y", "-key value", "/RUN:", "/Q", "-P", "-TELNET"};
    int index = -1;
    EXPECT_STREQ(app->GetArgValue("o", &index), "file.qor") << "the dash form takes the next argument";
    EXPECT_EQ(index, 1);
    EXPECT_STREQ(app->GetArgValue("TITLE"), "x y");
    EXPECT_STREQ(app->GetArgValue("KEY", &index), "value");
    EXPECT_EQ(index, 3);
    EXPECT_EQ(app->GetArgValue("RUN"), nullptr) << "an empty value counts as absent";
    EXPECT_EQ(app->GetArgValue("Q"), nullptr) << "a bare switch has no value";
    EXPECT_STREQ(app->GetArgValue("P"), "-TELNET");
    EXPECT_EQ(app->GetArgValue("TELNET"), nullptr) << "nothing follows";
    EXPECT_EQ(app->TestArg("q"), 1);
    EXPECT_EQ(app->TestArg("TITLE"), 0);
    app->ArgList = {"/O"};
    EXPECT_EQ(app->GetArgValue("O"), nullptr) << "\"/O\" alone has no value";
    char small[4] = "zzz";
    app->ArgList = {"/PF:abcdef"};
    EXPECT_EQ(app->CopyArgString("PF", small, sizeof small), 1);
    EXPECT_STREQ(small, "abc");
    EXPECT_EQ(app->CopyArgString("NONE", small, sizeof small), 0);
    EXPECT_STREQ(small, "") << "the buffer is cleared first";
}

TEST_F(AppTest, ConnectStrings)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    struct {
        std::vector<std::string> args;
        char const* connect;
    } const cases[] = {
        {{"/TELNET:", "host", "2323"}, "^CONNECT=TELNET!host:2323"},
        {{"/TELNET:host", "telnet"}, "^CONNECT=TELNET!host:telnet"},
        {{"/TELNET:host", "nosuchservice"}, "^CONNECT=TELNET!host"},
        {{"-telnet", "box"}, "^CONNECT=TELNET!box"},
        {{"telnet://host/"}, "^CONNECT=TELNET!host"},
        {{"TN3270://mainframe:23"}, "^CONNECT=TELNET!mainframe:23"},
        {{"/TELNET://h"}, "^CONNECT=TELNET!h"},
        {{"/CONNECT:x", "/SSH:u@h"}, "^CONNECT=SSH!u@h"},
        {{"/CONNECT:x", "/SSH:u@h", "ssh://me@box/"}, "^CONNECT=SSH!?@me@box"},
        {{"/SSH://h", "22"}, "^CONNECT=SSH!?@h:22"},
        {{"/SSH:bob@h", "/SSHKEY:id"}, "^CONNECT=SSH!bob::id@h"},
        {{"/SSH:bob:pw@h", "/SSHKEY:id"}, "^CONNECT=SSH!bob:pw::id@h"},
        {{"/EVENT:editqor"}, "^EVENT=8230"},
        {{"/EVENT:8421"}, "^EVENT=8421"},
        {{"/AUTOSTRING:^CALL=x"}, "^CALL=x"},
        {{"/P:My host"}, "^CALL=My host"},
        {{"/CALL:A", "/P:B"}, "^CALL=A"},
        {{"/RLOGIN:h", "513"}, "^CONNECT=RLOGIN!h:513"},
        {{"/Q"}, ""},
    };
    for (auto const& c : cases) {
        std::string joined;
        for (std::string const& a : c.args)
            joined += a + " ";
        EXPECT_EQ(ConnectOf(*app, c.args), c.connect) << joined;
    }
    // The connect string never grows past its buffer.
    app->ArgList = {"/CONNECT:" + std::string(400, 'h'), "99"};
    char buffer[32] = {};
    app->InitConnectStringArgs(buffer, sizeof buffer);
    EXPECT_EQ(strlen(buffer), 31u);
}

TEST_F(AppTest, ArgumentFilesAndTheirLimits)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    testutil::TempDir dir;
    std::string const self = dir.file("self.qsh");
    testutil::WriteFile(self, "/TITLE:from file\n" + self + "\n\n" + dir.file("more.qln") + "\n");
    testutil::WriteFile(dir.file("more.qln"), "/PF:book\n");
    std::vector<std::string> argv{"qor", "", self};
    for (int i = 0; i < 150; ++i)
        argv.push_back("/X" + std::to_string(i));
    std::vector<char*> pointers;
    for (std::string& a : argv)
        pointers.push_back(a.data());
    pointers.push_back(nullptr);
    // The limits are reported; the list stops at them.
    app->InitCommandlineArgs(static_cast<int>(argv.size()), pointers.data());
    EXPECT_FALSE(TakeAssertions().empty());
    EXPECT_EQ(static_cast<int>(app->ArgList.size()), APP::MAXARGS);
    EXPECT_EQ(app->ArgList[0], self) << "the empty argument is skipped";

    argv = {"qor", self};
    pointers.clear();
    for (std::string& a : argv)
        pointers.push_back(a.data());
    pointers.push_back(nullptr);
    app->InitCommandlineArgs(2, pointers.data());
    EXPECT_STREQ(app->GetArgValue("TITLE"), "from file");
    EXPECT_STREQ(app->GetArgValue("PF"), "book") << "a file named in a file is read too, once";
    EXPECT_EQ(std::count(app->ArgList.begin(), app->ArgList.end(), "/TITLE:from file"), 1);

    // A script given as the second argument runs as the start-up script.
    testutil::WriteFile(dir.file("go.qrx"), "say 1\n");
    std::string script = dir.file("go.qrx");
    argv = {"qor", script};
    pointers = {argv[0].data(), argv[1].data(), nullptr};
    app->InitCommandlineArgs(2, pointers.data());
    EXPECT_EQ(app->ArgList[0], "/RUN:" + script);
    char start[782] = {};
    signed char given = 0;
    EXPECT_EQ(app->InitScriptArgs(start, sizeof start, &given), 1);
    EXPECT_EQ(given, 1);
    EXPECT_EQ(std::string(start), script);
}

TEST(StartupPosition, Rules)
{
    std::vector<RECT> const display{RECT{0, 0, 1280, 800}};
    struct {
        SIZE desktop;
        std::string stored, pos;
        int instance;
        POINT at;
        SIZE size;
        bool registry;
    } const cases[] = {
        {{1280, 800}, "", "", 1, {160, 100}, {960, 600}, false},
        {{1920, 1200}, "", "", 1, {448, 216}, {1024, 768}, false},
        {{1280, 800}, "", "", 3, {160 + 48, 100 + 48}, {960, 600}, false},
        {{1280, 800}, "", "", 61, {160, 100}, {960, 600}, false},
        {{1280, 800}, "", "", 22, {160 + 504, 100 + 24}, {960, 600}, false},
        {{1280, 800}, "", "10, 20 ,300,200", 2, {10, 20}, {300, 200}, false},
        {{1280, 800}, "5,-20,400,300;1", "", 1, {5, -5}, {400, 300}, true},
        {{1280, 800}, "5000,5000,400,300;0", "", 1, {20, 40}, {400, 300}, true},
    };
    for (auto const& c : cases) {
        startuppos::INPUT in;
        in.Desktop = c.desktop;
        in.Stored = c.stored;
        in.Pos = c.pos;
        in.Instance = c.instance;
        in.Displays = display;
        if (c.desktop.cx == 1920)
            in.Displays = {RECT{0, 0, 1920, 1200}};
        startuppos::RESULT const r = startuppos::Compute(in);
        std::string const what = c.stored + "|" + c.pos + "|" + std::to_string(c.instance);
        EXPECT_EQ(r.Position.x, c.at.x) << what;
        EXPECT_EQ(r.Position.y, c.at.y) << what;
        EXPECT_EQ(r.Size.cx, c.size.cx) << what;
        EXPECT_EQ(r.Size.cy, c.size.cy) << what;
        EXPECT_EQ(r.FromRegistry, c.registry) << what;
    }
    startuppos::INPUT bad;
    bad.Desktop = SIZE{1280, 800};
    bad.Displays = display;
    bad.Pos = "7,x";
    startuppos::RESULT const r = startuppos::Compute(bad);
    EXPECT_EQ(r.Size.cx, 960) << "a malformed position leaves width and height to the rule";
    EXPECT_EQ(r.Position.x, 160);
}

TEST_F(AppTest, SwitchesOfMissingPartsAreAnswered)
{
    TESTAPP* app = Open("/Q /RLOGIN:host /RUN:script /O:Standard.qor");
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->NorunCode(), 0) << "the window runs all the same";
    ASSERT_EQ(app->UnavailableSwitches().size(), 2u);
    EXPECT_NE(app->UnavailableSwitches()[0].find("/RLOGIN is not available yet"), std::string::npos);
    EXPECT_NE(app->UnavailableSwitches()[1].find("/RUN is not available yet"), std::string::npos);
    SESSION* s = app->GetCurrentSession();
    EXPECT_TRUE(Pump([&] { return Shows(*s, "/RUN is not available yet"); }, 5000)) << "the tab says so";
    TESTAPP* plain = Open("/Q");
    ASSERT_NE(plain, nullptr);
    EXPECT_TRUE(plain->UnavailableSwitches().empty());
}

TEST_F(AppTest, TelnetSwitchesOpenATelnetSession)
{
    // A listener of the test's own on 127.0.0.1: each form of the switch
    // reaches it through the Telnet device.
    int const listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    std::string const port = std::to_string(ntohs(addr.sin_port));
    for (std::string const& args : {"/Q /TELNET:127.0.0.1:" + port, "/Q telnet://127.0.0.1:" + port + "/",
                                    "/Q -telnet 127.0.0.1 " + port}) {
        SCOPED_TRACE(args);
        TESTAPP* app = Open(args.c_str());
        ASSERT_NE(app, nullptr);
        EXPECT_TRUE(app->UnavailableSwitches().empty());
        SESSION* s = app->GetCurrentSession();
        ASSERT_NE(s, nullptr);
        int peer = -1;
        EXPECT_TRUE(Pump([&] {
            if (peer < 0)
                peer = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            return peer >= 0 && s->CommLayer.QueryOnline() == 1;
        }, 20000));
        EXPECT_EQ(s->CommLayer.QueryIDFromCurrent(), 3);
        EXPECT_TRUE(Pump([&] { return Shows(*s, "[TELNET] CONNECT 127.0.0.1"); }, 10000));
        if (peer >= 0)
            close(peer);
        EXPECT_TRUE(Pump([&] { return s->CommLayer.QueryOnline() == 0; }, 10000)) << "the host went";
    }
    close(listener);
}

TEST_F(AppTest, SshSwitchesOpenAnSshSession)
{
    // Port 1 on this machine takes no connection: the session tells so.
    for (char const* args : {"/Q /SSH:bob:pa^(3A)ss%25x@127.0.0.1:1", "/Q ssh://alice@127.0.0.1:1/",
                             "/Q /SSHKEY:id_none /SSH:carol@127.0.0.1:1"}) {
        SCOPED_TRACE(args);
        TESTAPP* app = Open(args);
        ASSERT_NE(app, nullptr);
        EXPECT_TRUE(app->UnavailableSwitches().empty());
        SESSION* s = app->GetCurrentSession();
        ASSERT_NE(s, nullptr);
        EXPECT_TRUE(Pump([&] { return s->CommLayer.QueryIDFromCurrent() == 9; }, 10000));
        EXPECT_TRUE(Pump([&] { return Shows(*s, "[SSH] FAIL: "); }, 20000));
        EXPECT_EQ(s->CommLayer.QueryOnline(), 0);
    }
    EXPECT_EQ(HELPER::RedactLogin("/SSH:bob:secret@host"), "/SSH:bob:****@host");
    EXPECT_EQ(HELPER::RedactLogin("^CONNECT=SSH!bob:secret:id_rsa@host:22"), "^CONNECT=SSH!bob:****:id_rsa@host:22");
    EXPECT_EQ(HELPER::RedactLogin("/SSH:bob@host:22"), "/SSH:bob@host:22");
}
