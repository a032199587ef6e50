// The file dialogs, offscreen: what they list, how an answer goes through
// their widgets, the approve step that keeps them open, the events they
// report, and the type identifiers of extensions.
#include "platform/dialogs/filedialogs.h"
#include "tests/platform/events/qt_fixture.h"
#include "tests/support/testutil.h"

#include <gmock/gmock.h>

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <filesystem>
#include <string>
#include <vector>

using ::testing::ElementsAre;

namespace {

class FileDialogTest : public qtfix::QtTest {
protected:
    void SetUp() override
    {
        for (char const* name : {"a.txt", "B.TXT", "c.Txt", "d.log", "e.txt.bak"})
            testutil::WriteFile(dir_.file(name), "x");
        std::filesystem::create_directory(dir_.file("sub"));
    }

    // A spec whose events and approvals are written to `events`.
    plat::FileDialogSpec Spec(plat::FileDialogKind kind)
    {
        plat::FileDialogSpec spec;
        spec.kind = kind;
        spec.title = "Pick";
        spec.event = [this](plat::FileDialogEvent& e) {
            if (e.selector == plat::kFileDialogStart) {
                events.push_back("start");
                e.location = dir_.path();
            } else if (e.selector == plat::kFileDialogPopup) {
                events.push_back("popup " + std::to_string(e.popupIndex));
            } else {
                std::string line = "action " + std::to_string(e.action);
                if (e.reply)
                    for (std::string const& p : e.reply->selection)
                        line += " " + Relative(p);
                if (e.reply && !e.reply->saveName.empty())
                    line += " name=" + e.reply->saveName;
                events.push_back(line);
            }
        };
        return spec;
    }

    // Answers the next `times` dialogs of `kind` with `fill`, recording
    // what each request showed.
    void Answer(plat::OSType kind, std::function<void(plat::ModalRequest const&, plat::ModalAnswer&)> fill,
                int times = 1)
    {
        plat::AddModalResponder(
            kind,
            [this, fill](plat::ModalRequest const& r, plat::ModalAnswer& a) {
                requests.push_back(r);
                listings.push_back(plat::FileDialogListing(r));
                fill(r, a);
                return true;
            },
            times);
    }

    std::string Relative(std::string const& path) const
    {
        return path.rfind(dir_.path(), 0) == 0 ? "<dir>" + path.substr(dir_.path().size()) : path;
    }

    testutil::TempDir dir_;
    std::vector<std::string> events;
    std::vector<plat::ModalRequest> requests;
    std::vector<std::vector<std::string>> listings;
};

TEST_F(FileDialogTest, ListsTheChosenTypeWithoutRegardToCaseAndOpensWhatWasTyped)
{
    plat::FileDialogSpec spec = Spec(plat::FileDialogKind::Open);
    spec.types = {{"Text files", "txt"}, {"Logs", "log"}};
    Answer(plat::kModalFileOpen, [](plat::ModalRequest const&, plat::ModalAnswer& a) {
        a.text = "B.TXT";
        a.choice = 1;
    });
    plat::FileDialogReply reply;
    EXPECT_EQ(plat::RunFileDialog(spec, &reply), plat::kFileActionOpen);
    EXPECT_THAT(reply.selection, ElementsAre(dir_.file("B.TXT")));
    EXPECT_THAT(events, ElementsAre("start", "popup 0", "action 2 <dir>/B.TXT"));
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].kind, plat::kModalFileOpen);
    EXPECT_EQ(requests[0].title, "Pick");
    EXPECT_EQ(requests[0].text, dir_.path());
    EXPECT_THAT(requests[0].choices, ElementsAre("Text files (*.txt)", "Logs (*.log)"));
    EXPECT_THAT(listings[0], ElementsAre("B.TXT", "a.txt", "c.Txt", "sub/"));
}

TEST_F(FileDialogTest, TheFilterHidesFilesThePopupLetThroughAndAPopupChoiceChangesTheList)
{
    plat::FileDialogSpec spec = Spec(plat::FileDialogKind::Open);
    spec.types = {{"Text files", "txt"}, {"Logs", "log"}};
    spec.filter = [](std::string const& path) { return path.find("c.Txt") == std::string::npos; };
    Answer(plat::kModalFileOpen, [](plat::ModalRequest const&, plat::ModalAnswer& a) { a.choice = 2; });
    EXPECT_EQ(plat::RunFileDialog(spec), plat::kFileActionCancel);
    EXPECT_THAT(listings[0], ElementsAre("B.TXT", "a.txt", "sub/"));

    // "Logs" chosen, the dialog left open, then cancelled.
    events.clear();
    int round = 0;
    Answer(
        plat::kModalFileOpen,
        [&round](plat::ModalRequest const&, plat::ModalAnswer& a) {
            if (++round == 1)
                a.value = 2;
            else
                a.choice = 2;
        },
        2);
    EXPECT_EQ(plat::RunFileDialog(spec), plat::kFileActionCancel);
    EXPECT_THAT(listings.back(), ElementsAre("d.log", "sub/"));
    EXPECT_THAT(events, ElementsAre("start", "popup 0", "popup 1", "action 1"));

    // Every file when there are no types.
    spec.types.clear();
    spec.filter = nullptr;
    Answer(plat::kModalFileOpen, [](plat::ModalRequest const&, plat::ModalAnswer& a) { a.choice = 2; });
    plat::RunFileDialog(spec);
    EXPECT_THAT(listings.back(), ElementsAre("B.TXT", "a.txt", "c.Txt", "d.log", "e.txt.bak", "sub/"));
}

TEST_F(FileDialogTest, AResponderCanTypeIntoTheDialogsOwnWidgets)
{
    plat::FileDialogSpec spec = Spec(plat::FileDialogKind::Open);
    spec.types = {{"Text files", "txt"}};
    plat::AddModalResponder(plat::kModalFileOpen, [](plat::ModalRequest const& r, plat::ModalAnswer&) {
        auto* dialog = static_cast<QFileDialog*>(static_cast<QWidget*>(r.native));
        auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
        EXPECT_NE(edit, nullptr);
        if (edit) {
            QTest::keyClicks(edit, "c.Txt");
            QTest::keyClick(edit, Qt::Key_Return);
        }
        return true;
    });
    plat::FileDialogReply reply;
    EXPECT_EQ(plat::RunFileDialog(spec, &reply), plat::kFileActionOpen);
    EXPECT_THAT(reply.selection, ElementsAre(dir_.file("c.Txt")));
}

TEST_F(FileDialogTest, SeveralFilesOpenTogether)
{
    plat::FileDialogSpec spec = Spec(plat::FileDialogKind::Open);
    spec.multiple = true;
    Answer(plat::kModalFileOpen, [](plat::ModalRequest const&, plat::ModalAnswer& a) {
        a.items = {"a.txt", "d.log"};
        a.choice = 1;
    });
    plat::FileDialogReply reply;
    EXPECT_EQ(plat::RunFileDialog(spec, &reply), plat::kFileActionOpen);
    EXPECT_THAT(reply.selection, ElementsAre(dir_.file("a.txt"), dir_.file("d.log")));
}

TEST_F(FileDialogTest, ARefusedSaveStaysOpenAndAFolderTypedIsEntered)
{
    plat::FileDialogSpec spec = Spec(plat::FileDialogKind::Save);
    spec.saveName = "untitled.txt";
    std::vector<std::string> asked;
    spec.approve = [&](plat::FileDialogReply const& r) {
        asked.push_back(r.saveName);
        return r.saveName != "a.txt"; // "no" to replacing it
    };
    std::vector<std::string> typed = {"a.txt", "sub", "new.txt"};
    Answer(
        plat::kModalFileSave,
        [&typed](plat::ModalRequest const&, plat::ModalAnswer& a) {
            a.text = typed.front();
            typed.erase(typed.begin());
            a.choice = 1;
        },
        3);
    plat::FileDialogReply reply;
    EXPECT_EQ(plat::RunFileDialog(spec, &reply), plat::kFileActionSaveAs);
    EXPECT_THAT(asked, ElementsAre("a.txt", "new.txt")); // the folder was entered, not approved
    EXPECT_THAT(reply.selection, ElementsAre(dir_.file("sub")));
    EXPECT_EQ(reply.saveName, "new.txt");
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].text, dir_.file("untitled.txt"));
    EXPECT_EQ(listings[2], std::vector<std::string>{}); // inside the empty folder now
    EXPECT_EQ(events.back(), "action 3 <dir>/sub name=new.txt");
}

TEST_F(FileDialogTest, ChoosingAFolderAndCancelling)
{
    plat::FileDialogSpec spec = Spec(plat::FileDialogKind::ChooseFolder);
    Answer(plat::kModalFolder, [this](plat::ModalRequest const&, plat::ModalAnswer& a) {
        a.text = dir_.file("sub");
        a.choice = 1;
    });
    plat::FileDialogReply reply;
    EXPECT_EQ(plat::RunFileDialog(spec, &reply), plat::kFileActionChoose);
    EXPECT_THAT(reply.selection, ElementsAre(dir_.file("sub")));
    EXPECT_THAT(listings[0], ElementsAre("sub/")); // folders only

    events.clear();
    Answer(plat::kModalFolder, [](plat::ModalRequest const&, plat::ModalAnswer& a) { a.choice = 2; });
    EXPECT_EQ(plat::RunFileDialog(spec, &reply), plat::kFileActionCancel);
    EXPECT_TRUE(reply.selection.empty());
    EXPECT_THAT(events, ElementsAre("start", "action 1"));

    // No responder at all: cancelled in test mode.
    EXPECT_EQ(plat::RunFileDialog(spec), plat::kFileActionCancel);
}

TEST_F(FileDialogTest, LongPathsAreNotCut)
{
    std::string deep = dir_.path();
    for (int i = 0; i < 4; ++i)
        deep += "/" + std::string(90, static_cast<char>('k' + i));
    std::filesystem::create_directories(deep);
    testutil::WriteFile(deep + "/long name.txt", "x");
    ASSERT_GT(deep.size(), 300u);
    plat::FileDialogSpec spec = Spec(plat::FileDialogKind::Open);
    spec.event = [&](plat::FileDialogEvent& e) {
        if (e.selector == plat::kFileDialogStart)
            e.location = deep;
    };
    Answer(plat::kModalFileOpen, [](plat::ModalRequest const&, plat::ModalAnswer& a) {
        a.text = "long name.txt";
        a.choice = 1;
    });
    plat::FileDialogReply reply;
    EXPECT_EQ(plat::RunFileDialog(spec, &reply), plat::kFileActionOpen);
    EXPECT_THAT(reply.selection, ElementsAre(deep + "/long name.txt"));
}

TEST_F(FileDialogTest, LabelsAndButtonTextsCanBeGiven)
{
    plat::FileDialogSpec spec = Spec(plat::FileDialogKind::Save);
    spec.labels = {"Suchen in:", "Dateiname:", "Dateityp:", "Sichern", "Abbrechen"};
    std::vector<std::string> texts;
    plat::AddModalResponder(plat::kModalFileSave, [&](plat::ModalRequest const& r, plat::ModalAnswer& a) {
        auto* dialog = static_cast<QFileDialog*>(static_cast<QWidget*>(r.native));
        texts.push_back(dialog->findChild<QLabel*>("fileNameLabel")->text().toStdString());
        for (QAbstractButton* b : dialog->findChild<QDialogButtonBox*>("buttonBox")->buttons())
            texts.push_back(b->text().toStdString());
        a.choice = 2;
        return true;
    });
    plat::RunFileDialog(spec);
    EXPECT_THAT(texts, ElementsAre("Dateiname:", "Sichern", "Abbrechen"));
}

TEST(FileTypes, ExtensionsOfTextTypesHaveIdentifiersOthersAreDynamic)
{
    struct Case {
        char const* extension;
        char const* type;
    } const cases[] = {
        {"txt", "text/plain"},
        {"TXT", "text/plain"},
        {"log", "text/x-log"},
        {"qor", "application/x-qor-session"}, // the program's own, from its information values
        {"*", "application/octet-stream"},
        {"pdf", "dyn.pdf"},       // not text
        {"zzqq", "dyn.zzqq"},     // unknown
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.extension);
        EXPECT_EQ(plat::TextTypeIdentifierForExtension(c.extension), c.type);
    }
}

} // namespace
