// The formulas of a filled workbook: those that depend on written cells evaluated in dependency order, their results stored as Excel stores them.
//
// Design note. Invariants:
//  1. The index of a template's formulas (their expressions, the areas they
//     read, who reads whom) is built once per bound template; a fill only
//     marks, evaluates and writes.
//  2. A formula is due when an area it reads holds a written cell or a due
//     formula, or when it reads cells it does not name (INDIRECT, OFFSET)
//     and anything was written. A formula that is not due keeps its bytes.
//  3. Due formulas are evaluated in dependency order, a formula read before
//     its turn (the static order is conservative) at that read. One that
//     cannot be evaluated here, one read while it is being evaluated (a
//     circle), and one reading either of those is deferred: its stored
//     result stays, and the workbook is marked so that Excel recalculates it
//     on load.
//  4. A result equal to the stored one leaves the record alone; a new one
//     changes the FORMULA's eight result bytes and the STRING record after
//     it (none for a number, a boolean, an error or the empty text), and
//     nothing else.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xls/formula_eval.h"

namespace skov::xls {

struct Template;
struct SheetCells;

namespace calc {

// One formula cell of the template.
struct FormulaCell {
  uint16_t sheet = 0;  // index into Template::sheets
  uint16_t row = 0;
  uint16_t col = 0;
  int32_t expr = -1;           // into FormulaIndex::exprs
  uint32_t areaBegin = 0;      // FormulaIndex::cellAreas[areaBegin, areaEnd)
  uint32_t areaEnd = 0;
  bool dynamic = false;        // invariant 2
  bool isVolatile = false;     // NOW, TODAY, INDIRECT: Excel recalculates it on every load
  std::u16string blocker;      // why it cannot be evaluated here; empty when it may be
};

struct FormulaIndex {
  Globals globals;
  std::vector<Expr> exprs;
  std::vector<FormulaCell> cells;  // by sheet, row, column
  std::vector<Area> areas;         // every area some formula reads, each once
  std::vector<uint32_t> cellAreas;
  // Who reads a formula's cell: dependents[dependentStart[f], dependentStart[f + 1]).
  std::vector<uint32_t> dependents;
  std::vector<uint32_t> dependentStart;
  std::vector<std::u16string> sheetNames;
  std::vector<std::u16string> strings;  // the shared string table's texts
  int recalcId = -1;  // index into Template::globals of RECALCID
  bool anyDynamic = false;
};

// Fault::Damaged is never thrown: a formula whose records do not read is
// indexed as one that cannot be evaluated.
std::unique_ptr<FormulaIndex> IndexFormulas(const Template& t);

// A due formula left to the reader's recalculation.
struct Deferred {
  Position at;
  std::u16string cell;  // Blatt1!BD35
  std::u16string why;   // INDIRECT, Zirkelbezug, or the cell it reads that was deferred
};

struct RecalcReport {
  size_t due = 0;
  size_t evaluated = 0;
  size_t changed = 0;  // records whose stored result changed
  std::vector<Deferred> deferred;
  std::vector<Position> evaluatedCells;  // sheet in tab order, row and column from 0
  // Invariant 3: the globals record whose build number is to become 0, or -1.
  int zeroRecalcId = -1;
  bool ForcesRecalculation() const { return !deferred.empty(); }
};

// The book's cell tables as the walk uses them.
struct BookAccess {
  // A sheet's table as filled; null for one nothing was written to.
  std::function<SheetCells*(size_t sheet)> filled;
  // A sheet's table as the template has it.
  std::function<SheetCells*(size_t sheet)> parsed;
  // A sheet's table to write results into, made from the template's if need be.
  std::function<SheetCells&(size_t sheet)> writable;
  // The text of a written cell by its string index, valid until the next call.
  std::function<std::u16string_view(uint32_t isst)> newText;
};

// Invariants 2 to 4 for one fill.
void Recalculate(const Template& t, const FormulaIndex& index, const BookAccess& book, RecalcReport& report);

// "Hinweis: ..." for the log, empty when nothing was deferred.
std::u16string DeferredNote(const RecalcReport& report);

}  // namespace calc
}  // namespace skov::xls
