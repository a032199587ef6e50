// Program settings: defaults, loading with its fix-ups and backups, saving
// and the notice after it, the reload another instance asks for, and the
// editor's lock file within one process.
#include "settings_testutil.h"

#include "platform/services/dispatch.h"
#include "tests/velmot/core/assertrecorder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <signal.h>
#include <sys/resource.h>
#include <thread>

using namespace settingstest;

namespace {

class ProgramSettings : public SettingsTest {
protected:
    void SetUp() override
    {
        SettingsTest::SetUp();
        PROGRAMSETTINGS::AdminDefaults(host.admin);
        OPTSBASE::CopyText(host.admin.DefaultOptionsFolder, 260, "Options");
        settings = std::make_unique<PROGRAMSETTINGS>(host);
        settings->Init();
        settings->SetFilename("Standard.qfg");
        MakeFolder(Work("Options"));
    }
    void TearDown() override
    {
        settings.reset();
        plat::PumpPendingTasks();
        SettingsTest::TearDown();
    }
    std::string File() const { return Work("Options/Standard.qfg"); }

    FAKEHOST host;
    std::unique_ptr<PROGRAMSETTINGS> settings;
};

} // namespace

TEST_F(ProgramSettings, DefaultsComeFromTheTableTheAdministratorAndTheEnvironment)
{
    PROGRAMSETTINGSDATA const& d = settings->data;
    EXPECT_STREQ(d.DownloadPath, "$(USERDOWNLOAD)");
    EXPECT_STREQ(d.OptsPath, "Options");
    EXPECT_STREQ(d.EditorExe, "<DEFAULT>");
    EXPECT_STREQ(d.ScrollEditFile, "scrolledit^8.txt");
    EXPECT_EQ(d.BeepMode, 1);
    EXPECT_EQ(d.QuoteWidth, 77);
    EXPECT_EQ(d.MouseModeRight, 2);
    EXPECT_EQ(d.AutoShow, 2);
    EXPECT_EQ(d.BrBufSize, 0);
    EXPECT_EQ(d.WindowTitle[0], 0);
    EXPECT_STREQ(d.Printer, "Standard printer|STD|*");
    EXPECT_EQ(std::wstring(d.PrintHeader), L"%USERNAME%|%DATE% %TIME%|Page %PAGE%");
    EXPECT_STREQ(d.PrinterFont, "10F.Courier New");
    EXPECT_EQ(std::wstring(d.WindowsDefaultFont), L"Courier New  8 X 14 (10.5 pt)");
    EXPECT_STREQ(d.BookSections[0], "Hosts");
    EXPECT_STREQ(d.BookSections[5], "Other");
    ASSERT_EQ(strlen(d.MouseMarkDelimiters), 20u);
    EXPECT_EQ(static_cast<unsigned char>(d.MouseMarkDelimiters[12]), 0xB4);
    EXPECT_EQ(d.MouseMarkDelimiters[19], '>');

    struct CASE {
        char const* shell;
        char const* subsystems;
        char const* expectedShell;
        signed char expectedFlags[6];
    };
    CASE const cases[] = {
        {"/bin/sh", "11100000.11100000", "/bin/sh", {1, 1, 1, 1, 1, 1}},
        {"/no/such/shell", "10100000.01000000", "<DEFAULT>", {1, 0, 1, 0, 1, 0}},
        {nullptr, "1", "<DEFAULT>", {1, 0, 0, 0, 0, 0}},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.subsystems);
        if (c.shell)
            setenv("SHELL", c.shell, 1);
        else
            unsetenv("SHELL");
        OPTSBASE::CopyText(host.admin.SetupSubsystems, sizeof host.admin.SetupSubsystems, c.subsystems);
        settings->Init();
        EXPECT_STREQ(settings->data.ShellExe, c.expectedShell);
        signed char got[6] = {d.SubsysCorvane,    d.SubsysEmuIBM,  d.SubsysEmuMisc,
                              d.SubsysDevNetwork, d.SubsysHalbrin, d.SubsysDevMisc};
        EXPECT_EQ(memcmp(got, c.expectedFlags, 6), 0);
    }
}

TEST_F(ProgramSettings, AnOlderFileIsUpgradedAndKeptAsABackup)
{
    std::string original = testutil::ReadFile(Fixture("old621.qfg"));
    testutil::WriteFile(File(), original);
    ASSERT_EQ(settings->Load(), 1);
    PROGRAMSETTINGSDATA const& d = settings->data;
    EXPECT_EQ(d.MouseModeLeft, 3);
    EXPECT_EQ(d.ClipAutoCopy, 1);
    EXPECT_EQ(d.DisconCloseWin, 1);
    EXPECT_EQ(d.PrinterFontsize, 10);
    EXPECT_STREQ(d.PrinterFont, "10F.Courier New");
    EXPECT_EQ(d.ScrollbackLines, 64000);
    EXPECT_EQ(std::wstring(d.WindowTitle), L"%CUSTOMTITLE% - %QORORHOST% %OPTIONS%");
    EXPECT_STREQ(d.BookSections[2], "Friends");
    EXPECT_EQ(d.BrBufSize, 0);
    EXPECT_EQ(testutil::ReadFile(File() + ".v6.21.bak"), original);

    // A backup is made once and never overwritten.
    testutil::WriteFile(File(), "QOR6.21\nMouseModeLeft=0\n");
    ASSERT_EQ(settings->Load(), 1);
    EXPECT_EQ(testutil::ReadFile(File() + ".v6.21.bak"), original);
}

TEST_F(ProgramSettings, TheHeaderDecidesWhatIsReadAndWhichFixUpsApply)
{
    struct CASE {
        char const* header;
        char const* body;
        int mouseLeft;
        int clipAutoCopy;
        char const* backup;
    };
    CASE const cases[] = {
        {"QOR6.44 // PROGRAMSETTINGS", "MouseModeLeft=2\nClipAutoCopy=no", 2, 0, nullptr},
        {"QOR6.21", "MouseModeLeft=2\nClipAutoCopy=no", 3, 1, ".v6.21.bak"},
        {"QOR6.21", "MouseModeLeft=1\nClipAutoCopy=no", 1, 1, ".v6.21.bak"},
        {"QOR6.27", "MouseModeLeft=2\nClipAutoCopy=no", 2, 1, ".v6.27.bak"},
        {"QOR6.27c", "MouseModeLeft=2\nClipAutoCopy=no", 2, 0, ".v6.27c.bak"},
        {"QOR5.50", "MouseModeLeft=2\nClipAutoCopy=no", 3, 1, nullptr},
        // Not read: a blank after "QOR", too old, not an option file. The
        // fix-ups of an unknown version still apply to the defaults.
        {"QOR 6.44", "MouseModeLeft=2\nClipAutoCopy=no\nBeepMax=9", 0, 1, nullptr},
        {"QOR2.50", "MouseModeLeft=2\nClipAutoCopy=no\nBeepMax=9", 0, 1, nullptr},
        {"[settings]", "MouseModeLeft=2\nClipAutoCopy=no\nBeepMax=9", 0, 1, nullptr},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.header);
        for (std::string const& name : FilesStartingWith(Work("Options"), "Standard.qfg"))
            unlink(Work("Options/" + name).c_str());
        settings->Init();
        testutil::WriteFile(File(), std::string(c.header) + "\n" + c.body + "\n");
        EXPECT_EQ(settings->Load(), 1);
        EXPECT_EQ(settings->data.MouseModeLeft, c.mouseLeft);
        EXPECT_EQ(settings->data.ClipAutoCopy, c.clipAutoCopy);
        EXPECT_EQ(settings->data.BeepMax, 5);
        std::vector<std::string> backups = FilesStartingWith(Work("Options"), "Standard.qfg.v");
        if (c.backup) {
            EXPECT_EQ(backups, std::vector<std::string>{std::string("Standard.qfg") + c.backup});
        } else {
            EXPECT_TRUE(backups.empty());
        }
    }
}

TEST_F(ProgramSettings, AMissingFileKeepsTheValuesAndStillMakesTheFolders)
{
    OPTSBASE::CopyText(settings->data.CapturePath, 260, "logs/capture");
    settings->data.BeepMax = 9;
    EXPECT_EQ(settings->Load(), 0);
    EXPECT_EQ(settings->data.BeepMax, 9);
    EXPECT_TRUE(FileExists(Work("logs/capture")));
    EXPECT_EQ(settings->CreateConfigDirectory("logs/capture"), 0);
    EXPECT_EQ(settings->CreateConfigDirectory("more"), 1);
    EXPECT_TRUE(FileExists(Work("more")));

    // Folders outside the data folder (the user's downloads, desktop, logs)
    // are left to the part that writes there.
    std::string const outside = testing::TempDir() + "/outside-" + std::to_string(getpid());
    OPTSBASE::CopyText(settings->data.DownloadPath, 260, outside.c_str());
    OPTSBASE::CopyText(settings->data.DownloadAltPath, 260, "$(USERDESKTOP)/x");
    EXPECT_EQ(settings->Load(), 0);
    EXPECT_EQ(settings->CreateConfigDirectory(outside.c_str()), 0);
    EXPECT_FALSE(FileExists(outside));
    EXPECT_FALSE(FileExists(FILENAME("$(USERDESKTOP)/x").Buf()));
}

TEST_F(ProgramSettings, AReloadKeepsWhatTheFileDoesNotName)
{
    testutil::WriteFile(File(), "QOR6.44\nBeepMax=9\n");
    ASSERT_EQ(settings->Load(), 1);
    settings->data.BeepTime = 77;
    settings->data.BeepMax = 1;
    ASSERT_EQ(settings->Load(), 1);
    EXPECT_EQ(settings->data.BeepMax, 9);
    EXPECT_EQ(settings->data.BeepTime, 77);
}

TEST_F(ProgramSettings, SaveTellsTheOthersOnlyAfterTheFileIsWritten)
{
    settings->data.BeepMax = 42;
    ASSERT_EQ(settings->Save(), 1);
    ASSERT_EQ(host.sent.size(), 1u);
    EXPECT_EQ(host.sent[0], std::make_tuple(0u, 0x20001u, 1u));
    std::string text = testutil::ReadFile(File());
    EXPECT_EQ(text.compare(0, 28, "QOR6.44 // PROGRAMSETTINGS\n\n"), 0);
    EXPECT_NE(text.find("\nBeepMax=42\n"), std::string::npos);

    PROGRAMSETTINGS other(host);
    other.Init();
    other.SetFilename("Standard.qfg");
    ASSERT_EQ(other.Load(), 1);
    EXPECT_EQ(other.data.BeepMax, 42);
    // Loading applies its fix-ups (the window title) and limits (the
    // default 0 of BrBufSize lies below 64); after them the file and the
    // block agree.
    EXPECT_EQ(other.data.BrBufSize, 64);
    ASSERT_EQ(settings->Load(), 1);
    EXPECT_EQ(memcmp(&other.data, &settings->data, sizeof other.data), 0);

    // A file that cannot be written: an error box, no notice.
    host.sent.clear();
    EXPECT_EQ(settings->Save("no/such/folder/x.qfg"), 0);
    EXPECT_TRUE(host.sent.empty());
    ASSERT_EQ(host.fileErrors.size(), 1u);
    EXPECT_NE(host.fileErrors[0].find("no/such/folder/x.qfg"), std::string::npos);
}

TEST_F(ProgramSettings, AFullDiskLeavesTheOldFileAndTellsNobody)
{
    testutil::WriteFile(File(), "QOR6.44\nBeepMax=7\n");
    int rc = testutil::RunInChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{1024, 1024};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 3;
        if (settings->Save() != 0)
            return 1;
        return host.sent.empty() && host.fileErrors.size() == 1 ? 0 : 2;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(testutil::ReadFile(File()), "QOR6.44\nBeepMax=7\n");
    EXPECT_TRUE(FilesStartingWith(Work("Options"), ".Standard.qfg.tmp").empty());
}

TEST_F(ProgramSettings, AnotherInstancesSaveIsReloadedOnTheMainThread)
{
    testutil::WriteFile(File(), "QOR6.44\nBeepMax=9\n");
    std::thread other([this] { settings->IpcEvent(1, 1); });
    other.join();
    EXPECT_EQ(settings->data.BeepMax, 5); // not on the caller's thread
    EXPECT_EQ(host.applied, 0);
    plat::PumpPendingTasks();
    EXPECT_EQ(settings->data.BeepMax, 9);
    EXPECT_EQ(host.applied, 1);

    settings->IpcEvent(2, 0); // not ours
    plat::PumpPendingTasks();
    EXPECT_EQ(host.applied, 1);

    // A notice for settings that are gone by the time it runs does nothing.
    settings->IpcEvent(1, 1);
    settings.reset();
    plat::PumpPendingTasks();
    EXPECT_EQ(host.applied, 1);
}

TEST_F(ProgramSettings, TheReloadWaitsWhileTheEditorHoldsTheBlock)
{
    testutil::WriteFile(File(), "QOR6.44\nBeepMax=9\n");
    ASSERT_TRUE(settings->LockFile(true));
    settings->data.BeepMax = 33; // the editor's change
    settings->IpcEvent(1, 1);
    plat::PumpPendingTasks();
    EXPECT_EQ(settings->data.BeepMax, 33);
    EXPECT_TRUE(settings->ReloadPending());
    EXPECT_EQ(host.applied, 0);
    ASSERT_TRUE(settings->LockFile(false));
    EXPECT_EQ(settings->data.BeepMax, 9);
    EXPECT_FALSE(settings->ReloadPending());
    EXPECT_EQ(host.applied, 1);
}

TEST_F(ProgramSettings, OneEditorAtATime)
{
    FAKEHOST otherHost = host;
    PROGRAMSETTINGS other(otherHost);
    other.Init();
    other.SetFilename("Standard.qfg");
    std::string lock = File() + ".flock";

    ASSERT_TRUE(settings->LockFile(true));
    EXPECT_TRUE(FileExists(lock));
    EXPECT_FALSE(other.LockFile(true));
    ASSERT_TRUE(settings->LockFile(false));
    EXPECT_FALSE(FileExists(lock));
    EXPECT_TRUE(other.LockFile(true));

    testutil::ASSERTRECORDER recorder;
    EXPECT_FALSE(other.LockFile(true));
    std::vector<testutil::ASSERTION> seen = recorder.Take();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].Condition, "(this->fFileLock!=0) != (onoff!=0)");
    EXPECT_TRUE(other.LockFile(false));
}
