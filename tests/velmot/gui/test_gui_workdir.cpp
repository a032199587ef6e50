// The work folder: found in the registry store, made under the standard
// folder, forced by the program argument, edited in its dialog for the
// next start and taken over then.
#include "tests/support/testutil.h"
#include "tests/velmot/gui/datadialog_fixture.h"
#include "tests/velmot/gui/questions_fixture.h"
#include "velmot/core/osys.h"
#include "velmot/core/registry.h"
#include "velmot/core/workdir.h"
#include "velmot/gui/winmenu.h"

#include <gmock/gmock.h>

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <thread>

using namespace guifix;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

namespace fs = std::filesystem;

class WorkdirTest : public DataDialogTest {
protected:
    void SetUp() override
    {
        DataDialogTest::SetUp();
        // Nothing stored before.
        for (char const* value : {"ApplicationDataDir", "FilesDir", "ApplicationDataDir.New"})
            Key().DeleteValue(value);
    }
    REGISTRY Key() { return REGISTRY(REGISTRY::CURRENT_USER, ("Software\\" + company).c_str(), "QOR6", REGISTRY::READWRITE); }
    std::string Read(char const* name)
    {
        STRING value;
        return Key().Read(name, &value) ? value.Buf() : "<none>";
    }
    std::string Default() { return fs::path(OSYS::GetSystemPath(OSYSFOLDER_APPSUPPORT).Buf()) / company / "QOR6"; }

    std::string const company = "Tarvo";
};

TEST_F(WorkdirTest, ADefaultFolderIsMadeUnderTheStandardFolder)
{
    WORKDIR wd(NoOwner(), company.c_str());
    EXPECT_STREQ(wd.GetAppRegKey().Buf(), "QOR6");
    STRING pending;
    STRING const dir = wd.WorkDirInit(pending, OSYSFOLDER_APPSUPPORT);
    std::string const expected = Default();
    EXPECT_EQ(std::string(dir.Buf()), expected);
    EXPECT_TRUE(fs::is_directory(expected));
    // Under $XDG_DATA_HOME.
    EXPECT_EQ(expected.rfind(std::getenv("XDG_DATA_HOME"), 0), 0u);
    EXPECT_EQ(Read("ApplicationDataDir"), expected);
    EXPECT_TRUE(pending.IsEmpty());

    // The documents folder takes the application's name.
    WORKDIR named(NoOwner(), company.c_str(), "Qor Files");
    STRING const docs = named.WorkDirInit(pending, OSYSFOLDER_DOCUMENTS);
    // Stored now: the first folder is found again.
    EXPECT_EQ(std::string(docs.Buf()), expected);
    Key().DeleteValue("ApplicationDataDir");
    STRING const fresh = named.WorkDirInit(pending, OSYSFOLDER_DOCUMENTS);
    EXPECT_EQ(std::string(fresh.Buf()), fs::path(OSYS::GetSystemPath(OSYSFOLDER_DOCUMENTS).Buf()) / "Qor Files");
}

TEST_F(WorkdirTest, StoredFoldersAreUsedMovedOnOrForgotten)
{
    testutil::TempDir dir;
    struct Case {
        char const* value;
        std::string stored;
        std::string expected;
    } const cases[] = {
        {"ApplicationDataDir", dir.file("current"), dir.file("current")},
        {"FilesDir", dir.file("older"), dir.file("older")}, // moved to ApplicationDataDir
        {"ApplicationDataDir", "/proc/no/such/folder", Default()},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.stored);
        Key().DeleteValue("ApplicationDataDir");
        Key().Write(c.value, c.stored.c_str());
        WORKDIR wd(NoOwner(), company.c_str());
        STRING pending;
        EXPECT_EQ(std::string(wd.WorkDirInit(pending, OSYSFOLDER_APPSUPPORT).Buf()), c.expected);
        EXPECT_TRUE(fs::is_directory(c.expected));
        EXPECT_EQ(Read("ApplicationDataDir"), c.expected);
        EXPECT_EQ(Read("FilesDir"), "<none>");
    }
}

TEST_F(WorkdirTest, AChosenFolderIsTakenOverAtTheNextStartWithItsFiles)
{
    testutil::TempDir dir;
    std::string const old = dir.file("old");
    std::string const next = dir.file("new");
    fs::create_directories(old + "/Options");
    testutil::WriteFile(old + "/Options/Standard.qfg", "settings");
    testutil::WriteFile(old + "/README", "no extension");
    Key().Write("ApplicationDataDir", old.c_str());
    Key().Write("ApplicationDataDir.New", ("*" + next).c_str());

    RECWINDOW owner(WINDOWSTYLE_DOCUMENT, "Main", 0, 0, 300, 200);
    WORKDIR wd(owner, company.c_str());
    STRING work;
    STRING before;
    EXPECT_TRUE(wd.GetWorkDir(owner, 0, &work, &before, OSYSFOLDER_APPSUPPORT));
    EXPECT_EQ(std::string(work.Buf()), next);
    EXPECT_EQ(std::string(before.Buf()), old);
    EXPECT_EQ(testutil::ReadFile(next + "/Options/Standard.qfg"), "settings");
    EXPECT_EQ(testutil::ReadFile(next + "/README"), "no extension");
    EXPECT_EQ(std::string(WORKDIR::GetCurrent().Buf()), next);
    // Taken over for good: the next start finds nothing pending.
    EXPECT_EQ(Read("ApplicationDataDir"), next);
    EXPECT_EQ(Read("ApplicationDataDir.New"), "<none>");
    EXPECT_FALSE(wd.GetWorkDir(owner, 0, &work, &before, OSYSFOLDER_APPSUPPORT));
    EXPECT_EQ(std::string(work.Buf()), next);

    // The same folder in other letters is nothing new.
    std::string upper = next;
    for (char& ch : upper)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    Key().Write("ApplicationDataDir.New", upper.c_str());
    STRING pending;
    wd.WorkDirInit(pending, OSYSFOLDER_APPSUPPORT);
    EXPECT_TRUE(pending.IsEmpty());
}

TEST_F(WorkdirTest, TheProgramArgumentForcesTheFolderAndLocksTheMenu)
{
    testutil::TempDir dir;
    std::string const forced = dir.file("forced");
    auto args = [](std::vector<std::string> list) {
        list.insert(list.begin(), "guitest");
        std::vector<char*> argv;
        for (auto& a : list)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        TARVOAPP::InitArgsLoggingAndLocale(static_cast<int>(list.size()), argv.data(), LOCALE_ENGLISH);
        ASSERT_EQ(chdir(cwd), 0);
    };
    args({"/WORKDIR:" + forced});
    RECWINDOW owner(WINDOWSTYLE_DOCUMENT, "Main", 0, 0, 300, 200, nullptr, nullptr, "IDM_TEST_MENUBAR");
    WORKDIR wd(owner, company.c_str());
    STRING work;
    EXPECT_FALSE(wd.GetWorkDir(owner, 8420, &work, nullptr, OSYSFOLDER_APPSUPPORT));
    args({});
    EXPECT_EQ(std::string(work.Buf()), forced);
    EXPECT_TRUE(fs::is_directory(forced));
    EXPECT_FALSE(MENU(owner).IsMenuItemEnabled(8420));
    EXPECT_EQ(Read("ApplicationDataDir"), "<none>"); // the registry untouched
}

TEST_F(WorkdirTest, TheDialogKeepsANewFolderForTheNextStart)
{
    testutil::TempDir dir;
    std::string const current = dir.file("current");
    Key().Write("ApplicationDataDir", current.c_str());
    std::vector<std::string> const questions = {
        "Qor\nCopy the files of the current folder into the new one?",
        "Qor\nThe new folder is used from the next start of the program."};
    enum How { Ok, Cancel };
    struct Case {
        How how;
        std::string typed;
        int button; // of the copy question: 1 yes, 2 no
        std::string pending;
        std::vector<std::string> asked;
    } const cases[] = {
        {Ok, dir.file("next"), 1, "*" + dir.file("next"), questions},
        {Ok, dir.file("plain"), 2, dir.file("plain"), questions},
        {Cancel, dir.file("other"), 1, "<none>", {}},
        {Ok, dir.file("CURRENT"), 1, "<none>", {}}, // the same folder in other letters
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.typed);
        Key().DeleteValue("ApplicationDataDir.New");
        AlertAnswers answers(c.button, 2);
        WORKDIR wd(NoOwner(), company.c_str());
        std::string shown;
        WhileRunning([&](plat::ModalRequest const& r) {
            CONTROLPARENT const p{plat::WindowContentView(r.window)};
            shown = Text(p, Cid("TEXT", 17));
            Type(p, Cid("TEXT", 17), c.typed.c_str());
            Press(p, c.how == Ok ? Cid("OKAY", 0) : DIALOG_CANCELBUTTON);
        });
        int const rc = wd.WorkdirEdit(NoOwner());
        EXPECT_EQ(rc, c.how == Ok ? static_cast<int>(plat::FourCC("OKAY")) : 0);
        EXPECT_EQ(shown, current);
        EXPECT_EQ(Read("ApplicationDataDir.New"), c.pending);
        EXPECT_EQ(answers.texts, c.asked);
    }
}

TEST_F(WorkdirTest, TheDialogsButtonsChooseAndShowTheFolder)
{
    testutil::TempDir dir;
    fs::create_directory(dir.file("files"));
    Key().Write("ApplicationDataDir", dir.path().c_str());
    OPENERRECORDER opener;
    std::vector<std::string> asked;
    AnswerFileDialog(plat::kModalFolder, dir.file("files"), &asked);
    WORKDIR wd(NoOwner(), company.c_str());
    std::string after;
    WhileRunning([&](plat::ModalRequest const& r) {
        CONTROLPARENT const p{plat::WindowContentView(r.window)};
        Press(p, Cid("PUSH", 47));
        after = Text(p, Cid("TEXT", 17));
        Press(p, Cid("PUSH", 46));
        Press(p, DIALOG_CANCELBUTTON);
    });
    wd.WorkdirEdit(NoOwner());
    EXPECT_THAT(asked, ElementsAre("Choose the folder for your files|" + dir.path()));
    EXPECT_EQ(after, dir.file("files"));
    EXPECT_THAT(opener.Take(), ElementsAre(dir.file("files")));
}

TEST_F(WorkdirTest, SettingsUnderAnOldFolderMoveToTheNewOne)
{
    struct Case {
        char const* path;
        char const* expected;
    } const cases[] = {
        {"C:\\Old Files\\Options\\a.qfg", "%QORFILES%\\Options\\a.qfg"},
        {"c:\\OLD FILES\\x.log", "%QORFILES%\\x.log"},
        {"D:\\Elsewhere\\x.log", "D:\\Elsewhere\\x.log"},
        {"C:\\Old Files", "C:\\Old Files"}, // the folder part is "C:"
    };
    for (Case const& c : cases) {
        STRING path(c.path);
        WORKDIR::UpgradeSetting("C:\\Old Files", "%QORFILES%", path);
        EXPECT_STREQ(path.Buf(), c.expected) << c.path;
    }
}

TEST_F(WorkdirTest, TheProcessWideFolderIsSharedByThreads)
{
    WORKDIR::SetCurrent("/data/one");
    std::string seen;
    std::thread reader([&] { seen = WORKDIR::GetCurrent().Buf(); });
    reader.join();
    EXPECT_EQ(seen, "/data/one");
    WORKDIR::SetCurrent(nullptr);
    EXPECT_TRUE(WORKDIR::GetCurrent().IsEmpty());
}

} // namespace
