// Data browsers: the browser keeps ids and order and asks its client only
// for what it paints; sorted insertion, selections that survive a sort,
// containers, refusals.
#include "platform/controls/databrowser.h"
#include "platform/draw/viewsupport.h"
#include "tests/platform/events/qt_fixture.h"

#include <gmock/gmock.h>

#include <map>
#include <string>
#include <vector>

using namespace plat;
using qtfix::QtTest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr DataBrowserPropertyId kName = FourCC("name");
constexpr DataBrowserPropertyId kSize = FourCC("size");

// Rows of a name and a number; counts what the browser asks.
class Rows final : public DataBrowserClient {
public:
    std::map<DataBrowserItemId, std::pair<std::string, int>> rows;
    std::map<DataBrowserItemId, std::vector<DataBrowserItemId>> children;
    std::vector<std::string> notes;
    int cells = 0;
    int comparisons = 0;
    int runs = 0;
    uint16_t order = kDataBrowserOrderIncreasing;

    bool GetCell(DataBrowserItemId item, DataBrowserPropertyId property, DataBrowserCell* cell) override
    {
        ++cells;
        auto it = rows.find(item);
        if (it == rows.end())
            return false;
        cell->text = Text::FromUtf8(property == kName ? it->second.first : std::to_string(it->second.second));
        return true;
    }
    bool ItemLess(DataBrowserItemId a, DataBrowserItemId b, DataBrowserPropertyId property) override
    {
        ++comparisons;
        // The answer is for the order shown.
        bool const less = property == kName ? rows[a].first < rows[b].first : rows[a].second < rows[b].second;
        bool const more = property == kName ? rows[b].first < rows[a].first : rows[b].second < rows[a].second;
        return order == kDataBrowserOrderDecreasing ? more : less;
    }
    void BeginComparing(DataBrowserPropertyId, uint16_t o) override
    {
        ++runs;
        order = o;
    }
    bool IsContainer(DataBrowserItemId item) override { return children.count(item) != 0; }
    void Notify(DataBrowserItemId item, DataBrowserNotification what) override
    {
        notes.push_back(std::to_string(item) + " " + std::to_string(what));
        if (what == kDataBrowserContainerOpened)
            opened.push_back(item);
    }
    Text HelpText(DataBrowserItemId item, DataBrowserPropertyId) override
    {
        return item == 2 ? Text::FromUtf8("two") : Text();
    }
    std::vector<DataBrowserItemId> opened;
};

class DataBrowserTest : public QtTest {
protected:
    void SetUp() override
    {
        window_ = MakeWindow(400, 300);
        ControlSpec spec;
        spec.kind = kControlKindDataBrowser;
        spec.frame = RectI{0, 0, 400, 300};
        view_ = CreateControl(WindowContentView(window_), spec);
        ASSERT_NE(view_, nullptr);
        DataBrowserColumnSpec name;
        name.property = kName;
        name.title = Text::FromUtf8("Name");
        name.flags = kDataBrowserListViewSortableColumn;
        ASSERT_EQ(AddDataBrowserColumn(view_, name, 0), kNoErr);
        DataBrowserColumnSpec size = name;
        size.property = kSize;
        ASSERT_EQ(AddDataBrowserColumn(view_, size, 1), kNoErr);
        ASSERT_EQ(SetDataBrowserClient(view_, &rows_), kNoErr);
    }
    void TearDown() override
    {
        SetDataBrowserClient(view_, nullptr);
        QtTest::TearDown();
    }
    void Add(DataBrowserItemId id, std::string name, int size, DataBrowserItemId container = 0)
    {
        rows_.rows[id] = {std::move(name), size};
        ASSERT_EQ(AddDataBrowserItems(view_, container, std::span(&id, 1)), kNoErr);
    }
    std::vector<DataBrowserItemId> Shown()
    {
        std::vector<DataBrowserItemId> out;
        DataBrowserItemId item = 0;
        for (int row = 0; GetDataBrowserItemAtRow(view_, row, &item) == kNoErr; ++row)
            out.push_back(item);
        return out;
    }

    WindowRef window_ = nullptr;
    ViewRef view_ = nullptr;
    Rows rows_;
};

TEST_F(DataBrowserTest, APaintAsksForTheVisibleCellsOnly)
{
    std::vector<DataBrowserItemId> ids;
    for (DataBrowserItemId id = 1; id <= 10000; ++id) {
        rows_.rows[id] = {"row " + std::to_string(id), static_cast<int>(id)};
        ids.push_back(id);
    }
    ASSERT_EQ(AddDataBrowserItems(view_, 0, ids), kNoErr);
    EXPECT_EQ(rows_.cells, 0); // adding asks nothing
    rows_.cells = 0;
    ASSERT_TRUE(GrabView(view_));
    int const visible = 300 / GetDataBrowserRowHeight(view_) + 2;
    EXPECT_GT(rows_.cells, 0);
    EXPECT_LE(rows_.cells, visible * 2 * 2); // two columns, a second paint at most
    // Scrolled to the end, the last rows are asked for.
    rows_.cells = 0;
    SetDataBrowserScrollPosition(view_, 1 << 30, 0);
    ASSERT_TRUE(GrabView(view_));
    EXPECT_LE(rows_.cells, visible * 2 * 2);
    EXPECT_EQ(CountDataBrowserItems(view_, 0, true), 10000);
}

TEST_F(DataBrowserTest, SortedListsPlaceNewItemsAndKeepTheSelection)
{
    Add(1, "delta", 4);
    Add(2, "alpha", 1);
    Add(3, "charlie", 3);
    EXPECT_THAT(Shown(), ElementsAre(1u, 2u, 3u)); // insertion order without a sort property
    EXPECT_EQ(rows_.comparisons, 0);
    ASSERT_EQ(SetDataBrowserSelectedItems(view_, std::vector<DataBrowserItemId>{1, 3}, DataBrowserSetOption::Assign),
              kNoErr);
    rows_.notes.clear();

    ASSERT_EQ(SetDataBrowserSortProperty(view_, kName), kNoErr);
    EXPECT_THAT(Shown(), ElementsAre(2u, 3u, 1u));
    EXPECT_EQ(rows_.runs, 1);
    // The selection is the same items in their new rows.
    EXPECT_THAT(GetDataBrowserSelectedItems(view_), ElementsAre(3u, 1u));
    EXPECT_THAT(rows_.notes, IsEmpty());

    // A new item finds its place by a few comparisons.
    rows_.comparisons = 0;
    Add(4, "bravo", 2);
    EXPECT_THAT(Shown(), ElementsAre(2u, 4u, 3u, 1u));
    EXPECT_LE(rows_.comparisons, 3);
    EXPECT_TRUE(IsDataBrowserItemSelected(view_, 1));
    EXPECT_FALSE(IsDataBrowserItemSelected(view_, 4));

    // Decreasing: the client's answer is taken as it is.
    ASSERT_EQ(SetDataBrowserSortOrder(view_, kDataBrowserOrderDecreasing), kNoErr);
    EXPECT_THAT(Shown(), ElementsAre(1u, 3u, 4u, 2u));
    ASSERT_EQ(SetDataBrowserSort(view_, kSize, kDataBrowserOrderIncreasing), kNoErr);
    EXPECT_THAT(Shown(), ElementsAre(2u, 4u, 3u, 1u));
    EXPECT_EQ(CountDataBrowserSelectedItems(view_), 2);

    ASSERT_EQ(RemoveDataBrowserItems(view_, std::vector<DataBrowserItemId>{3, 99}), kNoErr);
    EXPECT_THAT(Shown(), ElementsAre(2u, 4u, 1u));
    EXPECT_THAT(GetDataBrowserSelectedItems(view_), ElementsAre(1u));
    rows_.notes.clear();
    ASSERT_EQ(RemoveAllDataBrowserItems(view_), kNoErr);
    EXPECT_THAT(rows_.notes, ElementsAre("0 14")); // the selection went with them
    EXPECT_THAT(Shown(), IsEmpty());
}

TEST_F(DataBrowserTest, RefusedItemsAndClosedContainers)
{
    Add(1, "folder", 0);
    DataBrowserItemId const zero = 0;
    DataBrowserItemId const again[] = {5, 5};
    DataBrowserItemId const one = 1;
    DataBrowserItemId const child = 7;
    EXPECT_EQ(AddDataBrowserItems(view_, 0, std::span(&zero, 1)), kErrBadArgument);
    EXPECT_EQ(AddDataBrowserItems(view_, 0, again), kErrBadArgument);
    EXPECT_EQ(AddDataBrowserItems(view_, 0, std::span(&one, 1)), kErrBadArgument);
    EXPECT_EQ(AddDataBrowserItems(view_, 42, std::span(&child, 1)), kErrParamNotFound);
    // Not a container of the client's: nothing opens.
    EXPECT_EQ(OpenDataBrowserContainer(view_, 1), kErrParamNotFound);
    rows_.children[1] = {7};
    rows_.rows[7] = {"inside", 1};
    EXPECT_EQ(AddDataBrowserItems(view_, 1, std::span(&child, 1)), kErrParamNotFound); // closed
    EXPECT_THAT(Shown(), ElementsAre(1u));
    SetDataBrowserDisclosureTriangles(view_, true);
    ASSERT_EQ(OpenDataBrowserContainer(view_, 1), kNoErr);
    EXPECT_THAT(rows_.opened, ElementsAre(1u));
    // The client adds the items when told the container opened.
    ASSERT_EQ(AddDataBrowserItems(view_, 1, std::span(&child, 1)), kNoErr);
    EXPECT_THAT(Shown(), ElementsAre(1u, 7u));
    EXPECT_EQ(GetDataBrowserItemParent(view_, 7), 1u);
    EXPECT_EQ(GetDataBrowserItemRow(view_, 7), 1);
    ASSERT_EQ(CloseDataBrowserContainer(view_, 1), kNoErr);
    EXPECT_FALSE(IsDataBrowserItem(view_, 7));
    EXPECT_EQ(GetDataBrowserItemRow(view_, 7), -1);
    EXPECT_THAT(rows_.notes, ::testing::Contains("1 10"));
}

TEST_F(DataBrowserTest, HelpTextsAndColumnsComeFromTheClient)
{
    Add(1, "one", 1);
    Add(2, "two", 2);
    int const height = GetDataBrowserRowHeight(view_);
    int const header = height + 4; // the header row shows
    std::string help;
    DataBrowserHelpTextAt(view_, {10, header + height + height / 2}).ToUtf8(help);
    EXPECT_EQ(help, "two");
    EXPECT_TRUE(DataBrowserHelpTextAt(view_, {10, header + height / 2}).IsNull());
    DataBrowserItemId item = 0;
    DataBrowserPropertyId property = 0;
    ASSERT_EQ(GetDataBrowserItemAt(view_, {150, header + height / 2}, &item, &property), kNoErr);
    EXPECT_EQ(item, 1u);
    EXPECT_EQ(property, kSize);

    EXPECT_EQ(CountDataBrowserColumns(view_), 2);
    EXPECT_EQ(GetDataBrowserColumnProperty(view_, 1), kSize);
    DataBrowserColumnSpec twice;
    twice.property = kName;
    EXPECT_EQ(AddDataBrowserColumn(view_, twice, 0), kErrBadArgument);
    ASSERT_EQ(SetDataBrowserColumnWidth(view_, kName, 5), kNoErr);
    int width = 0;
    GetDataBrowserColumnWidth(view_, kName, &width);
    EXPECT_EQ(width, 10); // the column's least width
    ASSERT_EQ(RemoveDataBrowserColumn(view_, kName), kNoErr);
    EXPECT_EQ(GetDataBrowserColumnProperty(view_, 0), kSize);
    EXPECT_EQ(SetDataBrowserColumnWidth(view_, kName, 50), kErrParamNotFound);

    // Calls on another kind of view are refused.
    ControlSpec push;
    push.kind = kControlKindPushButton;
    push.frame = RectI{0, 0, 10, 10};
    ViewRef button = CreateControl(WindowContentView(window_), push);
    EXPECT_EQ(AddDataBrowserItems(button, 0, {}), kErrBadArgument);
    EXPECT_EQ(CountDataBrowserItems(button, 0, false), 0);
}

} // namespace
