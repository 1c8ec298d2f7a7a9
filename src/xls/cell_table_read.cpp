// A sheet's cell table read from the template: its rows and cells, and where it lies among the sheet's records.
#include <algorithm>

#include "xls/biff5.h"
#include "xls/cell_records.h"
#include "xls/cell_table.h"

namespace skov::xls {
namespace {

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

}  // namespace

std::unique_ptr<SheetCells> BuildCells(const Template& t, const SheetInfo& sh) {
  auto sc = std::make_unique<SheetCells>();
  const uint8_t* s = t.bytes.data();
  const size_t n = sh.records.size();
  int first = -1, last = -1;
  bool afterCell = false;  // a CONTINUE belongs to the table only right after a cell
  bool afterRowOrCell = false;
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
    // A DBCELL, TABLE or the like that some writers leave ahead of the
    // sheet's header is no start of the table: it stays where it is, else
    // the header records after it would follow the rebuilt table.
    if (first >= 0 && BeforeCellTable(r.type) && !afterRowOrCell) first = -1, last = -1;
    afterRowOrCell |= IsCellRecord(r.type) || r.type == rec::kRow;
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
    if (r.type == rec::kProtect && r.len >= protect::kSize) sc->protectedSheet = Get16(body + protect::kLock) != 0;
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

}  // namespace skov::xls
