// Excel 5.0/95 workbooks: texts in the code page, LABEL cells, the 16-bit
// DIMENSIONS and INDEX, and the limits of the format.
#include <gtest/gtest.h>

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
  const Bytes out = book.Serialize();
  EXPECT_NO_THROW(ParseWorkbookStream(out));
  const ReadBook after = ReadStream(out);
  const size_t s0 = t->worksheets[0], s1 = t->worksheets[1];
  for (auto [sheet, row, col, text] : {std::tuple{s0, 11, 4, u"Gr\u00fc\u00dfe \u0080 ?"},
                                       std::tuple{s0, 11, 5, u"Gr\u00fc\u00dfe \u0080 ?"},
                                       std::tuple{s0, 299, 1, u"weit unten"}, std::tuple{s1, 10, 1, u""}}) {
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

}  // namespace
}  // namespace skov::xls
