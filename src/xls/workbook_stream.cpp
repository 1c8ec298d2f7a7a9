// The workbook stream written back: the globals patched in runs, each sheet copied or rebuilt.
#include "xls/workbook_stream.h"

#include <algorithm>

#include "xls/biff5.h"
#include "xls/cell_table_write.h"

namespace skov::xls {
namespace {

// The globals in runs of unchanged records, copied at once; a record that
// is replaced or patched ends a run.
void WriteGlobals(std::vector<uint8_t>& out, const Template& t, const StreamEdits& e,
                  std::vector<size_t>& boundSheetAt) {
  const uint8_t* s = t.bytes.data();
  std::vector<SstStart> starts;
  size_t window = 0, sheet = 0;
  uint32_t from = t.globals.front().pos;  // where the run not yet copied begins
  auto copyTo = [&](uint32_t to) {
    AppendBytes(out, s + from, to - from);
    from = to;
  };
  for (size_t i = 0; i < t.globals.size(); ++i) {
    const RecRef& r = t.globals[i];
    if (e.stringsChanged && int(i) == t.sst) {
      copyTo(r.pos);
      std::span<const RecRef> group = std::span(t.globals).subspan(i, size_t(t.sstEnd) - i);
      WriteSst(out, t.bytes, group, t.strings, e.sstTotal, e.newStrings, starts);
      // The grammar has an EXTSST after every SST; some writers leave it out.
      if (t.extSst < 0) WriteExtSst(out, starts);
      i = size_t(t.sstEnd) - 1;
      from = t.globals[i].end();
      continue;
    }
    if (e.stringsChanged && int(i) == t.extSst) {
      copyTo(r.pos);
      WriteExtSst(out, starts);
      from = r.end();
      continue;
    }
    if (r.type == rec::kEof && t.sst < 0 && !e.newStrings.empty()) {
      copyTo(r.pos);
      WriteSst(out, t.bytes, {}, t.strings, e.sstTotal, e.newStrings, starts);
      WriteExtSst(out, starts);
    }
    if (r.type == rec::kBoundSheet) {
      copyTo(r.end());
      const size_t at = out.size() - 4 - r.len;
      out[at + 4 + boundsheet::kHsState] = e.hsState[sheet];
      boundSheetAt[sheet++] = at;
    } else if (window < t.window1.size() && t.window1[window] == i) {
      copyTo(r.end());
      const size_t at = out.size() - 4 - r.len;
      std::copy(e.window1[window].begin(), e.window1[window].end(), out.begin() + long(at) + 4);
      ++window;
    } else if (e.addCodePage && i == t.codePageAfter) {
      copyTo(r.end());
      PutRecordHeader(out, biff5::kCodePageRecord, biff5::codepage::kSize);
      Append16(out, biff5::kWindows1252);
    } else if (int(i) == e.zeroRecalcId && r.len >= recalcid::kSize) {
      copyTo(r.end());
      Put32(&out[out.size() - r.len + recalcid::kBuild], 0);
    }
    if (e.addCellXf && int(i) == t.lastXf) {
      copyTo(r.end());
      PutRecordHeader(out, rec::kXf, static_cast<uint16_t>(XfSize(t)));
      AppendBytes(out, t.newCellXf.data(), XfSize(t));
    }
  }
  copyTo(t.globals.back().end());
}

// A sheet nobody wrote to: its bytes, with WINDOW2 flags set and the
// INDEX's stream positions moved along with the sheet.
void WriteSheetCopy(std::vector<uint8_t>& out, const Template& t, const SheetInfo& sh, uint16_t window2Flags) {
  const size_t base = out.size();
  AppendBytes(out, t.bytes.data() + sh.start, sh.end - sh.start);
  if (sh.window2 >= 0) {
    Put16(&out[base + sh.records[size_t(sh.window2)].body() - sh.start + window2::kFlags], window2Flags);
  }
  if (sh.index >= 0 && base != sh.start) {
    const RecRef& r = sh.records[size_t(sh.index)];
    const int64_t delta = int64_t(base) - int64_t(sh.start);
    uint8_t* body = &out[base + r.body() - sh.start];
    for (uint32_t off = t.Biff5() ? biff5::index::kDefColWidth : index::kDefColWidth; off + 4 <= r.len; off += 4) {
      uint32_t v = Get32(body + off);
      if (v >= sh.start && v < sh.end) Put32(body + off, static_cast<uint32_t>(int64_t(v) + delta));
    }
  }
}

}  // namespace

void SerializeWorkbookStream(const Template& t, const StreamEdits& e, std::vector<uint8_t>& out) {
  out.clear();
  size_t extra = 0;
  for (std::u16string_view str : e.newStrings) extra += 3 + 2 * str.size();
  for (const auto& sc : e.cells) {
    if (sc) {
      for (const RowItem& row : sc->rows) extra += 20 + 14 * row.cells.size();
    }
  }
  out.reserve(t.bytes.size() + extra + extra / 8 + 4096);

  std::vector<size_t> boundSheetAt(t.sheets.size());
  WriteGlobals(out, t, e, boundSheetAt);
  uint32_t prev = t.globals.back().end();
  std::vector<size_t> sheetAt(t.sheets.size());
  for (size_t k : t.streamOrder) {
    const SheetInfo& sh = t.sheets[k];
    AppendBytes(out, t.bytes.data() + prev, sh.start - prev);
    sheetAt[k] = out.size();
    if (const SheetCells* sc = e.cells[k].get()) {
      WriteRebuiltSheet(out, t, k, *sc, e.window2[k], e.labels);
    } else {
      WriteSheetCopy(out, t, sh, e.window2[k]);
    }
    prev = sh.end;
  }
  AppendBytes(out, t.bytes.data() + prev, t.bytes.size() - prev);
  for (size_t k = 0; k < t.sheets.size(); ++k) {
    Put32(&out[boundSheetAt[k] + 4 + boundsheet::kPos], static_cast<uint32_t>(sheetAt[k]));
  }
}

}  // namespace skov::xls
