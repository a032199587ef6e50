#include "velmot/gui/listview.h"

#include "velmot/core/logit.h"
#include "velmot/core/registry.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/winbase.h"

#include "platform/draw/theme.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr FOURCHARCODE kPropertyBase = plat::FourCC("COLa");
constexpr plat::EventType kContextualClick{plat::kEventClassControl, plat::kEventControlContextualMenuClick};

// Comparison results as -1, 0 or 1, so that negating one never overflows.
int Sign(int r)
{
    return (r > 0) - (r < 0);
}

int CompareNumbers(int a, int b)
{
    return (a > b) - (a < b);
}

// Compares UTF-16 texts in the order of their code points (as wide
// strings compare): a surrogate pair stands for a character above every
// single unit.
int CompareCodePoints(std::u16string_view a, std::u16string_view b)
{
    size_t const n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        if (a[i] == b[i])
            continue;
        auto rank = [](char16_t u) -> uint32_t {
            if (u >= 0xE000)
                return u - 0x800u;
            if (u >= 0xD800)
                return u + 0x2000u;
            return u;
        };
        return rank(a[i]) < rank(b[i]) ? -1 : 1;
    }
    return CompareNumbers(static_cast<int>(a.size() > n), static_cast<int>(b.size() > n));
}

plat::Text TextOfWide(wchar_t const* text, size_t length)
{
    std::u32string u32(reinterpret_cast<char32_t const*>(text), length);
    std::u16string u16;
    u16.reserve(length);
    for (char32_t c : u32) {
        if (c > 0xFFFF && c <= 0x10FFFF) {
            c -= 0x10000;
            u16.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            u16.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            u16.push_back(u'\xFFFD');
        } else {
            u16.push_back(static_cast<char16_t>(c));
        }
    }
    return plat::Text::FromUnits(u16);
}

plat::Text const& EmptyText()
{
    static plat::Text const empty = plat::Text::FromUnits(u"");
    return empty;
}

} // namespace

// ---------------------------------------------------------------------------
// Construction

LISTVIEW::LISTVIEW(plat::ViewRef view) : CONTROL(view)
{
    InitListview(0);
}

LISTVIEW::LISTVIEW(CONTROLPARENT parent, CONTROLID const& id) : CONTROL(parent, id)
{
    InitListview(0);
}

LISTVIEW::LISTVIEW(int style, int x, int y, int cx, int cy, CONTROLPARENT parent, CONTROLID id)
{
    InitListview(style);
    if (CreateListview(parent, id, x, y, cx, cy))
        MoveToParentView(parent);
}

LISTVIEW::LISTVIEW(CONTROLPARENT parent, CONTROLID id, int style, CONTROLID templateId)
{
    InitListview(style);
    plat::ViewRef const templ = parent.view
                                    ? plat::FindViewById(parent.view, plat::ViewId{templateId.signature, templateId.id})
                                    : nullptr;
    plat::RectI const r = plat::GetViewFrame(templ);
    if (CreateListview(parent, id, r.left, r.top, r.Width(), r.Height()))
        MoveToTemplateControl(parent, templateId, true);
}

LISTVIEW::~LISTVIEW()
{
    // No question of the browser may reach this object any more.
    if (fClient && IsValid())
        plat::SetDataBrowserClient(fControl, nullptr);
    fClient = false;
}

void LISTVIEW::InitListview(int style)
{
    CustomType = style & 0xF0000;
    fImageCount = 0;
    for (auto& image : fImages)
        image.reset();
    fTree = false;
    fRecords.clear();
    fIndex.clear();
    fChildren.clear();
    fListboxHandles.clear();
    fLabelNames.clear();
    fColumnCount = 0;
}

bool LISTVIEW::CreateListview(CONTROLPARENT parent, CONTROLID id, int x, int y, int cx, int cy)
{
    TARVOAPP::CheckCallerThread("LISTVIEW::CreateListview");
    plat::ControlSpec spec;
    spec.kind = plat::kControlKindDataBrowser;
    if (!CreateOwned(parent, id, spec, x, y, cx, cy)) {
        AssertMsg(0, "FALSE", __FILE__, __LINE__, "Error creating listview", false);
        return false;
    }
    plat::SetDataBrowserFrameVisible(fControl, false);
    plat::SetDataBrowserStriped(fControl, true);
    VASSERT(plat::GetViewKind(fControl) == plat::kControlKindDataBrowser, "viewstyle==kDataBrowserListView", nullptr);
    fClient = VERIFYSTATUS("err == 0 ", plat::SetDataBrowserClient(fControl, this));
    VERIFYSTATUS("err == 0 ", RegisterForEvents(1, &kContextualClick));
    return true;
}

plat::DataBrowserPropertyId LISTVIEW::ColumnProperty(int column)
{
    return kPropertyBase + static_cast<uint32_t>(column);
}

int LISTVIEW::ColumnIndex(plat::DataBrowserPropertyId property)
{
    int const last = static_cast<int>(property & 0xFF);
    return last < 'a' ? 0 : last - 'a';
}

// ---------------------------------------------------------------------------
// Appearance and columns

bool LISTVIEW::Format(int, int, uint32_t const* ids, int count, int imageIsIcon)
{
    TARVOAPP::CheckCallerThread("LISTVIEW::Format");
    VASSERT(imageIsIcon, "imageisicon", nullptr);
    bool all = true;
    for (int i = 0; i < count && ids; ++i) {
        // The list has room for MAXIMAGES pictures; more are refused.
        if (!VCHECK(fImageCount < MAXIMAGES, "this->NumImages<this->MaxImages", nullptr)) {
            all = false;
            break;
        }
        auto icon = std::make_unique<ICON>();
        all = icon->Load(ids[i]) && all;
        fImages[static_cast<size_t>(fImageCount++)] = std::move(icon);
    }
    return all;
}

bool LISTVIEW::InsertColumn(int index, char const* title, int width, int format)
{
    TARVOAPP::CheckCallerThread("LISTVIEW::InsertColumn");
    plat::DataBrowserColumnSpec c;
    c.property = ColumnProperty(index);
    c.minWidth = 10;
    c.maxWidth = 800;
    c.title = CFSTRING::TextOf(title);
    c.justification = static_cast<int16_t>(format);
    uint32_t flags = 0;
    if (index >= 1) {
        c.type = plat::kDataBrowserTextType;
        flags = plat::kDataBrowserListViewMovableColumn | plat::kDataBrowserListViewSortableColumn;
    } else if (CustomType & (LVFMT_LISTBOX | LVFMT_TREEVIEW)) {
        c.type = plat::kDataBrowserTextType;
        flags = plat::kDataBrowserListViewSelectionColumn;
    } else if (CustomType & LVFMT_CHECKLIST) {
        c.type = plat::kDataBrowserCheckboxType;
        flags = plat::kDataBrowserListViewSelectionColumn | plat::kDataBrowserListViewSortableColumn |
                plat::kDataBrowserPropertyIsMutable;
        c.minWidth = c.maxWidth = 24;
        c.justification = 0;
    } else {
        c.type = plat::kDataBrowserIconAndTextType;
        flags = plat::kDataBrowserListViewSelectionColumn | plat::kDataBrowserListViewSortableColumn;
    }
    c.flags = (flags & ~plat::kDataBrowserTruncateMask) | plat::kDataBrowserTruncateTextAtEnd |
              plat::kDataBrowserListViewNoGapForIconInHeader;
    if (index >= 0) {
        if (static_cast<size_t>(index) >= fLabelNames.size())
            fLabelNames.resize(static_cast<size_t>(index) + 1);
        fLabelNames[static_cast<size_t>(index)] = c.title;
    }
    if (plat::AddDataBrowserColumn(fControl, c, index) != plat::kNoErr) {
        AssertMsg(0, "FALSE", __FILE__, __LINE__, nullptr, false);
        return false;
    }
    SetColumnWidth(index, width);
    ++fColumnCount;
    return true;
}

bool LISTVIEW::SetColumnText(int column, char const* title)
{
    return SetColumnTextWide(column, WSTRING(title ? title : "", UNICODE_CPSYSTEM).Buf());
}

bool LISTVIEW::SetColumnTextWide(int column, wchar_t const* title)
{
    TARVOAPP::CheckCallerThread("LISTVIEW::SetColumnText");
    plat::Text const text = CFSTRING::TextOf(title);
    if (column < 0)
        return false;
    if (static_cast<size_t>(column) >= fLabelNames.size())
        fLabelNames.resize(static_cast<size_t>(column) + 1);
    fLabelNames[static_cast<size_t>(column)] = text;
    return VERIFYSTATUS("err == 0 ", plat::SetDataBrowserColumnTitle(fControl, ColumnProperty(column), text));
}

plat::Text LISTVIEW::ColumnTitle(int column) const
{
    if (column < 0 || static_cast<size_t>(column) >= fLabelNames.size() ||
        fLabelNames[static_cast<size_t>(column)].IsNull()) {
        AssertMsg(0, "this->LabelNames.CheckKey(colkey)", __FILE__, __LINE__, nullptr, false);
        return EmptyText();
    }
    return fLabelNames[static_cast<size_t>(column)];
}

STRING LISTVIEW::GetColumnText(int column)
{
    return STRING(GetColumnTextWide(column), UNICODE_CPSYSTEM);
}

WSTRING LISTVIEW::GetColumnTextWide(int column)
{
    return WSTRING(ColumnTitle(column));
}

bool LISTVIEW::SetColumnFormat(int column, int format)
{
    return VERIFYSTATUS("err == 0 ", plat::SetDataBrowserColumnJustification(fControl, ColumnProperty(column),
                                                                             static_cast<int16_t>(format)));
}

bool LISTVIEW::SetColumnWidth(int column, int width)
{
    return VERIFYSTATUS("err == 0 ", plat::SetDataBrowserColumnWidth(fControl, ColumnProperty(column), width));
}

int LISTVIEW::GetColumnWidth(int column)
{
    int width = 0;
    if (!VERIFYSTATUS("err == 0 ", plat::GetDataBrowserColumnWidth(fControl, ColumnProperty(column), &width)))
        return 65535;
    return width;
}

int LISTVIEW::Width(RECORD const& r, int column) const
{
    if (column < 0 || static_cast<size_t>(column) >= r.Cells.size())
        return 0;
    int& w = r.Widths[static_cast<size_t>(column)];
    if (w < 0)
        w = r.Cells[static_cast<size_t>(column)].Length() == 0
                ? 0
                : plat::GetThemeTextDimensions(r.Cells[static_cast<size_t>(column)], plat::kThemeViewSystemFont).width;
    return w;
}

void LISTVIEW::AutoWidth(int column, signed char withTitle)
{
    TARVOAPP::CheckCallerThread("LISTVIEW::AutoWidth");
    int const first = column == -1 ? 0 : column;
    int const last = column == -1 ? fColumnCount - 1 : column;
    for (int c = first; c <= last; ++c) {
        int width = 0;
        if (withTitle && c >= 0 && static_cast<size_t>(c) < fLabelNames.size() &&
            !fLabelNames[static_cast<size_t>(c)].IsNull())
            width = plat::GetThemeTextDimensions(fLabelNames[static_cast<size_t>(c)], plat::kThemeViewSystemFont).width;
        for (RECORD const& r : fRecords)
            width = std::max(width, Width(r, c));
        bool const roomy = c == 0 && (CustomType == 0 || CustomType == LVFMT_CHECKLIST);
        SetColumnWidth(c, width + (roomy ? 48 : 24));
    }
}

bool LISTVIEW::DeleteAllColumns()
{
    AssertMsg(0, "FALSE", __FILE__, __LINE__, nullptr, false);
    return false;
}

void LISTVIEW::SetShowColumnHeaders(signed char show)
{
    if (show) {
        AssertMsg(0, "FALSE", __FILE__, __LINE__, nullptr, false);
        return;
    }
    VERIFYSTATUS("err == 0 ", plat::SetDataBrowserHeaderVisible(fControl, false));
}

void LISTVIEW::SetScrollbars(int horizontal, int vertical)
{
    bool h = false;
    bool v = false;
    plat::GetDataBrowserScrollBars(fControl, &h, &v);
    if (horizontal != -1)
        h = horizontal != 0;
    if (vertical != -1)
        v = vertical != 0;
    VERIFYSTATUS("err == 0 ", plat::SetDataBrowserScrollBars(fControl, h, v));
}

void LISTVIEW::SetStripedBackground(signed char on)
{
    VERIFYSTATUS("err == 0 ", plat::SetDataBrowserStriped(fControl, on != 0));
}

void LISTVIEW::SetFullrowselect(signed char on)
{
    VERIFYSTATUS("err == 0 ", plat::SetDataBrowserFullRowHighlight(fControl, on != 0));
}

void LISTVIEW::SetAllowMultiSelect(signed char allow)
{
    VERIFYSTATUS("err == 0 ", plat::SetDataBrowserSelectOnlyOne(fControl, !allow));
}

RECT LISTVIEW::GetClientRect() const
{
    RECT r = CONTROL::GetClientRect();
    bool h = false;
    bool v = false;
    plat::GetDataBrowserScrollBars(fControl, &h, &v);
    if (v)
        r.right -= 15;
    if (h)
        r.bottom -= 15;
    return r;
}

// ---------------------------------------------------------------------------
// Records

LISTVIEW::RECORD* LISTVIEW::Find(int handle)
{
    auto it = fIndex.find(handle);
    return it == fIndex.end() ? nullptr : &fRecords[it->second];
}

LISTVIEW::RECORD const* LISTVIEW::Find(int handle) const
{
    auto it = fIndex.find(handle);
    return it == fIndex.end() ? nullptr : &fRecords[it->second];
}

bool LISTVIEW::InsertRecord(int handle, int image, char const* text, int parent)
{
    return InsertRecordWide(handle, image, WSTRING(text ? text : "", UNICODE_CPSYSTEM).Buf(), parent);
}

bool LISTVIEW::InsertRecordWide(int handle, int image, wchar_t const* text, int parent)
{
    TARVOAPP::CheckCallerThread("LISTVIEW::InsertRecordWide");
    if (!VCHECK(handle != 0, "handle", "zero handles not allowed"))
        return false;
    if (!VCHECK(fIndex.count(handle) == 0, "!err", "the handle is in the list already"))
        return false;
    RECORD r;
    r.Handle = handle;
    // Column i gets part i of the text, up to the first empty part.
    for (wchar_t const* p = text ? text : L""; *p;) {
        wchar_t const* end = p;
        while (*end && *end != L'\t')
            ++end;
        if (end == p)
            break;
        r.Cells.push_back(TextOfWide(p, static_cast<size_t>(end - p)));
        p = *end ? end + 1 : end;
    }
    r.Widths.assign(r.Cells.size(), -1);
    if (CustomType & LVFMT_LISTBOX) {
        r.ListboxIndex = image;
        fListboxHandles[image] = handle;
    } else {
        r.Icon = image;
    }
    if (parent != -1) {
        r.Parent = parent;
        ++fChildren[parent];
        if (!fTree) {
            fTree = true;
            plat::SetDataBrowserDisclosureTriangles(fControl, true);
        }
    }
    fIndex.emplace(handle, fRecords.size());
    fRecords.push_back(std::move(r));
    if (!IsValid())
        return true;
    // A closed container gets its rows when it opens.
    auto const container = static_cast<plat::DataBrowserItemId>(parent == -1 ? 0 : parent);
    if (container && !plat::IsDataBrowserContainerOpen(fControl, container))
        return true;
    plat::DataBrowserItemId const item = static_cast<plat::DataBrowserItemId>(handle);
    plat::Status const err = plat::AddDataBrowserItems(fControl, container, std::span(&item, 1));
    VASSERT(err == plat::kNoErr, "!err", nullptr);
    return true;
}

bool LISTVIEW::SetCell(int handle, int column, plat::Text const& text)
{
    RECORD* r = Find(handle);
    if (!r || column < 0)
        return false;
    if (static_cast<size_t>(column) >= r->Cells.size()) {
        r->Cells.resize(static_cast<size_t>(column) + 1, EmptyText());
        r->Widths.resize(static_cast<size_t>(column) + 1, -1);
    }
    r->Cells[static_cast<size_t>(column)] = text;
    r->Widths[static_cast<size_t>(column)] = -1;
    return true;
}

bool LISTVIEW::UpdateRecord(int handle, int column, char const* text)
{
    return UpdateRecordWide(handle, column, WSTRING(text ? text : "", UNICODE_CPSYSTEM).Buf());
}

bool LISTVIEW::UpdateRecordWide(int handle, int column, wchar_t const* text)
{
    TARVOAPP::CheckCallerThread("LISTVIEW::UpdateRecordWide");
    wchar_t const* t = text ? text : L"";
    if (!SetCell(handle, column, TextOfWide(t, std::wcslen(t)))) {
        AssertMsg(0, "!err", __FILE__, __LINE__, nullptr, false);
        return false;
    }
    plat::DataBrowserItemId const item = static_cast<plat::DataBrowserItemId>(handle);
    plat::Status const err = plat::UpdateDataBrowserItems(fControl, std::span(&item, 1), ColumnProperty(column));
    VASSERT(err == plat::kNoErr, "!err", nullptr);
    return err == plat::kNoErr;
}

bool LISTVIEW::UpdateRecordImage(int handle, int image)
{
    RECORD* r = Find(handle);
    if (!r)
        return false;
    r->Icon = image;
    plat::DataBrowserItemId const item = static_cast<plat::DataBrowserItemId>(handle);
    return plat::UpdateDataBrowserItems(fControl, std::span(&item, 1), ColumnProperty(0)) == plat::kNoErr;
}

int LISTVIEW::GetRecordImage(int handle)
{
    RECORD const* r = Find(handle);
    return r ? r->Icon : 0;
}

WSTRING LISTVIEW::GetRecordTextWide(int handle, int column)
{
    RECORD const* r = Find(handle);
    if (!r || column < 0 || static_cast<size_t>(column) >= r->Cells.size())
        return WSTRING(L"");
    return WSTRING(r->Cells[static_cast<size_t>(column)]);
}

STRING LISTVIEW::GetRecordText(int handle, int column)
{
    return STRING(GetRecordTextWide(handle, column), UNICODE_CPSYSTEM);
}

bool LISTVIEW::DeleteRecord(int handle)
{
    TARVOAPP::CheckCallerThread("LISTVIEW::DeleteRecord");
    auto it = fIndex.find(handle);
    if (it == fIndex.end())
        return false;
    plat::DataBrowserItemId const item = static_cast<plat::DataBrowserItemId>(handle);
    plat::RemoveDataBrowserItems(fControl, std::span(&item, 1));
    size_t const at = it->second;
    fIndex.erase(it);
    RECORD const& r = fRecords[at];
    if (r.Parent != -1 && --fChildren[r.Parent] <= 0)
        fChildren.erase(r.Parent);
    if (CustomType & LVFMT_LISTBOX) {
        auto lb = fListboxHandles.find(r.ListboxIndex);
        if (lb != fListboxHandles.end() && lb->second == handle)
            fListboxHandles.erase(lb);
    }
    fRecords.erase(fRecords.begin() + static_cast<std::ptrdiff_t>(at));
    for (size_t i = at; i < fRecords.size(); ++i)
        fIndex[fRecords[i].Handle] = i;
    return true;
}

void LISTVIEW::DeleteAllRecords()
{
    TARVOAPP::CheckCallerThread("LISTVIEW::DeleteAllRecords");
    plat::RemoveAllDataBrowserItems(fControl);
    plat::SetDataBrowserScrollPosition(fControl, 0, 0);
    fRecords.clear();
    fIndex.clear();
    fChildren.clear();
    fListboxHandles.clear();
}

int LISTVIEW::GetNumRecords()
{
    return static_cast<int>(fRecords.size());
}

int LISTVIEW::GetRecordHandleFromIndex(int index)
{
    if (index < 0 || static_cast<size_t>(index) >= fRecords.size())
        return 0;
    return fRecords[static_cast<size_t>(index)].Handle;
}

int LISTVIEW::GetRecordIndexFromHandle(int handle, signed char mustFind)
{
    auto it = fIndex.find(handle);
    int const idx = it == fIndex.end() ? -1 : static_cast<int>(it->second);
    VASSERT(idx != -1 || !mustFind, "idx!=-1 || !mustfind", nullptr);
    return idx;
}

int LISTVIEW::GetRecordHandleFromDisplayPos(int row, signed char mustFind)
{
    plat::DataBrowserItemId item = 0;
    plat::Status const err = plat::GetDataBrowserItemAtRow(fControl, row, &item);
    VASSERT(err == plat::kNoErr || !mustFind, "err==noErr || !mustfind", nullptr);
    return static_cast<int>(item);
}

int LISTVIEW::GetRecordListboxIndex(int handle)
{
    RECORD const* r = Find(handle);
    return r ? r->ListboxIndex : -1;
}

bool LISTVIEW::SetRecordListboxIndex(int handle, int index)
{
    RECORD* r = Find(handle);
    if (!r)
        return false;
    auto old = fListboxHandles.find(r->ListboxIndex);
    if (old != fListboxHandles.end() && old->second == handle)
        fListboxHandles.erase(old);
    r->ListboxIndex = index;
    fListboxHandles[index] = handle;
    return true;
}

int LISTVIEW::FindRecordHandleFromListboxIndex(int index)
{
    VASSERT((CustomType & LVFMT_LISTBOX) != 0, "(this->CustomType & LVFMT_LISTBOX)!=0", nullptr);
    auto it = fListboxHandles.find(index);
    int const handle = it == fListboxHandles.end() ? -1 : it->second;
    VASSERT(handle != -1, "handle!=-1", nullptr);
    return handle;
}

bool LISTVIEW::MakeRecordVisible(int handle, signed char)
{
    return plat::RevealDataBrowserItem(fControl, static_cast<plat::DataBrowserItemId>(handle)) == plat::kNoErr;
}

// ---------------------------------------------------------------------------
// Selection

bool LISTVIEW::SelectRecord(int handle, unsigned long state)
{
    TARVOAPP::CheckCallerThread("LISTVIEW::SelectRecord");
    VASSERT(state != FOCUSONLY, "stateflags!=LISTVIEW::FOCUSONLY", nullptr);
    plat::DataBrowserItemId const item = static_cast<plat::DataBrowserItemId>(handle);
    plat::DataBrowserSetOption option = plat::DataBrowserSetOption::Remove;
    if (state != 0)
        option = plat::IsDataBrowserSelectOnlyOne(fControl) ? plat::DataBrowserSetOption::Assign
                                                            : plat::DataBrowserSetOption::Add;
    return VERIFYSTATUS("err == 0 ", plat::SetDataBrowserSelectedItems(fControl, std::span(&item, 1), option));
}

void LISTVIEW::SelectAllRecords()
{
    std::vector<plat::DataBrowserItemId> all;
    all.reserve(fRecords.size());
    for (RECORD const& r : fRecords)
        all.push_back(static_cast<plat::DataBrowserItemId>(r.Handle));
    plat::SetDataBrowserSelectedItems(fControl, all, plat::DataBrowserSetOption::Assign);
}

void LISTVIEW::DeselectAllRecords()
{
    plat::SetDataBrowserSelectedItems(fControl, {}, plat::DataBrowserSetOption::Assign);
}

bool LISTVIEW::IsRecordSelected(int handle)
{
    return plat::IsDataBrowserItemSelected(fControl, static_cast<plat::DataBrowserItemId>(handle));
}

int LISTVIEW::CountSelectedRecords()
{
    return plat::CountDataBrowserSelectedItems(fControl);
}

int LISTVIEW::GetSelectedRecord(int n)
{
    std::vector<plat::DataBrowserItemId> const selected = plat::GetDataBrowserSelectedItems(fControl);
    if (n < 0 || static_cast<size_t>(n) >= selected.size())
        return -1;
    return static_cast<int>(selected[selected.size() - 1 - static_cast<size_t>(n)]);
}

// ---------------------------------------------------------------------------
// Sorting

void LISTVIEW::SetSortCallback(SORTCALLBACK callback, void* context)
{
    SetControlProperty(CPROP_SORTFUNCTION, reinterpret_cast<MSGWORD>(callback));
    SetControlProperty(CPROP_SORTCONTEXT, reinterpret_cast<MSGWORD>(context ? context : this));
}

void LISTVIEW::GetSortCallback(SORTCALLBACK* callback, void** context)
{
    if (callback)
        *callback = reinterpret_cast<SORTCALLBACK>(GetControlProperty(CPROP_SORTFUNCTION));
    if (context)
        *context = reinterpret_cast<void*>(GetControlProperty(CPROP_SORTCONTEXT));
}

int LISTVIEW::DefaultSort(int handle1, int handle2, void* listview)
{
    return listview ? static_cast<LISTVIEW*>(listview)->Sort(handle1, handle2) : 0;
}

void LISTVIEW::SortRecords(int descending, int column, SORTCALLBACK callback, void* context)
{
    TARVOAPP::CheckCallerThread("LISTVIEW::SortRecords");
    MSGWORD const oldCallback = GetControlProperty(CPROP_SORTFUNCTION);
    MSGWORD const oldContext = GetControlProperty(CPROP_SORTCONTEXT);
    SetSortCallback(callback, context);
    uint16_t const order = descending ? plat::kDataBrowserOrderDecreasing : plat::kDataBrowserOrderIncreasing;
    VERIFYSTATUS("err == 0 ", plat::SetDataBrowserSort(fControl, ColumnProperty(column), order));
    SetControlProperty(CPROP_SORTFUNCTION, oldCallback);
    SetControlProperty(CPROP_SORTCONTEXT, oldContext);
    // The comparisons that come later use the callback put back.
    BeginComparing(plat::GetDataBrowserSortProperty(fControl), plat::GetDataBrowserSortOrder(fControl));
}

int LISTVIEW::GetSortStyle(int* column, int* descending)
{
    int const d = plat::GetDataBrowserSortOrder(fControl) == plat::kDataBrowserOrderDecreasing;
    if (column)
        *column = ColumnIndex(plat::GetDataBrowserSortProperty(fControl));
    if (descending)
        *descending = d;
    return d;
}

int LISTVIEW::Compare(RECORD const& a, RECORD const& b) const
{
    auto cell = [](RECORD const& r, int column) -> std::u16string_view {
        return column >= 0 && static_cast<size_t>(column) < r.Cells.size() ? r.Cells[static_cast<size_t>(column)].Units()
                                                                          : std::u16string_view();
    };
    return CompareCodePoints(cell(a, fRun.Column), cell(b, fRun.Column));
}

int LISTVIEW::Sort(int handle1, int handle2)
{
    RECORD const* a = Find(handle1);
    RECORD const* b = Find(handle2);
    VASSERT(a != nullptr, "recordidx1!=-1", nullptr);
    VASSERT(b != nullptr, "recordidx2!=-1", nullptr);
    if (!a || !b)
        return 0;
    if (CustomType & LVFMT_LISTBOX)
        return CompareNumbers(a->ListboxIndex, b->ListboxIndex);
    int const r = Compare(*a, *b);
    return fRun.Descending ? -r : r;
}

void LISTVIEW::BeginComparing(plat::DataBrowserPropertyId property, uint16_t order)
{
    fRun.Callback = reinterpret_cast<SORTCALLBACK>(GetControlProperty(CPROP_SORTFUNCTION));
    fRun.Context = reinterpret_cast<void*>(GetControlProperty(CPROP_SORTCONTEXT));
    fRun.Column = ColumnIndex(property);
    fRun.Descending = order == plat::kDataBrowserOrderDecreasing;
    fRun.Property = property;
}

bool LISTVIEW::ItemLess(plat::DataBrowserItemId a, plat::DataBrowserItemId b, plat::DataBrowserPropertyId property)
{
    if (property == plat::kDataBrowserNoProperty)
        return static_cast<int>(a) < static_cast<int>(b); // the handles, signed
    int r = 0;
    if (fRun.Callback) {
        r = Sign(fRun.Callback(static_cast<int>(a), static_cast<int>(b), fRun.Context));
        if (fRun.Descending)
            r = -r;
    } else {
        r = Sort(static_cast<int>(a), static_cast<int>(b));
    }
    return r < 0;
}

// ---------------------------------------------------------------------------
// The browser's questions

bool LISTVIEW::GetCell(plat::DataBrowserItemId item, plat::DataBrowserPropertyId property, plat::DataBrowserCell* cell)
{
    RECORD const* r = Find(static_cast<int>(item));
    if (!VCHECK(r != nullptr, "recordidx!=-1", nullptr))
        return false;
    int const column = ColumnIndex(property);
    cell->text = static_cast<size_t>(column) < r->Cells.size() ? r->Cells[static_cast<size_t>(column)] : EmptyText();
    if (column != 0 || CustomType & (LVFMT_LISTBOX | LVFMT_TREEVIEW))
        return true;
    if (CustomType == LVFMT_CHECKLIST) {
        std::string digits;
        cell->text.ToLatin1(digits, '?');
        cell->checked = std::atoi(digits.c_str()) != 0;
        return true;
    }
    if (CustomType != 0)
        return false;
    if (r->Icon >= 0 && r->Icon < fImageCount && fImages[static_cast<size_t>(r->Icon)])
        cell->icon = fImages[static_cast<size_t>(r->Icon)]->GetIconRef();
    return true;
}

bool LISTVIEW::SetChecked(plat::DataBrowserItemId item, plat::DataBrowserPropertyId property, bool on)
{
    if (!VCHECK(ColumnIndex(property) == 0, "columnidx==0", nullptr) ||
        !VCHECK(CustomType & LVFMT_CHECKLIST, "this->CustomType & LVFMT_CHECKLIST", nullptr))
        return false;
    if (!VCHECK(Find(static_cast<int>(item)) != nullptr, "recordidx!=-1", nullptr))
        return false;
    return SetCell(static_cast<int>(item), 0, plat::Text::FromUnits(on ? u"1" : u"0"));
}

bool LISTVIEW::IsContainer(plat::DataBrowserItemId item)
{
    return fTree && fChildren.count(static_cast<int>(item)) != 0;
}

void LISTVIEW::Notify(plat::DataBrowserItemId item, plat::DataBrowserNotification what)
{
    bool const listbox = CustomType & LVFMT_LISTBOX;
    switch (what) {
    case plat::kDataBrowserItemDoubleClicked:
        SendOwnerNotification(listbox ? CONTROLNOTIFY_LBDOUBLECLICK : CONTROLNOTIFY_DOUBLECLICK, item);
        break;
    case plat::kDataBrowserSelectionSetChanged:
        SendOwnerNotification(listbox ? CONTROLNOTIFY_LBSELECTION : CONTROLNOTIFY_SELECTION, 0);
        break;
    case plat::kDataBrowserContainerOpened: {
        std::vector<plat::DataBrowserItemId> children;
        for (RECORD const& r : fRecords)
            if (r.Parent == static_cast<int>(item))
                children.push_back(static_cast<plat::DataBrowserItemId>(r.Handle));
        plat::AddDataBrowserItems(fControl, item, children);
        break;
    }
    default:
        break;
    }
}

plat::Text LISTVIEW::HelpText(plat::DataBrowserItemId item, plat::DataBrowserPropertyId)
{
    LISTVIEWHELPREQUEST request;
    request.View = fControl;
    request.Code = CONTROLNOTIFY_HELPREQUEST;
    request.Item = item;
    request.Flags = 1;
    MSGWORD const answer =
        DARWINDOW::SendMessage(plat::GetViewWindow(fControl), WM_VCONTROL, CONTROLNOTIFY_HELPREQUEST,
                               reinterpret_cast<MSGWORD>(fControl), reinterpret_cast<MSGWORD>(&request));
    if (!answer)
        return plat::Text();
    request.Buffer[sizeof request.Buffer - 1] = 0;
    return plat::Text::FromLatin1(request.Text ? request.Text : request.Buffer);
}

plat::Status LISTVIEW::HandleEvent(plat::HandlerCall*, TCarbonEvent& event)
{
    if (event.GetClass() != plat::kEventClassControl || event.GetKind() != plat::kEventControlContextualMenuClick)
        return plat::kErrEventNotHandled;
    plat::PointF where;
    event.GetParameter(plat::kParamMouseInView, plat::kTypePoint, &where);
    plat::DataBrowserItemId item = 0;
    plat::GetDataBrowserItemAt(fControl, plat::PointI{static_cast<int32_t>(where.x), static_cast<int32_t>(where.y)},
                               &item, nullptr);
    // A click beside the selection first selects what lies under it, as a
    // plain click would.
    if (!item || !plat::IsDataBrowserItemSelected(fControl, item)) {
        std::span<plat::DataBrowserItemId const> const under = item ? std::span(&item, 1)
                                                                    : std::span<plat::DataBrowserItemId const>();
        plat::SetDataBrowserSelectedItems(fControl, under, plat::DataBrowserSetOption::Assign);
    }
    SendOwnerNotification(CONTROLNOTIFY_CONTEXTCLICK, item);
    return plat::kNoErr;
}

// ---------------------------------------------------------------------------
// Column widths in the registry store

bool LISTVIEW::StoreColumnWidths(char const* section, char const* valueName)
{
    STRING text;
    for (int c = 0; c < fColumnCount; ++c)
        text.FormatAppend(c ? "|%d" : "%d", GetColumnWidth(c));
    REGISTRY registry(section, "Software\\Tarvo\\", REGISTRY::CURRENT_USER);
    bool const ok = registry.Write(valueName, text.Buf());
    LOGIT("LISTVIEW::StoreColumnWidth (%s) done, success=%d\n", text.Buf(), ok ? 1 : 0);
    return ok;
}

bool LISTVIEW::RestoreColumnWidths(char const* section, char const* valueName)
{
    REGISTRY registry(section, "Software\\Tarvo\\", REGISTRY::CURRENT_USER);
    STRING text;
    // Read whole: a list of many columns is longer than 63 characters.
    bool const ok = registry.Read(valueName, &text);
    if (ok) {
        int const tokens = text.NumTokens("|");
        for (int i = 0; i < tokens && i < fColumnCount; ++i)
            SetColumnWidth(i, std::atoi(text.Token(i, "|", STRING::TOKEN_EMPTYNOTUNSET).Buf()));
    }
    LOGIT("LISTVIEW::RestoreColumnWidths (%s) done, success=%d\n", text.Buf(), ok ? 1 : 0);
    return ok;
}

int LISTVIEW::QueryTextWidthWide(wchar_t const* text, unsigned short font)
{
    if (!text || !*text)
        return 0;
    return plat::GetThemeTextDimensions(CFSTRING::TextOf(text), static_cast<plat::ThemeFontId>(font)).width;
}
