// Code page tables: Windows-1252 built in, every other code page taken from iconv.
#include "xls/code_page.h"

#include <iconv.h>

#include <cerrno>
#include <string>

namespace skov::xls {
namespace {

constexpr size_t kUnits = 0x10000;
constexpr uint16_t kNone = 0;
constexpr uint8_t kReplacement = '?';
constexpr uint16_t kMacRoman = 10000;
constexpr uint16_t kMacRomanBiff = 0x8000;
constexpr uint16_t kWindows1252Biff = 0x8001;
constexpr uint16_t kWindows1252 = 1252;
constexpr uint16_t kUsAscii = 367;
constexpr uint16_t kUtf16 = 1200;

// Windows-1252 where it differs from Latin-1: bytes 0x80..0x9F.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

std::string IconvName(uint16_t id) {
  if (id == kMacRoman || id == kMacRomanBiff) return "MACINTOSH";
  return "CP" + std::to_string(id);
}

// The UTF-16 unit `in` decodes to, or 0 when it is no whole character.
char16_t Decode(iconv_t cd, const char* in, size_t n) {
  char16_t unit[2] = {0, 0};
  char* src = const_cast<char*>(in);
  char* dst = reinterpret_cast<char*>(unit);
  size_t left = n, room = sizeof unit;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &src, &left, &dst, &room) == size_t(-1) || left != 0 || room != sizeof unit - 2) return 0;
  return unit[0];
}

}  // namespace

CodePage::CodePage(uint16_t id) : id_(id), bytes_(kUnits, kNone) {
  for (uint16_t b = 1; b < 0x80; ++b) bytes_[b] = b;
  if (id == kWindows1252 || id == kWindows1252Biff || id == kUtf16) {
    for (uint16_t b = 0xA0; b <= 0xFF; ++b) bytes_[b] = b;
    for (uint16_t b = 0x80; b < 0xA0; ++b) bytes_[kCp1252High[b - 0x80]] = b;
    return;
  }
  if (id == kUsAscii) return;
  iconv_t cd = iconv_open("UTF-16LE", IconvName(id).c_str());
  if (cd == iconv_t(-1)) return;
  // Decoding every byte and byte pair gives the characters the code page
  // holds; the first spelling of a character wins.
  for (unsigned lead = 0x80; lead <= 0xFF; ++lead) {
    const char one[1] = {static_cast<char>(lead)};
    if (char16_t u = Decode(cd, one, 1)) {
      if (bytes_[u] == kNone) bytes_[u] = static_cast<uint16_t>(lead);
      continue;
    }
    for (unsigned trail = 0x40; trail <= 0xFF; ++trail) {
      const char two[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      char16_t u = Decode(cd, two, 2);
      if (u && bytes_[u] == kNone) bytes_[u] = static_cast<uint16_t>(lead << 8 | trail);
    }
  }
  iconv_close(cd);
}

void CodePage::Encode(std::u16string_view text, std::vector<uint8_t>& out) const {
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) ++i;
    const uint16_t b = c == 0 ? 0 : bytes_[c];
    if (c != 0 && b == kNone) {
      out.push_back(kReplacement);
    } else if (b > 0xFF) {
      out.push_back(static_cast<uint8_t>(b >> 8));
      out.push_back(static_cast<uint8_t>(b));
    } else {
      out.push_back(static_cast<uint8_t>(b));
    }
  }
}

}  // namespace skov::xls
