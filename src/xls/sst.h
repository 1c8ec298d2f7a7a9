// The shared string table: reading the template's, appending new strings.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <functional>
#include <unordered_map>
#include <vector>

#include "xls/biff.h"

namespace skov::xls {

// Hash for looking texts up by view, without building a string.
struct TextHash {
  using is_transparent = void;
  // FNV-1a over the characters: inline, and cells' texts are short.
  size_t operator()(std::u16string_view s) const {
    uint64_t h = 1469598103934665603ull;
    for (char16_t c : s) h = (h ^ c) * 1099511628211ull;
    return static_cast<size_t>(h ^ (h >> 29));
  }
};
using TextIndex = std::unordered_map<std::u16string, uint32_t, TextHash, std::equal_to<>>;

struct SstTable {
  uint32_t total = 0;   // references from cells, as the record states it
  uint32_t unique = 0;  // strings held
  std::vector<uint32_t> records;  // header positions of the SST record and its CONTINUEs
  std::vector<uint32_t> starts;   // stream position where each string begins
  // Strings without formatting runs or phonetic data, text -> first index:
  // a new cell may share these without taking on anyone's formatting.
  TextIndex plain;
};

// `group` is the SST record and the CONTINUE records that follow it.
// BiffError when a string runs past the group or the counts do not match it.
SstTable ParseSst(std::span<const uint8_t> stream, std::span<const RecRef> group);

// Where a string written by AppendSstStrings begins in `out`.
struct SstStart {
  uint32_t pos;        // position of the string's first byte
  uint32_t recordPos;  // header position of the record it begins in
};

// Writes `strings` as records to `out`: continuing the table in CONTINUE
// records, or, with `header` set, as a new SST record with these counts
// first. Character data is split at record ends with the high-byte flag
// repeated; a string's header never is.
void AppendSstStrings(std::vector<uint8_t>& out, std::span<const std::u16string_view> strings, const uint32_t* header,
                      std::vector<SstStart>* starts);

// An EXTSST body for strings beginning at `starts` (every string, in order).
std::vector<uint8_t> BuildExtSst(std::span<const SstStart> starts);

}  // namespace skov::xls
