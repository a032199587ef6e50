// File dialogs through the toolkit's questions: filters by extension in any
// case, the proposed "untitled" names, the default extension appended to
// a typed name, the question before replacing a file (after the extension
// was appended), missing files and folders refused, cancelling.
#include "tests/velmot/gui/questions_fixture.h"
#include "tests/velmot/gui/toolkit_fixture.h"
#include "velmot/gui/filenamedialog.h"
#include "velmot/gui/wintarvo.h"

#include "platform/dialogs/filedialogs.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <functional>

using namespace guifix;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

class FileQuestionTest : public ToolkitTest {
protected:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        for (char const* name : {"a.txt", "B.TXT", "c.Txt", "d.log", "e.cfg"})
            testutil::WriteFile(dir.file(name), "x");
        std::filesystem::create_directory(dir.file("sub"));
    }

    // Answers the next dialogs of `kind` in turn with the texts typed (an
    // empty text cancels), recording each request and its listing.
    void Type(plat::OSType kind, std::vector<std::string> typed)
    {
        plat::AddModalResponder(
            kind,
            [this, typed](plat::ModalRequest const& r, plat::ModalAnswer& a) {
                requests.push_back(r);
                listings.push_back(plat::FileDialogListing(r));
                std::string const text = answered < typed.size() ? typed[answered] : std::string();
                ++answered;
                a.text = text;
                a.choice = text.empty() ? 2 : 1;
                return true;
            },
            static_cast<int>(typed.size()) + 1);
    }

    std::string Proposed(size_t i = 0) const
    {
        std::string const& text = requests.at(i).text;
        return text.substr(text.rfind('/') + 1);
    }

    testutil::TempDir dir;
    std::vector<plat::ModalRequest> requests;
    std::vector<std::vector<std::string>> listings;
    size_t answered = 0;
};

TEST_F(FileQuestionTest, OpenFiltersByExtensionInAnyCase)
{
    Type(plat::kModalFileOpen, {"B.TXT"});
    char const* path = AskFilename(nullptr, "Open a text", dir.path().c_str(), "Text files|*.txt\nLogs|*.log");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(std::string(path), dir.file("B.TXT"));
    EXPECT_EQ(requests[0].title, "Open a text");
    EXPECT_EQ(requests[0].text, dir.path());
    EXPECT_THAT(requests[0].choices, ElementsAre("Text files (*.txt)", "Logs (*.log)"));
    EXPECT_THAT(listings[0], ElementsAre("B.TXT", "a.txt", "c.Txt", "sub/"));
}

TEST_F(FileQuestionTest, FiltersThatAreNotAppliedListEveryFile)
{
    std::vector<std::string> const all = {"B.TXT", "a.txt", "c.Txt", "d.log", "e.cfg", "sub/"};
    struct Case {
        char const* why;
        char const* filter;
    } const cases[] = {
        {"no filter", nullptr},
        {"programs", "Programs|*.exe\nText|*.txt"},
        {"no text type", "Odd files|*.zzqq"},
        {"every file", "All files|*.*"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.why);
        requests.clear();
        listings.clear();
        answered = 0;
        Type(plat::kModalFileOpen, {});
        EXPECT_EQ(AskFilename(nullptr, "Open", dir.path().c_str(), c.filter), nullptr);
        ASSERT_EQ(listings.size(), 1u);
        EXPECT_EQ(listings[0], all);
    }
}

TEST_F(FileQuestionTest, TypeIdentifiersOfTheFilterExtensions)
{
    FILENAMEDIALOG dialog(nullptr);
    EXPECT_TRUE(dialog.AddExtensionToFilter("txt"));
    EXPECT_FALSE(dialog.AddExtensionToFilter("zzqq"));
    EXPECT_TRUE(dialog.AddExtensionToFilter("qor")); // the program's own
    EXPECT_EQ(dialog.Extensions.NumItems(), 3);
    ASSERT_EQ(dialog.FilterTypes.NumItems(), 2);
    EXPECT_STREQ(dialog.FilterTypes[1]->Buf(), "application/x-qor-session");
    // An entry matches an extension of the filter in any case.
    EXPECT_TRUE(dialog.ObjectFilterCallback("/x/Y.ZZQQ"));
    EXPECT_TRUE(dialog.ObjectFilterCallback("/x/notes.Txt"));
    EXPECT_FALSE(dialog.ObjectFilterCallback("/x/notes.txt.bak"));
}

TEST_F(FileQuestionTest, SavingProposesAFreeUntitledName)
{
    struct Case {
        char const* why;
        std::vector<std::string> existing;
        std::string initial; // relative to the folder; "" for the folder
        char const* filter;
        char const* proposed;
    } const cases[] = {
        {"a folder", {}, "", "Logs|*.log", "untitled.log"},
        {"the first taken", {"untitled.log"}, "", "Logs|*.log", "untitled2.log"},
        {"a default extension line", {}, "", ".cfg\nSettings|*.cfg", "untitled.cfg"},
        {"a pattern in the folder", {}, "*.txt", nullptr, "untitled.txt"},
        {"a file that is there", {"d.log"}, "d.log", "Logs|*.log", "d.log"},
        {"a new name", {}, "new.log", "Logs|*.log", "new.log"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.why);
        testutil::TempDir folder;
        for (std::string const& name : c.existing)
            testutil::WriteFile(folder.file(name), "x");
        requests.clear();
        answered = 0;
        Type(plat::kModalFileSave, {});
        std::string const initial = c.initial.empty() ? folder.path() : folder.file(c.initial);
        EXPECT_EQ(AskSaveAsFilename(nullptr, "Save", initial.c_str(), c.filter), nullptr);
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].text, folder.file(c.proposed));
    }

    // With all 31 names taken the last is proposed all the same (and the
    // dialog asks before it is replaced).
    testutil::TempDir full;
    testutil::WriteFile(full.file("untitled.log"), "x");
    for (int n = 2; n <= 31; ++n)
        testutil::WriteFile(full.file("untitled" + std::to_string(n) + ".log"), "x");
    requests.clear();
    answered = 0;
    Type(plat::kModalFileSave, {});
    AskSaveAsFilename(nullptr, "Save", full.path().c_str(), "Logs|*.log");
    EXPECT_EQ(Proposed(), "untitled31.log");
}

TEST_F(FileQuestionTest, TheDefaultExtensionIsAppendedUnlessTheNameEndsWithIt)
{
    struct Case {
        char const* typed;
        char const* saved;
    } const cases[] = {
        {"report", "report.log"},
        {"REPORT.LOG", "REPORT.LOG"},
        {"report.old", "report.old.log"},
        {"sub/inner", "sub/inner.log"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.typed);
        answered = 0;
        Type(plat::kModalFileSave, {c.typed});
        char const* path = AskSaveAsFilename(nullptr, "Save", dir.path().c_str(), "Logs|*.log");
        ASSERT_NE(path, nullptr);
        EXPECT_EQ(std::string(path), dir.file(c.saved));
    }
}

TEST_F(FileQuestionTest, ReplacingAFileIsAskedAfterTheExtensionWasAppended)
{
    testutil::WriteFile(dir.file("report.log"), "keep me");
    // "report" becomes report.log, which exists: "No" keeps the dialog open
    // for another name.
    {
        AlertAnswers no(2);
        Type(plat::kModalFileSave, {"report", "other"});
        char const* path = AskSaveAsFilename(nullptr, "Save the log", dir.path().c_str(), "Logs|*.log");
        ASSERT_NE(path, nullptr);
        EXPECT_EQ(std::string(path), dir.file("other.log"));
        ASSERT_EQ(no.texts.size(), 1u);
        EXPECT_EQ(no.texts[0], "Save the log\nThe file \"report.log\" already exists in \"" + dir.path() +
                                   "\". Do you want to replace it?");
        EXPECT_THAT(no.buttons[0], ElementsAre("Yes", "No"));
    }
    // "Yes" replaces it.
    {
        AlertAnswers yes(1);
        answered = 0;
        Type(plat::kModalFileSave, {"report"});
        char const* path = AskSaveAsFilename(nullptr, "Save the log", dir.path().c_str(), "Logs|*.log");
        ASSERT_NE(path, nullptr);
        EXPECT_EQ(std::string(path), dir.file("report.log"));
        EXPECT_EQ(yes.texts.size(), 1u);
    }
    // In German.
    {
        LOCALE const german(LOCALE_GERMAN);
        AlertAnswers no(2);
        answered = 0;
        Type(plat::kModalFileSave, {"report"});
        EXPECT_EQ(AskSaveAsFilename(nullptr, "Sichern", dir.path().c_str(), "Logs|*.log"), nullptr);
        ASSERT_EQ(no.texts.size(), 1u);
        EXPECT_THAT(no.texts[0], HasSubstr("Die Datei \"report.log\" ist in"));
        EXPECT_THAT(no.buttons[0], ElementsAre("Ja", "Nein"));
    }
    EXPECT_EQ(testutil::ReadFile(dir.file("report.log")), "keep me");
}

TEST_F(FileQuestionTest, MissingFilesAndFoldersAreRefusedInTheDialog)
{
    AlertAnswers ok(1, 3);
    Type(plat::kModalFileOpen, {"nothing.txt", "a.txt"});
    char const* path = AskFilename(nullptr, "Open", dir.path().c_str(), "Text|*.txt");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(std::string(path), dir.file("a.txt"));

    answered = 0;
    Type(plat::kModalFolder, {dir.file("gone"), dir.file("sub")});
    EXPECT_EQ(std::string(BrowseFolder(nullptr, "Folder", dir.path().c_str()).Buf()), dir.file("sub"));

    answered = 0;
    Type(plat::kModalFileSave, {"gone/x"});
    EXPECT_EQ(AskSaveAsFilename(nullptr, "Save", dir.path().c_str(), "Text|*.txt"), nullptr);

    EXPECT_THAT(ok.texts, ElementsAre("Open\nThe file \"" + dir.file("nothing.txt") + "\" was not found.",
                                      "Folder\nThe folder \"" + dir.file("gone") + "\" was not found.",
                                      "Save\nThe folder \"" + dir.file("gone") + "\" was not found."));
}

TEST_F(FileQuestionTest, SeveralFilesAFolderAndCancelling)
{
    plat::AddModalResponder(plat::kModalFileOpen, [](plat::ModalRequest const&, plat::ModalAnswer& a) {
        a.items = {"a.txt", "c.Txt"};
        a.choice = 1;
        return true;
    });
    STRINGARRAY files;
    EXPECT_EQ(WINTARVO::AskFilenames(nullptr, "Open", dir.path().c_str(), &files, "Text|*.txt"), 2);
    ASSERT_EQ(files.NumItems(), 2);
    EXPECT_STREQ(files[0]->Buf(), dir.file("a.txt").c_str());
    EXPECT_EQ(files[1]->CodePage, UNICODE_CPUTF8);

    Type(plat::kModalFileOpen, {});
    EXPECT_EQ(AskFilenames(nullptr, "Open", dir.path().c_str(), &files, nullptr), 0);

    answered = 0;
    Type(plat::kModalFolder, {dir.file("sub")});
    EXPECT_STREQ(WINTARVO::AskFolder(nullptr, "Folder", dir.path().c_str()).Buf(), dir.file("sub").c_str());
    Type(plat::kModalFolder, {});
    STRING const none = BrowseFolder(nullptr, "Folder", dir.path().c_str());
    EXPECT_TRUE(none.IsSet() && none.IsEmpty());

    // A cancelled question returns null and leaves the last answer's text
    // as it was.
    answered = 0;
    Type(plat::kModalFileOpen, {"d.log"});
    char const* first = WINTARVO::AskFilename(nullptr, "Open", dir.path().c_str(), nullptr);
    ASSERT_NE(first, nullptr);
    std::string const kept = first;
    Type(plat::kModalFileOpen, {});
    EXPECT_EQ(AskFilename(nullptr, "Open", dir.path().c_str(), nullptr), nullptr);
    EXPECT_EQ(std::string(first), kept);
}

TEST_F(FileQuestionTest, LongPathsComeBackWhole)
{
    std::string deep = dir.path();
    for (int i = 0; i < 3; ++i)
        deep += "/" + std::string(100, static_cast<char>('p' + i));
    std::filesystem::create_directories(deep);
    ASSERT_GT(deep.size(), 300u);
    Type(plat::kModalFileSave, {"a name with blanks"});
    char const* path = WINTARVO::AskSaveAsFilename(nullptr, "Save", deep.c_str(), "Text|*.txt");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(std::string(path), deep + "/a name with blanks.txt");
}

} // namespace
