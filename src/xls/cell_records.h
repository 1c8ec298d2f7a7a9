// Cell records: which records are cells, the columns each covers, and the records attached to them.
#pragma once

#include <cstdint>

#include "xls/bytes.h"
#include "xls/records.h"

namespace skov::xls {

inline bool IsCellRecord(uint16_t type) {
  switch (type) {
    case rec::kBlank: case rec::kMulBlank: case rec::kMulRk: case rec::kRk: case rec::kNumber:
    case rec::kLabel: case rec::kLabelSst: case rec::kBoolErr: case rec::kFormula: case rec::kRString:
      return true;
    default:
      return false;
  }
}

// Records that belong to the cell before them.
inline bool IsAttachedRecord(uint16_t type) {
  return type == rec::kString || type == rec::kShrFmla || type == rec::kArray || type == rec::kTable ||
         type == rec::kContinue;
}

// Columns a sound cell record covers; false when its size does not fit its kind.
inline bool CellColumns(uint16_t type, const uint8_t* body, uint16_t len, uint16_t& first, uint16_t& last) {
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

}  // namespace skov::xls
