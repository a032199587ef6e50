// LISTVIEW: the toolkit's multi-column list over the platform's data
// browser (platform/controls/databrowser.h). The program keeps every row
// itself as a record identified by a non-zero handle of the caller's; the
// browser holds only the handles and asks for what it paints. Format flags
// make the same class the engine of the check list, the list box and the
// tree view (listbox.h, treeview.h).
//
// Records live in a vector in insertion order with a map from handle to
// position, their column texts kept decoded (wide text as the platform's
// string), so a row is found in constant time and a paint of a long list
// costs one look-up per visible cell. The drawn width of each text, which
// automatic column widths need, is measured when first asked for.
//
// Reports to the owner (CONTROL::SendOwnerNotification): the selection
// changed (1281; 769 in list-box mode), an item was double-clicked (3842;
// 770 in list-box mode), a contextual click (3841; the row under the mouse
// is selected first unless the click hit the selection). Help tags ask the
// owner with a synchronous LISTVIEW_HELPREQUEST (code 2048) message.
//
// Only the object that created the view (CreateListview, registered on it
// as "This") answers the browser; objects bound to an existing view start
// with no records of their own.
//
// Main thread only.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/winicons.h"
#include "velmot/gui/wincontrols.h"

#include "platform/controls/databrowser.h"

#include <array>
#include <memory>
#include <unordered_map>
#include <vector>

// Format flags (the bits 16 to 19 of the style).
constexpr int LVFMT_CHECKLIST = 0x10000;
constexpr int LVFMT_LISTBOX = 0x20000;
constexpr int LVFMT_TREEVIEW = 0x40000;

// Property tags of the list view (creator 'VLMT').
constexpr FOURCHARCODE CPROP_SORTFUNCTION = plat::FourCC("SrtF"); // the sort callback
constexpr FOURCHARCODE CPROP_SORTCONTEXT = plat::FourCC("SrtP");  // its context
constexpr FOURCHARCODE CPROP_LISTBOX = plat::FourCC("LBOX");      // 1: a list box's list view

// The code of the help-tag request (OnControlEvent's data: the request).
constexpr int CONTROLNOTIFY_HELPREQUEST = 0x800;

// What a help-tag request asks of the owner: the owner answers non-zero
// and puts its text (code page 1252) in Text or, with Text null, in Buffer.
struct LISTVIEWHELPREQUEST {
    plat::ViewRef View = nullptr;
    uint32_t Code = 0;
    char const* Text = nullptr;
    char Buffer[80] = {};
    uint32_t Item = 0;
    uint32_t Flags = 0; // bit 0: help for an item
};

// Column justifications of InsertColumn and SetColumnFormat.
constexpr int LVCOLUMN_DEFAULT = 0;
constexpr int LVCOLUMN_CENTER = 1;
constexpr int LVCOLUMN_RIGHT = -1;
constexpr int LVCOLUMN_LEFT = -2;

class VELMOT_EXPORT LISTVIEW : public CONTROL, private plat::DataBrowserClient {
public:
    static constexpr unsigned long FOCUSONLY = 3;
    static constexpr int MAXIMAGES = 128;
    using SORTCALLBACK = int (*)(int handle1, int handle2, void* context);

    explicit LISTVIEW(plat::ViewRef view);
    LISTVIEW(CONTROLPARENT parent, CONTROLID const& id);
    LISTVIEW(int style, int x, int y, int cx, int cy, CONTROLPARENT parent, CONTROLID id);
    // A list made in the place of the template control, 1 pixel inside it
    // (the template stays as its frame).
    LISTVIEW(CONTROLPARENT parent, CONTROLID id, int style, CONTROLID templateId);
    ~LISTVIEW() override;

    plat::Status HandleEvent(plat::HandlerCall* call, TCarbonEvent& event) override;
    // Compares two records for the order shown (see SortRecords).
    virtual int Sort(int handle1, int handle2);

    bool CreateListview(CONTROLPARENT parent, CONTROLID id, int x, int y, int cx, int cy);

    // Appearance and columns.
    bool Format(int cx, int cy, uint32_t const* ids, int count, int imageIsIcon);
    bool InsertColumn(int index, char const* title, int width, int format);
    bool SetColumnText(int column, char const* title);
    bool SetColumnTextWide(int column, wchar_t const* title);
    STRING GetColumnText(int column);
    WSTRING GetColumnTextWide(int column);
    bool SetColumnFormat(int column, int format);
    bool SetColumnWidth(int column, int width);
    // 65535 when the width cannot be read.
    int GetColumnWidth(int column);
    // One column, or all with -1: the widest text (and the title, with
    // the flag) plus room for the check box or icon.
    void AutoWidth(int column, signed char withTitle);
    bool DeleteAllColumns(); // not offered (reported)
    void SetShowColumnHeaders(signed char show);
    // -1 keeps a scroll bar as it is.
    void SetScrollbars(int horizontal, int vertical);
    void SetStripedBackground(signed char on);
    void SetFullrowselect(signed char on);
    void SetClientEdge(signed char) {}
    void SetAllowMultiSelect(signed char allow);
    RECT GetClientRect() const;
    int GetColumnCount() const { return fColumnCount; }

    // Records. The text's tab-separated parts fill columns 0, 1, ... up to
    // the first empty part. `image` is the icon's slot (the list-box index
    // in list-box mode); `parent` -1 for a top-level record.
    bool InsertRecordWide(int handle, int image, wchar_t const* text, int parent = -1);
    bool InsertRecord(int handle, int image, char const* text, int parent = -1);
    bool UpdateRecordWide(int handle, int column, wchar_t const* text);
    bool UpdateRecord(int handle, int column, char const* text);
    bool UpdateRecordImage(int handle, int image);
    int GetRecordImage(int handle);
    WSTRING GetRecordTextWide(int handle, int column);
    STRING GetRecordText(int handle, int column);
    bool DeleteRecord(int handle);
    void DeleteAllRecords();
    int GetNumRecords();
    int GetRecordHandleFromIndex(int index);
    int GetRecordIndexFromHandle(int handle, signed char mustFind);
    int GetRecordHandleFromDisplayPos(int row, signed char mustFind);
    int GetRecordListboxIndex(int handle);
    bool SetRecordListboxIndex(int handle, int index);
    int FindRecordHandleFromListboxIndex(int index);
    bool MakeRecordVisible(int handle, signed char);

    // Selection.
    bool SelectRecord(int handle, unsigned long state);
    void SelectAllRecords();
    void DeselectAllRecords();
    bool IsRecordSelected(int handle);
    int CountSelectedRecords();
    // The n-th selected record counted from the last; -1.
    int GetSelectedRecord(int n);

    // Sorting. The callback answers < 0 when the first record belongs
    // before the second in ascending order; it is kept in the view's
    // properties "SrtF" and "SrtP" (a null context means this object).
    void SetSortCallback(SORTCALLBACK callback, void* context);
    void GetSortCallback(SORTCALLBACK* callback, void** context);
    static int DefaultSort(int handle1, int handle2, void* listview);
    // Sorts by the column, with the given callback for this sort only.
    void SortRecords(int descending, int column, SORTCALLBACK callback, void* context);
    // Returns whether the order is descending.
    int GetSortStyle(int* column, int* descending);

    // Column widths as "w|w|w" under the application's registry key.
    bool StoreColumnWidths(char const* section, char const* valueName);
    bool RestoreColumnWidths(char const* section, char const* valueName);

    // Width of the text in the theme font (0 for null or empty).
    int QueryTextWidthWide(wchar_t const* text, unsigned short font);

    int CustomType = 0;

protected:
    // An unbound list view, for subclasses that create theirs.
    LISTVIEW() = default;
    void InitListview(int style);
    // The property of column n ("COLa" + n) and back.
    static plat::DataBrowserPropertyId ColumnProperty(int column);
    static int ColumnIndex(plat::DataBrowserPropertyId property);

private:
    struct RECORD {
        int Handle = 0;
        std::vector<plat::Text> Cells;   // the columns' texts; missing ones are empty
        mutable std::vector<int> Widths; // drawn widths, -1 until measured
        int Icon = -1;
        int ListboxIndex = -1;
        int Parent = -1;
    };

    RECORD* Find(int handle);
    RECORD const* Find(int handle) const;
    int Width(RECORD const& r, int column) const;
    bool SetCell(int handle, int column, plat::Text const& text);
    plat::Text ColumnTitle(int column) const;
    int Compare(RECORD const& a, RECORD const& b) const;

    // The browser's questions (databrowser.h).
    bool GetCell(plat::DataBrowserItemId item, plat::DataBrowserPropertyId property,
                 plat::DataBrowserCell* cell) override;
    bool SetChecked(plat::DataBrowserItemId item, plat::DataBrowserPropertyId property, bool on) override;
    bool ItemLess(plat::DataBrowserItemId a, plat::DataBrowserItemId b, plat::DataBrowserPropertyId property) override;
    bool IsContainer(plat::DataBrowserItemId item) override;
    void Notify(plat::DataBrowserItemId item, plat::DataBrowserNotification what) override;
    plat::Text HelpText(plat::DataBrowserItemId item, plat::DataBrowserPropertyId property) override;
    void BeginComparing(plat::DataBrowserPropertyId property, uint16_t order) override;

    std::array<std::unique_ptr<ICON>, MAXIMAGES> fImages;
    int fImageCount = 0;
    bool fTree = false;
    bool fClient = false; // this object answers the browser
    std::vector<RECORD> fRecords;
    std::unordered_map<int, size_t> fIndex; // handle -> position in fRecords
    std::unordered_map<int, int> fChildren; // parent handle -> records under it
    std::unordered_map<int, int> fListboxHandles; // list-box index -> handle
    std::vector<plat::Text> fLabelNames;    // column titles (null: none)
    int fColumnCount = 0;

    // What a run of comparisons uses, read once per run.
    struct SORTRUN {
        SORTCALLBACK Callback = nullptr;
        void* Context = nullptr;
        int Column = 0;
        bool Descending = false;
        plat::DataBrowserPropertyId Property = 0;
    };
    SORTRUN fRun;
};
