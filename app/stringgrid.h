#pragma once
// A two-column string grid: the first row is the fixed header, the first column is fixed
// (button-face, not selectable), and the selection is a row number whose highlight covers the
// second column only. Texts are kept for rows beyond the row count and show again when it grows.
// Only cells whose text changes are repainted, so a rebuild every 100 ms neither flickers nor
// moves the scroll position.

#include <array>
#include <vector>

#include <QAbstractTableModel>
#include <QTableView>

class TStringGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    static constexpr int ColCount = 2;

    QString Cell(int col, int row) const;
    void SetCell(int col, int row, const QString& text);
    int RowCount() const { return rowCount_; }
    void SetRowCount(int count);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    std::vector<std::array<QString, ColCount>> cells_;   // row 0 is the header
    int rowCount_ = 5;
};

class TStringGrid : public QTableView {
    Q_OBJECT
public:
    explicit TStringGrid(QWidget* parent = nullptr);

    QString Cell(int col, int row) const { return model_.Cell(col, row); }
    void SetCell(int col, int row, const QString& text) { model_.SetCell(col, row, text); }
    int RowCount() const { return model_.RowCount(); }
    // A selection the new count no longer includes moves to the new last row, scrolled to.
    void SetRowCount(int count);
    int Row() const { return row_; }
    void SetRow(int row);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;

private:
    void ShowSelection();
    void Selected(const QModelIndex& current);
    void SelectionChanged(const QItemSelection& selected);

    TStringGridModel model_;
    int row_ = 1;
};
