// The workbook stream written back from the template and a book's edits.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "xls/cell_table.h"
#include "xls/cell_table_write.h"
#include "xls/template.h"

namespace skov::xls {

// What a book changes, as the stream writer needs it.
struct StreamEdits {
  std::span<const std::array<uint8_t, window1::kSize>> window1;  // WINDOW1 bodies
  std::span<const uint8_t> hsState;                              // per sheet, BOUNDSHEET visibility
  std::span<const uint16_t> window2;                             // per sheet, WINDOW2 flags
  bool stringsChanged = false;
  uint32_t sstTotal = 0;
  std::span<const std::u16string_view> newStrings;
  std::span<const std::unique_ptr<SheetCells>> cells;  // per sheet; null for a sheet copied as it is
  bool addCellXf = false;  // Template::newCellXf is written as XF Template::defaultCellXf
  NewLabels labels;  // BIFF5: the texts of new cells
  bool addCodePage = false;  // BIFF5: a CODEPAGE of 1252 after Template::codePageAfter
  // Globals index of a RECALCID whose build number becomes 0, so that Excel
  // recalculates every formula on load; -1 for none.
  int zeroRecalcId = -1;
};

// The stream into `out`, replacing what it held.
void SerializeWorkbookStream(const Template& t, const StreamEdits& edits, std::vector<uint8_t>& out);

}  // namespace skov::xls
