// Two instances sharing one settings file: the notice text, a save in one
// instance reloaded by the other, and the editor's lock file across
// processes, freed when its holder dies.
#include "settings_testutil.h"

#include "program/settings/settingsipc.h"
#include "platform/services/dispatch.h"
#include "platform/services/spawn.h"
#include "tests/velmot/core/sys_testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

using namespace settingstest;

namespace {

std::string ProbePath()
{
    char const* dir = getenv("QOR_TEST_BIN_DIR");
    return std::string(dir ? dir : ".") + "/settings_probe";
}

using systest::WaitForText;
using systest::WaitProbe;

struct IPCHOST : FAKEHOST {
    SETTINGSIPC* ipc = nullptr;
    void SendIpcMessage(uint32_t msg, uint32_t mp1, uint32_t mp2) override
    {
        FAKEHOST::SendIpcMessage(msg, mp1, mp2);
        if (ipc)
            ipc->SendMessage(msg, mp1, mp2);
    }
};

class TwoInstances : public SettingsTest {
protected:
    void SetUp() override
    {
        SettingsTest::SetUp();
        MakeFolder(Work("Options"));
        testutil::WriteFile(Work("Options/Standard.qfg"), "QOR6.44\nBeepMax=5\n");
        PROGRAMSETTINGS::AdminDefaults(host.admin);
        OPTSBASE::CopyText(host.admin.DefaultOptionsFolder, 260, "Options");
    }
    pid_t Start(char const* mode)
    {
        return plat::SpawnProgram({ProbePath(), mode, Work(), status});
    }

    IPCHOST host;
    std::string status = dir_.file("status.txt");
};

} // namespace

TEST(SettingsNotice, TextAndParsing)
{
    EXPECT_STREQ(SETTINGSIPC::FormatNotice(812, 0, 0x20001, 1).Buf(), "QORIPC 812 00000000 00020001 00000001");
    long pid;
    uint32_t msg;
    uint32_t mp1;
    uint32_t mp2;
    ASSERT_TRUE(SETTINGSIPC::ParseNotice("QORIPC 812 00000000 00020001 0000000a", &pid, &msg, &mp1, &mp2));
    EXPECT_EQ(pid, 812);
    EXPECT_EQ(mp1, 0x20001u);
    EXPECT_EQ(mp2, 10u);
    for (char const* bad : {"QORIPC 812 0 20001", "HELLO 812 0 20001 1", "", "QORIPC x 0 0 0",
                            "QORIPC 1 0 123456789 0"}) {
        EXPECT_FALSE(SETTINGSIPC::ParseNotice(bad, &pid, &msg, &mp1, &mp2)) << bad;
    }
}

TEST_F(TwoInstances, ASaveInOneIsReloadedByTheOther)
{
    int ownNotices = 0;
    SETTINGSIPC ipc([&ownNotices](uint32_t, uint32_t, uint32_t) { ++ownNotices; });
    ASSERT_TRUE(ipc.IsListening());
    host.ipc = &ipc;
    PROGRAMSETTINGS settings(host);
    settings.Init();
    settings.SetFilename("Standard.qfg");
    ASSERT_EQ(settings.Load(), 1);

    pid_t probe = Start("listen");
    ASSERT_GT(probe, 0);
    ASSERT_TRUE(WaitForText(status, "ready 5", 15000));
    settings.data.BeepMax = 42;
    ASSERT_EQ(settings.Save(), 1);
    EXPECT_TRUE(WaitForText(status, "reloaded 42", 15000));
    EXPECT_EQ(WaitProbe(probe), 0);

    // The sender's own notice is not handed back to it.
    for (int i = 0; i < 20; ++i) {
        plat::PumpPendingTasks();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(ownNotices, 0);
}

TEST_F(TwoInstances, TheEditorsLockHoldsAcrossProcessesUntilItsHolderDies)
{
    PROGRAMSETTINGS settings(host);
    settings.Init();
    settings.SetFilename("Standard.qfg");

    pid_t probe = Start("lock");
    ASSERT_GT(probe, 0);
    ASSERT_TRUE(WaitForText(status, "locked"));
    EXPECT_FALSE(settings.LockFile(true));

    // A holder that crashes leaves the file behind, but not the lock.
    kill(probe, SIGKILL);
    plat::WaitChild(probe, true);
    EXPECT_TRUE(FileExists(Work("Options/Standard.qfg.flock")));
    ASSERT_TRUE(settings.LockFile(true));

    pid_t second = Start("lock");
    ASSERT_GT(second, 0);
    EXPECT_EQ(WaitProbe(second), 1);
    EXPECT_TRUE(WaitForText(status, "busy"));
    EXPECT_TRUE(settings.LockFile(false));
}
