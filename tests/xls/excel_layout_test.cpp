// Filled workbooks laid out as Excel writes them: the string table and its
// EXTSST, where a new cell table stands, cell formats, ROW and DBCELL records.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "strings/text.h"
#include "xls/biff_test_util.h"
#include "xls/book.h"

namespace skov::xls {
namespace {

using namespace skov::testing;

std::shared_ptr<const Template> Parse(const Bytes& stream) { return ParseWorkbookStream(stream); }

// The SST record and the CONTINUE records after it.
std::vector<RawRec> SstGroup(const Bytes& stream) {
  std::vector<RawRec> globals = Records(stream, 0, true), group;
  for (size_t i = 0; i < globals.size(); ++i) {
    if (globals[i].type != 0x00FC) continue;
    group.push_back(globals[i]);
    while (i + 1 < globals.size() && globals[i + 1].type == 0x003C) group.push_back(globals[++i]);
  }
  return group;
}

std::u16string Numbered(const char16_t* prefix, int i) { return prefix + FromUtf8(std::to_string(i)); }

TEST(ExcelLayout, StringTableFilledUpToTheRecordLimitBeforeAnyContinue) {
  struct Case {
    const char* what;
    std::vector<std::string> old;
    int added;
    size_t length;  // characters of each new string
    bool wide;
  } cases[] = {
      {"empty table, a few strings", {}, 3, 5, false},
      {"strings in the table, a few more", {"alt", "vorher"}, 3, 5, false},
      {"empty table, three records' worth", {}, 400, 50, false},
      {"16-bit strings across records", {"alt"}, 300, 41, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes stream = BuildStream({Sst(c.old, uint32_t(c.old.size()))}, {{"S", {Dimensions(0, 0, 0, 0), Window2(0x06B6)}}});
    Book book(Parse(stream));
    std::vector<std::u16string> expected;
    for (const std::string& s : c.old) expected.push_back(FromUtf8(s));
    for (int i = 0; i < c.added; ++i) {
      std::u16string s = Numbered(c.wide ? u"\u0416" : u"x", i);
      s.resize(c.length, c.wide ? u'\u0436' : u'y');
      expected.push_back(s);
      book.WriteCell(1, 1 + i / 100, 1 + i % 100, s);
    }
    const Bytes out = book.Serialize();
    std::vector<RawRec> group = SstGroup(out);
    ASSERT_FALSE(group.empty());
    // Every record but the last has no room left for another string's header and first character.
    const size_t width = c.wide ? 2 : 1;
    for (size_t k = 0; k + 1 < group.size(); ++k) EXPECT_GT(group[k].body.size() + 3 + width, 8224u) << k;
    size_t bytes = 8;
    for (const std::u16string& s : expected) bytes += 3 + width * s.size();
    if (bytes <= 8224) {
      EXPECT_EQ(group.size(), 1u);
    }
    // The template has no EXTSST; the output has one, right after the table.
    std::vector<RawRec> globals = Records(out, 0, true);
    auto extSst = std::find_if(globals.begin(), globals.end(), [](const RawRec& r) { return r.type == 0x00FF; });
    ASSERT_NE(extSst, globals.end());
    EXPECT_EQ(extSst->pos, group.back().pos + 4 + group.back().body.size());
    ReadBook after = ReadStream(out);
    EXPECT_EQ(after.sst, expected);
    EXPECT_EQ(Parse(out)->strings.unique, expected.size());
  }
}

// New strings go on in the room the template's last string record leaves.
TEST(ExcelLayout, NewStringsContinueInTheTemplatesLastRecord) {
  const Bytes stream = WorkbookStreamOf(ReadFileBytes(std::string(SKOV_TEST_DATA) + "/xls/xlwt_longsst.xls"));
  ASSERT_FALSE(stream.empty());
  const std::vector<RawRec> before = SstGroup(stream);
  ASSERT_LT(before.back().body.size(), 8224u - 20);
  Book book(Parse(stream));
  book.WriteCell(1, 900, 1, u"neu");
  const std::vector<RawRec> after = SstGroup(book.Serialize());
  ASSERT_EQ(after.size(), before.size());
  // The template's records keep their bytes, but for the counts.
  for (size_t k = 1; k + 1 < before.size(); ++k) EXPECT_EQ(after[k].body, before[k].body);
  EXPECT_TRUE(std::equal(before[0].body.begin() + 8, before[0].body.end(), after[0].body.begin() + 8));
  EXPECT_EQ(after.back().body.size(), before.back().body.size() + 6);
}

TEST(ExcelLayout, ExtSstBucketSizeIsUniqueBy128PlusOneAtLeast8) {
  struct Case {
    int unique;
    uint32_t dsst;
  } cases[] = {{100, 8}, {1023, 8}, {1024, 9}, {1152, 10}, {2048, 17}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.unique);
    const Rec extSst = R(0x00FF, {{8, 2}, {0, 4}, {0, 2}, {0, 2}});
    Book book(Parse(BuildStream({Sst({"s"}, 0), extSst}, {{"S", {Dimensions(0, 0, 0, 0), Window2(0x06B6)}}})));
    for (int i = 1; i < c.unique; ++i) book.WriteCell(1, 1 + i / 200, 1 + i % 200, Numbered(u"t", i));
    const Bytes out = book.Serialize();
    int found = 0;
    for (const RawRec& r : Records(out, 0, true)) {
      if (r.type != 0x00FF) continue;
      ++found;
      EXPECT_EQ(Rd(r.body, 0, 2), c.dsst);
      EXPECT_EQ((r.body.size() - 2) / 8, (uint32_t(c.unique) + c.dsst - 1) / c.dsst);
    }
    EXPECT_EQ(found, 1);
  }
}

// The cell table a write gives an empty sheet comes after page setup,
// protection, columns and DIMENSIONS and before drawings and WINDOW2,
// wherever DIMENSIONS stands.
TEST(ExcelLayout, NewCellTableOfAnEmptySheetStandsWhereTheGrammarPutsIt) {
  const Rec setup = R(0x00A1, {{9, 2}, {100, 2}, {1, 2}, {1, 2}, {1, 2}, {0, 2}, {300, 2}, {300, 2}, {0, 8}, {0, 8}, {1, 2}});
  auto flag = [](uint16_t type) { return R(type, {{0, 2}}); };
  const Rec header{0x0014, {}}, footer{0x0015, {}};
  const Rec defColWidth = R(0x0055, {{8, 2}});
  const Rec colInfo = R(0x007D, {{0, 2}, {3, 2}, {0x0900, 2}, {15, 2}, {0, 2}, {0, 2}});
  const Rec drawing{0x00EC, {0x0F, 0, 0x02, 0xF0, 0, 0, 0, 0}};
  struct Case {
    const char* what;
    std::vector<Rec> records;
    uint16_t before, after;  // the records around the new table
  } cases[] = {
      {"DIMENSIONS ahead of page setup (xlwt)",
       {flag(0x000D), flag(0x0080), Dimensions(0, 0, 0, 0), flag(0x002A), flag(0x002B), flag(0x0082), header, footer,
        flag(0x0083), flag(0x0084), setup, flag(0x0012), Window2(0x06B6)},
       0x0012, 0x023E},
      {"DIMENSIONS after columns (Excel)",
       {flag(0x002A), flag(0x002B), header, footer, setup, defColWidth, colInfo, Dimensions(0, 0, 0, 0), Window2(0x06B6)},
       0x0200, 0x023E},
      {"drawing after DIMENSIONS", {defColWidth, Dimensions(0, 0, 0, 0), drawing, Window2(0x06B6)}, 0x0200, 0x00EC},
      {"no DIMENSIONS", {flag(0x002A), setup, defColWidth, Window2(0x06B6)}, 0x0055, 0x023E},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes stream = BuildStream({}, {{"L", c.records}});
    Book book(Parse(stream));
    book.WriteCell(1, 3, 2, u"x");
    const std::vector<RawRec> before = ReadStream(stream).sheets[0].records;
    const std::vector<RawRec> after = ReadStream(book.Serialize()).sheets[0].records;
    auto at = [&](uint16_t type) {
      return std::find_if(after.begin(), after.end(), [&](const RawRec& r) { return r.type == type; }) - after.begin();
    };
    const long row = at(0x0208), cell = at(0x00FD);
    ASSERT_LT(cell, long(after.size()));
    ASSERT_GT(row, 0);
    EXPECT_EQ(row + 1, cell);
    EXPECT_EQ(after[size_t(row) - 1].type, c.before);
    EXPECT_EQ(after[size_t(cell) + 1].type, c.after);
    // Every other record keeps its place in the order.
    std::vector<uint16_t> kept, was;
    for (const RawRec& r : after) if (r.type != 0x0208 && r.type != 0x00FD) kept.push_back(r.type);
    for (const RawRec& r : before) was.push_back(r.type);
    EXPECT_EQ(kept, was);
  }
}

// An XF record: a style XF (parent 0xFFF) or a cell XF with its parent style.
Rec Xf(bool style, uint16_t parent = 0) {
  const uint16_t type = style ? 0xFFF5 : uint16_t(0x0001 | (parent << 4));
  return R(0x00E0, {{0, 2}, {0, 2}, {type, 2}, {0x20, 1}, {0, 1}, {0, 1}, {style ? 0x00 : 0xF8, 1},
                    {0, 4}, {0, 4}, {0x20C0, 2}});
}
Rec NormalStyle(uint16_t xf) { return R(0x0293, {{uint64_t(0x8000 | xf), 2}, {0, 1}, {0xFF, 1}}); }

std::vector<Bytes> XfBodies(const Bytes& stream) {
  std::vector<Bytes> out;
  for (const RawRec& r : Records(stream, 0, true)) {
    if (r.type == 0x00E0) out.push_back(r.body);
  }
  return out;
}

// New cells point at a cell XF: the row's or column's when it is one, else
// the first cell XF; without any, a new one shown as the Normal style.
TEST(ExcelLayout, NewCellsGetACellXfNeverAStyleXf) {
  std::vector<Rec> xlwtXfs, excelXfs, styleOnly;
  for (int i = 0; i < 16; ++i) xlwtXfs.push_back(Xf(true));
  xlwtXfs.push_back(Xf(false));
  xlwtXfs.push_back(Xf(false));
  for (int i = 0; i < 15; ++i) excelXfs.push_back(Xf(true));
  excelXfs.push_back(Xf(false));
  for (int i = 0; i < 4; ++i) styleOnly.push_back(Xf(true));
  styleOnly.push_back(NormalStyle(0));
  const std::vector<Rec> sheet = {
      R(0x007D, {{3, 2}, {5, 2}, {0x0900, 2}, {15, 2}, {0, 2}, {0, 2}}),  // D:F: XF 15
      R(0x007D, {{7, 2}, {7, 2}, {0x0900, 2}, {17, 2}, {0, 2}, {0, 2}}),  // H: XF 17
      Dimensions(4, 6, 0, 1), Row(4, 0, 0, 0x0180, 15), Row(5, 0, 0, 0x0180, 17), Window2(0x06B6)};
  struct Case {
    const char* what;
    const std::vector<Rec>* xfs;
    int row, col;
    uint16_t xf;
  } cases[] = {
      {"xlwt: no format given", &xlwtXfs, 2, 2, 16},   {"xlwt: column style XF", &xlwtXfs, 2, 5, 16},
      {"xlwt: column cell XF", &xlwtXfs, 2, 8, 17},    {"xlwt: row style XF", &xlwtXfs, 5, 1, 16},
      {"xlwt: row cell XF", &xlwtXfs, 6, 8, 17},       {"Excel: no format given", &excelXfs, 2, 2, 15},
      {"Excel: column XF 15", &excelXfs, 2, 4, 15},    {"only style XFs", &styleOnly, 2, 2, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes stream = BuildStream(*c.xfs, {{"F", sheet}});
    Book book(Parse(stream));
    book.WriteCell(1, c.row, c.col, u"n");
    const Bytes out = book.Serialize();
    EXPECT_EQ(ReadStream(out).sheets[0].cells.at({c.row - 1, c.col - 1}), (CellValue{0x00FD, c.xf, u"n"}));
    const std::vector<Bytes> before = XfBodies(stream), after = XfBodies(out);
    ASSERT_GT(after.size(), c.xf);
    EXPECT_EQ(Rd(after[c.xf], 4, 2) & 0x0004, 0u) << "a style XF";
    if (c.xf < before.size()) {
      EXPECT_EQ(after, before);
    } else {
      // Added right after the last XF: the Normal style's look, that style its parent, nothing of its own.
      ASSERT_EQ(after.size(), before.size() + 1);
      EXPECT_EQ(Rd(after[c.xf], 4, 2), 0x0001u);
      EXPECT_EQ(after[c.xf][9] & 0xFC, 0);
      EXPECT_TRUE(std::equal(after[c.xf].begin() + 10, after[c.xf].end(), before[0].begin() + 10));
      std::vector<RawRec> globals = Records(out, 0, true);
      auto xf = std::find_if(globals.rbegin(), globals.rend(), [](const RawRec& r) { return r.type == 0x00E0; });
      EXPECT_EQ((xf + 1)->type, 0x00E0) << "the new XF follows the others";
      EXPECT_NO_THROW(Parse(out));
    }
  }
}

// A template with cells but no ROW records (as Quattro and PHPExcel write
// them): every row with cells gets one, spanning all its cells.
TEST(ExcelLayout, EveryRowWithCellsGetsARowRecordSpanningThem) {
  struct Case {
    const char* what;
    std::vector<Rec> table;
  } cases[] = {
      {"no ROW records", {Rk(0, 0, 15, 1), Rk(0, 1, 15, 2), Rk(1, 0, 15, 3), Rk(1, 1, 15, 4), Rk(1, 2, 15, 5)}},
      {"ROW records too narrow",
       {Row(0, 0, 1), Row(1, 1, 2), Rk(0, 0, 15, 1), Rk(0, 1, 15, 2), Rk(1, 0, 15, 3), Rk(1, 1, 15, 4), Rk(1, 2, 15, 5)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Rec> recs = {Dimensions(0, 2, 0, 3)};
    recs.insert(recs.end(), c.table.begin(), c.table.end());
    recs.push_back(Window2(0x06B6));
    Book book(Parse(BuildStream({}, {{"Q", recs}})));
    book.WriteCell(1, 1, 5, u"neu");    // row 0, column 4
    book.WriteCell(1, 4, 2, u"unten");  // row 3, column 1
    const ReadSheet after = ReadStream(book.Serialize()).sheets[0];
    std::map<uint32_t, std::pair<uint32_t, uint32_t>> spans;
    for (const RawRec& r : after.records) {
      if (r.type == 0x0208) spans[Rd(r.body, 0, 2)] = {Rd(r.body, 2, 2), Rd(r.body, 4, 2)};
    }
    using Span = std::pair<uint32_t, uint32_t>;
    EXPECT_EQ(spans, (std::map<uint32_t, Span>{{0, {0, 5}}, {1, {0, 3}}, {3, {1, 2}}}));
  }
}

// DBCELL: for a row without cells, the offset where its cells would start.
TEST(ExcelLayout, DbCellOffsetOfARowWithoutCellsPointsWhereItsCellsWouldStart) {
  std::vector<Rec> recs = {R(0x020B, {{0, 4}, {0, 4}, {4, 4}, {0, 4}, {0, 4}}), R(0x0055, {{8, 2}}),
                           Dimensions(0, 4, 0, 2), Row(0, 0, 2), Row(1, 0, 0, 0x01C0, 15), Row(2, 0, 2),
                           Row(3, 0, 0, 0x01C0, 15), Rk(0, 0, 15, 1), Rk(0, 1, 15, 2), Rk(2, 0, 15, 3),
                           R(0x00D7, {{0, 4}, {0, 2}, {0, 2}, {0, 2}, {0, 2}}), Window2(0x06B6)};
  Book book(Parse(BuildStream({}, {{"D", recs}})));
  book.WriteCell(1, 3, 2, u"x");  // row 2, column 1
  const Bytes out = book.Serialize();
  const ReadSheet sheet = ReadStream(out).sheets[0];
  std::vector<const RawRec*> rows;
  const RawRec* dbcell = nullptr;
  for (const RawRec& r : sheet.records) {
    if (r.type == 0x0208) rows.push_back(&r);
    if (r.type == 0x00D7) dbcell = &r;
  }
  ASSERT_EQ(rows.size(), 4u);
  ASSERT_NE(dbcell, nullptr);
  ASSERT_EQ(dbcell->body.size(), 4u + 2 * rows.size());
  // Where each row's cells start; a row without cells: where the next row's start.
  auto cellsOf = [&](uint32_t row) {
    for (const RawRec& r : sheet.records) {
      if ((r.type == 0x027E || r.type == 0x00FD) && Rd(r.body, 0, 2) >= row) return r.pos;
    }
    return dbcell->pos;
  };
  size_t pos = rows[0]->pos + 4 + rows[0]->body.size();
  EXPECT_EQ(dbcell->pos - Rd(dbcell->body, 0, 4), rows[0]->pos);
  for (uint32_t k = 0; k < rows.size(); ++k) {
    pos += Rd(dbcell->body, 4 + 2 * k, 2);
    EXPECT_EQ(pos, cellsOf(Rd(rows[k]->body, 0, 2))) << "row " << k;
  }
}

// A template with two records for one cell: after a write only the written
// text covers it, in the format of the record every reader shows, the later.
TEST(ExcelLayout, AWrittenCellLeavesNoOtherRecordForIt) {
  struct Case {
    const char* what;
    std::vector<Rec> table;
    uint32_t sstTotal;
    uint16_t xf;
  } cases[] = {
      {"two numbers", {Row(0, 0, 3), Rk(0, 1, 20, 1), Number(0, 1, 21, 2.5)}, 0, 21},
      {"a MULBLANK under a text", {Row(0, 0, 3), MulBlank(0, 0, {30, 31, 32}), LabelSst(0, 1, 22, 0)}, 1, 22},
      {"a text twice", {Row(0, 0, 3), LabelSst(0, 1, 23, 0), LabelSst(0, 1, 24, 0)}, 2, 24},
      {"a BLANK, then an RK", {Row(0, 0, 3), Blank(0, 1, 50), Rk(0, 1, 53, 7)}, 0, 53},
      {"a text, then a MULBLANK over it", {Row(0, 0, 3), LabelSst(0, 1, 25, 0), MulBlank(0, 0, {30, 31, 32})}, 1, 31},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Rec> recs = {Dimensions(0, 1, 0, 3)};
    recs.insert(recs.end(), c.table.begin(), c.table.end());
    recs.push_back(Window2(0x06B6));
    Book book(Parse(BuildStream({Sst({"alt"}, c.sstTotal)}, {{"S", recs}})));
    book.WriteCell(1, 1, 2, u"neu");  // row 0, column 1
    const ReadBook after = ReadStream(book.Serialize());
    int covering = 0, texts = 0;
    uint32_t previous = 0;
    for (const RawRec& r : after.sheets[0].records) {
      if (r.type == 0x00FD) ++texts;
      const bool mul = r.type == 0x00BE || r.type == 0x00BD;
      if (!mul && r.type != 0x00FD && r.type != 0x027E && r.type != 0x0203 && r.type != 0x0201) continue;
      const uint32_t first = Rd(r.body, 2, 2), last = mul ? Rd(r.body, r.body.size() - 2, 2) : first;
      covering += first <= 1 && 1 <= last;
      EXPECT_LE(previous, first) << "cells in column order";
      previous = first;
    }
    EXPECT_EQ(covering, 1);
    EXPECT_EQ(after.sheets[0].cells.at({0, 1}).text, u"neu");
    EXPECT_EQ(after.sheets[0].cells.at({0, 1}).xf, c.xf);
    EXPECT_EQ(after.sstTotal, uint32_t(texts));
  }
}

// A row that gets its first ROW record is shown as high as before: the
// template's default height, else marked as the reader's own default.
TEST(ExcelLayout, NewRowRecordsKeepHowHighTheRowIsShown) {
  struct Case {
    const char* what;
    std::vector<Rec> header;
    uint16_t height;
  } cases[] = {
      {"no DEFAULTROWHEIGHT", {}, 0x80FF},
      {"DEFAULTROWHEIGHT 15 pt", {R(0x0225, {{0, 2}, {300, 2}})}, 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Rec> recs = c.header;
    recs.insert(recs.end(), {Dimensions(0, 0, 0, 0), Window2(0x06B6)});
    Book book(Parse(BuildStream({Sst({}, 0)}, {{"S", recs}})));
    book.WriteCell(1, 11, 5, u"neu");
    const ReadBook after = ReadStream(book.Serialize());
    int rows = 0;
    for (const RawRec& r : after.sheets[0].records) {
      if (r.type != 0x0208) continue;
      ++rows;
      EXPECT_EQ(Rd(r.body, 6, 2), c.height);
      EXPECT_EQ(Rd(r.body, 12, 2) & 0x0040, 0u);  // not a height set by hand
    }
    EXPECT_EQ(rows, 1);
  }
}

// Records some writers leave ahead of the cells (a DBCELL, a TABLE, a second
// DIMENSIONS) do not move the rebuilt table before the sheet's header.
TEST(ExcelLayout, StrayRecordsBeforeTheCellsLeaveTheTableInPlace) {
  const Rec header = R(0x0014, {{0, 2}});  // HEADER, empty
  for (const Rec& stray : {R(0x00D7, {{0, 4}}), R(0x0236, {{0, 2}, {0, 2}, {0, 2}, {0, 2}}), Dimensions(0, 1, 0, 1)}) {
    SCOPED_TRACE(stray.type);
    std::vector<Rec> recs = {stray, header, Dimensions(0, 1, 0, 3), Row(0, 0, 3), Number(0, 0, 15, 1),
                             Window2(0x06B6)};
    Book book(Parse(BuildStream({Sst({}, 0)}, {{"S", recs}})));
    book.WriteCell(1, 2, 2, u"neu");
    const ReadBook after = ReadStream(book.Serialize());
    const std::vector<RawRec>& rr = after.sheets[0].records;
    auto at = [&](uint16_t type) {
      return std::find_if(rr.begin(), rr.end(), [&](const RawRec& r) { return r.type == type; }) - rr.begin();
    };
    EXPECT_LT(at(0x0014), at(0x0208));
    EXPECT_LT(at(0x0200), at(0x0208));
    EXPECT_EQ(after.sheets[0].cells.at({1, 1}).text, u"neu");
    EXPECT_EQ(after.sheets[0].cells.count({0, 0}), 1u);
  }
  // An empty sheet's lone DBCELL after DIMENSIONS, as Excel writes one, is the table's place.
  Book book(Parse(BuildStream({Sst({}, 0)}, {{"S", {header, Dimensions(0, 0, 0, 0), R(0x00D7, {{0, 4}}),
                                                     Window2(0x06B6)}}})));
  book.WriteCell(1, 2, 2, u"neu");
  int dbCells = 0;
  const auto written = ReadStream(book.Serialize());  // kept alive: the loop reads into it
  for (const RawRec& r : written.sheets[0].records) dbCells += r.type == 0x00D7;
  EXPECT_EQ(dbCells, 1);
}

}  // namespace
}  // namespace skov::xls
