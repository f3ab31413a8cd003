// The string grid: a table of texts with fixed rows and columns and a current cell.
#pragma once

#include "vcl/Controls.h"
#include "vcl/SysUtils.h"

class QTableWidget;

namespace vcl {

class EInvalidGridOperation : public Exception {
public:
    using Exception::Exception;
};

class TStringGrid : public TControl {
public:
    explicit TStringGrid(TComponent* owner);

    int ColCount() const;
    int RowCount() const;
    void SetColCount(int count); // at least one column and row, and more than the fixed ones
    void SetRowCount(int count);
    int FixedCols() const { return fixed_cols_; }
    int FixedRows() const { return fixed_rows_; }
    void SetFixedCols(int count);
    void SetFixedRows(int count);

    // The current cell; it must lie in the grid outside the fixed rows and columns, else
    // EInvalidGridOperation.
    int Col() const { return col_; }
    int Row() const { return row_; }
    void SetCol(int col);
    void SetRow(int row);

    std::string Cells(int col, int row) const;
    void SetCells(int col, int row, const std::string& text);

private:
    void Fail() const;
    QTableWidget* table_;
    int fixed_cols_ = 1;
    int fixed_rows_ = 1;
    int col_ = 1;
    int row_ = 1;
};

} // namespace vcl
