// Windows-1252 and UTF-8 conversions, case-blind keys, number texts.
#include <gtest/gtest.h>

#include "strings/runtime_error.h"
#include "strings/text.h"

namespace skov {
namespace {

TEST(Cp1252, EveryByteDecodesAndEncodesBack) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  Text decoded = FromCp1252(all);
  ASSERT_EQ(decoded.size(), 256u);
  EXPECT_EQ(decoded[0x80], u'\u20AC');
  EXPECT_EQ(decoded[0x81], u'\u0081');
  EXPECT_EQ(decoded[0x9F], u'\u0178');
  EXPECT_EQ(decoded[0xE4], u'ä');
  EXPECT_EQ(ToCp1252(decoded), all);
}

// Decoding into a kept buffer, a block of bytes at a time: every byte at
// every position of the first two blocks and of the rest after them, and
// buffers that shrink.
TEST(Cp1252, AssignDecodesEveryByteAtEveryOffset) {
  Text out = u"a longer text that is left over from the line before";
  for (int b = 0; b < 256; ++b) {
    const Text one = FromCp1252(std::string(1, static_cast<char>(b)));
    for (size_t at = 0; at < 35; ++at) {
      for (size_t after : {0, 1, 7, 17}) {
        std::string bytes(at, '\xE4');
        bytes.push_back(static_cast<char>(b));
        bytes.append(after, '\x9F');
        AssignCp1252(out, bytes);
        ASSERT_EQ(out, Text(at, u'\u00E4') + one + Text(after, u'\u0178')) << b << " at " << at << " + " << after;
        ASSERT_EQ(ToCp1252(out), bytes) << b << " at " << at << " + " << after;
      }
    }
  }
}

// An all-ASCII block decodes in one step: every unit must land in its place.
TEST(Cp1252, AsciiBlocksKeepTheirOrder) {
  Text out;
  for (int start = 0; start < 128; start += 13) {
    std::string bytes;
    Text want;
    for (int i = 0; i < 43; ++i) {
      bytes.push_back(static_cast<char>((start + i) % 128));
      want.push_back(static_cast<char16_t>((start + i) % 128));
    }
    AssignCp1252(out, bytes);
    ASSERT_EQ(out, want) << start;
  }
}

TEST(Cp1252, UnrepresentableBecomesQuestionMark) {
  EXPECT_EQ(ToCp1252(u"Ωx\u0080"), "?x?");
  EXPECT_EQ(ToCp1252(u"Grüße €"), "Gr\xFC\xDF" "e \x80");
  // Among plain ASCII, which is encoded sixteen and then eight units a step.
  for (char16_t c : {u'\u0080', u'\u0100', u'\u2122', u'\uFF41'}) {
    for (size_t at = 0; at < 44; ++at) {
      Text text(44, u'a');
      text[at] = c;
      std::string want(44, 'a');
      want[at] = c == u'\u2122' ? '\x99' : '?';
      ASSERT_EQ(ToCp1252(text), want) << int{c} << " at " << at;
    }
  }
}

TEST(Utf8, RoundTripAndDamage) {
  const Text samples[] = {u"", u"abc", u"Lüftung €", u"Ω日本", u"\U0001F600"};
  for (const auto& s : samples) EXPECT_EQ(FromUtf8(ToUtf8(s)), s);
  EXPECT_EQ(FromUtf8("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(FromUtf8("\xE2\x82"), u"\uFFFD");
  EXPECT_EQ(FromUtf8("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong
}

TEST(FileNames, EveryByteSequenceComesBack) {
  struct Case {
    std::string bytes;
    Text text;
  };
  const Case cases[] = {
      {"Schema \xD0\xA1.TXT", u"Schema \u0421.TXT"},  // valid UTF-8 reads as it does everywhere
      {"Pl\xE4n.TXT", u"Pl\xDCE4n.TXT"},                // a Latin-1 byte
      {"\xE2\x82", u"\xDCE2\xDC82"},                    // cut short
      {"\xC0\xAF\xED\xA0\x80", u"\xDCC0\xDCAF\xDCED\xDCA0\xDC80"},  // overlong, an encoded surrogate
      {"\xF0\x9F\x98\x80\xFF", u"\U0001F600\xDCFF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FromFileName(c.bytes), c.text) << c.bytes;
    EXPECT_EQ(ToFileName(c.text), c.bytes) << c.bytes;
  }
  EXPECT_EQ(ToUtf8(u"Pl\xDCE4n"), "Pl\xEF\xBF\xBDn") << "shown, a kept byte is a replacement character";
  EXPECT_EQ(ToCp1252(u"Pl\xDCE4n"), "Pl?n");
}

TEST(Keys, CaseIgnoredNothingElse) {
  EXPECT_TRUE(EqualsIgnoreCase(u"projekt1", u"PROJEKT1"));
  EXPECT_TRUE(EqualsIgnoreCase(u"Zname", u"ZNAME"));
  EXPECT_TRUE(EqualsIgnoreCase(u"gerät", u"GERÄT"));
  EXPECT_FALSE(EqualsIgnoreCase(u" ZNAME", u"ZNAME"));
  EXPECT_FALSE(EqualsIgnoreCase(u"07", u"7"));
  EXPECT_FALSE(EqualsIgnoreCase(u"ß", u"SS"));
  EXPECT_TRUE(EqualsIgnoreCase(u"\u00ff", u"\u0178"));  // a pair in Windows-1252, as the compound file folds it
  EXPECT_FALSE(EqualsIgnoreCase(u"\u00f7", u"\u00d7"));  // division and multiplication signs
}

TEST(Numbers, SignPositionAndOverflow) {
  EXPECT_EQ(NumberText(1), u" 1");
  EXPECT_EQ(NumberText(6), u" 6");
  EXPECT_EQ(NumberText(-2), u"-2");
  EXPECT_EQ(Increment16(32766), 32767);
  try {
    Increment16(32767);
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.Number(), 6);
  }
}

}  // namespace
}  // namespace skov
