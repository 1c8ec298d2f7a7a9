// Letter case folded for names compared without regard to it: ASCII and Latin-1 letters.
#pragma once

namespace skov {

// The capital of an ASCII or Latin-1 small letter, any other character as it is.
constexpr char16_t FoldCase(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  // U+00F7 is the division sign; U+00DF has no capital of one character.
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;  // Windows-1252 holds both halves of this pair
  return c;
}

}  // namespace skov
