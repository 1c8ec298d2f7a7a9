// BIFF5/BIFF7 (Excel 5.0 and 95): the records whose layout differs from BIFF8's.
#pragma once

#include <cstdint>

namespace skov::xls::biff5 {

constexpr uint16_t kVersion = 0x0500;       // BOF version of Excel 5.0 and Excel 95 alike
constexpr uint32_t kMaxRecordBody = 2080;   // a record's body limit
constexpr uint16_t kMaxLabelBytes = 255;    // the longest text a cell holds
constexpr uint16_t kCodePageRecord = 0x0042;
constexpr uint16_t kWindows1252 = 1252;     // when the workbook names no code page
constexpr uint16_t kWindows1252Biff = 0x8001;
constexpr uint16_t kUtf16 = 1200;           // read as Windows-1252: byte strings cannot be UTF-16
// Bytes Windows-1252 leaves undefined.
constexpr uint8_t kUndefined1252[] = {0x81, 0x8D, 0x8F, 0x90, 0x9D};

namespace codepage {
constexpr uint16_t kId = 0;
constexpr uint16_t kSize = 2;
}  // namespace codepage

// Row and column bounds in 16 bits.
namespace dimensions {
constexpr uint16_t kRwMic = 0;
constexpr uint16_t kRwMac = 2;
constexpr uint16_t kColMic = 4;
constexpr uint16_t kColMac = 6;
constexpr uint16_t kSize = 10;
}  // namespace dimensions

namespace index {
constexpr uint16_t kRwMic = 4;
constexpr uint16_t kRwMac = 6;
constexpr uint16_t kDefColWidth = 8;  // stream position of DEFCOLWIDTH, or 0
constexpr uint16_t kDbCells = 12;
constexpr uint16_t kMinSize = 12;
}  // namespace index

namespace xf {
constexpr uint16_t kUsed = 7;  // orientation and the attributes a cell XF sets itself
constexpr uint16_t kSize = 16;
}  // namespace xf

// A text cell: row, column, XF, byte count, the bytes in the workbook's code page.
namespace label {
constexpr uint16_t kCch = 6;
constexpr uint16_t kChars = 8;
}  // namespace label

}  // namespace skov::xls::biff5
