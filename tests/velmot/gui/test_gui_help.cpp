// The help: the shipped book and its topics, the topic file's lines,
// aliases, topics found from a control up to its window, the window's
// help, and the contents; what the desktop's opener is asked to open is
// recorded by a stand-in opener.
#include "tests/velmot/gui/questions_fixture.h"
#include "tests/velmot/gui/toolkit_fixture.h"
#include "velmot/gui/helpfile.h"
#include "velmot/gui/winbuttons.h"

#include "platform/services/resources.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>

using namespace guifix;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using plat::FourCC;

namespace {

class HelpTest : public ToolkitTest {
protected:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        HELPFILE::ReleaseInstance();
    }
    void TearDown() override
    {
        HELPFILE::ReleaseInstance();
        ToolkitTest::TearDown();
    }

    // The page and anchor an opened address names: "topic-X.html#A".
    static std::string Page(std::string const& url)
    {
        return url.substr(url.rfind('/') + 1);
    }

    static std::string HelpFolder(std::string const& lang = "en")
    {
        char const* stage = std::getenv("QOR_STAGE_DIR");
        return std::string(stage ? stage : ".") + "/share/qor/Resources/" + lang + ".lproj/Help";
    }

    HELPFILE* Help()
    {
        HELPFILE* help = HELPFILE::GetInstance();
        help->SetFilename("qor.hlp", true);
        return help;
    }

    RESOURCELANGUAGE english{"en"};
    OPENERRECORDER opener;
};

TEST_F(HelpTest, EveryTopicOfTheShippedBookOpensItsPage)
{
    HELPFILE* help = HELPFILE::GetInstance();
    EXPECT_FALSE(help->IsValid());
    EXPECT_STREQ(help->BookTitle.Buf(), "Qor Help");
    EXPECT_STREQ(help->MainTopic.Buf(), "-1");
    help->SetFilename("qor.hlp", true);
    EXPECT_TRUE(help->IsValid());
    ASSERT_GE(help->Topics.NumItems(), 8);
    for (int i = 0; i < help->Topics.NumItems(); ++i) {
        std::string const topic = help->Topics[i]->Buf();
        SCOPED_TRACE(topic);
        EXPECT_EQ(help->Display(topic.c_str()), 1);
        std::vector<std::string> opened = opener.Take();
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0].rfind("file://" + HelpFolder() + "/topic-", 0), 0u) << opened[0];
        EXPECT_EQ(opened[0].substr(opened[0].rfind('#') + 1), topic);
        std::string const page = testutil::ReadFile(HelpFolder() + "/" + Page(opened[0]).substr(0, Page(opened[0]).find('#')));
        EXPECT_TRUE(page.find("id=\"" + topic + "\"") != std::string::npos ||
                    page.find("name=\"" + topic + "\"") != std::string::npos);
    }
    // Undeclared topics show nothing; letter case does not matter.
    EXPECT_EQ(help->Display("HLP_NOSUCHTOPIC"), 0);
    EXPECT_EQ(help->Display(nullptr), 0);
    EXPECT_THAT(opener.Take(), IsEmpty());
    EXPECT_EQ(help->Display("hlp_screen"), 1);
    EXPECT_THAT(opener.Take(), ElementsAre(::testing::EndsWith("/topic-HLP_SCREEN.html#HLP_SCREEN")));

    EXPECT_EQ(help->Contents(true), 1);
    EXPECT_THAT(opener.Take(), ElementsAre(::testing::EndsWith("/topic-CONTENT.html#CONTENT")));
}

// Without the desktop's opener the help is no fault of the program: a plain
// message says what is missing and where the page is; nothing asks whether
// to go on.
TEST_F(HelpTest, WithoutAnOpenerAPlainMessageSaysWhatIsMissing)
{
    HELPFILE* help = Help();
    testutil::TempDir empty;
    char const* path = std::getenv("PATH");
    std::string const saved = path ? path : "";
    setenv("PATH", empty.path().c_str(), 1);
    AlertAnswers alerts(1, -1);
    std::vector<std::string> const& said = alerts.texts;
    EXPECT_EQ(help->Display("HLP_QUICKSTART"), 1);
    EXPECT_EQ(help->Contents(true), 1);
    setenv("PATH", saved.c_str(), 1);
    ASSERT_EQ(said.size(), 2u);
    EXPECT_NE(said[0].find("xdg-open"), std::string::npos) << said[0];
    EXPECT_NE(said[0].find("topic-HLP_QUICKSTART.html#HLP_QUICKSTART"), std::string::npos) << said[0];
    EXPECT_THAT(Reported(), IsEmpty()) << "no question whether to go on";
    EXPECT_THAT(opener.Take(), IsEmpty());
}

TEST_F(HelpTest, TheBooksLinksLeadToPagesWithTheirAnchorsInBothLanguages)
{
    std::regex const link("href=\"(topic-[^\"#]+\\.html)#([^\"]+)\"");
    std::map<std::string, std::vector<std::string>> pages;
    for (std::string const lang : {"en", "de"}) {
        SCOPED_TRACE(lang);
        int links = 0;
        for (auto const& entry : std::filesystem::directory_iterator(HelpFolder(lang))) {
            pages[lang].push_back(entry.path().filename().string());
            if (entry.path().extension() != ".html")
                continue;
            std::string const text = testutil::ReadFile(entry.path().string());
            SCOPED_TRACE(entry.path().filename().string());
            EXPECT_NE(text.find("<html lang=\"" + lang + "\">"), std::string::npos);
            EXPECT_NE(text.find("<title>"), std::string::npos);
            for (std::sregex_iterator it(text.begin(), text.end(), link), end; it != end; ++it, ++links) {
                std::string const target = testutil::ReadFile(HelpFolder(lang) + "/" + (*it)[1].str());
                std::string const anchor = (*it)[2].str();
                EXPECT_TRUE(target.find("id=\"" + anchor + "\"") != std::string::npos ||
                            target.find("name=\"" + anchor + "\"") != std::string::npos)
                    << (*it)[0].str();
            }
        }
        EXPECT_GT(links, 10);
        std::sort(pages[lang].begin(), pages[lang].end());
    }
    EXPECT_EQ(pages["en"], pages["de"]);
}

TEST_F(HelpTest, AGermanUserGetsTheGermanBook)
{
    RESOURCELANGUAGE const german("de");
    HELPFILE* help = Help();
    EXPECT_STREQ(help->BookTitle.Buf(), "Qor-Hilfe");
    EXPECT_EQ(help->Display("HLP_STARTER"), 1);
    EXPECT_THAT(opener.Take(), ElementsAre("file://" + HelpFolder("de") + "/topic-HLP_STARTER.html#HLP_STARTER"));
}

TEST_F(HelpTest, AliasesLeadToTheirTopic)
{
    HELPFILE* help = Help();
    help->AddMapping("IDW_MAINWIN", "HLP_SCREEN");
    EXPECT_EQ(help->Display("idw_mainwin"), 1);
    help->AddMapping("idw_MainWin", "HLP_LOCALSHELL"); // the same alias: its target changes
    EXPECT_EQ(help->NumMappings, 1);
    EXPECT_EQ(help->Display("IDW_MAINWIN"), 1);
    help->AddMapping("OLD_ALIAS", "HLP_NOT_IN_THE_BOOK");
    EXPECT_EQ(help->Display("OLD_ALIAS"), 0);
    EXPECT_THAT(opener.Take(), ElementsAre(::testing::EndsWith("#HLP_SCREEN"), ::testing::EndsWith("#HLP_LOCALSHELL")));

    for (int i = help->NumMappings; i < HELPFILE::MAXMAPPINGS; ++i)
        help->AddMapping(("ALIAS" + std::to_string(i)).c_str(), "HLP_MAIN");
    EXPECT_EQ(help->NumMappings, HELPFILE::MAXMAPPINGS);
    EXPECT_THAT(Reported(), IsEmpty());
    help->AddMapping("ONE_TOO_MANY", "HLP_MAIN");
    EXPECT_THAT(Reported(), ElementsAre("this->NumMappings<ARRAYMAX(this->Mappings)"));
    EXPECT_EQ(help->NumMappings, HELPFILE::MAXMAPPINGS);
}

TEST_F(HelpTest, TheTopicIsFoundFromAControlUpToItsWindow)
{
    HELPFILE* help = Help();
    WINDOW window(WINDOWSTYLE_DOCUMENT, "Help test", 100, 100, 400, 300, nullptr, "HLP_SCREEN");
    plat::ViewRef const client = window.GetClientView();
    plat::ViewRef const pane = plat::CreateUserPane(client, plat::RectI{10, 10, 300, 200}, {FourCC("PANE"), 1});
    plat::ViewRef const inner = plat::CreateUserPane(pane, plat::RectI{10, 10, 100, 50}, {FourCC("INNR"), 1});
    auto setTopic = [](plat::ViewRef view, std::string const& topic) {
        CONTROL(view).SetControlProperty(CPROP_HELPID, topic.c_str(), static_cast<int>(topic.size()) + 1);
    };

    setTopic(pane, "HLP_LOCALSHELL");
    EXPECT_TRUE(help->Display(CONTROLPARENT{inner}));
    // An undeclared topic on the way is passed over; the walk ends below
    // the client view, whose topic is the window's.
    setTopic(inner, "HLP_NOT_DECLARED");
    EXPECT_TRUE(help->Display(CONTROLPARENT{inner}));
    setTopic(pane, "HLP_NOT_DECLARED");
    EXPECT_FALSE(help->Display(CONTROLPARENT{inner}));
    EXPECT_TRUE(help->Display(window.GetClientParent()));
    EXPECT_THAT(opener.Take(), ElementsAre(::testing::EndsWith("#HLP_LOCALSHELL"),
                                           ::testing::EndsWith("#HLP_LOCALSHELL"),
                                           ::testing::EndsWith("#HLP_SCREEN")));
    window.Destroy();
}

TEST_F(HelpTest, AWindowsHelpShowsItsTopicElseTheMainTopic)
{
    WINDOW starter(WINDOWSTYLE_DOCUMENT, "Starter", 100, 100, 300, 200, nullptr, "HLP_STARTER");
    EXPECT_FALSE(starter.OnHelp()); // no help file yet
    EXPECT_THAT(opener.Take(), IsEmpty());

    HELPFILE* help = Help();
    starter.OnHelp();
    // The layout's Help button of a dialog whose name is no topic: the main
    // topic, once there is one.
    WINDOW dialog("DLG_TEST_CONTROLS", nullptr);
    PUSHBUTTON help0(dialog.GetClientParent(), CONTROLID{FourCC("HELP"), 0});
    help0.SimulateHit(plat::kControlPartButton);
    plat::ProcessPendingEvents(1000);
    help->SetMainTopic("HLP_MAIN");
    help0.SimulateHit(plat::kControlPartButton);
    plat::ProcessPendingEvents(1000);
    EXPECT_THAT(opener.Take(), ElementsAre(::testing::EndsWith("/topic-HLP_STARTER.html#HLP_STARTER"),
                                           ::testing::EndsWith("/topic-ID_MAINWINDOW.html#HLP_MAIN")));
    dialog.Destroy();
    starter.Destroy();
}

// A stage of its own with a small book, for the topic file's forms.
class HelpBookTest : public HelpTest {
protected:
    void SetUp() override
    {
        HelpTest::SetUp();
        char const* old = std::getenv("QOR_STAGE_DIR");
        oldStage = old ? old : "";
        std::string const help = stage.file("share/qor/Resources/Help");
        std::filesystem::create_directories(help);
        testutil::WriteFile(help + "/topic-ID_MAINWINDOW.html",
                            "<html><head><meta name=\"AppleTitle\" content=\"Small Book\"></head>\n"
                            "<body><h1 id=\"HLP_MAIN\">Main</h1><a name=\"HLP_MAIN>main\"></a>"
                            "<p id='HLP_OPTIONS'>x</p></body></html>\n");
        setenv("QOR_STAGE_DIR", stage.path().c_str(), 1);
        plat::ClearResourceCache();
    }
    void TearDown() override
    {
        HELPFILE::ReleaseInstance();
        setenv("QOR_STAGE_DIR", oldStage.c_str(), 1);
        plat::ClearResourceCache();
        HelpTest::TearDown();
    }
    void WriteHelp(std::string const& name, std::string const& text)
    {
        testutil::WriteFile(stage.file("share/qor/Resources/Help/" + name), text);
    }

    testutil::TempDir stage;
    std::string oldStage;
};

TEST_F(HelpBookTest, TopicFileLinesGiveTheTextAfterTheirFirstEqualsSignUpToABlank)
{
    // Only the ".cnt" form is there.
    WriteHelp("book.cnt", "2 Overview=HLP_MAIN>main\nHLP_OPTIONS extra\nTitle=HLP_X more=words\n\n"
                          "Crlf=HLP_CR\r\n" + std::string(600, 'L') + "\n");
    HELPFILE* help = HELPFILE::GetInstance();
    EXPECT_STREQ(help->BookTitle.Buf(), "Small Book");
    help->SetFilename("book.hlp", true);
    std::vector<std::string> topics;
    for (int i = 0; i < help->Topics.NumItems(); ++i)
        topics.push_back(help->Topics[i]->Buf());
    EXPECT_THAT(topics, ElementsAre("HLP_MAIN>main", "HLP_OPTIONS", "HLP_X", "", "HLP_CR", std::string(511, 'L')));
    EXPECT_EQ(help->Display("HLP_MAIN>main"), 1);
    EXPECT_EQ(help->Display("hlp_options"), 1);
    EXPECT_THAT(opener.Take(), ElementsAre(::testing::EndsWith("#HLP_MAIN>main"), ::testing::EndsWith("#HLP_OPTIONS")));

    // A declared topic without an anchor in the book is reported.
    EXPECT_EQ(help->Display("HLP_X"), 1);
    EXPECT_THAT(Reported(), ElementsAre("err==noErr"));
    EXPECT_THAT(opener.Take(), IsEmpty());
}

TEST_F(HelpBookTest, AMissingTopicFileOrTitleIsReported)
{
    HELPFILE* help = HELPFILE::GetInstance();
    help->SetFilename("none.hlp", true);
    EXPECT_TRUE(help->IsValid());
    EXPECT_EQ(help->Topics.NumItems(), 0);
    EXPECT_THAT(Reported(), ElementsAre("fhelpcnt!=NULL"));

    HELPFILE::ReleaseInstance();
    WriteHelp("topic-ID_MAINWINDOW.html", "<html><body>no title</body></html>");
    HELPFILE::GetInstance();
    EXPECT_THAT(Reported(), ElementsAre("results.NumItems()==2"));
}

} // namespace
