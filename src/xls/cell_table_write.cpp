// A written sheet's substream: ROW and cell records in row blocks, DBCELL and INDEX rebuilt, DIMENSIONS grown.
#include "xls/cell_table_write.h"

#include <algorithm>

#include "xls/biff5.h"

namespace skov::xls {
namespace {

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

void WriteRebuiltSheet(std::vector<uint8_t>& out, const Template& t, size_t sheetIndex, const SheetCells& sc,
                       uint16_t window2Flags, const NewLabels& labels) {
  CheckCells(t, sc);
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
