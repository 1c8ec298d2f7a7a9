// Parsed-expression tokens (rgce) of FORMULA, SHRFMLA and NAME records, BIFF8 and BIFF5, read into an expression tree.
//
// The tokens are reverse Polish; the tree keeps each operator's and
// function's operands as children, so that IF, CHOOSE and IFERROR evaluate
// only the branch they take, as Excel's jump tokens (tAttrIf, tAttrChoose,
// tAttrGoto) make it do. Those jumps, spaces and the tMem* hints carry
// nothing else and are dropped.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "xls/formula_value.h"

namespace skov::xls {
class CodePage;
}

namespace skov::xls::calc {

// Token numbers. Operands and functions come in three classes: the numbers
// below are the reference class; +0x20 is the value class, +0x40 the array class.
// tExp and tTbl (0x01, 0x02) are xls::ptg's.
namespace ptg {
constexpr uint8_t kAdd = 0x03;
constexpr uint8_t kSub = 0x04;
constexpr uint8_t kMul = 0x05;
constexpr uint8_t kDiv = 0x06;
constexpr uint8_t kPower = 0x07;
constexpr uint8_t kConcat = 0x08;
constexpr uint8_t kLt = 0x09;
constexpr uint8_t kLe = 0x0A;
constexpr uint8_t kEq = 0x0B;
constexpr uint8_t kGe = 0x0C;
constexpr uint8_t kGt = 0x0D;
constexpr uint8_t kNe = 0x0E;
constexpr uint8_t kIsect = 0x0F;
constexpr uint8_t kUnion = 0x10;
constexpr uint8_t kRange = 0x11;
constexpr uint8_t kUplus = 0x12;
constexpr uint8_t kUminus = 0x13;
constexpr uint8_t kPercent = 0x14;
constexpr uint8_t kParen = 0x15;
constexpr uint8_t kMissArg = 0x16;
constexpr uint8_t kStr = 0x17;
constexpr uint8_t kExtend = 0x18;
constexpr uint8_t kAttr = 0x19;
constexpr uint8_t kErr = 0x1C;
constexpr uint8_t kBool = 0x1D;
constexpr uint8_t kInt = 0x1E;
constexpr uint8_t kNum = 0x1F;
constexpr uint8_t kArray = 0x20;
constexpr uint8_t kFunc = 0x21;
constexpr uint8_t kFuncVar = 0x22;
constexpr uint8_t kName = 0x23;
constexpr uint8_t kRef = 0x24;
constexpr uint8_t kArea = 0x25;
constexpr uint8_t kMemArea = 0x26;
constexpr uint8_t kMemErr = 0x27;
constexpr uint8_t kMemNoMem = 0x28;
constexpr uint8_t kMemFunc = 0x29;
constexpr uint8_t kRefErr = 0x2A;
constexpr uint8_t kAreaErr = 0x2B;
constexpr uint8_t kRefN = 0x2C;
constexpr uint8_t kAreaN = 0x2D;
constexpr uint8_t kMemAreaN = 0x2E;
constexpr uint8_t kMemNoMemN = 0x2F;
constexpr uint8_t kNameX = 0x39;
constexpr uint8_t kRef3d = 0x3A;
constexpr uint8_t kArea3d = 0x3B;
constexpr uint8_t kRefErr3d = 0x3C;
constexpr uint8_t kAreaErr3d = 0x3D;
constexpr uint8_t kClassMask = 0x60;
constexpr uint8_t kClassShift = 5;
}  // namespace ptg

// The second byte of tAttr.
namespace attr {
constexpr uint8_t kSemi = 0x01;  // the formula is volatile
constexpr uint8_t kIf = 0x02;
constexpr uint8_t kChoose = 0x04;  // a jump table of (count + 1) offsets follows
constexpr uint8_t kGoto = 0x08;
constexpr uint8_t kSum = 0x10;  // SUM of one argument
constexpr uint8_t kBaxcel = 0x20;
constexpr uint8_t kSpace = 0x40;
}  // namespace attr

// How an operand is used: as a reference, as one value, or as an array.
enum class DataClass : uint8_t { kReference = 1, kValue = 2, kArray = 3 };

enum class NodeKind : uint8_t {
  kNumber,
  kText,
  kBool,
  kError,
  kMissing,  // an argument left out: IF(A1;;1)
  kArray,    // an array constant
  kRef,      // a cell or area, on this sheet or others
  kName,     // a defined name of the workbook, by index from 1
  kNameX,    // a name of another workbook or an add-in
  kUnary,
  kBinary,
  kFunc,
};

// A reference as the token holds it. Relative parts of a shared formula
// (tRefN, tAreaN) and of a name are offsets from the cell evaluated;
// elsewhere every part is absolute.
struct RefSpec {
  int row1 = 0, col1 = 0, row2 = 0, col2 = 0;
  bool rowRel1 = false, colRel1 = false, rowRel2 = false, colRel2 = false;
  bool offsets = false;
  bool error = false;  // tRefErr, tAreaErr: a reference that was deleted
  // 3-D: BIFF8 names an EXTERNSHEET entry; BIFF5 the sheets themselves,
  // `external` when they lie in another workbook.
  bool threeD = false;
  int xti = -1;
  int sheet1 = -1, sheet2 = -1;
  bool external = false;
};

struct Node {
  NodeKind kind = NodeKind::kMissing;
  uint8_t op = 0;  // kUnary, kBinary: the operator token; kError: the code; kBool: 0 or 1
  DataClass cls = DataClass::kValue;
  uint16_t func = 0;   // kFunc: Ftab number; kName, kNameX: name index from 1
  uint16_t argc = 0;   // kFunc, kUnary, kBinary: operands
  uint32_t first = 0;  // operands: Expr::args[first, first + argc); kText: Expr::texts; kArray: Expr::arrays; kNameX: EXTERNSHEET index
  double number = 0;
  RefSpec ref;
};

struct Expr {
  std::vector<Node> nodes;
  std::vector<uint32_t> args;
  std::vector<std::u16string> texts;
  std::vector<Value> arrays;
  uint32_t root = 0;
  bool volatileMark = false;  // tAttrSemi
  // Set when the tokens hold what this evaluator does not take (a union,
  // an intersection, a table, damaged tokens): the cause, for the log.
  std::u16string unsupported;
  bool Ok() const { return unsupported.empty() && !nodes.empty(); }
};

struct ParseOptions {
  bool biff5 = false;
  const CodePage* codePage = nullptr;  // BIFF5 texts
  bool relativeOffsets = false;        // a shared formula or a name: relative parts are offsets
};

// `rgce` the tokens, `rgcb` what follows them (array constants).
Expr ParseExpr(std::span<const uint8_t> rgce, std::span<const uint8_t> rgcb, const ParseOptions& options);

// BIFF5 texts in the workbook's code page as UTF-16.
std::u16string DecodeBytes(std::span<const uint8_t> bytes, const CodePage* codePage);

}  // namespace skov::xls::calc
