#include "vcl/Grids.h"

#include <QTableWidget>

namespace vcl {

TStringGrid::TStringGrid(TComponent* owner)
    : TControl(owner, new QTableWidget(5, 5)), table_(static_cast<QTableWidget*>(Widget())) {
}

void TStringGrid::Fail() const {
    throw EInvalidGridOperation("Indice de grille hors limites");
}

int TStringGrid::ColCount() const {
    return table_->columnCount();
}
int TStringGrid::RowCount() const {
    return table_->rowCount();
}

void TStringGrid::SetColCount(int count) {
    if (count < 1)
        count = 1;
    if (count <= fixed_cols_)
        fixed_cols_ = count - 1;
    table_->setColumnCount(count);
    if (col_ >= count)
        col_ = count - 1;
}

void TStringGrid::SetRowCount(int count) {
    if (count < 1)
        count = 1;
    if (count <= fixed_rows_)
        fixed_rows_ = count - 1;
    table_->setRowCount(count);
    if (row_ >= count)
        row_ = count - 1;
}

void TStringGrid::SetFixedCols(int count) {
    if (count < 0 || count >= ColCount())
        throw EInvalidGridOperation("Nombre de colonnes fixes trop grand");
    fixed_cols_ = count;
    if (col_ < count)
        col_ = count;
}

void TStringGrid::SetFixedRows(int count) {
    if (count < 0 || count >= RowCount())
        throw EInvalidGridOperation("Nombre de lignes fixes trop grand");
    fixed_rows_ = count;
    if (row_ < count)
        row_ = count;
}

void TStringGrid::SetCol(int col) {
    if (col < fixed_cols_ || col >= ColCount())
        Fail();
    col_ = col;
    table_->setCurrentCell(row_, col_);
}

void TStringGrid::SetRow(int row) {
    if (row < fixed_rows_ || row >= RowCount())
        Fail();
    row_ = row;
    table_->setCurrentCell(row_, col_);
}

std::string TStringGrid::Cells(int col, int row) const {
    if (col < 0 || row < 0 || col >= ColCount() || row >= RowCount())
        return {};
    const QTableWidgetItem* item = table_->item(row, col);
    return item ? FromQString(item->text()) : std::string();
}

void TStringGrid::SetCells(int col, int row, const std::string& text) {
    if (col < 0 || row < 0 || col >= ColCount() || row >= RowCount())
        Fail();
    if (QTableWidgetItem* item = table_->item(row, col))
        item->setText(ToQString(text));
    else
        table_->setItem(row, col, new QTableWidgetItem(ToQString(text)));
}

} // namespace vcl
