// The parsed template: the workbook stream's bytes and where its globals, sheets and records lie.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "xls/biff.h"
#include "xls/biff5.h"
#include "xls/code_page.h"
#include "xls/string_table.h"

namespace skov::xls {

// One sheet substream (BOF .. EOF) of the template.
struct SheetInfo {
  size_t boundSheet = 0;  // index of its BOUNDSHEET in Template::globals
  uint32_t start = 0;     // stream position of its BOF
  uint32_t end = 0;       // just past its EOF
  uint16_t bofType = 0;   // bof::kWorksheet worksheet/dialog, 0x0020 chart, 0x0040 macro sheet
  bool worksheet = false;
  std::vector<RecRef> records;  // every record of the substream, BOF and EOF included
  std::vector<uint8_t> depth;   // 1 for the sheet's own records, more inside embedded substreams
  int window2 = -1;             // index in records
  int index = -1;               // INDEX record, index in records
};

struct Template {
  std::vector<uint8_t> bytes;
  // BIFF8 (Excel 97 to 2003) or BIFF5 (Excel 5.0 and 95, without a string
  // table; its texts in `codePage`, null for BIFF8).
  uint16_t version = bof::kBiff8;
  std::unique_ptr<const CodePage> codePage;
  // BIFF5 without a CODEPAGE record: readers take its texts as ASCII, so one
  // saying 1252 goes in after record `codePageAfter` once a text needs it.
  bool namesCodePage = false;
  size_t codePageAfter = 0;  // index into globals
  bool Biff5() const { return version != bof::kBiff8; }
  std::vector<RecRef> globals;  // BOF .. EOF of the workbook globals
  std::vector<SheetInfo> sheets;         // BOUNDSHEET (tab) order
  std::vector<size_t> worksheets;        // indices into sheets, the n-th worksheet first
  std::vector<size_t> window1;           // indices into globals
  std::vector<size_t> streamOrder;       // indices into sheets, by position in the stream
  int sst = -1;       // index into globals; its CONTINUEs follow up to sstEnd
  int sstEnd = -1;    // one past the last CONTINUE of the SST
  int extSst = -1;    // index into globals
  SstTable strings;
  // Cell formats: whether each XF is a style XF (empty when the globals hold
  // no XF, and any index is taken as it is), the last XF record, and the
  // format a new cell gets when its row and column give none.
  std::vector<bool> styleXf;
  std::vector<bool> lockedXf;  // per XF: a cell in it cannot be changed on a protected sheet
  int lastXf = -1;  // index into globals
  uint16_t defaultCellXf = xf::kDefaultCell;
  // Without any cell XF, the default is a new one after the last XF: the
  // "Standard" style's look, that style as its parent.
  bool addsCellXf = false;
  std::array<uint8_t, xf::kSize> newCellXf{};
};

// An XF record's body: 16 bytes in BIFF5.
inline size_t XfSize(const Template& t) { return t.Biff5() ? biff5::xf::kSize : xf::kSize; }

// Whether a new cell may use XF `index`: a cell XF, not a style XF.
bool IsCellXf(const Template& t, uint16_t index);
// Whether XF `index` locks its cells; an XF the globals lack does, as Excel's defaults do.
bool IsLockedXf(const Template& t, uint16_t index);

// BIFF5: a cell's text appended as it is stored, in the code page, a
// character the code page cannot hold as '?'.
void EncodeLabel(const Template& t, std::u16string_view text, std::vector<uint8_t>& out);

// Fault::NotAWorkbook, OldVersion, Encrypted or Damaged for a stream that is
// not a sound, unencrypted BIFF8 or BIFF5 workbook.
std::shared_ptr<const Template> ParseWorkbookStream(std::vector<uint8_t> stream);

}  // namespace skov::xls
