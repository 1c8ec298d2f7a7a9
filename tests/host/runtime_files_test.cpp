// Numbered files: line ends, end of file, print zones, already-open rules.
#include "support/error_of.h"
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "host/runtime_files.h"
#include "strings/runtime_error.h"
#include "support/file_size_limit.h"
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
      {std::string(65535, 'a') + "\r\nb", {Text(65535, u'a'), u"b"}},  // CR LF across a read chunk
      {std::string(70000, 'a') + "\nb", {Text(70000, u'a'), u"b"}},
  };
  for (const auto& c : cases) EXPECT_EQ(AllLines(c.bytes), c.lines) << c.bytes;
}

// A line's bytes stay as read until the next read, an end-of-file test in
// between (the header line is logged after one): lines ending on and
// around the end of a read chunk, with every kind of line end.
TEST(RuntimeFiles, LineBytesOutliveTheEndOfFileTest) {
  TempDir dir;
  for (const std::string end : {"\r\n", "\r", "\n"}) {
    for (size_t length = 65526; length <= 65536; ++length) {
      const std::string first(length, 'a'), second = "bc\xE4";
      WriteFile(dir / "c.txt", first + end + second + end + "d");
      RuntimeFiles files;
      files.Open(FromUtf8(dir / "c.txt"), OpenMode::Input, 1, true);
      for (const std::string& want : {first, second, std::string("d")}) {
        const std::string_view got = files.LineBytes(1);
        files.Eof(1);
        ASSERT_EQ(got, want) << length << " " << (end == "\n" ? "LF" : end == "\r" ? "CR" : "CR LF");
      }
      EXPECT_TRUE(files.Eof(1));
    }
  }
}

TEST(RuntimeFiles, OverlongLineIsNotReadIntoMemory) {
  TempDir dir;
  WriteFile(dir / "l.txt", "HEADER\r\n" + std::string(RuntimeFiles::kMaxLineBytes + 1, 'x') + "\r\nnext\r\n");
  RuntimeFiles files;
  files.Open(FromUtf8(dir / "l.txt"), OpenMode::Input, 1, true);
  EXPECT_EQ(files.LineInput(1), u"HEADER");
  EXPECT_EQ(ErrorOf([&] { files.LineInput(1); }), 14);
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
  const Text viaLink = FromUtf8(dir / "link.txt");
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
  for (const Text& other : {viaDots, viaLink}) {
    for (const auto& c : cases) {
      // An output opened before is a new file: the link is made again.
      std::filesystem::remove(dir / "link.txt");
      WriteFile(dir / "a.txt", "x\r\n");
      std::filesystem::create_hard_link(dir / "a.txt", dir / "link.txt");
      RuntimeFiles files;
      files.Open(a, c.first, 1, true);
      // An output is a new file: the link then names the old one, untouched.
      const bool parted = c.first == OpenMode::Output && other == viaLink;
      EXPECT_EQ(ErrorOf([&] { files.Open(other, c.second, 2, true); }), parted ? 0 : c.error);
      EXPECT_TRUE(files.HoldsOpen(other));
      if (parted) {
        EXPECT_EQ(ReadFile(dir / "link.txt"), c.second == OpenMode::Input ? "x\r\n" : "");
      }
      if (c.first == OpenMode::Input) {
        EXPECT_EQ(ReadFile(dir / "a.txt"), "x\r\n") << "a refused open empties nothing";
      }
    }
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
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  ::alarm(30);  // a FIFO that blocks fails the test instead of hanging it
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
      {dir / "fifo", OpenMode::Input, 75},
      {dir / "fifo", OpenMode::Output, 75},
      {"/dev/zero", OpenMode::Input, 75},
      {"/dev/null", OpenMode::Output, 75},
      {"", OpenMode::Input, 52},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorOf([&] { files.Open(FromUtf8(c.path), c.mode, 1, false); }), c.error) << c.path;
  ::alarm(0);
  EXPECT_EQ(files.FreeFile(), 1);
}

TEST(RuntimeFiles, WriteFailuresAreReportedAtTheLatestOnClose) {
  TempDir dir;
  RuntimeFiles files;
  const Text path = FromUtf8(dir / "log.txt");
  testing::FileSizeLimit limit(100);
  files.Open(path, OpenMode::Output, 1, true);
  files.PrintZones(1, {Text(200, u'x')});  // buffered: nothing written yet
  EXPECT_EQ(ErrorOf([&] { files.Close(1); }), 61);
  EXPECT_EQ(files.FreeFile(), 1);
  files.Open(path, OpenMode::Output, 1, true);
  files.PrintZones(1, {Text(200, u'x')});
  EXPECT_EQ(ErrorOf([&] { files.Flush(1); }), 61);
  EXPECT_EQ(ErrorOf([&] { files.PrintZones(1, {u"y"}); }), 61);
  EXPECT_EQ(ErrorOf([&] { files.Close(1); }), 61);
}

// Lines that fill the output buffer go out behind it, when the buffer
// would have been written: whole and in order, or as far as the file may
// grow, with the failure reported there.
TEST(RuntimeFiles, LinesThatFillTheBufferFollowIt) {
  TempDir dir;
  const std::string a(30000, 'a'), b(40000, 'b');
  for (size_t limit : {0, 50000}) {
    const Text path = FromUtf8(dir / "log.txt");
    RuntimeFiles files;
    files.Open(path, OpenMode::Output, 1, true);
    files.PrintZones(1, {u"erste"});
    files.PrintLines(1, a);
    std::optional<testing::FileSizeLimit> limited;
    if (limit) limited.emplace(limit);
    EXPECT_EQ(ErrorOf([&] { files.PrintLines(1, b); }), limit ? 61 : 0);
    limited.reset();
    EXPECT_EQ(ErrorOf([&] {
                files.PrintZones(1, {u"letzte"});
                files.Close(1);
              }),
              limit ? 61 : 0);
    const std::string all = "erste\r\n" + a + b + "letzte\r\n";
    EXPECT_EQ(ReadFile(dir / "log.txt"), limit ? all.substr(0, limit) : all) << limit;
  }
}

TEST(RuntimeFiles, ListsPlainVisibleFilesInNameOrder) {
  TempDir dir;
  // Case ignored for Latin-1 letters as for ASCII ones: "äa" before "Äb".
  for (const char* name : {"b.txt", "A.TXT", "c", ".hidden", "Lüftung.txt", "Äb", "äa"}) WriteFile(dir / name, "x");
  std::filesystem::create_directory(dir / "folder");
  std::filesystem::create_symlink(dir / "b.txt", dir / "link.txt");
  EXPECT_EQ(RuntimeFiles::ListFiles(FromUtf8(dir.str() + "/")),
            (std::vector<Text>{u"A.TXT", u"b.txt", u"c", u"link.txt", u"Lüftung.txt", u"äa", u"Äb"}));
  EXPECT_EQ(ErrorOf([&] { RuntimeFiles::ListFiles(FromUtf8(dir / "none/")); }), 76);
  if (::geteuid() != 0) {
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_write | std::filesystem::perms::owner_exec);
    EXPECT_EQ(ErrorOf([&] { RuntimeFiles::ListFiles(FromUtf8(dir.str() + "/")); }), 75);
  }
}

}  // namespace
}  // namespace skov
