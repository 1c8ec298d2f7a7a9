// The cell table of a sheet being filled: rows, cells, split MULBLANK/MULRK
// parts, and the ROW/DBCELL/INDEX/DIMENSIONS records written around them.
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
// rows with formulas, and templates with overlapping records, take the
// one-at-a-time path. A sheet's table is parsed once per bound template and
// copied into a table kept from the last fill, so a folder run allocates
// next to nothing per file.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <vector>

#include "xls/biff.h"
#include "xls/workbook_stream.h"

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
  uint16_t defaultHeight = 0x00FF;
  bool usesDefaultXf = false;  // a new cell has Template::defaultCellXf
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

// A text cell to write: its column (from 0) and its string's index.
struct RowWrite {
  uint16_t column;
  uint32_t isst;
};

bool IsCellRecord(uint16_t type);
// Columns a sound cell record covers; false when its size does not fit its kind.
bool CellColumns(uint16_t type, const uint8_t* body, uint16_t len, uint16_t& first, uint16_t& last);

std::unique_ptr<SheetCells> BuildCells(const Template& t, const SheetInfo& sh);
// A table as BuildCells made it, copied into one used before, keeping its
// storage: cheaper than parsing the sheet's records again.
void CopyCells(const SheetCells& from, SheetCells& to);

CellItem* FindCell(SheetCells& sc, uint16_t row, uint16_t column);
// The records of a cell item, header first; empty for a new cell or a part.
std::span<const uint8_t> ItemBytes(const Template& t, const CellItem& c);

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

// Whether PutTextRow may write row `row`: none of its cells is a formula,
// and no two of the template's records share a cell.
bool RowTakesRun(SheetCells& sc, uint16_t row);
// The cells of `writes` (ascending columns, each once) put into the row in
// one pass, exactly as PutTextCell would put them one by one. The number of
// LABELSST cells it replaced.
int PutTextRow(const Template& t, SheetCells& sc, uint16_t row, std::span<const RowWrite> writes);

// The sheet's substream with its cell table rebuilt.
void WriteRebuiltSheet(std::vector<uint8_t>& out, const Template& t, size_t sheetIndex, const SheetCells& sc,
                       uint16_t window2Flags, const NewLabels& labels);

}  // namespace skov::xls
