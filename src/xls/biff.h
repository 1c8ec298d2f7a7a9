// BIFF8 record access: record headers read and written, little-endian appends.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "xls/bytes.h"
#include "xls/error.h"
#include "xls/records.h"

namespace skov::xls {

// One record of a stream: header at `pos`, body of `len` bytes after it.
struct RecRef {
  uint32_t pos = 0;
  uint16_t type = 0;
  uint16_t len = 0;
  uint32_t body() const { return pos + 4; }
  uint32_t end() const { return pos + 4 + len; }
};

// The record whose header starts at pos; Fault::Damaged when it runs past the end.
inline RecRef ReadRecordAt(std::span<const uint8_t> s, uint32_t pos) {
  if (pos > s.size() || s.size() - pos < 4) Fail(Fault::Damaged, "Datensatzkopf hinter dem Ende der Arbeitsmappe");
  RecRef r{pos, Get16(&s[pos]), Get16(&s[pos + 2])};
  if (s.size() - pos - 4 < r.len) Fail(Fault::Damaged, "Datensatz reicht ueber das Ende der Arbeitsmappe hinaus");
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

// `cch` characters of a BIFF8 string from `p`: one byte each (Latin-1), or
// two with `high` (xlstring::kHighByte).
inline void AppendChars(std::u16string& out, const uint8_t* p, size_t cch, bool high) {
  const size_t at = out.size();
  out.resize(at + cch);
  for (size_t i = 0; i < cch; ++i) out[at + i] = high ? Get16(p + 2 * i) : p[i];
}

}  // namespace skov::xls
