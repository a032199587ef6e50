// The tip of the day: tip files read into tips, when the style says it is
// time, the tips shown one after another with their headings, the style
// chosen and the next tip kept in the registry store, and the dialog's
// layout as shown.
#include "tests/velmot/gui/questions_fixture.h"
#include "tests/velmot/gui/toolkit_fixture.h"
#include "velmot/core/osys.h"
#include "velmot/core/registry.h"
#include "velmot/gui/winbuttons.h"
#include "velmot/gui/winlists.h"
#include "velmot/gui/wintarvo.h"

#include <gmock/gmock.h>

#include <functional>

using namespace guifix;
using ::testing::ElementsAre;
using plat::FourCC;

namespace {

constexpr CONTROLID kIcon{FourCC("IDC_"), 13};
constexpr CONTROLID kHeading{FourCC("IDC_"), 14};
constexpr CONTROLID kText{FourCC("IDC_"), 15};
constexpr CONTROLID kStyle{FourCC("IDC_"), 16};
constexpr CONTROLID kRowLeft{FourCC("IDC_"), 18};
constexpr CONTROLID kRowRight{FourCC("IDC_"), 19};
constexpr CONTROLID kNext{FourCC("OKAY"), 0};
constexpr CONTROLID kClose{FourCC("BACK"), 0};

std::vector<std::string> Texts(STRINGARRAY const& tips)
{
    std::vector<std::string> out;
    for (int i = 0; i < tips.NumItems(); ++i)
        out.push_back(WSTRING(*tips[i]).AsUtf8().Buf());
    return out;
}

std::string Utf8(WSTRING const& w)
{
    return w.AsUtf8().Buf();
}

TEST(TipFile, LinesOrSectionsBecomeTips)
{
    struct Case {
        char const* name;
        std::string file;
        std::vector<std::string> tips;
    } const cases[] = {
        {"one tip a line", "first\r\n\r\nsecond\nthird", {"first", "second", "third"}},
        {"sections",
         "title=Heading\nline one\nline two\n[TIP]\nno heading\n\nnext paragraph\n[tip]\n",
         {"Heading|line one line two ", "no heading \r\n\r\nnext paragraph "}},
        {"the last section needs no marker", "[TIP]\n  title=Late  \n\tlast words\t\n", {"Late|last words "}},
        {"empty sections are no tips", "[TIP]\n[TIP]\n\n[TIP]\ntitle=Only a heading\n[TIP]", {}},
        {"platforms", "platform=darwin\nmac only\n[TIP]\nplatform= Linux \nours\n[TIP]\nall\n[TIP]",
         {"ours ", "all "}},
        {"UTF-8", "title=Grüße\nÜbertragung läuft\n[TIP]", {"Grüße|Übertragung läuft "}},
        {"code page 1252", "title=Gr\xFC\xDF" "e\n[TIP]", {}}, // a heading without text
        {"code page 1252 text", "Gr\xFC\xDF" "e", {"Grüße"}},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Texts(WINTARVO::ParseTips(c.file)), c.tips);
    }
}

TEST(TipFile, TheShippedTipsHaveHeadingsAndMatchInBothLanguages)
{
    std::vector<std::string> counts;
    std::vector<size_t> sizes;
    for (char const* lang : {"en", "de"}) {
        SCOPED_TRACE(lang);
        std::string const text =
            testutil::ReadFile(testutil::SourceDir() + "/../resources/" + lang + ".lproj/tips.txt");
        std::vector<std::string> tips = Texts(WINTARVO::ParseTips(text));
        sizes.push_back(tips.size());
        EXPECT_GE(tips.size(), 5u);
        for (std::string const& tip : tips) {
            size_t const bar = tip.find('|');
            ASSERT_NE(bar, std::string::npos) << tip;
            EXPECT_GT(bar, 3u) << tip;
            EXPECT_GT(tip.size() - bar, 40u) << tip;
        }
    }
    EXPECT_EQ(sizes[0], sizes[1]);
}

class TipOfDayTest : public ToolkitTest {
protected:
    static constexpr char const* kKey = "QorTipTest";

    void SetUp() override
    {
        ToolkitTest::SetUp();
        Reset();
        owner = std::make_unique<RECWINDOW>(WINDOWSTYLE_DOCUMENT, "Qor - session", 100, 100, 400, 300);
    }
    static void Reset()
    {
        REGISTRY reg(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", kKey, REGISTRY::READWRITE);
        for (char const* name : {"TipOfDayStyle", "TipOfDayLast", "TipOfDayCount"})
            reg.DeleteValue(name);
    }
    void TearDown() override
    {
        owner.reset();
        ToolkitTest::TearDown();
    }

    static long long Today() { return static_cast<long long>(OSYS::GetLTime() / 86400); }
    static void Store(char const* name, std::string const& value)
    {
        REGISTRY reg(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", kKey, REGISTRY::READWRITE);
        reg.Write(name, value.c_str());
    }
    static std::string Stored(char const* name)
    {
        REGISTRY reg(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", kKey, REGISTRY::READWRITE);
        STRING value;
        return reg.Read(name, &value) ? value.Buf() : "<none>";
    }

    // Each time the dialog runs: records "heading|text" and presses the
    // buttons of `presses` in turn (then Close).
    void Answer(std::vector<CONTROLID> presses, std::function<void(WINDOW&)> look = nullptr)
    {
        plat::AddModalResponder(
            plat::kModalWindow,
            [this, presses, look](plat::ModalRequest const& r, plat::ModalAnswer&) {
                WINDOW dialog(r.window);
                shown.push_back(Utf8(dialog.GetControlTextWide(kHeading)) + "|" +
                                Utf8(dialog.GetControlTextWide(kText)));
                if (look)
                    look(dialog);
                CONTROLID const button = pressed < presses.size() ? presses[pressed] : kClose;
                ++pressed;
                PUSHBUTTON(dialog.GetClientParent(), button).SimulateHit(plat::kControlPartButton);
                return true;
            },
            -1);
    }

    STRINGARRAY Tips(std::vector<char const*> const& texts)
    {
        STRINGARRAY tips;
        for (char const* t : texts)
            tips.AppendItem(STRING(t, UNICODE_CPUTF8));
        return tips;
    }

    RESOURCELANGUAGE english{"en"};
    std::unique_ptr<RECWINDOW> owner;
    std::vector<std::string> shown;
    size_t pressed = 0;
};

TEST_F(TipOfDayTest, TheStyleSaysWhenItIsTime)
{
    struct Case {
        char const* style;
        long long daysAgo; // -1: never shown
        bool force;
        bool show;
    } const cases[] = {
        {nullptr, -1, false, true}, // no style yet: once a day
        {"", 0, false, false},      {"2", 1, false, true},  {"2", 0, false, false}, {"1", 0, false, true},
        {"3", 1, false, false},     {"3", 2, false, true},  {"4", 6, false, false}, {"4", 7, false, true},
        {"0", 100, false, false},   {"0", 100, true, true}, {"5", 100, false, false},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(std::string("style ") + (c.style ? c.style : "<none>") + ", " + std::to_string(c.daysAgo) +
                     " days" + (c.force ? ", forced" : ""));
        Reset();
        if (c.style)
            Store("TipOfDayStyle", c.style);
        if (c.daysAgo >= 0)
            Store("TipOfDayLast", std::to_string(Today() - c.daysAgo));
        shown.clear();
        pressed = 0;
        Answer({});
        WINTARVO::TipOfTheDay(*owner, Tips({"one"}), kKey, c.force);
        EXPECT_EQ(shown.size(), c.show ? 1u : 0u);
        if (c.show) {
            EXPECT_EQ(Stored("TipOfDayLast"), std::to_string(Today()));
        }
        plat::ClearModalResponders();
    }
}

TEST_F(TipOfDayTest, TipsFollowEachOtherAndTheNextOneIsKept)
{
    Store("TipOfDayCount", "1");
    Answer({kNext, kNext});
    WINTARVO::TipOfTheDay(*owner, Tips({"Heading A|Text A", "Text B", "Heading C|Text C"}), kKey, true);
    // From the second tip on; the third wraps round to the first. A tip
    // without a heading leaves the heading shown.
    EXPECT_THAT(shown, ElementsAre("Did you know ...|Text B", "Heading C|Text C", "Heading A|Text A"));
    EXPECT_EQ(Stored("TipOfDayCount"), "1");

    // A count beyond the tips starts at the first.
    Store("TipOfDayCount", "3");
    shown.clear();
    plat::ClearModalResponders();
    Answer({});
    WINTARVO::TipOfTheDay(*owner, Tips({"  Heading A|Text\r A  ", "b", "c"}), kKey, true);
    EXPECT_THAT(shown, ElementsAre("Heading A|Text A"));
    EXPECT_EQ(Stored("TipOfDayCount"), "1");
}

TEST_F(TipOfDayTest, EmptyTipsAreSkippedWhenForcedAndEndTheTipsOtherwise)
{
    Answer({});
    WINTARVO::TipOfTheDay(*owner, Tips({" ", "\t", "real"}), kKey, true);
    EXPECT_THAT(shown, ElementsAre("Did you know ...|real"));
    EXPECT_EQ(Stored("TipOfDayCount"), "3");

    shown.clear();
    Reset(); // due today
    WINTARVO::TipOfTheDay(*owner, Tips({" ", "real"}), kKey, false);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(Stored("TipOfDayCount"), "1");

    // Nothing to show at all: the loop ends after one pass.
    WINTARVO::TipOfTheDay(*owner, Tips({"", " ", "\r"}), kKey, true);
    EXPECT_TRUE(shown.empty());
}

TEST_F(TipOfDayTest, TheStyleChosenIsStored)
{
    Store("TipOfDayStyle", "1");
    std::vector<std::string> items;
    int selected = -2;
    Answer({}, [&](WINDOW& dialog) {
        POPUPBOX styles(dialog.GetClientParent(), kStyle);
        for (int i = 0; i < styles.GetItemCount(); ++i)
            items.push_back(styles.GetItemText(i).Buf());
        selected = styles.GetSelectedItem(0);
        styles.SelectItem(4, 1);
    });
    WINTARVO::TipOfTheDay(*owner, Tips({"tip"}), kKey, false);
    EXPECT_THAT(items, ElementsAre("Never show tips", "Show tips at every start", "Show tips once a day",
                                   "Show tips every other day", "Show tips once a week"));
    EXPECT_EQ(selected, 1);
    EXPECT_EQ(Stored("TipOfDayStyle"), "4");
}

TEST_F(TipOfDayTest, TheDialogIsLaidOutBeforeItShows)
{
    RECT icon{}, heading{}, text{}, left{}, right{};
    bool leftShown = true;
    std::string title;
    Answer({}, [&](WINDOW& dialog) {
        CONTROLPARENT const p = dialog.GetClientParent();
        icon = CONTROL(p, kIcon).GetRect();
        heading = CONTROL(p, kHeading).GetRect();
        text = CONTROL(p, kText).GetRect();
        left = CONTROL(p, kRowLeft).GetRect();
        right = CONTROL(p, kRowRight).GetRect();
        leftShown = CONTROL(p, kRowLeft).IsVisible();
        title = dialog.GetText().Buf();
    });
    WINTARVO::TipOfTheDay(*owner, Tips({"tip"}), kKey, true);
    // The layout's icon sits at the left (20, 20, 32 x 32); heading and text
    // start 4 right of it and keep their right edges; the icon moves there.
    EXPECT_EQ(heading.left, 24);
    EXPECT_EQ(text.left, 24);
    EXPECT_EQ(heading.right, 440);
    EXPECT_EQ(icon.right, text.right);
    EXPECT_EQ(icon.right - icon.left, 32);
    EXPECT_EQ(icon.top, 20);
    EXPECT_FALSE(leftShown);
    EXPECT_EQ(right.left, left.left);
    EXPECT_EQ(title, "Qor Tip of the Day");

    // An owner whose title starts with "<" lends no word to the title.
    owner->SetText("<untitled> session");
    WINTARVO::TipOfTheDay(*owner, Tips({"tip"}), kKey, true);
    EXPECT_EQ(title, "Tip of the Day");
}

TEST_F(TipOfDayTest, TipsComeFromTheResourceFileOfTheLanguage)
{
    Answer({});
    WINTARVO::TipOfTheDay(*owner, "tips.txt", kKey, true);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].substr(0, shown[0].find('|')), "Tips at your own pace");

    shown.clear();
    {
        RESOURCELANGUAGE const german("de");
        WINTARVO::TipOfTheDay(*owner, "tips.txt", kKey, true);
    }
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].substr(0, shown[0].find('|')), "Zurückblättern"); // the first tip was seen

    shown.clear();
    WINTARVO::TipOfTheDay(*owner, "no-such-tips.txt", kKey, true);
    EXPECT_TRUE(shown.empty());
}

} // namespace
