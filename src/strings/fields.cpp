// GetField, TranslateChars, TrimNull with the runtime's 16-bit position limits.
#include "strings/fields.h"

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "strings/runtime_error.h"

namespace skov {
namespace {

constexpr long kMax16 = 32767;

// A 16-bit position or count; past 32767 it is error 6.
int16_t Pos16(long value) {
  if (value > kMax16 || value < -32768) Raise(kOverflow);
  return static_cast<int16_t>(value);
}

bool SameChar(char16_t a, char16_t b, bool caseSensitive) {
  return caseSensitive ? a == b : EqualsIgnoreCase(TextView(&a, 1), TextView(&b, 1));
}

}  // namespace

Text TranslateChars(TextView text, TextView from, TextView to, bool caseSensitive) {
  if (static_cast<long>(text.size()) >= kMax16) Raise(kOverflow);
  if (from.empty()) return Text(text);
  Text target(to);
  if (!target.empty()) {
    target.append(from.size(), target.back());
    target.resize(from.size());
  }
  Text out;
  out.reserve(text.size());
  for (char16_t c : text) {
    size_t p = 0;
    while (p < from.size() && !SameChar(from[p], c, caseSensitive)) ++p;
    if (p == from.size()) {
      out.push_back(c);
    } else if (!target.empty()) {
      out.push_back(target[p]);
    }
  }
  return out;
}

Text GetField(TextView line, int16_t n, TextView separators) {
  if (separators.empty()) {
    if (n <= 0) Raise(kInvalidArgument);
    return Text();
  }
  Text translated;
  if (separators.size() > 1) {
    translated = TranslateChars(line, separators, separators.substr(0, 1), true);
    line = translated;
  }
  const char16_t split = separators[0];
  int16_t previous = 0, current = 0, hit = 0, remaining = n;
  while (remaining > 0) {
    previous = current;
    size_t start = static_cast<size_t>(Pos16(long{current} + 1)) - 1;
    size_t found = line.find(split, start);
    hit = found == TextView::npos ? 0 : Pos16(static_cast<long>(found) + 1);
    if (hit > 0) {
      current = hit;
      --remaining;
    } else {
      current = Pos16(static_cast<long>(line.size()) + 1);
      break;
    }
  }
  if (hit != 0 || remaining == n || remaining <= 1) {
    long length = long{current} - previous - 1;
    if (length < 0) Raise(kInvalidArgument);
    return Text(line.substr(static_cast<size_t>(previous), static_cast<size_t>(length)));
  }
  return Text();
}

Text TrimNull(TextView text) {
  size_t p = text.find(u'\0');
  if (p == TextView::npos) return Text(text);
  Pos16(static_cast<long>(p) + 1);
  return Text(text.substr(0, p));
}

void FieldEnds(TextView text, char16_t split, std::vector<uint32_t>& ends) {
  ends.clear();
  const char16_t* const begin = text.data();
  const char16_t* const end = begin + text.size();
  const char16_t* p = begin;
#if defined(__SSE2__)
  // Sixteen characters a step: the two halves' matches packed into one
  // 16-bit mask, a bit per character.
  const __m128i needle = _mm_set1_epi16(static_cast<short>(split));
  for (; end - p >= 16; p += 16) {
    const __m128i lo = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), needle);
    const __m128i hi = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)), needle);
    for (auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(lo, hi))); mask; mask &= mask - 1)
      ends.push_back(static_cast<uint32_t>(p - begin) + static_cast<uint32_t>(std::countr_zero(mask)));
  }
#endif
  for (; p != end; ++p)
    if (*p == split) ends.push_back(static_cast<uint32_t>(p - begin));
  ends.push_back(static_cast<uint32_t>(text.size()));
}

TextView SplitFieldEnds(TextView line, TextView separators, Text& scratch, std::vector<uint32_t>& ends) {
  if (separators.empty()) {
    ends.assign(1, 0);
    return TextView();
  }
  // Reaching the line's end is where GetField overflows on long lines.
  if (static_cast<long>(line.size()) >= kMax16) Raise(kOverflow);
  if (separators.size() > 1) {
    scratch = TranslateChars(line, separators, separators.substr(0, 1), true);
    line = scratch;
  }
  FieldEnds(line, separators[0], ends);
  return line;
}

std::vector<TextView> SplitFieldViews(TextView line, TextView separators, Text& scratch) {
  std::vector<uint32_t> ends;
  const TextView text = SplitFieldEnds(line, separators, scratch, ends);
  std::vector<TextView> fields;
  size_t start = 0;
  for (uint32_t end : ends) {
    fields.push_back(text.substr(start, end - start));
    start = size_t{end} + 1;
  }
  return fields;
}

}  // namespace skov
