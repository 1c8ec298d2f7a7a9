// Texts in a workbook's code page, as Excel 5.0/95 workbooks store them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace skov::xls {

class CodePage {
 public:
  // `id` as the CODEPAGE record gives it; one the system does not know
  // keeps only ASCII.
  explicit CodePage(uint16_t id);
  uint16_t Id() const { return id_; }
  // Appends `text` in this code page. A character it cannot hold becomes
  // '?', as Excel stores it; so does a character outside the BMP. Code page
  // 1200 (UTF-16), which gnumeric writes into Excel 95 files converted from
  // Excel 97 ones, counts as Windows-1252: byte strings cannot be UTF-16,
  // and LibreOffice reads them so.
  void Encode(std::u16string_view text, std::vector<uint8_t>& out) const;
  // Appends the characters of `bytes`; a byte or pair the code page does not
  // hold becomes U+FFFD.
  void Decode(std::span<const uint8_t> bytes, std::u16string& out) const;

 private:
  void Fill(uint16_t id);  // bytes_
  uint16_t id_;
  // Per UTF-16 unit: 0 none, 1..0xFF one byte, above that a lead and a trail byte.
  std::vector<uint16_t> bytes_;
  // Back from bytes: a single byte, and a lead and trail byte as lead << 8 | trail.
  std::vector<char16_t> chars_;
  bool doubleBytes_ = false;
};

}  // namespace skov::xls
