// Formula values as Excel has them: number, text, boolean, error, empty, references and arrays, with Excel's coercions.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace skov::xls::calc {

// Error values by the codes BOOLERR and FORMULA records store.
enum class ErrorCode : uint8_t {
  kNull = 0x00,
  kDiv0 = 0x07,
  kValue = 0x0F,
  kRef = 0x17,
  kName = 0x1D,
  kNum = 0x24,
  kNA = 0x2A,
};

// A rectangle of cells on one sheet or on a run of sheets (indices in tab
// order); rows and columns from 0, bounds included.
struct Area {
  int sheet = 0;
  int sheetLast = 0;
  int row1 = 0, col1 = 0, row2 = 0, col2 = 0;
  int Rows() const { return row2 - row1 + 1; }
  int Cols() const { return col2 - col1 + 1; }
  bool Contains(int s, int r, int c) const {
    return sheet <= s && s <= sheetLast && row1 <= r && r <= row2 && col1 <= c && c <= col2;
  }
  bool operator==(const Area&) const = default;
};

enum class Kind : uint8_t { kEmpty, kNumber, kText, kBool, kError, kRef, kArray };

struct Value;

// An array's items, row by row. Every other value holds a null pointer here,
// so that copying and dropping one (what evaluation does most) stays cheap.
class Items {
 public:
  Items() = default;
  Items(const Items& other);
  Items(Items&&) noexcept = default;
  Items& operator=(const Items& other);
  Items& operator=(Items&&) noexcept = default;
  ~Items() = default;

  // Defined below Value: a vector's members need its item type complete.
  size_t size() const;
  bool empty() const { return size() == 0; }
  Value& operator[](size_t i);
  const Value& operator[](size_t i) const;
  const Value* begin() const;
  const Value* end() const;
  Value* begin();
  Value* end();
  void reserve(size_t n);
  void push_back(Value v);
  void emplace_back();
  void assign(size_t n, const Value& v);
  std::vector<Value> Take();
  bool operator==(const Items& other) const;

 private:
  std::vector<Value>& Vector();
  std::unique_ptr<std::vector<Value>> v_;
};

struct Value {
  Kind kind = Kind::kEmpty;
  double number = 0;  // kNumber; kBool: 1 or 0
  ErrorCode error = ErrorCode::kNA;
  std::u16string text;  // kText
  Area area;            // kRef
  int rows = 0, cols = 0;      // kArray
  Items items;                 // kArray

  static Value Number(double v);
  static Value Text(std::u16string v);
  static Value Bool(bool v);
  static Value Error(ErrorCode e);
  static Value Ref(const Area& a);
  bool IsError() const { return kind == Kind::kError; }
  bool operator==(const Value&) const = default;
};

inline void Items::reserve(size_t n) { Vector().reserve(n); }
inline size_t Items::size() const { return v_ ? v_->size() : 0; }
inline Value& Items::operator[](size_t i) { return (*v_)[i]; }
inline const Value& Items::operator[](size_t i) const { return (*v_)[i]; }
inline Items::Items(const Items& other)
    : v_(other.v_ ? std::make_unique<std::vector<Value>>(*other.v_) : nullptr) {}
inline Items& Items::operator=(const Items& other) {
  if (this != &other) v_ = other.v_ ? std::make_unique<std::vector<Value>>(*other.v_) : nullptr;
  return *this;
}
inline std::vector<Value>& Items::Vector() {
  if (!v_) v_ = std::make_unique<std::vector<Value>>();
  return *v_;
}
inline const Value* Items::begin() const { return v_ ? v_->data() : nullptr; }
inline const Value* Items::end() const { return v_ ? v_->data() + v_->size() : nullptr; }
inline Value* Items::begin() { return v_ ? v_->data() : nullptr; }
inline Value* Items::end() { return v_ ? v_->data() + v_->size() : nullptr; }
inline void Items::push_back(Value v) { Vector().push_back(std::move(v)); }
inline void Items::emplace_back() { Vector().emplace_back(); }
inline void Items::assign(size_t n, const Value& v) { Vector().assign(n, v); }
inline std::vector<Value> Items::Take() {
  std::vector<Value> out = v_ ? std::move(*v_) : std::vector<Value>();
  v_.reset();
  return out;
}
inline bool Items::operator==(const Items& other) const {
  return size() == other.size() && std::equal(begin(), end(), other.begin());
}

// A number as Excel turns it into text (`&`, text functions): up to 15
// significant digits, scientific notation outside 1E-9 .. 1E+15.
std::u16string NumberToText(double v);
// A text as arithmetic reads it ("10" + 1 is 11): spaces around it, a sign,
// digits with '.' as the decimal point, an exponent, a trailing '%'.
bool TextToNumber(std::u16string_view s, double& out);

// Scalar coercions; an error value passes through as the result.
Value ToNumber(const Value& v);   // kNumber or kError
Value ToText(const Value& v);     // kText or kError
Value ToBool(const Value& v);     // kBool or kError

// The ordering of `<`, `=` and the lookups: numbers before texts before
// booleans, texts without regard to case, an empty cell as 0, "" or FALSE
// as the other side needs. Negative, 0 or positive.
int Compare(const Value& a, const Value& b);

// Letter case as Excel folds it for comparisons, UPPER and LOWER.
char16_t FoldUpper(char16_t c);
char16_t FoldLower(char16_t c);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);

// Sums and differences as Excel rounds them: a result within the last bits
// of its operands is 0 (0.1 + 0.2 - 0.3).
double ApproxAdd(double a, double b);
// Whether two numbers are equal at Excel's 15 digits.
bool ApproxEqual(double a, double b);

// Thrown where a formula cannot be evaluated here (a function not
// implemented, a volatile or dynamic one, an external reference, a circle):
// `why` names the cause in the log ("INDIRECT", "Zirkelbezug").
struct NotEvaluated {
  std::u16string why;
};

}  // namespace skov::xls::calc
