// Workbook engine: round trips, cell replacement, new cells, refusals,
// string table growth, row index records and sheet/window flags.
#include "xls/book.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <tuple>

#include "strings/runtime_error.h"
#include "xls/biff_test_util.h"
#include "xls/code_page.h"

namespace skov::xls {
namespace {

using namespace skov::testing;

std::shared_ptr<const Template> Parse(const Bytes& stream) { return ParseWorkbookStream(stream); }

// The engine's fault for a call, as a number for table-driven cases: 0 when
// it raises none, else 1 + the fault.
int FaultOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return 1 + static_cast<int>(e.Kind());
  }
  return 0;
}
constexpr int kRefused = 1 + static_cast<int>(Fault::RefusedWrite);
constexpr int kNoSheet = 1 + static_cast<int>(Fault::TooFewSheets);
constexpr int kNoWindow = 1 + static_cast<int>(Fault::NoSuchWindow);

std::vector<std::string> Fixtures() {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(std::string(SKOV_TEST_DATA) + "/xls")) {
    if (e.path().extension() == ".xls") out.push_back(e.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Every cell of every sheet equal, except those listed.
void ExpectCellsEqual(const ReadBook& before, const ReadBook& after,
                      const std::set<std::tuple<size_t, int, int>>& except = {}) {
  ASSERT_EQ(before.sheets.size(), after.sheets.size());
  for (size_t s = 0; s < before.sheets.size(); ++s) {
    for (const auto& [at, v] : before.sheets[s].cells) {
      if (except.count({s, at.first, at.second})) continue;
      auto it = after.sheets[s].cells.find(at);
      ASSERT_NE(it, after.sheets[s].cells.end()) << "sheet " << s << " lost cell " << at.first << "," << at.second;
      EXPECT_EQ(it->second, v) << "sheet " << s << " cell " << at.first << "," << at.second;
    }
    for (const auto& [at, v] : after.sheets[s].cells) {
      if (except.count({s, at.first, at.second})) continue;
      EXPECT_TRUE(before.sheets[s].cells.count(at)) << "sheet " << s << " gained cell " << at.first << "," << at.second;
    }
  }
}

TEST(BookRoundTrip, EveryFixtureUnchangedWithoutWrites) {
  auto files = Fixtures();
  ASSERT_FALSE(files.empty());
  for (const std::string& f : files) {
    SCOPED_TRACE(f);
    Bytes stream = WorkbookStreamOf(ReadFileBytes(f));
    ASSERT_FALSE(stream.empty());
    Book book(Parse(stream));
    EXPECT_FALSE(book.Changed());
    EXPECT_EQ(book.Serialize(), stream);
  }
}

TEST(BookRoundTrip, OpeningStepsAndAFillKeepEveryOtherCell) {
  for (const std::string& f : Fixtures()) {
    SCOPED_TRACE(f);
    Bytes stream = WorkbookStreamOf(ReadFileBytes(f));
    auto t = Parse(stream);
    // A protected sheet refuses these writes; its own test below.
    if (t->worksheets.empty() || f.find("protected") != std::string::npos) continue;
    Book book(t);
    book.ShowWindow(1);
    book.ActivateSheet(1);
    book.ShowSheet(1);
    book.WriteCell(1, 31, 22, u"Projekt \u00c4\u00d6\u00dc");
    book.WriteCell(1, 200, 3, u"weit unten");
    Bytes out = book.Serialize();
    EXPECT_NO_THROW(Parse(out));
    ReadBook before = ReadStream(stream), after = ReadStream(out);
    size_t s0 = t->worksheets[0];
    ExpectCellsEqual(before, after, {{s0, 30, 21}, {s0, 199, 2}});
    // An Excel 5.0/95 text is read back byte for byte, in its code page.
    std::u16string shown = u"Projekt \u00c4\u00d6\u00dc";
    if (t->Biff5()) {
      Bytes bytes;
      t->codePage->Encode(shown, bytes);
      shown.assign(bytes.begin(), bytes.end());
    }
    EXPECT_EQ(after.sheets[s0].cells.at({30, 21}).text, shown);
    EXPECT_EQ(after.sheets[s0].cells.at({199, 2}).text, u"weit unten");
    // Sheets not written keep their bytes.
    for (size_t s = 0; s < before.sheets.size(); ++s) {
      if (s == s0) continue;
      ASSERT_EQ(before.sheets[s].records.size(), after.sheets[s].records.size());
      for (size_t k = 0; k < before.sheets[s].records.size(); ++k) {
        if (before.sheets[s].records[k].type == 0x023E || before.sheets[s].records[k].type == 0x020B) continue;
        EXPECT_EQ(before.sheets[s].records[k].body, after.sheets[s].records[k].body);
      }
    }
  }
}

// One sheet with every kind of cell a template may hold at row 0, a
// MULBLANK in row 1 and a MULRK in row 2.
Bytes CellKinds() {
  std::vector<Rec> cells = {
      Row(0, 0, 8), Row(1, 0, 5), Row(2, 0, 4),
      LabelSst(0, 0, 21, 0), Number(0, 1, 22, 2.5), Rk(0, 2, 23, 7), Label(0, 3, 24, "alt"),
      BoolErr(0, 4, 25, true), Formula(0, 5, 26, PtgInt(1), true), StringRec("eins"), Blank(0, 6, 27),
      MulBlank(1, 0, {30, 31, 32, 33, 34}),
      MulRk(2, 0, {{40, 1}, {41, 2}, {42, 3}, {43, 4}}),
  };
  std::vector<Rec> recs = {Dimensions(0, 3, 0, 8)};
  recs.insert(recs.end(), cells.begin(), cells.end());
  recs.push_back(Window2(0x06B6));
  return BuildStream({Sst({"vorher"}, 1)}, {{"T1", recs}});
}

TEST(BookWrite, ReplacesEachKindOfCellKeepingFormatAndNeighbours) {
  struct Case {
    const char* what;
    int row, col;  // from 1
    uint16_t xf;
  } cases[] = {
      {"LABELSST", 1, 1, 21}, {"NUMBER", 1, 2, 22}, {"RK", 1, 3, 23}, {"LABEL", 1, 4, 24},
      {"BOOLERR", 1, 5, 25}, {"FORMULA with STRING", 1, 6, 26}, {"BLANK", 1, 7, 27},
      {"MULBLANK first", 2, 1, 30}, {"MULBLANK second", 2, 2, 31}, {"MULBLANK middle", 2, 3, 32},
      {"MULBLANK last", 2, 5, 34}, {"MULRK first", 3, 1, 40}, {"MULRK middle", 3, 2, 41},
      {"MULRK next to last", 3, 3, 42}, {"MULRK last", 3, 4, 43},
  };
  const Bytes stream = CellKinds();
  const ReadBook before = ReadStream(stream);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Book book(Parse(stream));
    book.WriteCell(1, c.row, c.col, u"neu");
    Bytes out = book.Serialize();
    ASSERT_NO_THROW(Parse(out));
    ReadBook after = ReadStream(out);
    const CellValue& v = after.sheets[0].cells.at({c.row - 1, c.col - 1});
    EXPECT_EQ(v.type, 0x00FD);
    EXPECT_EQ(v.xf, c.xf);
    EXPECT_EQ(v.text, u"neu");
    ExpectCellsEqual(before, after, {{0, c.row - 1, c.col - 1}});
    // The STRING of a replaced formula goes with it.
    int strings = 0;
    for (const RawRec& r : after.sheets[0].records) strings += r.type == 0x0207;
    EXPECT_EQ(strings, c.col == 6 && c.row == 1 ? 0 : 1);
    int labels = 0;
    for (const auto& [at, cell] : after.sheets[0].cells) labels += cell.type == 0x00FD;
    EXPECT_EQ(after.sstTotal, uint32_t(labels));
  }
}

TEST(BookWrite, TextIsStoredExactlyAsGiven) {
  const std::u16string longText(300, u'x');
  const std::u16string maxText(32767, u'\u00e4');
  const std::u16string values[] = {u"007", u"1-2", u"=SUM(A1)", u"TRUE", u"01.02.2003", u"\u00c4\u00d6\u00dc\u00df",
                                   u"\u20ac 5", u"\u041c\u0438\u0440", longText, maxText, u" f\u00fchrend "};
  for (const std::u16string& v : values) {
    Book book(Parse(CellKinds()));
    book.WriteCell(1, 1, 2, v);
    ReadBook after = ReadStream(book.Serialize());
    EXPECT_EQ(after.sheets[0].cells.at({0, 1}).text, v);
  }
}

TEST(BookWrite, EmptyTextIsATextCellToo) {
  Book book(Parse(CellKinds()));
  book.WriteCell(1, 1, 2, u"");    // over a NUMBER, XF kept
  book.WriteCell(1, 10, 10, u"");  // where nothing was
  ReadBook after = ReadStream(book.Serialize());
  EXPECT_EQ(after.sheets[0].cells.at({0, 1}), (CellValue{0x00FD, 22, u""}));
  EXPECT_EQ(after.sheets[0].cells.at({9, 9}), (CellValue{0x00FD, 15, u""}));
}

TEST(BookWrite, RefusesWhatWouldDamageTheWorkbook) {
  struct Case {
    const char* what;
    int sheet, row, col;
    size_t length;
    int error;
  } cases[] = {
      {"no worksheet 2", 2, 1, 1, 1, kNoSheet}, {"worksheet 0", 0, 1, 1, 1, kNoSheet},
      {"row 0", 1, 0, 1, 1, kRefused}, {"row 65537", 1, 65537, 1, 1, kRefused},
      {"column 257", 1, 1, 257, 1, kRefused}, {"32768 characters", 1, 1, 1, 32768, kRefused},
  };
  const Bytes stream = CellKinds();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Book book(Parse(stream));
    EXPECT_EQ(FaultOf([&] { book.WriteCell(c.sheet, c.row, c.col, std::u16string(c.length, u'a')); }), c.error);
    EXPECT_EQ(book.Serialize(), stream);
  }
}

// A row written in one call must come out exactly as written cell by cell:
// the same bytes, the same refusal with the same cells written before it.
// The second fill goes into a book reset after the first, which must fill
// exactly like a fresh one.
TEST(BookWrite, ARowInOneCallEqualsItsCellsOneByOneAlsoAfterAReset) {
  struct Case {
    const char* what;
    int row;  // 0: rows 1 to 3, over every kind of template cell
    std::vector<CellText> cells;
  };
  auto casesOfFill = [](int fill, std::vector<std::u16string>& texts) {
    texts = {u"AI", u"", u"M01-Pumpe " + std::u16string(1, u'a' + fill), u"neu" + std::u16string(fill, u'+'),
             std::u16string(300, u'x')};
    std::vector<Case> cases = {
        {"a device row", 12, {{2, texts[2]}, {55, texts[3]}}},
        {"columns out of order, one twice", 13, {{9, texts[3]}, {5, u"a"}, {9, u"c"}, {1, u""}, {56, u"AI"}}},
        {"over every kind of template cell", 0, {}},
        {"a refused column midway", 14, {{5, u"vor"}, {257, u"x"}, {6, u"nach"}}},
        {"too long for Excel 95 midway", 15, {{5, u"vor"}, {6, texts[4]}, {7, texts[3]}}},
        {"a refused row", 65537, {{1, u"x"}}},
    };
    for (int c = 5; c <= 54; ++c) cases[0].cells.push_back({c, texts[c % 3 ? 0 : c % 2 ? 1 : 3]});
    for (int c = 60; c >= 1; --c) cases[2].cells.push_back({c, texts[c % 4]});
    return cases;
  };
  std::vector<std::string> files = Fixtures();
  files.push_back("");  // CellKinds(): every kind of cell in rows 1 to 3
  for (const std::string& f : files) {
    SCOPED_TRACE(f);
    const Bytes stream = f.empty() ? CellKinds() : WorkbookStreamOf(ReadFileBytes(f));
    auto t = Parse(stream);
    if (t->worksheets.empty()) continue;
    Book inOne(t);
    for (int fill = 0; fill < 2; ++fill) {
      Book oneByOne(t);
      std::vector<std::u16string> texts;
      for (const Case& c : casesOfFill(fill, texts)) {
        SCOPED_TRACE(c.what);
        for (int row = c.row ? c.row : 1; row <= (c.row ? c.row : 3); ++row) {
          const int a = FaultOf([&] { inOne.WriteRow(1, row, c.cells); });
          const int b = FaultOf([&] {
            for (const CellText& cell : c.cells) oneByOne.WriteCell(1, row, cell.column, cell.value);
          });
          EXPECT_EQ(a, b);
        }
      }
      EXPECT_EQ(inOne.Serialize(), oneByOne.Serialize());
      inOne.ActivateSheet(static_cast<int>(t->worksheets.size()));
      inOne.Reset();
      EXPECT_FALSE(inOne.Changed());
      EXPECT_EQ(inOne.Serialize(), stream);
    }
  }
}

// Excel refuses to change a locked cell of a protected sheet (error 1004);
// its unlocked cells and unprotected sheets are written as ever.
TEST(BookWrite, LockedCellsOfAProtectedSheetAreRefused) {
  const auto t = Parse(WorkbookStreamOf(ReadFileBytes(std::string(SKOV_TEST_DATA) + "/xls/lo_protected.xls")));
  struct Case {
    int sheet, row, column;
    bool refused;
  } cases[] = {
      {1, 11, 5, true},    // E11, a text
      {1, 11, 6, true},    // F11, no cell: the column's format locks it
      {1, 40, 2, true},    // a new cell in the default format
      {1, 12, 5, false},   // E12 to G12 are unlocked
      {1, 12, 7, false},
      {2, 11, 5, false},   // not protected
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.sheet << " " << c.row << " " << c.column);
    Book book(t);
    try {
      book.WriteCell(c.sheet, c.row, c.column, u"neu");
      EXPECT_FALSE(c.refused);
    } catch (const Error& e) {
      EXPECT_TRUE(c.refused);
      EXPECT_EQ(e.Kind(), Fault::RefusedWrite);
      EXPECT_EQ(e.Reason(), "ist gesperrt, das Blatt ist geschuetzt");
      EXPECT_EQ(std::pair(e.Row(), e.Column()), std::pair(c.row, c.column));
      EXPECT_FALSE(book.Changed());
    }
  }
  // A row stops at its first locked cell, the cells before it written.
  Book book(t);
  const CellText row[] = {{5, u"a"}, {6, u"b"}, {8, u"c"}};
  EXPECT_EQ(FaultOf([&] { book.WriteRow(1, 12, row); }), kRefused);
  const ReadBook after = ReadStream(book.Serialize());
  EXPECT_EQ(after.sheets[t->worksheets[0]].cells.at({11, 5}).text, u"b");
}

TEST(BookWrite, ArrayAndTableFormulasAreNotBroken) {
  // Row 0: shared formula anchored at A1 and used by B1; row 1: array
  // formula over A2:B2; row 2: a table cell; row 3: a plain formula.
  Rec shrfmla = R(0x04BC, {{0, 2}, {0, 2}, {0, 1}, {1, 1}, {0, 1}, {2, 1}, {3, 2}});
  shrfmla.body.insert(shrfmla.body.end(), {0x1E, 1, 0});
  Rec array = R(0x0221, {{1, 2}, {1, 2}, {0, 1}, {1, 1}, {0, 2}, {0, 4}, {3, 2}});
  array.body.insert(array.body.end(), {0x1E, 2, 0});
  std::vector<Rec> recs = {
      Dimensions(0, 4, 0, 2), Row(0, 0, 2), Row(1, 0, 2), Row(2, 0, 1), Row(3, 0, 1),
      Formula(0, 0, 15, PtgExp(0, 0)), shrfmla, Formula(0, 1, 15, PtgExp(0, 0)),
      Formula(1, 0, 15, PtgExp(1, 0)), array, Formula(1, 1, 15, PtgExp(1, 0)),
      Formula(2, 0, 15, {0x02, 2, 0, 0, 0}), Formula(3, 0, 15, PtgInt(4)), Window2(0x06B6)};
  const Bytes stream = BuildStream({}, {{"F", recs}});
  struct Case {
    const char* what;
    int row, col;
    int error;
    std::string reason;  // what the refusal says about the cell
  } cases[] = {
      {"shared anchor", 1, 1, 0, ""},
      {"shared member", 1, 2, 0, ""},
      {"array anchor", 2, 1, kRefused, "gehoert zu einer Matrixformel"},
      {"array member", 2, 2, kRefused, "gehoert zu einer Matrixformel"},
      {"table cell", 3, 1, kRefused, "gehoert zu einer Datentabelle (Mehrfachoperation)"},
      {"plain formula", 4, 1, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Book book(Parse(stream));
    EXPECT_EQ(FaultOf([&] { book.WriteCell(1, c.row, c.col, u"x"); }), c.error);
    if (c.error) {
      try {
        book.WriteCell(1, c.row, c.col, u"x");
      } catch (const Error& e) {
        EXPECT_EQ(e.Reason(), c.reason);
        EXPECT_EQ(std::make_pair(e.Row(), e.Column()), std::make_pair(c.row, c.col));
      }
      EXPECT_EQ(book.Serialize(), stream);
    } else {
      EXPECT_EQ(ReadStream(book.Serialize()).sheets[0].cells.at({c.row - 1, c.col - 1}).text, u"x");
    }
  }
}

// The anchor of each remaining shared formula cell: a FORMULA followed by
// SHRFMLA whose range starts at it and covers the cell.
void ExpectSharedFormulasSound(const Bytes& out) {
  ReadBook b = ReadStream(out);
  for (const ReadSheet& sh : b.sheets) {
    std::map<std::pair<int, int>, Bytes> anchors;  // anchor -> SHRFMLA body
    for (size_t i = 0; i + 1 < sh.records.size(); ++i) {
      if (sh.records[i].type == 0x0006 && sh.records[i + 1].type == 0x04BC) {
        anchors[{int(Rd(sh.records[i].body, 0, 2)), int(Rd(sh.records[i].body, 2, 2))}] = sh.records[i + 1].body;
      }
    }
    for (const RawRec& r : sh.records) {
      if (r.type != 0x0006 || r.body.size() < 27 || r.body[22] != 0x01) continue;
      int row = int(Rd(r.body, 0, 2)), col = int(Rd(r.body, 2, 2));
      auto it = anchors.find({int(Rd(r.body, 23, 2)), int(Rd(r.body, 25, 2))});
      ASSERT_NE(it, anchors.end()) << "cell " << row << "," << col << " points at no shared formula";
      const Bytes& shr = it->second;
      EXPECT_EQ(int(Rd(shr, 0, 2)), it->first.first);
      EXPECT_EQ(int(shr[4]), it->first.second);
      EXPECT_TRUE(row >= int(Rd(shr, 0, 2)) && row <= int(Rd(shr, 2, 2)) && col >= shr[4] && col <= shr[5]);
    }
  }
}

TEST(BookWrite, OverwritingASharedFormulaAnchorMovesItToTheNextCell) {
  // A column of shared formulas in rows 3..8, column C, written from the top
  // down as the import does, and a block of 2x2 written at its top left.
  auto shared = [](uint16_t r0, uint16_t r1, uint8_t c0, uint8_t c1) {
    Rec x = R(0x04BC, {{r0, 2}, {r1, 2}, {c0, 1}, {c1, 1}, {0, 1}, {uint64_t((r1 - r0 + 1) * (c1 - c0 + 1)), 1}, {3, 2}});
    x.body.insert(x.body.end(), {0x1E, 9, 0});
    return x;
  };
  std::vector<Rec> recs = {Dimensions(2, 12, 2, 6)};
  for (uint16_t r = 2; r <= 7; ++r) {
    recs.push_back(Formula(r, 2, uint16_t(30 + r), PtgExp(2, 2)));
    if (r == 2) recs.push_back(shared(2, 7, 2, 2));
  }
  for (uint16_t r = 10; r <= 11; ++r) {
    for (uint16_t c = 4; c <= 5; ++c) {
      recs.push_back(Formula(r, c, 15, PtgExp(10, 4)));
      if (r == 10 && c == 4) recs.push_back(shared(10, 11, 4, 5));
    }
  }
  recs.push_back(Window2(0x06B6));
  const Bytes stream = BuildStream({}, {{"S", recs}});
  Book book(Parse(stream));
  ReadBook before = ReadStream(stream);
  std::set<std::tuple<size_t, int, int>> written;
  for (int r = 3; r <= 8; ++r) {
    book.WriteCell(1, r, 3, u"Text " + std::u16string(1, char16_t('0' + r)));
    written.insert({0, r - 1, 2});
    Bytes out = book.Serialize();
    ASSERT_NO_THROW(Parse(out));
    ExpectSharedFormulasSound(out);
    ReadBook after = ReadStream(out);
    EXPECT_EQ(after.sheets[0].cells.at({r - 1, 2}), (CellValue{0x00FD, uint16_t(29 + r), after.sheets[0].cells.at({r - 1, 2}).text}));
    // The other formulas keep their format (their tokens now name the new anchor).
    for (int k = r + 1; k <= 8; ++k) EXPECT_EQ(after.sheets[0].cells.at({k - 1, 2}).xf, uint16_t(29 + k));
  }
  // A 2x2 block: F11 comes first but E12 lies left of it, so each row keeps
  // a shared formula of its own.
  book.WriteCell(1, 11, 5, u"oben links");
  Bytes out = book.Serialize();
  ExpectSharedFormulasSound(out);
  ReadBook after = ReadStream(out);
  for (auto at : {std::pair{10, 5}, {11, 4}, {11, 5}}) EXPECT_EQ(after.sheets[0].cells.at(at).type, 0x0006);
  book.WriteCell(1, 12, 5, u"unten links");
  ExpectSharedFormulasSound(book.Serialize());
}

TEST(BookWrite, NewCellTakesRowFormatThenColumnFormatThenDefault) {
  std::vector<Rec> recs = {
      R(0x007D, {{3, 2}, {5, 2}, {0x0900, 2}, {44, 2}, {0, 2}, {0, 2}}),  // columns D:F format 44
      Dimensions(0, 1, 0, 1), Row(0, 0, 1), LabelSst(0, 0, 15, 0),
      Row(4, 0, 0, 0x0180, 55),  // row 5 formatted 55
      Window2(0x06B6)};
  const Bytes stream = BuildStream({Sst({"a"}, 1)}, {{"X", recs}});
  struct Case {
    int row, col;
    uint16_t xf;
  } cases[] = {{5, 5, 55}, {5, 1, 55}, {2, 5, 44}, {2, 4, 44}, {2, 7, 15}, {1, 2, 15}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.row << "," << c.col);
    Book book(Parse(stream));
    book.WriteCell(1, c.row, c.col, u"n");
    Bytes out = book.Serialize();
    ReadBook after = ReadStream(out);
    EXPECT_EQ(after.sheets[0].cells.at({c.row - 1, c.col - 1}), (CellValue{0x00FD, c.xf, u"n"}));
    // The row has a ROW record covering the cell, and DIMENSIONS covers it too.
    bool rowFound = false;
    for (const RawRec& r : after.sheets[0].records) {
      if (r.type == 0x0208 && Rd(r.body, 0, 2) == uint32_t(c.row - 1)) {
        rowFound = true;
        EXPECT_LE(Rd(r.body, 2, 2), uint32_t(c.col - 1));
        EXPECT_GT(Rd(r.body, 4, 2), uint32_t(c.col - 1));
      }
      if (r.type == 0x0200) {
        EXPECT_LE(Rd(r.body, 0, 4), uint32_t(c.row - 1));
        EXPECT_GT(Rd(r.body, 4, 4), uint32_t(c.row - 1));
        EXPECT_LE(Rd(r.body, 8, 2), uint32_t(c.col - 1));
        EXPECT_GT(Rd(r.body, 10, 2), uint32_t(c.col - 1));
      }
    }
    EXPECT_TRUE(rowFound);
  }
}

TEST(BookWrite, CellsComeOutInRowAndColumnOrder) {
  Book book(Parse(CellKinds()));
  const int at[][2] = {{40, 3}, {3, 8}, {40, 1}, {1, 9}, {2, 3}, {70, 256}, {33, 2}, {3, 6}};
  for (auto [r, c] : at) book.WriteCell(1, r, c, u"v");
  ReadBook after = ReadStream(book.Serialize());
  int lastRow = -1, lastCol = -1;
  bool rowsOfBlockDone = false;
  for (const RawRec& r : after.sheets[0].records) {
    if (r.type == 0x0208) {
      EXPECT_FALSE(rowsOfBlockDone) << "ROW after cells of its block";
      continue;
    }
    if (r.type == 0x00D7) rowsOfBlockDone = false;
    if (r.type != 0x00FD && r.type != 0x0201 && r.type != 0x0203 && r.type != 0x027E && r.type != 0x00BE &&
        r.type != 0x00BD && r.type != 0x0006 && r.type != 0x0204 && r.type != 0x0205) {
      continue;
    }
    int row = int(Rd(r.body, 0, 2)), col = int(Rd(r.body, 2, 2));
    EXPECT_TRUE(row > lastRow || (row == lastRow && col > lastCol)) << row << "," << col;
    lastRow = row;
    lastCol = col;
  }
  for (auto [r, c] : at) EXPECT_EQ(after.sheets[0].cells.at({r - 1, c - 1}).text, u"v");
}

TEST(BookWrite, NewStringsAreSharedAndCounted) {
  Book book(Parse(CellKinds()));
  book.WriteCell(1, 5, 1, u"gleich");
  book.WriteCell(1, 5, 2, u"gleich");
  book.WriteCell(1, 5, 3, u"vorher");  // already in the table
  book.WriteCell(1, 1, 1, u"gleich");  // replaces a LABELSST
  ReadBook after = ReadStream(book.Serialize());
  EXPECT_EQ(after.sst, (std::vector<std::u16string>{u"vorher", u"gleich"}));
  EXPECT_EQ(after.sstTotal, 4u);
}

// A text written again, also after the index has grown, reuses its entry.
TEST(BookSst, RepeatedNewTextsShareOneEntry) {
  auto t = Parse(CellKinds());
  Book book(t);
  const int distinct = 3000;  // past several growths of the index
  auto text = [](int i) { return u"Wert " + std::u16string(1, char16_t(u'A' + i % 26)) + FromUtf8(std::to_string(i)); };
  for (int i = 0; i < distinct; ++i) book.WriteCell(1, 20 + i / 50, 1 + i % 50, text(i));
  for (int i = distinct - 1; i >= 0; i -= 7) book.WriteCell(1, 200 + i / 50, 1 + i % 50, text(i));
  Bytes out = book.Serialize();
  EXPECT_EQ(Parse(out)->strings.unique, t->strings.unique + distinct);
  ReadBook after = ReadStream(out);
  for (int i = 0; i < distinct; i += 13) EXPECT_EQ(after.sheets[0].cells.at({19 + i / 50, i % 50}).text, text(i));
  for (int i = distinct - 1; i >= 0; i -= 7) ASSERT_EQ(after.sheets[0].cells.at({199 + i / 50, i % 50}).text, text(i));
}

// Many long strings appended to a table that already spans records, so
// that new strings cross record ends in both forms.
TEST(BookSst, LongTableGrowsAcrossContinueRecords) {
  Bytes stream = WorkbookStreamOf(ReadFileBytes(std::string(SKOV_TEST_DATA) + "/xls/xlwt_longsst.xls"));
  ASSERT_FALSE(stream.empty());
  auto t = Parse(stream);
  ReadBook before = ReadStream(stream);
  Book book(t);
  std::vector<std::u16string> added;
  for (int i = 0; i < 300; ++i) {
    std::u16string s;
    for (int k = 0; k < 40 + i % 57; ++k) s.push_back(i % 2 ? char16_t(0x0410 + (k + i) % 32) : char16_t('a' + (k + i) % 26));
    added.push_back(s);
    book.WriteCell(1, 500 + i, 3, s);
  }
  Bytes out = book.Serialize();
  auto reparsed = Parse(out);
  EXPECT_EQ(reparsed->strings.unique, t->strings.unique + 300);
  ReadBook after = ReadStream(out);
  ASSERT_EQ(after.sst.size(), before.sst.size() + 300);
  EXPECT_TRUE(std::equal(before.sst.begin(), before.sst.end(), after.sst.begin()));
  for (int i = 0; i < 300; ++i) EXPECT_EQ(after.sheets[0].cells.at({499 + i, 2}).text, added[size_t(i)]);
  ExpectCellsEqual(before, after, [] {
    std::set<std::tuple<size_t, int, int>> s;
    for (int i = 0; i < 300; ++i) s.insert({0, 499 + i, 2});
    return s;
  }());
  // Every record within the size limit; EXTSST buckets point at string starts.
  std::vector<RawRec> globals = Records(out, 0, true);
  for (const RawRec& r : globals) EXPECT_LE(r.body.size(), 8224u);
  const auto& starts = reparsed->strings.starts;
  for (const RawRec& r : globals) {
    if (r.type != 0x00FF) continue;
    uint32_t per = Rd(r.body, 0, 2);
    EXPECT_GE(per, 8u);
    for (size_t b = 0; 2 + 8 * b + 8 <= r.body.size(); ++b) {
      uint32_t ib = Rd(r.body, 2 + 8 * b, 4), cb = Rd(r.body, 6 + 8 * b, 2);
      ASSERT_LT(b * per, starts.size());
      EXPECT_EQ(ib, starts[b * per]);
      auto rec = std::find_if(globals.rbegin(), globals.rend(), [&](const RawRec& g) { return g.pos < ib; });
      EXPECT_EQ(ib - rec->pos, cb);
    }
  }
}

TEST(BookSst, StringsSplitAtRecordEndsReadBack) {
  // A 16-bit string of 8220 characters cannot fit one record; nor can a
  // following 8-bit one of 9000.
  std::u16string wide(8220, u'\u0416'), narrow(9000, u'q');
  Book book(Parse(CellKinds()));
  book.WriteCell(1, 7, 1, wide);
  book.WriteCell(1, 7, 2, narrow);
  book.WriteCell(1, 7, 3, u"kurz");
  Bytes out = book.Serialize();
  auto t = Parse(out);
  ReadBook after = ReadStream(out);
  EXPECT_EQ(after.sheets[0].cells.at({6, 0}).text, wide);
  EXPECT_EQ(after.sheets[0].cells.at({6, 1}).text, narrow);
  EXPECT_EQ(after.sheets[0].cells.at({6, 2}).text, u"kurz");
  // And a second round on the grown table keeps it readable.
  Book again(t);
  again.WriteCell(1, 8, 1, u"noch einer");
  EXPECT_EQ(ReadStream(again.Serialize()).sheets[0].cells.at({7, 0}).text, u"noch einer");
}

// A string's 16-bit character count may be cut by a record end: its low
// byte is the first read, whatever the compiler's order of evaluation.
TEST(BookSst, CountSplitByARecordEndReadsLowByteFirst) {
  Bytes stream;
  auto put = [&](uint16_t type, const Bytes& body) {
    Le(stream, type, 2);
    Le(stream, body.size(), 2);
    stream.insert(stream.end(), body.begin(), body.end());
  };
  put(0x00FC, {1, 0, 0, 0, 1, 0, 0, 0, 0x02});  // total, unique, the count's low byte
  Bytes rest = {0x01, 0x00};                      // its high byte, flags: 8-bit
  rest.insert(rest.end(), 0x0102, 'q');
  put(0x003C, rest);
  const RecRef group[] = {ReadRecordAt(stream, 0), ReadRecordAt(stream, 4 + 9)};
  const SstTable table = ParseSst(stream, group);
  EXPECT_EQ(table.plain.Find(std::u16string(0x0102, u'q')), 0u);
}

TEST(BookSst, WorkbookWithoutStringTableGetsOne) {
  const Bytes stream = BuildStream({}, {{"A", {Dimensions(0, 0, 0, 0), Window2(0x06B6)}}});
  Book book(Parse(stream));
  book.WriteCell(1, 2, 3, u"erste");
  Bytes out = book.Serialize();
  auto t = Parse(out);
  EXPECT_EQ(t->strings.unique, 1u);
  EXPECT_GE(t->extSst, 0);
  EXPECT_EQ(ReadStream(out).sheets[0].cells.at({1, 2}).text, u"erste");
}

// A sheet with INDEX and DBCELL records over two row blocks, followed by an
// unchanged sheet of the same shape.
Bytes Indexed() {
  auto sheet = [] {
    std::vector<Rec> recs = {R(0x020B, {{0, 4}, {0, 4}, {40, 4}, {0, 4}, {0, 4}, {0, 4}}),
                             R(0x0055, {{8, 2}}), Dimensions(0, 40, 0, 2)};
    for (int block = 0; block < 2; ++block) {
      for (int r = block * 32; r < std::min(40, block * 32 + 32); ++r) recs.push_back(Row(uint16_t(r), 0, 2));
      for (int r = block * 32; r < std::min(40, block * 32 + 32); ++r) {
        recs.push_back(Rk(uint16_t(r), 0, 15, r));
        recs.push_back(Rk(uint16_t(r), 1, 15, r));
      }
      recs.push_back(R(0x00D7, {{0, 4}}));
    }
    recs.push_back(Window2(0x06B6));
    return recs;
  };
  return BuildStream({Sst({"s"}, 0)}, {{"I1", sheet()}, {"I2", sheet()}});
}

void ExpectIndexConsistent(const Bytes& out, const RawRec* index, const std::vector<RawRec>& recs) {
  ASSERT_NE(index, nullptr);
  std::vector<size_t> dbcells;
  for (const RawRec& r : recs) if (r.type == 0x00D7) dbcells.push_back(r.pos);
  ASSERT_EQ((index->body.size() - 16) / 4, dbcells.size());
  for (size_t k = 0; k < dbcells.size(); ++k) EXPECT_EQ(Rd(index->body, 16 + 4 * k, 4), dbcells[k]);
  for (const RawRec& r : recs) {
    if (r.type == 0x0055) {
      EXPECT_EQ(Rd(index->body, 12, 4), r.pos);
    }
    if (r.type != 0x00D7) continue;
    size_t firstRow = r.pos - Rd(r.body, 0, 4);
    EXPECT_EQ(Rd(out, firstRow, 2), 0x0208u);
    size_t cell = firstRow + 20;
    for (size_t k = 0; 4 + 2 * k < r.body.size(); ++k) {
      cell += Rd(r.body, 4 + 2 * k, 2);
      uint32_t type = Rd(out, cell, 2);
      EXPECT_TRUE(type == 0x027E || type == 0x00FD) << std::hex << type;
    }
  }
}

TEST(BookIndex, RowBlocksAndIndexRebuiltAndShifted) {
  const Bytes stream = Indexed();
  Book book(Parse(stream));
  book.WriteCell(1, 70, 1, u"neuer Block");  // a third block
  book.WriteCell(1, 5, 3, u"mitten");        // a new column in block one
  book.WriteCell(1, 1, 1, u"oben");
  Bytes out = book.Serialize();
  ASSERT_NO_THROW(Parse(out));
  ReadBook after = ReadStream(out);
  for (const ReadSheet& sh : after.sheets) {
    const RawRec* index = nullptr;
    for (const RawRec& r : sh.records) if (r.type == 0x020B) index = &r;
    ExpectIndexConsistent(out, index, sh.records);
  }
  EXPECT_EQ(Rd(std::find_if(after.sheets[0].records.begin(), after.sheets[0].records.end(),
                            [](const RawRec& r) { return r.type == 0x020B; })->body, 8, 4), 70u);
}

TEST(BookSheets, WorksheetsCountedAmongOtherSheetKinds) {
  std::vector<SheetSource> sheets = {
      {"Diagramm", {Window2(0x0000)}, 0x0020, 2, 0},
      {"W1", {Dimensions(0, 0, 0, 0), Window2(0x06B6)}, 0x0010, 0, 0},
      {"Makro", {Window2(0)}, 0x0040, 1, 0},
      {"Dialog", {R(0x0081, {{0x0411, 2}}), Window2(0)}, 0x0010, 0, 0},
      {"W2", {Dimensions(0, 0, 0, 0), Window2(0x0000)}, 0x0010, 0, 1},
  };
  const Bytes stream = BuildStream({}, sheets, 0x0038, 1);
  auto t = Parse(stream);
  Book book(t);
  EXPECT_EQ(book.WorksheetCount(), 2);
  EXPECT_EQ(FaultOf([&] { book.ActivateSheet(3); }), kNoSheet);
  EXPECT_EQ(FaultOf([&] { book.ShowSheet(0); }), kNoSheet);
  book.WriteCell(2, 1, 1, u"zwei");
  book.ActivateSheet(2);
  book.ShowSheet(2);
  ReadBook after = ReadStream(book.Serialize());
  EXPECT_EQ(after.sheets[4].cells.at({0, 0}).text, u"zwei");
  EXPECT_EQ(after.sheets[4].hsState, 0);
  EXPECT_EQ(Rd(after.window1, 10, 2), 4u);  // active tab
  EXPECT_EQ(Rd(after.window1, 14, 2), 1u);  // one selected
  for (size_t s = 0; s < after.sheets.size(); ++s) {
    EXPECT_EQ(after.sheets[s].window2 & 0x0600, s == 4 ? 0x0600 : 0) << s;
  }
}

TEST(BookSheets, WindowsShownAndFirstTabKeptVisible) {
  const Bytes stream = BuildStream({}, {{"A", {Window2(0)}}, {"B", {Window2(0x0600)}}}, 0x0039, 1);
  Book book(Parse(stream));
  EXPECT_EQ(FaultOf([&] { book.ShowWindow(2); }), kNoWindow);
  book.ShowWindow(1);
  book.ActivateSheet(1);
  ReadBook after = ReadStream(book.Serialize());
  EXPECT_EQ(Rd(after.window1, 8, 2) & 1, 0u);
  EXPECT_EQ(Rd(after.window1, 10, 2), 0u);
  EXPECT_EQ(after.sheets[0].window2 & 0x0600, 0x0600);
  EXPECT_EQ(after.sheets[1].window2 & 0x0600, 0);
  // Already in that state: the stream stays as it was.
  Book same(Parse(BuildStream({}, {{"A", {Window2(0x0600)}}}, 0x0038, 0)));
  same.ShowWindow(1);
  same.ActivateSheet(1);
  same.ShowSheet(1);
  EXPECT_FALSE(same.Changed());
}

TEST(BookParse, DamagedOrForeignStreamsAreRejected) {
  const Bytes good = CellKinds();
  auto patched = [&](size_t at, std::initializer_list<uint8_t> b) {
    Bytes s = good;
    std::copy(b.begin(), b.end(), s.begin() + long(at));
    return s;
  };
  size_t sheetStart = Rd(good, 4 + 16 + 4 + 18 + 4, 4);
  struct Case {
    const char* what;
    Bytes stream;
  } cases[] = {
      {"empty", {}},
      {"truncated header", Bytes(good.begin(), good.begin() + 22)},
      {"truncated record", Bytes(good.begin(), good.end() - 3)},
      {"an Excel 5.0/95 sheet in an Excel 97 workbook", patched(sheetStart + 4, {0x00, 0x05})},
      {"not globals first", patched(6, {0x10, 0x00})},
      {"encrypted", BuildStream({R(0x002F, {{0, 2}, {0, 4}})}, {{"E", {Window2(0)}}})},
      {"sheet offset past end", patched(4 + 16 + 4 + 18 + 4, {0xFF, 0xFF, 0xFF, 0x00})},
      {"sheet offset inside globals", patched(4 + 16 + 4 + 18 + 4, {0x04, 0, 0, 0})},
      {"sheet not at a BOF", patched(4 + 16 + 4 + 18 + 4, {uint8_t(sheetStart + 20), uint8_t((sheetStart + 20) >> 8), 0, 0})},
      {"SST counts more strings", BuildStream({Sst({"a", "b"}, 2)}, {}) /* patched below */},
      {"SST with data past its count", BuildStream({Sst({"a", "b"}, 2)}, {})},
      {"MULBLANK last column wrong", BuildStream({}, {{"M", {[] { Rec m = MulBlank(0, 0, {15, 15}); m.body[8] = 7; return m; }()}}})},
      {"overlapping sheets", [] {
         Bytes s = BuildStream({}, {{"A", {}}, {"B", {}}});
         // both BOUNDSHEETs point at the first sheet
         size_t b1 = 4 + 16 + 4 + 18, b2 = b1 + 4 + 9;
         std::copy(s.begin() + long(b1) + 4, s.begin() + long(b1) + 8, s.begin() + long(b2) + 4);
         return s;
       }()},
  };
  // Point the SST count past its strings / short of them.
  for (Case& c : cases) {
    if (std::string(c.what).rfind("SST", 0) != 0) continue;
    std::vector<RawRec> g = Records(c.stream, 0, true);
    for (const RawRec& r : g) {
      if (r.type == 0x00FC) c.stream[r.pos + 8] = std::string(c.what).find("more") != std::string::npos ? 3 : 1;
    }
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_THROW(Parse(c.stream), Error);
  }
  // Cutting the stream anywhere never reads out of bounds, and never is taken
  // as a sound workbook unless the cut lies in the trailing padding.
  for (size_t n = 0; n < good.size(); n += 7) {
    Bytes cut(good.begin(), good.begin() + long(n));
    EXPECT_THROW(Parse(cut), Error) << n;
  }
}

}  // namespace
}  // namespace skov::xls
