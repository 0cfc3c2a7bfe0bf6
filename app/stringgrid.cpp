#include "stringgrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>

QString TStringGridModel::Cell(int col, int row) const
{
    if (col < 0 || col >= ColCount || row < 0 || static_cast<std::size_t>(row) >= cells_.size())
        return {};
    return cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}

void TStringGridModel::SetCell(int col, int row, const QString& text)
{
    if (col < 0 || col >= ColCount || row < 0)
        return;
    if (static_cast<std::size_t>(row) >= cells_.size()) {
        if (text.isEmpty())
            return;
        cells_.resize(static_cast<std::size_t>(row) + 1);
    }
    QString& cell = cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
    if (cell == text)
        return;
    cell = text;
    if (row == 0)
        emit headerDataChanged(Qt::Horizontal, col, col);
    else if (row < rowCount_) {
        const QModelIndex changed = index(row - 1, col);
        emit dataChanged(changed, changed, {Qt::DisplayRole});
    }
}

void TStringGridModel::SetRowCount(int count)
{
    count = std::max(count, 1);
    if (count > rowCount_) {
        beginInsertRows({}, rowCount_ - 1, count - 2);
        rowCount_ = count;
        endInsertRows();
    } else if (count < rowCount_) {
        beginRemoveRows({}, count - 1, rowCount_ - 2);
        rowCount_ = count;
        endRemoveRows();
    }
}

int TStringGridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rowCount_ - 1;
}

int TStringGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColCount;
}

QVariant TStringGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole)
        return Cell(index.column(), index.row() + 1);
    if (role == Qt::BackgroundRole && index.column() == 0)
        return QApplication::palette().button();
    return {};
}

QVariant TStringGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return Cell(section, 0);
    return {};
}

Qt::ItemFlags TStringGridModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return index.column() == 0 ? Qt::ItemIsEnabled : Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

TStringGrid::TStringGrid(QWidget* parent) : QTableView(parent)
{
    setModel(&model_);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Rows, so that assistive technology may select one (Qt's accessible table refuses a row
    // of a single-selection view that selects items); the title column is not selectable, so
    // the highlight still covers the second column only.
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    verticalHeader()->hide();
    // Sizes include the one-pixel grid line: 126-pixel columns and 13-pixel rows between lines.
    for (QHeaderView* header : {horizontalHeader(), verticalHeader()}) {
        header->setMinimumSectionSize(1);
        header->setHighlightSections(false);
    }
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(14);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setDefaultSectionSize(127);
    horizontalHeader()->setFixedHeight(14);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setSectionsClickable(false);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { Selected(current); });
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected) { SelectionChanged(selected); });
    ShowSelection();
}

void TStringGrid::SetRowCount(int count)
{
    model_.SetRowCount(count);
    if (row_ >= RowCount() && RowCount() > 1) {
        row_ = RowCount() - 1;
        ShowSelection();
        scrollTo(model_.index(row_ - 1, 1));
    } else {
        ShowSelection();
    }
}

void TStringGrid::SetRow(int row)
{
    if (row < 1 || row >= RowCount())
        return;
    row_ = row;
    ShowSelection();
}

void TStringGrid::ShowSelection()
{
    const QModelIndex wanted = model_.index(row_ - 1, 1);
    if (!wanted.isValid())
        return;
    QItemSelectionModel* selection = selectionModel();
    if (selection->currentIndex() == wanted && selection->isSelected(wanted))
        return;
    selection->setCurrentIndex(wanted, QItemSelectionModel::ClearAndSelect);
}

void TStringGrid::Selected(const QModelIndex& current)
{
    if (current.isValid() && current.column() == 1)
        row_ = current.row() + 1;
}

// The selection may also change without the current cell: a screen reader selects a row
// through the accessible table, or toggles a cell. End task acts on Row(), so whatever is
// selected becomes the row, and the highlight shows the row and nothing else.
void TStringGrid::SelectionChanged(const QItemSelection& selected)
{
    if (const QModelIndexList cells = selected.indexes(); !cells.isEmpty()) {
        row_ = cells.front().row() + 1;
        ShowSelection();
    } else if (!selectionModel()->hasSelection()) {
        // Some row is always selected. Put it back from the event loop: a reader that selects
        // a row clears the old one first.
        QMetaObject::invokeMethod(this, &TStringGrid::ShowSelection, Qt::QueuedConnection);
    }
}

void TStringGrid::mousePressEvent(QMouseEvent* event)
{
    const QModelIndex hit = indexAt(event->position().toPoint());
    if (!hit.isValid() || hit.column() == 0)
        return;   // fixed cells and empty space select nothing
    QTableView::mousePressEvent(event);
}

void TStringGrid::mouseMoveEvent(QMouseEvent* event)
{
    // Dragging across the title column must not take the selection there.
    const QModelIndex hit = indexAt(event->position().toPoint());
    if (hit.isValid() && hit.column() == 0)
        return;
    QTableView::mouseMoveEvent(event);
}

QModelIndex TStringGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    const QModelIndex moved = QTableView::moveCursor(action, modifiers);
    return moved.isValid() ? model_.index(moved.row(), 1) : moved;
}
