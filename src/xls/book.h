// A BIFF8 workbook stream read once into a template, then edited
// copy-on-write: only what an edit touches is written anew.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "xls/biff.h"
#include "xls/sst.h"

namespace skov::xls {

// One sheet substream (BOF .. EOF) of the template.
struct SheetInfo {
  size_t boundSheet = 0;  // index of its BOUNDSHEET in Template::globals
  uint32_t start = 0;     // stream position of its BOF
  uint32_t end = 0;       // just past its EOF
  uint16_t bofType = 0;   // 0x0010 worksheet/dialog, 0x0020 chart, 0x0040 macro sheet
  bool worksheet = false;
  std::vector<RecRef> records;  // every record of the substream, BOF and EOF included
  std::vector<uint8_t> depth;   // 1 for the sheet's own records, more inside embedded substreams
  int window2 = -1;             // index in records
  int index = -1;               // INDEX record, index in records
};

// The parsed template: the stream's bytes and where its records lie.
struct Template {
  std::vector<uint8_t> bytes;
  std::vector<RecRef> globals;  // BOF .. EOF of the workbook globals
  std::vector<SheetInfo> sheets;         // BOUNDSHEET (tab) order
  std::vector<size_t> worksheets;        // indices into sheets, the n-th worksheet first
  std::vector<size_t> window1;           // indices into globals
  std::vector<size_t> streamOrder;       // indices into sheets, by position in the stream
  int sst = -1;       // index into globals; its CONTINUEs follow up to sstEnd
  int sstEnd = -1;    // one past the last CONTINUE of the SST
  int extSst = -1;    // index into globals
  SstTable strings;
};

// BiffError for a stream that is not a sound, unencrypted BIFF8 workbook.
std::shared_ptr<const Template> ParseWorkbookStream(std::vector<uint8_t> stream);

struct SheetCells;

// One bound workbook: the template plus the edits made to it. Operations
// raise RuntimeError: 9 for a window or worksheet that does not exist, 1004
// for a write that would damage the workbook (array or shared formula
// anchors, strings beyond 32767 characters, cells outside the sheet).
class Book {
 public:
  explicit Book(std::shared_ptr<const Template> t);
  ~Book();
  Book(Book&&) noexcept;
  Book& operator=(Book&&) noexcept;

  int WorksheetCount() const { return static_cast<int>(t_->worksheets.size()); }
  // Numbers count from 1: windows in record order, worksheets in tab order.
  void ShowWindow(int window);
  void ActivateSheet(int sheet);
  void ShowSheet(int sheet);
  // Row 1..65536, column 1..256; the cell keeps its format and holds the
  // value as a text, the empty text included.
  void WriteCell(int sheet, int row, int column, std::u16string_view value);

  // Whether the stream would differ from the template's.
  bool Changed() const { return changed_; }
  std::vector<uint8_t> Serialize() const;

 private:
  const SheetInfo& Worksheet(int sheet) const;
  SheetCells& Cells(size_t sheetIndex);
  uint32_t StringIndex(std::u16string_view value);
  std::u16string_view StoreText(std::u16string_view value);
  void SerializeGlobals(std::vector<uint8_t>& out, std::vector<size_t>& boundSheetAt) const;
  void SerializeSheet(std::vector<uint8_t>& out, size_t sheetIndex) const;

  std::shared_ptr<const Template> t_;
  bool changed_ = false;
  std::vector<std::vector<uint8_t>> window1_;  // WINDOW1 bodies, as they will be written
  std::vector<uint8_t> hsState_;               // per sheet
  std::vector<uint16_t> window2_;              // per sheet, WINDOW2 option flags
  std::vector<std::unique_ptr<SheetCells>> cells_;  // per sheet; null while untouched
  // Texts added to the string table, held in chunks that never move (a
  // text per heap string would cost an allocation per cell).
  std::vector<std::u16string_view> newStrings_;
  std::vector<std::unique_ptr<char16_t[]>> textChunks_;
  size_t chunkSize_ = 0;
  size_t chunkRoom_ = 0;
  // Open addressing over newStrings_: slot = position + 1 (0 = empty), with
  // the texts' hashes beside them so a probe rarely compares texts.
  std::vector<uint32_t> newSlots_;
  std::vector<size_t> newHashes_;
  int64_t totalDelta_ = 0;
};

}  // namespace skov::xls
