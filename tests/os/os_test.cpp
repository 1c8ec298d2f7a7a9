// The OS interface as every implementation must behave.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "os/os.h"
#include "os_scratch.h"

namespace skov::os {
namespace {

using skov::testing::Bytes;
using skov::testing::FaultOf;
using skov::testing::Get;
using skov::testing::Put;
using skov::testing::Scratch;

constexpr int kNoFault = -1;
int F(Fault f) { return static_cast<int>(f); }

std::string ReadAll(File& file) {
  std::string out;
  char chunk[7];  // small, so that reads end inside the data
  while (size_t n = Read(file, chunk, sizeof chunk)) out.append(chunk, n);
  return out;
}

std::vector<Text> Names(const std::vector<DirEntry>& entries) {
  std::vector<Text> names;
  for (const DirEntry& e : entries) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(OsPaths, SplitAndJoinWithForwardSlashes) {
  struct Case {
    Text path, base, folder;
  };
  const Case cases[] = {
      {u"a/b/PLAN.TXT", u"PLAN.TXT", u"a/b"},
      {u"PLAN.TXT", u"PLAN.TXT", u""},
      {u"/PLAN.TXT", u"PLAN.TXT", u"/"},
      {u"a/b/", u"", u"a/b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BaseName(c.path), c.base) << ToUtf8(c.path);
    EXPECT_EQ(FolderOf(c.path), c.folder) << ToUtf8(c.path);
  }
  EXPECT_EQ(Join(u"a", u"b"), Text(u"a") + kSeparator + u"b");
  EXPECT_EQ(Join(u"a/", u"b"), u"a/b");
  EXPECT_EQ(Join(u"", u"b"), u"b");
  EXPECT_TRUE(IsSeparator(u'/'));
  EXPECT_TRUE(IsSeparator(kSeparator));
}

TEST(OsPaths, AbsoluteIsLexicallyNormal) {
  const Path here = CurrentFolder();
  ASSERT_FALSE(here.empty());
  EXPECT_EQ(Absolute(u"a/./b/../c"), Join(Join(here, u"a"), u"c"));
}

// CR LF, a lone LF, Ctrl-Z and NUL pass both ways unchanged; reads end at
// the end of the data whatever the chunk size.
TEST(OsFiles, BinaryBothWays) {
  Scratch dir;
  const std::string first = "A;B\r\nC\n\x1A", second(std::string("\0\xE4\xFF\r", 4));
  const std::span<const uint8_t> pieces[] = {Bytes(first), Bytes(""), Bytes(second)};
  File out = CreateFresh(dir / u"x.txt");
  WriteAll(out, pieces);
  Flush(out);
  Close(out);
  EXPECT_FALSE(out.IsOpen());
  EXPECT_EQ(Get(dir / u"x.txt"), first + second);

  File in = OpenRead(dir / u"x.txt");
  char two[2];
  ASSERT_EQ(ReadAt(in, 3, two, sizeof two), 2u);
  EXPECT_EQ(std::string(two, 2), "\r\n");
  EXPECT_EQ(ReadAt(in, 100, two, sizeof two), 0u);
  EXPECT_EQ(ReadAll(in), first + second) << "ReadAt moved the position";
  const FileInfo info = Info(in);
  EXPECT_EQ(info.size, first.size() + second.size());
  EXPECT_TRUE(info.regular);
  EXPECT_FALSE(info.folder);
  EXPECT_TRUE(info.id.Known());
}

TEST(OsFiles, IdentityTellsFilesApartAndLinksTogether) {
  Scratch dir;
  Put(dir / u"a.txt", "a");
  Put(dir / u"b.txt", "a");
  std::filesystem::create_hard_link(dir.path() / "a.txt", dir.path() / "link.txt");
  FileInfo a, b, link;
  ASSERT_TRUE(Stat(dir / u"a.txt", a));
  ASSERT_TRUE(Stat(dir / u"b.txt", b));
  ASSERT_TRUE(Stat(dir / u"link.txt", link));
  EXPECT_NE(a.id, b.id);
  EXPECT_EQ(a.id, link.id);
  EXPECT_TRUE(SameFile(dir / u"a.txt", dir / u"link.txt"));
  EXPECT_FALSE(SameFile(dir / u"a.txt", dir / u"b.txt"));
  EXPECT_FALSE(SameFile(dir / u"a.txt", dir / u"missing.txt"));
  EXPECT_FALSE(Stat(dir / u"missing.txt", a));
  FileInfo folder;
  ASSERT_TRUE(Stat(dir.Folder(), folder));
  EXPECT_TRUE(folder.folder);
  EXPECT_FALSE(folder.regular);
}

// The log and the list are made anew: another name of the old file, the
// import file itself perhaps, keeps its bytes.
TEST(OsFiles, CreateFreshNeverEmptiesAnotherName) {
  Scratch dir;
  Put(dir / u"PLAN.TXT", "the drawing");
  std::filesystem::create_hard_link(dir.path() / "PLAN.TXT", dir.path() / "IMPORT.LOG");
  File log = CreateFresh(dir / u"IMPORT.LOG");
  const std::string line = "Importdatei geoeffnet:\r\n";
  const std::span<const uint8_t> pieces[] = {Bytes(line)};
  WriteAll(log, pieces);
  Close(log);
  EXPECT_EQ(Get(dir / u"PLAN.TXT"), "the drawing");
  EXPECT_EQ(Get(dir / u"IMPORT.LOG"), line);
  EXPECT_FALSE(SameFile(dir / u"PLAN.TXT", dir / u"IMPORT.LOG"));
}

TEST(OsFiles, FaultsOfOpening) {
  Scratch dir;
  std::filesystem::create_directory(dir.path() / "folder");
  struct Case {
    const char* what;
    std::function<void()> call;
    int fault;
  };
  const Case cases[] = {
      {"missing file", [&] { OpenRead(dir / u"missing.txt"); }, F(Fault::kMissing)},
      {"missing folder", [&] { OpenRead(dir / u"missing/x.txt"); }, F(Fault::kMissingFolder)},
      {"folder read", [&] { OpenRead(dir / u"folder"); }, F(Fault::kNotRegular)},
      {"folder created", [&] { CreateFresh(dir / u"folder"); }, F(Fault::kNotRegular)},
      {"created in missing folder", [&] { CreateFresh(dir / u"missing/x.txt"); }, F(Fault::kMissingFolder)},
      {"list missing folder", [&] { ListFolder(dir / u"missing"); }, F(Fault::kMissingFolder)},
  };
  for (const Case& c : cases) EXPECT_EQ(FaultOf(c.call), c.fault) << c.what;
}

TEST(OsFolders, ListsEveryNameAsTheSystemHasIt) {
  Scratch dir;
  const Text names[] = {u"PLAN.TXT", u"K\u00e4ltetechnik L\u00fcftung.TXT", u"\u03a9 Plan.txt", u"no dot"};
  for (const Text& name : names) {
    File f = CreateFresh(dir / name);
    Close(f);
  }
  std::filesystem::create_directory(dir.path() / "sub");
  const std::vector<DirEntry> entries = ListFolder(dir.Folder());
  std::vector<Text> want(std::begin(names), std::end(names));
  want.push_back(u"sub");
  std::sort(want.begin(), want.end());
  EXPECT_EQ(Names(entries), want);
  for (const DirEntry& e : entries) {
    EXPECT_EQ(e.regular, e.name != u"sub") << ToUtf8(e.name);
    EXPECT_FALSE(e.hidden) << ToUtf8(e.name);
  }
  EXPECT_TRUE(ListFolder(dir / u"sub").empty());
}

TEST(OsFolders, OneLockPerFolder) {
  Scratch dir;
  FolderLock first, second;
  ASSERT_TRUE(first.TryLock(dir.Folder()));
  EXPECT_FALSE(second.TryLock(dir.Folder()));
  first.Unlock();
  EXPECT_TRUE(second.TryLock(dir.Folder()));
  second.Unlock();
  // The lock file stays, and a listing sees it as hidden.
  for (const DirEntry& e : ListFolder(dir.Folder())) EXPECT_TRUE(e.hidden) << ToUtf8(e.name);
}

TEST(OsReplace, TargetUnchangedUntilTheCommit) {
  Scratch dir;
  const Path target = dir / u"PLAN.XLS";
  Put(target, "old");
  const std::string bytes = "new workbook";
  const std::span<const uint8_t> pieces[] = {Bytes(bytes)};
  Replacement r = WriteReplacement(target, pieces);
  EXPECT_EQ(Get(target), "old");
  EXPECT_EQ(Get(r.temp), bytes);
  EXPECT_EQ(FolderOf(r.temp), FolderOf(target));
  FlushReplacement(r);
  EXPECT_TRUE(r.flushed);
  CommitReplacement(r);
  FlushFolder(dir.Folder());
  EXPECT_EQ(Get(target), bytes);
  EXPECT_EQ(Names(ListFolder(dir.Folder())), std::vector<Text>{u"PLAN.XLS"});
}

TEST(OsReplace, DropLeavesNothing) {
  Scratch dir;
  const std::span<const uint8_t> pieces[] = {Bytes("new")};
  Replacement r = WriteReplacement(dir / u"PLAN.XLS", pieces);
  DropReplacement(r);
  DropReplacement(r);
  EXPECT_TRUE(ListFolder(dir.Folder()).empty());
}

// Only what a save that died left goes: not a living save's file, not a
// file of our name with other content, not a user's file of a similar name.
TEST(OsReplace, LeftoversOfDeadSavesOnly) {
  Scratch dir;
  const std::string signature = "\xD0\xCF\x11\xE0";
  const std::string workbook = signature + "rest";
  const std::span<const uint8_t> pieces[] = {Bytes(workbook)};
  Replacement dead = WriteReplacement(dir / u"A.XLS", pieces);
  EXPECT_EQ(BaseName(dead.temp).substr(0, Text(kTempPrefix).size()), kTempPrefix);
  File gone(dead.file.Release());
  Close(gone);  // the process died here
  Replacement alive = WriteReplacement(dir / u"B.XLS", pieces);
  const Text ourShape = Text(kTempPrefix) + u"Abc123";
  Put(dir / ourShape, "user's");
  Put(dir / u".PLAN.XLS.backup", workbook);
  Put(dir / u".PLAN.XLS.A1b2C3", workbook);

  RemoveLeftovers(dir.Folder(), Bytes(signature));
  std::vector<Text> want = {ourShape, u".PLAN.XLS.A1b2C3", u".PLAN.XLS.backup", Text(BaseName(alive.temp))};
  std::sort(want.begin(), want.end());
  EXPECT_EQ(Names(ListFolder(dir.Folder())), want);
  CommitReplacement(alive);
  EXPECT_EQ(Get(dir / u"B.XLS"), workbook);
}

// Until the commit the bytes can be read under the temporary name, and the
// commit does not wait for that reader.
TEST(OsReplace, TempReadableUntilTheCommit) {
  Scratch dir;
  const std::span<const uint8_t> pieces[] = {Bytes("bytes")};
  Replacement r = WriteReplacement(dir / u"PLAN.XLS", pieces);
  File reader = OpenRead(r.temp);
  CommitReplacement(r);
  EXPECT_EQ(ReadAll(reader), "bytes");
  EXPECT_EQ(Get(dir / u"PLAN.XLS"), "bytes");
}

TEST(OsCodePages, BytesOfEachCharacter) {
  struct Case {
    uint16_t codePage;
    char16_t character;
    uint16_t bytes;
  };
  const Case cases[] = {
      {1252, u'\u20ac', 0x80}, {1252, u'\u00e4', 0xE4},  {1250, u'\u0150', 0xD5},
      {1251, u'\u0416', 0xC6}, {932, u'\u3042', 0x82A0}, {10000, u'\u00c4', 0x80},
  };
  std::vector<uint16_t> table;
  for (const Case& c : cases) {
    ASSERT_TRUE(CodePageBytes(c.codePage, table)) << c.codePage;
    ASSERT_EQ(table.size(), 0x10000u);
    EXPECT_EQ(table[c.character], c.bytes) << c.codePage << " U+" << std::hex << int(c.character);
    EXPECT_EQ(table[u'\u0e01'], 0) << c.codePage;  // Thai: none of them has it
  }
  EXPECT_FALSE(CodePageBytes(1, table));
}

}  // namespace
}  // namespace skov::os
