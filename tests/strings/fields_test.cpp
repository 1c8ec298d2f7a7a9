// Field extraction: the documented cases as tables, plus the overflow limits.
#include "support/error_of.h"
#include <gtest/gtest.h>

#include <random>

#include "strings/fields.h"
#include "strings/runtime_error.h"

namespace skov {
namespace {

using testing::ErrorOf;

struct FieldCase {
  const char16_t* line;
  const char16_t* separators;
  int n;
  const char16_t* field;
};

TEST(GetField, Cases) {
  const FieldCase cases[] = {
      {u"a;b;c", u";", 1, u"a"},   {u"a;b;c", u";", 2, u"b"},    {u"a;b;c", u";", 3, u"c"},
      {u"a;b;c", u";", 4, u""},    {u"a;b;c", u";", 99, u""},    {u"a;;c", u";", 2, u""},
      {u"a;;c", u";", 3, u"c"},    {u"a;b;", u";", 3, u""},      {u";a", u";", 1, u""},
      {u";a", u";", 2, u"a"},      {u"abc", u";", 1, u"abc"},    {u"abc", u";", 2, u"abc"},
      {u"abc", u";", 200, u"abc"}, {u"", u";", 1, u""},          {u"", u";", 5, u""},
      {u"a,b;c", u";,", 1, u"a"},  {u"a,b;c", u";,", 2, u"b"},   {u"a,b;c", u";,", 3, u"c"},
      {u"aXbyc", u"xy", 1, u"aXb"}, {u"aXbyc", u"xy", 2, u"c"},  {u"a;b", u"", 1, u""},
      {u"\"a;b\";c", u";", 1, u"\"a"}, {u"A;a", u"a", 1, u"A;"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(GetField(c.line, static_cast<int16_t>(c.n), c.separators), Text(c.field))
        << ToUtf8(c.line) << " n=" << c.n << " sep=" << ToUtf8(c.separators);
}

TEST(GetField, RuntimeErrors) {
  EXPECT_EQ(ErrorOf([] { GetField(u"a;b", 0, u";"); }), 5);
  EXPECT_EQ(ErrorOf([] { GetField(u"a;b", -3, u";"); }), 5);

  Text longLine(40000, u'x');
  EXPECT_EQ(ErrorOf([&] { GetField(longLine, 1, u";"); }), 6);  // end reached past 32767
  Text early = u"a;" + longLine;
  EXPECT_EQ(ErrorOf([&] { GetField(early, 1, u";"); }), 0);  // its split character comes first
  EXPECT_EQ(ErrorOf([&] { GetField(early, 1, u";,"); }), 6);  // translation fails on any long line
  Text at32767(32766, u'x');
  at32767 += u";tail";
  EXPECT_EQ(ErrorOf([&] { GetField(at32767, 1, u";"); }), 0);
  EXPECT_EQ(ErrorOf([&] { GetField(at32767, 2, u";"); }), 6);  // search goes on past 32767
  Text past(32767, u'x');
  past += u";";
  EXPECT_EQ(ErrorOf([&] { GetField(past, 1, u";"); }), 6);  // split character at 32768
}

struct TranslateCase {
  const char16_t* text;
  const char16_t* from;
  const char16_t* to;
  const char16_t* result;
};

TEST(TranslateChars, Cases) {
  const TranslateCase cases[] = {
      {u"a,b.c", u",.", u";", u"a;b;c"},  {u"abcd", u"abc", u"xy", u"xyyd"},
      {u"banana", u"an", u"", u"b"},      {u"aab", u"aa", u"xy", u"xxb"},
      {u"abc", u"", u"x", u"abc"},        {u"ABC", u"abc", u"xyz", u"ABC"},
      {u"", u"ab", u"x", u""},            {u"abc", u"a", u"xyz", u"xbc"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TranslateChars(c.text, c.from, c.to, true), Text(c.result)) << ToUtf8(c.text);
  EXPECT_EQ(TranslateChars(u"ABC", u"abc", u"xyz", false), u"xyz");
  EXPECT_EQ(ErrorOf([] { TranslateChars(Text(32767, u'a'), u"ab", u"c", true); }), 6);
  EXPECT_EQ(ErrorOf([] { TranslateChars(Text(32766, u'a'), u"ab", u"c", true); }), 0);
}

TEST(TrimNull, Cases) {
  const std::pair<Text, Text> cases[] = {
      {u"abc", u"abc"}, {Text(u"\0abc", 4), u""}, {Text(u"abc\0def", 7), u"abc"}, {u"", u""},
      {Text(u"x\0\0\0", 4), u"x"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(TrimNull(in), out);
  Text late(40000, u'a');
  late[35000] = u'\0';
  EXPECT_EQ(ErrorOf([&] { TrimNull(late); }), 6);
}

// SplitFieldViews is the one-pass form of asking GetField for fields 1..k+1.
TEST(SplitFieldViews, AgreesWithGetField) {
  std::mt19937 rng(7);
  const char16_t alphabet[] = u"ab;,\"x ";
  const Text settings[] = {u";", u";,", u",;", u"x", u";;"};
  for (int round = 0; round < 2000; ++round) {
    Text line;
    const int length = static_cast<int>(rng() % 12);
    for (int i = 0; i < length; ++i) line.push_back(alphabet[rng() % 7]);
    const Text& sep = settings[rng() % 5];
    Text scratch;
    std::vector<TextView> fields = SplitFieldViews(line, sep, scratch);
    for (size_t n = 1; n <= fields.size(); ++n) {
      ASSERT_EQ(fields[n - 1], GetField(line, static_cast<int16_t>(n), sep)) << ToUtf8(line) << " n=" << n;
    }
    if (fields.size() > 1) {
      ASSERT_EQ(GetField(line, static_cast<int16_t>(fields.size() + 1), sep), u"");
    }
  }
  Text scratch;
  EXPECT_EQ(SplitFieldViews(u"abc", u"", scratch).size(), 1u);
  EXPECT_EQ(ErrorOf([&] { SplitFieldViews(Text(32767, u'a'), u";", scratch); }), 6);
}

// Lines are searched a block of characters at a time: the split character
// at every position of one to three blocks, once and with a second one,
// among units that share a byte with it.
TEST(SplitFieldViews, SplitCharacterAtEveryPositionOfABlock) {
  const char16_t nearMisses[] = {u'\u013B', u'\u3B00', u'\u3B3B', u'a', u'\uFF3B'};
  Text scratch;
  for (size_t length = 1; length <= 40; ++length) {
    for (size_t first = 0; first < length; ++first) {
      for (size_t second : {first, (first + 17) % length, length - 1}) {
        Text line;
        for (size_t i = 0; i < length; ++i) line.push_back(nearMisses[i % 5]);
        line[first] = line[second] = u';';
        const std::vector<TextView> fields = SplitFieldViews(line, u";", scratch);
        ASSERT_EQ(fields.size(), first == second ? 2u : 3u) << length << " " << first << " " << second;
        for (size_t n = 1; n <= fields.size(); ++n)
          ASSERT_EQ(fields[n - 1], GetField(line, static_cast<int16_t>(n), u";")) << length << " " << first << " " << n;
      }
    }
  }
}

}  // namespace
}  // namespace skov
