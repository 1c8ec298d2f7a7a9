// Code page tables: Windows-1252 built in, every other code page from the system.
#include "xls/code_page.h"

#include "os/os.h"
#include "strings/cp1252.h"

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
constexpr char16_t kReplacementChar = 0xFFFD;

}  // namespace

CodePage::CodePage(uint16_t id) : id_(id), bytes_(kUnits, kNone) {
  Fill(id);
  // The way back, for texts read from the workbook.
  for (size_t u = 1; u < kUnits; ++u) doubleBytes_ = doubleBytes_ || bytes_[u] > 0xFF;
  chars_.assign(doubleBytes_ ? kUnits : 0x100, kReplacementChar);
  chars_[0] = 0;
  for (size_t u = kUnits; u-- > 1;) {
    if (bytes_[u] != kNone) chars_[bytes_[u]] = static_cast<char16_t>(u);
  }
}

void CodePage::Decode(std::span<const uint8_t> bytes, std::u16string& out) const {
  for (size_t i = 0; i < bytes.size(); ++i) {
    const uint8_t b = bytes[i];
    if (doubleBytes_ && b >= 0x80 && chars_[b] == kReplacementChar && i + 1 < bytes.size()) {
      out.push_back(chars_[size_t(b) << 8 | bytes[++i]]);
    } else {
      out.push_back(chars_[b]);
    }
  }
}

void CodePage::Fill(uint16_t id) {
  for (uint16_t b = 1; b < 0x80; ++b) bytes_[b] = b;
  if (id == kWindows1252 || id == kWindows1252Biff || id == kUtf16) {
    for (uint16_t b = 0xA0; b <= 0xFF; ++b) bytes_[b] = b;
    for (uint16_t b = 0x80; b < 0xA0; ++b) bytes_[kCp1252High[b - 0x80]] = b;
    return;
  }
  if (id == kUsAscii) return;
  std::vector<uint16_t> system;
  if (!os::CodePageBytes(id == kMacRomanBiff ? kMacRoman : id, system)) return;
  // ASCII keeps its own bytes; past it the system's first spelling wins.
  for (size_t u = 0; u < kUnits && u < system.size(); ++u)
    if (system[u] != kNone && bytes_[u] == kNone) bytes_[u] = system[u];
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
