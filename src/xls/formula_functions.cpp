// Worksheet functions: the Ftab of names and argument counts, and the functions evaluated here, with Excel's coercion rules.
#include "xls/formula_functions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>

#include "xls/formula_eval.h"

namespace skov::xls::calc {
namespace {

// [MS-XLS] Ftab: every function a BIFF5 or BIFF8 formula can call, with the
// argument counts tFunc relies on (a fixed count where the two agree).
constexpr FunctionInfo kFtab[] = {
    {0, "COUNT", 0, 30}, {1, "IF", 2, 3}, {2, "ISNA", 1, 1}, {3, "ISERROR", 1, 1},
    {4, "SUM", 0, 30}, {5, "AVERAGE", 1, 30}, {6, "MIN", 1, 30}, {7, "MAX", 1, 30},
    {8, "ROW", 0, 1}, {9, "COLUMN", 0, 1}, {10, "NA", 0, 0}, {11, "NPV", 2, 30},
    {12, "STDEV", 1, 30}, {13, "DOLLAR", 1, 2}, {14, "FIXED", 2, 3}, {15, "SIN", 1, 1},
    {16, "COS", 1, 1}, {17, "TAN", 1, 1}, {18, "ATAN", 1, 1}, {19, "PI", 0, 0},
    {20, "SQRT", 1, 1}, {21, "EXP", 1, 1}, {22, "LN", 1, 1}, {23, "LOG10", 1, 1},
    {24, "ABS", 1, 1}, {25, "INT", 1, 1}, {26, "SIGN", 1, 1}, {27, "ROUND", 2, 2},
    {28, "LOOKUP", 2, 3}, {29, "INDEX", 2, 4}, {30, "REPT", 2, 2}, {31, "MID", 3, 3},
    {32, "LEN", 1, 1}, {33, "VALUE", 1, 1}, {34, "TRUE", 0, 0}, {35, "FALSE", 0, 0},
    {36, "AND", 1, 30}, {37, "OR", 1, 30}, {38, "NOT", 1, 1}, {39, "MOD", 2, 2},
    {40, "DCOUNT", 3, 3}, {41, "DSUM", 3, 3}, {42, "DAVERAGE", 3, 3}, {43, "DMIN", 3, 3},
    {44, "DMAX", 3, 3}, {45, "DSTDEV", 3, 3}, {46, "VAR", 1, 30}, {47, "DVAR", 3, 3},
    {48, "TEXT", 2, 2}, {49, "LINEST", 1, 4}, {50, "TREND", 1, 4}, {51, "LOGEST", 1, 4},
    {52, "GROWTH", 1, 4}, {56, "PV", 3, 5}, {57, "FV", 3, 5}, {58, "NPER", 3, 5},
    {59, "PMT", 3, 5}, {60, "RATE", 3, 6}, {61, "MIRR", 3, 3}, {62, "IRR", 1, 2},
    {63, "RAND", 0, 0}, {64, "MATCH", 2, 3}, {65, "DATE", 3, 3}, {66, "TIME", 3, 3},
    {67, "DAY", 1, 1}, {68, "MONTH", 1, 1}, {69, "YEAR", 1, 1}, {70, "WEEKDAY", 1, 2},
    {71, "HOUR", 1, 1}, {72, "MINUTE", 1, 1}, {73, "SECOND", 1, 1}, {74, "NOW", 0, 0},
    {75, "AREAS", 1, 1}, {76, "ROWS", 1, 1}, {77, "COLUMNS", 1, 1}, {78, "OFFSET", 3, 5},
    {82, "SEARCH", 2, 3}, {83, "TRANSPOSE", 1, 1}, {86, "TYPE", 1, 1}, {92, "SERIESSUM", 4, 4},
    {97, "ATAN2", 2, 2}, {98, "ASIN", 1, 1}, {99, "ACOS", 1, 1}, {100, "CHOOSE", 2, 30},
    {101, "HLOOKUP", 3, 4}, {102, "VLOOKUP", 3, 4}, {105, "ISREF", 1, 1}, {109, "LOG", 1, 2},
    {111, "CHAR", 1, 1}, {112, "LOWER", 1, 1}, {113, "UPPER", 1, 1}, {114, "PROPER", 1, 1},
    {115, "LEFT", 1, 2}, {116, "RIGHT", 1, 2}, {117, "EXACT", 2, 2}, {118, "TRIM", 1, 1},
    {119, "REPLACE", 4, 4}, {120, "SUBSTITUTE", 3, 4}, {121, "CODE", 1, 1}, {124, "FIND", 2, 3},
    {125, "CELL", 1, 2}, {126, "ISERR", 1, 1}, {127, "ISTEXT", 1, 1}, {128, "ISNUMBER", 1, 1},
    {129, "ISBLANK", 1, 1}, {130, "T", 1, 1}, {131, "N", 1, 1}, {140, "DATEVALUE", 1, 1},
    {141, "TIMEVALUE", 1, 1}, {142, "SLN", 3, 3}, {143, "SYD", 4, 4}, {144, "DDB", 4, 5},
    {148, "INDIRECT", 1, 2}, {162, "CLEAN", 1, 1}, {163, "MDETERM", 1, 1}, {164, "MINVERSE", 1, 1},
    {165, "MMULT", 2, 2}, {167, "IPMT", 4, 6}, {168, "PPMT", 4, 6}, {169, "COUNTA", 0, 30},
    {183, "PRODUCT", 0, 30}, {184, "FACT", 1, 1}, {189, "DPRODUCT", 3, 3}, {190, "ISNONTEXT", 1, 1},
    {193, "STDEVP", 1, 30}, {194, "VARP", 1, 30}, {195, "DSTDEVP", 3, 3}, {196, "DVARP", 3, 3},
    {197, "TRUNC", 1, 2}, {198, "ISLOGICAL", 1, 1}, {199, "DCOUNTA", 3, 3}, {204, "USDOLLAR", 1, 2},
    {205, "FINDB", 2, 3}, {206, "SEARCHB", 2, 3}, {207, "REPLACEB", 4, 4}, {208, "LEFTB", 1, 2},
    {209, "RIGHTB", 1, 2}, {210, "MIDB", 3, 3}, {211, "LENB", 1, 1}, {212, "ROUNDUP", 2, 2},
    {213, "ROUNDDOWN", 2, 2}, {214, "ASC", 1, 1}, {215, "DBCS", 1, 1}, {216, "RANK", 2, 3},
    {219, "ADDRESS", 2, 5}, {220, "DAYS360", 2, 3}, {221, "TODAY", 0, 0}, {222, "VDB", 5, 7},
    {227, "MEDIAN", 1, 30}, {228, "SUMPRODUCT", 1, 30}, {229, "SINH", 1, 1}, {230, "COSH", 1, 1},
    {231, "TANH", 1, 1}, {232, "ASINH", 1, 1}, {233, "ACOSH", 1, 1}, {234, "ATANH", 1, 1},
    {235, "DGET", 3, 3}, {244, "INFO", 1, 1}, {247, "DB", 4, 5}, {252, "FREQUENCY", 2, 2},
    {261, "ERROR.TYPE", 1, 1}, {269, "AVEDEV", 1, 30}, {270, "BETADIST", 3, 5}, {271, "GAMMALN", 1, 1},
    {272, "BETAINV", 3, 5}, {273, "BINOMDIST", 4, 4}, {274, "CHIDIST", 2, 2}, {275, "CHIINV", 2, 2},
    {276, "COMBIN", 2, 2}, {277, "CONFIDENCE", 3, 3}, {278, "CRITBINOM", 3, 3}, {279, "EVEN", 1, 1},
    {280, "EXPONDIST", 3, 3}, {281, "FDIST", 3, 3}, {282, "FINV", 3, 3}, {283, "FISHER", 1, 1},
    {284, "FISHERINV", 1, 1}, {285, "FLOOR", 2, 2}, {286, "GAMMADIST", 4, 4}, {287, "GAMMAINV", 3, 3},
    {288, "CEILING", 2, 2}, {289, "HYPGEOMDIST", 4, 4}, {290, "LOGNORMDIST", 3, 3}, {291, "LOGINV", 3, 3},
    {292, "NEGBINOMDIST", 3, 3}, {293, "NORMDIST", 4, 4}, {294, "NORMSDIST", 1, 1}, {295, "NORMINV", 3, 3},
    {296, "NORMSINV", 1, 1}, {297, "STANDARDIZE", 3, 3}, {298, "ODD", 1, 1}, {299, "PERMUT", 2, 2},
    {300, "POISSON", 3, 3}, {301, "TDIST", 3, 3}, {302, "WEIBULL", 4, 4}, {303, "SUMXMY2", 2, 2},
    {304, "SUMX2MY2", 2, 2}, {305, "SUMX2PY2", 2, 2}, {306, "CHITEST", 2, 2}, {307, "CORREL", 2, 2},
    {308, "COVAR", 2, 2}, {309, "FORECAST", 3, 3}, {310, "FTEST", 2, 2}, {311, "INTERCEPT", 2, 2},
    {312, "PEARSON", 2, 2}, {313, "RSQ", 2, 2}, {314, "STEYX", 2, 2}, {315, "SLOPE", 2, 2},
    {316, "TTEST", 4, 4}, {317, "PROB", 3, 4}, {318, "DEVSQ", 1, 30}, {319, "GEOMEAN", 1, 30},
    {320, "HARMEAN", 1, 30}, {321, "SUMSQ", 0, 30}, {322, "KURT", 1, 30}, {323, "SKEW", 1, 30},
    {324, "ZTEST", 2, 3}, {325, "LARGE", 2, 2}, {326, "SMALL", 2, 2}, {327, "QUARTILE", 2, 2},
    {328, "PERCENTILE", 2, 2}, {329, "PERCENTRANK", 2, 3}, {330, "MODE", 1, 30}, {331, "TRIMMEAN", 2, 2},
    {332, "TINV", 2, 2}, {336, "CONCATENATE", 0, 30}, {337, "POWER", 2, 2}, {342, "RADIANS", 1, 1},
    {343, "DEGREES", 1, 1}, {344, "SUBTOTAL", 2, 30}, {345, "SUMIF", 2, 3}, {346, "COUNTIF", 2, 2},
    {347, "COUNTBLANK", 1, 1}, {350, "ISPMT", 4, 4}, {351, "DATEDIF", 3, 3}, {352, "DATESTRING", 1, 1},
    {353, "NUMBERSTRING", 2, 2}, {354, "ROMAN", 1, 2}, {358, "GETPIVOTDATA", 2, 2}, {359, "HYPERLINK", 1, 2},
    {360, "PHONETIC", 1, 1}, {361, "AVERAGEA", 1, 30}, {362, "MAXA", 1, 30}, {363, "MINA", 1, 30},
    {364, "STDEVPA", 1, 30}, {365, "VARPA", 1, 30}, {366, "STDEVA", 1, 30}, {367, "VARA", 1, 30},
    {368, "BAHTTEXT", 1, 1}, {369, "THAIDAYOFWEEK", 1, 1}, {370, "THAIDIGIT", 1, 1}, {371, "THAIMONTHOFYEAR", 1, 1},
    {372, "THAINUMSOUND", 1, 1}, {373, "THAINUMSTRING", 1, 1}, {374, "THAISTRINGLENGTH", 1, 1}, {375, "ISTHAIDIGIT", 1, 1},
    {376, "ROUNDBAHTDOWN", 1, 1}, {377, "ROUNDBAHTUP", 1, 1}, {378, "THAIYEAR", 1, 1}, {379, "RTD", 2, 5},
};

constexpr size_t kMaxText = 32767;
constexpr std::u16string_view kTrue = u"TRUE";
constexpr std::u16string_view kFalse = u"FALSE";

Value Err(ErrorCode e) { return Value::Error(e); }

// A whole number from a value, as Excel truncates argument counts and positions.
bool Whole(const Value& v, double& out, Value& error) {
  const Value n = ToNumber(v);
  if (n.IsError()) {
    error = n;
    return false;
  }
  out = std::trunc(n.number);
  return true;
}

// ---- Rounding at Excel's 15 significant digits -------------------------

double Round15(double v) {
  if (v == 0 || !std::isfinite(v)) return v;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.14e", v);
  return std::strtod(buf, nullptr);
}

enum class RoundMode { kHalfAway, kUp, kDown };

// x rounded to `digits` decimals (negative: to tens, hundreds), the scaled
// value first brought to 15 digits so that 2.675 rounds as it reads.
double RoundDecimal(double x, double digits, RoundMode mode) {
  const int d = static_cast<int>(std::clamp(digits, -308.0, 308.0));
  if (d > 15) return x;
  const double scale = std::pow(10.0, std::abs(d));
  double v = d >= 0 ? x * scale : x / scale;
  if (!std::isfinite(v)) return x;
  v = Round15(v);
  const double a = std::fabs(v);
  double r = a;
  switch (mode) {
    case RoundMode::kHalfAway: r = std::floor(a + 0.5); break;
    case RoundMode::kUp: r = std::ceil(a); break;
    case RoundMode::kDown: r = std::floor(a); break;
  }
  if (v < 0) r = -r;
  return d >= 0 ? r / scale : r * scale;
}

// ---- Arguments ----------------------------------------------------------

// Every value an aggregate sees in argument i: a reference's used cells and
// an array's items (`direct` false), or the argument itself (`direct` true).
// A text in a reference comes without its characters: no aggregate reads them.
template <class F>
void EachValue(Call& c, int i, F&& f) {
  const Value v = c.Arg(i);
  if (v.kind == Kind::kRef) {
    c.Used(v.area, [&](int, int, const Value& cell) { return f(cell, false); }, false);
  } else if (v.kind == Kind::kArray) {
    for (const Value& item : v.items) {
      if (!f(item, false)) return;
    }
  } else if (!c.Missing(i)) {
    f(v, true);
  }
}

// The numbers of the arguments as SUM, AVERAGE, MIN and MAX take them: in
// references and arrays only numbers; given directly, anything that reads
// as a number. The first error ends it.
bool Numbers(Call& c, std::vector<double>& out, Value& error) {
  bool ok = true;
  for (int i = 0; i < c.Count() && ok; ++i) {
    EachValue(c, i, [&](const Value& v, bool direct) {
      if (v.IsError()) {
        error = v;
        ok = false;
        return false;
      }
      if (v.kind == Kind::kNumber) {
        out.push_back(v.number);
      } else if (direct) {
        const Value n = ToNumber(v);
        if (n.IsError()) {
          error = n;
          ok = false;
          return false;
        }
        out.push_back(n.number);
      }
      return true;
    });
  }
  return ok;
}

// A function of single values applied element by element when an argument
// is an array (LEN(B11:B28) inside SUMPRODUCT).
template <class F>
Value Lift(Call& c, F&& f) {
  std::vector<Value> args(size_t(c.Count()));
  int rows = 0, cols = 0;
  for (int i = 0; i < c.Count(); ++i) {
    Value v = c.Arg(i);
    if (v.kind == Kind::kRef) v = c.Scalar(v);
    if (v.kind == Kind::kArray) {
      rows = std::max(rows, v.rows);
      cols = std::max(cols, v.cols);
    }
    args[size_t(i)] = std::move(v);
  }
  if (rows == 0) return f(args);
  Value r;
  r.kind = Kind::kArray;
  r.rows = rows;
  r.cols = cols;
  std::vector<Value> one(args.size());
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < cols; ++x) {
      for (size_t i = 0; i < args.size(); ++i) {
        const Value& a = args[i];
        if (a.kind != Kind::kArray) {
          one[i] = a;
          continue;
        }
        const int yy = a.rows == 1 ? 0 : y, xx = a.cols == 1 ? 0 : x;
        one[i] = yy < a.rows && xx < a.cols ? a.items[size_t(yy) * size_t(a.cols) + size_t(xx)] : Err(ErrorCode::kNA);
      }
      r.items.push_back(f(one));
    }
  }
  return r;
}

// ---- Aggregates ---------------------------------------------------------

Value Sum(Call& c) {
  std::vector<double> n;
  Value error;
  if (!Numbers(c, n, error)) return error;
  double s = 0;
  for (double v : n) s = ApproxAdd(s, v);
  return Value::Number(s);
}

Value Product(Call& c) {
  std::vector<double> n;
  Value error;
  if (!Numbers(c, n, error)) return error;
  if (n.empty()) return Value::Number(0);
  double p = 1;
  for (double v : n) p *= v;
  return std::isfinite(p) ? Value::Number(p) : Err(ErrorCode::kNum);
}

Value Average(Call& c) {
  std::vector<double> n;
  Value error;
  if (!Numbers(c, n, error)) return error;
  if (n.empty()) return Err(ErrorCode::kDiv0);
  double s = 0;
  for (double v : n) s += v;
  return Value::Number(s / double(n.size()));
}

Value MinMax(Call& c, bool max) {
  std::vector<double> n;
  Value error;
  if (!Numbers(c, n, error)) return error;
  if (n.empty()) return Value::Number(0);
  return Value::Number(max ? *std::max_element(n.begin(), n.end()) : *std::min_element(n.begin(), n.end()));
}
Value Min(Call& c) { return MinMax(c, false); }
Value Max(Call& c) { return MinMax(c, true); }

Value Count(Call& c) {
  double n = 0;
  for (int i = 0; i < c.Count(); ++i) {
    EachValue(c, i, [&](const Value& v, bool direct) {
      double d;
      if (v.kind == Kind::kNumber || (direct && (v.kind == Kind::kBool || (v.kind == Kind::kText && TextToNumber(v.text, d))))) {
        ++n;
      }
      return true;
    });
  }
  return Value::Number(n);
}

Value CountA(Call& c) {
  double n = 0;
  for (int i = 0; i < c.Count(); ++i) {
    EachValue(c, i, [&](const Value& v, bool direct) {
      if (direct || v.kind != Kind::kEmpty) ++n;
      return true;
    });
  }
  return Value::Number(n);
}

// Empty cells and cells holding the empty text.
Value CountBlank(Call& c) {
  const Value v = c.Arg(0);
  if (v.kind != Kind::kRef) return Err(ErrorCode::kValue);
  double filled = 0;
  c.Used(v.area, [&](int, int, const Value& cell) {
    filled += !(cell.kind == Kind::kText && cell.text.empty());
    return true;
  });
  const double total = double(v.area.Rows()) * v.area.Cols() * (v.area.sheetLast - v.area.sheet + 1);
  return Value::Number(total - filled);
}

Value SumProduct(Call& c) {
  std::vector<Value> arrays;
  for (int i = 0; i < c.Count(); ++i) {
    Value a = c.Array(c.Arg(i));
    if (a.IsError()) return a;
    if (!arrays.empty() && (a.rows != arrays[0].rows || a.cols != arrays[0].cols)) return Err(ErrorCode::kValue);
    arrays.push_back(std::move(a));
  }
  if (arrays.empty()) return Err(ErrorCode::kValue);
  double s = 0;
  for (size_t k = 0; k < arrays[0].items.size(); ++k) {
    double p = 1;
    for (const Value& a : arrays) {
      const Value& item = a.items[k];
      if (item.IsError()) return item;
      p *= item.kind == Kind::kNumber ? item.number : 0;
    }
    s += p;
  }
  return Value::Number(s);
}

// ---- Criteria of COUNTIF and SUMIF --------------------------------------

// `*`, `?` and `~` as Excel's criteria and SEARCH read them, letter case ignored.
bool WildcardMatch(std::u16string_view pattern, std::u16string_view text) {
  size_t p = 0, t = 0, starP = std::u16string_view::npos, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++;
      starT = t;
      continue;
    }
    if (p < pattern.size()) {
      char16_t want = pattern[p];
      size_t step = 1;
      bool any = want == u'?';
      if (want == u'~' && p + 1 < pattern.size()) {
        want = pattern[p + 1];
        step = 2;
        any = false;
      }
      if (any || FoldUpper(want) == FoldUpper(text[t])) {
        p += step;
        ++t;
        continue;
      }
    }
    if (starP == std::u16string_view::npos) return false;
    p = starP + 1;
    t = ++starT;
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

bool HasWildcard(std::u16string_view s) {
  return s.find_first_of(u"*?~") != std::u16string_view::npos;
}

struct Criterion {
  enum Op { kEq, kNe, kLt, kLe, kGt, kGe } op = kEq;
  Value operand;
  bool empty = false;  // "=" or "<>" with nothing after it, or ""

  bool Matches(const Value& cell) const {
    const bool blank = cell.kind == Kind::kEmpty || (cell.kind == Kind::kText && cell.text.empty());
    if (empty) return op == kEq ? blank : cell.kind != Kind::kEmpty;
    if (cell.kind == Kind::kEmpty) return op == kNe;
    bool equal = false;
    int order = 0;
    bool comparable = false;
    switch (operand.kind) {
      case Kind::kNumber: {
        double d;
        if (cell.kind == Kind::kNumber) {
          comparable = true;
          order = Compare(cell, operand);
          equal = order == 0;
        } else if (cell.kind == Kind::kText && (op == kEq || op == kNe) && TextToNumber(cell.text, d)) {
          equal = ApproxEqual(d, operand.number);
        }
        break;
      }
      case Kind::kText:
        if (cell.kind == Kind::kText) {
          comparable = true;
          order = Compare(cell, operand);
          equal = HasWildcard(operand.text) ? WildcardMatch(operand.text, cell.text) : order == 0;
        }
        break;
      case Kind::kBool:
        if (cell.kind == Kind::kBool) {
          comparable = true;
          order = Compare(cell, operand);
          equal = order == 0;
        }
        break;
      case Kind::kError:
        equal = cell.kind == Kind::kError && cell.error == operand.error;
        break;
      default:
        break;
    }
    switch (op) {
      case kEq: return equal;
      case kNe: return !equal;
      case kLt: return comparable && order < 0;
      case kLe: return comparable && order <= 0;
      case kGt: return comparable && order > 0;
      case kGe: return comparable && order >= 0;
    }
    return false;
  }
};

Criterion ParseCriterion(const Value& v) {
  Criterion c;
  if (v.kind == Kind::kEmpty) {
    c.operand = Value::Number(0);  // an empty criteria cell counts as 0
    return c;
  }
  if (v.kind != Kind::kText) {
    c.operand = v;
    return c;
  }
  std::u16string_view s = v.text;
  static constexpr struct {
    std::u16string_view text;
    Criterion::Op op;
  } kOps[] = {{u"<=", Criterion::kLe}, {u">=", Criterion::kGe}, {u"<>", Criterion::kNe},
              {u"<", Criterion::kLt},  {u">", Criterion::kGt},  {u"=", Criterion::kEq}};
  for (const auto& o : kOps) {
    if (s.starts_with(o.text)) {
      c.op = o.op;
      s.remove_prefix(o.text.size());
      break;
    }
  }
  double d;
  if (s.empty()) {
    c.empty = true;
  } else if (TextToNumber(s, d)) {
    c.operand = Value::Number(d);
  } else if (EqualsNoCase(s, kTrue) || EqualsNoCase(s, kFalse)) {
    c.operand = Value::Bool(EqualsNoCase(s, kTrue));
  } else {
    c.operand = Value::Text(std::u16string(s));
  }
  return c;
}

Value CountIf(Call& c) {
  const Value range = c.Arg(0);
  if (range.kind != Kind::kRef) return Err(ErrorCode::kValue);
  const Criterion crit = ParseCriterion(c.Scalar(1));
  double n = 0, used = 0;
  c.Used(range.area, [&](int, int, const Value& cell) {
    n += crit.Matches(cell);
    ++used;
    return true;
  });
  if (crit.Matches(Value())) {
    const Area& a = range.area;
    n += double(a.Rows()) * a.Cols() * (a.sheetLast - a.sheet + 1) - used;
  }
  return Value::Number(n);
}

// The sum range takes the shape of the criteria range from its top left cell.
Value SumIf(Call& c) {
  const Value range = c.Arg(0);
  if (range.kind != Kind::kRef || range.area.sheet != range.area.sheetLast) return Err(ErrorCode::kValue);
  const Criterion crit = ParseCriterion(c.Scalar(1));
  Area sum = range.area;
  if (c.Count() >= 3 && !c.Missing(2)) {
    const Value s = c.Arg(2);
    if (s.kind != Kind::kRef || s.area.sheet != s.area.sheetLast) return Err(ErrorCode::kValue);
    sum.sheet = sum.sheetLast = s.area.sheet;
    sum.row1 = s.area.row1;
    sum.col1 = s.area.col1;
    sum.row2 = std::min(sum.row1 + range.area.Rows() - 1, kRows - 1);
    sum.col2 = std::min(sum.col1 + range.area.Cols() - 1, kCols - 1);
  }
  double total = 0;
  Value error;
  c.Used(sum, [&](int row, int col, const Value& cell) {
    if (cell.kind != Kind::kNumber && !cell.IsError()) return true;
    const bool match = sum == range.area ? crit.Matches(cell)
                                         : crit.Matches(c.Cell(range.area.sheet, range.area.row1 + (row - sum.row1),
                                                               range.area.col1 + (col - sum.col1)));
    if (!match) return true;
    if (cell.IsError()) {
      error = cell;
      return false;
    }
    total += cell.number;
    return true;
  });
  return error.IsError() ? error : Value::Number(total);
}

// ---- Lookups ------------------------------------------------------------

// Approximate lookups search as Excel does, by halving: on sorted items
// the last not above `x`; on unsorted ones whatever the halving meets.
// Items of another kind than `x` (blanks too) are stepped over to the right.
int HalvingSearch(const Value& x, const std::vector<Value>& items) {
  auto comparable = [&](const Value& v) { return v.kind == x.kind; };
  int low = -1, high = static_cast<int>(items.size());
  while (high - low >= 2) {
    int mid = (low + high) / 2;
    if (!comparable(items[size_t(mid)])) {
      int next = mid + 1;
      while (next < high && !comparable(items[size_t(next)])) ++next;
      if (next == high || (next == high - 1 && Compare(x, items[size_t(next)]) < 0)) {
        high = mid;
        continue;
      }
      mid = next;
    }
    const int c = Compare(x, items[size_t(mid)]);
    if (c == 0) {
      // The last of a run of equal items.
      while (mid + 1 < high && comparable(items[size_t(mid) + 1]) && Compare(x, items[size_t(mid) + 1]) == 0) ++mid;
      return mid;
    }
    if (c < 0) {
      high = mid;
    } else {
      low = mid;
    }
  }
  return low;
}

// The position (from 0) of `x` in `items`: exact (wildcards in a text), the
// last not above it (type 1, by halving), or the last not below it while
// the items descend (type -1). -1 when there is none.
int Find(const Value& x, const std::vector<Value>& items, int type) {
  if (type == 0) {
    const bool wild = x.kind == Kind::kText && HasWildcard(x.text);
    for (size_t i = 0; i < items.size(); ++i) {
      const Value& v = items[i];
      if (v.kind == Kind::kEmpty || v.IsError()) continue;
      if (wild ? v.kind == Kind::kText && WildcardMatch(x.text, v.text) : Compare(v, x) == 0 && v.kind == x.kind) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }
  if (type > 0) return HalvingSearch(x, items);
  int best = -1;
  for (size_t i = 0; i < items.size(); ++i) {
    const Value& v = items[i];
    if (v.kind != x.kind) continue;
    if (Compare(v, x) >= 0) {
      best = static_cast<int>(i);
    } else {
      break;
    }
  }
  return best;
}

// Column `col` (or row) of a reference or array, as values.
std::vector<Value> Line(Call& c, const Value& table, bool column, int index) {
  std::vector<Value> out;
  if (table.kind == Kind::kArray) {
    const int n = column ? table.rows : table.cols;
    for (int i = 0; i < n; ++i) {
      out.push_back(table.items[column ? size_t(i) * size_t(table.cols) + size_t(index) : size_t(index) * size_t(table.cols) + size_t(i)]);
    }
    return out;
  }
  Area a = table.area;
  if (column) {
    a.col1 = a.col2 = a.col1 + index;
  } else {
    a.row1 = a.row2 = a.row1 + index;
  }
  Value arr = c.Array(Value::Ref(a));
  return arr.items.Take();
}

Value LookupKey(Call& c) {
  Value x = c.Scalar(0);
  if (x.kind == Kind::kEmpty) x = Value::Number(0);
  return x;
}

Value Match(Call& c) {
  const Value x = LookupKey(c);
  if (x.IsError()) return x;
  double type = 1;
  if (c.Count() >= 3) {
    Value error;
    if (!Whole(c.Scalar(2), type, error)) return error;
  }
  const Value where = c.Arg(1);
  if (where.kind != Kind::kRef && where.kind != Kind::kArray) return Err(ErrorCode::kNA);
  const int rows = where.kind == Kind::kRef ? where.area.Rows() : where.rows;
  const int cols = where.kind == Kind::kRef ? where.area.Cols() : where.cols;
  if ((rows != 1 && cols != 1) || (where.kind == Kind::kRef && where.area.sheet != where.area.sheetLast)) {
    return Err(ErrorCode::kNA);
  }
  const std::vector<Value> items = Line(c, where, cols == 1, 0);
  const int at = Find(x, items, type > 0 ? 1 : type < 0 ? -1 : 0);
  return at < 0 ? Err(ErrorCode::kNA) : Value::Number(at + 1);
}

// VLOOKUP and HLOOKUP.
Value Lookup(Call& c, bool vertical) {
  const Value x = LookupKey(c);
  if (x.IsError()) return x;
  const Value table = c.Arg(1);
  if (table.kind != Kind::kRef && table.kind != Kind::kArray) return Err(ErrorCode::kValue);
  if (table.kind == Kind::kRef && table.area.sheet != table.area.sheetLast) return Err(ErrorCode::kValue);
  double index;
  Value error;
  if (!Whole(c.Scalar(2), index, error)) return error;
  bool approximate = true;
  if (c.Count() >= 4) {
    const Value a = ToBool(c.Scalar(3));
    if (a.IsError()) return a;
    approximate = a.number != 0;
  }
  const int across = vertical ? (table.kind == Kind::kRef ? table.area.Cols() : table.cols)
                              : (table.kind == Kind::kRef ? table.area.Rows() : table.rows);
  if (index < 1) return Err(ErrorCode::kValue);
  if (index > across) return Err(ErrorCode::kRef);
  const int at = Find(x, Line(c, table, vertical, 0), approximate ? 1 : 0);
  if (at < 0) return Err(ErrorCode::kNA);
  const int k = static_cast<int>(index) - 1;
  if (table.kind == Kind::kArray) {
    return table.items[vertical ? size_t(at) * size_t(table.cols) + size_t(k) : size_t(k) * size_t(table.cols) + size_t(at)];
  }
  return vertical ? c.Cell(table.area.sheet, table.area.row1 + at, table.area.col1 + k)
                  : c.Cell(table.area.sheet, table.area.row1 + k, table.area.col1 + at);
}
Value VLookup(Call& c) { return Lookup(c, true); }
Value HLookup(Call& c) { return Lookup(c, false); }

// A cell, row or column of a reference (a reference itself), or an array's item.
Value Index(Call& c) {
  const Value from = c.Arg(0);
  double row = 0, col = 0;
  Value error;
  if (c.Count() >= 2 && !c.Missing(1) && !Whole(c.Scalar(1), row, error)) return error;
  if (c.Count() >= 3 && !c.Missing(2) && !Whole(c.Scalar(2), col, error)) return error;
  if (c.Count() >= 4) {
    double area;
    if (!Whole(c.Scalar(3), area, error)) return error;
    if (area != 1) return Err(ErrorCode::kRef);
  }
  if (row < 0 || col < 0) return Err(ErrorCode::kValue);
  const int rows = from.kind == Kind::kRef ? from.area.Rows() : from.kind == Kind::kArray ? from.rows : 1;
  const int cols = from.kind == Kind::kRef ? from.area.Cols() : from.kind == Kind::kArray ? from.cols : 1;
  if (from.IsError()) return from;
  // One index into a single row picks a column.
  if (c.Count() == 2 && rows == 1) std::swap(row, col);
  if (row > rows || col > cols) return Err(ErrorCode::kRef);
  if (from.kind == Kind::kRef) {
    Area a = from.area;
    if (row > 0) a.row1 = a.row2 = a.row1 + int(row) - 1;
    if (col > 0) a.col1 = a.col2 = a.col1 + int(col) - 1;
    return Value::Ref(a);
  }
  if (from.kind != Kind::kArray) return from;
  if (row > 0 && col > 0) return from.items[size_t(row - 1) * size_t(cols) + size_t(col - 1)];
  if (row == 0 && col == 0) return from;
  Value r;
  r.kind = Kind::kArray;
  if (row > 0) {
    r.rows = 1;
    r.cols = cols;
    for (int x = 0; x < cols; ++x) r.items.push_back(from.items[size_t(row - 1) * size_t(cols) + size_t(x)]);
  } else {
    r.rows = rows;
    r.cols = 1;
    for (int y = 0; y < rows; ++y) r.items.push_back(from.items[size_t(y) * size_t(cols) + size_t(col - 1)]);
  }
  return r;
}

Value RowOrColumn(Call& c, bool row) {
  if (c.Count() == 0 || c.Missing(0)) return Value::Number((row ? c.At().row : c.At().col) + 1);
  const Value v = c.Arg(0);
  if (v.kind != Kind::kRef) return v.IsError() ? v : Err(ErrorCode::kValue);
  return Value::Number((row ? v.area.row1 : v.area.col1) + 1);
}
Value Row(Call& c) { return RowOrColumn(c, true); }
Value Column(Call& c) { return RowOrColumn(c, false); }

Value Extent(Call& c, bool rows) {
  const Value v = c.Arg(0);
  if (v.IsError()) return v;
  if (v.kind == Kind::kRef) return Value::Number(rows ? v.area.Rows() : v.area.Cols());
  if (v.kind == Kind::kArray) return Value::Number(rows ? v.rows : v.cols);
  return Value::Number(1);
}
Value Rows(Call& c) { return Extent(c, true); }
Value Columns(Call& c) { return Extent(c, false); }

// ---- Logic --------------------------------------------------------------

Value AndOr(Call& c, bool isAnd) {
  bool any = false, result = isAnd;
  Value error;
  for (int i = 0; i < c.Count() && !error.IsError(); ++i) {
    // A left-out argument counts as FALSE.
    if (c.Missing(i)) {
      any = true;
      result = isAnd ? false : result;
      continue;
    }
    EachValue(c, i, [&](const Value& v, bool direct) {
      if (v.IsError()) {
        error = v;
        return false;
      }
      if (!direct && v.kind != Kind::kNumber && v.kind != Kind::kBool) return true;
      const Value b = ToBool(v);
      if (b.IsError()) {
        error = b;
        return false;
      }
      any = true;
      result = isAnd ? result && b.number != 0 : result || b.number != 0;
      return true;
    });
  }
  if (error.IsError()) return error;
  return any ? Value::Bool(result) : Err(ErrorCode::kValue);
}
Value And(Call& c) { return AndOr(c, true); }
Value Or(Call& c) { return AndOr(c, false); }

Value Not(Call& c) {
  return Lift(c, [](const std::vector<Value>& a) {
    const Value b = ToBool(a[0]);
    return b.IsError() ? b : Value::Bool(b.number == 0);
  });
}
Value True(Call&) { return Value::Bool(true); }
Value False(Call&) { return Value::Bool(false); }
Value Na(Call&) { return Err(ErrorCode::kNA); }

template <bool (*Test)(const Value&)>
Value Is(Call& c) {
  return Lift(c, [](const std::vector<Value>& a) { return Value::Bool(Test(a[0])); });
}
bool IsBlankTest(const Value& v) { return v.kind == Kind::kEmpty; }
bool IsErrorTest(const Value& v) { return v.IsError(); }
bool IsErrTest(const Value& v) { return v.IsError() && v.error != ErrorCode::kNA; }
bool IsNaTest(const Value& v) { return v.IsError() && v.error == ErrorCode::kNA; }
bool IsNumberTest(const Value& v) { return v.kind == Kind::kNumber; }
bool IsTextTest(const Value& v) { return v.kind == Kind::kText; }
bool IsNonTextTest(const Value& v) { return v.kind != Kind::kText; }
bool IsLogicalTest(const Value& v) { return v.kind == Kind::kBool; }

// ---- Numbers ------------------------------------------------------------

template <class F>
Value Numeric(Call& c, F&& f) {
  return Lift(c, [&](const std::vector<Value>& a) {
    std::vector<double> n;
    for (const Value& v : a) {
      const Value x = ToNumber(v);
      if (x.IsError()) return x;
      n.push_back(x.number);
    }
    return f(n);
  });
}

Value Checked(double r) { return std::isfinite(r) ? Value::Number(r) : Err(ErrorCode::kNum); }

Value RoundWith(Call& c, RoundMode mode) {
  return Numeric(c, [mode](const std::vector<double>& n) {
    return Checked(RoundDecimal(n[0], n.size() > 1 ? std::trunc(n[1]) : 0, mode));
  });
}
Value Round(Call& c) { return RoundWith(c, RoundMode::kHalfAway); }
Value RoundUp(Call& c) { return RoundWith(c, RoundMode::kUp); }
Value RoundDown(Call& c) { return RoundWith(c, RoundMode::kDown); }
Value Trunc(Call& c) { return RoundWith(c, RoundMode::kDown); }
Value Abs(Call& c) {
  return Numeric(c, [](const std::vector<double>& n) { return Value::Number(std::fabs(n[0])); });
}
Value Int(Call& c) {
  return Numeric(c, [](const std::vector<double>& n) { return Value::Number(std::floor(n[0])); });
}
Value Sign(Call& c) {
  return Numeric(c, [](const std::vector<double>& n) { return Value::Number(n[0] > 0 ? 1 : n[0] < 0 ? -1 : 0); });
}
Value Sqrt(Call& c) {
  return Numeric(c, [](const std::vector<double>& n) { return n[0] < 0 ? Err(ErrorCode::kNum) : Value::Number(std::sqrt(n[0])); });
}
Value Pi(Call&) { return Value::Number(std::numbers::pi); }
Value Mod(Call& c) {
  return Numeric(c, [](const std::vector<double>& n) {
    if (n[1] == 0) return Err(ErrorCode::kDiv0);
    double r = n[0] - n[1] * std::floor(n[0] / n[1]);
    if (ApproxEqual(r, n[1])) r = 0;
    return Checked(r);
  });
}
Value Power(Call& c) {
  return Numeric(c, [](const std::vector<double>& n) {
    if (n[0] == 0 && n[1] == 0) return Err(ErrorCode::kNum);
    if (n[0] == 0 && n[1] < 0) return Err(ErrorCode::kDiv0);
    return Checked(std::pow(n[0], n[1]));
  });
}

// ---- Texts --------------------------------------------------------------

template <class F>
Value Textual(Call& c, F&& f) {
  return Lift(c, std::forward<F>(f));
}

Value Len(Call& c) {
  return Textual(c, [](const std::vector<Value>& a) {
    const Value t = ToText(a[0]);
    return t.IsError() ? t : Value::Number(double(t.text.size()));
  });
}

// LEFT and RIGHT: `count` characters, 1 when left out.
Value Side(Call& c, bool left) {
  const bool given = c.Count() >= 2;
  return Textual(c, [given, left](const std::vector<Value>& a) {
    const Value t = ToText(a[0]);
    if (t.IsError()) return t;
    double n = 1;
    Value error;
    if (given && !Whole(a[1], n, error)) return error;
    if (n < 0) return Err(ErrorCode::kValue);
    const size_t k = std::min(t.text.size(), static_cast<size_t>(std::min(n, double(kMaxText))));
    return Value::Text(left ? t.text.substr(0, k) : t.text.substr(t.text.size() - k));
  });
}
Value Left(Call& c) { return Side(c, true); }
Value Right(Call& c) { return Side(c, false); }

Value Mid(Call& c) {
  return Textual(c, [](const std::vector<Value>& a) {
    const Value t = ToText(a[0]);
    if (t.IsError()) return t;
    double start, n;
    Value error;
    if (!Whole(a[1], start, error) || !Whole(a[2], n, error)) return error;
    if (start < 1 || n < 0) return Err(ErrorCode::kValue);
    if (start > double(t.text.size())) return Value::Text(u"");
    return Value::Text(t.text.substr(size_t(start) - 1, static_cast<size_t>(std::min(n, double(kMaxText)))));
  });
}

Value Trim(Call& c) {
  return Textual(c, [](const std::vector<Value>& a) {
    const Value t = ToText(a[0]);
    if (t.IsError()) return t;
    std::u16string out;
    for (char16_t ch : t.text) {
      if (ch == u' ' && (out.empty() || out.back() == u' ')) continue;
      out.push_back(ch);
    }
    if (!out.empty() && out.back() == u' ') out.pop_back();
    return Value::Text(std::move(out));
  });
}

Value Fold(Call& c, bool upper) {
  return Textual(c, [upper](const std::vector<Value>& a) {
    Value t = ToText(a[0]);
    if (t.IsError()) return t;
    for (char16_t& ch : t.text) ch = upper ? FoldUpper(ch) : FoldLower(ch);
    return t;
  });
}
Value Upper(Call& c) { return Fold(c, true); }
Value Lower(Call& c) { return Fold(c, false); }

Value Concatenate(Call& c) {
  return Textual(c, [](const std::vector<Value>& a) {
    std::u16string out;
    for (const Value& v : a) {
      const Value t = ToText(v);
      if (t.IsError()) return t;
      out += t.text;
      if (out.size() > kMaxText) return Err(ErrorCode::kValue);
    }
    return Value::Text(std::move(out));
  });
}

Value ValueOf(Call& c) {
  return Textual(c, [](const std::vector<Value>& a) {
    const Value& v = a[0];
    if (v.kind == Kind::kBool) return Err(ErrorCode::kValue);
    return ToNumber(v);
  });
}

// FIND (letter case counts, no wildcards) and SEARCH (case ignored, wildcards).
Value Locate(Call& c, bool search) {
  const bool given = c.Count() >= 3;
  return Textual(c, [search, given](const std::vector<Value>& a) {
    const Value what = ToText(a[0]);
    if (what.IsError()) return what;
    const Value in = ToText(a[1]);
    if (in.IsError()) return in;
    double start = 1;
    Value error;
    if (given && !Whole(a[2], start, error)) return error;
    if (start < 1 || start > double(in.text.size()) + 1) return Err(ErrorCode::kValue);
    const size_t from = size_t(start) - 1;
    if (what.text.empty()) return Value::Number(start);
    if (!search) {
      const size_t at = in.text.find(what.text, from);
      return at == std::u16string::npos ? Err(ErrorCode::kValue) : Value::Number(double(at + 1));
    }
    // A match anywhere: the pattern with `*` after it must match a suffix.
    const std::u16string pattern = what.text + u"*";
    for (size_t i = from; i < in.text.size(); ++i) {
      if (WildcardMatch(pattern, std::u16string_view(in.text).substr(i))) return Value::Number(double(i + 1));
    }
    return Err(ErrorCode::kValue);
  });
}
Value FindText(Call& c) { return Locate(c, false); }
Value Search(Call& c) { return Locate(c, true); }

Value Substitute(Call& c) {
  const bool given = c.Count() >= 4;
  return Textual(c, [given](const std::vector<Value>& a) {
    Value t = ToText(a[0]);
    if (t.IsError()) return t;
    const Value from = ToText(a[1]);
    if (from.IsError()) return from;
    const Value to = ToText(a[2]);
    if (to.IsError()) return to;
    double instance = 0;
    Value error;
    if (given && !Whole(a[3], instance, error)) return error;
    if (given && instance < 1) return Err(ErrorCode::kValue);
    if (from.text.empty()) return t;
    std::u16string out;
    size_t at = 0, found = 0;
    for (;;) {
      const size_t hit = t.text.find(from.text, at);
      if (hit == std::u16string::npos) break;
      ++found;
      out.append(t.text, at, hit - at);
      out += (!given || found == size_t(instance)) ? to.text : from.text;
      at = hit + from.text.size();
    }
    out.append(t.text, at, std::u16string::npos);
    if (out.size() > kMaxText) return Err(ErrorCode::kValue);
    return Value::Text(std::move(out));
  });
}

Value Rept(Call& c) {
  return Textual(c, [](const std::vector<Value>& a) {
    const Value t = ToText(a[0]);
    if (t.IsError()) return t;
    double n;
    Value error;
    if (!Whole(a[1], n, error)) return error;
    if (n < 0 || n * double(t.text.size()) > double(kMaxText)) return Err(ErrorCode::kValue);
    std::u16string out;
    for (int i = 0; i < int(n); ++i) out += t.text;
    return Value::Text(std::move(out));
  });
}

Value Exact(Call& c) {
  return Textual(c, [](const std::vector<Value>& a) {
    const Value x = ToText(a[0]);
    if (x.IsError()) return x;
    const Value y = ToText(a[1]);
    if (y.IsError()) return y;
    return Value::Bool(x.text == y.text);
  });
}

Value TOf(Call& c) {
  return Textual(c, [](const std::vector<Value>& a) {
    if (a[0].IsError()) return a[0];
    return a[0].kind == Kind::kText ? a[0] : Value::Text(u"");
  });
}
Value NOf(Call& c) {
  return Textual(c, [](const std::vector<Value>& a) {
    if (a[0].IsError()) return a[0];
    if (a[0].kind == Kind::kNumber || a[0].kind == Kind::kBool) return Value::Number(a[0].number);
    return Value::Number(0);
  });
}

// ---- TEXT: number formats of digits, separators, percent and literals ---

// The parts of one number format section.
struct NumberFormat {
  std::u16string prefix, suffix;  // literal text around the digits
  int minInt = 0;        // '0's before the decimal point
  int decimals = 0;      // placeholders after it
  int minDecimals = 0;   // '0's among them
  bool grouping = false; // ',' between integer placeholders
  int percent = 0;
  int scale = 0;         // ',' right after the digits: thousands
};

// False for what this reading does not take (dates, times, fractions,
// scientific notation, colors, conditions, text between digits).
bool ParseNumberFormat(std::u16string_view f, NumberFormat& out) {
  bool digits = false, point = false, afterDigits = false;
  size_t i = 0;
  auto literal = [&](std::u16string_view s) -> bool {
    if (digits && !afterDigits) afterDigits = true;
    (digits ? out.suffix : out.prefix) += s;
    return true;
  };
  while (i < f.size()) {
    const char16_t ch = f[i];
    if (ch == u'"') {
      const size_t end = f.find(u'"', i + 1);
      if (end == std::u16string_view::npos) return false;
      literal(f.substr(i + 1, end - i - 1));
      i = end + 1;
      continue;
    }
    if (ch == u'\\') {
      if (i + 1 >= f.size()) return false;
      literal(f.substr(i + 1, 1));
      i += 2;
      continue;
    }
    if (ch == u'0' || ch == u'#') {
      if (afterDigits) return false;
      digits = true;
      if (point) {
        ++out.decimals;
        if (ch == u'0') {
          if (out.minDecimals != out.decimals - 1) return false;  // '#' before '0' after the point
          ++out.minDecimals;
        }
      } else if (ch == u'0') {
        ++out.minInt;
      } else if (out.minInt > 0) {
        return false;  // '#' after '0' before the point
      }
      ++i;
      continue;
    }
    if (ch == u'.') {
      if (point || afterDigits) return false;
      point = true;
      digits = true;
      ++i;
      continue;
    }
    if (ch == u',') {
      if (!digits) return false;
      const bool more = i + 1 < f.size() && (f[i + 1] == u'0' || f[i + 1] == u'#');
      if (more && !point) {
        out.grouping = true;
      } else if (!more) {
        ++out.scale;
      } else {
        return false;
      }
      ++i;
      continue;
    }
    if (ch == u'%') {
      ++out.percent;
      literal(u"%");
      ++i;
      continue;
    }
    if (ch == u' ' || ch == u'-' || ch == u'+' || ch == u'(' || ch == u')' || ch == u'$' || ch == u':' ||
        ch == u'/' || ch == 0x20AC) {
      if (ch == u'/' || ch == u':') return false;  // fractions and times
      literal(f.substr(i, 1));
      ++i;
      continue;
    }
    return false;
  }
  return digits;
}

std::u16string FormatNumber(double v, const NumberFormat& f) {
  for (int i = 0; i < f.percent; ++i) v *= 100;
  for (int i = 0; i < f.scale; ++i) v /= 1000;
  v = std::fabs(RoundDecimal(v, f.decimals, RoundMode::kHalfAway));
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.*f", f.decimals, v);
  std::string s = buf;
  const size_t dot = s.find('.');
  std::string whole = s.substr(0, dot), frac = dot == std::string::npos ? "" : s.substr(dot + 1);
  if (whole == "0") whole.clear();
  while (int(whole.size()) < f.minInt) whole.insert(whole.begin(), '0');
  while (int(frac.size()) > f.minDecimals && frac.back() == '0') frac.pop_back();
  if (f.grouping) {
    for (int k = int(whole.size()) - 3; k > 0; k -= 3) whole.insert(size_t(k), ",");
  }
  std::u16string out = f.prefix;
  for (char ch : whole) out.push_back(static_cast<char16_t>(ch));
  if (f.decimals > 0 && (!frac.empty() || f.minDecimals > 0)) {
    out.push_back(u'.');
    for (char ch : frac) out.push_back(static_cast<char16_t>(ch));
  } else if (f.decimals > 0) {
    out.push_back(u'.');
  }
  out += f.suffix;
  return out;
}

// Sections by ';' outside quotes.
std::vector<std::u16string_view> Sections(std::u16string_view f) {
  std::vector<std::u16string_view> out;
  bool quoted = false;
  size_t start = 0;
  for (size_t i = 0; i < f.size(); ++i) {
    if (f[i] == u'"') quoted = !quoted;
    if (f[i] == u'\\') ++i;
    if (f[i] == u';' && !quoted) {
      out.push_back(f.substr(start, i - start));
      start = i + 1;
    }
  }
  out.push_back(f.substr(start));
  return out;
}

Value Text(Call& c) {
  return Textual(c, [](const std::vector<Value>& a) {
    const Value& v = a[0];
    if (v.IsError()) return v;
    const Value f = ToText(a[1]);
    if (f.IsError()) return f;
    Value n = v;
    double d;
    if (v.kind == Kind::kText && TextToNumber(v.text, d)) n = Value::Number(d);
    if (v.kind == Kind::kEmpty) n = Value::Number(0);
    const std::vector<std::u16string_view> sections = Sections(f.text);
    if (n.kind != Kind::kNumber) {
      if (sections.size() < 4) return ToText(v);
      throw NotEvaluated{u"TEXT"};
    }
    if (sections.size() > 3) throw NotEvaluated{u"TEXT"};
    std::u16string_view section = sections[0];
    bool sign = n.number < 0;
    if (n.number < 0 && sections.size() >= 2) {
      section = sections[1];
      sign = false;
    } else if (n.number == 0 && sections.size() >= 3) {
      section = sections[2];
    }
    if (EqualsNoCase(section, u"General") || section.empty()) {
      return Value::Text((sign ? u"-" : u"") + NumberToText(std::fabs(n.number)));
    }
    NumberFormat nf;
    if (!ParseNumberFormat(section, nf)) throw NotEvaluated{u"TEXT"};
    std::u16string out = FormatNumber(n.number, nf);
    // A negative number rounded to zero shows no sign.
    bool zero = out.find_first_of(u"123456789") == std::u16string::npos;
    return Value::Text(sign && !zero ? u"-" + out : out);
  });
}

// ---- CHAR and CODE in Windows-1252 -------------------------------------

constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

Value Char(Call& c) {
  return Numeric(c, [](const std::vector<double>& n) {
    const double k = std::trunc(n[0]);
    if (k < 1 || k > 255) return Err(ErrorCode::kValue);
    const int b = int(k);
    return Value::Text(std::u16string(1, b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char16_t(b)));
  });
}

Value Code(Call& c) {
  return Textual(c, [](const std::vector<Value>& a) {
    const Value t = ToText(a[0]);
    if (t.IsError()) return t;
    if (t.text.empty()) return Err(ErrorCode::kValue);
    const char16_t ch = t.text[0];
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) return Value::Number(ch);
    for (int i = 0; i < 32; ++i) {
      if (kCp1252High[i] == ch) return Value::Number(0x80 + i);
    }
    return Value::Number('?');
  });
}

}  // namespace

const FunctionInfo* FindFunction(uint16_t id) {
  const auto* end = std::end(kFtab);
  const auto* it = std::lower_bound(std::begin(kFtab), end, id, [](const FunctionInfo& f, uint16_t v) { return f.id < v; });
  return it != end && it->id == id ? it : nullptr;
}

std::u16string FunctionName(uint16_t id) {
  std::u16string out;
  if (const FunctionInfo* f = FindFunction(id)) {
    for (const char* p = f->name; *p; ++p) out.push_back(static_cast<char16_t>(*p));
    return out;
  }
  for (char ch : "Funktion " + std::to_string(id)) out.push_back(static_cast<char16_t>(ch));
  return out;
}

FunctionImpl Implementation(uint16_t id) {
  switch (id) {
    case fn::kCount: return Count;
    case fn::kIsNa: return Is<IsNaTest>;
    case fn::kIsError: return Is<IsErrorTest>;
    case fn::kSum: return Sum;
    case fn::kAverage: return Average;
    case fn::kMin: return Min;
    case fn::kMax: return Max;
    case fn::kRow: return Row;
    case fn::kColumn: return Column;
    case fn::kNa: return Na;
    case fn::kPi: return Pi;
    case fn::kSqrt: return Sqrt;
    case fn::kAbs: return Abs;
    case fn::kInt: return Int;
    case fn::kSign: return Sign;
    case fn::kRound: return Round;
    case fn::kIndex: return Index;
    case fn::kRept: return Rept;
    case fn::kMid: return Mid;
    case fn::kLen: return Len;
    case fn::kValue: return ValueOf;
    case fn::kTrue: return True;
    case fn::kFalse: return False;
    case fn::kAnd: return And;
    case fn::kOr: return Or;
    case fn::kNot: return Not;
    case fn::kMod: return Mod;
    case fn::kText: return Text;
    case fn::kMatch: return Match;
    case fn::kRows: return Rows;
    case fn::kColumns: return Columns;
    case fn::kSearch: return Search;
    case fn::kHLookup: return HLookup;
    case fn::kVLookup: return VLookup;
    case fn::kChar: return Char;
    case fn::kLower: return Lower;
    case fn::kUpper: return Upper;
    case fn::kLeft: return Left;
    case fn::kRight: return Right;
    case fn::kExact: return Exact;
    case fn::kTrim: return Trim;
    case fn::kSubstitute: return Substitute;
    case fn::kCode: return Code;
    case fn::kFind: return FindText;
    case fn::kIsErr: return Is<IsErrTest>;
    case fn::kIsText: return Is<IsTextTest>;
    case fn::kIsNumber: return Is<IsNumberTest>;
    case fn::kIsBlank: return Is<IsBlankTest>;
    case fn::kT: return TOf;
    case fn::kN: return NOf;
    case fn::kProduct: return Product;
    case fn::kIsNonText: return Is<IsNonTextTest>;
    case fn::kTrunc: return Trunc;
    case fn::kIsLogical: return Is<IsLogicalTest>;
    case fn::kRoundUp: return RoundUp;
    case fn::kRoundDown: return RoundDown;
    case fn::kSumProduct: return SumProduct;
    case fn::kConcatenate: return Concatenate;
    case fn::kPower: return Power;
    case fn::kSumIf: return SumIf;
    case fn::kCountIf: return CountIf;
    case fn::kCountBlank: return CountBlank;
    case fn::kCountA: return CountA;
    default: return nullptr;
  }
}

bool ReadsAnyCell(uint16_t id) { return id == fn::kIndirect || id == fn::kOffset || id == fn::kCell; }

bool IsVolatile(uint16_t id) {
  return ReadsAnyCell(id) || id == fn::kNow || id == fn::kToday || id == fn::kRand || id == fn::kInfo;
}

}  // namespace skov::xls::calc
