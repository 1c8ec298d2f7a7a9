// Workbook stream parsing, cell writes and re-serialization.
#include "xls/book.h"

#include <algorithm>
#include <array>
#include <limits>

#include "strings/runtime_error.h"

namespace skov::xls {

namespace {

constexpr uint16_t kBofGlobals = 0x0005;
constexpr uint16_t kBofWorksheet = 0x0010;
constexpr uint16_t kBiff8 = 0x0600;
constexpr uint16_t kDialogFlag = 0x0010;      // WSBOOL
constexpr uint16_t kWindowHidden = 0x0001;    // WINDOW1
constexpr uint16_t kSheetSelected = 0x0600;   // WINDOW2: selected, shown in the window
constexpr uint16_t kRowHasFormat = 0x0080;    // ROW: ixfe applies
constexpr uint16_t kDefaultXf = 15;
constexpr int kMaxNesting = 32;

bool IsCellRecord(uint16_t type) {
  switch (type) {
    case rec::kBlank: case rec::kMulBlank: case rec::kMulRk: case rec::kRk: case rec::kNumber:
    case rec::kLabel: case rec::kLabelSst: case rec::kBoolErr: case rec::kFormula: case rec::kRString:
      return true;
    default:
      return false;
  }
}

// Records that belong to the cell before them.
bool IsAttachedRecord(uint16_t type) {
  return type == rec::kString || type == rec::kShrFmla || type == rec::kArray || type == rec::kTable ||
         type == rec::kContinue;
}

bool IsCellTableRecord(uint16_t type) {
  return type == rec::kRow || type == rec::kDbCell || IsCellRecord(type) || IsAttachedRecord(type);
}

// Columns a sound cell record covers; false when its size does not fit its kind.
bool CellColumns(uint16_t type, const uint8_t* body, uint16_t len, uint16_t& first, uint16_t& last) {
  if (len < 6) return false;
  first = last = Get16(body + 2);
  switch (type) {
    case rec::kMulBlank:
    case rec::kMulRk: {
      size_t width = type == rec::kMulBlank ? 2 : 6;
      if (len < 6 + width || (len - 6) % width) return false;
      size_t n = (len - 6) / width;
      last = Get16(body + len - 2);
      return last >= first && size_t(last - first) + 1 == n;
    }
    case rec::kLabelSst: case rec::kRk: return len >= 10;
    case rec::kNumber: return len >= 14;
    case rec::kBoolErr: return len >= 8;
    case rec::kFormula: return len >= 22;
    default: return true;
  }
}

void CheckBof(std::span<const uint8_t> s, const RecRef& r) {
  if (r.type != rec::kBof) throw BiffError("substream does not start with BOF");
  if (r.len < 8) throw BiffError("BOF too short");
  if (Get16(&s[r.body()]) != kBiff8) throw BiffError("not a BIFF8 workbook");
}

void ParseSheet(const Template& t, SheetInfo& sh) {
  std::span<const uint8_t> s = t.bytes;
  uint32_t pos = sh.start;
  int depth = 0;
  for (;;) {
    RecRef r = ReadRecordAt(s, pos);
    int d = depth;
    // Some writers repeat a chart's BOF right after it, with one EOF for both.
    const bool repeated = r.type == rec::kBof && !sh.records.empty() && sh.records.back().type == rec::kBof;
    if (r.type == rec::kBof && !repeated) {
      CheckBof(s, r);
      if (++depth > kMaxNesting) throw BiffError("substreams nested too deep");
      d = depth;
    } else if (depth == 0) {
      throw BiffError("sheet substream does not start with BOF");
    }
    sh.records.push_back(r);
    sh.depth.push_back(static_cast<uint8_t>(d));
    pos = r.end();
    if (r.type == rec::kEof && --depth == 0) break;
  }
  sh.end = pos;
  sh.bofType = Get16(&s[sh.records[0].body() + 2]);
  bool dialog = false;
  for (size_t i = 0; i < sh.records.size(); ++i) {
    const RecRef& r = sh.records[i];
    if (sh.depth[i] != 1) continue;
    const uint8_t* body = &s[r.body()];
    if (r.type == rec::kWsBool && r.len >= 2) dialog = Get16(body) & kDialogFlag;
    if (r.type == rec::kWindow2 && r.len >= 2 && sh.window2 < 0) sh.window2 = static_cast<int>(i);
    if (r.type == rec::kIndex && sh.index < 0) {
      if (r.len < 16) throw BiffError("INDEX too short");
      sh.index = static_cast<int>(i);
    }
    uint16_t first, last;
    if (IsCellRecord(r.type) && !CellColumns(r.type, body, r.len, first, last)) throw BiffError("damaged cell record");
    if (r.type == rec::kRow && r.len < 16) throw BiffError("ROW too short");
    if (r.type == rec::kDimensions && r.len < 14) throw BiffError("DIMENSIONS too short");
  }
  uint8_t boundType = s[t.globals[sh.boundSheet].body() + 5];
  sh.worksheet = boundType == 0 && sh.bofType == kBofWorksheet && !dialog;
}

}  // namespace

std::shared_ptr<const Template> ParseWorkbookStream(std::vector<uint8_t> stream) {
  auto t = std::make_shared<Template>();
  t->bytes = std::move(stream);
  std::span<const uint8_t> s = t->bytes;

  RecRef bof = ReadRecordAt(s, 0);
  CheckBof(s, bof);
  if (Get16(&s[bof.body() + 2]) != kBofGlobals) throw BiffError("stream does not start with the workbook globals");
  uint32_t pos = 0;
  for (;;) {
    RecRef r = ReadRecordAt(s, pos);
    if (r.type == rec::kBof && !t->globals.empty()) throw BiffError("globals without EOF");
    if (r.type == rec::kFilePass) throw BiffError("workbook is encrypted");
    t->globals.push_back(r);
    pos = r.end();
    if (r.type == rec::kEof) break;
  }
  const uint32_t globalsEnd = pos;

  for (size_t i = 0; i < t->globals.size(); ++i) {
    const RecRef& r = t->globals[i];
    switch (r.type) {
      case rec::kBoundSheet: {
        if (r.len < 8) throw BiffError("BOUNDSHEET too short");
        SheetInfo sh;
        sh.boundSheet = i;
        sh.start = Get32(&s[r.body()]);
        if (sh.start < globalsEnd || sh.start >= s.size()) throw BiffError("sheet offset outside the stream");
        t->sheets.push_back(std::move(sh));
        break;
      }
      case rec::kWindow1:
        if (r.len < 18) throw BiffError("WINDOW1 too short");
        t->window1.push_back(i);
        break;
      case rec::kSst: {
        if (t->sst >= 0) throw BiffError("two string tables");
        size_t e = i + 1;
        while (e < t->globals.size() && t->globals[e].type == rec::kContinue) ++e;
        t->sst = static_cast<int>(i);
        t->sstEnd = static_cast<int>(e);
        t->strings = ParseSst(s, std::span(t->globals).subspan(i, e - i));
        break;
      }
      case rec::kExtSst:
        if (t->sst < 0 || t->extSst >= 0) throw BiffError("EXTSST without a string table before it");
        t->extSst = static_cast<int>(i);
        break;
      default:
        break;
    }
  }

  for (SheetInfo& sh : t->sheets) ParseSheet(*t, sh);
  for (size_t i = 0; i < t->sheets.size(); ++i) {
    t->streamOrder.push_back(i);
    if (t->sheets[i].worksheet) t->worksheets.push_back(i);
  }
  std::sort(t->streamOrder.begin(), t->streamOrder.end(),
            [&](size_t a, size_t b) { return t->sheets[a].start < t->sheets[b].start; });
  for (size_t k = 1; k < t->streamOrder.size(); ++k) {
    if (t->sheets[t->streamOrder[k]].start < t->sheets[t->streamOrder[k - 1]].end) {
      throw BiffError("sheet substreams overlap");
    }
  }
  return t;
}

// ---------------------------------------------------------------------------
// The cell table of a sheet being changed.

struct CellItem {
  uint16_t first = 0;
  uint16_t last = 0;
  uint16_t type = 0;
  uint32_t pos = 0;  // template bytes of the record and its attached records ...
  uint32_t len = 0;  // ... or len 0 for a cell written here
  uint16_t xf = 0;
  uint32_t isst = 0;
  uint16_t origFirst = 0;    // first column of the template record
  bool part = false;         // some columns of a template MULBLANK or MULRK
  std::vector<uint8_t> own;  // records rebuilt here (moved shared formulas)
};

struct RowItem {
  uint16_t row = 0;
  bool hasRecord = false;
  bool recordChanged = false;
  RecRef record;                   // the template's ROW, while unchanged
  std::array<uint8_t, 16> body{};  // ROW fields, when hasRecord
  std::vector<CellItem> cells;     // by column
};

struct SheetCells {
  std::vector<RowItem> rows;  // by row
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
};

namespace {

RowItem& FindOrAddRow(std::vector<RowItem>& rows, uint16_t row, bool* added = nullptr) {
  if (added) *added = false;
  if (!rows.empty() && rows.back().row == row) return rows.back();
  auto it = std::lower_bound(rows.begin(), rows.end(), row, [](const RowItem& r, uint16_t v) { return r.row < v; });
  if (it != rows.end() && it->row == row) return *it;
  if (added) *added = true;
  RowItem item;
  item.row = row;
  return *rows.insert(it, std::move(item));
}

std::unique_ptr<SheetCells> BuildCells(const Template& t, const SheetInfo& sh) {
  auto sc = std::make_unique<SheetCells>();
  const uint8_t* s = t.bytes.data();
  const size_t n = sh.records.size();
  int first = -1, last = -1, window2 = -1;
  bool afterCell = false;  // a CONTINUE belongs to the table only right after a cell
  for (size_t i = 0; i < n; ++i) {
    if (sh.depth[i] != 1) {
      afterCell = false;
      continue;
    }
    const RecRef& r = sh.records[i];
    const uint8_t* body = s + r.body();
    bool cellish = IsCellRecord(r.type) || (IsAttachedRecord(r.type) && (r.type != rec::kContinue || afterCell));
    if (cellish || r.type == rec::kRow || r.type == rec::kDbCell) {
      if (first < 0) first = static_cast<int>(i);
      last = static_cast<int>(i);
    }
    afterCell = cellish;
    if (r.type == rec::kIndex) sc->dbCells = true;
    if (r.type == rec::kWindow2 && window2 < 0) window2 = static_cast<int>(i);
    if (r.type == rec::kDimensions && sc->dims < 0) {
      sc->dims = static_cast<int>(i);
      sc->rwMic = Get32(body);
      sc->rwMac = Get32(body + 4);
      sc->colMic = Get16(body + 8);
      sc->colMac = Get16(body + 10);
    }
    if (r.type == rec::kColInfo && r.len >= 8) sc->colInfo.push_back({Get16(body), Get16(body + 2), Get16(body + 6)});
    if (r.type == rec::kDefaultRowHeight && r.len >= 4) sc->defaultHeight = Get16(body + 2);
  }
  if (first < 0) {
    // No cells yet: the table goes where the spreadsheet puts it.
    size_t at = sc->dims >= 0 ? size_t(sc->dims) + 1 : window2 >= 0 ? size_t(window2) : n - 1;
    sc->areaBegin = sc->areaEnd = at;
    return sc;
  }
  sc->areaBegin = static_cast<size_t>(first);
  sc->areaEnd = static_cast<size_t>(last) + 1;
  RowItem* lastRow = nullptr;
  for (size_t i = sc->areaBegin; i < sc->areaEnd; ++i) {
    const RecRef& r = sh.records[i];
    const uint8_t* body = s + r.body();
    if (sh.depth[i] != 1 || !IsCellTableRecord(r.type)) {
      sc->foreign.push_back(i);
      lastRow = nullptr;
      continue;
    }
    if (r.type == rec::kRow) {
      RowItem& row = FindOrAddRow(sc->rows, Get16(body));
      row.hasRecord = true;
      row.record = r;
      std::copy(body, body + 16, row.body.begin());
      lastRow = nullptr;
    } else if (r.type == rec::kDbCell) {
      sc->dbCells = true;
      lastRow = nullptr;
    } else if (IsCellRecord(r.type)) {
      CellItem c;
      CellColumns(r.type, body, r.len, c.first, c.last);
      c.origFirst = c.first;
      c.type = r.type;
      c.pos = r.pos;
      c.len = 4u + r.len;
      RowItem& row = FindOrAddRow(sc->rows, Get16(body));
      row.cells.push_back(std::move(c));
      lastRow = &row;
    } else if (lastRow && !lastRow->cells.empty() &&
               lastRow->cells.back().pos + lastRow->cells.back().len == r.pos) {
      lastRow->cells.back().len += 4u + r.len;
    } else {
      sc->foreign.push_back(i);
    }
  }
  for (RowItem& row : sc->rows) {
    auto byColumn = [](const CellItem& a, const CellItem& b) { return a.first < b.first; };
    if (!std::is_sorted(row.cells.begin(), row.cells.end(), byColumn)) {
      std::stable_sort(row.cells.begin(), row.cells.end(), byColumn);
    }
  }
  return sc;
}

// The first record of a cell item: its header.
const uint8_t* ItemRecord(const Template& t, const CellItem& c) {
  return c.own.empty() ? t.bytes.data() + c.pos : c.own.data();
}

uint16_t ItemXf(const Template& t, const CellItem& c, uint16_t column) {
  if (c.len == 0 && c.own.empty()) return c.xf;
  const uint8_t* body = ItemRecord(t, c) + 4;
  if (c.type == rec::kMulBlank) return Get16(body + 4 + 2 * (column - c.origFirst));
  if (c.type == rec::kMulRk) return Get16(body + 4 + 6 * (column - c.origFirst));
  return Get16(body + 4);
}

// The records of a cell item, header first; empty for a cell written here.
std::span<const uint8_t> ItemBytes(const Template& t, const CellItem& c) {
  if (!c.own.empty()) return c.own;
  if (c.len) return {t.bytes.data() + c.pos, c.len};
  return {};
}

// Offset within the item of its SHRFMLA, ARRAY or TABLE record, or 0.
size_t AnchorRecord(const Template& t, const CellItem& c, uint16_t* kind) {
  std::span<const uint8_t> b = ItemBytes(t, c);
  if (b.size() < 4) return 0;
  size_t off = 4u + Get16(&b[2]);
  while (off + 4 <= b.size()) {
    uint16_t type = Get16(&b[off]);
    if (type == rec::kShrFmla || type == rec::kArray || type == rec::kTable) {
      if (kind) *kind = type;
      return off;
    }
    off += 4u + Get16(&b[off + 2]);
  }
  return 0;
}

uint16_t AnchorKind(const Template& t, const CellItem& c) {
  uint16_t kind = 0;
  AnchorRecord(t, c, &kind);
  return kind;
}

// The cell a formula refers to with a PtgExp as its only token, if so.
bool ExpTarget(const Template& t, const CellItem& c, uint16_t* row, uint16_t* column) {
  std::span<const uint8_t> b = ItemBytes(t, c);
  if (c.type != rec::kFormula || b.size() < 4 || Get16(&b[2]) < 27) return false;
  const uint8_t* body = b.data() + 4;
  if (Get16(body + 20) < 5 || body[22] != 0x01) return false;
  *row = Get16(body + 23);
  *column = Get16(body + 25);
  return true;
}

CellItem* FindCell(SheetCells& sc, uint16_t row, uint16_t column) {
  auto rit = std::lower_bound(sc.rows.begin(), sc.rows.end(), row,
                              [](const RowItem& r, uint16_t v) { return r.row < v; });
  if (rit == sc.rows.end() || rit->row != row) return nullptr;
  auto cit = std::lower_bound(rit->cells.begin(), rit->cells.end(), column,
                              [](const CellItem& c, uint16_t v) { return c.last < v; });
  if (cit == rit->cells.end() || cit->first > column) return nullptr;
  return &*cit;
}

// A formula cell that is no anchor may be overwritten unless it is part of
// an array or a data table; members of shared formulas may.
bool FormulaWritable(const Template& t, SheetCells& sc, const CellItem& c, uint16_t row, uint16_t column) {
  std::span<const uint8_t> b = ItemBytes(t, c);
  const uint8_t* body = b.data() + 4;
  uint16_t len = Get16(&b[2]);
  uint16_t cce = Get16(body + 20);
  if (cce == 0 || len < 23) return true;
  if (body[22] == 0x02) return false;  // part of a data table
  if (body[22] != 0x01) return true;
  uint16_t ar, ac;
  if (!ExpTarget(t, c, &ar, &ac) || (ar == row && ac == column)) return false;
  const CellItem* anchor = FindCell(sc, ar, ac);
  return anchor && anchor->type == rec::kFormula && AnchorKind(t, *anchor) == rec::kShrFmla;
}

// The anchor of a shared formula is about to be overwritten: the first
// remaining member becomes the anchor, with the SHRFMLA after it and every
// member pointing at it. The formula's tokens are relative to the cell they
// are evaluated in, so they stay as they are. When the first member is not
// the top left of the rest, each row of members gets a SHRFMLA of its own.
bool MoveSharedAnchor(const Template& t, SheetCells& sc, const CellItem& anchor, uint16_t ar, uint16_t ac) {
  std::span<const uint8_t> a = ItemBytes(t, anchor);
  const size_t so = AnchorRecord(t, anchor, nullptr);
  const uint16_t slen = Get16(&a[so + 2]);
  if (slen < 8) return false;
  const uint8_t* shr = &a[so + 4];
  const uint16_t rwFirst = Get16(shr), rwLast = Get16(shr + 2);
  const uint8_t colFirst = shr[4], colLast = shr[5];
  std::vector<CellItem*> members;
  for (RowItem& row : sc.rows) {
    if (row.row < rwFirst || row.row > rwLast) continue;
    for (CellItem& c : row.cells) {
      uint16_t er, ec;
      if (&c == &anchor || c.first != c.last || c.first < colFirst || c.first > colLast) continue;
      if (ExpTarget(t, c, &er, &ec) && er == ar && ec == ac && !AnchorKind(t, c)) members.push_back(&c);
    }
  }
  if (members.empty()) return true;
  std::vector<uint16_t> memberRows;
  for (RowItem& row : sc.rows) {
    for (CellItem& c : row.cells) {
      if (std::find(members.begin(), members.end(), &c) != members.end()) memberRows.push_back(row.row);
    }
  }
  // One group when the first member is the top left of them all, else one per row.
  bool oneGroup = true;
  for (CellItem* m : members) oneGroup = oneGroup && m->first >= members.front()->first;
  for (size_t g = 0; g < members.size();) {
    size_t e = g + 1;
    while (e < members.size() && (oneGroup || memberRows[e] == memberRows[g])) ++e;
    const uint16_t nr = memberRows[g], nc = members[g]->first;
    uint16_t lastRow = nr, lastCol = nc;
    for (size_t i = g; i < e; ++i) {
      lastRow = std::max(lastRow, memberRows[i]);
      lastCol = std::max(lastCol, members[i]->first);
    }
    std::vector<uint8_t> moved(a.begin() + long(so), a.begin() + long(so) + 4 + slen);
    Put16(&moved[4], nr);
    Put16(&moved[6], lastRow);
    moved[8] = static_cast<uint8_t>(nc);
    moved[9] = static_cast<uint8_t>(lastCol);
    moved[11] = static_cast<uint8_t>(std::min<size_t>(e - g, 255));
    for (size_t i = g; i < e; ++i) {
      std::span<const uint8_t> b = ItemBytes(t, *members[i]);
      std::vector<uint8_t> bytes(b.begin(), b.end());
      Put16(&bytes[4 + 23], nr);
      Put16(&bytes[4 + 25], nc);
      if (i == g) bytes.insert(bytes.begin() + 4 + Get16(&bytes[2]), moved.begin(), moved.end());
      members[i]->own = std::move(bytes);
      members[i]->len = 0;
    }
    g = e;
  }
  return true;
}

// Columns [a, b] of a MULBLANK or MULRK item; written out when saving.
CellItem SplitPart(const CellItem& c, uint16_t a, uint16_t b) {
  CellItem part = c;
  part.first = a;
  part.last = b;
  part.part = true;
  return part;
}

// A part as BLANK/RK for one column, else as a shorter MULBLANK/MULRK.
void WritePart(std::vector<uint8_t>& out, const Template& t, const CellItem& c, uint16_t row) {
  const uint8_t* body = t.bytes.data() + c.pos + 4;
  const bool rk = c.type == rec::kMulRk;
  const size_t width = rk ? 6 : 2;
  const size_t count = size_t(c.last - c.first) + 1;
  if (count == 1) {
    PutRecordHeader(out, rk ? rec::kRk : rec::kBlank, static_cast<uint16_t>(4 + width));
  } else {
    PutRecordHeader(out, c.type, static_cast<uint16_t>(6 + width * count));
  }
  size_t at = out.size();
  out.resize(at + 4);
  Put16(&out[at], row);
  Put16(&out[at + 2], c.first);
  AppendBytes(out, body + 4 + width * (c.first - c.origFirst), width * count);
  if (count > 1) {
    at = out.size();
    out.resize(at + 2);
    Put16(&out[at], c.last);
  }
}

void WriteCellRecord(std::vector<uint8_t>& out, uint16_t row, const CellItem& c) {
  const bool label = c.type == rec::kLabelSst;
  const size_t at = out.size();
  out.resize(at + (label ? 14 : 10));
  uint8_t* p = &out[at];
  Put16(p, label ? rec::kLabelSst : rec::kBlank);
  Put16(p + 2, label ? 10 : 6);
  Put16(p + 4, row);
  Put16(p + 6, c.first);
  Put16(p + 8, c.xf);
  if (label) Put32(p + 10, c.isst);
}

}  // namespace

// ---------------------------------------------------------------------------

Book::Book(std::shared_ptr<const Template> t) : t_(std::move(t)) {
  const uint8_t* s = t_->bytes.data();
  for (size_t i : t_->window1) {
    const RecRef& r = t_->globals[i];
    window1_.emplace_back(s + r.body(), s + r.body() + 18);
  }
  for (const SheetInfo& sh : t_->sheets) {
    hsState_.push_back(s[t_->globals[sh.boundSheet].body() + 4]);
    window2_.push_back(sh.window2 >= 0 ? Get16(s + sh.records[size_t(sh.window2)].body()) : 0);
  }
  cells_.resize(t_->sheets.size());
}

Book::~Book() = default;
Book::Book(Book&&) noexcept = default;
Book& Book::operator=(Book&&) noexcept = default;

const SheetInfo& Book::Worksheet(int sheet) const {
  if (sheet < 1 || size_t(sheet) > t_->worksheets.size()) Raise(9, "no such worksheet");
  return t_->sheets[t_->worksheets[size_t(sheet) - 1]];
}

void Book::ShowWindow(int window) {
  if (window < 1 || size_t(window) > window1_.size()) Raise(9, "no such window");
  uint8_t* body = window1_[size_t(window) - 1].data();
  uint16_t flags = Get16(body + 8);
  if (flags & kWindowHidden) {
    Put16(body + 8, flags & ~kWindowHidden);
    changed_ = true;
  }
}

void Book::ActivateSheet(int sheet) {
  Worksheet(sheet);
  const size_t tab = t_->worksheets[size_t(sheet) - 1];
  auto set16 = [this](uint8_t* p, uint16_t v) {
    if (Get16(p) != v) {
      Put16(p, v);
      changed_ = true;
    }
  };
  if (!window1_.empty()) {
    uint8_t* body = window1_[0].data();
    set16(body + 10, static_cast<uint16_t>(tab));
    if (Get16(body + 12) > tab) set16(body + 12, static_cast<uint16_t>(tab));
    set16(body + 14, 1);
  }
  for (size_t i = 0; i < t_->sheets.size(); ++i) {
    if (t_->sheets[i].window2 < 0) continue;
    uint16_t want = i == tab ? (window2_[i] | kSheetSelected) : (window2_[i] & ~kSheetSelected);
    if (want != window2_[i]) {
      window2_[i] = want;
      changed_ = true;
    }
  }
}

void Book::ShowSheet(int sheet) {
  Worksheet(sheet);
  const size_t tab = t_->worksheets[size_t(sheet) - 1];
  if (hsState_[tab] & 0x03) {
    hsState_[tab] &= ~0x03;
    changed_ = true;
  }
}

SheetCells& Book::Cells(size_t sheetIndex) {
  if (!cells_[sheetIndex]) cells_[sheetIndex] = BuildCells(*t_, t_->sheets[sheetIndex]);
  return *cells_[sheetIndex];
}

uint32_t Book::StringIndex(std::u16string_view value) {
  auto old = t_->strings.plain.find(value);
  if (old != t_->strings.plain.end()) return old->second;
  const size_t hash = TextHash{}(value);
  if (newStrings_.size() * 2 >= newSlots_.size()) {
    // Keep the table at most half full; rehash from the stored hashes.
    std::vector<uint32_t> slots(std::max<size_t>(2048, newSlots_.size() * 2), 0);
    const size_t mask = slots.size() - 1;
    for (uint32_t k = 0; k < newStrings_.size(); ++k) {
      size_t at = newHashes_[k] & mask;
      while (slots[at] != 0) at = (at + 1) & mask;
      slots[at] = k + 1;
    }
    newSlots_ = std::move(slots);
    newStrings_.reserve(newSlots_.size() / 2);
    newHashes_.reserve(newSlots_.size() / 2);
  }
  const size_t mask = newSlots_.size() - 1;
  size_t at = hash & mask;
  for (; newSlots_[at] != 0; at = (at + 1) & mask) {
    const uint32_t k = newSlots_[at] - 1;
    if (newHashes_[k] == hash && newStrings_[k] == value) return t_->strings.unique + k;
  }
  const auto k = static_cast<uint32_t>(newStrings_.size());
  newSlots_[at] = k + 1;
  newStrings_.push_back(StoreText(value));
  newHashes_.push_back(hash);
  return t_->strings.unique + k;
}

std::u16string_view Book::StoreText(std::u16string_view value) {
  constexpr size_t kChunk = 1 << 16;
  if (value.empty()) return {};
  if (value.size() > chunkRoom_) {
    chunkSize_ = std::max(kChunk, value.size());
    textChunks_.push_back(std::unique_ptr<char16_t[]>(new char16_t[chunkSize_]));
    chunkRoom_ = chunkSize_;
  }
  char16_t* at = textChunks_.back().get() + (chunkSize_ - chunkRoom_);
  std::copy(value.begin(), value.end(), at);
  chunkRoom_ -= value.size();
  return {at, value.size()};
}

void Book::WriteCell(int sheet, int row, int column, std::u16string_view value) {
  Worksheet(sheet);
  if (row < 1 || row > 65536 || column < 1 || column > 256) Raise(1004, "cell outside the worksheet");
  if (value.size() > 32767) Raise(1004, "text longer than a cell holds");
  const size_t si = t_->worksheets[size_t(sheet) - 1];
  SheetCells& sc = Cells(si);
  const auto r = static_cast<uint16_t>(row - 1);
  const auto c = static_cast<uint16_t>(column - 1);

  CellItem written;
  written.first = written.last = c;
  written.type = rec::kLabelSst;

  if (CellItem* old = FindCell(sc, r, c)) {
    if (old->type == rec::kFormula) {
      const uint16_t kind = AnchorKind(*t_, *old);
      const bool ok = kind == rec::kShrFmla ? MoveSharedAnchor(*t_, sc, *old, r, c)
                      : kind == 0           ? FormulaWritable(*t_, sc, *old, r, c)
                                            : false;
      if (!ok) Raise(1004, "cell belongs to an array or table formula");
    }
    written.xf = ItemXf(*t_, *old, c);
    if (old->type == rec::kLabelSst) --totalDelta_;
    written.isst = StringIndex(value);
    ++totalDelta_;
    if (old->first == old->last) {
      *old = std::move(written);
    } else {
      RowItem& rowItem = FindOrAddRow(sc.rows, r);
      const auto offset = old - rowItem.cells.data();
      // Filling a row splits one MULBLANK cell by cell: grow once, not per split.
      if (rowItem.cells.capacity() < rowItem.cells.size() + 2) {
        rowItem.cells.reserve(std::max<size_t>(64, 2 * rowItem.cells.size()));
        old = rowItem.cells.data() + offset;
      }
      auto at = rowItem.cells.begin() + offset;
      CellItem parts[3];
      size_t count = 0;
      if (old->first < c) parts[count++] = SplitPart(*old, old->first, c - 1);
      parts[count++] = std::move(written);
      if (c < old->last) parts[count++] = SplitPart(*old, c + 1, old->last);
      at = rowItem.cells.erase(at);
      rowItem.cells.insert(at, std::make_move_iterator(parts), std::make_move_iterator(parts + count));
    }
    changed_ = true;
    return;
  }

  bool added = false;
  RowItem& rowItem = FindOrAddRow(sc.rows, r, &added);
  uint8_t* rb = rowItem.body.data();
  if (!rowItem.hasRecord) {
    rowItem.hasRecord = rowItem.recordChanged = true;
    Put16(rb, r);
    Put16(rb + 2, c);
    Put16(rb + 4, c + 1);
    Put16(rb + 6, sc.defaultHeight);
    Put16(rb + 12, 0x0100);
    Put16(rb + 14, kDefaultXf);
  }
  uint16_t xf = kDefaultXf;
  if (Get16(rb + 12) & kRowHasFormat) {
    xf = Get16(rb + 14) & 0x0FFF;
  } else {
    for (const SheetCells::Col& col : sc.colInfo) {
      if (col.first <= c && c <= col.last) {
        xf = col.xf;
        break;
      }
    }
  }
  written.xf = xf;
  written.isst = StringIndex(value);
  ++totalDelta_;
  if (rowItem.cells.capacity() == 0) rowItem.cells.reserve(64);  // a device row has ~55 cells
  auto at = std::lower_bound(rowItem.cells.begin(), rowItem.cells.end(), c,
                             [](const CellItem& ci, uint16_t v) { return ci.first < v; });
  rowItem.cells.insert(at, std::move(written));

  uint16_t colMic = Get16(rb + 2), colMac = Get16(rb + 4);
  if (colMic >= colMac) {
    colMic = c;
    colMac = c + 1;
  } else {
    colMic = std::min(colMic, c);
    colMac = std::max<uint16_t>(colMac, c + 1);
  }
  if (colMic != Get16(rb + 2) || colMac != Get16(rb + 4)) {
    Put16(rb + 2, colMic);
    Put16(rb + 4, colMac);
    rowItem.recordChanged = true;
  }
  if (sc.dims >= 0) {
    if (sc.rwMic >= sc.rwMac || sc.colMic >= sc.colMac) {
      sc.rwMic = r;
      sc.rwMac = r + 1u;
      sc.colMic = c;
      sc.colMac = c + 1;
      sc.dimsChanged = true;
    } else {
      if (r < sc.rwMic) sc.rwMic = r, sc.dimsChanged = true;
      if (r + 1u > sc.rwMac) sc.rwMac = r + 1u, sc.dimsChanged = true;
      if (c < sc.colMic) sc.colMic = c, sc.dimsChanged = true;
      if (c + 1 > sc.colMac) sc.colMac = c + 1, sc.dimsChanged = true;
    }
  }
  changed_ = true;
}

// ---------------------------------------------------------------------------

void Book::SerializeGlobals(std::vector<uint8_t>& out, std::vector<size_t>& boundSheetAt) const {
  const Template& t = *t_;
  const uint8_t* s = t.bytes.data();
  const bool sstDirty = !newStrings_.empty() || totalDelta_ != 0;
  const int64_t total = std::clamp<int64_t>(int64_t(t.strings.total) + totalDelta_, 0,
                                            std::numeric_limits<uint32_t>::max());
  const uint32_t header[2] = {static_cast<uint32_t>(total), t.strings.unique + uint32_t(newStrings_.size())};
  std::vector<SstStart> starts;
  size_t window = 0, sheet = 0;
  for (size_t i = 0; i < t.globals.size(); ++i) {
    const RecRef& r = t.globals[i];
    if (sstDirty && int(i) == t.sst) {
      const uint32_t oldStart = r.pos;
      const uint32_t newStart = static_cast<uint32_t>(out.size());
      for (int k = t.sst; k < t.sstEnd; ++k) AppendBytes(out, s + t.globals[k].pos, 4u + t.globals[k].len);
      Put32(&out[newStart + 4], header[0]);
      Put32(&out[newStart + 8], header[1]);
      starts.reserve(header[1]);
      const std::vector<uint32_t>& recs = t.strings.records;
      for (uint32_t p : t.strings.starts) {
        uint32_t recordPos = *(std::upper_bound(recs.begin(), recs.end(), p) - 1);
        starts.push_back({p - oldStart + newStart, recordPos - oldStart + newStart});
      }
      AppendSstStrings(out, newStrings_, nullptr, &starts);
      i = size_t(t.sstEnd) - 1;
      continue;
    }
    if (sstDirty && int(i) == t.extSst) {
      std::vector<uint8_t> body = BuildExtSst(starts);
      PutRecordHeader(out, rec::kExtSst, static_cast<uint16_t>(body.size()));
      AppendBytes(out, body.data(), body.size());
      continue;
    }
    if (r.type == rec::kEof && t.sst < 0 && !newStrings_.empty()) {
      AppendSstStrings(out, newStrings_, header, &starts);
      std::vector<uint8_t> body = BuildExtSst(starts);
      PutRecordHeader(out, rec::kExtSst, static_cast<uint16_t>(body.size()));
      AppendBytes(out, body.data(), body.size());
    }
    const size_t at = out.size();
    AppendBytes(out, s + r.pos, 4u + r.len);
    if (r.type == rec::kBoundSheet) {
      out[at + 8] = hsState_[sheet];
      boundSheetAt[sheet++] = at;
    } else if (window < t.window1.size() && t.window1[window] == i) {
      std::copy(window1_[window].begin(), window1_[window].end(), out.begin() + long(at) + 4);
      ++window;
    }
  }
}

void Book::SerializeSheet(std::vector<uint8_t>& out, size_t sheetIndex) const {
  const Template& t = *t_;
  const SheetInfo& sh = t.sheets[sheetIndex];
  const uint8_t* s = t.bytes.data();
  const size_t base = out.size();
  const SheetCells* sc = cells_[sheetIndex].get();

  if (!sc) {
    AppendBytes(out, s + sh.start, sh.end - sh.start);
    if (sh.window2 >= 0) Put16(&out[base + sh.records[size_t(sh.window2)].body() - sh.start], window2_[sheetIndex]);
    if (sh.index >= 0 && base != sh.start) {
      // INDEX holds stream positions of the sheet's own records.
      const RecRef& r = sh.records[size_t(sh.index)];
      const int64_t delta = int64_t(base) - int64_t(sh.start);
      uint8_t* body = &out[base + r.body() - sh.start];
      for (uint32_t off = 12; off + 4 <= r.len; off += 4) {
        uint32_t v = Get32(body + off);
        if (v >= sh.start && v < sh.end) Put32(body + off, static_cast<uint32_t>(int64_t(v) + delta));
      }
    }
    return;
  }

  size_t blocks = 0;
  for (size_t i = 0; i < sc->rows.size(); ++i) {
    if (i == 0 || (sc->rows[i].row >> 5) != (sc->rows[i - 1].row >> 5)) ++blocks;
  }
  size_t indexAt = 0;
  int64_t defColWidthAt = -1;
  auto emit = [&](size_t i) {
    const RecRef& r = sh.records[i];
    const size_t at = out.size();
    if (int(i) == sh.index) {
      indexAt = at;
      const uint16_t len = static_cast<uint16_t>(16 + (sc->dbCells ? 4 * blocks : 0));
      PutRecordHeader(out, rec::kIndex, len);
      out.resize(at + 4 + len);
      return;
    }
    AppendBytes(out, s + r.pos, 4u + r.len);
    if (int(i) == sh.window2) Put16(&out[at + 4], window2_[sheetIndex]);
    if (int(i) == sc->dims && sc->dimsChanged) {
      Put32(&out[at + 4], sc->rwMic);
      Put32(&out[at + 8], sc->rwMac);
      Put16(&out[at + 12], sc->colMic);
      Put16(&out[at + 14], sc->colMac);
    }
    if (r.type == rec::kDefColWidth && sh.depth[i] == 1 && defColWidthAt < 0) defColWidthAt = int64_t(at);
  };

  for (size_t i = 0; i < sc->areaBegin; ++i) emit(i);

  std::vector<uint32_t> dbCellAt;
  std::vector<size_t> firstCell;
  for (size_t i = 0; i < sc->rows.size();) {
    size_t j = i;
    while (j < sc->rows.size() && (sc->rows[j].row >> 5) == (sc->rows[i].row >> 5)) ++j;
    const size_t blockStart = out.size();
    size_t firstRowStart = 0, firstRowEnd = 0;
    for (size_t k = i; k < j; ++k) {
      const RowItem& row = sc->rows[k];
      if (!row.hasRecord) continue;
      const size_t rowAt = out.size();
      if (row.recordChanged) {
        PutRecordHeader(out, rec::kRow, 16);
        AppendBytes(out, row.body.data(), 16);
      } else {
        AppendBytes(out, s + row.record.pos, 4u + row.record.len);
      }
      if (!firstRowEnd) {
        firstRowStart = rowAt;
        firstRowEnd = out.size();
      }
    }
    firstCell.clear();
    for (size_t k = i; k < j; ++k) {
      const RowItem& row = sc->rows[k];
      const size_t cellStart = out.size();
      for (const CellItem& c : row.cells) {
        if (c.part) {
          WritePart(out, t, c, row.row);
        } else if (!c.own.empty()) {
          AppendBytes(out, c.own.data(), c.own.size());
        } else if (c.len) {
          AppendBytes(out, s + c.pos, c.len);
        } else {
          WriteCellRecord(out, row.row, c);
        }
      }
      if (row.hasRecord) firstCell.push_back(row.cells.empty() ? 0 : cellStart);
    }
    if (sc->dbCells) {
      const size_t at = out.size();
      const uint16_t len = static_cast<uint16_t>(4 + 2 * firstCell.size());
      PutRecordHeader(out, rec::kDbCell, len);
      out.resize(at + 4 + len);
      const size_t rowsStart = firstRowEnd ? firstRowStart : blockStart;
      Put32(&out[at + 4], static_cast<uint32_t>(at - rowsStart));
      size_t prev = firstRowEnd ? firstRowEnd : blockStart;
      for (size_t k = 0; k < firstCell.size(); ++k) {
        if (!firstCell[k]) continue;
        Put16(&out[at + 8 + 2 * k], static_cast<uint16_t>(firstCell[k] - prev));
        prev = firstCell[k];
      }
      dbCellAt.push_back(static_cast<uint32_t>(at));
    }
    i = j;
  }

  for (size_t i : sc->foreign) emit(i);
  for (size_t i = sc->areaEnd; i < sh.records.size(); ++i) emit(i);

  if (sh.index >= 0) {
    uint8_t* body = &out[indexAt + 4];
    if (!sc->rows.empty()) {
      Put32(body + 4, sc->rows.front().row);
      Put32(body + 8, sc->rows.back().row + 1u);
    }
    Put32(body + 12, defColWidthAt >= 0 ? static_cast<uint32_t>(defColWidthAt) : 0);
    for (size_t k = 0; k < dbCellAt.size(); ++k) Put32(body + 16 + 4 * k, dbCellAt[k]);
  }
}

std::vector<uint8_t> Book::Serialize() const {
  const Template& t = *t_;
  if (!changed_) return t.bytes;
  std::vector<uint8_t> out;
  size_t extra = 0;
  for (std::u16string_view str : newStrings_) extra += 3 + 2 * str.size();
  for (const auto& sc : cells_) {
    if (sc) {
      for (const RowItem& row : sc->rows) extra += 20 + 14 * row.cells.size();
    }
  }
  out.reserve(t.bytes.size() + extra + extra / 8 + 4096);

  std::vector<size_t> boundSheetAt(t.sheets.size());
  SerializeGlobals(out, boundSheetAt);
  uint32_t prev = t.globals.back().end();
  std::vector<size_t> sheetAt(t.sheets.size());
  for (size_t k : t.streamOrder) {
    const SheetInfo& sh = t.sheets[k];
    AppendBytes(out, t.bytes.data() + prev, sh.start - prev);
    sheetAt[k] = out.size();
    SerializeSheet(out, k);
    prev = sh.end;
  }
  AppendBytes(out, t.bytes.data() + prev, t.bytes.size() - prev);
  for (size_t k = 0; k < t.sheets.size(); ++k) Put32(&out[boundSheetAt[k] + 4], static_cast<uint32_t>(sheetAt[k]));
  return out;
}

}  // namespace skov::xls
