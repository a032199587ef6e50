// Inner side of the data browser (platform/controls only): the one item
// model its tree view shows. The model keeps item ids and their order;
// every cell it is asked for comes from the client (databrowser.h).
#pragma once

#include "platform/controls/databrowser.h"

#include <QAbstractItemModel>
#include <QIcon>

#include <unordered_map>
#include <vector>

namespace plat::controls {

class BrowserModel final : public QAbstractItemModel {
public:
    struct Node {
        DataBrowserItemId parent = 0;
        std::vector<DataBrowserItemId> children; // in the order shown
        bool open = false;   // containers: their items are in the model
        bool rowsValid = true; // the children's `row` fields are right
        int row = 0;         // position in the parent's children
    };

    BrowserModel();

    DataBrowserClient* client = nullptr;
    std::vector<DataBrowserColumnSpec> columns;
    DataBrowserPropertyId sortProperty = kDataBrowserNoProperty;
    uint16_t sortOrder = kDataBrowserOrderIncreasing;

    // Items and containers (databrowser.h says what they refuse).
    Status AddItems(DataBrowserItemId container, std::span<const DataBrowserItemId> items);
    void RemoveItems(std::span<const DataBrowserItemId> items);
    void RemoveAll();
    void UpdateItems(std::span<const DataBrowserItemId> items, DataBrowserPropertyId property);
    bool Has(DataBrowserItemId item) const { return item != 0 && nodes_.count(item) != 0; }
    const Node* Find(DataBrowserItemId item) const;
    int CountItems(DataBrowserItemId container, bool recurse) const;
    // Opens the container (the client adds its items then); false when it
    // is no container of the client's or not in the model.
    bool Open(DataBrowserItemId item);
    void Close(DataBrowserItemId item);

    // The model index of an item's cell in a column; invalid for item 0.
    QModelIndex IndexOf(DataBrowserItemId item, int column = 0) const;
    static DataBrowserItemId ItemOf(const QModelIndex& index)
    {
        return index.isValid() ? static_cast<DataBrowserItemId>(index.internalId()) : 0;
    }
    int ColumnOf(DataBrowserPropertyId property) const;

    // Sorts every container by the sort property (none: insertion order
    // stays as it is).
    void SortAll();
    void ColumnsChanged();

    // Items in the order of their rows, open containers' items after
    // them: every item the view can show.
    std::vector<DataBrowserItemId> ShownItems() const;

    // QAbstractItemModel
    QModelIndex index(int row, int column, const QModelIndex& parent) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent) const override;
    int columnCount(const QModelIndex& parent) const override;
    bool hasChildren(const QModelIndex& parent) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    bool Less(DataBrowserItemId a, DataBrowserItemId b) const;
    int RowOf(DataBrowserItemId item) const;
    void FixRows(const Node& container) const;
    void SortChildren(Node& container);
    void Forget(DataBrowserItemId item); // the item and everything inside it
    bool Cell(DataBrowserItemId item, int column, DataBrowserCell* cell) const;
    QIcon IconOf(IconRef icon) const;

    // The root (0) is always there. Mutable: the rows are brought up to
    // date lazily from const queries.
    mutable std::unordered_map<DataBrowserItemId, Node> nodes_;
    // The last cell asked for: painting asks for several roles of a cell
    // in a row.
    mutable DataBrowserItemId lastItem_ = 0;
    mutable int lastColumn_ = -1;
    mutable bool lastFound_ = false;
    mutable DataBrowserCell lastCell_;
    mutable std::unordered_map<IconRef, QIcon> icons_;
};

} // namespace plat::controls
