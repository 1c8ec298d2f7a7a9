// The evaluator: references resolved against the formula's cell, token classes applied, operators and calls, and the static walk for precedents.
#include "xls/formula_eval.h"

#include <cassert>
#include <cmath>

#include "xls/formula_functions.h"

namespace skov::xls::calc {
namespace {

constexpr size_t kMaxArrayCells = size_t{1} << 20;
constexpr int kMaxNameDepth = 32;
constexpr int kMaxDepth = 512;  // operands within operands, through names too
constexpr size_t kMaxText = 32767;
constexpr std::u16string_view kXlfnPrefix = u"_xlfn.";
constexpr std::u16string_view kIfError = u"IFERROR";

// Reference operators the evaluator leaves to Excel.
std::u16string OperatorName(uint8_t op) { return op == ptg::kIsect ? u"Schnittmenge" : u"Bezugsvereinigung"; }

int Wrap(int v, int n) {
  v %= n;
  return v < 0 ? v + n : v;
}

}  // namespace

class Evaluator {
 public:
  Evaluator(const Globals& g, CellReader& cells, const Position& at) : g_(g), cells_(cells), at_(at) {}

  Value Run(const Expr& e) {
    if (!e.Ok()) throw NotEvaluated{e.unsupported.empty() ? u"leere Formel" : e.unsupported};
    Value v = Scalar(Eval(e, e.root));
    if (v.kind == Kind::kEmpty) return Value::Number(0);
    return v;
  }

  Value Eval(const Expr& e, uint32_t id) {
    // Nesting is bounded by the tokens, and names nest up to kMaxNameDepth:
    // a damaged workbook must not run the stack out.
    if (++depth_ > kMaxDepth) throw NotEvaluated{u"zu tief verschachtelt"};
    struct Leave {
      int& depth;
      ~Leave() { --depth; }
    } leave{depth_};
    const Node& n = e.nodes[id];
    switch (n.kind) {
      case NodeKind::kNumber: return Value::Number(n.number);
      case NodeKind::kText: return Value::Text(e.texts[n.first]);
      case NodeKind::kBool: return Value::Bool(n.op != 0);
      case NodeKind::kError: return Value::Error(static_cast<ErrorCode>(n.op));
      case NodeKind::kMissing: return Value();
      case NodeKind::kArray: return Convert(e.arrays[n.first], n.cls);
      case NodeKind::kRef: {
        Area a;
        if (!Resolve(n.ref, a)) return Value::Error(ErrorCode::kRef);
        // Most references are read as one value: no reference value in between.
        if (n.cls == DataClass::kValue) return ScalarOf(a);
        return Convert(Value::Ref(a), n.cls);
      }
      case NodeKind::kName: return Convert(NameValue(n.func), n.cls);
      case NodeKind::kNameX:
        if (OwnName(n)) return Convert(NameValue(n.func), n.cls);
        throw NotEvaluated{u"externer Name"};
      case NodeKind::kUnary: return Unary(n.op, Scalarish(Eval(e, e.args[n.first])));
      case NodeKind::kBinary: return Binary(e, n);
      case NodeKind::kFunc: return Convert(Function(e, n), n.cls);
    }
    return Value::Error(ErrorCode::kValue);
  }

  // A reference as the cell `at_` reads it: offsets added, wrapped around the sheet.
  bool Resolve(const RefSpec& r, Area& a) const {
    if (r.error) return false;
    a.sheet = a.sheetLast = at_.sheet;
    if (r.threeD) {
      if (g_.biff5) {
        if (r.external) throw NotEvaluated{u"externer Bezug"};
        a.sheet = r.sheet1;
        a.sheetLast = r.sheet2;
      } else {
        if (r.xti < 0 || size_t(r.xti) >= g_.xti.size()) return false;
        const SheetRange& x = g_.xti[size_t(r.xti)];
        if (x.external) throw NotEvaluated{u"externer Bezug"};
        a.sheet = x.first;
        a.sheetLast = x.last;
      }
      if (a.sheet < 0 || a.sheetLast < a.sheet || a.sheetLast >= g_.sheetCount) return false;
    }
    const int rows = g_.biff5 ? kRowsBiff5 : kRows;
    auto row = [&](int v, bool rel) { return r.offsets && rel ? Wrap(at_.row + v, rows) : v; };
    auto col = [&](int v, bool rel) { return r.offsets && rel ? Wrap(at_.col + v, kCols) : v; };
    a.row1 = row(r.row1, r.rowRel1);
    a.row2 = row(r.row2, r.rowRel2);
    a.col1 = col(r.col1, r.colRel1);
    a.col2 = col(r.col2, r.colRel2);
    if (a.row1 > a.row2) std::swap(a.row1, a.row2);
    if (a.col1 > a.col2) std::swap(a.col1, a.col2);
    return a.row2 < rows && a.col2 < kCols;
  }

  // Design note, 1.
  Value Convert(Value v, DataClass cls) {
    if (cls == DataClass::kValue && v.kind == Kind::kRef) return Scalar(std::move(v));
    if (cls == DataClass::kArray && v.kind == Kind::kRef) return Array(v);
    return v;
  }

  // One value of a reference by implicit intersection, of an array its first item.
  Value Scalar(Value v) {
    if (v.kind == Kind::kArray) return v.items.empty() ? Value::Error(ErrorCode::kValue) : Scalar(v.items[0]);
    if (v.kind != Kind::kRef) return v;
    return ScalarOf(v.area);
  }
  Value ScalarOf(const Area& a) {
    if (a.sheet != a.sheetLast) return Value::Error(ErrorCode::kValue);
    if (a.row1 == a.row2 && a.col1 == a.col2) return cells_.Cell(a.sheet, a.row1, a.col1);
    if (a.col1 == a.col2 && a.row1 <= at_.row && at_.row <= a.row2) return cells_.Cell(a.sheet, at_.row, a.col1);
    if (a.row1 == a.row2 && a.col1 <= at_.col && at_.col <= a.col2) return cells_.Cell(a.sheet, a.row1, at_.col);
    // An area of several rows and columns: the cell in the formula's row and column.
    if (a.row1 <= at_.row && at_.row <= a.row2 && a.col1 <= at_.col && at_.col <= a.col2) {
      return cells_.Cell(a.sheet, at_.row, at_.col);
    }
    return Value::Error(ErrorCode::kValue);
  }
  // Operands of operators: an array stays, element by element.
  Value Scalarish(Value v) {
    if (v.kind == Kind::kRef) return Scalar(std::move(v));
    return v;  // moved out; a conditional expression would copy it
  }

  Value Array(const Value& v) {
    if (v.kind == Kind::kArray) return v;
    Value a;
    a.kind = Kind::kArray;
    if (v.kind != Kind::kRef) {
      a.rows = a.cols = 1;
      a.items.push_back(v);
      return a;
    }
    const Area& r = v.area;
    if (r.sheet != r.sheetLast) return Value::Error(ErrorCode::kValue);
    if (size_t(r.Rows()) * size_t(r.Cols()) > kMaxArrayCells) throw NotEvaluated{u"Bereich zu gross"};
    a.rows = r.Rows();
    a.cols = r.Cols();
    a.items.assign(size_t(a.rows) * size_t(a.cols), Value());
    cells_.Used(r.sheet, r.row1, r.col1, r.row2, r.col2, true, [&](int row, int col, const Value& v) {
      a.items[size_t(row - r.row1) * size_t(a.cols) + size_t(col - r.col1)] = v;
      return true;
    });
    return a;
  }

  void Used(const Area& a, CellVisit visit, bool texts) {
    bool more = true;
    for (int s = a.sheet; s <= a.sheetLast && more; ++s) {
      cells_.Used(s, a.row1, a.col1, a.row2, a.col2, texts, [&](int row, int col, const Value& v) {
        return more = visit(row, col, v);
      });
    }
  }

  Value Cell(int sheet, int row, int col) { return cells_.Cell(sheet, row, col); }
  const Position& At() const { return at_; }

  Value NameValue(uint16_t index) {
    if (index == 0 || index > g_.names.size()) return Value::Error(ErrorCode::kName);
    if (++nameDepth_ > kMaxNameDepth) throw NotEvaluated{u"Zirkelbezug"};
    const Expr& e = g_.names[index - 1].expr;
    if (!e.Ok()) throw NotEvaluated{e.unsupported.empty() ? u"leerer Name" : e.unsupported};
    Value v = Eval(e, e.root);
    --nameDepth_;
    return v;
  }

  // A tNameX through the SUPBOOK of this workbook names one of its own names.
  bool OwnName(const Node& n) const {
    return !g_.biff5 && n.first < g_.xti.size() && g_.selfBook >= 0 && g_.xti[n.first].book == g_.selfBook;
  }

  // The text of the name a user-defined call names: IFERROR in a workbook
  // from Excel 2007 on comes as "_xlfn.IFERROR".
  std::u16string CalledName(const Expr& e, const Node& n) const {
    if (n.argc == 0) return {};
    const Node& name = e.nodes[e.args[n.first]];
    std::u16string text;
    if (name.kind == NodeKind::kName && name.func >= 1 && name.func <= g_.names.size()) {
      text = g_.names[name.func - 1].name;
    } else if (name.kind == NodeKind::kNameX && name.first < g_.xti.size()) {
      const int book = g_.xti[name.first].book;
      if (book >= 0 && size_t(book) < g_.bookNames.size() && name.func >= 1 &&
          name.func <= g_.bookNames[size_t(book)].size()) {
        text = g_.bookNames[size_t(book)][name.func - 1];
      }
    }
    if (text.size() > kXlfnPrefix.size() && EqualsNoCase(std::u16string_view(text).substr(0, kXlfnPrefix.size()), kXlfnPrefix)) {
      text.erase(0, kXlfnPrefix.size());
    }
    return text;
  }

 private:
  Value Unary(uint8_t op, const Value& v) {
    if (v.kind == Kind::kArray) {
      Value r = v;
      for (Value& item : r.items) item = Unary(op, item);
      return r;
    }
    if (op == ptg::kUplus) return v;
    const Value n = ToNumber(v);
    if (n.IsError()) return n;
    return Value::Number(op == ptg::kUminus ? -n.number : n.number / 100);
  }

  Value Binary(const Expr& e, const Node& n) {
    if (n.op == ptg::kIsect || n.op == ptg::kUnion) throw NotEvaluated{OperatorName(n.op)};
    if (n.op == ptg::kRange) {
      const Value a = Eval(e, e.args[n.first]), b = Eval(e, e.args[n.first + 1]);
      if (a.IsError()) return a;
      if (b.IsError()) return b;
      if (a.kind != Kind::kRef || b.kind != Kind::kRef || a.area.sheet != b.area.sheet ||
          a.area.sheetLast != b.area.sheetLast) {
        return Value::Error(ErrorCode::kValue);
      }
      Area r = a.area;
      r.row1 = std::min(r.row1, b.area.row1);
      r.col1 = std::min(r.col1, b.area.col1);
      r.row2 = std::max(r.row2, b.area.row2);
      r.col2 = std::max(r.col2, b.area.col2);
      return Value::Ref(r);
    }
    Value a = Scalarish(Eval(e, e.args[n.first]));
    const Value b = Scalarish(Eval(e, e.args[n.first + 1]));
    if (a.kind == Kind::kArray || b.kind == Kind::kArray) return Elementwise(n.op, a, b);
    // A chain of `&` grows the left text where it lies.
    if (n.op == ptg::kConcat && a.kind == Kind::kText && b.kind == Kind::kText) {
      if (a.text.size() + b.text.size() > kMaxText) return Value::Error(ErrorCode::kValue);
      a.text += b.text;
      return a;
    }
    return Operate(n.op, a, b);
  }

  static Value Item(const Value& v, int r, int c) {
    if (v.kind != Kind::kArray) return v;
    const int rr = v.rows == 1 ? 0 : r, cc = v.cols == 1 ? 0 : c;
    if (rr >= v.rows || cc >= v.cols) return Value::Error(ErrorCode::kNA);
    return v.items[size_t(rr) * size_t(v.cols) + size_t(cc)];
  }

  Value Elementwise(uint8_t op, const Value& a, const Value& b) {
    Value r;
    r.kind = Kind::kArray;
    r.rows = std::max(a.kind == Kind::kArray ? a.rows : 1, b.kind == Kind::kArray ? b.rows : 1);
    r.cols = std::max(a.kind == Kind::kArray ? a.cols : 1, b.kind == Kind::kArray ? b.cols : 1);
    r.items.reserve(size_t(r.rows) * size_t(r.cols));
    for (int i = 0; i < r.rows; ++i) {
      for (int j = 0; j < r.cols; ++j) r.items.push_back(Operate(op, Item(a, i, j), Item(b, i, j)));
    }
    return r;
  }

  static Value Operate(uint8_t op, const Value& a, const Value& b) {
    switch (op) {
      case ptg::kConcat: {
        if (a.IsError()) return a;
        if (b.IsError()) return b;
        // Texts joined where they lie; only a number or boolean is converted.
        const Value x = a.kind == Kind::kText ? Value() : ToText(a);
        const Value y = b.kind == Kind::kText ? Value() : ToText(b);
        const std::u16string& left = a.kind == Kind::kText ? a.text : x.text;
        const std::u16string& right = b.kind == Kind::kText ? b.text : y.text;
        if (left.size() + right.size() > kMaxText) return Value::Error(ErrorCode::kValue);
        Value r;
        r.kind = Kind::kText;
        r.text.reserve(left.size() + right.size());
        r.text.append(left).append(right);
        return r;
      }
      case ptg::kLt: case ptg::kLe: case ptg::kEq: case ptg::kGe: case ptg::kGt: case ptg::kNe: {
        if (a.IsError()) return a;
        if (b.IsError()) return b;
        const int c = Compare(a, b);
        switch (op) {
          case ptg::kLt: return Value::Bool(c < 0);
          case ptg::kLe: return Value::Bool(c <= 0);
          case ptg::kEq: return Value::Bool(c == 0);
          case ptg::kGe: return Value::Bool(c >= 0);
          case ptg::kGt: return Value::Bool(c > 0);
          default: return Value::Bool(c != 0);
        }
      }
      default: break;
    }
    const Value x = ToNumber(a);
    if (x.IsError()) return x;
    const Value y = ToNumber(b);
    if (y.IsError()) return y;
    double r = 0;
    switch (op) {
      case ptg::kAdd: r = ApproxAdd(x.number, y.number); break;
      case ptg::kSub: r = ApproxAdd(x.number, -y.number); break;
      case ptg::kMul: r = x.number * y.number; break;
      case ptg::kDiv:
        if (y.number == 0) return Value::Error(ErrorCode::kDiv0);
        r = x.number / y.number;
        break;
      case ptg::kPower:
        if (x.number == 0 && y.number == 0) return Value::Error(ErrorCode::kNum);
        if (x.number == 0 && y.number < 0) return Value::Error(ErrorCode::kDiv0);
        r = std::pow(x.number, y.number);
        break;
      default:
        return Value::Error(ErrorCode::kValue);
    }
    if (!std::isfinite(r)) return Value::Error(ErrorCode::kNum);
    return Value::Number(r);
  }

  Value Function(const Expr& e, const Node& n) {
    Call call(*this, e, n);
    switch (n.func) {
      case fn::kIf: {
        if (n.argc < 1) return Value::Error(ErrorCode::kValue);
        const Value c = ToBool(call.Scalar(0));
        if (c.IsError()) return c;
        if (c.number != 0) return n.argc >= 2 ? Branch(call, 1) : Value::Bool(true);
        return n.argc >= 3 ? Branch(call, 2) : Value::Bool(false);
      }
      case fn::kChoose: {
        if (n.argc < 2) return Value::Error(ErrorCode::kValue);
        const Value i = ToNumber(call.Scalar(0));
        if (i.IsError()) return i;
        const double k = std::trunc(i.number);
        if (k < 1 || k > n.argc - 1) return Value::Error(ErrorCode::kValue);
        return Branch(call, static_cast<int>(k));
      }
      case fn::kUserDefined: {
        const std::u16string name = CalledName(e, n);
        if (!EqualsNoCase(name, kIfError)) throw NotEvaluated{name.empty() ? u"Add-In-Funktion" : name};
        if (n.argc != 3) return Value::Error(ErrorCode::kValue);
        const Value v = call.Scalar(1);
        return v.IsError() ? Branch(call, 2) : v;
      }
      default: break;
    }
    const FunctionImpl impl = Implementation(n.func);
    if (!impl) throw NotEvaluated{FunctionName(n.func)};
    return impl(call);
  }

  // A branch IF or CHOOSE takes: a left-out one is 0.
  Value Branch(Call& call, int i) {
    if (call.Missing(i)) return Value::Number(0);
    return call.Arg(i);
  }

  const Globals& g_;
  CellReader& cells_;
  Position at_;
  int nameDepth_ = 0;
  int depth_ = 0;
};

bool Call::Missing(int i) const { return e_.nodes[e_.args[node_.first + size_t(i)]].kind == NodeKind::kMissing; }
Value Call::Arg(int i) {
  assert(i >= 0 && i < node_.argc);
  return ev_.Eval(e_, e_.args[node_.first + size_t(i)]);
}
Value Call::Scalar(int i) { return ev_.Scalar(Arg(i)); }
Value Call::Scalar(const Value& v) { return ev_.Scalar(v); }
Value Call::Array(const Value& v) { return ev_.Array(v); }
Value Call::Cell(int sheet, int row, int col) { return ev_.Cell(sheet, row, col); }
void Call::Used(const Area& a, CellVisit visit, bool texts) { ev_.Used(a, visit, texts); }
Position Call::At() const { return ev_.At(); }

Value Evaluate(const Expr& e, const Position& at, const Globals& g, CellReader& cells) {
  Evaluator ev(g, cells, at);
  return ev.Run(e);
}

namespace {

// Static walk: the areas an expression names, through names too.
class PrecedentWalk {
 public:
  PrecedentWalk(const Globals& g, const Position& at, Precedents& out, CellReader& none)
      : g_(g), out_(out), ev_(g, none, at) {}

  void Walk(const Expr& e, int depth) {
    if (!e.Ok()) {
      Block(e.unsupported.empty() ? u"leere Formel" : e.unsupported);
      return;
    }
    // ROW, COLUMN, ROWS and COLUMNS take a reference's place, not its cells:
    // ROW($A1:$IV4) in B4 reads nothing, and is no circle.
    std::vector<bool> placeOnly(e.nodes.size());
    for (const Node& n : e.nodes) {
      if (n.kind != NodeKind::kFunc || (n.func != fn::kRow && n.func != fn::kColumn && n.func != fn::kRows &&
                                        n.func != fn::kColumns)) {
        continue;
      }
      for (uint16_t k = 0; k < n.argc; ++k) placeOnly[e.args[n.first + k]] = true;
    }
    for (size_t i = 0; i < e.nodes.size(); ++i) {
      const Node& n = e.nodes[i];
      switch (n.kind) {
        case NodeKind::kRef: {
          if (placeOnly[i]) break;
          Area a;
          try {
            if (ev_.Resolve(n.ref, a)) out_.areas.push_back(a);
          } catch (const NotEvaluated& x) {
            Block(x.why);
          }
          break;
        }
        case NodeKind::kNameX:
          if (!ev_.OwnName(n)) {
            if (!CalledByName(e, static_cast<uint32_t>(i))) Block(u"externer Name");
            break;
          }
          [[fallthrough]];
        case NodeKind::kName:
          if (n.func == 0 || n.func > g_.names.size()) break;
          if (depth >= kMaxNameDepth) {
            Block(u"Zirkelbezug");
            break;
          }
          Walk(g_.names[n.func - 1].expr, depth + 1);
          break;
        case NodeKind::kFunc:
          Function(e, n);
          break;
        case NodeKind::kBinary:
          if (n.op == ptg::kIsect || n.op == ptg::kUnion) Block(OperatorName(n.op));
          break;
        default:
          break;
      }
    }
  }

 private:
  void Block(std::u16string_view why) {
    if (out_.blocker.empty()) out_.blocker = why;
  }
  // Whether node `id` is the name a user-defined call names.
  static bool CalledByName(const Expr& e, uint32_t id) {
    for (const Node& n : e.nodes) {
      if (n.kind == NodeKind::kFunc && n.func == fn::kUserDefined && n.argc > 0 && e.args[n.first] == id) return true;
    }
    return false;
  }
  void Function(const Expr& e, const Node& n) {
    if (n.func == fn::kUserDefined) {
      const std::u16string name = ev_.CalledName(e, n);
      if (!EqualsNoCase(name, kIfError)) {
        out_.dynamic = true;
        out_.isVolatile = true;
        Block(name.empty() ? u"Add-In-Funktion" : name);
      }
      return;
    }
    if (ReadsAnyCell(n.func)) out_.dynamic = true;
    if (IsVolatile(n.func)) out_.isVolatile = true;
    if (n.func != fn::kIf && n.func != fn::kChoose && !Implementation(n.func)) Block(FunctionName(n.func));
  }

  const Globals& g_;
  Precedents& out_;
  Evaluator ev_;
};

// Reads nothing: the walk resolves references, it never reads a cell.
class NoCells : public CellReader {
 public:
  Value Cell(int, int, int) override { return Value(); }
  void Used(int, int, int, int, int, bool, CellVisit) override {}
};

}  // namespace

void CollectPrecedents(const Expr& e, const Position& at, const Globals& g, Precedents& out) {
  NoCells none;
  PrecedentWalk(g, at, out, none).Walk(e, 0);
}

}  // namespace skov::xls::calc
