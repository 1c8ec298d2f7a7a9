// Filled workbooks laid out as Excel writes them: the string table and its
// EXTSST, where a new cell table stands, cell formats, ROW and DBCELL records.
#include <gtest/gtest.h>

#include <algorithm>
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
    Book book(Parse(BuildStream({Sst({"s"}, 0)}, {{"S", {Dimensions(0, 0, 0, 0), Window2(0x06B6)}}})));
    for (int i = 1; i < c.unique; ++i) book.WriteCell(1, 1 + i / 200, 1 + i % 200, Numbered(u"t", i));
    const Bytes out = book.Serialize();
    for (const RawRec& r : Records(out, 0, true)) {
      if (r.type != 0x00FF) continue;
      EXPECT_EQ(Rd(r.body, 0, 2), c.dsst);
      EXPECT_EQ((r.body.size() - 2) / 8, (uint32_t(c.unique) + c.dsst - 1) / c.dsst);
    }
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

}  // namespace
}  // namespace skov::xls
