// The stock push functions: colour picker and font chooser through their
// responders, folder and file questions, and the programs they start.
#include "tests/support/testutil.h"
#include "tests/velmot/gui/datadialog_fixture.h"
#include "tests/velmot/gui/questions_fixture.h"
#include "velmot/gui/helpfile.h"

#include "platform/draw/pickers.h"
#include "platform/services/sound.h"

#include <gmock/gmock.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

using namespace guifix;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class PushTest : public DataDialogTest {
protected:
    void SetUp() override
    {
        DataDialogTest::SetUp();
        dialog = std::make_unique<DATADIALOGBOX>("DLG_DD_PAGE3", NoOwner(), nullptr);
        ASSERT_TRUE(dialog->IsValid());
        p = dialog->GetControlParent();
    }
    void TearDown() override
    {
        dialog.reset();
        DataDialogTest::TearDown();
    }
    std::unique_ptr<DATADIALOGBOX> dialog;
    CONTROLPARENT p;
};

TEST_F(PushTest, TheColourPickerOpensOnTheValueAndStoresWhatWasChosen)
{
    struct Case {
        char const* value;
        int choice;
        uint32_t answer; // 0xFFFFFFFF: the picker's colour left as it was
        char const* shown;
        char const* stored;
    } const cases[] = {
        {"255", 1, 0xFF0000, "#ff0000", "16711680"}, // red, then blue chosen
        {"255", 2, 0xFF0000, "#ff0000", "255"},      // cancelled
        {"65280", 1, 0xFFFFFFFF, "#00ff00", "65280"},
        {"0", 1, 0x123456, "#000000", "1193046"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.value);
        std::string shown;
        plat::AddModalResponder(plat::kModalColor, [&](plat::ModalRequest const& r, plat::ModalAnswer& a) {
            shown = r.text;
            a.choice = c.choice;
            if (c.answer != 0xFFFFFFFF)
                a.value = c.answer;
            return true;
        });
        STRING value(c.value);
        DATADIALOG::PushFnctSetColor(nullptr, CONTROLID{}, p, &value);
        EXPECT_EQ(shown, c.shown);
        EXPECT_STREQ(value.Buf(), c.stored);
    }
}

TEST_F(PushTest, TheFontChooserKeepsTheSettingUnlessAnotherFontIsChosen)
{
    struct Case {
        char const* value;
        int choice;
        char const* family;
        uint32_t size;
        std::vector<std::string> styles;
        char const* stored;
    } const cases[] = {
        {"12B.Monaco", 1, "", 0, {}, "12B.Monaco"}, // OK alone keeps it
        {"12B.Monaco", 2, "", 14, {}, "12B.Monaco"},
        {"12B.Monaco", 1, "", 14, {"italic"}, "14I.Monaco"},
        {"9.Courier New", 1, "DejaVu Serif", 0, {}, "9.DejaVu Serif"},
        {"12aF.Monaco", 1, "", 0, {"bold"}, "12BaF.Monaco"}, // the other flags stay
        {"", 1, "", 10, {}, nullptr},                       // no font yet: the one shown
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.value);
        std::vector<std::string> asked;
        std::string shown;
        plat::AddModalResponder(plat::kModalFont, [&](plat::ModalRequest const& r, plat::ModalAnswer& a) {
            asked = r.choices;
            shown = r.text;
            a.choice = c.choice;
            a.text = c.family;
            a.value = c.size;
            a.items = c.styles;
            return true;
        });
        STRING value(c.value);
        DATADIALOG::PushFnctSetFontnamesize(nullptr, CONTROLID{}, p, &value);
        ASSERT_FALSE(asked.empty());
        if (c.stored) {
            EXPECT_STREQ(value.Buf(), c.stored);
        } else {
            EXPECT_EQ(std::string(value.Buf()), "10." + shown);
            EXPECT_FALSE(shown.empty());
        }
    }
}

TEST_F(PushTest, TheFolderIsChosenRelativeToItsBase)
{
    testutil::TempDir base;
    testutil::TempDir elsewhere;
    for (char const* sub : {"logs", "archive/old", "K\xC3\xB6ln"})
        std::filesystem::create_directories(base.file(sub));
    CONTROLID const field = Cid("LOGD", 1);
    std::string const setup = "Logs|" + base.path();
    struct Case {
        std::string setup;
        std::string field;
        std::string typed; // into the folder dialog; empty: cancelled
        std::string shown;
        std::string result;
    } const cases[] = {
        {setup, "logs", base.file("archive/old"), base.file("logs"), "archive/old"},
        {setup, "logs", elsewhere.path(), base.file("logs"), elsewhere.path()},
        {setup, "logs", "", base.file("logs"), "logs"},
        {"Logs", base.file("logs"), base.file("K\xC3\xB6ln"), base.file("logs"), base.file("K\xC3\xB6ln")},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.typed);
        std::vector<std::string> asked;
        AnswerFileDialog(plat::kModalFolder, c.typed, &asked);
        CONTROL(p, field).SetControlTextWide(WSTRING(c.field.c_str(), UNICODE_CPUTF8).Buf());
        STRING value(c.setup.c_str());
        DATADIALOG::PushFnctBrowseForFolder(nullptr, field, p, &value);
        EXPECT_THAT(asked, ElementsAre("Logs|" + c.shown));
        EXPECT_EQ(STRING(CONTROL(p, field).GetTextWide(), UNICODE_CPUTF8).Buf(), c.result);
        EXPECT_STREQ(value.Buf(), c.setup.c_str()); // the set-up text stays
    }
    // The edit-directory button is the same button.
    AnswerFileDialog(plat::kModalFolder, base.file("logs"), nullptr);
    STRING value(setup.c_str());
    DATADIALOG::PushFnctEditDirectory(nullptr, field, p, &value);
    EXPECT_EQ(Text(p, field), "logs");
}

TEST_F(PushTest, AFileNameDefaultsToTheOneTheSetupNames)
{
    testutil::TempDir dir;
    CONTROLID const field = Cid("CAPF", 1);
    STRING value(("Capture to|" + dir.file("capture.txt") + "\nText files|*.txt\nAll files|*.*").c_str());
    std::vector<std::string> asked;
    CONTROL(p, field).SetControlText("");
    AnswerFileDialog(plat::kModalFileSave, "session", &asked);
    DATADIALOG::PushFnctEditFilename(nullptr, field, p, &value);
    EXPECT_EQ(Text(p, field), dir.file("session.txt"));
    CONTROL(p, field).SetControlText(dir.file("mine.txt").c_str());
    AnswerFileDialog(plat::kModalFileSave, "", &asked);
    DATADIALOG::PushFnctEditFilename(nullptr, field, p, &value);
    EXPECT_THAT(asked, ElementsAre("Capture to|" + dir.file("capture.txt"), "Capture to|" + dir.file("mine.txt")));
    EXPECT_EQ(Text(p, field), dir.file("mine.txt")); // cancelled: as it was
}

// Records the sound files played.
class RECORDINGSINK : public plat::AudioSink {
public:
    bool PlayWav(plat::Bytes const&, bool) override { return true; }
    bool PlayFile(std::string const& path) override
    {
        played.push_back(path);
        return true;
    }
    void Alert() override {}
    std::vector<std::string> played;
};

TEST_F(PushTest, SoundsProgramsFoldersPagesAndHelpStartFromTheirField)
{
    // A fake desktop opener on $PATH that writes what it was asked.
    testutil::TempDir dir;
    std::string const bin = dir.path() + "/bin";
    std::filesystem::create_directory(bin);
    std::string const log = dir.file("opened");
    testutil::WriteFile(bin + "/xdg-open", "#!/bin/sh\n{ pwd; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done; } >> \"" +
                                               log + "\"\n");
    chmod((bin + "/xdg-open").c_str(), 0755);
    std::string const oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
    auto sink = std::make_shared<RECORDINGSINK>();
    plat::SetAudioSink(sink);

    CONTROLID const field = Cid("SNDF", 1);
    STRING unused;
    // Empty fields start nothing.
    CONTROL(p, field).SetControlText("");
    DATADIALOG::PushFnctTrySound(nullptr, field, p, &unused);
    DATADIALOG::PushFnctShellExec(nullptr, field, p, &unused);
    DATADIALOG::PushFnctOpenFolder(nullptr, field, p, &unused);
    EXPECT_THAT(sink->played, IsEmpty());
    EXPECT_FALSE(std::filesystem::exists(log));

    CONTROL(p, field).SetControlText("/usr/share/sounds/bell.wav");
    DATADIALOG::PushFnctTrySound(nullptr, field, p, &unused);
    EXPECT_THAT(sink->played, ElementsAre("/usr/share/sounds/bell.wav"));

    CONTROL(p, field).SetControlText(dir.path().c_str());
    DATADIALOG::PushFnctOpenFolder(nullptr, field, p, &unused);
    CONTROL(p, field).SetControlText("notes.txt");
    DATADIALOG::PushFnctShellExec(nullptr, field, p, &unused);
    STRING url("https://example.org/a?b=1&c=$(x)");
    DATADIALOG::PushFnctShowUrl(nullptr, CONTROLID{}, p, &url);
    std::string const cwd = std::filesystem::current_path().string();
    EXPECT_EQ(testutil::ReadFile(log), dir.path() + "\n[" + dir.path() + "]\n" + cwd + "\n[notes.txt]\n" + cwd +
                                           "\n[https://example.org/a?b=1&c=$(x)]\n");

    EXPECT_STREQ(url.Buf(), "https://example.org/a?b=1&c=$(x)");

    // The help topic the button names, from the program's help book.
    RESOURCELANGUAGE english("en");
    HELPFILE::ReleaseInstance();
    HELPFILE::GetInstance()->SetFilename("qor.hlp", true);
    std::filesystem::remove(log);
    static char topic[] = "HLP_MESSAGES";
    DATADIALOG::PushFnctShowHelpTopic(topic, CONTROLID{}, p, &unused);
    EXPECT_THAT(testutil::ReadFile(log), ::testing::EndsWith("#HLP_MESSAGES]\n"));
    HELPFILE::ReleaseInstance();

    plat::SetAudioSink(nullptr);
    setenv("PATH", oldPath.c_str(), 1);
}

TEST_F(PushTest, AButtonInARunningDialogReachesItsPushFunction)
{
    testutil::TempDir dir;
    std::filesystem::create_directory(dir.file("new"));
    STRING folder(dir.path().c_str());
    STRING setup("Where|");
    dialog->AddItem(new ENTRYDATADIALOGITEM(Cid("LOGD", 1), folder, 0));
    dialog->AddItem(
        new PUSHDATADIALOGITEM(Cid("BRWS", 1), setup, &DATADIALOG::PushFnctBrowseForFolder, nullptr, Cid("LOGD", 1)));
    std::vector<std::string> asked;
    AnswerFileDialog(plat::kModalFolder, dir.file("new"), &asked);
    WhileRunning([&](plat::ModalRequest const& r) {
        // A real click on the button.
        CONTROL const button(p, Cid("BRWS", 1));
        RECT const b = button.GetRect();
        plat::testinput::Click(plat::GetSuperview(button.GetControlRef()),
                               plat::PointI{(b.left + b.right) / 2, (b.top + b.bottom) / 2});
        EXPECT_TRUE(plat::IsModalLoopRunning(reinterpret_cast<uintptr_t>(r.window)));
        dialog->Dismiss(plat::FourCC("OKAY"));
    });
    EXPECT_EQ(dialog->Process(), static_cast<int>(plat::FourCC("OKAY")));
    EXPECT_THAT(asked, ElementsAre("Where|" + dir.path()));
    EXPECT_EQ(std::string(folder.Buf()), dir.file("new"));
}

} // namespace
