// The cell table of a sheet being filled: rows, cells, split MULBLANK/MULRK
// parts; read in cell_table_read.cpp, edited in cell_table_edit.cpp and
// written, with the ROW/DBCELL/INDEX/DIMENSIONS records around it, in
// cell_table_write.cpp.
//
// What is copied, what is rebuilt, and why: a sheet nobody writes to is
// copied byte for byte. Once a cell of a sheet is written, its cell table
// (the ROW, cell and DBCELL records) is modelled here and written anew in
// row order. Template cells keep their records byte for byte, with the
// STRING/SHRFMLA/ARRAY/TABLE records that follow them, so every value,
// format and formula stays as the designer left it. A written cell replaces
// the one it lands on; a MULBLANK or MULRK under it is split into the parts
// left and right of it, which keep their items' bytes. DBCELL and INDEX hold
// stream offsets, which every inserted byte moves, so they are rebuilt. A
// template ROW is copied while it spans its row's cells; every row with
// cells gets one spanning all of them, so that no block mixes rows with and
// without ROW records. DIMENSIONS is changed only when the used area grows.
// Every other record of the sheet keeps its place; the few that some writers
// put between cell records follow the table. A sheet without cells gets its
// table where the worksheet grammar puts it: after page setup, protection,
// columns and DIMENSIONS, before drawings and WINDOW2.
//
// Speed: a fill writes rows of ~50 texts side by side, mostly over one
// MULBLANK. PutTextRow merges a whole row's writes (sorted by column, the
// last write to a column winning) with the row's items in one pass, which
// must give exactly the items PutTextCell would give one write at a time;
// writes over formulas, and templates with overlapping records, take the
// one-at-a-time path. A sheet's table is parsed once per bound template and
// copied into a table kept from the last fill, so a folder run allocates
// next to nothing per file.
//
// Invariants, asserted by CheckCells in debug builds after every edit and
// before a table is written:
//   1. `rows` ascend strictly by row number.
//   2. A row's items ascend by first column, each with first <= last. Items
//      overlap only where two of the template's records did (`overlapping`);
//      a written (New) item shares its column with nothing but a formula
//      that anchors others (such an anchor stays where it is).
//   3. A Rebuilt item's bytes are held in its own table's `rebuilt`, so a
//      table reused for the next fill never reads another table's storage.
//   4. A MulPart covers only columns of its template MULBLANK/MULRK:
//      origFirst <= first and last <= the record's last column.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <vector>

#include "xls/biff.h"
#include "xls/template.h"

namespace skov::xls {

// Where the bytes of a cell item come from.
enum class CellSource : uint8_t {
  Template,  // the template's record and the records attached to it, as they are
  Rebuilt,   // records built here from the template's (a shared formula moved), in `own`
  MulPart,   // columns [first, last] of a template MULBLANK or MULRK
  New,       // a LABELSST written here (BIFF5: a LABEL)
};

struct CellItem {
  CellSource source = CellSource::New;
  uint16_t first = 0;  // columns covered
  uint16_t last = 0;
  uint16_t type = 0;   // record type: the template's (MULBLANK/MULRK for a part), LABELSST when new
  uint32_t pos = 0;    // Template, MulPart: stream position of the template record
  uint32_t len = 0;    // Template: bytes of the record and its attached records
  uint16_t origFirst = 0;    // MulPart: first column of the template record
  uint16_t xf = 0;           // New
  uint32_t isst = 0;         // New: the string's index (BIFF5: of NewLabels)
  // Rebuilt: the bytes, held by SheetCells::rebuilt, so that an item is
  // plain data and moving cells along a row moves no heap storage.
  const std::vector<uint8_t>* own = nullptr;
};

// Whether the template has a ROW record for a row. Every row with cells
// gets one when written: the template's while it spans them, else a new one.
enum class RowRecord : uint8_t {
  None,
  Template,
};

struct RowItem {
  uint16_t row = 0;
  RowRecord record = RowRecord::None;
  RecRef templateRecord;                   // RowRecord::Template
  std::array<uint8_t, row::kSize> body{};  // RowRecord::Template: its fields
  std::vector<CellItem> cells;             // by column
};

// What a sheet's table knows besides its rows: where it lies among the
// sheet's records and what it takes from them. Plain values, copied at once
// when a parsed table is reused.
struct SheetArea {
  size_t areaBegin = 0;       // records [areaBegin, areaEnd) hold the cell table
  size_t areaEnd = 0;
  std::vector<size_t> foreign;  // other records found inside that range, kept after the table
  bool dbCells = false;
  int dims = -1;
  bool dimsChanged = false;
  uint32_t rwMic = 0, rwMac = 0;
  uint16_t colMic = 0, colMac = 0;
  struct Col {
    uint16_t first, last, xf;
  };
  std::vector<Col> colInfo;
  // A new ROW's height: the template's DEFAULTROWHEIGHT, else marked as the
  // reader's own default, so that no row changes how high it is shown.
  uint16_t defaultHeight = row::kDefaultHeight | row::kHeightStandard;
  bool usesDefaultXf = false;  // a new cell has Template::defaultCellXf
  bool protectedSheet = false;  // PROTECT: its locked cells are not to be written
  // Two of the template's records cover one cell somewhere; writes never
  // make that so, they only split parts apart.
  bool overlapping = false;
};

struct SheetCells : SheetArea {
  SheetCells() = default;
  SheetCells(const SheetCells&) = delete;  // its items point into `rebuilt`
  SheetCells& operator=(const SheetCells&) = delete;

  std::vector<RowItem> rows;  // by row
  std::deque<std::vector<uint8_t>> rebuilt;  // Rebuilt items' bytes, never moved
  // Where the last lookup ended: a fill writes row by row, left to right, so
  // the next cell is nearly always there or just after. Checked before use.
  size_t rowHint = 0;
  size_t cellHint = 0;
  std::vector<CellItem> spare;  // a row being rebuilt; storage passed from row to row
  std::vector<std::vector<CellItem>> freeCells;  // emptied rows' lists, for new rows
};

// The table as the template has it; `sh` is one of `t`'s sheets.
std::unique_ptr<SheetCells> BuildCells(const Template& t, const SheetInfo& sh);
// A table as BuildCells made it, copied into one used before, keeping its
// storage: cheaper than parsing the sheet's records again.
void CopyCells(const SheetCells& from, SheetCells& to);

// An emptied row's cell list for a new row, its storage kept; else a new one.
std::vector<CellItem> FreeCells(SheetCells& sc);
// The row's item, added in row order when there is none.
RowItem& FindOrAddRow(SheetCells& sc, uint16_t row);
// The row's item past the hint, else searched; nullptr when it has none.
RowItem* FindRowAfterHint(SheetCells& sc, uint16_t row);
// The cells of a row come one after another: mostly the hint itself, found inline.
inline RowItem* FindRow(SheetCells& sc, uint16_t row) {
  if (sc.rowHint < sc.rows.size() && sc.rows[sc.rowHint].row == row) return &sc.rows[sc.rowHint];
  return FindRowAfterHint(sc, row);
}
CellItem* FindCell(SheetCells& sc, uint16_t row, uint16_t column);
// The records of a cell item, header first; empty for a new cell or a part.
std::span<const uint8_t> ItemBytes(const Template& t, const CellItem& c);

// Invariants 1-4 above, asserted in debug builds (2-4 for row `onlyRow`
// alone when it is given); nothing in release builds.
void CheckCells(const Template& t, const SheetCells& sc, int onlyRow = -1);

}  // namespace skov::xls
