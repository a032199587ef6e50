// The data browser's item model: ids in containers, kept in order, and
// cells asked of the client as the view paints them.
#include "platform/controls/browsermodel.h"

#include "platform/controls/control_qt.h"
#include "platform/draw/icons_qt.h"

#include <algorithm>
#include <unordered_set>

namespace plat::controls {

BrowserModel::BrowserModel()
{
    nodes_[0].open = true;
}

const BrowserModel::Node* BrowserModel::Find(DataBrowserItemId item) const
{
    auto it = nodes_.find(item);
    return it == nodes_.end() ? nullptr : &it->second;
}

bool BrowserModel::Less(DataBrowserItemId a, DataBrowserItemId b) const
{
    return client && client->ItemLess(a, b, sortProperty);
}

void BrowserModel::FixRows(const Node& container) const
{
    if (container.rowsValid)
        return;
    int row = 0;
    for (DataBrowserItemId id : container.children)
        nodes_[id].row = row++;
    const_cast<Node&>(container).rowsValid = true;
}

int BrowserModel::RowOf(DataBrowserItemId item) const
{
    auto it = nodes_.find(item);
    if (it == nodes_.end() || item == 0)
        return -1;
    FixRows(nodes_[it->second.parent]);
    return it->second.row;
}

QModelIndex BrowserModel::IndexOf(DataBrowserItemId item, int column) const
{
    const int row = RowOf(item);
    return row < 0 ? QModelIndex() : createIndex(row, column, static_cast<quintptr>(item));
}

int BrowserModel::ColumnOf(DataBrowserPropertyId property) const
{
    for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i].property == property)
            return static_cast<int>(i);
    return -1;
}

Status BrowserModel::AddItems(DataBrowserItemId container, std::span<const DataBrowserItemId> items)
{
    auto c = nodes_.find(container);
    if (c == nodes_.end() || !c->second.open)
        return kErrParamNotFound;
    std::unordered_set<DataBrowserItemId> seen;
    for (DataBrowserItemId id : items)
        if (id == 0 || nodes_.count(id) || !seen.insert(id).second)
            return kErrBadArgument;
    if (items.empty())
        return kNoErr;
    lastItem_ = 0;
    const QModelIndex parentIndex = IndexOf(container);
    Node& node = c->second;
    if (sortProperty == kDataBrowserNoProperty || items.size() > 1) {
        // Appended; a sorted container is sorted again once, which is
        // cheaper than finding a place for each.
        const int first = static_cast<int>(node.children.size());
        beginInsertRows(parentIndex, first, first + static_cast<int>(items.size()) - 1);
        for (DataBrowserItemId id : items) {
            Node& n = nodes_[id];
            n.parent = container;
            n.row = static_cast<int>(node.children.size());
            node.children.push_back(id);
        }
        endInsertRows();
        if (sortProperty != kDataBrowserNoProperty) {
            if (client)
                client->BeginComparing(sortProperty, sortOrder);
            layoutAboutToBeChanged({QPersistentModelIndex(parentIndex)}, VerticalSortHint);
            const QModelIndexList before = persistentIndexList();
            SortChildren(node);
            QModelIndexList after;
            for (const QModelIndex& i : before)
                after.push_back(IndexOf(ItemOf(i), i.column()));
            changePersistentIndexList(before, after);
            layoutChanged({QPersistentModelIndex(parentIndex)}, VerticalSortHint);
        }
        return kNoErr;
    }
    const DataBrowserItemId id = items[0];
    if (client)
        client->BeginComparing(sortProperty, sortOrder);
    auto at = std::upper_bound(node.children.begin(), node.children.end(), id,
                               [this](DataBrowserItemId a, DataBrowserItemId b) { return Less(a, b); });
    const int row = static_cast<int>(at - node.children.begin());
    beginInsertRows(parentIndex, row, row);
    Node& n = nodes_[id]; // references into the map survive its growth
    n.parent = container;
    n.row = row;
    node.children.insert(node.children.begin() + row, id);
    node.rowsValid = row + 1 == static_cast<int>(node.children.size()) && node.rowsValid;
    endInsertRows();
    return kNoErr;
}

void BrowserModel::Forget(DataBrowserItemId item)
{
    auto it = nodes_.find(item);
    if (it == nodes_.end())
        return;
    std::vector<DataBrowserItemId> children = std::move(it->second.children);
    nodes_.erase(it);
    for (DataBrowserItemId child : children)
        Forget(child);
}

void BrowserModel::RemoveItems(std::span<const DataBrowserItemId> items)
{
    for (DataBrowserItemId id : items) {
        if (!Has(id))
            continue;
        lastItem_ = 0;
        const DataBrowserItemId container = nodes_[id].parent;
        const int row = RowOf(id);
        beginRemoveRows(IndexOf(container), row, row);
        Node& c = nodes_[container];
        c.children.erase(c.children.begin() + row);
        c.rowsValid = c.rowsValid && row == static_cast<int>(c.children.size());
        Forget(id);
        endRemoveRows();
    }
}

void BrowserModel::RemoveAll()
{
    beginResetModel();
    lastItem_ = 0;
    nodes_.clear();
    nodes_[0].open = true;
    endResetModel();
}

void BrowserModel::UpdateItems(std::span<const DataBrowserItemId> items, DataBrowserPropertyId property)
{
    lastItem_ = 0;
    if (columns.empty())
        return;
    int first = 0;
    int last = static_cast<int>(columns.size()) - 1;
    if (property != kDataBrowserNoProperty) {
        first = last = ColumnOf(property);
        if (first < 0)
            return;
    }
    if (items.empty()) {
        // Every cell: a change of more than one cell repaints all the view
        // shows, the items of open containers with them.
        const int rows = rowCount(QModelIndex());
        if (rows > 0)
            emit dataChanged(index(0, first, QModelIndex()), index(rows - 1, last, QModelIndex()));
        return;
    }
    for (DataBrowserItemId id : items)
        if (Has(id))
            emit dataChanged(IndexOf(id, first), IndexOf(id, last));
}

int BrowserModel::CountItems(DataBrowserItemId container, bool recurse) const
{
    const Node* c = Find(container);
    if (!c)
        return 0;
    int n = static_cast<int>(c->children.size());
    if (recurse)
        for (DataBrowserItemId id : c->children)
            n += CountItems(id, true);
    return n;
}

bool BrowserModel::Open(DataBrowserItemId item)
{
    auto it = nodes_.find(item);
    if (item == 0 || it == nodes_.end() || !client || !client->IsContainer(item))
        return false;
    if (it->second.open)
        return true;
    it->second.open = true;
    client->Notify(item, kDataBrowserContainerOpened);
    return true;
}

void BrowserModel::Close(DataBrowserItemId item)
{
    auto it = nodes_.find(item);
    if (item == 0 || it == nodes_.end() || !it->second.open)
        return;
    if (client)
        client->Notify(item, kDataBrowserContainerClosed);
    it = nodes_.find(item); // the client may have changed the model
    if (it == nodes_.end())
        return;
    std::vector<DataBrowserItemId> children = it->second.children;
    if (!children.empty()) {
        beginRemoveRows(IndexOf(item), 0, static_cast<int>(children.size()) - 1);
        lastItem_ = 0;
        nodes_[item].children.clear();
        for (DataBrowserItemId child : children)
            Forget(child);
        endRemoveRows();
    }
    nodes_[item].open = false;
}

void BrowserModel::SortChildren(Node& container)
{
    if (sortProperty != kDataBrowserNoProperty && container.children.size() > 1) {
        std::stable_sort(container.children.begin(), container.children.end(),
                         [this](DataBrowserItemId a, DataBrowserItemId b) { return Less(a, b); });
        container.rowsValid = false;
    }
    for (DataBrowserItemId id : container.children) {
        Node& child = nodes_[id];
        if (!child.children.empty())
            SortChildren(child);
    }
}

void BrowserModel::SortAll()
{
    if (sortProperty == kDataBrowserNoProperty)
        return;
    if (client)
        client->BeginComparing(sortProperty, sortOrder);
    layoutAboutToBeChanged({}, VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    SortChildren(nodes_[0]);
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& i : before)
        after.push_back(IndexOf(ItemOf(i), i.column()));
    changePersistentIndexList(before, after);
    layoutChanged({}, VerticalSortHint);
}

void BrowserModel::ColumnsChanged()
{
    beginResetModel();
    lastItem_ = 0;
    endResetModel();
}

std::vector<DataBrowserItemId> BrowserModel::ShownItems() const
{
    std::vector<DataBrowserItemId> out;
    out.reserve(nodes_.size());
    std::vector<std::pair<const Node*, size_t>> stack{{&nodes_[0], 0}};
    while (!stack.empty()) {
        auto& [node, next] = stack.back();
        if (next == node->children.size()) {
            stack.pop_back();
            continue;
        }
        const DataBrowserItemId id = node->children[next++];
        out.push_back(id);
        const Node& child = nodes_[id];
        if (!child.children.empty())
            stack.push_back({&child, 0});
    }
    return out;
}

// ---------------------------------------------------------------------------
// QAbstractItemModel

QModelIndex BrowserModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column < 0 || column >= static_cast<int>(columns.size()))
        return QModelIndex();
    if (parent.isValid() && parent.column() != 0)
        return QModelIndex();
    const Node* c = Find(ItemOf(parent));
    if (!c || row >= static_cast<int>(c->children.size()))
        return QModelIndex();
    return createIndex(row, column, static_cast<quintptr>(c->children[static_cast<size_t>(row)]));
}

QModelIndex BrowserModel::parent(const QModelIndex& index) const
{
    const Node* n = Find(ItemOf(index));
    if (!n || n->parent == 0)
        return QModelIndex();
    return IndexOf(n->parent);
}

int BrowserModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    const Node* c = Find(ItemOf(parent));
    return c ? static_cast<int>(c->children.size()) : 0;
}

int BrowserModel::columnCount(const QModelIndex&) const
{
    return static_cast<int>(columns.size());
}

bool BrowserModel::hasChildren(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return !nodes_[0].children.empty();
    if (parent.column() != 0)
        return false;
    const Node* n = Find(ItemOf(parent));
    if (!n)
        return false;
    if (!n->children.empty())
        return true;
    return !n->open && client && client->IsContainer(ItemOf(parent));
}

bool BrowserModel::canFetchMore(const QModelIndex& parent) const
{
    const Node* n = Find(ItemOf(parent));
    return parent.isValid() && n && !n->open && client && client->IsContainer(ItemOf(parent));
}

void BrowserModel::fetchMore(const QModelIndex& parent)
{
    if (parent.isValid())
        Open(ItemOf(parent));
}

bool BrowserModel::Cell(DataBrowserItemId item, int column, DataBrowserCell* cell) const
{
    if (item != lastItem_ || column != lastColumn_) {
        lastItem_ = item;
        lastColumn_ = column;
        lastCell_ = DataBrowserCell();
        lastFound_ = client && client->GetCell(item, columns[static_cast<size_t>(column)].property, &lastCell_);
    }
    *cell = lastCell_;
    return lastFound_;
}

QIcon BrowserModel::IconOf(IconRef icon) const
{
    auto it = icons_.find(icon);
    if (it != icons_.end())
        return it->second;
    QIcon q = QIconOf(icon);
    icons_.emplace(icon, q);
    return q;
}

Qt::Alignment AlignmentOf(int16_t justification)
{
    switch (justification) {
    case kJustCenter:
        return Qt::AlignHCenter | Qt::AlignVCenter;
    case kJustRight:
        return Qt::AlignRight | Qt::AlignVCenter;
    default:
        return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

QVariant BrowserModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() >= static_cast<int>(columns.size()))
        return QVariant();
    const DataBrowserColumnSpec& column = columns[static_cast<size_t>(index.column())];
    DataBrowserCell cell;
    switch (role) {
    case Qt::DisplayRole:
        if (column.type == kDataBrowserCheckboxType || !Cell(ItemOf(index), index.column(), &cell))
            return QVariant();
        return QStr(cell.text);
    case Qt::DecorationRole:
        if (column.type != kDataBrowserIconAndTextType || !Cell(ItemOf(index), index.column(), &cell) ||
            !cell.icon)
            return QVariant();
        return IconOf(cell.icon);
    case Qt::CheckStateRole:
        if (column.type != kDataBrowserCheckboxType || !Cell(ItemOf(index), index.column(), &cell))
            return QVariant();
        return cell.checked ? Qt::Checked : Qt::Unchecked;
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(AlignmentOf(column.justification));
    default:
        return QVariant();
    }
}

bool BrowserModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole || !index.isValid() || !client)
        return false;
    const DataBrowserColumnSpec& column = columns[static_cast<size_t>(index.column())];
    if (column.type != kDataBrowserCheckboxType || !(column.flags & kDataBrowserPropertyIsMutable))
        return false;
    const bool on = value.value<Qt::CheckState>() == Qt::Checked;
    if (!client->SetChecked(ItemOf(index), column.property, on))
        return false;
    lastItem_ = 0;
    emit dataChanged(index, index);
    return true;
}

Qt::ItemFlags BrowserModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    const DataBrowserColumnSpec& column = columns[static_cast<size_t>(index.column())];
    if (column.type == kDataBrowserCheckboxType && (column.flags & kDataBrowserPropertyIsMutable))
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant BrowserModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(columns.size()))
        return QVariant();
    const DataBrowserColumnSpec& column = columns[static_cast<size_t>(section)];
    if (role == Qt::DisplayRole)
        return QStr(column.title);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(AlignmentOf(column.justification));
    return QVariant();
}

} // namespace plat::controls
