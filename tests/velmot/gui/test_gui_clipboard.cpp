// The clipboard, offscreen: text written in both flavours (characters
// beyond 16 bits included), appending, UTF-16 preferred when an item has
// both, several items joined, byte strings in code pages, and a clipboard
// without text.
#include "tests/velmot/gui/toolkit_fixture.h"
#include "velmot/gui/clipboard.h"

#include "platform/pasteboard/pasteboard.h"

#include <gmock/gmock.h>

#include <string>

using namespace guifix;
using ::testing::ElementsAre;

namespace {

std::string Utf8(WSTRING const& w)
{
    return w.AsUtf8().Buf();
}

std::string Flavor(char const* flavor)
{
    std::string data;
    EXPECT_EQ(plat::CopyPasteboardItemFlavorData(1, flavor, &data), plat::kNoErr) << flavor;
    return data;
}

// UTF-16 bytes, little-endian as the machine holds them.
std::string Utf16(std::u16string const& units)
{
    return std::string(reinterpret_cast<char const*>(units.data()), units.size() * 2);
}

class ClipboardTest : public ToolkitTest {
protected:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        clipboard = CLIPBOARD::GetInstance();
        ASSERT_EQ(plat::ClearPasteboard(), plat::kNoErr);
    }
    CLIPBOARD* clipboard = nullptr;
};

TEST_F(ClipboardTest, TextGoesOutInBothFlavoursAndComesBack)
{
    std::wstring const text = L"Grüße € \U0001F600 ok";
    EXPECT_TRUE(clipboard->WriteText(text.c_str(), -1, UNICODE_CPDEFAULT, false));
    EXPECT_TRUE(clipboard->IsTextAvailable());
    EXPECT_EQ(std::wstring(clipboard->ReadText().Buf()), text);
    EXPECT_EQ(Flavor(plat::kFlavorUtf8Text), "Grüße € \xF0\x9F\x98\x80 ok");
    EXPECT_EQ(Flavor(plat::kFlavorUtf16Text), Utf16(u"Grüße € \U0001F600 ok"));

    // A length writes that many characters.
    EXPECT_TRUE(clipboard->WriteText(L"abcdef", 3, UNICODE_CPDEFAULT, false));
    EXPECT_EQ(Utf8(clipboard->ReadText()), "abc");
}

TEST_F(ClipboardTest, AppendingPutsALineEndBetween)
{
    ASSERT_TRUE(clipboard->WriteText("xyz", -1, UNICODE_CPDEFAULT, false));
    EXPECT_TRUE(clipboard->WriteText("abc", -1, UNICODE_CPDEFAULT, true));
    EXPECT_EQ(Flavor(plat::kFlavorUtf8Text), "xyz\r\nabc");
    EXPECT_EQ(Flavor(plat::kFlavorUtf16Text), Utf16(u"xyz\r\nabc"));

    // Onto a clipboard without text nothing goes before the text.
    ASSERT_EQ(plat::ClearPasteboard(), plat::kNoErr);
    EXPECT_TRUE(clipboard->WriteText("abc", -1, UNICODE_CPDEFAULT, true));
    EXPECT_EQ(Utf8(clipboard->ReadText()), "abc");
}

TEST_F(ClipboardTest, EachItemGivesItsUtf16TextOrElseItsFirstUtf8Text)
{
    struct Flavors {
        std::vector<std::pair<char const*, std::string>> flavors;
    };
    struct Case {
        char const* why;
        std::vector<Flavors> items;
        char const* text;
    } const cases[] = {
        {"UTF-16 preferred", {{{{plat::kFlavorUtf8Text, "eight"}, {plat::kFlavorUtf16Text, Utf16(u"sixteen")}}}},
         "sixteen"},
        {"plain text is UTF-8", {{{{"text/html", "<p>no</p>"}, {"text/plain", "plain"}}}}, "plain"},
        {"items joined in order",
         {{{{plat::kFlavorUtf8Text, "one"}}}, {{{"image/png", "\x89PNG"}}}, {{{plat::kFlavorUtf16Text, Utf16(u"two")}}}},
         "onetwo"},
        {"a byte-order mark", {{{{plat::kFlavorUtf16Text, std::string("\xFE\xFF\x00\x41\x00\xE4", 6)}}}}, "Aä"},
        {"an odd byte is dropped", {{{{plat::kFlavorUtf16Text, std::string("A\0B", 3)}}}}, "A"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.why);
        ASSERT_EQ(plat::ClearPasteboard(), plat::kNoErr);
        for (size_t i = 0; i < c.items.size(); ++i)
            for (auto const& [flavor, data] : c.items[i].flavors)
                ASSERT_EQ(plat::PutPasteboardItemFlavor(i + 1, flavor, data), plat::kNoErr);
        EXPECT_TRUE(clipboard->IsTextAvailable());
        EXPECT_EQ(Utf8(clipboard->ReadText()), c.text);
    }
}

TEST_F(ClipboardTest, AClipboardWithoutTextReadsAsNothing)
{
    EXPECT_FALSE(clipboard->IsTextAvailable());
    EXPECT_EQ(clipboard->ReadText().Length(), 0);
    ASSERT_EQ(plat::PutPasteboardItemFlavor(1, "image/png", "\x89PNG"), plat::kNoErr);
    EXPECT_FALSE(clipboard->IsTextAvailable());
    EXPECT_EQ(clipboard->ReadText().Length(), 0);
}

TEST_F(ClipboardTest, ByteStringsTravelInTheirCodePage)
{
    // "Grüße €" in code page 1252.
    EXPECT_TRUE(clipboard->WriteText("Gr\xFC\xDF" "e \x80", -1, UNICODE_CPDEFAULT, false));
    EXPECT_EQ(Flavor(plat::kFlavorUtf8Text), "Grüße €");
    EXPECT_STREQ(clipboard->ReadText(UNICODE_CPDEFAULT).Buf(), "Gr\xFC\xDF" "e \x80");
    EXPECT_STREQ(clipboard->ReadText(UNICODE_CPUTF8).Buf(), "Grüße €");
    EXPECT_TRUE(clipboard->WriteText("Gr\xC3\xBC\xC3\x9F" "e", -1, UNICODE_CPUTF8, false));
    EXPECT_EQ(std::wstring(clipboard->ReadText().Buf()), L"Grüße");
}

TEST_F(ClipboardTest, OneInstanceUntilReleased)
{
    EXPECT_EQ(CLIPBOARD::GetInstance(), clipboard);
    CLIPBOARD::ReleaseInstance();
    EXPECT_EQ(CLIPBOARD::pInstance, nullptr);
    clipboard = CLIPBOARD::GetInstance();
    EXPECT_NE(clipboard, nullptr);
    EXPECT_TRUE(clipboard->WriteText(L"again", -1, UNICODE_CPDEFAULT, false));
    EXPECT_EQ(Utf8(clipboard->ReadText()), "again");
}

} // namespace
