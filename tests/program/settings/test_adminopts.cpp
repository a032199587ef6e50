// The administrator files, the choice and the check of the data folder,
// its creation from the new-user template, relocation, the first use by a
// new user and the disabled menu commands.
#include "settings_testutil.h"

#include "platform/services/folders.h"
#include "velmot/core/registry.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

using namespace settingstest;

namespace {

class Admin : public SettingsTest {
protected:
    void SetUp() override
    {
        SettingsTest::SetUp();
        resources_ = dir_.file("res");
        MakeFolder(resources_);
        SetSettingsResourcePath(resources_.c_str());
        userFile_ = FILENAME("$(USERHOME)/.qor6_admin.ini").Buf();
        unlink(userFile_.c_str());
    }
    void TearDown() override
    {
        unlink(userFile_.c_str());
        SettingsTest::TearDown();
    }
    void Shared(std::string const& text) const { testutil::WriteFile(resources_ + "/admin.ini", text); }
    void User(std::string const& text) const { testutil::WriteFile(userFile_, text); }
    REGISTRY AppKey() const { return REGISTRY(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", "QOR6", REGISTRY::READWRITE); }
    REGISTRY SetupKey() const { return REGISTRY(REGISTRY::CURRENT_USER, "Software\\Tarvo", "QOR6", REGISTRY::READWRITE); }
    // The staged resources, whose template the data folder is made from.
    void UseStagedResources() const { SetSettingsResourcePath(nullptr); }

    FAKEHOST host;
    std::string resources_;
    std::string userFile_;
};

} // namespace

TEST_F(Admin, WithoutFilesTheDefaultsHold)
{
    PROGRAMSETTINGS settings(host);
    settings.LoadAdminOpts(false);
    ADMINOPTS const& a = host.admin;
    EXPECT_STREQ(a.NewUserProfilePrefix, "newuserprofile");
    EXPECT_STREQ(a.DefaultProgramSettings, "$(QORFILES)/Options\\Standard.qfg");
    EXPECT_STREQ(a.DefaultLogFolder, "$(USERLOGS)/QOR");
    EXPECT_STREQ(a.DefaultSshFolder, "$(QORFILES)/ssh");
    EXPECT_EQ(a.HostDirectoryMax, 1024);
    EXPECT_EQ(a.ConfigFolderType, 0);
    EXPECT_STREQ(WORKDIR::GetCurrent().Buf(), (plat::FolderPath(plat::Folder::AppSupport) + "qor").c_str())
        << "the program's own folder in the user's data folder";
    EXPECT_FALSE(settings.DisableMenuItems(9999));
    EXPECT_STREQ(FILENAME("%ALLUSERPROFILE%\\QOR").Buf(),
                 (plat::FolderPath(plat::Folder::AppSupportLocal, false) + "QOR").c_str());
    DWORD seen = 0;
    EXPECT_FALSE(SetupKey().Read("SetupBeenHereB4", &seen));
    // The installation is never written; the snapshot is the process's own.
    EXPECT_FALSE(FileExists(resources_ + "/admin.ini"));
    std::string snapshot = settings.AdminSnapshotFilename().Buf();
    EXPECT_EQ(snapshot.compare(0, plat::FolderPath(plat::Folder::Runtime).size(), plat::FolderPath(plat::Folder::Runtime)), 0);
    EXPECT_TRUE(FileExists(snapshot));

    PROGRAMSETTINGS second(host);
    second.LoadAdminOpts(false);
    EXPECT_STRNE(second.AdminSnapshotFilename().Buf(), snapshot.c_str());
    {
        PROGRAMSETTINGS gone(host);
        gone.LoadAdminOpts(false);
    }
    EXPECT_TRUE(FileExists(snapshot));
}

// A data folder that an older release made in the home folder stays in use
// while it holds the user's data; a folder of that name without it does not.
TEST_F(Admin, TheOlderDataFolderInTheHomeFolderIsKept)
{
    std::string const older = plat::FolderPath(plat::Folder::Home) + "QOR6 Files";
    MakeFolder(older);
    {
        PROGRAMSETTINGS settings(host);
        settings.LoadAdminOpts(false);
        EXPECT_STREQ(WORKDIR::GetCurrent().Buf(), (plat::FolderPath(plat::Folder::AppSupport) + "qor").c_str());
    }
    testutil::WriteFile(older + "/.QorFiles", "QOR 6.44\n");
    PROGRAMSETTINGS settings(host);
    settings.LoadAdminOpts(false);
    EXPECT_STREQ(WORKDIR::GetCurrent().Buf(), older.c_str());
    std::filesystem::remove_all(older);
}

// Snapshots of processes that ended without removing theirs go at the
// next start; a running process's stays.
TEST_F(Admin, SnapshotsOfEndedProcessesAreRemoved)
{
    std::string const runtime = plat::FolderPath(plat::Folder::Runtime);
    ASSERT_FALSE(runtime.empty());
    pid_t const ended = fork();
    if (ended == 0)
        _exit(0);
    waitpid(ended, nullptr, 0);
    std::string const stale = runtime + "admin." + std::to_string(ended) + ".1.ini.tmp";
    std::string const living = runtime + "admin." + std::to_string(getppid()) + ".1.ini.tmp";
    std::string const other = runtime + "admin.notes";
    for (std::string const& f : {stale, living, other})
        testutil::WriteFile(f, "x");
    PROGRAMSETTINGS settings(host);
    settings.LoadAdminOpts(false);
    EXPECT_FALSE(FileExists(stale));
    EXPECT_TRUE(FileExists(living));
    EXPECT_TRUE(FileExists(other));
    unlink(living.c_str());
    unlink(other.c_str());
}

TEST_F(Admin, TheSharedFileWrittenByHand)
{
    // Without the header line the file is read from its first line.
    Shared("// the administrator's own file\n"
           "ConfigDataFolder=\"" + dir_.file("shared-data") + "\"\n"
           "DisableLogging=yes\n"
           "DisableMenuItems=\" 1203, 1204;1300,9999,0\"\n"
           "HostDirectoryMax=9000\n"
           "DisableRegistryConfigFolder=yes\n"
           "SetupCreatedConfig=yes\n"
           "SharedInstall=yes\n");
    AppKey().Write("UserConfigFolder", dir_.file("chosen").c_str());
    PROGRAMSETTINGS settings(host);
    settings.LoadAdminOpts(false);
    ADMINOPTS const& a = host.admin;
    EXPECT_EQ(a.DisableLogging, 1);
    EXPECT_EQ(a.HostDirectoryMax, 4096);
    EXPECT_EQ(a.DisableUserConfigRelocation, 1);
    // Relocation is off: the user's choice is forgotten and deleted.
    EXPECT_EQ(a.ConfigFolderType, 2);
    EXPECT_STREQ(WORKDIR::GetCurrent().Buf(), dir_.file("shared-data").c_str());
    STRING stored;
    EXPECT_FALSE(AppKey().Read("UserConfigFolder", &stored));
    EXPECT_STREQ(settings.AdminFilename().Buf(), (resources_ + "/admin.ini").c_str());

    struct CASE {
        int id;
        bool disabled;
    };
    for (CASE c : {CASE{1203, true}, CASE{1204, true}, CASE{1300, true}, CASE{9999, false}, CASE{0, false},
                   CASE{1, false}, CASE{2, false}, CASE{100, false}}) {
        EXPECT_EQ(settings.DisableMenuItems(c.id), c.disabled) << c.id;
    }

    // First start after set-up: the registry marks it and hands the
    // "create without asking" over once.
    EXPECT_EQ(a.SetupForceWorkdir, 2);
    DWORD value = 0;
    EXPECT_TRUE(SetupKey().Read("SetupBeenHereB4", &value));
    EXPECT_EQ(value, 1u);
    EXPECT_FALSE(SetupKey().Read("SetupForceWorkdir", &value));
    PROGRAMSETTINGS again(host);
    again.LoadAdminOpts(false);
    EXPECT_EQ(host.admin.SetupForceWorkdir, 0);
}

TEST_F(Admin, TheUserFileCannotLiftTheAdministratorsRestrictions)
{
    Shared("QOR6.44\n"
           "DisableLogging=yes\nDisableStoredPasswords=yes\n"
           "DisableMenuItems=\"1203\"\n"
           "DisableSessionProfilePages=\"Terminal\"\n"
           "AuditLogFilename=\"/var/log/qor-audit.log\"\n"
           "HostDirectoryMax=100\n");
    User("QOR6.44\n"
         "DisableLogging=no\nDisableStoredPasswords=no\n"
         "DisableMenuItems=\"1500\"\n"
         "DisableSessionProfilePages=\"Colors\"\n"
         "AuditLogFilename=\"\"\n"
         "HostDirectoryMax=4000\n"
         "DefaultUploadFolder=\"/srv/uploads\"\n");
    PROGRAMSETTINGS settings(host);
    settings.LoadAdminOpts(false);
    ADMINOPTS const& a = host.admin;
    EXPECT_EQ(a.DisableLogging, 1);
    EXPECT_EQ(a.DisableStoredPasswords, 1);
    EXPECT_TRUE(settings.DisableMenuItems(1203));
    EXPECT_TRUE(settings.DisableMenuItems(1500));
    EXPECT_STREQ(a.DisableSessionProfilePages, "Terminal,Colors");
    EXPECT_STREQ(a.AuditLogFilename, "/var/log/qor-audit.log");
    EXPECT_EQ(a.HostDirectoryMax, 100);
    EXPECT_STREQ(a.DefaultUploadFolder, "/srv/uploads");
    EXPECT_STREQ(settings.AdminFilename().Buf(), userFile_.c_str());
}

TEST_F(Admin, TheWorkFolderComesFromTheFirstSourceThatNamesOne)
{
    struct CASE {
        char const* name;
        bool commandLine;
        bool disableCommandLine;
        bool registry;
        bool configFolder;
        int type;
        char const* work; // relative to the test folder
    };
    CASE const cases[] = {
        {"command line", true, false, true, true, 1, "cmdline"},
        {"command line ignored", true, true, true, true, 3, "registry"},
        {"user's choice", false, false, true, true, 3, "registry"},
        {"administrator", false, false, false, true, 2, "admin"},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = "QOR6.44\n";
        if (c.disableCommandLine)
            text += "DisableCommandlineWorkdir=yes\n";
        if (c.configFolder)
            text += "ConfigDataFolder=\"" + dir_.file("admin") + "\"\n";
        Shared(text);
        if (c.registry)
            AppKey().Write("UserConfigFolder", dir_.file("registry").c_str());
        else
            AppKey().DeleteValue("UserConfigFolder");
        WORKDIR::SetCurrent(dir_.file("cmdline").c_str());
        PROGRAMSETTINGS settings(host);
        settings.LoadAdminOpts(c.commandLine);
        EXPECT_EQ(host.admin.ConfigFolderType, c.type);
        EXPECT_STREQ(WORKDIR::GetCurrent().Buf(), dir_.file(c.work).c_str());
    }
}

TEST_F(Admin, CommandLineRestrictionsAndTheOldSettingsName)
{
    Shared("QOR6.44\nDefaultProgramSettings=\"$(QORFILES)/Options\\Standard.cfg\"\n");
    std::string before = testutil::ReadFile(resources_ + "/admin.ini");
    host.restrict = 7;
    PROGRAMSETTINGS settings(host);
    settings.LoadAdminOpts(false);
    ADMINOPTS const& a = host.admin;
    EXPECT_EQ(a.DisableSessionProfile, 1);
    EXPECT_EQ(a.DisableProgramSettings, 1);
    EXPECT_EQ(a.DisableHostDirectory, 1);
    EXPECT_EQ(a.DisableRightButtonMenu, 1);
    EXPECT_STREQ(a.DefaultProgramSettings, "$(QORFILES)/Options\\Standard.qfg");
    EXPECT_EQ(testutil::ReadFile(resources_ + "/admin.ini"), before);
}

TEST_F(Admin, WhatCountsAsADataFolder)
{
    struct CASE {
        char const* name;
        char const* file;
        char const* content;
        int force;
        bool counts;
    };
    CASE const cases[] = {
        {"marker", ".QorFiles", "QOR 6.44", 0, true},
        {"settings", "Options/Standard.qfg", "QOR6.44\n", 0, true},
        {"old settings 4.80", "Options/Standard.cfg", "QOR4.80\n", 0, true},
        {"old settings 5.00", "Options/Standard.cfg", "QOR5.00\n", 0, true},
        {"old settings 3.11", "Options/Standard.cfg", "QOR3.11\n", 0, false},
        {"empty", nullptr, nullptr, 0, false},
        {"empty, forced", nullptr, nullptr, 1, true},
    };
    PROGRAMSETTINGS settings(host);
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.name);
        std::string folder = dir_.file(std::string("check-") + std::to_string(&c - cases));
        MakeFolder(folder + "/Options");
        if (c.file)
            testutil::WriteFile(folder + "/" + c.file, c.content);
        host.admin.SetupForceWorkdir = c.force;
        EXPECT_EQ(settings.CheckConfigDirectory(folder.c_str()), c.counts);
    }
    std::string old = dir_.file("old-marker");
    MakeFolder(old);
    testutil::WriteFile(old + "/QorVersion.ini", "QOR 6.00");
    host.admin.SetupForceWorkdir = 0;
    EXPECT_TRUE(settings.CheckConfigDirectory(old.c_str()));
    EXPECT_TRUE(FileExists(old + "/.QorFiles"));
    EXPECT_FALSE(FileExists(old + "/QorVersion.ini"));
}

TEST_F(Admin, TheFirstStartMakesTheDataFolderWithoutAsking)
{
    UseStagedResources();
    PROGRAMSETTINGS::AdminDefaults(host.admin);
    host.admin.SetupForceWorkdir = 2;
    PROGRAMSETTINGS settings(host);
    EXPECT_EQ(settings.ConfigFolderCheck(), 0);
    EXPECT_TRUE(host.workdirShown.empty());
    EXPECT_EQ(testutil::ReadFile(Work(".QorFiles")), "QOR 6.44\n\nDO NOT DELETE THIS FILE!");
    std::string shipped = testutil::ReadFile(plat::ResourcesFolder() + "/newuserprofile_english/Options/Standard.qor");
    EXPECT_FALSE(shipped.empty());
    EXPECT_EQ(testutil::ReadFile(Work("Options/Standard.qor")), shipped);
    EXPECT_STREQ(FILENAME("%QORFILES%/x").Buf(), Work("x").c_str());
}

TEST_F(Admin, AMissingDataFolderIsOfferedAndTheUsersFilesStay)
{
    UseStagedResources();
    PROGRAMSETTINGS::AdminDefaults(host.admin);
    // A folder that exists but is not recognised: made a data folder on
    // request, without overwriting what the user has there.
    MakeFolder(Work("Options"));
    testutil::WriteFile(Work("Options/Standard.qor"), "mine");
    host.workdirAnswers = {0};
    PROGRAMSETTINGS settings(host);
    EXPECT_EQ(settings.ConfigFolderCheck(), 0);
    ASSERT_EQ(host.workdirShown.size(), 1u);
    EXPECT_EQ(host.workdirShown[0], Work() + " 6.4");
    EXPECT_TRUE(host.relocateAllowed[0]);
    EXPECT_EQ(testutil::ReadFile(Work("Options/Standard.qor")), "mine");
    EXPECT_TRUE(FileExists(Work(".QorFiles")));
}

TEST_F(Admin, RefusingEndsTheStart)
{
    PROGRAMSETTINGS::AdminDefaults(host.admin);
    host.admin.ConfigFolderType = 1; // named on the command line
    host.workdirAnswers = {-1};
    PROGRAMSETTINGS settings(host);
    EXPECT_EQ(settings.ConfigFolderCheck(), 1);
    EXPECT_FALSE(FileExists(Work()));
    ASSERT_EQ(host.relocateAllowed.size(), 1u);
    EXPECT_FALSE(host.relocateAllowed[0]);
}

TEST_F(Admin, AFolderThatCannotBeMadeIsReportedAndAskedAgain)
{
    PROGRAMSETTINGS::AdminDefaults(host.admin);
    testutil::WriteFile(dir_.file("plainfile"), "x");
    WORKDIR::SetCurrent(dir_.file("plainfile/data").c_str());
    host.workdirAnswers = {0, -1};
    PROGRAMSETTINGS settings(host);
    EXPECT_EQ(settings.ConfigFolderCheck(), 1);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.errors[0].compare(0, 34, "Could not write configuration to \r"), 0);
    EXPECT_NE(host.errors[0].find(dir_.file("plainfile/data") + "\r\r("), std::string::npos);
    EXPECT_EQ(host.workdirShown.size(), 2u);
}

TEST_F(Admin, RelocatingToAnExistingOrANewFolder)
{
    PROGRAMSETTINGS::AdminDefaults(host.admin);
    std::string existing = dir_.file("existing");
    MakeFolder(existing);
    testutil::WriteFile(existing + "/.QorFiles", "QOR 6.44");
    host.workdirAnswers = {1};
    host.directories = {existing};
    PROGRAMSETTINGS settings(host);
    EXPECT_EQ(settings.ConfigFolderCheck(), 0);
    EXPECT_STREQ(WORKDIR::GetCurrent().Buf(), existing.c_str());
    STRING stored;
    EXPECT_TRUE(AppKey().Read("UserConfigFolder", &stored));
    EXPECT_STREQ(stored.Buf(), existing.c_str());
    EXPECT_STREQ(FILENAME("%QORFILES%").Buf(), existing.c_str());

    // A new folder: asked, made, and the data folder made in it.
    WORKDIR::SetCurrent(Work().c_str());
    std::string fresh = dir_.file("fresh/place");
    host.workdirAnswers = {1};
    host.directories = {fresh};
    host.yesNo = {true};
    PROGRAMSETTINGS again(host);
    EXPECT_EQ(again.ConfigFolderCheck(), 0);
    ASSERT_EQ(host.questions.size(), 1u);
    EXPECT_NE(host.questions[0].find(fresh), std::string::npos);
    EXPECT_EQ(host.questions[0].find("$DIR"), std::string::npos);
    EXPECT_TRUE(FileExists(fresh + "/.QorFiles"));
    EXPECT_STREQ(WORKDIR::GetCurrent().Buf(), fresh.c_str());

    // Declined: nothing is stored, and the dialog comes back.
    WORKDIR::SetCurrent(Work().c_str());
    AppKey().DeleteValue("UserConfigFolder");
    host.workdirAnswers = {1, -1};
    host.directories = {dir_.file("declined")};
    host.yesNo = {false};
    PROGRAMSETTINGS third(host);
    EXPECT_EQ(third.ConfigFolderCheck(), 1);
    EXPECT_FALSE(AppKey().Read("UserConfigFolder", &stored));
    EXPECT_FALSE(FileExists(dir_.file("declined")));
}

TEST_F(Admin, SharedKeyMapAndTranslationFolders)
{
    PROGRAMSETTINGS::AdminDefaults(host.admin);
    OPTSBASE::CopyText(host.admin.KeymapsFolder, 260, "shared/keys");
    OPTSBASE::CopyText(host.admin.TranslationTablesFolder, 260, dir_.file("tables").c_str());
    MakeFolder(Work("Options"));
    testutil::WriteFile(Work(".QorFiles"), "QOR 6.44");
    testutil::WriteFile(Work("Options/Standard.qky"), "keys");
    testutil::WriteFile(Work("Options/Standard.qtr"), "table");
    PROGRAMSETTINGS settings(host);
    EXPECT_EQ(settings.ConfigFolderCheck(), 0);
    EXPECT_EQ(testutil::ReadFile(Work("shared/keys/Standard.qky")), "keys");
    EXPECT_EQ(testutil::ReadFile(dir_.file("tables/Standard.qtr")), "table");
}

TEST_F(Admin, ANewUserGetsTheSettingsFileAndTheFolderValues)
{
    PROGRAMSETTINGS::AdminDefaults(host.admin);
    OPTSBASE::CopyText(host.admin.DefaultOptionsFolder, 260, "Options");
    MakeFolder(Work("Options"));
    PROGRAMSETTINGS settings(host);
    settings.Init();
    settings.SetFilename("Standard.qfg");
    EXPECT_EQ(settings.NewUser(), 0);
    std::string written = testutil::ReadFile(Work("Options/Standard.qfg"));
    EXPECT_EQ(written.compare(0, 26, "QOR6.44 // PROGRAMSETTINGS"), 0);
    EXPECT_EQ(host.sent.size(), 1u);
    STRING value;
    EXPECT_TRUE(AppKey().Read("%QORFILES%", &value));
    EXPECT_STREQ(value.Buf(), Work().c_str());
    EXPECT_TRUE(AppKey().Read("%QOR%", &value));
    EXPECT_STREQ(value.Buf(), dir_.file("bin").c_str());
    // The machine-wide store is the administrator's, whoever runs the
    // program (root included).
    EXPECT_FALSE(std::filesystem::exists(dir_.file("prefs-machine"))) << "nothing is written for every user";

    // An existing file stays as it is.
    testutil::WriteFile(Work("Options/Standard.qfg"), "QOR6.44\nBeepMax=9\n");
    settings.NewUser();
    EXPECT_EQ(testutil::ReadFile(Work("Options/Standard.qfg")), "QOR6.44\nBeepMax=9\n");
}
