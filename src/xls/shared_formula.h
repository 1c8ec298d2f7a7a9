// Formulas in a cell table that other cells depend on: shared formulas
// (whose anchor moves when it is written over), arrays and data tables.
#pragma once

#include <cstdint>

#include "xls/cell_table.h"

namespace skov::xls {

// The SHRFMLA, ARRAY or TABLE record attached to a formula item, or 0.
uint16_t AnchorKind(const Template& t, const CellItem& c);

// Whether a formula cell that anchors nothing may be overwritten: not when
// it is part of an array or a data table; members of shared formulas may.
bool FormulaWritable(const Template& t, SheetCells& sc, const CellItem& c, uint16_t row, uint16_t column);

// The anchor of a shared formula is about to be overwritten: the remaining
// members get an anchor of their own. False when its SHRFMLA is damaged.
bool MoveSharedAnchor(const Template& t, SheetCells& sc, const CellItem& anchor, uint16_t ar, uint16_t ac);

}  // namespace skov::xls
