// Field extraction from delimited lines: GetField, TranslateChars, TrimNull.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "strings/text.h"

namespace skov {

// The n-th field (from 1) of a line; every character of the separator
// setting splits, the first one being the split character. Error 5 for
// n <= 0, error 6 where a position would pass 32767.
Text GetField(TextView line, int16_t n, TextView separators);

// Maps each character found in `from` onto the character at the same
// position of `to` (extended with its last character, or dropped if `to`
// is empty). Error 6 for texts of 32767 characters or more.
Text TranslateChars(TextView text, TextView from, TextView to, bool caseSensitive);

// The text before its first NUL. Error 6 when that NUL lies past 32767.
Text TrimNull(TextView text);

// A line as its fields are split from it, exactly as GetField sees it: the
// text (`line`, or `scratch` where the setting maps characters onto the
// split character) and the split character. Raises the errors GetField
// raises on the way to the line's end. Without separators the text is
// empty: one empty field.
struct SplitSource {
  TextView text;
  char16_t split = 0;
};
SplitSource PrepareSplit(TextView line, TextView separators, Text& scratch);

// Calls on(end) for each field of `text` split at `split`, in order: the
// position of each split character, then text.size(). A field runs from
// the end before it (plus one) to its own.
template <class OnEnd>
void ForEachFieldEnd(TextView text, char16_t split, OnEnd&& on) {
  const char16_t* const begin = text.data();
  const char16_t* const end = begin + text.size();
  const char16_t* p = begin;
#if defined(__SSE2__)
  // Sixteen characters a step: the two halves' matches packed into one
  // 16-bit mask, a bit per character.
  const __m128i needle = _mm_set1_epi16(static_cast<short>(split));
  auto matches = [&](const char16_t* at) {
    const __m128i lo = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), needle);
    const __m128i hi = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 8)), needle);
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(lo, hi)));
  };
  if (end - p >= 16) {
    for (; end - p >= 16; p += 16) {
      const auto at = static_cast<uint32_t>(p - begin);
      for (unsigned mask = matches(p); mask; mask &= mask - 1) on(at + static_cast<uint32_t>(std::countr_zero(mask)));
    }
    // The rest as the last sixteen characters, without those already seen.
    const auto seen = static_cast<unsigned>(16 - (end - p));
    const auto at = static_cast<uint32_t>(text.size() - 16);
    for (unsigned mask = matches(end - 16) >> seen << seen; mask; mask &= mask - 1)
      on(at + static_cast<uint32_t>(std::countr_zero(mask)));
    p = end;
  }
#endif
  for (; p != end; ++p)
    if (*p == split) on(static_cast<uint32_t>(p - begin));
  on(static_cast<uint32_t>(text.size()));
}

// All fields of a line at once, exactly as GetField(line, 1..k+1) gives them
// for a line with k split characters; one pass instead of one per field.
// The fields are views into `line` or `scratch` (see PrepareSplit).
std::vector<TextView> SplitFieldViews(TextView line, TextView separators, Text& scratch);

}  // namespace skov
