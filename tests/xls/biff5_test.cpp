// Excel 5.0/95 workbooks: texts in the code page, LABEL cells, the 16-bit
// DIMENSIONS and INDEX, and the limits of the format.
#include <gtest/gtest.h>

#include <algorithm>

#include "xls/biff_test_util.h"
#include "xls/book.h"
#include "xls/code_page.h"

namespace skov::xls {
namespace {

using namespace skov::testing;

Bytes Biff7Stream() {
  return WorkbookStreamOf(ReadFileBytes(std::string(SKOV_TEST_DATA) + "/xls/gnumeric_biff7.xls"));
}

TEST(CodePage, CharactersTheCodePageCannotHoldBecomeQuestionMarks) {
  struct Case {
    uint16_t codePage;
    std::u16string text;
    Bytes bytes;
  } cases[] = {
      {1252, u"a\u00e4\u20ac\u0152", {'a', 0xE4, 0x80, 0x8C}},
      {1252, u"\u03a9\u0416", {'?', '?'}},                        // Greek, Cyrillic
      {1252, u"x\U0001F600y", {'x', '?', 'y'}},                   // one '?' for a character outside the BMP
      {1252, u"\xd800z", {'?', 'z'}},                             // a lone surrogate
      {0x8001, u"\u20ac", {0x80}},                                // Windows-1252 under its BIFF number
      {1251, u"\u0416\u00e4", {0xC6, '?'}},
      {1250, u"\u0159", {0xF8}},
      {0x8000, u"\u00e4", {0x8A}},                                // Mac Roman
      {932, u"\u65e5A", {0x93, 0xFA, 'A'}},                       // Shift-JIS: a double-byte character
      {9999, u"a\u00e4", {'a', '?'}},                             // unknown: ASCII only
      {1200, u"a\u20ac\u03a9", {'a', 0x80, '?'}},                 // "UTF-16" in a byte string: as gnumeric's ASCII
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    Bytes out;
    CodePage(c.codePage).Encode(c.text, out);
    EXPECT_EQ(out, c.bytes);
  }
}

TEST(Biff5Book, WrittenCellsAreLabelsInTheCodePageWithTheCellsFormat) {
  const Bytes stream = Biff7Stream();
  auto t = ParseWorkbookStream(stream);
  ASSERT_TRUE(t->Biff5());
  ASSERT_EQ(t->worksheets.size(), 6u);
  const ReadBook before = ReadStream(stream);
  Book book(t);
  book.WriteCell(1, 12, 5, u"Gr\u00fc\u00dfe \u20ac \u03a9");
  book.WriteCell(1, 12, 6, u"Gr\u00fc\u00dfe \u20ac \u03a9");  // the same text again
  book.WriteCell(1, 300, 2, u"weit unten");
  book.WriteCell(2, 11, 2, u"");
  book.WriteCell(2, 11, 3, u"\u0081\u008d\u008f\u0090\u009dx");  // bytes 1252 leaves undefined, as read
  const Bytes out = book.Serialize();
  EXPECT_NO_THROW(ParseWorkbookStream(out));
  const ReadBook after = ReadStream(out);
  const size_t s0 = t->worksheets[0], s1 = t->worksheets[1];
  for (auto [sheet, row, col, text] : {std::tuple{s0, 11, 4, u"Gr\u00fc\u00dfe \u0080 ?"},
                                       std::tuple{s0, 11, 5, u"Gr\u00fc\u00dfe \u0080 ?"},
                                       std::tuple{s0, 299, 1, u"weit unten"}, std::tuple{s1, 10, 1, u""},
                                       std::tuple{s1, 10, 2, u"?????x"}}) {
    SCOPED_TRACE(row);
    const CellValue& v = after.sheets[sheet].cells.at({row, col});
    EXPECT_EQ(v.type, 0x0204);
    EXPECT_EQ(v.text, text);
    auto old = before.sheets[sheet].cells.find({row, col});
    if (old != before.sheets[sheet].cells.end()) {
      EXPECT_EQ(v.xf, old->second.xf);
    }
  }
  // No string table in an Excel 95 workbook.
  for (const RawRec& r : Records(out, 0, true)) EXPECT_NE(r.type, 0x00FC);
  // DIMENSIONS and INDEX keep their 16-bit rows and grow to row 300.
  for (const RawRec& r : after.sheets[s0].records) {
    if (r.type == 0x0200) {
      ASSERT_EQ(r.body.size(), 10u);
      EXPECT_EQ(Rd(r.body, 2, 2), 300u);
    }
    if (r.type == 0x020B) {
      EXPECT_EQ(Rd(r.body, 6, 2), 300u);
      // Every DBCELL the INDEX names is one.
      for (size_t at = 12; at + 4 <= r.body.size(); at += 4) EXPECT_EQ(Rd(out, Rd(r.body, at, 4), 2), 0x00D7u);
    }
  }
}

TEST(Biff5Book, TextsBeyond255BytesAreRefusedAndChangeNothing) {
  const Bytes stream = Biff7Stream();
  Book book(ParseWorkbookStream(stream));
  // 255 bytes fit; a character outside the BMP counts as the one '?' it becomes.
  EXPECT_NO_THROW(book.WriteCell(1, 12, 5, std::u16string(254, u'a') + u"\U0001F600"));
  const Bytes once = book.Serialize();
  try {
    book.WriteCell(1, 12, 6, std::u16string(256, u'\u00e4'));
    ADD_FAILURE() << "written";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), Fault::RefusedWrite);
    EXPECT_EQ(e.Row(), 12);
    EXPECT_EQ(e.Column(), 6);
  }
  EXPECT_EQ(book.Serialize(), once);
}

// Excel 5.0/95 itself gives every sheet's BOF the BIFF8 number; the globals' BOF decides.
TEST(Biff5Book, ExcelsOwnFilesAreFilledAsExcel95Workbooks) {
  for (const char* name : {"poi_excel95_uncalced.xls", "poi_excel95_cp1251.xls"}) {
    SCOPED_TRACE(name);
    const Bytes stream = WorkbookStreamOf(ReadFileBytes(std::string(SKOV_TEST_DATA) + "/xls/" + name));
    auto t = ParseWorkbookStream(stream);
    ASSERT_TRUE(t->Biff5());
    Book book(t);
    book.WriteCell(1, 11, 5, u"Gr\u00fc\u00dfe");
    const Bytes out = book.Serialize();
    ASSERT_NO_THROW(ParseWorkbookStream(out));
    EXPECT_EQ(ReadStream(out).sheets[t->worksheets[0]].cells.at({10, 4}).type, 0x0204);
  }
}

// Without a CODEPAGE record readers take an Excel 5.0/95 text as ASCII:
// one that needs more gets a CODEPAGE saying what was written, 1252.
TEST(Biff5Book, TextsBeyondAsciiBringTheirCodePageAlong) {
  Bytes stream = WorkbookStreamOf(ReadFileBytes(std::string(SKOV_TEST_DATA) + "/xls/poi_excel95_uncalced.xls"));
  for (const RawRec& r : Records(stream, 0, true)) {
    if (r.type == 0x0042) stream[r.pos] = 0x61, stream[r.pos + 1] = 0x01;  // now a record of no meaning here
  }
  for (const std::u16string text : {u"ASCII", u"Gr\u00fc\u00dfe"}) {
    Book book(ParseWorkbookStream(stream));
    book.WriteCell(1, 11, 5, text);
    const Bytes out = book.Serialize();
    std::vector<uint32_t> codePages;
    uint16_t before = 0;
    for (const RawRec& r : Records(out, 0, true)) {
      if (r.type == 0x0042) codePages.push_back(Rd(r.body, 0, 2));
      if (codePages.empty()) before = r.type;
    }
    EXPECT_EQ(codePages, text == u"ASCII" ? std::vector<uint32_t>{} : std::vector<uint32_t>{1252});
    if (!codePages.empty()) {
      EXPECT_EQ(before, 0x005B);  // after FILESHARING, where Excel has it
    }
  }
}

// BuildStream's records with every BOF made BIFF5's.
Bytes AsBiff5(Bytes s) {
  for (const RawRec& r : Records(s, 0, false)) {
    if (r.type != 0x0809) continue;
    s[r.pos + 4] = 0x00;
    s[r.pos + 5] = 0x05;
  }
  return s;
}

Rec Dimensions5(uint16_t r0, uint16_t r1, uint16_t c0, uint16_t c1) {
  return R(0x0200, {{r0, 2}, {r1, 2}, {c0, 2}, {c1, 2}, {0, 2}});
}

// Formulas: the tokens this engine reads (PtgExp, PtgTbl) and SHRFMLA's
// range are laid out as in BIFF8; its byte 7 is unused and stays so.
TEST(Biff5Book, SharedFormulaAnchorsMoveAndArraysAreRefusedAsInBiff8) {
  Rec shared = R(0x04BC, {{2, 2}, {4, 2}, {2, 1}, {2, 1}, {0, 1}, {0xAB, 1}, {3, 2}});
  shared.body.insert(shared.body.end(), {0x1E, 9, 0});
  Rec array = R(0x0221, {{6, 2}, {6, 2}, {2, 1}, {3, 1}, {0, 2}, {0, 4}, {3, 2}});
  array.body.insert(array.body.end(), {0x1E, 2, 0});
  std::vector<Rec> recs = {Dimensions5(2, 7, 2, 4)};
  for (uint16_t r = 2; r <= 4; ++r) {
    recs.push_back(Formula(r, 2, 15, PtgExp(2, 2)));
    if (r == 2) recs.push_back(shared);
  }
  recs.insert(recs.end(), {Formula(6, 2, 15, PtgExp(6, 2)), array, Formula(6, 3, 15, PtgExp(6, 2)), Window2(0x06B6)});
  const Bytes stream = AsBiff5(BuildStream({}, {{"S", recs}}));
  auto t = ParseWorkbookStream(stream);
  ASSERT_TRUE(t->Biff5());
  Book book(t);
  try {
    book.WriteCell(1, 7, 4, u"x");
    ADD_FAILURE() << "written";
  } catch (const Error& e) {
    EXPECT_EQ(e.Reason(), "gehoert zu einer Matrixformel");
  }
  book.WriteCell(1, 3, 3, u"Anker");
  const Bytes out = book.Serialize();
  ASSERT_NO_THROW(ParseWorkbookStream(out));
  const ReadBook after = ReadStream(out);
  EXPECT_EQ(after.sheets[0].cells.at({2, 2}).type, 0x0204);
  const std::vector<RawRec>& rr = after.sheets[0].records;
  for (size_t i = 0; i + 1 < rr.size(); ++i) {
    if (rr[i].type != 0x04BC) continue;
    EXPECT_EQ(Rd(rr[i].body, 0, 2), 3u);  // now anchored at C4
    EXPECT_EQ(rr[i].body[7], 0xAB);
  }
  for (int row : {3, 4}) {
    const Bytes& f = std::find_if(rr.begin(), rr.end(), [&](const RawRec& r) {
                       return r.type == 0x0006 && Rd(r.body, 0, 2) == uint32_t(row);
                     })->body;
    EXPECT_EQ(Rd(f, 23, 2), 3u) << row;  // PtgExp names the new anchor
  }
}

}  // namespace
}  // namespace skov::xls
