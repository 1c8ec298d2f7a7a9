// BIFF8 record basics: record numbers, little-endian access, record headers.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <vector>

#include "xls/bytes.h"

namespace skov::xls {

// A workbook stream whose record structure is damaged or not BIFF8.
class BiffError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

namespace rec {
constexpr uint16_t kFormula = 0x0006;
constexpr uint16_t kEof = 0x000A;
constexpr uint16_t kSelection = 0x001D;
constexpr uint16_t kFilePass = 0x002F;
constexpr uint16_t kContinue = 0x003C;
constexpr uint16_t kWindow1 = 0x003D;
constexpr uint16_t kDefColWidth = 0x0055;
constexpr uint16_t kColInfo = 0x007D;
constexpr uint16_t kWsBool = 0x0081;
constexpr uint16_t kBoundSheet = 0x0085;
constexpr uint16_t kMulRk = 0x00BD;
constexpr uint16_t kMulBlank = 0x00BE;
constexpr uint16_t kRString = 0x00D6;
constexpr uint16_t kDbCell = 0x00D7;
constexpr uint16_t kSst = 0x00FC;
constexpr uint16_t kLabelSst = 0x00FD;
constexpr uint16_t kExtSst = 0x00FF;
constexpr uint16_t kDimensions = 0x0200;
constexpr uint16_t kBlank = 0x0201;
constexpr uint16_t kNumber = 0x0203;
constexpr uint16_t kLabel = 0x0204;
constexpr uint16_t kBoolErr = 0x0205;
constexpr uint16_t kString = 0x0207;
constexpr uint16_t kRow = 0x0208;
constexpr uint16_t kIndex = 0x020B;
constexpr uint16_t kArray = 0x0221;
constexpr uint16_t kDefaultRowHeight = 0x0225;
constexpr uint16_t kTable = 0x0236;
constexpr uint16_t kWindow2 = 0x023E;
constexpr uint16_t kRk = 0x027E;
constexpr uint16_t kShrFmla = 0x04BC;
constexpr uint16_t kBof = 0x0809;
}  // namespace rec

// Body limit of one record; longer data goes on in CONTINUE records.
constexpr uint32_t kMaxRecordBody = 8224;


// One record of a stream: header at `pos`, body of `len` bytes after it.
struct RecRef {
  uint32_t pos = 0;
  uint16_t type = 0;
  uint16_t len = 0;
  uint32_t body() const { return pos + 4; }
  uint32_t end() const { return pos + 4 + len; }
};

// The record whose header starts at pos; BiffError when it runs past the end.
inline RecRef ReadRecordAt(std::span<const uint8_t> s, uint32_t pos) {
  if (pos > s.size() || s.size() - pos < 4) throw BiffError("record header past the end of the stream");
  RecRef r{pos, Get16(&s[pos]), Get16(&s[pos + 2])};
  if (s.size() - pos - 4 < r.len) throw BiffError("record runs past the end of the stream");
  return r;
}

// For short variable runs (string headers, characters) where one resize
// per piece costs more than the bytes.
inline void Append16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Append32(std::vector<uint8_t>& out, uint32_t v) {
  Append16(out, static_cast<uint16_t>(v));
  Append16(out, static_cast<uint16_t>(v >> 16));
}

inline void PutRecordHeader(std::vector<uint8_t>& out, uint16_t type, uint16_t len) {
  size_t at = out.size();
  out.resize(at + 4);
  Put16(&out[at], type);
  Put16(&out[at + 2], len);
}

inline void AppendBytes(std::vector<uint8_t>& out, const uint8_t* p, size_t n) {
  if (n) out.insert(out.end(), p, p + n);
}

}  // namespace skov::xls
