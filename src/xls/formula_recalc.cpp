// The dependency walk of a filled workbook: the template's formulas indexed, due ones evaluated in order, results written into their records.
#include "xls/formula_recalc.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <unordered_map>

#include "xls/biff.h"
#include "xls/biff5.h"
#include "xls/cell_table.h"
#include "xls/code_page.h"
#include "xls/formula_functions.h"
#include "xls/template.h"

namespace skov::xls::calc {
namespace {

namespace supbook {
constexpr uint16_t kCch = 2;
constexpr uint16_t kSelf = 0x0401;  // cch of the SUPBOOK standing for this workbook
}  // namespace supbook

namespace name {
constexpr uint16_t kFlags = 0;
constexpr uint16_t kCch = 3;
constexpr uint16_t kCce = 4;
constexpr uint16_t kItab = 8;  // the sheet from 1 of a sheet-level name, 0 for the workbook
constexpr uint16_t kText = 14;
constexpr uint16_t kBuiltIn = 0x0020;
}  // namespace name

// A FORMULA's cached result: a number, or these bytes with 0xFFFF at the end.
namespace result {
constexpr uint16_t kAt = 6;
constexpr uint16_t kType = 0;
constexpr uint16_t kValue = 2;
constexpr uint16_t kMarker = 6;
constexpr uint16_t kMarkerValue = 0xFFFF;
constexpr uint8_t kString = 0;
constexpr uint8_t kBool = 1;
constexpr uint8_t kError = 2;
constexpr uint8_t kEmptyString = 3;  // BIFF8 only: no STRING record follows
}  // namespace result

// Where the tokens of SHRFMLA and ARRAY begin: their size, then the tokens.
namespace shrfmla_tokens {
constexpr uint16_t kCce = 8;
}  // namespace shrfmla_tokens
namespace array_tokens {
constexpr uint16_t kCce = 12;
}  // namespace array_tokens

constexpr size_t kMaxListed = 10;  // formulas named in the log line
constexpr size_t kMaxEdges = 20'000'000;

// ---- Small readers ------------------------------------------------------

// cch then flags (BIFF8) or bytes in the code page (BIFF5), bounded by `end`.
bool ReadString(const Template& t, const uint8_t* p, const uint8_t* end, size_t cch, std::u16string& out) {
  if (t.Biff5()) {
    if (size_t(end - p) < cch) return false;
    out = DecodeBytes({p, cch}, t.codePage.get());
    return true;
  }
  if (p >= end) return false;
  const bool high = *p & xlstring::kHighByte;
  ++p;
  if (size_t(end - p) < cch * (high ? 2 : 1)) return false;
  out.clear();
  AppendChars(out, p, cch, high);
  return true;
}

// The shared string table's texts; a damaged table's unread rest as empty texts.
std::vector<std::u16string> SstTexts(const Template& t) {
  std::vector<std::u16string> out;
  if (t.sst < 0) return out;
  try {
    ParseSst(t.bytes, {t.globals.data() + t.sst, t.globals.data() + t.sstEnd}, &out);
  } catch (const Error&) {
    // damaged: the texts read before the damage stay
  }
  out.resize(t.strings.unique);
  return out;
}

double RkValue(uint32_t rk) {
  double v;
  if (rk & 2) {
    v = static_cast<double>(static_cast<int32_t>(rk) >> 2);
  } else {
    const uint64_t bits = uint64_t(rk & 0xFFFFFFFCu) << 32;
    std::memcpy(&v, &bits, sizeof v);
  }
  return rk & 1 ? v / 100 : v;
}

// The text a STRING record and its CONTINUEs hold, from `p` (the STRING's header).
std::u16string StringRecordText(const Template& t, std::span<const uint8_t> item, size_t p) {
  const uint16_t len = Get16(&item[p + 2]);
  const uint8_t* body = &item[p + 4];
  if (len < 2) return {};
  const size_t cch = Get16(body);
  if (t.Biff5()) {
    const size_t n = std::min<size_t>(cch, len - 2u);
    return DecodeBytes({body + 2, n}, t.codePage.get());
  }
  if (len < 3) return {};
  std::u16string text;
  bool high = body[2] & xlstring::kHighByte;
  const uint8_t* q = body + 3;
  const uint8_t* end = body + len;
  size_t next = p + 4 + len;
  while (text.size() < cch) {
    if (q >= end) {
      if (next + 4 > item.size() || Get16(&item[next]) != rec::kContinue) break;
      const uint16_t clen = Get16(&item[next + 2]);
      q = &item[next + 4];
      end = q + clen;
      next += 4u + clen;
      if (q >= end) break;
      high = *q++ & xlstring::kHighByte;
      continue;
    }
    // The characters this record holds, at once.
    const size_t width = high ? 2 : 1;
    const size_t n = std::min(cch - text.size(), size_t(end - q) / width);
    if (n == 0) break;
    AppendChars(text, q, n, high);
    q += n * width;
  }
  return text;
}

// Offset of the STRING record within a formula item, or 0.
size_t StringRecordAt(std::span<const uint8_t> item) {
  size_t off = 4u + Get16(&item[2]);
  while (off + 4 <= item.size()) {
    if (Get16(&item[off]) == rec::kString) return off;
    off += 4u + Get16(&item[off + 2]);
  }
  return 0;
}

// The result a FORMULA item holds.
Value StoredResult(const Template& t, std::span<const uint8_t> item) {
  const uint8_t* r = &item[4 + result::kAt];
  if (Get16(r + result::kMarker) != result::kMarkerValue) return Value::Number(GetF64(r));
  switch (r[result::kType]) {
    case result::kString: {
      const size_t at = StringRecordAt(item);
      return Value::Text(at ? StringRecordText(t, item, at) : std::u16string());
    }
    case result::kBool: return Value::Bool(r[result::kValue] != 0);
    case result::kError: return Value::Error(static_cast<ErrorCode>(r[result::kValue]));
    case result::kEmptyString: return Value::Text(u"");
    default: return Value::Number(GetF64(r));
  }
}

std::u16string SheetPrefix(const std::u16string& name) {
  bool plain = !name.empty() && !(name[0] >= u'0' && name[0] <= u'9');
  for (char16_t ch : name) {
    plain = plain && ((ch >= u'A' && ch <= u'Z') || (ch >= u'a' && ch <= u'z') || (ch >= u'0' && ch <= u'9') ||
                      ch == u'_' || ch == u'.' || ch >= 0xC0);
  }
  if (plain) return name + u"!";
  std::u16string quoted = u"'";
  for (char16_t ch : name) {
    if (ch == u'\'') quoted.push_back(u'\'');
    quoted.push_back(ch);
  }
  return quoted + u"'!";
}

// ---- Index --------------------------------------------------------------

void ReadGlobals(const Template& t, FormulaIndex& x) {
  const uint8_t* s = t.bytes.data();
  Globals& g = x.globals;
  g.biff5 = t.Biff5();
  g.sheetCount = static_cast<int>(t.sheets.size());
  ParseOptions names;
  names.biff5 = t.Biff5();
  names.codePage = t.codePage.get();
  names.relativeOffsets = true;
  std::vector<std::array<int, 3>> xtis;
  for (size_t i = 0; i < t.globals.size(); ++i) {
    const RecRef& r = t.globals[i];
    const uint8_t* body = s + r.body();
    const uint8_t* end = s + r.end();
    switch (r.type) {
      case rec::kRecalcId:
        if (!t.Biff5() && r.len >= recalcid::kSize) x.recalcId = static_cast<int>(i);
        break;
      case rec::kSupBook:
        g.bookNames.emplace_back();
        if (r.len >= 4 && Get16(body + supbook::kCch) == supbook::kSelf) g.selfBook = int(g.bookNames.size()) - 1;
        break;
      case rec::kExternName: {
        if (g.bookNames.empty() || t.Biff5() || r.len < 8) break;
        std::u16string text;
        ReadString(t, body + 7, end, body[6], text);
        g.bookNames.back().push_back(std::move(text));
        break;
      }
      case rec::kExternSheet: {
        if (t.Biff5()) break;
        // The entries may run on into CONTINUE records.
        std::vector<uint8_t> data(body, end);
        for (size_t k = i + 1; k < t.globals.size() && t.globals[k].type == rec::kContinue; ++k) {
          data.insert(data.end(), s + t.globals[k].body(), s + t.globals[k].end());
        }
        if (data.size() < 2) break;
        const size_t n = std::min<size_t>(Get16(data.data()), (data.size() - 2) / 6);
        for (size_t k = 0; k < n; ++k) {
          const uint8_t* e = data.data() + 2 + 6 * k;
          xtis.push_back({Get16(e), static_cast<int16_t>(Get16(e + 2)), static_cast<int16_t>(Get16(e + 4))});
        }
        break;
      }
      case rec::kName: {
        NameDef def;
        if (r.len < name::kText) {
          g.names.push_back(std::move(def));  // keeps the numbering
          break;
        }
        const size_t cch = body[name::kCch];
        const size_t cce = Get16(body + name::kCce);
        const uint16_t itab = Get16(body + name::kItab);
        def.scope = itab == 0 ? -1 : itab - 1;
        const uint8_t* p = body + name::kText;
        const bool high = !t.Biff5() && p < end && (*p & xlstring::kHighByte);
        const size_t textBytes = t.Biff5() ? cch : 1 + cch * (high ? 2 : 1);
        if (Get16(body + name::kFlags) & name::kBuiltIn) def.name = u"_builtin";
        if (size_t(end - p) >= textBytes) {
          if (!(Get16(body + name::kFlags) & name::kBuiltIn)) ReadString(t, p, end, cch, def.name);
          p += textBytes;
          if (size_t(end - p) >= cce) {
            def.expr = ParseExpr({p, cce}, {p + cce, size_t(end - p - cce)}, names);
          }
        }
        if (def.expr.nodes.empty() && def.expr.unsupported.empty()) def.expr.unsupported = u"beschaedigter Name";
        g.names.push_back(std::move(def));
        break;
      }
      case rec::kBoundSheet: {
        std::u16string text;
        if (r.len > boundsheet::kCch) ReadString(t, body + boundsheet::kCch + 1, end, body[boundsheet::kCch], text);
        x.sheetNames.push_back(std::move(text));
        break;
      }
      default:
        break;
    }
  }
  for (const auto& [book, first, last] : xtis) {
    SheetRange range;
    range.book = book;
    if (book != g.selfBook || g.selfBook < 0) {
      range.external = true;
    } else if (first >= 0 && last >= first && last < g.sheetCount) {
      range.first = first;
      range.last = last;
    }
    g.xti.push_back(range);
  }
}

struct SharedKey {
  uint32_t sheet, row, col;
  bool operator==(const SharedKey&) const = default;
};
struct SharedKeyHash {
  size_t operator()(const SharedKey& k) const { return (size_t(k.sheet) << 40) ^ (size_t(k.row) << 16) ^ k.col; }
};
struct AreaHash {
  size_t operator()(const Area& a) const {
    size_t h = 1469598103934665603ull;
    for (int v : {a.sheet, a.sheetLast, a.row1, a.col1, a.row2, a.col2}) h = (h ^ size_t(uint32_t(v))) * 1099511628211ull;
    return h;
  }
};

void ReadSheetFormulas(const Template& t, size_t si, FormulaIndex& x) {
  const SheetInfo& sh = t.sheets[si];
  const uint8_t* s = t.bytes.data();
  ParseOptions own;
  own.biff5 = t.Biff5();
  own.codePage = t.codePage.get();
  ParseOptions sharedOptions = own;
  sharedOptions.relativeOffsets = true;
  // Shared and array formulas by the cell whose FORMULA their SHRFMLA or
  // ARRAY follows, which is where the members' tExp points; writers differ
  // in whether that is also the range's first cell.
  struct Anchor {
    int32_t expr = -1;
    bool array = false;
  };
  std::unordered_map<SharedKey, Anchor, SharedKeyHash> anchors;
  std::vector<std::pair<size_t, SharedKey>> members;  // cells whose tokens are one tExp
  for (size_t i = 0; i < sh.records.size(); ++i) {
    const RecRef& r = sh.records[i];
    if (sh.depth[i] != 1 || r.type != rec::kFormula || r.len < formula::kMinSize) continue;
    const uint8_t* body = s + r.body();
    FormulaCell f;
    f.sheet = static_cast<uint16_t>(si);
    f.row = Get16(body + cell::kRow);
    f.col = Get16(body + cell::kCol);
    const size_t cce = Get16(body + formula::kCce);
    if (cce > size_t(r.len) - formula::kTokens) {
      f.blocker = u"beschaedigte Formel";
      x.cells.push_back(std::move(f));
      continue;
    }
    const uint8_t* rgce = body + formula::kTokens;
    size_t k = i + 1;
    while (k < sh.records.size() && sh.records[k].type == rec::kString) ++k;
    if (k < sh.records.size() && sh.depth[k] == 1) {
      const RecRef& a = sh.records[k];
      const uint8_t* ab = s + a.body();
      const bool shared = a.type == rec::kShrFmla;
      const uint16_t at = shared ? shrfmla_tokens::kCce : array_tokens::kCce;
      if ((shared || a.type == rec::kArray) && a.len >= at + 2u && Get16(ab + at) <= a.len - at - 2u) {
        const size_t acce = Get16(ab + at);
        x.exprs.push_back(ParseExpr({ab + at + 2, acce}, {ab + at + 2 + acce, a.len - at - 2 - acce},
                                    shared ? sharedOptions : own));
        const Anchor anchor{static_cast<int32_t>(x.exprs.size() - 1), !shared};
        anchors[{uint32_t(si), f.row, f.col}] = anchor;
        anchors.emplace(SharedKey{uint32_t(si), Get16(ab + shrfmla::kRwFirst), ab[shrfmla::kColFirst]}, anchor);
      }
    }
    if (cce >= xls::ptg::kExpSize && rgce[0] == xls::ptg::kExp) {
      members.emplace_back(x.cells.size(), SharedKey{uint32_t(si), Get16(rgce + xls::ptg::kRefRow), Get16(rgce + xls::ptg::kRefCol)});
    } else if (cce >= 1 && rgce[0] == xls::ptg::kTbl) {
      // A data table reads its input cells through Excel's own machinery.
      f.blocker = u"Mehrfachoperation";
      f.dynamic = true;
    } else {
      x.exprs.push_back(ParseExpr({rgce, cce}, {rgce + cce, r.len - formula::kTokens - cce}, own));
      f.expr = static_cast<int32_t>(x.exprs.size() - 1);
    }
    x.cells.push_back(std::move(f));
  }
  for (const auto& [at, key] : members) {
    auto it = anchors.find(key);
    FormulaCell& f = x.cells[at];
    if (it == anchors.end()) {
      f.blocker = u"beschaedigte Formel";
      continue;
    }
    // An array formula's cells read what it reads, but its results are Excel's to spread.
    f.expr = it->second.expr;
    if (it->second.array) f.blocker = u"Matrixformel";
  }
}

// Precedents of every formula, each area once, and who reads whom.
void Link(FormulaIndex& x) {
  std::unordered_map<Area, uint32_t, AreaHash> ids;
  for (FormulaCell& f : x.cells) {
    f.areaBegin = static_cast<uint32_t>(x.cellAreas.size());
    if (f.expr >= 0 && x.exprs[size_t(f.expr)].Ok()) {
      Precedents p;
      CollectPrecedents(x.exprs[size_t(f.expr)], {f.sheet, f.row, f.col}, x.globals, p);
      f.dynamic = f.dynamic || p.dynamic;
      f.isVolatile = p.isVolatile;
      if (f.blocker.empty()) f.blocker = p.blocker;
      for (const Area& a : p.areas) {
        auto [it, added] = ids.emplace(a, static_cast<uint32_t>(x.areas.size()));
        if (added) x.areas.push_back(a);
        x.cellAreas.push_back(it->second);
      }
    } else if (f.expr >= 0 && f.blocker.empty()) {
      f.blocker = x.exprs[size_t(f.expr)].unsupported;
    }
    f.areaEnd = static_cast<uint32_t>(x.cellAreas.size());
    x.anyDynamic = x.anyDynamic || f.dynamic;
  }
  // Edges: a formula cell inside an area another formula reads.
  std::vector<std::pair<uint32_t, uint32_t>> edges;  // (read, reader)
  std::vector<std::vector<uint32_t>> inArea(x.areas.size());
  for (uint32_t a = 0; a < x.areas.size(); ++a) {
    const Area& area = x.areas[a];
    auto lo = std::lower_bound(x.cells.begin(), x.cells.end(), area, [](const FormulaCell& f, const Area& v) {
      return std::tie(f.sheet, f.row) < std::tie(v.sheet, v.row1);
    });
    for (auto it = lo; it != x.cells.end() && (it->sheet < area.sheetLast || (it->sheet == area.sheetLast && it->row <= area.row2)); ++it) {
      if (area.Contains(it->sheet, it->row, it->col)) inArea[a].push_back(static_cast<uint32_t>(it - x.cells.begin()));
    }
  }
  for (uint32_t f = 0; f < x.cells.size(); ++f) {
    for (uint32_t k = x.cells[f].areaBegin; k < x.cells[f].areaEnd; ++k) {
      for (uint32_t read : inArea[x.cellAreas[k]]) {
        edges.emplace_back(read, f);
        if (edges.size() > kMaxEdges) throw Error(Fault::Damaged, "zu viele Formelbezuege");
      }
    }
  }
  std::sort(edges.begin(), edges.end());
  edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
  x.dependentStart.assign(x.cells.size() + 1, 0);
  for (const auto& e : edges) ++x.dependentStart[e.first + 1];
  for (size_t i = 1; i < x.dependentStart.size(); ++i) x.dependentStart[i] += x.dependentStart[i - 1];
  x.dependents.resize(edges.size());
  for (size_t i = 0; i < edges.size(); ++i) x.dependents[i] = edges[i].second;  // sorted by the cell read
}

}  // namespace

std::unique_ptr<FormulaIndex> IndexFormulas(const Template& t) {
  auto x = std::make_unique<FormulaIndex>();
  for (size_t si = 0; si < t.sheets.size(); ++si) ReadSheetFormulas(t, si, *x);
  if (x->cells.empty()) return x;
  ReadGlobals(t, *x);
  std::stable_sort(x->cells.begin(), x->cells.end(), [](const FormulaCell& a, const FormulaCell& b) {
    return std::tie(a.sheet, a.row, a.col) < std::tie(b.sheet, b.row, b.col);
  });
  x->strings = SstTexts(t);
  try {
    Link(*x);
  } catch (const Error&) {
    // Too entangled to walk: every formula counts as reading any cell.
    x->areas.clear();
    x->cellAreas.clear();
    x->dependents.clear();
    x->dependentStart.assign(x->cells.size() + 1, 0);
    for (FormulaCell& f : x->cells) {
      f.areaBegin = f.areaEnd = 0;
      f.dynamic = true;
      if (f.blocker.empty()) f.blocker = u"zu viele Formelbezuege";
    }
    x->anyDynamic = true;
  }
  return x;
}

namespace {

// kEvaluating: its evaluation has begun and reads what is still due first.
enum class State : uint8_t { kClean, kDue, kEvaluating, kDone, kDeferred, kGone };
// Formulas evaluated one inside another when the order the static walk found
// does not hold (an area that takes in the formula reading it): a deeper
// chain is left to Excel rather than run the stack out.
constexpr int kMaxOnDemand = 64;

// The walk of one fill: the cells as the book holds them, formulas' results as evaluated so far.
class Walk : public CellReader {
 public:
  Walk(const Template& t, const FormulaIndex& x, const BookAccess& book, RecalcReport& report)
      : t_(t), x_(x), book_(book), report_(report), state_(x.cells.size(), State::kClean),
        results_(x.cells.size()) {
    for (size_t s = 0; s < t.sheets.size(); ++s) {
      SheetCells* filled = book.filled(s);
      tables_.push_back(filled ? filled : book.parsed(s));
      filled_.push_back(filled != nullptr);
    }
  }

  void Run() {
    if (!MarkDue()) return;
    Evaluate();
    Write();
  }

  Value Cell(int sheet, int row, int col) override {
    Value v;
    if (sheet < 0 || size_t(sheet) >= tables_.size() || !tables_[size_t(sheet)]) return v;
    SheetCells& sc = *tables_[size_t(sheet)];
    if (const CellItem* c = FindCell(sc, static_cast<uint16_t>(row), static_cast<uint16_t>(col))) {
      ItemValue(size_t(sheet), row, col, *c, v);
    }
    return v;
  }

  void Used(int sheet, int row1, int col1, int row2, int col2, bool texts, CellVisit visit) override {
    if (sheet < 0 || size_t(sheet) >= tables_.size() || !tables_[size_t(sheet)]) return;
    const SheetCells& sc = *tables_[size_t(sheet)];
    Value v;  // one for every cell: a text takes the storage the last one left
    auto r = std::lower_bound(sc.rows.begin(), sc.rows.end(), row1,
                              [](const RowItem& ri, int x) { return ri.row < x; });
    for (; r != sc.rows.end() && r->row <= row2; ++r) {
      auto c = std::lower_bound(r->cells.begin(), r->cells.end(), col1,
                                [](const CellItem& ci, int x) { return ci.last < x; });
      for (; c != r->cells.end() && c->first <= col2; ++c) {
        const int from = std::max<int>(c->first, col1), to = std::min<int>(c->last, col2);
        for (int k = from; k <= to; ++k) {
          ItemValue(size_t(sheet), r->row, k, *c, v, texts);
          if (v.kind != Kind::kEmpty && !visit(r->row, k, v)) return;
        }
      }
    }
  }

 private:
  // The formula of the index at a cell, or -1.
  int FormulaAt(size_t sheet, int row, int col) const {
    const auto key = std::make_tuple(uint16_t(sheet), uint16_t(row), uint16_t(col));
    auto it = std::lower_bound(x_.cells.begin(), x_.cells.end(), key, [](const FormulaCell& f, const auto& k) {
      return std::tie(f.sheet, f.row, f.col) < k;
    });
    if (it == x_.cells.end() || std::tie(it->sheet, it->row, it->col) != key) return -1;
    return static_cast<int>(it - x_.cells.begin());
  }

  static void Number(Value& out, double d) {
    out.kind = Kind::kNumber;
    out.number = d;
  }
  // A cell holding the empty text reads as an empty cell, as writing "" into
  // a cell through Excel leaves it empty (and LibreOffice reads it so); the
  // empty text a formula returns stays a text.
  static void Text(Value& out, std::u16string_view text, bool characters = true) {
    out.kind = text.empty() ? Kind::kEmpty : Kind::kText;
    if (characters) {
      out.text.assign(text);
    } else {
      out.text.clear();
    }
  }

  // The cell's value into `out`, whose storage is reused; a text's
  // characters only with `texts` (CellReader::Used).
  void ItemValue(size_t sheet, int row, int col, const CellItem& c, Value& out, bool texts = true) {
    const uint8_t* s = t_.bytes.data();
    out.kind = Kind::kEmpty;
    switch (c.source) {
      case CellSource::New:
        return Text(out, book_.newText(c.isst), texts);
      case CellSource::MulPart:
        if (c.type == rec::kMulRk) {
          Number(out, RkValue(Get32(s + c.pos + 4 + mul::kItems + mul::kRkItem * size_t(col - c.origFirst) + 2)));
        }
        return;
      case CellSource::Template:
      case CellSource::Rebuilt:
        break;
    }
    const std::span<const uint8_t> item = ItemBytes(t_, c);
    const uint8_t* body = item.data() + 4;
    const uint16_t len = Get16(item.data() + 2);
    switch (c.type) {
      case rec::kFormula: {
        const int f = FormulaAt(sheet, row, col);
        if (f >= 0) {
          switch (state_[size_t(f)]) {
            case State::kDone: out = results_[size_t(f)]; return;
            case State::kDeferred: throw NotEvaluated{Address(size_t(f))};
            // Read before its turn: an area that takes in its reader looks
            // like a circle to the static walk; evaluated now, a real circle
            // shows as a formula read while it is being evaluated.
            case State::kDue:
              if (onDemand_ >= kMaxOnDemand) throw NotEvaluated{u"zu tief verschachtelt"};
              ++onDemand_;
              One(uint32_t(f));
              --onDemand_;
              if (state_[size_t(f)] != State::kDone) throw NotEvaluated{Address(size_t(f))};
              out = results_[size_t(f)];
              return;
            case State::kEvaluating: throw NotEvaluated{u"Zirkelbezug"};
            // NOW, TODAY, INDIRECT: Excel recalculates it on load, and what reads it with it.
            case State::kClean:
              if (x_.cells[size_t(f)].isVolatile) throw NotEvaluated{Address(size_t(f))};
              break;
            default: break;
          }
        }
        out = StoredResult(t_, item);
        return;
      }
      case rec::kNumber: return Number(out, GetF64(body + 6));
      case rec::kRk: return Number(out, RkValue(Get32(body + 6)));
      case rec::kMulRk: return Number(out, RkValue(Get32(body + mul::kItems + mul::kRkItem * size_t(col - c.first) + 2)));
      case rec::kLabelSst: {
        const uint32_t k = Get32(body + labelsst::kIsst);
        return Text(out, k < x_.strings.size() ? std::u16string_view(x_.strings[k]) : std::u16string_view(), texts);
      }
      case rec::kLabel:
      case rec::kRString: {
        std::u16string text;
        if (len >= 8) ReadString(t_, body + 8, body + len, Get16(body + 6), text);
        return Text(out, text);
      }
      case rec::kBoolErr:
        out = body[7] ? Value::Error(static_cast<ErrorCode>(body[6])) : Value::Bool(body[6] != 0);
        return;
      default:
        return;
    }
  }

  std::u16string Address(size_t f) const {
    const FormulaCell& c = x_.cells[f];
    const std::u16string& sheet = c.sheet < x_.sheetNames.size() ? x_.sheetNames[c.sheet] : std::u16string();
    return SheetPrefix(sheet) + CellName(c.row + 1, c.col + 1);
  }

  // Whether a written cell lies in `a`: the filled tables' rows in its
  // range, their items in its columns.
  bool Touched(const Area& a) const {
    for (int s = a.sheet; s <= a.sheetLast; ++s) {
      if (!filled_[size_t(s)]) continue;
      const std::vector<RowItem>& rows = tables_[size_t(s)]->rows;
      auto r = std::lower_bound(rows.begin(), rows.end(), a.row1, [](const RowItem& ri, int x) { return ri.row < x; });
      for (; r != rows.end() && r->row <= a.row2; ++r) {
        auto c = std::lower_bound(r->cells.begin(), r->cells.end(), a.col1,
                                  [](const CellItem& ci, int x) { return ci.last < x; });
        for (; c != r->cells.end() && c->first <= a.col2; ++c) {
          if (c->source == CellSource::New) return true;
        }
      }
    }
    return false;
  }

  // Invariant 2. False when no formula is due.
  bool MarkDue() {
    if (std::find(filled_.begin(), filled_.end(), true) == filled_.end()) return false;
    std::vector<uint8_t> hit(x_.areas.size());
    for (size_t a = 0; a < x_.areas.size(); ++a) hit[a] = Touched(x_.areas[a]);
    std::vector<uint32_t> queue;
    for (uint32_t f = 0; f < x_.cells.size(); ++f) {
      const FormulaCell& c = x_.cells[f];
      // A formula written over is a formula no more.
      if (filled_[c.sheet]) {
        const CellItem* item = FindCell(*tables_[c.sheet], c.row, c.col);
        if (!item || item->type != rec::kFormula) {
          state_[f] = State::kGone;
          continue;
        }
      }
      bool due = c.dynamic;
      for (uint32_t k = c.areaBegin; k < c.areaEnd && !due; ++k) due = hit[x_.cellAreas[k]];
      if (due) {
        state_[f] = State::kDue;
        queue.push_back(f);
      }
    }
    for (size_t q = 0; q < queue.size(); ++q) {
      for (uint32_t k = x_.dependentStart[queue[q]]; k < x_.dependentStart[queue[q] + 1]; ++k) {
        const uint32_t d = x_.dependents[k];
        if (state_[d] == State::kClean) {
          state_[d] = State::kDue;
          queue.push_back(d);
        }
      }
    }
    report_.due = queue.size();
    return !queue.empty();
  }

  // Invariant 3: in dependency order; what that order leaves (an area that
  // takes in its reader) after it, each read before its turn evaluated then.
  void Evaluate() {
    const size_t n = x_.cells.size();
    std::vector<uint32_t> waiting(n, 0);
    for (uint32_t f = 0; f < n; ++f) {
      if (state_[f] != State::kDue) continue;
      for (uint32_t k = x_.dependentStart[f]; k < x_.dependentStart[f + 1]; ++k) {
        if (state_[x_.dependents[k]] == State::kDue) ++waiting[x_.dependents[k]];
      }
    }
    std::vector<uint32_t> ready;
    for (uint32_t f = 0; f < n; ++f) {
      if (state_[f] == State::kDue && waiting[f] == 0) ready.push_back(f);
    }
    for (size_t q = 0; q < ready.size(); ++q) {
      const uint32_t f = ready[q];
      if (state_[f] == State::kDue) One(f);
      for (uint32_t k = x_.dependentStart[f]; k < x_.dependentStart[f + 1]; ++k) {
        const uint32_t d = x_.dependents[k];
        if (state_[d] == State::kDue && --waiting[d] == 0) ready.push_back(d);
      }
    }
    for (uint32_t f = 0; f < n; ++f) {
      if (state_[f] == State::kDue) One(f);
    }
  }

  void One(uint32_t f) {
    const FormulaCell& c = x_.cells[f];
    if (c.expr < 0 || !c.blocker.empty()) return Defer(f, c.blocker.empty() ? u"Matrixformel" : c.blocker);
    state_[f] = State::kEvaluating;
    // The tab order the expressions use is the order of Template::sheets.
    try {
      Value v = calc::Evaluate(x_.exprs[size_t(c.expr)], {c.sheet, c.row, c.col}, x_.globals, *this);
      // A STRING whose text has characters beyond the BMP (a surrogate pair
      // counts as two) is misread by xlrd, and so by pandas: Excel computes it on load.
      if (v.kind == Kind::kText &&
          std::any_of(v.text.begin(), v.text.end(), [](char16_t ch) { return ch >= 0xD800 && ch < 0xE000; })) {
        return Defer(f, u"Sonderzeichen");
      }
      if (t_.Biff5() && v.kind == Kind::kText) {
        std::vector<uint8_t> bytes;
        t_.codePage->Encode(v.text, bytes);
        if (bytes.size() > biff5::kMaxLabelBytes) return Defer(f, u"Text zu lang");
      }
      results_[f] = std::move(v);
      state_[f] = State::kDone;
      ++report_.evaluated;
      report_.evaluatedCells.push_back({c.sheet, c.row, c.col});
    } catch (const NotEvaluated& e) {
      Defer(f, e.why);
    }
  }

  void Defer(uint32_t f, std::u16string why) {
    state_[f] = State::kDeferred;
    const FormulaCell& c = x_.cells[f];
    report_.deferred.push_back({{c.sheet, c.row, c.col}, Address(f), std::move(why)});
  }

  // Invariant 4.
  void Write() {
    for (uint32_t f = 0; f < x_.cells.size(); ++f) {
      if (state_[f] != State::kDone) continue;
      const FormulaCell& c = x_.cells[f];
      SheetCells& sc = book_.writable(c.sheet);
      tables_[c.sheet] = &sc;
      CellItem* item = FindCell(sc, c.row, c.col);
      assert(item && item->type == rec::kFormula);
      if (!item || item->type != rec::kFormula) continue;
      const std::span<const uint8_t> old = ItemBytes(t_, *item);
      const Value stored = StoredResult(t_, old);
      const Value& now = results_[f];
      if (Same(stored, now)) continue;
      std::vector<uint8_t> bytes;
      WithResult(old, now, bytes);
      item->own = &sc.rebuilt.emplace_back(std::move(bytes));
      item->source = CellSource::Rebuilt;
      ++report_.changed;
    }
    if (!report_.deferred.empty() && x_.recalcId >= 0) report_.zeroRecalcId = x_.recalcId;
  }

  static bool Same(const Value& a, const Value& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
      case Kind::kNumber: return std::memcmp(&a.number, &b.number, sizeof a.number) == 0;
      case Kind::kBool: return a.number == b.number;
      case Kind::kError: return a.error == b.error;
      case Kind::kText: return a.text == b.text;
      default: return false;
    }
  }

  // The FORMULA with `v` as its result, its other records kept, its STRING made anew.
  void WithResult(std::span<const uint8_t> old, const Value& v, std::vector<uint8_t>& out) const {
    const size_t formulaEnd = 4u + Get16(&old[2]);
    out.reserve(old.size() + 16 + 2 * v.text.size());
    out.assign(old.begin(), old.begin() + long(formulaEnd));
    uint8_t* r = &out[4 + result::kAt];
    std::memset(r, 0, 8);
    bool text = false;
    switch (v.kind) {
      case Kind::kNumber:
        PutF64(r, v.number);
        break;
      case Kind::kBool:
        r[result::kType] = result::kBool;
        r[result::kValue] = v.number != 0;
        Put16(r + result::kMarker, result::kMarkerValue);
        break;
      case Kind::kError:
        r[result::kType] = result::kError;
        r[result::kValue] = static_cast<uint8_t>(v.error);
        Put16(r + result::kMarker, result::kMarkerValue);
        break;
      default:
        // Excel 97 and later store the empty text without a STRING record; Excel 5.0/95 had no such type.
        r[result::kType] = v.text.empty() && !t_.Biff5() ? result::kEmptyString : result::kString;
        text = r[result::kType] == result::kString;
        Put16(r + result::kMarker, result::kMarkerValue);
        break;
    }
    // The records after the FORMULA, its old STRING (and CONTINUEs) left out.
    bool inString = false;
    for (size_t off = formulaEnd; off + 4 <= old.size();) {
      const uint16_t type = Get16(&old[off]);
      const size_t next = off + 4 + Get16(&old[off + 2]);
      inString = type == rec::kString || (inString && type == rec::kContinue);
      if (!inString) out.insert(out.end(), old.begin() + long(off), old.begin() + long(next));
      off = next;
    }
    if (text) AppendString(v.text, out);
  }

  void AppendString(const std::u16string& s, std::vector<uint8_t>& out) const {
    if (t_.Biff5()) {
      std::vector<uint8_t> bytes;
      t_.codePage->Encode(s, bytes);
      PutRecordHeader(out, rec::kString, static_cast<uint16_t>(2 + bytes.size()));
      Append16(out, static_cast<uint16_t>(bytes.size()));
      AppendBytes(out, bytes.data(), bytes.size());
      return;
    }
    const bool high = std::any_of(s.begin(), s.end(), [](char16_t ch) { return ch > 0xFF; });
    const size_t width = high ? 2 : 1;
    // The characters in pieces: a full record goes on in a CONTINUE, which repeats the flags.
    size_t header = out.size();
    PutRecordHeader(out, rec::kString, 0);
    Append16(out, static_cast<uint16_t>(s.size()));
    out.push_back(high ? xlstring::kHighByte : 0);
    for (size_t i = 0;;) {
      const size_t room = (kMaxRecordBody - (out.size() - header - 4)) / width;
      const size_t n = std::min(room, s.size() - i);
      const size_t at = out.size();
      out.resize(at + n * width);
      if (high) {
        for (size_t k = 0; k < n; ++k) Put16(&out[at + 2 * k], s[i + k]);
      } else {
        std::transform(s.begin() + long(i), s.begin() + long(i + n), out.begin() + long(at),
                       [](char16_t ch) { return static_cast<uint8_t>(ch); });
      }
      i += n;
      Put16(&out[header + 2], static_cast<uint16_t>(out.size() - header - 4));
      if (i == s.size()) break;
      header = out.size();
      PutRecordHeader(out, rec::kContinue, 0);
      out.push_back(high ? xlstring::kHighByte : 0);
    }
  }

  const Template& t_;
  const FormulaIndex& x_;
  const BookAccess& book_;
  RecalcReport& report_;
  std::vector<SheetCells*> tables_;
  std::vector<bool> filled_;
  std::vector<State> state_;
  std::vector<Value> results_;
  int onDemand_ = 0;
};

}  // namespace

void Recalculate(const Template& t, const FormulaIndex& index, const BookAccess& book, RecalcReport& report) {
  report = RecalcReport();
  if (index.cells.empty()) return;
  Walk(t, index, book, report).Run();
  // The log names them in the order of the sheets and their cells.
  std::stable_sort(report.deferred.begin(), report.deferred.end(), [](const Deferred& a, const Deferred& b) {
    return std::tie(a.at.sheet, a.at.row, a.at.col) < std::tie(b.at.sheet, b.at.row, b.at.col);
  });
}

std::u16string DeferredNote(const RecalcReport& report) {
  if (report.deferred.empty()) return {};
  const size_t n = report.deferred.size();
  std::u16string out;
  for (char ch : std::to_string(n)) out.push_back(static_cast<char16_t>(ch));
  out += n == 1 ? u" Formel wird erst beim Oeffnen berechnet: " : u" Formeln werden erst beim Oeffnen berechnet: ";
  for (size_t i = 0; i < n && i < kMaxListed; ++i) {
    if (i) out += u", ";
    out += report.deferred[i].cell + u" (" + report.deferred[i].why + u")";
  }
  if (n > kMaxListed) {
    out += u" und ";
    for (char ch : std::to_string(n - kMaxListed)) out.push_back(static_cast<char16_t>(ch));
    out += u" weitere";
  }
  return out;
}

}  // namespace skov::xls::calc
