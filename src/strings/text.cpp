// Windows-1252 and UTF-8 conversions, case-blind comparison, number texts.
#include "strings/text.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "strings/case_fold.h"
#include "strings/cp1252.h"
#include "strings/runtime_error.h"

namespace skov {
namespace {

constexpr const char16_t (&kHigh)[32] = kCp1252High;

char EncodeOne(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (int i = 0; i < 32; ++i)
    if (kHigh[i] == c) return static_cast<char>(0x80 + i);
  return '?';
}

}  // namespace

Text FromCp1252(std::string_view bytes) {
  Text out;
  AssignCp1252(out, bytes);
  return out;
}

namespace {

// The bytes 0x80-0x9F, the only ones that do not stand for their own unit.
inline bool IsHigh(unsigned char c) { return (c & 0xE0) == 0x80; }

#if !defined(__SSE2__)
// Eight ASCII bytes as eight UTF-16 units: each half spread to 16 bits a
// byte with shifts and masks, a quarter of the work of a byte-wise copy.
inline void Widen8(uint64_t eight, char16_t* o) {
  if constexpr (std::endian::native == std::endian::little) {
    auto spread = [](uint64_t four) {
      four = (four | (four << 16)) & 0x0000FFFF0000FFFFu;
      return (four | (four << 8)) & 0x00FF00FF00FF00FFu;
    };
    const uint64_t lo = spread(eight & 0xFFFFFFFFu), hi = spread(eight >> 32);
    std::memcpy(o, &lo, sizeof lo);
    std::memcpy(o + 4, &hi, sizeof hi);
  } else {
    unsigned char b[8];
    std::memcpy(b, &eight, sizeof b);
    for (int i = 0; i < 8; ++i) o[i] = b[i];
  }
}
#endif

}  // namespace

void AssignCp1252(Text& out, std::string_view bytes) {
  out.resize(bytes.size());
  char16_t* o = out.data();
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* const end = b + bytes.size();
  auto one = [](unsigned char c) { return IsHigh(c) ? kHigh[c - 0x80] : static_cast<char16_t>(c); };
#if defined(__SSE2__)
  // Sixteen bytes at a time, each widened to its unit; only 0x80-0x9F need
  // the table, fixed up one by one afterwards.
  const __m128i zero = _mm_setzero_si128();
  const __m128i top3 = _mm_set1_epi8(static_cast<char>(0xE0));
  const __m128i high = _mm_set1_epi8(static_cast<char>(0x80));
  auto widen = [&](const unsigned char* from, char16_t* to) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 8), _mm_unpackhi_epi8(v, zero));
    return _mm_cmpeq_epi8(_mm_and_si128(v, top3), high);
  };
  auto fix = [&](unsigned mask, const unsigned char* from, char16_t* to) {
    for (; mask; mask &= mask - 1) {
      const int i = std::countr_zero(mask);
      to[i] = kHigh[from[i] - 0x80];
    }
  };
  auto block = [&](const unsigned char* from, char16_t* to) {
    fix(static_cast<unsigned>(_mm_movemask_epi8(widen(from, to))), from, to);
  };
  if (end - b >= 16) {
    // Thirty-two bytes a step where the line is that long, one test for both halves.
    for (; end - b >= 32; b += 32, o += 32) {
      const __m128i first = widen(b, o), second = widen(b + 16, o + 16);
      if (_mm_movemask_epi8(_mm_or_si128(first, second))) {
        fix(static_cast<unsigned>(_mm_movemask_epi8(first)), b, o);
        fix(static_cast<unsigned>(_mm_movemask_epi8(second)), b + 16, o + 16);
      }
    }
    if (end - b >= 16) {
      block(b, o);
      b += 16;
      o += 16;
    }
    // The rest as the last sixteen bytes, overlapping what is done.
    if (b != end) block(end - 16, o - (16 - (end - b)));
    return;
  }
#else
  // Eight plain ASCII bytes at a time, the common case of an export line.
  constexpr uint64_t kHighBits = 0x8080808080808080u;
  for (; end - b >= 8; b += 8, o += 8) {
    uint64_t eight;
    std::memcpy(&eight, b, sizeof eight);
    if (eight & kHighBits) {
      for (int i = 0; i < 8; ++i) o[i] = one(b[i]);
    } else {
      Widen8(eight, o);
    }
  }
#endif
  for (; b != end; ++b) *o++ = one(*b);
}

std::string ToCp1252(TextView text) {
  std::string out;
  AppendCp1252(out, text);
  return out;
}

void AppendCp1252(std::string& out, TextView text) {
  if (text.empty()) return;
  const size_t at = out.size();
  out.resize(at + text.size());
  EncodeCp1252(text, out.data() + at);
}

char* EncodeCp1252(TextView text, char* o) {
  const char16_t* p = text.data();
  const char16_t* const end = p + text.size();
#if defined(__SSE2__)
  // Sixteen ASCII units a step, narrowed to their bytes.
  const __m128i notAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
  for (; end - p >= 16; p += 16, o += 16) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
    const __m128i high = _mm_and_si128(_mm_or_si128(lo, hi), notAscii);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) != 0xFFFF) {
      for (int i = 0; i < 16; ++i) o[i] = p[i] < 0x80 ? static_cast<char>(p[i]) : EncodeOne(p[i]);
    } else {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_packus_epi16(lo, hi));
    }
  }
  // Eight more as one half (most log messages are 8 to 15 characters).
  if (end - p >= 8) {
    const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(eight, notAscii), _mm_setzero_si128())) == 0xFFFF) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_packus_epi16(eight, eight));
      p += 8;
      o += 8;
    }
  }
#endif
  for (; p != end; ++p) *o++ = *p < 0x80 ? static_cast<char>(*p) : EncodeOne(*p);
  return o;
}

namespace {

// A byte that is not part of valid UTF-8 in a file name, kept as the lone
// surrogate U+DC80..U+DCFF so that the name comes back to the same bytes.
constexpr char16_t kByteEscape = 0xDC00;

Text DecodeUtf8(std::string_view s, bool escapeBytes) {
  Text out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    auto b = static_cast<unsigned char>(s[i]);
    char32_t cp = 0xFFFD;
    size_t len = 1;
    bool valid = false;
    if (b < 0x80) {
      cp = b;
      valid = true;
    } else if (b >= 0xC2 && b < 0xF5) {
      size_t need = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
      char32_t v = b & (0x3F >> (need - 1));
      size_t j = 1;
      for (; j < need && i + j < s.size(); ++j) {
        auto c = static_cast<unsigned char>(s[i + j]);
        if ((c & 0xC0) != 0x80) break;
        v = (v << 6) | (c & 0x3F);
      }
      if (j == need) {
        bool overlong = (need == 3 && v < 0x800) || (need == 4 && v < 0x10000);
        bool surrogate = v >= 0xD800 && v <= 0xDFFF;
        valid = !overlong && !surrogate && v <= 0x10FFFF;
        if (valid) cp = v;
        len = need;
      } else {
        len = j;
      }
    }
    if (!valid && escapeBytes) {
      for (size_t k = 0; k < len; ++k)
        out.push_back(static_cast<char16_t>(kByteEscape + static_cast<unsigned char>(s[i + k])));
    } else if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

std::string EncodeUtf8(TextView t, bool escapedBytes) {
  std::string out;
  out.reserve(t.size());
  for (size_t i = 0; i < t.size(); ++i) {
    char32_t cp = t[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < t.size() && t[i + 1] >= 0xDC00 && t[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (t[i + 1] - 0xDC00);
      ++i;
    } else if (escapedBytes && cp >= kByteEscape + 0x80 && cp <= kByteEscape + 0xFF) {
      out.push_back(static_cast<char>(cp - kByteEscape));
      continue;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;  // lone surrogate
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

}  // namespace

Text FromUtf8(std::string_view s) { return DecodeUtf8(s, false); }
std::string ToUtf8(TextView t) { return EncodeUtf8(t, false); }
Text FromFileName(std::string_view bytes) { return DecodeUtf8(bytes, true); }
std::string ToFileName(TextView name) { return EncodeUtf8(name, true); }

bool EqualsIgnoreCase(TextView a, TextView b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

Text NumberText(long value) {
  std::string digits = std::to_string(value);
  if (value >= 0) digits.insert(digits.begin(), ' ');
  return Text(digits.begin(), digits.end());
}

int16_t Increment16(int16_t value) {
  if (value == INT16_MAX) Raise(kOverflow);
  return static_cast<int16_t>(value + 1);
}

}  // namespace skov
