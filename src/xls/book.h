// One bound workbook: the parsed template plus the edits made to it,
// written copy-on-write: only what an edit touches is written anew.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "strings/cell_text.h"
#include "xls/cell_table.h"
#include "xls/cell_table_edit.h"
#include "xls/error.h"
#include "xls/formula_recalc.h"
#include "xls/string_table.h"
#include "xls/template.h"

namespace skov::xls {

// Operations throw xls::Error: Fault::NoSuchWindow or TooFewSheets for a
// window or worksheet that does not exist, Fault::RefusedWrite for a write
// that would damage the workbook (array or table formulas, strings beyond
// 32767 characters, or 255 bytes in an Excel 5.0/95 workbook, cells outside
// the sheet) or that Excel refuses (a locked cell of a protected sheet). A workbook is written in its own version: BIFF8 with a shared
// string table, BIFF5 with LABEL records in its code page.
class Book {
 public:
  explicit Book(std::shared_ptr<const Template> t);
  ~Book();
  Book(Book&&) noexcept;
  Book& operator=(Book&&) noexcept;

  int WorksheetCount() const { return static_cast<int>(t_->worksheets.size()); }
  // Numbers count from 1: windows in record order, worksheets in tab order.
  void ShowWindow(int window);
  void ActivateSheet(int sheet);
  void ShowSheet(int sheet);
  // Row 1..65536, column 1..256; the cell keeps its format and holds the
  // value as a text, the empty text included.
  void WriteCell(int sheet, int row, int column, std::u16string_view value);
  // The cells of one row, exactly as WriteCell would write them one after
  // another: a later write to a column wins, and a refused write throws with
  // the writes before it done.
  void WriteRow(int sheet, int row, std::span<const CellText> cells);

  // Back to the template as bound, keeping the storage the edits grew: the
  // next fill of the same template allocates next to nothing.
  void Reset();

  // The formulas that depend on the cells written since the bind or the
  // last Reset evaluated and their results stored (formula_recalc.h): what
  // the save calls before Serialize. The report names the formulas left to
  // Excel, which then recalculates the workbook on load.
  const calc::RecalcReport& Recalculate();

  // Whether the stream would differ from the template's.
  bool Changed() const { return changed_; }
  std::vector<uint8_t> Serialize() const;
  // The same into `out`, replacing what it held; its capacity is kept for the next save.
  void Serialize(std::vector<uint8_t>& out) const;

 private:
  size_t Worksheet(int sheet) const;  // index into Template::sheets
  SheetCells& Cells(size_t sheetIndex);
  // Why a write would be refused, checked before anything changes; null
  // when it is not. For BIFF5 it leaves the text's bytes in label_.
  const char* Refusal(int row, int column, std::u16string_view value);
  uint32_t StringIndex(std::u16string_view value);  // after Refusal

  std::shared_ptr<const Template> t_;
  bool changed_ = false;
  std::vector<std::array<uint8_t, window1::kSize>> window1_;  // WINDOW1 bodies, as they will be written
  std::vector<uint8_t> hsState_;                             // per sheet
  std::vector<uint16_t> window2_;                            // per sheet, WINDOW2 option flags
  std::vector<std::unique_ptr<SheetCells>> cells_;           // per sheet; null while untouched
  std::vector<std::unique_ptr<SheetCells>> spareCells_;      // per sheet: a table of an earlier fill, for reuse
  std::vector<std::unique_ptr<SheetCells>> parsedCells_;     // per sheet: the table as parsed, once touched
  StringPool strings_;  // refers to t_->strings, which stays put while books move
  // BIFF5: the pool's texts in the code page, text k at [labelOffsets_[k], labelOffsets_[k + 1]).
  std::vector<uint8_t> labelBytes_;
  std::vector<uint32_t> labelOffsets_;
  std::vector<uint8_t> label_;  // the text being written
  std::vector<RowWrite> rowWrites_;  // a row being written, by column
  int64_t totalDelta_ = 0;
  std::unique_ptr<calc::FormulaIndex> formulas_;  // the template's, at the first Recalculate
  calc::RecalcReport recalc_;
};

}  // namespace skov::xls
