// Data browsers ('datb', made with CreateControl): lists of rows in
// columns, flat or as a tree, whose data the program keeps itself.
//
// The browser holds no cell data. It holds the ids of its items (non-zero
// numbers the program chooses), which container each lies in (0: the top
// level), the columns, the sort column and order, and the selection. For
// everything it shows it asks the program's DataBrowserClient, and only
// for what it paints: a list of many rows costs one question per visible
// cell and paint, nothing per row that lies out of view.
//
// Columns are identified by a property id (a four-character code the
// program picks) and have a type: text, icon and text, or check box.
//
// Order: each container keeps its items in insertion order while the sort
// property is 0. With a sort property, the items are kept sorted by the
// client's ItemLess (an item added later is inserted in its place); the
// answer of ItemLess is final, the browser does not reverse it for a
// decreasing order: the client reads the order (GetDataBrowserSortOrder)
// and answers for the order shown. SortDataBrowser sorts again after the
// client's comparison changed.
//
// Tree: an item the client calls a container shows a disclosure triangle.
// Its items exist only while it is open: opening it (the user, or
// OpenDataBrowserContainer) tells the client kDataBrowserContainerOpened,
// and the client adds the items then; items added to a closed container
// are dropped; closing it removes them (after kDataBrowserContainerClosed).
//
// Reports to the client (Notify), for the user's and the program's doing
// alike: kDataBrowserSelectionSetChanged whenever the set of selected
// items changed, kDataBrowserItemDoubleClicked, the container messages.
// A press of the right mouse button sends 'cntl' kind 12
// (kEventControlContextualMenuClick, with kParamMouseInView and
// kParamKeyModifiers) to the browser's view; when nobody takes it, the
// press acts as the window system's own (it selects the row under it).
// A tooltip asks the client's HelpText.
//
// Main thread only. Stale handles give kErrTargetGone or empty answers,
// views of another kind kErrBadArgument.
#pragma once

#include "platform/controls/controls.h"

#include <span>
#include <vector>

namespace plat {

constexpr OSType kControlKindDataBrowser = FourCC("datb");

using DataBrowserItemId = uint32_t;
using DataBrowserPropertyId = uint32_t;
constexpr DataBrowserItemId kDataBrowserNoItem = 0;
constexpr DataBrowserPropertyId kDataBrowserNoProperty = 0;

constexpr OSType kDataBrowserTextType = FourCC("text");
constexpr OSType kDataBrowserIconAndTextType = FourCC("ticn");
constexpr OSType kDataBrowserCheckboxType = FourCC("chbx");

// Column flags.
constexpr uint32_t kDataBrowserPropertyIsMutable = 0x1;        // a check box the user may change
constexpr uint32_t kDataBrowserTruncateTextAtEnd = 0x200;      // "..." at the end (else in the middle)
constexpr uint32_t kDataBrowserTruncateMask = 0xFF00;
constexpr uint32_t kDataBrowserListViewSelectionColumn = 0x10000;
constexpr uint32_t kDataBrowserListViewMovableColumn = 0x20000;
constexpr uint32_t kDataBrowserListViewSortableColumn = 0x40000;
constexpr uint32_t kDataBrowserListViewNoGapForIconInHeader = 0x100000;

// Sort orders.
constexpr uint16_t kDataBrowserOrderIncreasing = 1;
constexpr uint16_t kDataBrowserOrderDecreasing = 2;

// Column justification.
constexpr int16_t kJustDefault = 0;
constexpr int16_t kJustCenter = 1;
constexpr int16_t kJustRight = -1;
constexpr int16_t kJustLeft = -2;

// What Notify reports.
enum DataBrowserNotification : uint32_t {
    kDataBrowserItemDoubleClicked = 7,
    kDataBrowserContainerOpened = 8,
    kDataBrowserContainerClosed = 10,
    kDataBrowserSelectionSetChanged = 14,
};

enum class DataBrowserSetOption { Assign, Add, Remove, Toggle };

// The contextual-menu click.
constexpr uint32_t kEventControlContextualMenuClick = 12;

struct DataBrowserColumnSpec {
    DataBrowserPropertyId property = 0;
    OSType type = kDataBrowserTextType;
    uint32_t flags = 0;
    int16_t minWidth = 10;
    int16_t maxWidth = 800;
    Text title;
    int16_t justification = kJustDefault;
};

// What a cell shows. Text columns read `text`; icon-and-text columns
// `icon` (may be null) and `text`; check-box columns `checked`.
struct DataBrowserCell {
    Text text;
    IconRef icon = nullptr; // the client keeps it alive
    bool checked = false;
};

// The program's side. The browser calls it while it paints, sorts and
// handles input, never from inside the program's own calls except the
// ones that say so (adding to a sorted container compares; selecting
// notifies).
class DataBrowserClient {
public:
    // The cell of the item in the column; false when the client has none
    // (the cell stays empty).
    virtual bool GetCell(DataBrowserItemId item, DataBrowserPropertyId property, DataBrowserCell* cell) = 0;
    // The user clicked a mutable check box; true when the client took the
    // new state (the browser then shows the cell again).
    virtual bool SetChecked(DataBrowserItemId, DataBrowserPropertyId, bool) { return false; }
    // Whether `a` comes before `b` when sorted by `property` (see above).
    virtual bool ItemLess(DataBrowserItemId a, DataBrowserItemId b, DataBrowserPropertyId property) = 0;
    // Called before each run of ItemLess calls (a sort, or finding the
    // place of an added item), so that the client can read once what all
    // of them need.
    virtual void BeginComparing(DataBrowserPropertyId, uint16_t /*order*/) {}
    virtual bool IsContainer(DataBrowserItemId) { return false; }
    virtual void Notify(DataBrowserItemId, DataBrowserNotification) {}
    // The tooltip of a cell; a null text shows none.
    virtual Text HelpText(DataBrowserItemId, DataBrowserPropertyId) { return Text(); }

protected:
    ~DataBrowserClient() = default;
};

// The client asked from now on (null: none; the browser then shows empty
// cells). The client must outlive its installation.
Status SetDataBrowserClient(ViewRef view, DataBrowserClient* client);

// Columns. `position` 0 is the left; beyond the last appends.
Status AddDataBrowserColumn(ViewRef view, const DataBrowserColumnSpec& column, int position);
Status RemoveDataBrowserColumn(ViewRef view, DataBrowserPropertyId property);
int CountDataBrowserColumns(ViewRef view);
// The property of the column at a position; 0 when none.
DataBrowserPropertyId GetDataBrowserColumnProperty(ViewRef view, int position);
Status SetDataBrowserColumnTitle(ViewRef view, DataBrowserPropertyId property, const Text& title);
Status SetDataBrowserColumnJustification(ViewRef view, DataBrowserPropertyId property, int16_t justification);
// Widths are kept within the column's minimum and maximum.
Status SetDataBrowserColumnWidth(ViewRef view, DataBrowserPropertyId property, int width);
Status GetDataBrowserColumnWidth(ViewRef view, DataBrowserPropertyId property, int* width);

// Look: the header row (hidden: no room taken), the scroll bars (on:
// always shown), alternating row colours, the selection's highlight over
// the whole row or the first column.
Status SetDataBrowserHeaderVisible(ViewRef view, bool visible);
bool IsDataBrowserHeaderVisible(ViewRef view);
Status SetDataBrowserScrollBars(ViewRef view, bool horizontal, bool vertical);
Status GetDataBrowserScrollBars(ViewRef view, bool* horizontal, bool* vertical);
Status SetDataBrowserStriped(ViewRef view, bool striped);
bool IsDataBrowserStriped(ViewRef view);
Status SetDataBrowserFullRowHighlight(ViewRef view, bool fullRow);
bool IsDataBrowserFullRowHighlight(ViewRef view);
// The browser's own frame (on at first).
Status SetDataBrowserFrameVisible(ViewRef view, bool visible);
// One selected item at most (the user's extending clicks do nothing).
Status SetDataBrowserSelectOnlyOne(ViewRef view, bool one);
bool IsDataBrowserSelectOnlyOne(ViewRef view);

// Items. Ids of 0 and ids already in the browser are refused
// (kErrBadArgument, nothing added); so are items for a container that is
// not in the browser or not open (kErrParamNotFound).
Status AddDataBrowserItems(ViewRef view, DataBrowserItemId container, std::span<const DataBrowserItemId> items);
// Removes the items (with whatever lies in them); ids not in the browser
// are skipped.
Status RemoveDataBrowserItems(ViewRef view, std::span<const DataBrowserItemId> items);
Status RemoveAllDataBrowserItems(ViewRef view);
// Shows the cells anew after the client's data changed; a property of 0
// means every column. An empty span: every item.
Status UpdateDataBrowserItems(ViewRef view, std::span<const DataBrowserItemId> items,
                              DataBrowserPropertyId property);
// Items in the container (recurse: with everything inside them).
int CountDataBrowserItems(ViewRef view, DataBrowserItemId container, bool recurse);
bool IsDataBrowserItem(ViewRef view, DataBrowserItemId item);
// The container the item lies in (0 for the top level and for unknown
// items).
DataBrowserItemId GetDataBrowserItemParent(ViewRef view, DataBrowserItemId item);

// The item shown in a row (0: the first; the rows of open containers
// count); kErrParamNotFound beyond the last.
Status GetDataBrowserItemAtRow(ViewRef view, int row, DataBrowserItemId* item);
// The row the item shows in; -1 when it is not shown (not in the browser,
// or inside a closed container).
int GetDataBrowserItemRow(ViewRef view, DataBrowserItemId item);
// The item and column under a point of the view's coordinates; 0 and 0
// when there is none.
Status GetDataBrowserItemAt(ViewRef view, PointI point, DataBrowserItemId* item, DataBrowserPropertyId* property);
// Scrolls so that the item's row is shown.
Status RevealDataBrowserItem(ViewRef view, DataBrowserItemId item);
// The scroll position: the first pixel column and row shown.
Status SetDataBrowserScrollPosition(ViewRef view, int top, int left);
Status GetDataBrowserScrollPosition(ViewRef view, int* top, int* left);

// Containers. The first column shows the containers' disclosure triangles
// (and indents the rows for them) once they are switched on.
Status SetDataBrowserDisclosureTriangles(ViewRef view, bool on);
bool HasDataBrowserDisclosureTriangles(ViewRef view);
Status OpenDataBrowserContainer(ViewRef view, DataBrowserItemId item);
Status CloseDataBrowserContainer(ViewRef view, DataBrowserItemId item);
bool IsDataBrowserContainerOpen(ViewRef view, DataBrowserItemId item);

// Selection.
Status SetDataBrowserSelectedItems(ViewRef view, std::span<const DataBrowserItemId> items,
                                   DataBrowserSetOption option);
// The selected items, in the order of their rows.
std::vector<DataBrowserItemId> GetDataBrowserSelectedItems(ViewRef view);
bool IsDataBrowserItemSelected(ViewRef view, DataBrowserItemId item);
int CountDataBrowserSelectedItems(ViewRef view);

// Sorting. The sort property need not be a column's: the client decides
// what it means (without a column the header shows no sort mark).
Status SetDataBrowserSortProperty(ViewRef view, DataBrowserPropertyId property);
DataBrowserPropertyId GetDataBrowserSortProperty(ViewRef view);
Status SetDataBrowserSortOrder(ViewRef view, uint16_t order);
uint16_t GetDataBrowserSortOrder(ViewRef view);
// Both at once: one sort when either changed.
Status SetDataBrowserSort(ViewRef view, DataBrowserPropertyId property, uint16_t order);
Status SortDataBrowser(ViewRef view);

// The tooltip text a hover at the point would show (asks the client).
Text DataBrowserHelpTextAt(ViewRef view, PointI point);

// The height of a row in pixels.
int GetDataBrowserRowHeight(ViewRef view);

} // namespace plat
