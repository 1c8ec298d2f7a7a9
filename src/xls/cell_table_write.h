// A written sheet's substream: its cell table laid out anew, every other record where it was.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "xls/cell_table.h"
#include "xls/template.h"

namespace skov::xls {

// BIFF5 texts of new cells in the code page, each once: text k is
// bytes[offsets[k], offsets[k + 1]).
struct NewLabels {
  std::span<const uint8_t> bytes;
  std::span<const uint32_t> offsets;
};

// The sheet's substream with its cell table rebuilt.
void WriteRebuiltSheet(std::vector<uint8_t>& out, const Template& t, size_t sheetIndex, const SheetCells& sc,
                       uint16_t window2Flags, const NewLabels& labels);

}  // namespace skov::xls
