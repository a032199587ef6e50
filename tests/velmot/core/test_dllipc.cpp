// Bundles loaded by name and texts between running instances.
#include "velmot/core/dllinterface.h"
#include "velmot/core/ipcbroadcast.h"
#include "platform/services/dispatch.h"
#include "tests/velmot/core/sys_testutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using testutil::ReadFile;
using testutil::TempDir;

// Looked up through "<self>": the test program exports its symbols.
extern "C" __attribute__((visibility("default"), used)) int sys_self_marker()
{
    return 4711;
}

namespace {

using IntroFn = int (*)(int);

class Bundles : public systest::SysTest {
protected:
    void SetUp() override
    {
        SysTest::SetUp();
        char const* stage = getenv("QOR_STAGE_DIR");
        old_ = stage ? stage : "";
        setenv("QOR_STAGE_DIR", SYS_TEST_STAGE, 1);
    }
    void TearDown() override
    {
        setenv("QOR_STAGE_DIR", old_.c_str(), 1);
        SysTest::TearDown();
    }
    std::string old_;
};

} // namespace

TEST_F(Bundles, PlugInsAreFoundAndCalledByName)
{
    struct Case {
        char const* file;
        char const* function;
        bool loads;
        bool found;
    };
    std::vector<Case> const cases = {
        {"SYSPLUGIN.DLL", "SYSPLUGIN_Intro", true, true},
        {"sysplugin.dll", "SYSPLUGIN_Intro", true, true},
        {"C:\\Program Files\\Qor\\sysplugin.dll", "SYSPLUGIN_Intro", true, true}, // only the file name counts
        {"/elsewhere/sysplugin.so", "SYSPLUGIN_Intro", true, true},
        {"sysplugin.so", nullptr, true, true},
        {"sysplugin.so", "missing_function", true, false}, // loaded all the same
        {"sysplugin.bundle", "SYSPLUGIN_Intro", false, false},
        {"missing.dll", nullptr, false, false},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.file);
        DLLINTERFACE dll(c.file, c.function);
        EXPECT_EQ(c.loads, dll.IsLoaded());
        EXPECT_EQ(c.loads && c.found, dll.Load(c.file, c.function));
        if (c.loads && c.function && c.found) {
            auto intro = reinterpret_cast<IntroFn>(dll.GetFunction(nullptr));
            ASSERT_NE(nullptr, intro);
            EXPECT_EQ(3, intro(1724));
            EXPECT_STREQ("sysplugin.so", dll.ModuleName());
        }
        if (c.loads && !c.found) {
            EXPECT_EQ(nullptr, dll.GetFunction(nullptr));
        }
    }
}

TEST_F(Bundles, FunctionsOfTheBundleAndOfTheProgram)
{
    DLLINTERFACE dll;
    EXPECT_EQ(nullptr, dll.GetFunction("sysplugin_twice")); // nothing loaded
    ASSERT_TRUE(dll.Load("sysplugin.dll"));
    auto twice = reinterpret_cast<IntroFn>(dll.GetFunction("sysplugin_twice"));
    ASSERT_NE(nullptr, twice);
    EXPECT_EQ(42, twice(21));
    EXPECT_EQ(nullptr, dll.GetFunction("sys_self_marker"));

    // A failed load says so, and keeps the bundle held before with its
    // default function.
    ASSERT_TRUE(dll.Load("sysplugin.dll", "SYSPLUGIN_Intro"));
    void* intro = dll.GetFunction(nullptr);
    EXPECT_FALSE(dll.Load("missing.dll"));
    EXPECT_FALSE(dll.Load("missing.dll", "sysplugin_twice"));
    EXPECT_EQ(intro, dll.GetFunction(nullptr));
    EXPECT_NE(nullptr, dll.GetFunction("sysplugin_twice"));
    EXPECT_STREQ("sysplugin.so", dll.ModuleName());

    // The default function can be set by hand.
    int (*own)(int) = [](int x) { return x + 1; };
    dll.SetFunction(std::string(300, 'n').c_str(), reinterpret_cast<void*>(own));
    EXPECT_EQ(reinterpret_cast<void*>(own), dll.GetFunction(nullptr));

    dll.Unload();
    EXPECT_EQ(nullptr, dll.GetFunction(nullptr));
    EXPECT_EQ(nullptr, dll.GetFunction("sysplugin_twice"));
    EXPECT_STREQ("", dll.ModuleName());

    DLLINTERFACE self("<SELF>", "sys_self_marker");
    ASSERT_TRUE(self.IsLoaded());
    auto marker = reinterpret_cast<int (*)()>(self.GetFunction(nullptr));
    ASSERT_NE(nullptr, marker);
    EXPECT_EQ(4711, marker());
}

namespace {

class RECEIVER : public IPCBROADCAST {
public:
    void IpcNotificationCallback(char const* text) override { texts.emplace_back(text); }
    std::vector<std::string> texts;
};

// Runs the main-thread tasks until the receiver has `count` texts.
bool PumpUntil(RECEIVER const& r, size_t count, int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        plat::PumpPendingTasks();
        if (r.texts.size() >= count)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class Ipc : public systest::SysTest {};

} // namespace

TEST_F(Ipc, ATextPostedByOneInstanceReachesEveryInstance)
{
    TempDir dir;
    pid_t a = systest::StartProbe({"listen", dir.file("a"), "10000"});
    pid_t b = systest::StartProbe({"listen", dir.file("b"), "10000"});
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    ASSERT_TRUE(systest::WaitForText(dir.file("a"), "ready\n"));
    ASSERT_TRUE(systest::WaitForText(dir.file("b"), "ready\n"));

    RECEIVER me;
    ASSERT_TRUE(me.IsListening());
    std::string text = "QORIPC 1 0000002a 00000000 00000000 \"x\" \xe4";
    me.IpcPostEvent(text.c_str());
    EXPECT_TRUE(PumpUntil(me, 1, 5000));
    ASSERT_EQ(1u, me.texts.size()); // the sender hears itself too
    EXPECT_EQ(text, me.texts[0]);

    EXPECT_EQ(0, systest::WaitProbe(a));
    EXPECT_EQ(0, systest::WaitProbe(b));
    EXPECT_EQ("ready\ngot " + text + "\n", ReadFile(dir.file("a")));
    EXPECT_EQ("ready\ngot " + text + "\n", ReadFile(dir.file("b")));
}

TEST_F(Ipc, TextsBeyondTheLimitAreNotSent)
{
    RECEIVER me;
    ASSERT_TRUE(me.IsListening());
    me.IpcPostEvent(std::string(IPCBROADCAST::MAXTEXT + 1, 'x').c_str());
    me.IpcPostEvent("");
    me.IpcPostEvent(nullptr);
    std::string longest(IPCBROADCAST::MAXTEXT, 'y');
    me.IpcPostEvent(longest.c_str());
    EXPECT_TRUE(PumpUntil(me, 1, 5000));
    PumpUntil(me, 2, 200); // nothing else may come
    ASSERT_EQ(1u, me.texts.size());
    EXPECT_EQ(longest, me.texts[0]);
}

TEST_F(Ipc, NoTextReachesADestroyedReceiver)
{
    auto gone = std::make_unique<RECEIVER>();
    RECEIVER stays;
    gone->IpcPostEvent("one");
    gone.reset(); // its text may be queued already
    EXPECT_TRUE(PumpUntil(stays, 1, 5000));
    EXPECT_EQ(std::vector<std::string>{"one"}, stays.texts);
}
