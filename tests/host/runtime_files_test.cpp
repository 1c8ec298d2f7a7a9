// Numbered files: line ends, end of file, print zones, already-open rules.
#include "support/error_of.h"
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "host/runtime_files.h"
#include "strings/runtime_error.h"
#include "support/temp_dir.h"

namespace skov {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

using testing::ErrorOf;

std::vector<Text> AllLines(const std::string& bytes) {
  TempDir dir;
  WriteFile(dir / "f.txt", bytes);
  RuntimeFiles files;
  files.Open(FromUtf8(dir / "f.txt"), OpenMode::Input, 1, true);
  std::vector<Text> lines;
  while (!files.Eof(1)) lines.push_back(files.LineInput(1));
  return lines;
}

TEST(RuntimeFiles, LineEnds) {
  struct Case {
    std::string bytes;
    std::vector<Text> lines;
  };
  const Case cases[] = {
      {"a\r\nb\r\n", {u"a", u"b"}},
      {"a\rb\r", {u"a", u"b"}},
      {"a\r\nb", {u"a", u"b"}},
      {"a\r\n\r\nb\r\n", {u"a", u"", u"b"}},
      {"a\nb\n", {u"a", u"b"}},             // no CR anywhere: Linux lines
      {"a\nb\r\nc", {u"a\nb", u"c"}},       // a CR somewhere: LF is just a character
      {"\xE4\x80\r\n", {u"ä€"}},
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(AllLines(c.bytes), c.lines) << c.bytes;
}

TEST(RuntimeFiles, EndOfFileAndInputPastEnd) {
  TempDir dir;
  WriteFile(dir / "h.txt", "HEADER\r\n");
  RuntimeFiles files;
  files.Open(FromUtf8(dir / "h.txt"), OpenMode::Input, 3, true);
  EXPECT_FALSE(files.Eof(3));
  EXPECT_EQ(files.LineInput(3), u"HEADER");
  EXPECT_TRUE(files.Eof(3));
  EXPECT_EQ(ErrorOf([&] { files.LineInput(3); }), 62);
  EXPECT_EQ(ErrorOf([&] { files.LineInput(4); }), 52);
}

TEST(RuntimeFiles, PrintZonesPadToNextZone) {
  TempDir dir;
  RuntimeFiles files;
  const Text path = FromUtf8(dir / "log.txt");
  files.Open(path, OpenMode::Output, 1, true);
  files.PrintZones(1, {u"Blatt 1", u""});
  files.PrintZones(1, {u"", u""});
  files.PrintZones(1, {Text(14, u'x'), u""});
  files.PrintZones(1, {Text(20, u'y'), u"z"});
  files.PrintZones(1, {u"Grüße"});
  files.Close(1);
  EXPECT_EQ(ReadFile(dir / "log.txt"), "Blatt 1       \r\n"
                                       "              \r\n"
                                       "xxxxxxxxxxxxxx              \r\n"
                                       "yyyyyyyyyyyyyyyyyyyy        z\r\n"
                                       "Gr\xFC\xDF" "e\r\n");
}

TEST(RuntimeFiles, AlreadyOpenRules) {
  TempDir dir;
  WriteFile(dir / "a.txt", "x\r\n");
  const Text a = FromUtf8(dir / "a.txt");
  const Text viaDots = FromUtf8(dir.str() + "/./a.txt");
  struct Case {
    OpenMode first, second;
    int error;
  };
  const Case cases[] = {
      {OpenMode::Input, OpenMode::Input, 0},
      {OpenMode::Input, OpenMode::Output, 55},
      {OpenMode::Output, OpenMode::Input, 55},
      {OpenMode::Output, OpenMode::Output, 55},
  };
  for (const auto& c : cases) {
    RuntimeFiles files;
    files.Open(a, c.first, 1, true);
    EXPECT_EQ(ErrorOf([&] { files.Open(viaDots, c.second, 2, true); }), c.error);
  }
  RuntimeFiles files;
  files.Open(a, OpenMode::Input, 1, true);
  EXPECT_EQ(ErrorOf([&] { files.Open(a, OpenMode::Input, 1, true); }), 55);  // number in use
  EXPECT_EQ(files.FreeFile(), 2);
  files.Close(1);
  files.Close(1);  // closing twice does nothing
  EXPECT_EQ(files.FreeFile(), 1);
}

TEST(RuntimeFiles, OpenFailures) {
  TempDir dir;
  std::filesystem::create_directory(dir / "sub");
  RuntimeFiles files;
  struct Case {
    std::string path;
    OpenMode mode;
    int error;
  };
  const Case cases[] = {
      {dir / "missing.txt", OpenMode::Input, 53},
      {dir / "nofolder/x.txt", OpenMode::Input, 76},
      {dir / "nofolder/x.txt", OpenMode::Output, 76},
      {dir / "sub", OpenMode::Input, 75},
      {dir / "sub", OpenMode::Output, 75},
      {"", OpenMode::Input, 52},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorOf([&] { files.Open(FromUtf8(c.path), c.mode, 1, false); }), c.error) << c.path;
  EXPECT_EQ(files.FreeFile(), 1);
}

TEST(RuntimeFiles, ListsPlainVisibleFilesInNameOrder) {
  TempDir dir;
  for (const char* name : {"b.txt", "A.TXT", "c", ".hidden", "Lüftung.txt"}) WriteFile(dir / name, "x");
  std::filesystem::create_directory(dir / "folder");
  std::filesystem::create_symlink(dir / "b.txt", dir / "link.txt");
  EXPECT_EQ(RuntimeFiles::ListFiles(FromUtf8(dir.str() + "/")),
            (std::vector<Text>{u"A.TXT", u"b.txt", u"c", u"link.txt", u"Lüftung.txt"}));
  EXPECT_TRUE(RuntimeFiles::ListFiles(FromUtf8(dir / "none/")).empty());
}

}  // namespace
}  // namespace skov
