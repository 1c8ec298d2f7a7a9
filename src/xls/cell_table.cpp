// A sheet's cell table: read from the template, written to, written out.
#include "xls/cell_table.h"

#include <algorithm>

#include "xls/biff5.h"
#include "xls/shared_formula.h"

namespace skov::xls {
namespace {

// Records that belong to the cell before them.
bool IsAttachedRecord(uint16_t type) {
  return type == rec::kString || type == rec::kShrFmla || type == rec::kArray || type == rec::kTable ||
         type == rec::kContinue;
}

// Records a worksheet holds before its cell table: calculation settings,
// page setup, protection, columns, scenarios, sorting and filters, DIMENSIONS.
bool BeforeCellTable(uint16_t type) {
  switch (type) {
    case rec::kUncalced: case rec::kIndex: case rec::kCalcMode: case rec::kCalcCount: case rec::kRefMode:
    case rec::kIteration: case rec::kDelta: case rec::kSaveRecalc: case rec::kPrintHeaders:
    case rec::kPrintGridlines: case rec::kGridSet: case rec::kGuts: case rec::kDefaultRowHeight:
    case rec::kWsBool: case rec::kSync: case rec::kLpr: case rec::kHPageBreaks: case rec::kVPageBreaks:
    case rec::kHeader: case rec::kFooter: case rec::kHCenter: case rec::kVCenter: case rec::kLeftMargin:
    case rec::kRightMargin: case rec::kTopMargin: case rec::kBottomMargin: case rec::kPls: case rec::kSetup:
    case rec::kHeaderFooter: case rec::kBkHim: case rec::kBigName: case rec::kContinueBigName:
    case rec::kProtect: case rec::kScenProtect: case rec::kObjProtect: case rec::kPassword:
    case rec::kDefColWidth: case rec::kColInfo: case rec::kStandardWidth: case rec::kScenMan:
    case rec::kScenario: case rec::kSort: case rec::kSortData: case rec::kFilterMode: case rec::kAutoFilterInfo:
    case rec::kAutoFilter: case rec::kAutoFilter12: case rec::kDropDownObjIds: case rec::kContinueFrt12:
    case rec::kDimensions:
      return true;
    default:
      return false;
  }
}

// Records that follow the cell table: drawings, objects, notes, the
// window's records, merged cells, links, validation, formats and the rest.
bool AfterCellTable(uint16_t type) {
  switch (type) {
    case rec::kMsoDrawing: case rec::kObj: case rec::kTxo: case rec::kNote: case rec::kWindow2: case rec::kScl:
    case rec::kPane: case rec::kSelection: case rec::kPlv: case rec::kMergeCells: case rec::kHLink:
    case rec::kHLinkTooltip: case rec::kDVal: case rec::kDv: case rec::kCondFmt: case rec::kCf: case rec::kCf12:
    case rec::kCodeName: case rec::kSheetExt: case rec::kPhoneticInfo: case rec::kLRng: case rec::kDCon:
    case rec::kSxView: case rec::kUserSViewBegin: case rec::kFeatHdr: case rec::kFeat: case rec::kEof:
      return true;
    default:
      return false;
  }
}

// Where the cell table of a sheet without one goes: after the last record
// the grammar puts before it and before the first it puts after it, even
// where a writer put DIMENSIONS ahead of page setup.
size_t NewTablePosition(const SheetInfo& sh) {
  const size_t n = sh.records.size();
  size_t firstAfter = n - 1;
  for (size_t i = 1; i < n; ++i) {
    if (sh.depth[i] != 1 || AfterCellTable(sh.records[i].type)) {
      firstAfter = i;
      break;
    }
  }
  size_t at = 1;
  bool prevBefore = false;
  for (size_t i = 1; i < firstAfter; ++i) {
    const uint16_t type = sh.records[i].type;
    prevBefore = BeforeCellTable(type) || (type == rec::kContinue && prevBefore);
    if (prevBefore) at = i + 1;
  }
  return at;
}

bool IsCellTableRecord(uint16_t type) {
  return type == rec::kRow || type == rec::kDbCell || IsCellRecord(type) || IsAttachedRecord(type);
}

// An emptied row's cell list for a new row, its storage kept; else a new one.
std::vector<CellItem> FreeCells(SheetCells& sc) {
  if (sc.freeCells.empty()) return {};
  std::vector<CellItem> cells = std::move(sc.freeCells.back());
  sc.freeCells.pop_back();
  return cells;
}

RowItem& FindOrAddRow(SheetCells& sc, uint16_t row) {
  std::vector<RowItem>& rows = sc.rows;
  if (!rows.empty() && rows.back().row == row) return rows.back();
  auto it = std::lower_bound(rows.begin(), rows.end(), row, [](const RowItem& r, uint16_t v) { return r.row < v; });
  if (it != rows.end() && it->row == row) return *it;
  RowItem item;
  item.row = row;
  item.cells = FreeCells(sc);
  return *rows.insert(it, std::move(item));
}

// The format a cell item gives `column`.
uint16_t ItemXf(const Template& t, const CellItem& c, uint16_t column) {
  switch (c.source) {
    case CellSource::New:
      return c.xf;
    case CellSource::MulPart: {
      const uint8_t* body = t.bytes.data() + c.pos + 4;
      const size_t width = c.type == rec::kMulBlank ? mul::kBlankItem : mul::kRkItem;
      return Get16(body + mul::kItems + width * (column - c.origFirst));
    }
    case CellSource::Template:
    case CellSource::Rebuilt:
      break;
  }
  const uint8_t* body = ItemBytes(t, c).data() + 4;
  if (c.type == rec::kMulBlank) return Get16(body + mul::kItems + mul::kBlankItem * (column - c.first));
  if (c.type == rec::kMulRk) return Get16(body + mul::kItems + mul::kRkItem * (column - c.first));
  return Get16(body + cell::kXf);
}

// Columns [a, b] of a template MULBLANK or MULRK item (whole or a part).
CellItem SplitPart(const CellItem& c, uint16_t a, uint16_t b) {
  CellItem part = c;
  if (part.source == CellSource::Template) part.origFirst = c.first;
  part.source = CellSource::MulPart;
  part.first = a;
  part.last = b;
  part.len = 0;
  return part;
}

// A part as BLANK/RK for one column, else as a shorter MULBLANK/MULRK.
void WritePart(std::vector<uint8_t>& out, const Template& t, const CellItem& c, uint16_t row) {
  const uint8_t* body = t.bytes.data() + c.pos + 4;
  const bool rk = c.type == rec::kMulRk;
  const size_t width = rk ? mul::kRkItem : mul::kBlankItem;
  const size_t count = size_t(c.last - c.first) + 1;
  if (count == 1) {
    PutRecordHeader(out, rk ? rec::kRk : rec::kBlank, static_cast<uint16_t>(cell::kXf + width));
  } else {
    PutRecordHeader(out, c.type, static_cast<uint16_t>(mul::kItems + width * count + mul::kLastColSize));
  }
  size_t at = out.size();
  out.resize(at + mul::kItems);
  Put16(&out[at + cell::kRow], row);
  Put16(&out[at + cell::kCol], c.first);
  AppendBytes(out, body + mul::kItems + width * (c.first - c.origFirst), width * count);
  if (count > 1) Append16(out, c.last);
}

// A LABELSST record with its header into `p`.
void PutLabelSst(uint8_t* p, uint16_t row, const CellItem& c) {
  Put16(p, rec::kLabelSst);
  Put16(p + 2, labelsst::kSize);
  p += 4;
  Put16(p + cell::kRow, row);
  Put16(p + cell::kCol, c.first);
  Put16(p + cell::kXf, c.xf);
  Put32(p + labelsst::kIsst, c.isst);
}

// The new cells from `cells[from]` on, as far as they run: a row's written
// cells lie side by side, and the stream grows once for all of them.
size_t WriteLabelSstRun(std::vector<uint8_t>& out, uint16_t row, const std::vector<CellItem>& cells, size_t from) {
  size_t to = from + 1;
  while (to < cells.size() && cells[to].source == CellSource::New) ++to;
  constexpr size_t kRecord = 4 + labelsst::kSize;
  const size_t at = out.size();
  out.resize(at + kRecord * (to - from));
  uint8_t* p = &out[at];
  for (size_t k = from; k < to; ++k, p += kRecord) PutLabelSst(p, row, cells[k]);
  return to;
}

// The row's ROW record: the template's while it spans the row's cells, else
// one spanning them all (the template's widened, or a new one).
void WriteRow(std::vector<uint8_t>& out, const Template& t, const SheetCells& sc, const RowItem& item) {
  uint16_t colMic = item.cells.empty() ? 0 : item.cells.front().first;
  uint16_t colMac = item.cells.empty() ? 0 : static_cast<uint16_t>(item.cells.back().last + 1);
  std::array<uint8_t, row::kSize> body = item.body;
  if (item.record == RowRecord::Template) {
    const uint16_t mic = Get16(&body[row::kColMic]), mac = Get16(&body[row::kColMac]);
    if (item.cells.empty() || (mic < mac && mic <= colMic && colMac <= mac)) {
      AppendBytes(out, t.bytes.data() + item.templateRecord.pos, 4u + item.templateRecord.len);
      return;
    }
    if (mic < mac) {
      colMic = std::min(colMic, mic);
      colMac = std::max(colMac, mac);
    }
  } else {
    Put16(&body[row::kRow], item.row);
    Put16(&body[row::kHeight], sc.defaultHeight);
    Put16(&body[row::kFlags], row::kFlagsAlways);
    Put16(&body[row::kXf], xf::kDefaultCell);
  }
  Put16(&body[row::kColMic], colMic);
  Put16(&body[row::kColMac], colMac);
  PutRecordHeader(out, rec::kRow, row::kSize);
  AppendBytes(out, body.data(), row::kSize);
}

// BIFF5: a LABEL with text c.isst of `labels`.
void WriteLabel(std::vector<uint8_t>& out, uint16_t row, const CellItem& c, const NewLabels& labels) {
  const uint32_t from = labels.offsets[c.isst], to = labels.offsets[c.isst + 1];
  PutRecordHeader(out, rec::kLabel, static_cast<uint16_t>(biff5::label::kChars + (to - from)));
  const size_t at = out.size();
  out.resize(at + biff5::label::kChars);
  uint8_t* p = &out[at];
  Put16(p + cell::kRow, row);
  Put16(p + cell::kCol, c.first);
  Put16(p + cell::kXf, c.xf);
  Put16(p + biff5::label::kCch, static_cast<uint16_t>(to - from));
  AppendBytes(out, labels.bytes.data() + from, to - from);
}

void WriteItem(std::vector<uint8_t>& out, const Template& t, const CellItem& c, uint16_t row,
               const NewLabels& labels) {
  switch (c.source) {
    case CellSource::Template:
      AppendBytes(out, t.bytes.data() + c.pos, c.len);
      break;
    case CellSource::Rebuilt:
      AppendBytes(out, c.own->data(), c.own->size());
      break;
    case CellSource::MulPart:
      WritePart(out, t, c, row);
      break;
    case CellSource::New:  // Excel 97-2003's come in runs, through WriteLabelSstRun
      WriteLabel(out, row, c, labels);
      break;
  }
}

}  // namespace

bool IsCellRecord(uint16_t type) {
  switch (type) {
    case rec::kBlank: case rec::kMulBlank: case rec::kMulRk: case rec::kRk: case rec::kNumber:
    case rec::kLabel: case rec::kLabelSst: case rec::kBoolErr: case rec::kFormula: case rec::kRString:
      return true;
    default:
      return false;
  }
}

bool CellColumns(uint16_t type, const uint8_t* body, uint16_t len, uint16_t& first, uint16_t& last) {
  if (len < cell::kMinSize) return false;
  first = last = Get16(body + cell::kCol);
  switch (type) {
    case rec::kMulBlank:
    case rec::kMulRk: {
      size_t width = type == rec::kMulBlank ? mul::kBlankItem : mul::kRkItem;
      if (len < mul::kItems + width + mul::kLastColSize || (len - mul::kItems - mul::kLastColSize) % width) {
        return false;
      }
      size_t n = (len - mul::kItems - mul::kLastColSize) / width;
      last = Get16(body + len - mul::kLastColSize);
      return last >= first && size_t(last - first) + 1 == n;
    }
    case rec::kLabelSst: return len >= labelsst::kSize;
    case rec::kRk: return len >= rk::kSize;
    case rec::kNumber: return len >= number::kSize;
    case rec::kBoolErr: return len >= boolerr::kSize;
    case rec::kFormula: return len >= formula::kMinSize;
    default: return true;
  }
}

std::unique_ptr<SheetCells> BuildCells(const Template& t, const SheetInfo& sh) {
  auto sc = std::make_unique<SheetCells>();
  const uint8_t* s = t.bytes.data();
  const size_t n = sh.records.size();
  int first = -1, last = -1;
  bool afterCell = false;  // a CONTINUE belongs to the table only right after a cell
  size_t rowRecords = 0;
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
    rowRecords += r.type == rec::kRow;
    if (r.type == rec::kIndex) sc->dbCells = true;
    if (r.type == rec::kDimensions && sc->dims < 0) {
      sc->dims = static_cast<int>(i);
      if (t.Biff5()) {
        sc->rwMic = Get16(body + biff5::dimensions::kRwMic);
        sc->rwMac = Get16(body + biff5::dimensions::kRwMac);
        sc->colMic = Get16(body + biff5::dimensions::kColMic);
        sc->colMac = Get16(body + biff5::dimensions::kColMac);
      } else {
        sc->rwMic = Get32(body + dimensions::kRwMic);
        sc->rwMac = Get32(body + dimensions::kRwMac);
        sc->colMic = Get16(body + dimensions::kColMic);
        sc->colMac = Get16(body + dimensions::kColMac);
      }
    }
    if (r.type == rec::kColInfo && r.len >= colinfo::kMinSize) {
      sc->colInfo.push_back({Get16(body + colinfo::kFirst), Get16(body + colinfo::kLast), Get16(body + colinfo::kXf)});
    }
    if (r.type == rec::kDefaultRowHeight && r.len >= defaultrowheight::kMinSize) {
      sc->defaultHeight = Get16(body + defaultrowheight::kHeight);
    }
  }
  if (first < 0) {
    sc->areaBegin = sc->areaEnd = NewTablePosition(sh);
    return sc;
  }
  sc->areaBegin = static_cast<size_t>(first);
  sc->areaEnd = static_cast<size_t>(last) + 1;
  sc->rows.reserve(rowRecords);  // grown once where every row with cells has its ROW
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
      RowItem& row = FindOrAddRow(*sc, Get16(body + row::kRow));
      row.record = RowRecord::Template;
      row.templateRecord = r;
      std::copy(body, body + row::kSize, row.body.begin());
      lastRow = nullptr;
    } else if (r.type == rec::kDbCell) {
      sc->dbCells = true;
      lastRow = nullptr;
    } else if (IsCellRecord(r.type)) {
      CellItem c;
      CellColumns(r.type, body, r.len, c.first, c.last);
      c.source = CellSource::Template;
      c.type = r.type;
      c.pos = r.pos;
      c.len = 4u + r.len;
      // A row's cells follow one another: the row of the last cell first.
      const uint16_t rowNumber = Get16(body + cell::kRow);
      RowItem& row = lastRow && lastRow->row == rowNumber ? *lastRow : FindOrAddRow(*sc, rowNumber);
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
    for (size_t i = 1; i < row.cells.size(); ++i)
      if (row.cells[i].first <= row.cells[i - 1].last) sc->overlapping = true;
  }
  return sc;
}

void CopyCells(const SheetCells& from, SheetCells& to) {
  while (to.rows.size() > from.rows.size()) {
    to.rows.back().cells.clear();
    to.freeCells.push_back(std::move(to.rows.back().cells));
    to.rows.pop_back();
  }
  while (to.rows.size() < from.rows.size()) {
    to.rows.emplace_back().cells = FreeCells(to);
  }
  for (size_t i = 0; i < from.rows.size(); ++i) {
    const RowItem& row = from.rows[i];
    RowItem& into = to.rows[i];
    into.row = row.row;
    into.record = row.record;
    into.templateRecord = row.templateRecord;
    into.body = row.body;
    into.cells.assign(row.cells.begin(), row.cells.end());
  }
  to.rebuilt.clear();  // a table as parsed has no rebuilt items
  static_cast<SheetArea&>(to) = from;
  to.rowHint = to.cellHint = 0;
}

std::span<const uint8_t> ItemBytes(const Template& t, const CellItem& c) {
  switch (c.source) {
    case CellSource::Template: return {t.bytes.data() + c.pos, c.len};
    case CellSource::Rebuilt: return *c.own;
    case CellSource::MulPart:
    case CellSource::New: break;
  }
  return {};
}

namespace {

// The row's item past the hint, else searched; nullptr when it has none.
RowItem* FindRowAfterHint(SheetCells& sc, uint16_t row) {
  std::vector<RowItem>& rows = sc.rows;
  for (size_t i = sc.rowHint + 1; i < rows.size() && i < sc.rowHint + 2; ++i) {
    if (rows[i].row == row) {
      sc.rowHint = i;
      return &rows[i];
    }
  }
  auto it = std::lower_bound(rows.begin(), rows.end(), row, [](const RowItem& r, uint16_t v) { return r.row < v; });
  if (it == rows.end() || it->row != row) return nullptr;
  sc.rowHint = static_cast<size_t>(it - rows.begin());
  return &*it;
}

// The cells of a row come one after another: mostly the hint itself, found inline.
inline RowItem* FindRow(SheetCells& sc, uint16_t row) {
  if (sc.rowHint < sc.rows.size() && sc.rows[sc.rowHint].row == row) return &sc.rows[sc.rowHint];
  return FindRowAfterHint(sc, row);
}

// A new row item, the hint on it.
RowItem& AddRow(SheetCells& sc, uint16_t row) {
  RowItem& added = FindOrAddRow(sc, row);
  sc.rowHint = static_cast<size_t>(&added - sc.rows.data());
  return added;
}

inline RowItem& RowFor(SheetCells& sc, uint16_t row) {
  if (RowItem* found = FindRow(sc, row)) return *found;
  return AddRow(sc, row);
}

// The format of a new cell: the row's when it has one, else the column's;
// never a style XF, the default cell XF instead.
uint16_t NewCellXf(const Template& t, SheetCells& sc, const RowItem& rowItem, uint16_t c) {
  int given = -1;
  if (rowItem.record == RowRecord::Template && (Get16(&rowItem.body[row::kFlags]) & row::kHasFormat)) {
    given = Get16(&rowItem.body[row::kXf]) & row::kXfMask;
  } else {
    for (const SheetCells::Col& col : sc.colInfo) {
      if (col.first <= c && c <= col.last) {
        given = col.xf;
        break;
      }
    }
  }
  if (given >= 0 && IsCellXf(t, static_cast<uint16_t>(given))) return static_cast<uint16_t>(given);
  sc.usesDefaultXf = true;
  return t.defaultCellXf;
}

// DIMENSIONS grown to a new cell.
void GrowDimensions(SheetCells& sc, uint16_t r, uint16_t c) {
  if (sc.dims < 0) return;
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

}  // namespace

CellItem* FindCell(SheetCells& sc, uint16_t row, uint16_t column) {
  RowItem* r = FindRow(sc, row);
  if (!r) return nullptr;
  std::vector<CellItem>& cells = r->cells;
  for (size_t i = sc.cellHint; i < cells.size() && i < sc.cellHint + 2; ++i) {
    if (cells[i].last >= column) {
      if (cells[i].first > column || (i > 0 && cells[i - 1].last >= column)) break;
      sc.cellHint = i;
      return &cells[i];
    }
  }
  auto cit = std::lower_bound(cells.begin(), cells.end(), column, [](const CellItem& c, uint16_t v) { return c.last < v; });
  sc.cellHint = static_cast<size_t>(cit - cells.begin());
  if (cit == cells.end() || cit->first > column) return nullptr;
  return &*cit;
}

CellItem* PrepareCellWrite(const Template& t, SheetCells& sc, uint16_t r, uint16_t c) {
  CellItem* old = FindCell(sc, r, c);
  if (!old || old->type != rec::kFormula) return old;
  const uint16_t kind = AnchorKind(t, *old);
  const bool ok = kind == rec::kShrFmla ? MoveSharedAnchor(t, sc, *old, r, c)
                  : kind == 0           ? FormulaWritable(t, sc, *old, r, c)
                                        : false;
  if (ok) return old;  // moving an anchor changes the members' bytes, not where the items lie
  const bool table = kind == rec::kTable || (kind == 0 && ItemBytes(t, *old)[4 + formula::kTokens] == ptg::kTbl);
  RefuseWrite(r + 1, c + 1, kind == rec::kShrFmla ? "gehoert zu einer beschaedigten gemeinsamen Formel"
                            : table               ? "gehoert zu einer Datentabelle (Mehrfachoperation)"
                                                  : "gehoert zu einer Matrixformel");
}

// Some writers leave two records for one cell, and readers show the later
// one. Whatever else covers the cell being written goes (a MULBLANK/MULRK
// loses that column), so the written text is what every reader shows. A
// shared or array formula's anchor stays: members depend on it. Returns the
// LABELSST cells dropped, for the string table's total; `keep` is the index
// of the item being written over, kept up to date.
int DropShadowedCells(const Template& t, RowItem& rowItem, uint16_t c, size_t& keep) {
  int dropped = 0;
  for (size_t i = 0; i < rowItem.cells.size();) {
    const CellItem& other = rowItem.cells[i];
    if (i == keep || other.first > c || other.last < c ||
        (other.type == rec::kFormula && AnchorKind(t, other) != 0)) {
      ++i;
      continue;
    }
    CellItem parts[2];
    size_t count = 0;
    if (other.first < c) parts[count++] = SplitPart(other, other.first, c - 1);
    if (c < other.last) parts[count++] = SplitPart(other, c + 1, other.last);
    if (count == 0) dropped += other.type == rec::kLabelSst;
    const auto at = rowItem.cells.begin() + static_cast<std::ptrdiff_t>(i);
    rowItem.cells.insert(rowItem.cells.erase(at), std::make_move_iterator(parts), std::make_move_iterator(parts + count));
    if (keep > i) keep = keep + count - 1;
    i += count;
  }
  return dropped;
}

int PutTextCell(const Template& t, SheetCells& sc, uint16_t r, uint16_t c, uint32_t isst, CellItem* old) {
  CellItem written;
  written.source = CellSource::New;
  written.first = written.last = c;
  written.type = rec::kLabelSst;
  written.isst = isst;

  if (old) {
    RowItem& rowItem = RowFor(sc, r);
    size_t keep = static_cast<size_t>(old - rowItem.cells.data());
    // Only a template with overlapping records has anything to drop.
    int replaced = sc.overlapping ? DropShadowedCells(t, rowItem, c, keep) : 0;
    old = &rowItem.cells[keep];
    written.xf = ItemXf(t, *old, c);
    replaced += old->type == rec::kLabelSst;
    if (old->first == old->last) {
      *old = std::move(written);
      return replaced;
    }
    const auto offset = static_cast<std::ptrdiff_t>(keep);
    // Filling a row splits one MULBLANK cell by cell: grow once, not per split.
    if (rowItem.cells.capacity() < rowItem.cells.size() + 2) {
      rowItem.cells.reserve(std::max<size_t>(64, 2 * rowItem.cells.size()));
      old = rowItem.cells.data() + offset;
    }
    auto at = rowItem.cells.begin() + offset;
    if (old->first == c) {
      // Left to right, the usual way: the part keeps the rest, the cell goes before it.
      *old = SplitPart(*old, c + 1, old->last);
      rowItem.cells.insert(at, std::move(written));
      return replaced;
    }
    CellItem parts[3];
    size_t count = 0;
    if (old->first < c) parts[count++] = SplitPart(*old, old->first, c - 1);
    parts[count++] = std::move(written);
    if (c < old->last) parts[count++] = SplitPart(*old, c + 1, old->last);
    at = rowItem.cells.erase(at);
    rowItem.cells.insert(at, std::make_move_iterator(parts), std::make_move_iterator(parts + count));
    return replaced;
  }

  RowItem& rowItem = RowFor(sc, r);
  written.xf = NewCellXf(t, sc, rowItem, c);
  if (rowItem.cells.capacity() == 0) rowItem.cells.reserve(64);  // a device row has ~55 cells
  if (rowItem.cells.empty() || rowItem.cells.back().first < c) {
    rowItem.cells.push_back(std::move(written));
  } else {
    auto at = std::lower_bound(rowItem.cells.begin(), rowItem.cells.end(), c,
                               [](const CellItem& ci, uint16_t v) { return ci.first < v; });
    rowItem.cells.insert(at, std::move(written));
  }
  GrowDimensions(sc, r, c);
  return 0;
}

bool RowTakesRun(SheetCells& sc, uint16_t row) {
  if (sc.overlapping) return false;
  const RowItem* item = FindRow(sc, row);
  return !item || std::none_of(item->cells.begin(), item->cells.end(),
                               [](const CellItem& c) { return c.type == rec::kFormula; });
}

int PutTextRow(const Template& t, SheetCells& sc, uint16_t r, std::span<const RowWrite> writes) {
  RowItem& rowItem = RowFor(sc, r);
  const std::vector<CellItem>& in = rowItem.cells;
  std::vector<CellItem>& out = sc.spare;
  out.clear();
  out.reserve(in.size() + 2 * writes.size() + 1);
  int replaced = 0;
  size_t i = 0;
  uint16_t from = in.empty() ? 0 : in[0].first;  // the first column of in[i] not placed yet
  auto placeRest = [&] {
    out.push_back(from == in[i].first ? in[i] : SplitPart(in[i], from, in[i].last));
    if (++i < in.size()) from = in[i].first;
  };
  CellItem written;
  written.source = CellSource::New;
  written.type = rec::kLabelSst;
  for (size_t k = 0; k < writes.size();) {
    uint16_t c = writes[k].column;
    while (i < in.size() && in[i].last < c) placeRest();
    written.first = written.last = c;
    written.isst = writes[k].isst;
    if (i == in.size() || from > c) {
      written.xf = NewCellXf(t, sc, rowItem, c);
      GrowDimensions(sc, r, c);
      out.push_back(written);
      ++k;
      continue;
    }
    const CellItem& old = in[i];
    if (old.type != rec::kMulBlank && old.type != rec::kMulRk) {
      written.xf = ItemXf(t, old, c);
      replaced += old.type == rec::kLabelSst;
      out.push_back(written);
      ++k;
      if (++i < in.size()) from = in[i].first;
      continue;
    }
    // A MULBLANK or MULRK, split left to right: the part before the cell,
    // then the cell and any that follow it without a gap, the rest later.
    if (from < c) out.push_back(SplitPart(old, from, c - 1));
    const size_t width = old.type == rec::kMulBlank ? mul::kBlankItem : mul::kRkItem;
    const uint8_t* xfs = t.bytes.data() + old.pos + 4 + mul::kItems;
    const uint16_t base = old.source == CellSource::MulPart ? old.origFirst : old.first;
    for (;;) {
      written.xf = Get16(xfs + width * (c - base));
      out.push_back(written);
      from = static_cast<uint16_t>(c + 1);
      if (++k == writes.size() || writes[k].column != from || from > old.last) break;
      c = from;
      written.first = written.last = c;
      written.isst = writes[k].isst;
    }
    if (from > old.last && ++i < in.size()) from = in[i].first;
  }
  while (i < in.size()) placeRest();
  std::swap(rowItem.cells, out);
  sc.cellHint = 0;
  return replaced;
}

void WriteRebuiltSheet(std::vector<uint8_t>& out, const Template& t, size_t sheetIndex, const SheetCells& sc,
                       uint16_t window2Flags, const NewLabels& labels) {
  const bool biff5 = t.Biff5();
  const uint16_t indexDbCells = biff5 ? biff5::index::kDbCells : index::kDbCells;
  const SheetInfo& sh = t.sheets[sheetIndex];
  const uint8_t* s = t.bytes.data();
  size_t blocks = 0;
  for (size_t i = 0; i < sc.rows.size(); ++i) {
    if (i == 0 || (sc.rows[i].row >> 5) != (sc.rows[i - 1].row >> 5)) ++blocks;
  }
  size_t indexAt = 0;
  int64_t defColWidthAt = -1;
  auto emit = [&](size_t i) {
    const RecRef& r = sh.records[i];
    const size_t at = out.size();
    if (int(i) == sh.index) {
      indexAt = at;
      const auto len = static_cast<uint16_t>(indexDbCells + (sc.dbCells ? 4 * blocks : 0));
      PutRecordHeader(out, rec::kIndex, len);
      out.resize(at + 4 + len);
      return;
    }
    AppendBytes(out, s + r.pos, 4u + r.len);
    uint8_t* body = &out[at + 4];
    if (int(i) == sh.window2) Put16(body + window2::kFlags, window2Flags);
    if (int(i) == sc.dims && sc.dimsChanged && biff5) {
      Put16(body + biff5::dimensions::kRwMic, static_cast<uint16_t>(sc.rwMic));
      Put16(body + biff5::dimensions::kRwMac, static_cast<uint16_t>(std::min<uint32_t>(sc.rwMac, 0xFFFF)));
      Put16(body + biff5::dimensions::kColMic, sc.colMic);
      Put16(body + biff5::dimensions::kColMac, sc.colMac);
    } else if (int(i) == sc.dims && sc.dimsChanged) {
      Put32(body + dimensions::kRwMic, sc.rwMic);
      Put32(body + dimensions::kRwMac, sc.rwMac);
      Put16(body + dimensions::kColMic, sc.colMic);
      Put16(body + dimensions::kColMac, sc.colMac);
    }
    if (r.type == rec::kDefColWidth && sh.depth[i] == 1 && defColWidthAt < 0) defColWidthAt = int64_t(at);
  };

  for (size_t i = 0; i < sc.areaBegin; ++i) emit(i);

  std::vector<uint32_t> dbCellAt;
  std::vector<size_t> firstCell;
  for (size_t i = 0; i < sc.rows.size();) {
    size_t j = i;
    while (j < sc.rows.size() && (sc.rows[j].row >> 5) == (sc.rows[i].row >> 5)) ++j;
    const size_t blockStart = out.size();
    size_t firstRowStart = 0, firstRowEnd = 0;
    for (size_t k = i; k < j; ++k) {
      const size_t rowAt = out.size();
      WriteRow(out, t, sc, sc.rows[k]);
      if (!firstRowEnd) {
        firstRowStart = rowAt;
        firstRowEnd = out.size();
      }
    }
    firstCell.clear();
    for (size_t k = i; k < j; ++k) {
      const RowItem& row = sc.rows[k];
      firstCell.push_back(out.size());  // for a row without cells: where they would start, as Excel has it
      for (size_t ci = 0; ci < row.cells.size();) {
        if (!biff5 && row.cells[ci].source == CellSource::New) {
          ci = WriteLabelSstRun(out, row.row, row.cells, ci);
        } else {
          WriteItem(out, t, row.cells[ci++], row.row, labels);
        }
      }
    }
    if (sc.dbCells) {
      const size_t at = out.size();
      const auto len = static_cast<uint16_t>(dbcell::kCellOffsets + 2 * firstCell.size());
      PutRecordHeader(out, rec::kDbCell, len);
      out.resize(at + 4 + len);
      uint8_t* body = &out[at + 4];
      const size_t rowsStart = firstRowEnd ? firstRowStart : blockStart;
      Put32(body + dbcell::kFirstRow, static_cast<uint32_t>(at - rowsStart));
      size_t prev = firstRowEnd ? firstRowEnd : blockStart;
      for (size_t k = 0; k < firstCell.size(); ++k) {
        Put16(body + dbcell::kCellOffsets + 2 * k, static_cast<uint16_t>(firstCell[k] - prev));
        prev = firstCell[k];
      }
      dbCellAt.push_back(static_cast<uint32_t>(at));
    }
    i = j;
  }

  for (size_t i : sc.foreign) emit(i);
  for (size_t i = sc.areaEnd; i < sh.records.size(); ++i) emit(i);

  if (sh.index >= 0) {
    uint8_t* body = &out[indexAt + 4];
    if (biff5) {
      // The row past the last fits 16 bits only up to row 65535.
      if (!sc.rows.empty()) {
        Put16(body + biff5::index::kRwMic, sc.rows.front().row);
        Put16(body + biff5::index::kRwMac, static_cast<uint16_t>(std::min(sc.rows.back().row + 1u, 0xFFFFu)));
      }
      // Writers leave it 0 as often as not; it is kept so.
      const uint8_t* old = s + sh.records[size_t(sh.index)].body();
      if (Get32(old + biff5::index::kDefColWidth) != 0 && defColWidthAt >= 0) {
        Put32(body + biff5::index::kDefColWidth, static_cast<uint32_t>(defColWidthAt));
      }
    } else {
      if (!sc.rows.empty()) {
        Put32(body + index::kRwMic, sc.rows.front().row);
        Put32(body + index::kRwMac, sc.rows.back().row + 1u);
      }
      Put32(body + index::kDefColWidth, defColWidthAt >= 0 ? static_cast<uint32_t>(defColWidthAt) : 0);
    }
    for (size_t k = 0; k < dbCellAt.size(); ++k) Put32(body + indexDbCells + 4 * k, dbCellAt[k]);
  }
}

}  // namespace skov::xls
