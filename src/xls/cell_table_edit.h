// Writes into a sheet's cell table: a text put over whatever the cell held, one cell or a whole row.
#pragma once

#include <cstdint>
#include <span>

#include "xls/cell_table.h"
#include "xls/template.h"

namespace skov::xls {

// A text cell to write: its column (from 0) and its string's index.
struct RowWrite {
  uint16_t column;
  uint32_t isst;
};

// The format a text written at (row, column), from 0, would have: the
// cell's own, else what a new cell gets. Changes nothing.
uint16_t WrittenXf(const Template& t, SheetCells& sc, uint16_t row, uint16_t column);

// Readies the cell at (row, column), from 0, for a write: a shared formula
// anchored there moves on. Fault::RefusedWrite when the cell belongs to an
// array or table formula. The cell item there, if any, for PutTextCell.
CellItem* PrepareCellWrite(const Template& t, SheetCells& sc, uint16_t row, uint16_t column);
// Puts a LABELSST with string `isst` at (row, column), keeping the format of
// a cell there, else taking the row's or column's cell XF, else the default.
// Any other record a writer left for the same cell goes too. The number of
// LABELSST cells it replaced.
int PutTextCell(const Template& t, SheetCells& sc, uint16_t row, uint16_t column, uint32_t isst,
                 CellItem* old);

// Whether PutTextRow may write `writes` into row `row`: none of them lands
// on a formula, and no two of the template's records share a cell.
bool RowTakesRun(SheetCells& sc, uint16_t row, std::span<const RowWrite> writes);
// The cells of `writes` (ascending columns, each once) put into the row in
// one pass, exactly as PutTextCell would put them one by one. The number of
// LABELSST cells it replaced.
int PutTextRow(const Template& t, SheetCells& sc, uint16_t row, std::span<const RowWrite> writes);

}  // namespace skov::xls
