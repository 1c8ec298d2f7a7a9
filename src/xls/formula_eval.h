// Expressions evaluated against a workbook (references resolved, names expanded, functions called), and the cells an expression reads.
//
// Design note. Evaluation follows the token classes Excel's own parser put
// into the tokens, so that an operand is used as Excel uses it:
//  1. A reference-class operand stays a reference (SUM, INDEX, ROWS take
//     those); a value-class one becomes one value, an area by implicit
//     intersection with the formula's row or column (#VALUE! without one);
//     an array-class one becomes an array (SUMPRODUCT's operands).
//  2. A formula's result is one value, never empty: an empty cell reads as 0,
//     an array as its first item.
//  3. Whatever cannot be evaluated here throws NotEvaluated and leaves no
//     partial result; the caller keeps the cell's stored result.
#pragma once

#include <string>
#include <type_traits>
#include <vector>

#include "xls/formula_parse.h"
#include "xls/formula_value.h"

namespace skov::xls::calc {

// A formula's cell: sheet in tab order, row and column from 0.
struct Position {
  int sheet = 0, row = 0, col = 0;
};

// An EXTERNSHEET entry: a run of this workbook's sheets, or another workbook's.
struct SheetRange {
  int first = -1, last = -1;  // tab order; -1 for deleted sheets
  bool external = false;
  int book = -1;  // its SUPBOOK, for the names of tNameX
};

struct NameDef {
  std::u16string name;
  int scope = -1;  // the sheet of a sheet-level name, -1 for the workbook
  Expr expr;
};

// What the formulas of one workbook share.
struct Globals {
  int sheetCount = 0;
  bool biff5 = false;
  std::vector<SheetRange> xti;  // BIFF8 EXTERNSHEET entries
  std::vector<NameDef> names;   // NAME records in order; tName counts from 1
  std::vector<std::vector<std::u16string>> bookNames;  // per SUPBOOK: its EXTERNNAME texts
  int selfBook = -1;  // the SUPBOOK that stands for this workbook
};

// A callable handed down without copying or allocating: what it refers to
// must outlive the call it is passed to.
template <class Signature>
class FunctionRef;
template <class R, class... Args>
class FunctionRef<R(Args...)> {
 public:
  template <class F>
  FunctionRef(F&& f)  // NOLINT: implicit, like the callable it stands for
      : object_(const_cast<void*>(static_cast<const void*>(&f))),
        call_([](void* o, Args... a) -> R { return (*static_cast<std::remove_reference_t<F>*>(o))(a...); }) {}
  R operator()(Args... a) const { return call_(object_, a...); }

 private:
  void* object_;
  R (*call_)(void*, Args...);
};

// A used cell, row and column from 0; false stops the walk. The value is
// valid during the call only.
using CellVisit = FunctionRef<bool(int row, int col, const Value& value)>;

// The cells as the formulas see them now.
class CellReader {
 public:
  virtual ~CellReader() = default;
  // A cell's value; a formula's current result, evaluated first when due.
  virtual Value Cell(int sheet, int row, int col) = 0;
  // The cells of one sheet's rectangle that hold anything, row by row.
  // Without `texts` a text cell's value has its kind but not its characters
  // (counting needs no more, and copying them is most of a count's cost).
  virtual void Used(int sheet, int row1, int col1, int row2, int col2, bool texts, CellVisit visit) = 0;
};

class Evaluator;

// One function call, its arguments evaluated when asked for.
class Call {
 public:
  Call(Evaluator& ev, const Expr& e, const Node& node) : ev_(ev), e_(e), node_(node) {}
  int Count() const { return node_.argc; }
  bool Missing(int i) const;
  // As the argument's token class makes it: a reference, an array or one value.
  Value Arg(int i);
  // One value: a reference by implicit intersection, an array by its first item.
  Value Scalar(int i);
  Value Scalar(const Value& v);
  // A reference's cells or an array's items as an array; a value as 1 x 1.
  Value Array(const Value& v);
  Value Cell(int sheet, int row, int col);
  // The used cells of every sheet of `a`, sheet by sheet (CellReader::Used).
  void Used(const Area& a, CellVisit visit, bool texts = true);
  Position At() const;
  uint16_t Function() const { return node_.func; }

 private:
  Evaluator& ev_;
  const Expr& e_;
  const Node& node_;
};

// The result of `e` in the cell `at` (design note, 2 and 3).
Value Evaluate(const Expr& e, const Position& at, const Globals& g, CellReader& cells);

// What an expression reads, without evaluating it.
struct Precedents {
  std::vector<Area> areas;  // names expanded
  bool dynamic = false;     // INDIRECT, OFFSET, an add-in: it may read any cell
  bool isVolatile = false;  // a volatile function: NOW, TODAY, RAND, INDIRECT
  // Why it cannot be evaluated here, the first cause found; empty when it may.
  std::u16string blocker;
};
void CollectPrecedents(const Expr& e, const Position& at, const Globals& g, Precedents& out);

// Rows and columns of a sheet, the bounds references wrap around.
constexpr int kRows = 65536;
constexpr int kRowsBiff5 = 16384;
constexpr int kCols = 256;

}  // namespace skov::xls::calc
