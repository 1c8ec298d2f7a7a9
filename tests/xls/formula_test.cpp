// Formula unit: Excel's conversions, tokens of both versions evaluated against a small sheet, and the recalculation of a filled book.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "xls/biff_test_util.h"
#include "xls/book.h"
#include "xls/formula_eval.h"
#include "xls/formula_functions.h"
#include "xls/formula_parse.h"
#include "xls/formula_value.h"

namespace skov::xls::calc {

void PrintTo(const Value& v, std::ostream* os) {
  switch (v.kind) {
    case Kind::kNumber: *os << v.number; break;
    case Kind::kText: *os << '"' << std::string(v.text.begin(), v.text.end()) << '"'; break;
    case Kind::kBool: *os << (v.number ? "TRUE" : "FALSE"); break;
    case Kind::kError: *os << "error " << int(v.error); break;
    default: *os << "kind " << int(v.kind); break;
  }
}

namespace {

using testing::Bytes;
using testing::Le;

TEST(FormulaValue, NumbersBecomeTextAsExcelConvertsThem) {
  const struct {
    double v;
    const char16_t* text;
  } cases[] = {
      {0, u"0"},           {4, u"4"},
      {-0.5, u"-0.5"},     {1.0 / 3, u"0.333333333333333"},
      {0.1 + 0.2, u"0.3"}, {1234567.5, u"1234567.5"},
      {1e15 - 1, u"999999999999999"}, {1e15, u"1E+15"},
      {123456789012345678.0, u"1.23456789012346E+17"}, {1e-9, u"0.000000001"},
      {1.5e-10, u"1.5E-10"},
  };
  for (const auto& c : cases) EXPECT_EQ(NumberToText(c.v), c.text) << c.v;
}

TEST(FormulaValue, TextsReadAsNumbersOnlyWhenTheyAreOne) {
  const struct {
    const char16_t* text;
    bool ok;
    double v;
  } cases[] = {
      {u" 10 ", true, 10}, {u"1.5", true, 1.5}, {u"-.5", true, -0.5}, {u"+2", true, 2},
      {u"1e3", true, 1000}, {u"50%", true, 0.5}, {u"1,5", false, 0}, {u"", false, 0},
      {u"abc", false, 0},  {u"1e", false, 0},   {u"12a", false, 0},
  };
  for (const auto& c : cases) {
    double v = -1;
    EXPECT_EQ(TextToNumber(c.text, v), c.ok) << std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text));
    if (c.ok) {
      EXPECT_EQ(v, c.v);
    }
  }
}

TEST(FormulaValue, ComparisonOrdersKindsAndIgnoresCase) {
  const struct {
    Value a, b;
    int sign;
  } cases[] = {
      {Value::Text(u"abc"), Value::Text(u"ABC"), 0}, {Value::Text(u"a"), Value::Text(u"B"), -1},
      {Value::Number(1), Value::Text(u"a"), -1},     {Value::Text(u"z"), Value::Bool(false), -1},
      {Value(), Value::Number(0), 0},                {Value(), Value::Text(u""), 0},
      {Value(), Value::Bool(false), 0},              {Value::Number(0.1 + 0.2), Value::Number(0.3), 0},
      {Value::Text(u"ä"), Value::Text(u"Ä"), 0},
  };
  for (const auto& c : cases) {
    const int r = Compare(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign);
  }
}

// ---- Tokens evaluated ---------------------------------------------------

// Tokens written by hand, as Excel's parser emits them. Operand classes:
// reference +0x00, value +0x20, array +0x40 on the base token.
struct Rgce {
  Bytes b;
  bool biff5 = false;
  Rgce& Int(uint16_t v) { return Put(0x1E), Le(b, v, 2), *this; }
  Rgce& Num(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    return Put(0x1F), Le(b, bits, 8), *this;
  }
  Rgce& Str(const std::string& s) {
    Put(0x17);
    Put(uint8_t(s.size()));
    if (!biff5) Put(0);
    b.insert(b.end(), s.begin(), s.end());
    return *this;
  }
  Rgce& Bool(bool v) { return Put(0x1D), Put(v), *this; }
  Rgce& Op(uint8_t op) { return Put(op), *this; }
  Rgce& Missing() { return Put(0x16), *this; }
  // A cell or area, absolute; `offsets` makes them tRefN/tAreaN with signed offsets.
  Rgce& Ref(int row, int col, uint8_t cls = 0x20, bool offsets = false) {
    Put(uint8_t((offsets ? 0x2C : 0x24) + cls));
    Addr(row, col, offsets);
    return *this;
  }
  Rgce& Area(int r1, int c1, int r2, int c2, uint8_t cls = 0x00) {
    Put(uint8_t(0x25 + cls));
    if (biff5) {
      Le(b, uint16_t(r1), 2), Le(b, uint16_t(r2), 2), Put(uint8_t(c1)), Put(uint8_t(c2));
    } else {
      Le(b, uint16_t(r1), 2), Le(b, uint16_t(r2), 2), Le(b, uint16_t(c1), 2), Le(b, uint16_t(c2), 2);
    }
    return *this;
  }
  Rgce& Ref3d(uint16_t xti, int row, int col) {
    Put(0x5A);
    Le(b, xti, 2);
    Addr(row, col, false);
    return *this;
  }
  Rgce& Func(uint16_t id, uint8_t cls = 0x20) { return Put(uint8_t(0x21 + cls)), Le(b, id, 2), *this; }
  Rgce& FuncVar(uint16_t id, uint8_t argc, uint8_t cls = 0x20) {
    return Put(uint8_t(0x22 + cls)), Put(argc), Le(b, id, 2), *this;
  }
  // The jump tokens Excel puts into IF; the evaluator must step over them.
  Rgce& AttrIf() { return Put(0x19), Put(0x02), Le(b, 0, 2), *this; }
  Rgce& AttrGoto() { return Put(0x19), Put(0x08), Le(b, 0, 2), *this; }

 private:
  void Put(uint8_t v) { b.push_back(v); }
  void Addr(int row, int col, bool offsets) {
    const uint16_t rel = offsets ? 0xC000 : 0;
    if (biff5) {
      Le(b, uint16_t((row & 0x3FFF) | rel), 2);
      Put(uint8_t(col));
    } else {
      Le(b, uint16_t(row), 2);
      Le(b, uint16_t((col & 0xFF) | rel), 2);
    }
  }
};

// Sheet 0: A1 1, A2 "2", A3 empty, A4 TRUE, A5 "abc", B1 #DIV/0!, B2 "GER-1",
// C1:C3 10/20/30 beside D1:D3 "x"/"y"/"z"; sheet 1: A1 "other".
class Cells : public CellReader {
 public:
  Cells() {
    at_[{0, 0, 0}] = Value::Number(1);
    at_[{0, 1, 0}] = Value::Text(u"2");
    at_[{0, 3, 0}] = Value::Bool(true);
    at_[{0, 4, 0}] = Value::Text(u"abc");
    at_[{0, 0, 1}] = Value::Error(ErrorCode::kDiv0);
    at_[{0, 1, 1}] = Value::Text(u"GER-1");
    for (int r = 0; r < 3; ++r) {
      at_[{0, r, 2}] = Value::Number(10.0 * (r + 1));
      at_[{0, r, 3}] = Value::Text(std::u16string(1, char16_t(u'x' + r)));
    }
    at_[{1, 0, 0}] = Value::Text(u"other");
  }
  Value Cell(int s, int r, int c) override {
    auto it = at_.find({s, r, c});
    return it == at_.end() ? Value() : it->second;
  }
  void Used(int s, int r1, int c1, int r2, int c2, bool, CellVisit visit) override {
    for (const auto& [k, v] : at_) {
      const auto [ks, kr, kc] = k;
      if (ks == s && r1 <= kr && kr <= r2 && c1 <= kc && kc <= c2 && !visit(kr, kc, v)) return;
    }
  }

 private:
  std::map<std::tuple<int, int, int>, Value> at_;
};

Globals TwoSheets() {
  Globals g;
  g.sheetCount = 2;
  g.selfBook = 0;
  g.xti.push_back({1, 1, false, 0});
  return g;
}

Value Eval(const Rgce& r, Position at = {0, 9, 9}, bool shared = false) {
  ParseOptions o;
  o.biff5 = r.biff5;
  o.relativeOffsets = shared;
  Cells cells;
  return Evaluate(ParseExpr(r.b, {}, o), at, TwoSheets(), cells);
}

// Each case a formula as Excel's tokens, in BIFF8 and (where the tokens
// differ) BIFF5, and the value Excel gives.
TEST(FormulaEval, FunctionsAndOperatorsAsExcelComputesThem) {
  using R = Rgce;
  const struct {
    const char* formula;
    std::function<void(Rgce&)> tokens;
    Value want;
  } cases[] = {
      {"SUM(A1:A5): texts and booleans in a range skipped", [](R& r) { r.Area(0, 0, 4, 0).FuncVar(fn::kSum, 1); }, Value::Number(1)},
      {"A2+1: a text that reads as a number", [](R& r) { r.Ref(1, 0).Int(1).Op(0x03); }, Value::Number(3)},
      {"COUNTA(A1:A5)", [](R& r) { r.Area(0, 0, 4, 0).FuncVar(fn::kCountA, 1); }, Value::Number(4)},
      {"COUNT(A1:A5)", [](R& r) { r.Area(0, 0, 4, 0).FuncVar(fn::kCount, 1); }, Value::Number(1)},
      {"COUNTBLANK(A1:A5)", [](R& r) { r.Area(0, 0, 4, 0).Func(fn::kCountBlank); }, Value::Number(1)},
      {"A4&A1: TRUE and 1 as texts", [](R& r) { r.Ref(3, 0).Ref(0, 0).Op(0x08); }, Value::Text(u"TRUE1")},
      {"IF(A3=\"\";\"leer\";\"voll\")",
       [](R& r) { r.Ref(2, 0).Str("").Op(0x0B).AttrIf().Str("leer").AttrGoto().Str("voll").AttrGoto().FuncVar(fn::kIf, 3); },
       Value::Text(u"leer")},
      {"IF(TRUE;1;INDIRECT(\"A1\")): the branch not taken is not evaluated",
       [](R& r) { r.Bool(true).Int(1).Str("A1").FuncVar(fn::kIndirect, 1, 0).FuncVar(fn::kIf, 3); }, Value::Number(1)},
      {"IF(FALSE;1): FALSE", [](R& r) { r.Bool(false).Int(1).FuncVar(fn::kIf, 2); }, Value::Bool(false)},
      {"IF(FALSE;1;): a left-out branch is 0", [](R& r) { r.Bool(false).Int(1).Missing().FuncVar(fn::kIf, 3); }, Value::Number(0)},
      {"B1+1: errors pass on", [](R& r) { r.Ref(0, 1).Int(1).Op(0x03); }, Value::Error(ErrorCode::kDiv0)},
      {"1/0", [](R& r) { r.Int(1).Int(0).Op(0x06); }, Value::Error(ErrorCode::kDiv0)},
      {"VLOOKUP(20;C1:D3;2;FALSE)", [](R& r) { r.Int(20).Area(0, 2, 2, 3).Int(2).Bool(false).FuncVar(fn::kVLookup, 4); }, Value::Text(u"y")},
      {"VLOOKUP(25;C1:D3;2): the last not above", [](R& r) { r.Int(25).Area(0, 2, 2, 3).Int(2).FuncVar(fn::kVLookup, 3); }, Value::Text(u"y")},
      {"MATCH(\"Y\";D1:D3;0)", [](R& r) { r.Str("Y").Area(0, 3, 2, 3).Int(0).FuncVar(fn::kMatch, 3); }, Value::Number(2)},
      {"MATCH(\"G*\";B1:B2;0): wildcards", [](R& r) { r.Str("G*").Area(0, 1, 1, 1).Int(0).FuncVar(fn::kMatch, 3); }, Value::Number(2)},
      {"INDEX(C1:C3;3)", [](R& r) { r.Area(0, 2, 2, 2).Int(3).FuncVar(fn::kIndex, 2, 0); }, Value::Number(30)},
      {"SUMPRODUCT((A1:A5<>\"\")*1): arrays element by element",
       [](R& r) { r.Area(0, 0, 4, 0, 0x40).Str("").Op(0x0E).Int(1).Op(0x05).FuncVar(fn::kSumProduct, 1, 0x20); }, Value::Number(4)},
      {"SUMIF(D1:D3;\"<>y\";C1:C3)", [](R& r) { r.Area(0, 3, 2, 3).Str("<>y").Area(0, 2, 2, 2).FuncVar(fn::kSumIf, 3); }, Value::Number(40)},
      {"COUNTIF(C1:C3;\">=20\")", [](R& r) { r.Area(0, 2, 2, 2).Str(">=20").Func(fn::kCountIf); }, Value::Number(2)},
      {"ROUND(2.675;2)", [](R& r) { r.Num(2.675).Int(2).Func(fn::kRound); }, Value::Number(2.68)},
      {"ROUND(-2.5;0): half away from zero", [](R& r) { r.Num(-2.5).Int(0).Func(fn::kRound); }, Value::Number(-3)},
      {"MOD(-3;2)", [](R& r) { r.Num(-3).Int(2).Func(fn::kMod); }, Value::Number(1)},
      {"TEXT(1234.5;\"#,##0.00\")", [](R& r) { r.Num(1234.5).Str("#,##0.00").Func(fn::kText); }, Value::Text(u"1,234.50")},
      {"TEXT(0.5;\"0%\")", [](R& r) { r.Num(0.5).Str("0%").Func(fn::kText); }, Value::Text(u"50%")},
      {"TEXT(4;\"000\")", [](R& r) { r.Int(4).Str("000").Func(fn::kText); }, Value::Text(u"004")},
      {"VALUE(TRIM(\" 4 \"))", [](R& r) { r.Str(" 4 ").Func(fn::kTrim).Func(fn::kValue); }, Value::Number(4)},
      {"TRIM: inner runs of spaces become one", [](R& r) { r.Str("  a   b ").Func(fn::kTrim); }, Value::Text(u"a b")},
      {"MID(B2;2;3)&RIGHT(B2)&LEN(B2)",
       [](R& r) { r.Ref(1, 1).Int(2).Int(3).Func(fn::kMid).Ref(1, 1).FuncVar(fn::kRight, 1).Op(0x08).Ref(1, 1).Func(fn::kLen).Op(0x08); },
       Value::Text(u"ER-15")},
      {"SEARCH(\"r?1\";B2) and FIND is case-sensitive",
       [](R& r) { r.Str("r?1").Ref(1, 1).FuncVar(fn::kSearch, 2).Str("r").Ref(1, 1).FuncVar(fn::kFind, 2).Op(0x08); },
       Value::Error(ErrorCode::kValue)},
      {"SUBSTITUTE(\"a-b-c\";\"-\";\"+\";2)", [](R& r) { r.Str("a-b-c").Str("-").Str("+").Int(2).FuncVar(fn::kSubstitute, 4); }, Value::Text(u"a-b+c")},
      {"ROW()*100+COLUMN(C2)", [](R& r) { r.FuncVar(fn::kRow, 0).Int(100).Op(0x05).Ref(1, 2, 0).FuncVar(fn::kColumn, 1).Op(0x03); }, Value::Number(203)},
      {"ROWS(A1:C4)+COLUMNS(A1:C4)", [](R& r) { r.Area(0, 0, 3, 2).Func(fn::kRows).Area(0, 0, 3, 2).Func(fn::kColumns).Op(0x03); }, Value::Number(7)},
      {"CHOOSE(2;\"a\";A5)", [](R& r) { r.Int(2).Str("a").Ref(4, 0, 0).FuncVar(fn::kChoose, 3); }, Value::Text(u"abc")},
      {"AND(A1:A5) skips texts; OR(0;A4)", [](R& r) { r.Area(0, 0, 4, 0).FuncVar(fn::kAnd, 1).Int(0).Ref(3, 0).FuncVar(fn::kOr, 2).Op(0x08); }, Value::Text(u"TRUETRUE")},
      {"ISBLANK(A3)&ISTEXT(A2)&ISNUMBER(A2)",
       [](R& r) { r.Ref(2, 0).Func(fn::kIsBlank).Ref(1, 0).Func(fn::kIsText).Op(0x08).Ref(1, 0).Func(fn::kIsNumber).Op(0x08); },
       Value::Text(u"TRUETRUEFALSE")},
      {"Blatt2!A1 through EXTERNSHEET", [](R& r) { r.Ref3d(0, 0, 0); }, Value::Text(u"other")},
      {"A1:A5 as one value in row 2: implicit intersection", [](R& r) { r.Area(0, 0, 4, 0, 0x20); }, Value::Text(u"2")},
      {"A3: an empty cell is 0", [](R& r) { r.Ref(2, 0); }, Value::Number(0)},
      {"UPPER(\"straße ä\")", [](R& r) { r.Str("stra\xdf" "e \xe4").Func(fn::kUpper); }, Value::Text(u"STRAßE Ä")},
  };
  for (const auto& c : cases) {
    for (bool biff5 : {false, true}) {
      Rgce r;
      r.biff5 = biff5;
      c.tokens(r);
      if (biff5 && std::string(c.formula).find("EXTERNSHEET") != std::string::npos) continue;
      Value got;
      try {
        got = Eval(r, {0, 1, 9});
      } catch (const NotEvaluated& e) {
        ADD_FAILURE() << c.formula << (biff5 ? " (BIFF5)" : "") << ": not evaluated";
        continue;
      }
      if (c.want.kind == Kind::kNumber && got.kind == Kind::kNumber) {
        EXPECT_NEAR(got.number, c.want.number, 1e-12) << c.formula;
      } else {
        EXPECT_EQ(got, c.want) << c.formula << (biff5 ? " (BIFF5)" : "");
      }
    }
  }
}

TEST(FormulaEval, SharedFormulaOffsetsWrapAroundTheSheet) {
  for (bool biff5 : {false, true}) {
    Rgce r;
    r.biff5 = biff5;
    r.Ref(-1, 2, 0x20, true);  // one row up, two columns right of the cell evaluated
    EXPECT_EQ(Eval(r, {0, 1, 0}, true), Value::Number(10)) << biff5;
    // From row 0 one row up is the last row, which is empty.
    EXPECT_EQ(Eval(r, {0, 0, 0}, true), Value::Number(0)) << biff5;
  }
}

TEST(FormulaEval, WhatIsNotEvaluatedSaysWhy) {
  const struct {
    std::function<void(Rgce&)> tokens;
    const char16_t* why;
  } cases[] = {
      {[](Rgce& r) { r.Str("A1").FuncVar(fn::kIndirect, 1, 0); }, u"INDIRECT"},
      {[](Rgce& r) { r.FuncVar(fn::kNow, 0); }, u"NOW"},
      {[](Rgce& r) { r.Ref(0, 0).Ref(1, 0).Op(0x10); }, u"Bezugsvereinigung"},
      {[](Rgce& r) { r.Int(1).Int(2); }, u"beschaedigte Formel"},
  };
  for (const auto& c : cases) {
    Rgce r;
    c.tokens(r);
    try {
      Eval(r);
      ADD_FAILURE() << "evaluated";
    } catch (const NotEvaluated& e) {
      EXPECT_EQ(e.why, c.why);
    }
  }
}

// ---- A filled book --------------------------------------------------------

using testing::BuildStream;
using testing::Formula;
using testing::R;
using testing::ReadStream;
using testing::Rec;
using testing::RawRec;

// The stored result of the FORMULA at (row, col) of sheet 0, and whether a
// STRING record follows it.
struct Stored {
  Value v;
  bool stringRecord = false;
};
Stored StoredAt(const Bytes& stream, int row, int col) {
  const auto book = ReadStream(stream);
  const auto& recs = book.sheets.at(0).records;
  for (size_t i = 0; i < recs.size(); ++i) {
    const RawRec& f = recs[i];
    if (f.type != 0x0006 || testing::Rd(f.body, 0, 2) != uint32_t(row) || testing::Rd(f.body, 2, 2) != uint32_t(col)) continue;
    Stored s;
    size_t k = i + 1;
    while (k < recs.size() && (recs[k].type == 0x04BC || recs[k].type == 0x0221)) ++k;
    s.stringRecord = k < recs.size() && recs[k].type == 0x0207;
    if (testing::Rd(f.body, 12, 2) != 0xFFFF) {
      double d;
      std::memcpy(&d, &f.body[6], 8);
      s.v = Value::Number(d);
    } else if (f.body[6] == 0) {
      std::u16string t;
      const Bytes& b = recs.at(k).body;
      for (size_t j = 3; j < b.size(); ++j) t.push_back(b[j]);
      s.v = Value::Text(t);
    } else if (f.body[6] == 1) {
      s.v = Value::Bool(f.body[8]);
    } else if (f.body[6] == 2) {
      s.v = Value::Error(ErrorCode(f.body[8]));
    } else {
      s.v = Value::Text(u"");
    }
    return s;
  }
  ADD_FAILURE() << "no formula at " << row << "," << col;
  return {};
}

// Sheet 0: A1 "alt"; B1 =A1&"!", B2 =COUNTA(A1:A2), B3 =1+1, B4 =INDIRECT("A1"),
// B5 =B6 and B6 =B5 (a circle through A1), B7 =A1&"" , C1:C2 a shared =A1
// (tRefN), B8 =B1&"?" (reads a due formula), B9 =ROWS(A1:B9) (reads no cell,
// its own included), B10 =IF(TRUE;A1;B11) and B11 =B10&"x" (a circle to the
// tokens, none as evaluated).
Bytes FormulaBook(bool recalcId) {
  auto tokens = [](auto f) {
    Rgce r;
    f(r);
    return r.b;
  };
  std::vector<Rec> globals = {testing::Sst({"alt", "alt!"}, 2)};
  if (recalcId) globals.insert(globals.begin(), R(0x01C1, {{0x01C1, 2}, {0, 2}, {0x00019F5F, 4}}));
  Rec shr = R(0x04BC, {{0, 2}, {1, 2}, {2, 1}, {2, 1}, {0, 1}, {2, 1}});
  const Bytes rel = tokens([](Rgce& r) { r.Ref(0, -2, 0x20, true); });
  // tRefN with a column offset of -2 from column C: A.
  Le(shr.body, rel.size(), 2);
  shr.body.insert(shr.body.end(), rel.begin(), rel.end());
  std::vector<Rec> cells = {
      testing::LabelSst(0, 0, 15, 0),
      Formula(0, 1, 15, tokens([](Rgce& r) { r.Ref(0, 0).Str("!").Op(0x08); }), true), testing::StringRec("alt!"),
      Formula(0, 2, 15, testing::PtgExp(0, 2)), shr,
      Formula(1, 1, 15, tokens([](Rgce& r) { r.Area(0, 0, 1, 0).FuncVar(fn::kCountA, 1); })),
      Formula(1, 2, 15, testing::PtgExp(0, 2)),
      Formula(2, 1, 15, tokens([](Rgce& r) { r.Int(1).Int(1).Op(0x03); })),
      Formula(3, 1, 15, tokens([](Rgce& r) { r.Str("A1").FuncVar(fn::kIndirect, 1, 0); })),
      Formula(4, 1, 15, tokens([](Rgce& r) { r.Ref(5, 1).Ref(0, 0).Op(0x08); })),
      Formula(5, 1, 15, tokens([](Rgce& r) { r.Ref(4, 1); })),
      Formula(6, 1, 15, tokens([](Rgce& r) { r.Ref(0, 0).Str("").Op(0x08); })),
      Formula(7, 1, 15, tokens([](Rgce& r) { r.Ref(0, 1).Str("?").Op(0x08); })),
      Formula(8, 1, 15, tokens([](Rgce& r) { r.Area(0, 0, 8, 1).Func(fn::kRows); })),
      Formula(9, 1, 15, tokens([](Rgce& r) { r.Bool(true).Ref(0, 0).Ref(10, 1).FuncVar(fn::kIf, 3); })),
      Formula(10, 1, 15, tokens([](Rgce& r) { r.Ref(9, 1).Str("x").Op(0x08); })),
      testing::Window2(0x06B6)};
  // Stored results as the template's writer left them: B2 1, B3 2.
  auto result = [](Rec& f, double v) { std::memcpy(&f.body[6], &v, 8); };
  result(cells[5], 1);
  result(cells[7], 2);
  return BuildStream(globals, {{"Blatt1", cells}});
}

TEST(FormulaBook, DueFormulasGetTheirResultsOthersKeepTheirBytes) {
  const Bytes stream = FormulaBook(true);
  Book book(ParseWorkbookStream(stream));
  book.WriteCell(1, 1, 1, u"neu");
  const RecalcReport& r = book.Recalculate();
  const Bytes out = book.Serialize();
  const struct {
    int row, col;
    Value want;
    bool stringRecord;
  } cases[] = {
      {0, 1, Value::Text(u"neu!"), true},   // a text result and its STRING record
      {0, 2, Value::Text(u"neu"), true},    // the shared formula's anchor
      {1, 2, Value::Number(0), false},      // its member reads A2, which is empty
      {1, 1, Value::Number(1), false},      // due, same result
      {2, 1, Value::Number(2), false},      // not due
      {6, 1, Value::Text(u"neu"), true},
      {7, 1, Value::Text(u"neu!?"), true},  // after B1, in dependency order
      {9, 1, Value::Text(u"neu"), true},
      {10, 1, Value::Text(u"neux"), true},
  };
  for (const auto& c : cases) {
    const Stored s = StoredAt(out, c.row, c.col);
    EXPECT_EQ(s.v, c.want) << c.row << "," << c.col;
    EXPECT_EQ(s.stringRecord, c.stringRecord) << c.row << "," << c.col;
  }
  // B3 and B9 are not due, B2's result is unchanged: their records are the template's, byte for byte.
  const auto before = ReadStream(stream).sheets[0].cells, after = ReadStream(out).sheets[0].cells;
  EXPECT_EQ(before.at({2, 1}), after.at({2, 1}));
  EXPECT_EQ(before.at({8, 1}), after.at({8, 1}));
  EXPECT_EQ(before.at({1, 1}), after.at({1, 1}));
  // INDIRECT and the circle are left to Excel, named and ordered by cell: the
  // one found in the circle, and the one that read it.
  ASSERT_EQ(r.deferred.size(), 3u);
  EXPECT_EQ(r.deferred[0].cell, u"Blatt1!B4");
  EXPECT_EQ(r.deferred[0].why, u"INDIRECT");
  EXPECT_EQ(r.deferred[2].why, u"Zirkelbezug");
  EXPECT_EQ(DeferredNote(r),
            u"3 Formeln werden erst beim Oeffnen berechnet: Blatt1!B4 (INDIRECT), Blatt1!B5 (Blatt1!B6), "
            u"Blatt1!B6 (Zirkelbezug)");
  // ... and Excel recalculates on load: RECALCID's build number is 0.
  const auto globals = testing::Records(out, 0, true);
  const auto recalc = std::find_if(globals.begin(), globals.end(), [](const RawRec& g) { return g.type == 0x01C1; });
  ASSERT_NE(recalc, globals.end());
  EXPECT_EQ(testing::Rd(recalc->body, 4, 4), 0u);
}

TEST(FormulaBook, EmptyTextWrittenReadsAsEmptyAndAnEmptyResultHasNoStringRecord) {
  Book book(ParseWorkbookStream(FormulaBook(false)));
  book.WriteCell(1, 1, 1, u"");
  book.Recalculate();
  const Bytes out = book.Serialize();
  EXPECT_EQ(StoredAt(out, 1, 1).v, Value::Number(0));  // COUNTA(A1:A2)
  const Stored empty = StoredAt(out, 6, 1);          // A1&""
  EXPECT_EQ(empty.v, Value::Text(u""));
  EXPECT_FALSE(empty.stringRecord);
}

// A text result longer than a record runs on in CONTINUE records, each
// repeating the flags; read back, it is the same result (nothing changes).
TEST(FormulaBook, LongTextResultsRunOnInContinueRecords) {
  for (const std::u16string& text : {std::u16string(9000, u'x'), std::u16string(5000, u'\u20AC')}) {
    Book book(ParseWorkbookStream(FormulaBook(false)));
    book.WriteCell(1, 1, 1, text);
    book.Recalculate();
    const Bytes out = book.Serialize();
    const auto recs = ReadStream(out).sheets.at(0).records;
    auto b1 = std::find_if(recs.begin(), recs.end(), [](const RawRec& f) {
      return f.type == 0x0006 && testing::Rd(f.body, 0, 2) == 0 && testing::Rd(f.body, 2, 2) == 1;
    });
    ASSERT_NE(b1, recs.end());
    ASSERT_EQ((++b1)->type, 0x0207);
    EXPECT_EQ(testing::Rd(b1->body, 0, 2), text.size() + 1);
    std::u16string got;
    size_t pieces = 0;
    for (auto r = b1; r != recs.end() && (r == b1 || r->type == 0x003C); ++r, ++pieces) {
      EXPECT_LE(r->body.size(), 8224u);
      const size_t start = r == b1 ? 3 : 1;
      const bool high = r->body.at(start - 1) & 1;
      for (size_t j = start; j < r->body.size(); j += high ? 2 : 1) {
        got.push_back(high ? char16_t(testing::Rd(r->body, j, 2)) : r->body[j]);
      }
    }
    EXPECT_GE(pieces, 2u);
    EXPECT_EQ(got, text + u"!");
    Book again(ParseWorkbookStream(out));
    again.WriteCell(1, 1, 1, text);
    EXPECT_EQ(again.Recalculate().changed, 0u);
  }
}

TEST(FormulaBook, NothingWrittenNothingChanged) {
  const Bytes stream = FormulaBook(true);
  Book book(ParseWorkbookStream(stream));
  book.ShowSheet(1);
  EXPECT_EQ(book.Recalculate().due, 0u);
  EXPECT_EQ(book.Serialize(), stream);
}

}  // namespace
}  // namespace skov::xls::calc
