// Bare Qt lists for the benchmarks.
#include "platform/controls/benchref.h"

#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTreeView>

namespace plat::benchref {

struct QtList::Impl {
    QWidget window;
    QTreeView* view = nullptr;
    QStandardItemModel model;
    int columns = 0;
};

QtList::QtList(int width, int height, int columns) : impl_(std::make_unique<Impl>())
{
    impl_->columns = columns;
    impl_->model.setColumnCount(columns);
    impl_->view = new QTreeView(&impl_->window);
    impl_->view->setModel(&impl_->model);
    impl_->view->setUniformRowHeights(true);
    impl_->view->setRootIsDecorated(false);
    impl_->view->setAlternatingRowColors(true);
    impl_->view->setSelectionBehavior(QAbstractItemView::SelectRows);
    impl_->view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    impl_->view->setGeometry(0, 0, width, height);
    impl_->window.resize(width, height);
    impl_->window.show();
    QApplication::processEvents();
}

QtList::~QtList() = default;

bool QtList::Ok() const
{
    return impl_->window.isVisible();
}

void QtList::Fill(const std::vector<std::u32string>& rows)
{
    for (const std::u32string& row : rows) {
        QList<QStandardItem*> items;
        const QString text = QString::fromUcs4(row.data(), static_cast<qsizetype>(row.size()));
        for (const QString& part : text.split('\t'))
            items.push_back(new QStandardItem(part));
        impl_->model.appendRow(items);
    }
}

void QtList::Clear()
{
    impl_->model.removeRows(0, impl_->model.rowCount());
}

void QtList::Sort(int column, bool descending)
{
    impl_->model.sort(column, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void QtList::ScrollAndPaint(int top)
{
    impl_->view->verticalScrollBar()->setValue(top);
    impl_->view->viewport()->repaint();
}

int QtList::MaximumScroll() const
{
    return impl_->view->verticalScrollBar()->maximum();
}

} // namespace plat::benchref
