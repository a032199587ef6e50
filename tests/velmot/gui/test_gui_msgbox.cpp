// Message boxes: the buttons each question offers and what each answer
// returns, in English and German; the "don't show again" answers kept in
// the caller's HASH; the report of a failed file operation; the gradient.
#include "tests/support/pixels.h"
#include "tests/velmot/gui/toolkit_fixture.h"
#include "tests/velmot/gui/questions_fixture.h"
#include "velmot/core/osys.h"
#include "velmot/gui/windraw.h"
#include "velmot/gui/wintarvo.h"

#include <gmock/gmock.h>

#include <cerrno>
#include <functional>

using namespace guifix;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

using MsgBoxTest = ToolkitTest;

TEST_F(MsgBoxTest, EachQuestionOffersItsButtonsAndTurnsTheAnswerIntoItsResult)
{
    using Ask = std::function<int()>;
    struct Case {
        char const* name;
        Ask ask;
        int button;
        int result;
        std::vector<std::string> buttons;
    };
    std::vector<std::string> const ok = {"OK"};
    std::vector<std::string> const yesNo = {"Yes", "No"};
    std::vector<std::string> const yesNoCancel = {"Yes", "No", "Cancel"};
    Case const cases[] = {
        {"error", [] { return WINTARVO::ErrorMsgBox(nullptr, "Title", "Text"); }, 1, 1, ok},
        {"warning", [] { return WINTARVO::WarningMsgBox(nullptr, "Title", "Text"); }, 1, 1, ok},
        {"information", [] { return WINTARVO::InfoMsgBox(nullptr, "Title", "Text"); }, 1, 1, ok},
        {"yes", [] { return int(WINTARVO::YesNoMsgBox(nullptr, "Title", "Text")); }, 1, 1, yesNo},
        {"no", [] { return int(WINTARVO::YesNoMsgBox(nullptr, "Title", "Text")); }, 2, 0, yesNo},
        {"yes of three", [] { return WINTARVO::YesNoCancelMsgBox(nullptr, "Title", "Text"); }, 1, 1, yesNoCancel},
        {"no of three", [] { return WINTARVO::YesNoCancelMsgBox(nullptr, "Title", "Text"); }, 2, 0, yesNoCancel},
        {"cancel", [] { return WINTARVO::YesNoCancelMsgBox(nullptr, "Title", "Text"); }, 3, -1, yesNoCancel},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        AlertAnswers answers(c.button);
        EXPECT_EQ(c.ask(), c.result);
        EXPECT_THAT(answers.texts, ElementsAre("Title\nText"));
        EXPECT_THAT(answers.buttons, ElementsAre(c.buttons));
    }
}

TEST_F(MsgBoxTest, GermanButtons)
{
    LOCALE const german(LOCALE_GERMAN);
    HASH state;
    AlertAnswers answers(2, 2);
    EXPECT_EQ(WINTARVO::YesNoCancelMsgBox(nullptr, "Titel", "Text"), 0);
    EXPECT_EQ(WINTARVO::YesNoMsgBox(nullptr, "Titel", "Text", state, "frage"), 0);
    EXPECT_THAT(answers.buttons, ElementsAre(ElementsAre("Ja", "Nein", "Abbruch"),
                                             ElementsAre("Ja", "Nein", "Nicht mehr anzeigen")));
}

TEST_F(MsgBoxTest, DontShowAgainIsRememberedInTheCallersHash)
{
    HASH state;
    {
        AlertAnswers answers(3); // "Don't show again"
        WINTARVO::InfoMsgBox(nullptr, "Title", "Note this.", state, "note");
        EXPECT_THAT(answers.buttons, ElementsAre(ElementsAre("OK", "Don't show again")));
    }
    EXPECT_STREQ(state["note"].Buf(), "1");
    {
        AlertAnswers answers(1);
        WINTARVO::InfoMsgBox(nullptr, "Title", "Note this.", state, "note");
        WINTARVO::ErrorMsgBox(nullptr, "Title", "Other key.", state, "other");
        EXPECT_THAT(answers.texts, ElementsAre("Title\nOther key.")); // only the other question
    }
    EXPECT_STREQ(state["other"].Buf(), "0");

    // A yes/no question: "don't show again" counts as yes; a stored 0 asks.
    struct Case {
        char const* stored;
        int button;
        int result;
        char const* after;
        size_t asked;
    } const cases[] = {
        {"", 1, 1, "0", 1}, {"0", 2, 0, "0", 1}, {"0", 3, 1, "1", 1}, {"1", 2, 1, "1", 0}, {"7", 2, 1, "7", 0},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(std::string("stored ") + c.stored + ", button " + std::to_string(c.button));
        HASH q;
        if (*c.stored)
            q["ask"] = c.stored;
        AlertAnswers answers(c.button);
        EXPECT_EQ(WINTARVO::YesNoMsgBox(nullptr, "Title", "Go on?", q, "ask"), c.result);
        EXPECT_STREQ(q["ask"].Buf(), c.after);
        EXPECT_EQ(answers.texts.size(), c.asked);
        if (c.asked) {
            EXPECT_THAT(answers.buttons[0], ElementsAre("Yes", "No", "Don't show again"));
        }
    }
}

TEST_F(MsgBoxTest, DontShowAgainKeepsTheHashLockedAndNamesTheApplicationWithoutATitle)
{
    HASH state;
    state["known"] = "0";
    state.AllowNewKeys(false);
    AlertAnswers answers(1);
    WINTARVO::WarningMsgBox(nullptr, nullptr, "Careful.", state, "fresh");
    EXPECT_THAT(answers.texts, ElementsAre("Qor\nCareful."));
    EXPECT_STREQ(state["fresh"].Buf(), "0");
    EXPECT_TRUE(state.AllowNewKeys(true)) << "the table was left open for new keys";

    EXPECT_EQ(WINTARVO::DontShowAgainMessage(ALERTTYPE_NOTE, false, nullptr, "T", "x", state, nullptr), 0);
    EXPECT_THAT(Reported(), ElementsAre("pstatekey"));
    EXPECT_EQ(answers.texts.size(), 1u);
}

TEST_F(MsgBoxTest, AFailedFileOperationIsReportedWithTheSystemsText)
{
    AlertAnswers answers(1, 3);
    errno = ENOENT;
    EXPECT_EQ(TARVOAPP::VerifyResult(0, "/data/log.txt"), 1);
    errno = 0;
    TARVOAPP::VerifyResult(1, "a.txt");
    {
        LOCALE const german(LOCALE_GERMAN);
        errno = EACCES;
        TARVOAPP::VerifyResult(0, "b.txt");
    }
    // The single line breaks of the texts flow into running text.
    EXPECT_THAT(answers.texts,
                ElementsAre("Qor\nAn error occurred during a file operation Filename: /data/log.txt Error: " +
                                std::string(strerror(ENOENT)),
                            "Qor\nAn error occurred during a file operation Filename: a.txt Error: -",
                            "Qor\nWaehrend einer Dateioperation trat ein Fehler auf. Dateiname: b.txt Fehler: " +
                                std::string(strerror(EACCES))));
}

TEST_F(MsgBoxTest, AlertTextsArePreparedAsTheAlertShowsThem)
{
    EXPECT_STREQ(WINTARVO::WrapMsgBoxString("one\ntwo\n\nthree", -1, 0).Buf(), "one two\r\rthree");
    EXPECT_STREQ(WINTARVO::WrapMsgBoxString("##NOWRAP##\rone\rtwo", -1, 0).Buf(), "one\rtwo");
}

// The gradient, drawn on a bitmap: bands of (height / 50) rows, one line
// per row or column where that is below two.
class Gradient : public ::testing::Test {
protected:
    static constexpr COLORREF kFrom = 0x000000FF; // red
    static constexpr COLORREF kTo = 0x00FF0000;   // blue

    // The colour of pixel (x, y) as 0x00BBGGRR, taken back from the
    // premultiplied pixel (a line may cover its row a little less than
    // wholly); a pixel hardly covered reads as 0xFFFFFFFF.
    COLORREF At(MEMORYBITMAP& bitmap, int x, int y)
    {
        uint32_t const p = bitmap.GetBitmap()->Pixel(x, y);
        int const a = pixeltest::Alpha(p);
        if (a < 200)
            return 0xFFFFFFFF;
        auto channel = [a](int c) { return static_cast<COLORREF>((c * 255 + a / 2) / a); };
        return channel(pixeltest::Red(p)) | (channel(pixeltest::Green(p)) << 8) |
               (channel(pixeltest::Blue(p)) << 16);
    }
    // Whether two colours are the same but for rounding.
    static bool Near(COLORREF a, COLORREF b)
    {
        for (int shift : {0, 8, 16})
            if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > 1)
                return false;
        return true;
    }
};

TEST_F(Gradient, VerticalBandsFollowTheHeightAndHorizontalLinesEachColumn)
{
    struct Case {
        int height;
        int band;
    } const cases[] = {{100, 2}, {30, 1}, {160, 3}};
    for (Case const& c : cases) {
        SCOPED_TRACE(c.height);
        MEMORYBITMAP bitmap(20, c.height);
        WINDC dc(bitmap, bitmap.GetRect(), true);
        RECT const r{0, 0, 20, c.height};
        EXPECT_EQ(WINTARVO::FillRectGradient(dc, &r, kFrom, kTo, true), 1);
        for (int y = 0; y < c.height; ++y) {
            int const bandTop = y / c.band * c.band;
            COLORREF const want = OSYS::CalcColorBlend(kFrom, kTo, double(bandTop) / c.height * 100.0);
            ASSERT_TRUE(Near(At(bitmap, 10, y), want)) << "row " << y << ": " << std::hex << At(bitmap, 10, y)
                                                       << " for " << want;
        }
        EXPECT_NE(At(bitmap, 0, 0), At(bitmap, 0, c.band)); // the bands differ
    }

    MEMORYBITMAP bitmap(40, 10);
    WINDC dc(bitmap, bitmap.GetRect(), true);
    RECT const r{0, 0, 40, 10};
    EXPECT_EQ(WINTARVO::FillRectGradient(dc, &r, kFrom, kTo, false), 1);
    for (int x = 0; x < 40; ++x)
        ASSERT_TRUE(Near(At(bitmap, x, 5), OSYS::CalcColorBlend(kFrom, kTo, double(x) / 40 * 100.0))) << x;
    EXPECT_TRUE(Near(At(bitmap, 0, 0), kFrom));

    // One colour: a plain fill.
    EXPECT_EQ(WINTARVO::FillRectGradient(dc, &r, kTo, kTo, false), dc.FillRect(&r, kTo));
    EXPECT_TRUE(Near(At(bitmap, 39, 9), kTo));
}

} // namespace
