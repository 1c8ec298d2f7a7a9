// Parsed-expression tokens read into a tree: operand sizes of BIFF8 and BIFF5, array constants, references.
#include "xls/formula_parse.h"


#include "xls/biff.h"
#include "xls/bytes.h"
#include "xls/code_page.h"
#include "xls/formula_functions.h"

namespace skov::xls::calc {
namespace {

constexpr uint16_t kRelRow = 0x8000;    // BIFF8 column field, BIFF5 row field
constexpr uint16_t kRelCol = 0x4000;
constexpr uint16_t kBiff8ColMask = 0x3FFF;
constexpr uint16_t kBiff5RowMask = 0x3FFF;
constexpr uint8_t kArgcMask = 0x7F;       // tFuncVar: the high bit asks the user
constexpr uint16_t kCommandMask = 0x8000;  // tFuncVar: a macro command, not a function
constexpr size_t kMaxNodes = 4096;

// Array constant items (SerAr).
namespace serar {
constexpr uint8_t kNil = 0x00;
constexpr uint8_t kNumber = 0x01;
constexpr uint8_t kString = 0x02;
constexpr uint8_t kBool = 0x04;
constexpr uint8_t kError = 0x10;
constexpr size_t kFixed = 8;  // nil, number, boolean and error items after their type byte
}  // namespace serar

struct Damaged {};

class Reader {
 public:
  explicit Reader(std::span<const uint8_t> b) : b_(b) {}
  bool AtEnd() const { return at_ >= b_.size(); }
  size_t Left() const { return b_.size() - at_; }
  uint8_t U8() {
    Need(1);
    return b_[at_++];
  }
  uint16_t U16() {
    Need(2);
    const uint16_t v = Get16(&b_[at_]);
    at_ += 2;
    return v;
  }
  double F64() {
    Need(8);
    const double d = GetF64(&b_[at_]);
    at_ += 8;
    return d;
  }
  std::span<const uint8_t> Take(size_t n) {
    Need(n);
    auto s = b_.subspan(at_, n);
    at_ += n;
    return s;
  }
  void Skip(size_t n) { Take(n); }

 private:
  void Need(size_t n) const {
    if (b_.size() - at_ < n) throw Damaged{};
  }
  std::span<const uint8_t> b_;
  size_t at_ = 0;
};

class Parser {
 public:
  Parser(std::span<const uint8_t> rgce, std::span<const uint8_t> rgcb, const ParseOptions& o)
      : in_(rgce), extra_(rgcb), o_(o) {}

  Expr Run() {
    try {
      while (!in_.AtEnd() && e_.unsupported.empty()) Token();
      if (e_.unsupported.empty()) {
        if (stack_.size() != 1) throw Damaged{};
        e_.root = stack_.back();
      }
    } catch (const Damaged&) {
      e_.unsupported = u"beschaedigte Formel";
    }
    return std::move(e_);
  }

 private:
  uint32_t Push(Node n) {
    if (e_.nodes.size() >= kMaxNodes) throw Damaged{};
    e_.nodes.push_back(n);
    const auto id = static_cast<uint32_t>(e_.nodes.size() - 1);
    stack_.push_back(id);
    return id;
  }
  // A node taking the top `argc` operands of the stack.
  void PushOperator(Node n, size_t argc) {
    if (stack_.size() < argc) throw Damaged{};
    n.argc = static_cast<uint16_t>(argc);
    n.first = static_cast<uint32_t>(e_.args.size());
    e_.args.insert(e_.args.end(), stack_.end() - static_cast<std::ptrdiff_t>(argc), stack_.end());
    stack_.resize(stack_.size() - argc);
    Push(n);
  }

  void Unsupported(const char16_t* why) { e_.unsupported = why; }

  std::u16string Text(size_t cch) {
    std::u16string s;
    if (o_.biff5) {
      DecodeInto(in_.Take(cch), s);
      return s;
    }
    const bool high = in_.U8() & xlstring::kHighByte;
    AppendChars(s, in_.Take(cch * (high ? 2 : 1)).data(), cch, high);
    return s;
  }
  void DecodeInto(std::span<const uint8_t> b, std::u16string& s) const { s += DecodeBytes(b, o_.codePage); }

  // A cell address: absolute, or offsets where relative and `offsets`.
  void Cell(int& row, int& col, bool& rowRel, bool& colRel, bool offsets) {
    uint16_t rw = in_.U16();
    uint16_t cl;
    if (o_.biff5) {
      cl = in_.U8();
      rowRel = rw & kRelRow;
      colRel = rw & kRelCol;
      rw &= kBiff5RowMask;
      row = rowRel && offsets ? (rw >= 0x2000 ? int(rw) - 0x4000 : int(rw)) : int(rw);
    } else {
      cl = in_.U16();
      rowRel = cl & kRelRow;
      colRel = cl & kRelCol;
      cl &= kBiff8ColMask;
      row = rowRel && offsets ? int(static_cast<int16_t>(rw)) : int(rw);
    }
    col = colRel && offsets ? int(static_cast<int8_t>(cl & 0xFF)) : int(cl & 0xFF);
  }
  void AreaFields(RefSpec& r, bool offsets) {
    // Rows first, then columns, in both versions.
    uint16_t rw1 = in_.U16(), rw2 = in_.U16();
    uint16_t c1, c2;
    if (o_.biff5) {
      c1 = in_.U8();
      c2 = in_.U8();
      auto row = [&](uint16_t rw, int& out, bool& rowRel, bool& colRel) {
        rowRel = rw & kRelRow;
        colRel = rw & kRelCol;
        rw &= kBiff5RowMask;
        out = rowRel && offsets ? (rw >= 0x2000 ? int(rw) - 0x4000 : int(rw)) : int(rw);
      };
      row(rw1, r.row1, r.rowRel1, r.colRel1);
      row(rw2, r.row2, r.rowRel2, r.colRel2);
    } else {
      c1 = in_.U16();
      c2 = in_.U16();
      r.rowRel1 = c1 & kRelRow;
      r.colRel1 = c1 & kRelCol;
      r.rowRel2 = c2 & kRelRow;
      r.colRel2 = c2 & kRelCol;
      r.row1 = r.rowRel1 && offsets ? int(static_cast<int16_t>(rw1)) : int(rw1);
      r.row2 = r.rowRel2 && offsets ? int(static_cast<int16_t>(rw2)) : int(rw2);
    }
    r.col1 = r.colRel1 && offsets ? int(static_cast<int8_t>(c1 & 0xFF)) : int(c1 & 0xFF);
    r.col2 = r.colRel2 && offsets ? int(static_cast<int8_t>(c2 & 0xFF)) : int(c2 & 0xFF);
  }
  // The sheets of a 3-D reference: BIFF8 an EXTERNSHEET index, BIFF5 the
  // sheet indices themselves (a positive index names another workbook).
  void Sheets(RefSpec& r) {
    r.threeD = true;
    if (!o_.biff5) {
      r.xti = in_.U16();
      return;
    }
    const auto ixals = static_cast<int16_t>(in_.U16());
    in_.Skip(8);
    r.sheet1 = static_cast<int16_t>(in_.U16());
    r.sheet2 = static_cast<int16_t>(in_.U16());
    r.external = ixals > 0;
  }

  void Reference(uint8_t base, DataClass cls) {
    Node n;
    n.kind = NodeKind::kRef;
    n.cls = cls;
    RefSpec& r = n.ref;
    const bool rel = o_.relativeOffsets;
    switch (base) {
      case ptg::kRef:
      case ptg::kRefErr:
      case ptg::kRefN:
        r.offsets = base == ptg::kRefN || rel;
        Cell(r.row1, r.col1, r.rowRel1, r.colRel1, r.offsets);
        r.row2 = r.row1, r.col2 = r.col1, r.rowRel2 = r.rowRel1, r.colRel2 = r.colRel1;
        r.error = base == ptg::kRefErr;
        break;
      case ptg::kArea:
      case ptg::kAreaErr:
      case ptg::kAreaN:
        r.offsets = base == ptg::kAreaN || rel;
        AreaFields(r, r.offsets);
        r.error = base == ptg::kAreaErr;
        break;
      case ptg::kRef3d:
      case ptg::kRefErr3d:
        Sheets(r);
        r.offsets = rel;
        Cell(r.row1, r.col1, r.rowRel1, r.colRel1, r.offsets);
        r.row2 = r.row1, r.col2 = r.col1, r.rowRel2 = r.rowRel1, r.colRel2 = r.colRel1;
        r.error = base == ptg::kRefErr3d;
        break;
      case ptg::kArea3d:
      case ptg::kAreaErr3d:
        Sheets(r);
        r.offsets = rel;
        AreaFields(r, r.offsets);
        r.error = base == ptg::kAreaErr3d;
        break;
      default:
        throw Damaged{};
    }
    Push(n);
  }

  void ArrayConstant(DataClass cls) {
    in_.Skip(7);
    Reader x(extra_.subspan(extraAt_));
    const size_t before = x.Left();
    Value a;
    a.kind = Kind::kArray;
    a.cols = x.U8() + 1;
    a.rows = x.U16() + 1;
    a.items.reserve(size_t(a.rows) * size_t(a.cols));
    for (int i = 0; i < a.rows * a.cols; ++i) {
      const uint8_t type = x.U8();
      switch (type) {
        case serar::kNil:
          x.Skip(serar::kFixed);
          a.items.emplace_back();
          break;
        case serar::kNumber:
          a.items.push_back(Value::Number(x.F64()));
          break;
        case serar::kString: {
          std::u16string s;
          if (o_.biff5) {
            const size_t cch = x.U8();
            DecodeInto(x.Take(cch), s);
          } else {
            const size_t cch = x.U16();
            const bool high = x.U8() & xlstring::kHighByte;
            AppendChars(s, x.Take(cch * (high ? 2 : 1)).data(), cch, high);
          }
          a.items.push_back(Value::Text(std::move(s)));
          break;
        }
        case serar::kBool:
          a.items.push_back(Value::Bool(x.U8() != 0));
          x.Skip(serar::kFixed - 1);
          break;
        case serar::kError:
          a.items.push_back(Value::Error(static_cast<ErrorCode>(x.U8())));
          x.Skip(serar::kFixed - 1);
          break;
        default:
          throw Damaged{};
      }
    }
    extraAt_ += before - x.Left();
    Node n;
    n.kind = NodeKind::kArray;
    n.cls = cls;
    n.first = static_cast<uint32_t>(e_.arrays.size());
    e_.arrays.push_back(std::move(a));
    Push(n);
  }

  // tMemArea keeps the areas it stands for after the tokens, in token order.
  void SkipMemAreaExtra() {
    Reader x(extra_.subspan(extraAt_));
    const size_t refs = x.U16();
    const size_t refSize = o_.biff5 ? 6 : 8;
    extraAt_ += 2 + refs * refSize;
    if (extraAt_ > extra_.size()) throw Damaged{};
  }

  void Function(uint16_t id, size_t argc, DataClass cls) {
    Node n;
    n.kind = NodeKind::kFunc;
    n.func = id;
    n.cls = cls;
    PushOperator(n, argc);
  }

  void Token() {
    const uint8_t b = in_.U8();
    const uint8_t base = b < 0x20 ? b : static_cast<uint8_t>((b & 0x1F) | 0x20);
    const auto cls = b < 0x20 ? DataClass::kValue : static_cast<DataClass>((b & ptg::kClassMask) >> ptg::kClassShift);
    switch (base) {
      case ptg::kAdd: case ptg::kSub: case ptg::kMul: case ptg::kDiv: case ptg::kPower: case ptg::kConcat:
      case ptg::kLt: case ptg::kLe: case ptg::kEq: case ptg::kGe: case ptg::kGt: case ptg::kNe: case ptg::kRange:
      case ptg::kIsect: case ptg::kUnion: {
        Node n;
        n.kind = NodeKind::kBinary;
        n.op = base;
        n.cls = base == ptg::kRange || base == ptg::kIsect || base == ptg::kUnion ? DataClass::kReference
                                                                                 : DataClass::kValue;
        PushOperator(n, 2);
        return;
      }
      case ptg::kUplus: case ptg::kUminus: case ptg::kPercent: {
        Node n;
        n.kind = NodeKind::kUnary;
        n.op = base;
        PushOperator(n, 1);
        return;
      }
      case ptg::kParen:
        return;
      case xls::ptg::kExp:
      case xls::ptg::kTbl:
        return Unsupported(u"Matrixformel");
      case ptg::kExtend:
        return Unsupported(u"Mehrfachoperation");
      case ptg::kMissArg: {
        Node n;
        n.kind = NodeKind::kMissing;
        Push(n);
        return;
      }
      case ptg::kStr: {
        Node n;
        n.kind = NodeKind::kText;
        n.first = static_cast<uint32_t>(e_.texts.size());
        e_.texts.push_back(Text(in_.U8()));
        Push(n);
        return;
      }
      case ptg::kAttr: {
        const uint8_t grbit = in_.U8();
        const uint16_t w = in_.U16();
        if (grbit & attr::kSemi) e_.volatileMark = true;
        if (grbit & attr::kChoose) in_.Skip((size_t(w) + 1) * 2);
        if (grbit & attr::kSum) Function(fn::kSum, 1, DataClass::kValue);
        return;
      }
      case ptg::kErr: {
        Node n;
        n.kind = NodeKind::kError;
        n.op = in_.U8();
        Push(n);
        return;
      }
      case ptg::kBool: {
        Node n;
        n.kind = NodeKind::kBool;
        n.op = in_.U8() != 0;
        Push(n);
        return;
      }
      case ptg::kInt: {
        Node n;
        n.kind = NodeKind::kNumber;
        n.number = in_.U16();
        Push(n);
        return;
      }
      case ptg::kNum: {
        Node n;
        n.kind = NodeKind::kNumber;
        n.number = in_.F64();
        Push(n);
        return;
      }
      case ptg::kArray:
        return ArrayConstant(cls);
      case ptg::kFunc: {
        const uint16_t id = in_.U16();
        const FunctionInfo* f = FindFunction(id);
        if (!f || f->minArgs != f->maxArgs) throw Damaged{};  // a fixed count is what tFunc needs
        return Function(id, f->minArgs, cls);
      }
      case ptg::kFuncVar: {
        const size_t argc = in_.U8() & kArgcMask;
        const uint16_t id = in_.U16();
        if (id & kCommandMask) return Unsupported(u"Makrobefehl");
        return Function(id, argc, cls);
      }
      case ptg::kName: {
        Node n;
        n.kind = NodeKind::kName;
        n.cls = cls;
        n.func = in_.U16();
        in_.Skip(o_.biff5 ? 12 : 2);
        Push(n);
        return;
      }
      case ptg::kNameX: {
        Node n;
        n.kind = NodeKind::kNameX;
        n.cls = cls;
        if (o_.biff5) {
          in_.Skip(10);
          n.func = in_.U16();
          in_.Skip(12);
        } else {
          n.first = in_.U16();
          n.func = in_.U16();
          in_.Skip(2);
        }
        Push(n);
        return;
      }
      case ptg::kRef: case ptg::kArea: case ptg::kRefErr: case ptg::kAreaErr: case ptg::kRefN: case ptg::kAreaN:
      case ptg::kRef3d: case ptg::kArea3d: case ptg::kRefErr3d: case ptg::kAreaErr3d:
        return Reference(base, cls);
      case ptg::kMemArea:
        in_.Skip(6);
        SkipMemAreaExtra();
        return;
      case ptg::kMemErr:
      case ptg::kMemNoMem:
        in_.Skip(6);
        return;
      case ptg::kMemFunc:
      case ptg::kMemAreaN:
      case ptg::kMemNoMemN:
        in_.Skip(2);
        return;
      default:
        throw Damaged{};
    }
  }

  Reader in_;
  std::span<const uint8_t> extra_;
  size_t extraAt_ = 0;
  const ParseOptions& o_;
  Expr e_;
  std::vector<uint32_t> stack_;
};

}  // namespace

Expr ParseExpr(std::span<const uint8_t> rgce, std::span<const uint8_t> rgcb, const ParseOptions& options) {
  return Parser(rgce, rgcb, options).Run();
}

std::u16string DecodeBytes(std::span<const uint8_t> bytes, const CodePage* codePage) {
  std::u16string s;
  if (codePage) {
    codePage->Decode(bytes, s);
  } else {
    for (uint8_t b : bytes) s.push_back(b);
  }
  return s;
}

}  // namespace skov::xls::calc
