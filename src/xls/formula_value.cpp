// Formula values: constructors, number/text conversion, coercion and comparison.
#include "xls/formula_value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace skov::xls::calc {

Value Value::Number(double v) {
  Value r;
  r.kind = Kind::kNumber;
  r.number = v == 0 ? 0 : v;  // no negative zero: Excel has none
  return r;
}
Value Value::Text(std::u16string v) {
  Value r;
  r.kind = Kind::kText;
  r.text = std::move(v);
  return r;
}
Value Value::Bool(bool v) {
  Value r;
  r.kind = Kind::kBool;
  r.number = v ? 1 : 0;
  return r;
}
Value Value::Error(ErrorCode e) {
  Value r;
  r.kind = Kind::kError;
  r.error = e;
  return r;
}
Value Value::Ref(const Area& a) {
  Value r;
  r.kind = Kind::kRef;
  r.area = a;
  return r;
}

namespace {

constexpr int kSignificantDigits = 15;
constexpr int kFixedFromExponent = -9;  // below: scientific notation
constexpr int kFixedToExponent = 14;    // above: scientific notation

void Append(std::u16string& out, std::string_view ascii) {
  for (char c : ascii) out.push_back(static_cast<char16_t>(c));
}

}  // namespace

std::u16string NumberToText(double v) {
  if (v == 0) return u"0";
  // d.dddddddddddddde+xx: the 15 significant digits Excel keeps, rounded.
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.*e", kSignificantDigits - 1, std::fabs(v));
  std::string digits;
  const char* p = buf;
  for (; *p && *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9') digits.push_back(*p);
  }
  const int exponent = std::atoi(p + 1);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::u16string out;
  if (v < 0) out.push_back(u'-');
  if (exponent < kFixedFromExponent || exponent > kFixedToExponent) {
    out.push_back(static_cast<char16_t>(digits[0]));
    if (digits.size() > 1) {
      out.push_back(u'.');
      Append(out, std::string_view(digits).substr(1));
    }
    char e[16];
    std::snprintf(e, sizeof e, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    Append(out, e);
    return out;
  }
  if (exponent < 0) {
    out += u"0.";
    out.append(static_cast<size_t>(-exponent - 1), u'0');
    Append(out, digits);
    return out;
  }
  const size_t intDigits = static_cast<size_t>(exponent) + 1;
  if (digits.size() <= intDigits) {
    Append(out, digits);
    out.append(intDigits - digits.size(), u'0');
  } else {
    Append(out, std::string_view(digits).substr(0, intDigits));
    out.push_back(u'.');
    Append(out, std::string_view(digits).substr(intDigits));
  }
  return out;
}

bool TextToNumber(std::u16string_view s, double& out) {
  while (!s.empty() && s.front() == u' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == u' ') s.remove_suffix(1);
  bool percent = false;
  if (!s.empty() && s.back() == u'%') {
    percent = true;
    s.remove_suffix(1);
    while (!s.empty() && s.back() == u' ') s.remove_suffix(1);
  }
  if (s.empty() || s.size() > 64) return false;
  std::string ascii;
  size_t i = 0;
  if (s[0] == u'+' || s[0] == u'-') ascii.push_back(static_cast<char>(s[i++]));
  size_t mantissa = 0;
  bool point = false;
  for (; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (c >= u'0' && c <= u'9') {
      ++mantissa;
    } else if (c == u'.' && !point) {
      point = true;
    } else {
      break;
    }
    ascii.push_back(static_cast<char>(c));
  }
  if (mantissa == 0) return false;
  if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
    ascii.push_back('e');
    ++i;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) ascii.push_back(static_cast<char>(s[i++]));
    size_t digits = 0;
    for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i, ++digits) ascii.push_back(static_cast<char>(s[i]));
    if (digits == 0) return false;
  }
  if (i != s.size()) return false;
  const char* first = ascii.data() + (ascii[0] == '+' ? 1 : 0);
  double v = 0;
  auto [end, ec] = std::from_chars(first, ascii.data() + ascii.size(), v);
  if (ec != std::errc() || end != ascii.data() + ascii.size() || !std::isfinite(v)) return false;
  out = percent ? v / 100 : v;
  return true;
}

Value ToNumber(const Value& v) {
  switch (v.kind) {
    case Kind::kNumber: return v;
    case Kind::kBool: return Value::Number(v.number);
    case Kind::kEmpty: return Value::Number(0);
    case Kind::kError: return v;
    case Kind::kText: {
      double d;
      return TextToNumber(v.text, d) ? Value::Number(d) : Value::Error(ErrorCode::kValue);
    }
    case Kind::kRef:
    case Kind::kArray: break;
  }
  return Value::Error(ErrorCode::kValue);
}

Value ToText(const Value& v) {
  switch (v.kind) {
    case Kind::kText: return v;
    case Kind::kNumber: return Value::Text(NumberToText(v.number));
    case Kind::kBool: return Value::Text(v.number != 0 ? u"TRUE" : u"FALSE");
    case Kind::kEmpty: return Value::Text(u"");
    case Kind::kError: return v;
    case Kind::kRef:
    case Kind::kArray: break;
  }
  return Value::Error(ErrorCode::kValue);
}

Value ToBool(const Value& v) {
  switch (v.kind) {
    case Kind::kBool: return v;
    case Kind::kNumber: return Value::Bool(v.number != 0);
    case Kind::kEmpty: return Value::Bool(false);
    case Kind::kError: return v;
    case Kind::kText:
      if (EqualsNoCase(v.text, u"TRUE")) return Value::Bool(true);
      if (EqualsNoCase(v.text, u"FALSE")) return Value::Bool(false);
      return Value::Error(ErrorCode::kValue);
    case Kind::kRef:
    case Kind::kArray: break;
  }
  return Value::Error(ErrorCode::kValue);
}

char16_t FoldUpper(char16_t c) {
  if (c < 0x80) return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  // Latin Extended-A: capital and small letter side by side, mostly capital even.
  if (c >= 0x100 && c <= 0x137 && (c & 1)) return static_cast<char16_t>(c - 1);
  if (c >= 0x139 && c <= 0x148 && !(c & 1)) return static_cast<char16_t>(c - 1);
  if (c >= 0x14A && c <= 0x177 && (c & 1)) return static_cast<char16_t>(c - 1);
  if ((c == 0x17A || c == 0x17C || c == 0x17E)) return static_cast<char16_t>(c - 1);
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 0x20);  // Greek
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);                // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  return c;
}

char16_t FoldLower(char16_t c) {
  if (c < 0x80) return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 0x20) : c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<char16_t>(c + 0x20);
  if (c == 0x178) return 0xFF;
  if (c >= 0x100 && c <= 0x137 && !(c & 1)) return static_cast<char16_t>(c + 1);
  if (c >= 0x139 && c <= 0x148 && (c & 1)) return static_cast<char16_t>(c + 1);
  if (c >= 0x14A && c <= 0x177 && !(c & 1)) return static_cast<char16_t>(c + 1);
  if ((c == 0x179 || c == 0x17B || c == 0x17D)) return static_cast<char16_t>(c + 1);
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
  return c;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && FoldUpper(a[i]) != FoldUpper(b[i])) return false;
  }
  return true;
}

namespace {

int Rank(Kind k) {
  switch (k) {
    case Kind::kText: return 1;
    case Kind::kBool: return 2;
    default: return 0;
  }
}

int CompareText(std::u16string_view a, std::u16string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const char16_t x = FoldUpper(a[i]), y = FoldUpper(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

}  // namespace

int Compare(const Value& a, const Value& b) {
  if (a.kind == Kind::kEmpty && b.kind == Kind::kEmpty) return 0;
  if (a.kind == Kind::kEmpty) return -Compare(b, a);
  if (b.kind == Kind::kEmpty) {
    if (a.kind == Kind::kText) return a.text.empty() ? 0 : 1;
    if (a.kind == Kind::kBool) return a.number != 0 ? 1 : 0;
    return ApproxEqual(a.number, 0) ? 0 : a.number < 0 ? -1 : 1;
  }
  const int ra = Rank(a.kind), rb = Rank(b.kind);
  if (ra != rb) return ra < rb ? -1 : 1;
  if (a.kind == Kind::kText) return CompareText(a.text, b.text);
  if (ApproxEqual(a.number, b.number)) return 0;
  return a.number < b.number ? -1 : 1;
}

namespace {
constexpr double kRelativeEpsilon = 1.0 / (int64_t{1} << 48);  // about 3.6e-15, the 15th digit
}

bool ApproxEqual(double a, double b) {
  if (a == b) return true;
  if (a == 0 || b == 0 || (a < 0) != (b < 0)) return false;
  return std::fabs(a - b) < std::fabs(a) * kRelativeEpsilon;
}

double ApproxAdd(double a, double b) {
  const double sum = a + b;
  if (((a < 0) != (b < 0)) && a != 0 && b != 0 && ApproxEqual(a, -b)) return 0;
  return sum;
}

}  // namespace skov::xls::calc
