// The clipboard as a pasteboard, offscreen: items and flavours put and read
// back, what other programs see of them, the change of owner when someone
// else puts something on the clipboard, and the packing of further items.
#include "platform/pasteboard/pasteboard.h"
#include "tests/platform/events/qt_fixture.h"

#include <gmock/gmock.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <string>
#include <vector>

using ::testing::ElementsAre;

namespace {

std::vector<std::string> Flavors(size_t item)
{
    std::vector<std::string> flavors;
    EXPECT_EQ(plat::CopyPasteboardItemFlavors(item, &flavors), plat::kNoErr);
    return flavors;
}

std::string Data(size_t item, std::string const& flavor)
{
    std::string data;
    EXPECT_EQ(plat::CopyPasteboardItemFlavorData(item, flavor, &data), plat::kNoErr) << flavor;
    return data;
}

size_t Count()
{
    size_t count = 99;
    EXPECT_EQ(plat::GetPasteboardItemCount(&count), plat::kNoErr);
    return count;
}

class PasteboardTest : public qtfix::QtTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(plat::ClearPasteboard(), plat::kNoErr);
        plat::SynchronizePasteboard();
    }
};

TEST_F(PasteboardTest, ItemsAndFlavoursComeBackAsPut)
{
    EXPECT_EQ(plat::SynchronizePasteboard(), plat::kPasteboardClientIsOwner);
    EXPECT_EQ(Count(), 0u);

    std::string const utf16("a\0b\0", 4);
    ASSERT_EQ(plat::PutPasteboardItemFlavor(1, plat::kFlavorUtf8Text, "ab"), plat::kNoErr);
    ASSERT_EQ(plat::PutPasteboardItemFlavor(1, plat::kFlavorUtf16Text, utf16), plat::kNoErr);
    ASSERT_EQ(plat::PutPasteboardItemFlavor(2, plat::kFlavorUtf8Text, "second"), plat::kNoErr);
    ASSERT_EQ(plat::PutPasteboardItemFlavor(2, plat::kFlavorUtf8Text, "2nd"), plat::kNoErr); // replaces
    EXPECT_EQ(Count(), 2u);
    EXPECT_THAT(Flavors(1), ElementsAre(plat::kFlavorUtf8Text, plat::kFlavorUtf16Text));
    EXPECT_EQ(Data(1, plat::kFlavorUtf16Text), utf16);
    EXPECT_EQ(Data(2, plat::kFlavorUtf8Text), "2nd");
    EXPECT_EQ(plat::SynchronizePasteboard(), plat::kPasteboardClientIsOwner); // our own puts change nothing

    // Out of range, gaps and missing flavours.
    std::string data;
    std::vector<std::string> flavors;
    EXPECT_EQ(plat::CopyPasteboardItemFlavors(3, &flavors), plat::kErrPasteboardIndex);
    EXPECT_EQ(plat::CopyPasteboardItemFlavors(0, &flavors), plat::kErrPasteboardIndex);
    EXPECT_EQ(plat::CopyPasteboardItemFlavorData(2, plat::kFlavorUtf16Text, &data), plat::kErrPasteboardFlavor);
    EXPECT_EQ(plat::PutPasteboardItemFlavor(4, plat::kFlavorUtf8Text, "gap"), plat::kErrBadArgument);
    EXPECT_EQ(plat::PutPasteboardItemFlavor(1, plat::kFlavorMoreItems, "x"), plat::kErrBadArgument);
}

TEST_F(PasteboardTest, OtherProgramsSeePlainTextAndOurFurtherItemsPrivately)
{
    ASSERT_EQ(plat::PutPasteboardItemFlavor(1, plat::kFlavorUtf8Text, "gr\xC3\xBC\xC3\x9F"), plat::kNoErr);
    ASSERT_EQ(plat::PutPasteboardItemFlavor(2, "text/html", "<b>x</b>"), plat::kNoErr);
    QMimeData const* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("gr\xC3\xBC\xC3\x9F"));
    EXPECT_TRUE(data->hasFormat(plat::kFlavorMoreItems));
    QByteArray const packed = data->data(plat::kFlavorMoreItems);
    std::vector<plat::PasteboardItem> more = plat::DecodeMoreItems(std::string_view(packed.data(), packed.size()));
    ASSERT_EQ(more.size(), 1u);
    EXPECT_THAT(more[0], ElementsAre(std::make_pair(std::string("text/html"), std::string("<b>x</b>"))));
}

TEST_F(PasteboardTest, AnotherOwnerTakesTheClipboardOver)
{
    ASSERT_EQ(plat::PutPasteboardItemFlavor(1, plat::kFlavorUtf8Text, "ours"), plat::kNoErr);

    // Someone else puts text and two further items in our private form.
    auto* outside = new QMimeData;
    outside->setText("theirs");
    std::string const packed = plat::EncodeMoreItems({{{"text/plain", "two"}}, {{"image/png", "\x89PNG"}}});
    outside->setData(plat::kFlavorMoreItems, QByteArray(packed.data(), static_cast<int>(packed.size())));
    QGuiApplication::clipboard()->setMimeData(outside);

    EXPECT_EQ(plat::SynchronizePasteboard(), plat::kPasteboardModified);
    EXPECT_EQ(plat::SynchronizePasteboard(), 0u); // reported once
    EXPECT_EQ(Count(), 3u);
    EXPECT_THAT(Flavors(1), ElementsAre("text/plain"));
    EXPECT_EQ(Data(1, "text/plain"), "theirs");
    EXPECT_EQ(Data(2, "text/plain"), "two");
    EXPECT_THAT(Flavors(3), ElementsAre("image/png"));
    EXPECT_EQ(plat::PutPasteboardItemFlavor(1, plat::kFlavorUtf8Text, "late"), plat::kErrPasteboardNotOwner);

    // An empty clipboard has no items.
    QGuiApplication::clipboard()->clear();
    EXPECT_EQ(Count(), 0u);
    EXPECT_EQ(plat::ClearPasteboard(), plat::kNoErr);
    EXPECT_EQ(plat::SynchronizePasteboard(), plat::kPasteboardClientIsOwner);
}

TEST(Pasteboard, TextFlavoursAreRecognised)
{
    struct Case {
        char const* flavor;
        bool utf16;
        bool utf8;
    } const cases[] = {
        {"text/plain;charset=utf-16", true, false},
        {"text/plain; charset=UTF-16", true, false},
        {"text/plain;charset=utf-8", false, true},
        {"text/plain", false, true},
        {"TEXT/PLAIN;CHARSET=UTF8", false, true},
        {"text/plain;charset=iso-8859-1", false, false},
        {"text/html", false, false},
        {"application/x-qor-pasteboard-items", false, false},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.flavor);
        EXPECT_EQ(plat::FlavorIsUtf16Text(c.flavor), c.utf16);
        EXPECT_EQ(plat::FlavorIsUtf8Text(c.flavor), c.utf8);
    }
}

TEST(Pasteboard, FurtherItemsDecodeOnlyAsFarAsTheyAreWhole)
{
    std::vector<plat::PasteboardItem> const items = {{{"a", "1"}, {"b", std::string("\0\1", 2)}}, {}, {{"c", ""}}};
    std::string const packed = plat::EncodeMoreItems(items);
    EXPECT_EQ(plat::DecodeMoreItems(packed), items);
    // Every cut keeps the whole items before it and nothing of the torn one.
    for (size_t cut = 0; cut < packed.size(); ++cut) {
        std::vector<plat::PasteboardItem> got = plat::DecodeMoreItems(std::string_view(packed).substr(0, cut));
        ASSERT_LE(got.size(), items.size());
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(got[i], items[i]) << "cut " << cut;
    }
    // Lengths beyond the data, and a flavour count no data could hold.
    EXPECT_TRUE(plat::DecodeMoreItems(std::string("\1\0\0\0\xFF\xFF\xFF\x7F", 8)).empty());
    EXPECT_TRUE(plat::DecodeMoreItems(std::string("\xFF\xFF\xFF\xFF", 4)).empty());
}

} // namespace
