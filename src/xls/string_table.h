// The shared string table: the template's strings, the pool of new ones, and SST/CONTINUE/EXTSST writing.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "xls/biff.h"

namespace skov::xls {

// Hash for looking texts up by view, without building a string.
struct TextHash {
  using is_transparent = void;
  // Four characters a step, multiplied in, and the rest one by one: inline,
  // and cells' texts are short.
  size_t operator()(std::u16string_view s) const {
    constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;
    uint64_t h = 1469598103934665603ull ^ s.size();
    const char16_t* p = s.data();
    size_t n = s.size();
    for (; n >= 4; p += 4, n -= 4) {
      uint64_t four;
      std::memcpy(&four, p, sizeof four);
      h = (h ^ four) * kMul;
      h ^= h >> 32;
    }
    for (; n; ++p, --n) h = (h ^ *p) * 1099511628211ull;
    return static_cast<size_t>(h ^ (h >> 29));
  }
};

// Texts numbered, found by view: open addressing over one character buffer,
// so neither adding nor finding allocates per text.
class TextIndex {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;
  // The text's number, kNone when it has none; `hash` is TextHash's.
  uint32_t Find(std::u16string_view text, size_t hash) const;
  uint32_t Find(std::u16string_view text) const { return Find(text, TextHash{}(text)); }
  // Numbers the text unless it has a number already (the first one stays).
  void Add(std::u16string_view text, uint32_t number);
  void Reserve(size_t texts);

 private:
  std::u16string_view Text(uint32_t k) const { return std::u16string_view(chars_).substr(begin_[k], begin_[k + 1] - begin_[k]); }
  std::u16string chars_;
  std::vector<uint32_t> begin_{0};  // text k is chars_[begin_[k], begin_[k + 1])
  std::vector<uint32_t> number_;
  std::vector<size_t> hashes_;
  std::vector<uint32_t> slots_;  // k + 1, 0 = empty; at most half full
};

// The template's table.
struct SstTable {
  uint32_t total = 0;   // references from cells, as the record states it
  uint32_t unique = 0;  // strings held
  std::vector<uint32_t> records;  // header positions of the SST record and its CONTINUEs
  std::vector<uint32_t> starts;   // stream position where each string begins
  // Strings without formatting runs or phonetic data, text -> first index:
  // a new cell may share these without taking on anyone's formatting.
  TextIndex plain;
};

// `group` is the SST record and the CONTINUE records that follow it;
// `texts`, when given, gets every string's characters in order (formatting
// left out), as far as the table could be read.
// Fault::Damaged when a string runs past the group or the counts do not match it.
SstTable ParseSst(std::span<const uint8_t> stream, std::span<const RecRef> group,
                  std::vector<std::u16string>* texts = nullptr);

// Texts added to a table: each stored once, numbered after the table's own.
class StringPool {
 public:
  explicit StringPool(const SstTable& table) : table_(&table) {}

  // The index of a plain string with this text, added when there is none.
  uint32_t Index(std::u16string_view value) {
    // Most cells of a drawing hold a short code ("AI", "DO", "") that recurs
    // row after row: a small direct-mapped table of them skips the hashing.
    if (value.size() > kShortText) return Lookup(value);
    uint64_t key = uint64_t{value.size()} << (16 * kShortText);
    for (size_t i = 0; i < value.size(); ++i) key |= uint64_t{value[i]} << (16 * i);
    Recent& recent = recent_[(key * 0x9E3779B97F4A7C15ull) >> (64 - kRecentBits)];
    if (recent.key != key) recent = {key, Lookup(value)};
    return recent.index;
  }
  std::span<const std::u16string_view> Added() const { return added_; }
  // No texts added; the storage stays.
  void Clear();

 private:
  static constexpr size_t kShortText = 3;  // characters; with the length they fill 50 bits
  static constexpr int kRecentBits = 8;
  struct Recent {
    uint64_t key = UINT64_MAX;  // no short text has this key
    uint32_t index = 0;
  };
  uint32_t Lookup(std::u16string_view value);
  std::u16string_view Store(std::u16string_view value);

  std::array<Recent, size_t{1} << kRecentBits> recent_;

  const SstTable* table_;
  std::vector<std::u16string_view> added_;
  // Held in chunks that never move (a text per heap string would cost an
  // allocation per cell).
  std::vector<std::unique_ptr<char16_t[]>> chunks_;
  size_t chunkSize_ = 0;
  size_t chunkRoom_ = 0;
  // Open addressing over added_: slot = position + 1 (0 = empty), with the
  // texts' hashes beside them so a probe rarely compares texts.
  std::vector<uint32_t> slots_;
  std::vector<size_t> hashes_;
};

// Where a string begins in the written stream.
struct SstStart {
  uint32_t pos;        // position of the string's first byte
  uint32_t recordPos;  // header position of the record it begins in
};

// Writes the string table with `total` references: the template's records
// (`group` of `stream`, or none) and then `added`. `starts` gets where every
// string begins.
void WriteSst(std::vector<uint8_t>& out, std::span<const uint8_t> stream, std::span<const RecRef> group,
              const SstTable& table, uint32_t total, std::span<const std::u16string_view> added,
              std::vector<SstStart>& starts);

// An EXTSST record for strings beginning at `starts` (every string, in order).
void WriteExtSst(std::vector<uint8_t>& out, std::span<const SstStart> starts);

}  // namespace skov::xls
