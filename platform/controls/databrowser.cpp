// Data browsers: a tree view over the browser's item model, and the calls
// of databrowser.h.
#include "platform/controls/browsermodel.h"
#include "platform/controls/control_qt.h"

#include "platform/events/application.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <QTreeView>

#include <algorithm>
#include <map>

namespace plat::controls {
namespace {

// Elides each column's text as its flags say, and keeps the selection's
// highlight off the other columns when it covers the first one only.
class CellDelegate final : public QStyledItemDelegate {
public:
    CellDelegate(const BrowserModel& model, QObject* parent) : QStyledItemDelegate(parent), model_(model) {}
    bool fullRow = true;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const size_t column = static_cast<size_t>(index.column());
        if (column < model_.columns.size())
            option->textElideMode = (model_.columns[column].flags & kDataBrowserTruncateMask) ==
                                            kDataBrowserTruncateTextAtEnd
                                        ? Qt::ElideRight
                                        : Qt::ElideMiddle;
        if (!fullRow && index.column() != 0)
            option->state &= ~QStyle::State_Selected;
    }

private:
    const BrowserModel& model_;
};

class DataBrowser final : public QTreeView, public ControlWidget {
public:
    explicit DataBrowser(const ControlSpec&)
    {
        delegate_ = new CellDelegate(model_, this);
        setItemDelegate(delegate_);
        setModel(&model_);
        setUniformRowHeights(true);
        setRootIsDecorated(false);
        setItemsExpandable(true);
        setSelectionBehavior(QAbstractItemView::SelectRows);
        setSelectionMode(QAbstractItemView::ExtendedSelection);
        setAllColumnsShowFocus(true);
        setEditTriggers(QAbstractItemView::NoEditTriggers);
        setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
        setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
        setSortingEnabled(false);
        header()->setStretchLastSection(false);
        header()->setSectionsMovable(true);
        header()->setFirstSectionMovable(false);
        header()->setSectionsClickable(true);
        header()->setMinimumSectionSize(1);
        connect(selectionModel(), &QItemSelectionModel::selectionChanged, [this] { Notify(0, kDataBrowserSelectionSetChanged); });
        connect(this, &QAbstractItemView::doubleClicked, [this](const QModelIndex& index) {
            if (const DataBrowserItemId item = BrowserModel::ItemOf(index))
                Notify(item, kDataBrowserItemDoubleClicked);
        });
        connect(this, &QTreeView::collapsed, [this](const QModelIndex& index) { model_.Close(BrowserModel::ItemOf(index)); });
        connect(header(), &QHeaderView::sectionClicked, [this](int section) { HeaderClicked(section); });
        connect(header(), &QHeaderView::sectionResized, [this](int section, int, int size) {
            if (section < 0 || section >= static_cast<int>(model_.columns.size()))
                return;
            const DataBrowserColumnSpec& c = model_.columns[static_cast<size_t>(section)];
            const int kept = std::clamp(size, static_cast<int>(c.minWidth), static_cast<int>(c.maxWidth));
            if (kept != size)
                header()->resizeSection(section, kept);
        });
    }

    QWidget* Widget() override { return this; }

    BrowserModel& Model() { return model_; }
    CellDelegate& Delegate() { return *delegate_; }

    void SetClient(DataBrowserClient* client)
    {
        model_.client = client;
        model_.UpdateItems({}, kDataBrowserNoProperty);
    }

    void Notify(DataBrowserItemId item, DataBrowserNotification what)
    {
        if (model_.client)
            model_.client->Notify(item, what);
    }

    void ShowSortIndicator()
    {
        const int column = model_.ColumnOf(model_.sortProperty);
        header()->setSortIndicatorShown(column >= 0);
        if (column >= 0)
            header()->setSortIndicator(column, model_.sortOrder == kDataBrowserOrderDecreasing ? Qt::DescendingOrder
                                                                                               : Qt::AscendingOrder);
    }

    // The rows the user can see, top to bottom (open containers' items
    // after them): the model's order, filtered to what is expanded.
    std::vector<DataBrowserItemId> ShownRows() const
    {
        std::vector<DataBrowserItemId> out;
        for (DataBrowserItemId id : model_.ShownItems()) {
            bool shown = true;
            for (DataBrowserItemId p = model_.Find(id)->parent; p != 0 && shown; p = model_.Find(p)->parent)
                shown = isExpanded(model_.IndexOf(p));
            if (shown)
                out.push_back(id);
        }
        return out;
    }

    QPoint ToViewport(PointI p) const { return viewport()->mapFrom(this, QPoint(p.x, p.y)); }

    Text HelpTextAt(QPoint inViewport) const
    {
        const QModelIndex index = indexAt(inViewport);
        if (!index.isValid() || !model_.client)
            return Text();
        return model_.client->HelpText(BrowserModel::ItemOf(index),
                                       model_.columns[static_cast<size_t>(index.column())].property);
    }

    int RowHeight()
    {
        if (model_.rowCount(QModelIndex()) > 0)
            return rowHeight(model_.index(0, 0, QModelIndex()));
        return fontMetrics().height() + 4;
    }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::RightButton && SendContextualClick(event->position().toPoint()))
            return;
        QTreeView::mousePressEvent(event);
    }

    bool viewportEvent(QEvent* event) override
    {
        if (event->type() == QEvent::ToolTip) {
            auto* help = static_cast<QHelpEvent*>(event);
            const Text text = HelpTextAt(help->pos());
            if (text.IsNull() || text.Length() == 0)
                QToolTip::hideText();
            else
                QToolTip::showText(help->globalPos(), QStr(text), viewport());
            return true;
        }
        return QTreeView::viewportEvent(event);
    }

private:
    // 'cntl' 12 for a press at a point of the viewport; true when a
    // handler took it.
    bool SendContextualClick(QPoint inViewport)
    {
        TargetRef target = ViewTarget(view);
        if (!target)
            return false;
        const QPoint p = viewport()->mapTo(this, inViewport);
        EventPtr e = Event::Create(kEventClassControl, kEventControlContextualMenuClick);
        e->Set(kParamDirectObject, kTypeView, view);
        e->Set(kParamMouseInView, kTypePoint, PointF{static_cast<double>(p.x()), static_cast<double>(p.y())});
        e->Set(kParamKeyModifiers, kTypeUInt32, CurrentKeyModifiers());
        return SendEvent(*e, target) == kNoErr;
    }

    void HeaderClicked(int section)
    {
        if (section < 0 || section >= static_cast<int>(model_.columns.size()))
            return;
        const DataBrowserColumnSpec& c = model_.columns[static_cast<size_t>(section)];
        if (!(c.flags & kDataBrowserListViewSortableColumn)) {
            ShowSortIndicator();
            return;
        }
        if (model_.sortProperty == c.property)
            model_.sortOrder = model_.sortOrder == kDataBrowserOrderDecreasing ? kDataBrowserOrderIncreasing
                                                                               : kDataBrowserOrderDecreasing;
        else
            model_.sortProperty = c.property;
        model_.SortAll();
        ShowSortIndicator();
    }

    BrowserModel model_;
    CellDelegate* delegate_ = nullptr;
};

DataBrowser* BrowserOf(ViewRef view, Status* err)
{
    ControlWidget* c = ControlOf(view);
    auto* b = c ? dynamic_cast<DataBrowser*>(c) : nullptr;
    if (err)
        *err = b ? kNoErr : c || bridge::GetViewRec(view) ? kErrBadArgument : kErrTargetGone;
    return b;
}

// Looks the browser up for a call that returns a status.
#define BROWSER_OR_RETURN(view)                                                                                       \
    Status err_ = kNoErr;                                                                                             \
    DataBrowser* b = BrowserOf(view, &err_);                                                                          \
    if (!b)                                                                                                           \
    return err_

} // namespace

ControlWidget* CreateDataBrowser(const ControlSpec& spec)
{
    return spec.kind == kControlKindDataBrowser ? new DataBrowser(spec) : nullptr;
}

} // namespace plat::controls

namespace plat {

using controls::BrowserModel;
using controls::BrowserOf;
using controls::DataBrowser;

Status SetDataBrowserClient(ViewRef view, DataBrowserClient* client)
{
    BROWSER_OR_RETURN(view);
    b->SetClient(client);
    return kNoErr;
}

Status AddDataBrowserColumn(ViewRef view, const DataBrowserColumnSpec& column, int position)
{
    BROWSER_OR_RETURN(view);
    BrowserModel& m = b->Model();
    if (column.property == kDataBrowserNoProperty || m.ColumnOf(column.property) >= 0 ||
        column.minWidth > column.maxWidth)
        return kErrBadArgument;
    // The widths of the columns there are stay theirs.
    std::map<DataBrowserPropertyId, int> widths;
    for (size_t i = 0; i < m.columns.size(); ++i)
        widths[m.columns[i].property] = b->header()->sectionSize(static_cast<int>(i));
    const size_t at = std::min(static_cast<size_t>(std::max(position, 0)), m.columns.size());
    m.columns.insert(m.columns.begin() + static_cast<std::ptrdiff_t>(at), column);
    m.ColumnsChanged();
    for (size_t i = 0; i < m.columns.size(); ++i) {
        auto w = widths.find(m.columns[i].property);
        b->header()->resizeSection(static_cast<int>(i), w != widths.end() ? w->second : 100);
    }
    b->ShowSortIndicator();
    return kNoErr;
}

Status RemoveDataBrowserColumn(ViewRef view, DataBrowserPropertyId property)
{
    BROWSER_OR_RETURN(view);
    BrowserModel& m = b->Model();
    const int column = m.ColumnOf(property);
    if (column < 0)
        return kErrParamNotFound;
    std::map<DataBrowserPropertyId, int> widths;
    for (size_t i = 0; i < m.columns.size(); ++i)
        widths[m.columns[i].property] = b->header()->sectionSize(static_cast<int>(i));
    m.columns.erase(m.columns.begin() + column);
    if (m.sortProperty == property)
        m.sortProperty = kDataBrowserNoProperty;
    m.ColumnsChanged();
    for (size_t i = 0; i < m.columns.size(); ++i)
        b->header()->resizeSection(static_cast<int>(i), widths[m.columns[i].property]);
    b->ShowSortIndicator();
    return kNoErr;
}

int CountDataBrowserColumns(ViewRef view)
{
    DataBrowser* b = BrowserOf(view, nullptr);
    return b ? static_cast<int>(b->Model().columns.size()) : 0;
}

DataBrowserPropertyId GetDataBrowserColumnProperty(ViewRef view, int position)
{
    DataBrowser* b = BrowserOf(view, nullptr);
    if (!b || position < 0 || position >= static_cast<int>(b->Model().columns.size()))
        return kDataBrowserNoProperty;
    return b->Model().columns[static_cast<size_t>(position)].property;
}

Status SetDataBrowserColumnTitle(ViewRef view, DataBrowserPropertyId property, const Text& title)
{
    BROWSER_OR_RETURN(view);
    const int column = b->Model().ColumnOf(property);
    if (column < 0)
        return kErrParamNotFound;
    b->Model().columns[static_cast<size_t>(column)].title = title;
    emit b->Model().headerDataChanged(Qt::Horizontal, column, column);
    return kNoErr;
}

Status SetDataBrowserColumnJustification(ViewRef view, DataBrowserPropertyId property, int16_t justification)
{
    BROWSER_OR_RETURN(view);
    const int column = b->Model().ColumnOf(property);
    if (column < 0)
        return kErrParamNotFound;
    b->Model().columns[static_cast<size_t>(column)].justification = justification;
    emit b->Model().headerDataChanged(Qt::Horizontal, column, column);
    b->viewport()->update();
    return kNoErr;
}

Status SetDataBrowserColumnWidth(ViewRef view, DataBrowserPropertyId property, int width)
{
    BROWSER_OR_RETURN(view);
    const int column = b->Model().ColumnOf(property);
    if (column < 0)
        return kErrParamNotFound;
    const DataBrowserColumnSpec& c = b->Model().columns[static_cast<size_t>(column)];
    b->header()->resizeSection(column, std::clamp(width, static_cast<int>(c.minWidth), static_cast<int>(c.maxWidth)));
    return kNoErr;
}

Status GetDataBrowserColumnWidth(ViewRef view, DataBrowserPropertyId property, int* width)
{
    BROWSER_OR_RETURN(view);
    const int column = b->Model().ColumnOf(property);
    if (column < 0)
        return kErrParamNotFound;
    if (width)
        *width = b->header()->sectionSize(column);
    return kNoErr;
}

Status SetDataBrowserHeaderVisible(ViewRef view, bool visible)
{
    BROWSER_OR_RETURN(view);
    b->setHeaderHidden(!visible);
    return kNoErr;
}

bool IsDataBrowserHeaderVisible(ViewRef view)
{
    DataBrowser* b = BrowserOf(view, nullptr);
    return b && !b->isHeaderHidden();
}

Status SetDataBrowserScrollBars(ViewRef view, bool horizontal, bool vertical)
{
    BROWSER_OR_RETURN(view);
    b->setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    b->setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    return kNoErr;
}

Status GetDataBrowserScrollBars(ViewRef view, bool* horizontal, bool* vertical)
{
    BROWSER_OR_RETURN(view);
    if (horizontal)
        *horizontal = b->horizontalScrollBarPolicy() != Qt::ScrollBarAlwaysOff;
    if (vertical)
        *vertical = b->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff;
    return kNoErr;
}

Status SetDataBrowserStriped(ViewRef view, bool striped)
{
    BROWSER_OR_RETURN(view);
    b->setAlternatingRowColors(striped);
    return kNoErr;
}

bool IsDataBrowserStriped(ViewRef view)
{
    DataBrowser* b = BrowserOf(view, nullptr);
    return b && b->alternatingRowColors();
}

Status SetDataBrowserFullRowHighlight(ViewRef view, bool fullRow)
{
    BROWSER_OR_RETURN(view);
    b->Delegate().fullRow = fullRow;
    b->viewport()->update();
    return kNoErr;
}

bool IsDataBrowserFullRowHighlight(ViewRef view)
{
    DataBrowser* b = BrowserOf(view, nullptr);
    return b && b->Delegate().fullRow;
}

Status SetDataBrowserFrameVisible(ViewRef view, bool visible)
{
    BROWSER_OR_RETURN(view);
    b->setFrameShape(visible ? QFrame::StyledPanel : QFrame::NoFrame);
    return kNoErr;
}

Status SetDataBrowserSelectOnlyOne(ViewRef view, bool one)
{
    BROWSER_OR_RETURN(view);
    b->setSelectionMode(one ? QAbstractItemView::SingleSelection : QAbstractItemView::ExtendedSelection);
    if (one) {
        // Keep the last of a wider selection, as choosing one would.
        std::vector<DataBrowserItemId> selected = GetDataBrowserSelectedItems(view);
        if (selected.size() > 1)
            SetDataBrowserSelectedItems(view, std::span(&selected.back(), 1), DataBrowserSetOption::Assign);
    }
    return kNoErr;
}

bool IsDataBrowserSelectOnlyOne(ViewRef view)
{
    DataBrowser* b = BrowserOf(view, nullptr);
    return b && b->selectionMode() == QAbstractItemView::SingleSelection;
}

Status AddDataBrowserItems(ViewRef view, DataBrowserItemId container, std::span<const DataBrowserItemId> items)
{
    BROWSER_OR_RETURN(view);
    return b->Model().AddItems(container, items);
}

Status RemoveDataBrowserItems(ViewRef view, std::span<const DataBrowserItemId> items)
{
    BROWSER_OR_RETURN(view);
    b->Model().RemoveItems(items);
    return kNoErr;
}

Status RemoveAllDataBrowserItems(ViewRef view)
{
    BROWSER_OR_RETURN(view);
    // A reset drops the selection without a word: the client hears of it.
    const bool hadSelection = b->selectionModel()->hasSelection();
    b->Model().RemoveAll();
    if (hadSelection)
        b->Notify(0, kDataBrowserSelectionSetChanged);
    return kNoErr;
}

Status UpdateDataBrowserItems(ViewRef view, std::span<const DataBrowserItemId> items, DataBrowserPropertyId property)
{
    BROWSER_OR_RETURN(view);
    b->Model().UpdateItems(items, property);
    return kNoErr;
}

int CountDataBrowserItems(ViewRef view, DataBrowserItemId container, bool recurse)
{
    DataBrowser* b = BrowserOf(view, nullptr);
    return b ? b->Model().CountItems(container, recurse) : 0;
}

bool IsDataBrowserItem(ViewRef view, DataBrowserItemId item)
{
    DataBrowser* b = BrowserOf(view, nullptr);
    return b && b->Model().Has(item);
}

DataBrowserItemId GetDataBrowserItemParent(ViewRef view, DataBrowserItemId item)
{
    DataBrowser* b = BrowserOf(view, nullptr);
    const BrowserModel::Node* n = b && item ? b->Model().Find(item) : nullptr;
    return n ? n->parent : 0;
}

Status GetDataBrowserItemAtRow(ViewRef view, int row, DataBrowserItemId* item)
{
    BROWSER_OR_RETURN(view);
    if (item)
        *item = 0;
    if (row < 0)
        return kErrParamNotFound;
    // A flat list's rows are the top level's.
    BrowserModel& m = b->Model();
    if (m.CountItems(0, false) == m.CountItems(0, true)) {
        const QModelIndex index = m.index(row, 0, QModelIndex());
        if (!index.isValid())
            return kErrParamNotFound;
        if (item)
            *item = BrowserModel::ItemOf(index);
        return kNoErr;
    }
    std::vector<DataBrowserItemId> rows = b->ShownRows();
    if (row >= static_cast<int>(rows.size()))
        return kErrParamNotFound;
    if (item)
        *item = rows[static_cast<size_t>(row)];
    return kNoErr;
}

int GetDataBrowserItemRow(ViewRef view, DataBrowserItemId item)
{
    DataBrowser* b = BrowserOf(view, nullptr);
    if (!b || !b->Model().Has(item))
        return -1;
    BrowserModel& m = b->Model();
    if (m.Find(item)->parent == 0 && m.CountItems(0, false) == m.CountItems(0, true))
        return m.IndexOf(item).row();
    std::vector<DataBrowserItemId> rows = b->ShownRows();
    auto it = std::find(rows.begin(), rows.end(), item);
    return it == rows.end() ? -1 : static_cast<int>(it - rows.begin());
}

Status GetDataBrowserItemAt(ViewRef view, PointI point, DataBrowserItemId* item, DataBrowserPropertyId* property)
{
    BROWSER_OR_RETURN(view);
    const QModelIndex index = b->indexAt(b->ToViewport(point));
    if (item)
        *item = BrowserModel::ItemOf(index);
    if (property)
        *property = index.isValid() ? b->Model().columns[static_cast<size_t>(index.column())].property : 0;
    return kNoErr;
}

Status RevealDataBrowserItem(ViewRef view, DataBrowserItemId item)
{
    BROWSER_OR_RETURN(view);
    const QModelIndex index = b->Model().IndexOf(item);
    if (!index.isValid())
        return kErrParamNotFound;
    b->scrollTo(index, QAbstractItemView::EnsureVisible);
    return kNoErr;
}

Status SetDataBrowserScrollPosition(ViewRef view, int top, int left)
{
    BROWSER_OR_RETURN(view);
    b->verticalScrollBar()->setValue(top);
    b->horizontalScrollBar()->setValue(left);
    return kNoErr;
}

Status GetDataBrowserScrollPosition(ViewRef view, int* top, int* left)
{
    BROWSER_OR_RETURN(view);
    if (top)
        *top = b->verticalScrollBar()->value();
    if (left)
        *left = b->horizontalScrollBar()->value();
    return kNoErr;
}

Status SetDataBrowserDisclosureTriangles(ViewRef view, bool on)
{
    BROWSER_OR_RETURN(view);
    b->setRootIsDecorated(on);
    return kNoErr;
}

bool HasDataBrowserDisclosureTriangles(ViewRef view)
{
    DataBrowser* b = BrowserOf(view, nullptr);
    return b && b->rootIsDecorated();
}

Status OpenDataBrowserContainer(ViewRef view, DataBrowserItemId item)
{
    BROWSER_OR_RETURN(view);
    if (!b->Model().Open(item))
        return kErrParamNotFound;
    b->expand(b->Model().IndexOf(item));
    return kNoErr;
}

Status CloseDataBrowserContainer(ViewRef view, DataBrowserItemId item)
{
    BROWSER_OR_RETURN(view);
    if (!b->Model().Has(item))
        return kErrParamNotFound;
    const QModelIndex index = b->Model().IndexOf(item);
    if (b->isExpanded(index))
        b->collapse(index); // the view's signal closes the container
    b->Model().Close(item);
    return kNoErr;
}

bool IsDataBrowserContainerOpen(ViewRef view, DataBrowserItemId item)
{
    DataBrowser* b = BrowserOf(view, nullptr);
    const BrowserModel::Node* n = b && item ? b->Model().Find(item) : nullptr;
    return n && n->open;
}

Status SetDataBrowserSelectedItems(ViewRef view, std::span<const DataBrowserItemId> items, DataBrowserSetOption option)
{
    BROWSER_OR_RETURN(view);
    BrowserModel& m = b->Model();
    std::vector<DataBrowserItemId> chosen;
    for (DataBrowserItemId id : items)
        if (m.Has(id))
            chosen.push_back(id);
    QItemSelectionModel::SelectionFlags flags = QItemSelectionModel::Rows;
    switch (option) {
    case DataBrowserSetOption::Assign:
        flags |= QItemSelectionModel::ClearAndSelect;
        break;
    case DataBrowserSetOption::Add:
        flags |= b->selectionMode() == QAbstractItemView::SingleSelection ? QItemSelectionModel::ClearAndSelect
                                                                          : QItemSelectionModel::Select;
        break;
    case DataBrowserSetOption::Remove:
        flags |= QItemSelectionModel::Deselect;
        break;
    case DataBrowserSetOption::Toggle:
        flags |= QItemSelectionModel::Toggle;
        break;
    }
    if (b->selectionMode() == QAbstractItemView::SingleSelection && chosen.size() > 1 &&
        option != DataBrowserSetOption::Remove)
        chosen.erase(chosen.begin(), chosen.end() - 1);
    // Runs of neighbouring rows become one range each.
    std::vector<QModelIndex> indexes;
    indexes.reserve(chosen.size());
    for (DataBrowserItemId id : chosen)
        indexes.push_back(m.IndexOf(id));
    std::sort(indexes.begin(), indexes.end(), [](const QModelIndex& a, const QModelIndex& c) {
        return a.parent() != c.parent() ? a.parent() < c.parent() : a.row() < c.row();
    });
    QItemSelection selection;
    for (size_t i = 0; i < indexes.size();) {
        size_t j = i + 1;
        while (j < indexes.size() && indexes[j].parent() == indexes[i].parent() &&
               indexes[j].row() == indexes[j - 1].row() + 1)
            ++j;
        selection.select(indexes[i], indexes[j - 1]);
        i = j;
    }
    if (selection.isEmpty() && option != DataBrowserSetOption::Assign)
        return kNoErr;
    b->selectionModel()->select(selection, flags);
    return kNoErr;
}

std::vector<DataBrowserItemId> GetDataBrowserSelectedItems(ViewRef view)
{
    DataBrowser* b = BrowserOf(view, nullptr);
    if (!b)
        return {};
    std::vector<DataBrowserItemId> out;
    const QModelIndexList rows = b->selectionModel()->selectedRows(0);
    out.reserve(static_cast<size_t>(rows.size()));
    for (const QModelIndex& i : rows)
        out.push_back(BrowserModel::ItemOf(i));
    if (out.size() < 2)
        return out;
    // In the order the rows show.
    BrowserModel& m = b->Model();
    if (m.CountItems(0, false) == m.CountItems(0, true)) {
        std::sort(out.begin(), out.end(),
                  [&m](DataBrowserItemId a, DataBrowserItemId c) { return m.IndexOf(a).row() < m.IndexOf(c).row(); });
        return out;
    }
    std::unordered_map<DataBrowserItemId, size_t> place;
    const std::vector<DataBrowserItemId> all = m.ShownItems();
    for (size_t i = 0; i < all.size(); ++i)
        place[all[i]] = i;
    std::sort(out.begin(), out.end(), [&place](DataBrowserItemId a, DataBrowserItemId c) { return place[a] < place[c]; });
    return out;
}

bool IsDataBrowserItemSelected(ViewRef view, DataBrowserItemId item)
{
    DataBrowser* b = BrowserOf(view, nullptr);
    if (!b || !b->Model().Has(item))
        return false;
    return b->selectionModel()->isSelected(b->Model().IndexOf(item));
}

int CountDataBrowserSelectedItems(ViewRef view)
{
    DataBrowser* b = BrowserOf(view, nullptr);
    return b ? static_cast<int>(b->selectionModel()->selectedRows(0).size()) : 0;
}

Status SetDataBrowserSortProperty(ViewRef view, DataBrowserPropertyId property)
{
    return SetDataBrowserSort(view, property, GetDataBrowserSortOrder(view));
}

DataBrowserPropertyId GetDataBrowserSortProperty(ViewRef view)
{
    DataBrowser* b = BrowserOf(view, nullptr);
    return b ? b->Model().sortProperty : kDataBrowserNoProperty;
}

Status SetDataBrowserSortOrder(ViewRef view, uint16_t order)
{
    return SetDataBrowserSort(view, GetDataBrowserSortProperty(view), order);
}

uint16_t GetDataBrowserSortOrder(ViewRef view)
{
    DataBrowser* b = BrowserOf(view, nullptr);
    return b ? b->Model().sortOrder : kDataBrowserOrderIncreasing;
}

Status SetDataBrowserSort(ViewRef view, DataBrowserPropertyId property, uint16_t order)
{
    BROWSER_OR_RETURN(view);
    if (order != kDataBrowserOrderIncreasing && order != kDataBrowserOrderDecreasing)
        return kErrBadArgument;
    if (b->Model().sortProperty == property && b->Model().sortOrder == order)
        return kNoErr;
    b->Model().sortProperty = property;
    b->Model().sortOrder = order;
    b->Model().SortAll();
    b->ShowSortIndicator();
    return kNoErr;
}

Status SortDataBrowser(ViewRef view)
{
    BROWSER_OR_RETURN(view);
    b->Model().SortAll();
    return kNoErr;
}

Text DataBrowserHelpTextAt(ViewRef view, PointI point)
{
    DataBrowser* b = BrowserOf(view, nullptr);
    return b ? b->HelpTextAt(b->ToViewport(point)) : Text();
}

int GetDataBrowserRowHeight(ViewRef view)
{
    DataBrowser* b = BrowserOf(view, nullptr);
    return b ? b->RowHeight() : 0;
}

} // namespace plat
