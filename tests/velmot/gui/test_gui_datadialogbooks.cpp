// Multi-page data dialogs shown as a tree or as tabs: turning pages, what
// each ending stores, rules across pages, help, the title strip, and a
// dialog with every kind of item drawn for review.
#include "tests/support/pixels.h"
#include "tests/velmot/gui/datadialog_fixture.h"
#include "tests/velmot/gui/questions_fixture.h"
#include "velmot/gui/datadialogbooks.h"
#include "velmot/gui/helpfile.h"
#include "velmot/gui/listbox.h"

#include "platform/draw/viewsupport.h"

#include <gmock/gmock.h>

#include <cstdlib>

using namespace guifix;
using ::testing::ElementsAre;

namespace {

using DB = DATADIALOGBASE;

std::unique_ptr<DATADIALOGTREE> MakeTree()
{
    return std::make_unique<DATADIALOGTREE>("DLG_DD_TREE", NoOwner(), Cid("TREE", 1), Cid("TPLC", 1),
                                            Cid("FRAM", 1));
}

class TreeTest : public DataDialogTest {
protected:
    void SetUp() override
    {
        DataDialogTest::SetUp();
        dialog = MakeTree();
        ASSERT_TRUE(dialog->IsValid());
        for (char const* nib : {"DLG_DD_PAGE1", "DLG_DD_PAGE2", "DLG_DD_PAGE3"})
            pages.push_back(dialog->AddPage(nib, labels[pages.size()]));
        ASSERT_NE(pages.back(), nullptr);
    }
    void TearDown() override
    {
        pages.clear();
        dialog.reset();
        DataDialogTest::TearDown();
    }
    CONTROLPARENT Page(int i) { return pages[static_cast<size_t>(i)]->GetControlParent(); }

    char const* const labels[3] = {"General", "Lists", "Actions"};
    std::unique_ptr<DATADIALOGTREE> dialog;
    std::vector<DATADIALOGPAGE*> pages;
};

TEST_F(TreeTest, TheFirstPageShowsAtOnceUnderItsTitle)
{
    EXPECT_EQ(dialog->GetCurrentPageIdx(), 0);
    EXPECT_TRUE(pages[0]->IsVisible());
    EXPECT_FALSE(pages[1]->IsVisible());
    EXPECT_FALSE(pages[2]->IsVisible());
    EXPECT_STREQ(dialog->GetHeader().GetText().Buf(), "General");
    EXPECT_EQ(dialog->GetTree().GetSelectedRecord(), 1);
    EXPECT_EQ(dialog->GetTree().GetNumRecords(), 3);

    // The strip over the frame's top, the page inside the frame below it.
    RECT const frame = CONTROL(dialog->GetControlParent(), Cid("FRAM", 1)).GetRect();
    RECT const strip = dialog->GetHeader().GetRect();
    RECT const page = pages[0]->GetRect();
    EXPECT_EQ(strip.top + 21, frame.top);
    EXPECT_EQ(strip.bottom - strip.top, 22);
    EXPECT_EQ(page.top, strip.bottom);
    EXPECT_EQ(page.left, frame.left + 1);
    EXPECT_EQ(page.right, frame.right - 1);
    EXPECT_EQ(page.bottom, frame.bottom - 1);
}

TEST_F(TreeTest, ChoosingARecordTurnsToItsPage)
{
    dialog->GetTree().SelectRecord(3);
    plat::ProcessPendingEvents(1000);
    EXPECT_EQ(dialog->GetCurrentPageIdx(), 2);
    EXPECT_TRUE(pages[2]->IsVisible());
    EXPECT_FALSE(pages[0]->IsVisible());
    EXPECT_STREQ(dialog->GetHeader().GetText().Buf(), "Actions");
    EXPECT_EQ(pages[2]->GetRect().top, dialog->GetContentRect().top);

    // The record of the page shown: handled, nothing changes.
    CONTROL const tree(dialog->GetTree().GetControlRef());
    EXPECT_TRUE(dialog->OnControlEvent(CONTROLNOTIFY_SELECTION, tree, nullptr));
    EXPECT_EQ(dialog->GetCurrentPageIdx(), 2);
}

TEST_F(TreeTest, WhatIsStoredFollowsHowTheDialogEnds)
{
    STRING host("before");
    STRING own("before");
    pages[0]->AddItem(new ENTRYDATADIALOGITEM(Cid("HOST", 1), host, 0));
    // The dialog's own item, on the strip's neighbour: the frame placard
    // has no text of its own, so a static text of page 1 stands in.
    dialog->AddItem(new PUSHDATADIALOGITEM(
        Cid("OKAY", 9), own, [](void*, CONTROLID, CONTROLPARENT, STRING* v) { *v = "after"; }, nullptr,
        CONTROLID{})); // nibcheck: absent
    enum How { Ok, Cancel, CloseBox, CloseBoxSaving };
    struct Case {
        How how;
        int code;
        bool stored;
    } const cases[] = {
        {Ok, static_cast<int>(plat::FourCC("OKAY")), true},
        {Cancel, 0, false},
        {CloseBox, 0, false},
        {CloseBoxSaving, static_cast<int>(plat::FourCC("OKAY")), true},
        {Ok, static_cast<int>(plat::FourCC("OKAY")), true}, // after a cancel: stores again
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.how));
        host = "before";
        own = "before";
        dialog->SaveWhenClosing(c.how == CloseBoxSaving);
        WhileRunning([&](plat::ModalRequest const& r) {
            Type(Page(0), Cid("HOST", 1), "after");
            dialog->HandlePushbutton(CONTROLID{plat::FourCC("OKAY"), 9}); // nibcheck: absent
            if (c.how == Ok)
                Press(dialog->GetControlParent(), Cid("OKAY", 0));
            else if (c.how == Cancel)
                Press(dialog->GetControlParent(), DIALOG_CANCELBUTTON);
            else
                Close(r.window);
        });
        EXPECT_EQ(dialog->Process(1), c.code);
        EXPECT_EQ(dialog->GetCurrentPageIdx(), 1);
        EXPECT_STREQ(host.Buf(), c.stored ? "after" : "before");
        EXPECT_STREQ(own.Buf(), c.stored ? "after" : "before");
    }
}

TEST_F(TreeTest, PagesShareTheirRules)
{
    // The emulation list of page 2 follows the echo box of page 1.
    pages[1]->AutoDisable(CONTROLPARENT{}, Cid("EMUL", 1), Page(0), Cid("ECHO", 1), DB::DISABLE_IFNOTSET, nullptr);
    Set(Page(0), Cid("ECHO", 1), 0);
    EXPECT_FALSE(Enabled(Page(1), Cid("EMUL", 1)));
    Set(Page(0), Cid("ECHO", 1), 1);
    EXPECT_TRUE(Enabled(Page(1), Cid("EMUL", 1)));
    EXPECT_EQ(pages[2]->GetRuleCount(), 1);
}

TEST_F(TreeTest, HelpShowsTheCurrentPagesTopic)
{
    RESOURCELANGUAGE english("en");
    OPENERRECORDER opener;
    HELPFILE::ReleaseInstance();
    HELPFILE* help = HELPFILE::GetInstance();
    help->SetFilename("qor.hlp", true);
    char const topic[] = "HLP_OPTIONS1";
    pages[2]->SetControlProperty(CPROP_HELPID, topic, sizeof topic);
    dialog->TurnToPage(2);
    PUSHBUTTON(dialog->GetControlParent(), CONTROLID{plat::FourCC("HELP"), 0}).SimulateHit(plat::kControlPartButton);
    // A page whose topic the book lacks: the program's main topic.
    dialog->TurnToPage(0);
    help->SetMainTopic("HLP_SCREEN");
    dialog->OnHelp();
    EXPECT_THAT(opener.Take(), ElementsAre(::testing::EndsWith("#HLP_OPTIONS1"), ::testing::EndsWith("#HLP_SCREEN")));
    HELPFILE::ReleaseInstance();
}

TEST_F(TreeTest, ThirtyTwoPagesAtMost)
{
    for (int i = 3; i < 33; ++i)
        dialog->AddPage(new DATADIALOGPAGE("DLG_DD_PAGE1", dialog->GetControlParent(), nullptr), "more");
    EXPECT_EQ(dialog->GetPageCount(), 32);
    EXPECT_THAT(Reported(), ElementsAre("this->Howmany < this->Max"));
    EXPECT_EQ(dialog->GetPage(32), nullptr);
}

TEST_F(DataDialogTest, ABookPutsItsPagesOnTabs)
{
    DATADIALOGBOOK book("DLG_DD_BOOK", NoOwner(), Cid("TABS", 5), nullptr);
    ASSERT_TRUE(book.IsValid());
    book.GetTabControl().SetControlMaximum(0);
    std::vector<DATADIALOGPAGE*> pages;
    for (char const* nib : {"DLG_DD_PAGE1", "DLG_DD_PAGE2", "DLG_DD_PAGE3"})
        pages.push_back(book.AddPage(nib, nib + 7));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(pages[static_cast<size_t>(i)]->GetId(), Cid("PAGE", i + 1));
    EXPECT_EQ(book.GetCurrentPageIdx(), 0);
    EXPECT_TRUE(pages[0]->IsVisible());

    book.TurnToPage(2);
    EXPECT_EQ(book.GetCurrentPageIdx(), 2);
    EXPECT_TRUE(pages[2]->IsVisible());
    EXPECT_FALSE(pages[0]->IsVisible());

    // The pop-up that stands in for the tabs turns them too.
    POPUPBOX popup(book.GetTabControl().GetBuddy());
    popup.SelectItem(1, 1);
    EXPECT_EQ(book.GetCurrentPageIdx(), 1);
    EXPECT_TRUE(pages[1]->IsVisible());
    EXPECT_FALSE(pages[2]->IsVisible());
}

// ---------------------------------------------------------------------------
// The title strip

class HeaderTest : public DataDialogTest {};

// The white text pixels in the strip.
int WhitePixels(plat::Bitmap const& picture)
{
    int white = 0;
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x)
            white += (picture.Pixel(x, y) & 0xFFFFFF) == 0xFFFFFF;
    return white;
}

TEST_F(HeaderTest, AGradientBandWithTheLabelInWhite)
{
    auto dialog = MakeTree();
    ASSERT_TRUE(Activate(dialog->GetWindow()));
    DATADIALOGTREEHEADER& header = dialog->GetHeader();
    EXPECT_STREQ(header.GetText().Buf(), "Hello World!");
    header.SetText("Terminal");
    auto const picture = plat::GrabView(header.GetControlRef());
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->Height(), 22);
    EXPECT_GT(WhitePixels(*picture), 10);
    // A blue band, lighter above than below, framed in the darker blue.
    uint32_t const above = picture->Pixel(picture->Width() / 2, 3);
    uint32_t const below = picture->Pixel(picture->Width() - 3, 18);
    EXPECT_GT(pixeltest::Blue(above), pixeltest::Red(above));
    EXPECT_GT(pixeltest::Blue(below), pixeltest::Red(below));
    EXPECT_GT(pixeltest::Blue(above) + pixeltest::Green(above), pixeltest::Blue(below) + pixeltest::Green(below));

    header.SetText(nullptr);
    auto const blank = plat::GrabView(header.GetControlRef());
    EXPECT_EQ(WhitePixels(*blank), 0);
}

// ---------------------------------------------------------------------------
// Every kind of item on three pages, drawn for review

TEST_F(DataDialogTest, ATreeDialogWithEveryKindOfItem)
{
    auto dialog = MakeTree();
    DATADIALOGPAGE* general = dialog->AddPage("DLG_DD_PAGE1", "General");
    DATADIALOGPAGE* lists = dialog->AddPage("DLG_DD_PAGE2", "Lists");
    DATADIALOGPAGE* actions = dialog->AddPage("DLG_DD_PAGE3", "Actions");

    STRING host("mainframe.example.org");
    WSTRING title(L"B\u00FCro \u2013 Zentrale \u20AC");
    STRING note("Welcome\r\nto the host");
    int port = 23;
    signed char echo = 1;
    int flags = 0x2;
    STRING cursor("1");
    general->AddItem(new ENTRYDATADIALOGITEM(Cid("HOST", 1), host, 255));
    general->AddItem(new ENTRYDATADIALOGITEM(Cid("WIDE", 1), title, 80));
    general->AddItem(new ENTRYDATADIALOGITEM(Cid("NOTE", 1), note, 0));
    general->AddItem(new SPINDATADIALOGITEM(Cid("PORT", 1), &port, 1, 65535));
    general->AddItem(new CHECKDATADIALOGITEM(Cid("ECHO", 1), &echo));
    general->AddItem(new CHECKDATADIALOGITEM(Cid("WRAP", 1), &flags, 1));
    general->AddItem(new CHECKDATADIALOGITEM(Cid("BELL", 1), &flags, 2));
    for (int k = 0; k < 3; ++k)
        general->AddItem(new RADIODATADIALOGITEM(Cid("CURS", k + 1), cursor, k));

    int emulation = 1;
    STRINGARRAY codepages;
    for (char const* c : {"1252", "437", "850", "UTF-8"})
        codepages.AppendItem(STRING(c));
    STRING codepage("utf-8");
    WSTRINGARRAY devices;
    for (wchar_t const* d : {L"Local shell", L"Telnet", L"SSH", L"Serial line"})
        devices.AppendItem(WSTRING(d));
    WSTRING device(L"SSH");
    HASHLIST hosts;
    for (auto const& [name, id] : {std::pair{"archive", "1"}, std::pair{"build host", "2"},
                                   std::pair{"router", "3"}, std::pair{"mainframe", "4"}}) {
        HASH record;
        record["Name"] = name;
        record["Id"] = id;
        hosts.AppendItem(record);
    }
    STRING chosenHosts("2|4");
    lists->AddItem(new LISTDATADIALOGITEM(Cid("EMUL", 1), &emulation, "VT100|VT220|ANSI|TTY"));
    lists->AddItem(new LISTSTRINGDATADIALOGITEM(Cid("CPAG", 1), codepage, codepages));
    lists->AddItem(new LISTWSTRINGDATADIALOGITEM(Cid("DEVI", 1), device, devices));
    lists->AddItem(new LISTSTRINGHASHDATADIALOGITEM(Cid("HOSL", 1), chosenHosts, hosts, "Name", "Id"));

    STRING logFolder("logs");
    STRING browse("Choose the log folder|/var/tmp");
    STRING capture("");
    STRING edit("Capture to|capture.txt\nText files (*.txt)|*.txt");
    STRING sound("");
    STRING unused;
    STRING colour("255");
    STRING font("12B.Monaco");
    STRING url("https://example.org/");
    signed char logging = 1;
    STRING detail("details");
    actions->AddItem(new ENTRYDATADIALOGITEM(Cid("LOGD", 1), logFolder, 0));
    actions->AddItem(new PUSHDATADIALOGITEM(Cid("BRWS", 1), browse, &DATADIALOG::PushFnctBrowseForFolder, nullptr,
                                            Cid("LOGD", 1)));
    actions->AddItem(new ENTRYDATADIALOGITEM(Cid("CAPF", 1), capture, 0));
    actions->AddItem(new PUSHDATADIALOGITEM(Cid("EDFN", 1), edit, &DATADIALOG::PushFnctEditFilename, nullptr,
                                            Cid("CAPF", 1)));
    actions->AddItem(new ENTRYDATADIALOGITEM(Cid("SNDF", 1), sound, 0));
    actions->AddItem(
        new PUSHDATADIALOGITEM(Cid("PLAY", 1), unused, &DATADIALOG::PushFnctTrySound, nullptr, Cid("SNDF", 1)));
    actions->AddItem(new PUSHDATADIALOGITEM(Cid("COLR", 1), colour, &DATADIALOG::PushFnctSetColor, nullptr, {}));
    actions->AddItem(new PUSHDATADIALOGITEM(Cid("FONT", 1), font, &DATADIALOG::PushFnctSetFontnamesize, nullptr, {}));
    static char topic[] = "HLP_LOGGING";
    actions->AddItem(
        new PUSHDATADIALOGITEM(Cid("HLPT", 1), unused, &DATADIALOG::PushFnctShowHelpTopic, topic, {}));
    actions->AddItem(new PUSHDATADIALOGITEM(Cid("WEBP", 1), url, &DATADIALOG::PushFnctShowUrl, nullptr, {}));
    auto* more = new PUSHBUTTONSUBDIALOG(Cid("MORE", 2), "DLG_DD_SUB", NoOwner());
    more->AddItem(new ENTRYDATADIALOGITEM(Cid("SUBT", 1), detail, 0));
    actions->AddItem(more);
    actions->AddItem(new CHECKDATADIALOGITEM(Cid("LOGO", 1), &logging));
    actions->AutoDisable(CONTROLPARENT{}, Cid("LOGD", 1), CONTROLPARENT{}, Cid("LOGO", 1), DB::DISABLE_IFNOTSET,
                         nullptr);
    actions->AutoDisable(CONTROLPARENT{}, Cid("BRWS", 1), CONTROLPARENT{}, Cid("LOGO", 1), DB::DISABLE_IFNOTSET,
                         nullptr);

    char const* const review = std::getenv("QOR_REVIEW_DIR");
    std::string const folder = review ? review : std::getenv("HOME");
    std::vector<std::unique_ptr<plat::Bitmap>> pictures;
    WhileRunning([&](plat::ModalRequest const& r) {
        CONTROLPARENT const p3 = actions->GetControlParent();
        Set(p3, Cid("LOGO", 1), 0); // the folder and its button go grey
        for (int page = 0; page < 3; ++page) {
            dialog->TurnToPage(page);
            plat::ProcessPendingEvents(1000);
            pictures.push_back(plat::GrabView(plat::WindowRootView(r.window)));
        }
        Press(dialog->GetControlParent(), Cid("OKAY", 0));
    });
    EXPECT_EQ(dialog->Process(0), static_cast<int>(plat::FourCC("OKAY")));
    ASSERT_EQ(pictures.size(), 3u);
    for (size_t i = 0; i < pictures.size(); ++i) {
        ASSERT_TRUE(pictures[i]);
        std::string const path = folder + "/datadialog_tree_page" + std::to_string(i + 1) + ".png";
        EXPECT_TRUE(pictures[i]->SavePng(path)) << path;
        // The page's area is drawn on: labels and controls.
        RECT const content = dialog->GetContentRect();
        EXPECT_FALSE(pixeltest::InkBounds(*pictures[i], content.left + 10, content.top + 10, content.right - 10,
                                          content.top + 60)
                         .empty);
    }

    // Stored as shown: every value came back as it went in.
    EXPECT_STREQ(host.Buf(), "mainframe.example.org");
    EXPECT_EQ(WSTRING::WSTRCMP(title.Buf(), L"B\u00FCro \u2013 Zentrale \u20AC"), 0);
    EXPECT_STREQ(note.Buf(), "Welcome\r\nto the host");
    EXPECT_EQ(port, 23);
    EXPECT_EQ(echo, 1);
    EXPECT_EQ(flags, 0x2);
    EXPECT_STREQ(cursor.Buf(), "1");
    EXPECT_EQ(emulation, 1);
    EXPECT_STREQ(codepage.Buf(), "UTF-8");
    EXPECT_EQ(WSTRING::WSTRCMP(device.Buf(), L"SSH"), 0);
    EXPECT_STREQ(chosenHosts.Buf(), "2|4");
    EXPECT_EQ(logging, 0);
    EXPECT_STREQ(font.Buf(), "12B.Monaco");
}

} // namespace
