// The OS interface where Windows differs: separators and drives, case-blind
// names, attributes, sharing, long paths, the error kinds.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "os/os.h"
#include "os_scratch.h"

namespace skov::os {
namespace {

using skov::testing::Bytes;
using skov::testing::FaultOf;
using skov::testing::Get;
using skov::testing::Put;
using skov::testing::Scratch;

int F(Fault f) { return static_cast<int>(f); }

std::wstring W(const Path& p) { return std::wstring(p.begin(), p.end()); }

// A handle of "another program" that lets others read and nothing else.
class HeldOpen {
 public:
  explicit HeldOpen(const Path& path)
      : h_(::CreateFileW(W(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                         nullptr)) {}
  ~HeldOpen() {
    if (h_ != INVALID_HANDLE_VALUE) ::CloseHandle(h_);
  }
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

TEST(OsWin32Paths, DrivesUncAndBothSeparators) {
  struct Case {
    Text path, base, folder;
  };
  const Case cases[] = {
      {u"C:\\Daten\\PLAN.TXT", u"PLAN.TXT", u"C:\\Daten"},
      {u"C:\\PLAN.TXT", u"PLAN.TXT", u"C:\\"},
      {u"C:/Daten\\Sub/PLAN.TXT", u"PLAN.TXT", u"C:/Daten\\Sub"},
      {u"C:PLAN.TXT", u"PLAN.TXT", u"C:"},
      {u"\\\\server\\share\\PLAN.TXT", u"PLAN.TXT", u"\\\\server\\share\\"},
      {u"\\PLAN.TXT", u"PLAN.TXT", u"\\"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BaseName(c.path), c.base) << ToUtf8(c.path);
    EXPECT_EQ(FolderOf(c.path), c.folder) << ToUtf8(c.path);
  }
  EXPECT_EQ(kSeparator, u'\\');
  EXPECT_EQ(Join(u"C:\\", u"X.XLS"), u"C:\\X.XLS");
  EXPECT_EQ(Join(u"C:\\Daten", u"X.XLS"), u"C:\\Daten\\X.XLS");
  EXPECT_EQ(Absolute(u"C:/Daten/./a/../PLAN.TXT"), u"C:\\Daten\\PLAN.TXT");
}

TEST(OsWin32Files, NamesAreCaseBlind) {
  Scratch dir;
  Put(dir / u"Plan.txt", "x");
  EXPECT_TRUE(SameFile(dir / u"Plan.txt", dir / u"PLAN.TXT"));
  Put(dir / u"\u00e4rger.txt", "x");
  EXPECT_TRUE(SameFile(dir / u"\u00e4rger.txt", dir / u"\u00c4RGER.TXT"));
}

TEST(OsWin32Files, HiddenAndReadOnlyAttributes) {
  Scratch dir;
  Put(dir / u"shown.txt", "x");
  Put(dir / u"hidden.txt", "x");
  Put(dir / u".dot.txt", "x");  // a leading dot hides nothing on Windows
  ASSERT_TRUE(::SetFileAttributesW(W(dir / u"hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
  for (const DirEntry& e : ListFolder(dir.Folder())) EXPECT_EQ(e.hidden, e.name == u"hidden.txt") << ToUtf8(e.name);

  ASSERT_TRUE(::SetFileAttributesW(W(dir / u"shown.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  FileInfo info;
  ASSERT_TRUE(Stat(dir / u"shown.txt", info));
  EXPECT_TRUE(info.readOnly);
  const std::span<const uint8_t> pieces[] = {Bytes("new")};
  Replacement r = WriteReplacement(dir / u"shown.txt", pieces);
  EXPECT_EQ(FaultOf([&] { CommitReplacement(r); }), F(Fault::kDenied));
  EXPECT_EQ(FaultOf([&] { CreateFresh(dir / u"shown.txt"); }), F(Fault::kDenied));
  EXPECT_EQ(Get(dir / u"shown.txt"), "x");
}

// Another program holding a file open without sharing it: "in use", and
// nothing of ours is left behind.
TEST(OsWin32Files, SharingViolationIsInUse) {
  Scratch dir;
  Put(dir / u"PLAN.XLS", "old");
  Put(dir / u"PLAN.LOG", "old");
  HeldOpen workbook(dir / u"PLAN.XLS"), log(dir / u"PLAN.LOG");
  ASSERT_TRUE(workbook.ok() && log.ok());
  const std::span<const uint8_t> pieces[] = {Bytes("new")};
  Replacement r = WriteReplacement(dir / u"PLAN.XLS", pieces);
  EXPECT_EQ(FaultOf([&] { CommitReplacement(r); }), F(Fault::kInUse));
  EXPECT_EQ(FaultOf([&] { CreateFresh(dir / u"PLAN.LOG"); }), F(Fault::kInUse));
  EXPECT_EQ(ListFolder(dir.Folder()).size(), 2u);
  EXPECT_EQ(Get(dir / u"PLAN.XLS"), "old");
}

// A reader that shares deletion (as OpenRead does): Windows 10 on NTFS
// replaces the file under it as Linux does; elsewhere the rename is refused
// as "in use", and nothing changes.
TEST(OsWin32Files, ReplacedUnderAReaderOrInUse) {
  Scratch dir;
  Put(dir / u"PLAN.XLS", "old");
  File reader = OpenRead(dir / u"PLAN.XLS");
  const std::span<const uint8_t> pieces[] = {Bytes("new")};
  Replacement r = WriteReplacement(dir / u"PLAN.XLS", pieces);
  const int fault = FaultOf([&] { CommitReplacement(r); });
  if (fault == F(Fault::kInUse)) {
    EXPECT_EQ(Get(dir / u"PLAN.XLS"), "old");
  } else {
    EXPECT_EQ(fault, -1);
    EXPECT_EQ(Get(dir / u"PLAN.XLS"), "new");
  }
  EXPECT_EQ(ListFolder(dir.Folder()).size(), 1u);
}

TEST(OsWin32Files, DevicesAreNotRegular) {
  for (const Text name : {u"NUL", u"\\\\.\\NUL"}) EXPECT_EQ(FaultOf([&] { OpenRead(name); }), F(Fault::kNotRegular));
}

// A path past MAX_PATH works for every call (the \\?\ form underneath).
TEST(OsWin32Files, LongPaths) {
  Scratch dir;
  std::vector<Path> folders{dir.Folder()};
  for (int i = 0; i < 5; ++i) {
    folders.push_back(Join(folders.back(), Text(60, u'x')));
    ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + W(folders.back())).c_str(), nullptr));
  }
  const Path folder = folders.back();
  ASSERT_GT(folder.size(), size_t{MAX_PATH});
  {
    File f = CreateFresh(Join(folder, u"PLAN.TXT"));
    Close(f);
    const std::span<const uint8_t> pieces[] = {Bytes("new")};
    Replacement r = WriteReplacement(Join(folder, u"PLAN.XLS"), pieces);
    CommitReplacement(r);
    File in = OpenRead(Join(folder, u"PLAN.XLS"));
    EXPECT_EQ(Info(in).size, 3u);
    FolderLock lock;
    EXPECT_TRUE(lock.TryLock(folder));
    EXPECT_EQ(ListFolder(folder).size(), 3u);  // with the lock file
  }
  for (const DirEntry& e : ListFolder(folder)) ::DeleteFileW((L"\\\\?\\" + W(Join(folder, e.name))).c_str());
  for (size_t i = folders.size() - 1; i > 0; --i) ::RemoveDirectoryW((L"\\\\?\\" + W(folders[i])).c_str());
}

// A full disk as wine gives it: the host's /dev/full.
TEST(OsWin32Files, FullDiskIsNoSpace) {
  HANDLE h = ::CreateFileW(L"Z:\\dev\\full", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           0, nullptr);
  if (h == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no /dev/full: not under wine";
  File full(reinterpret_cast<intptr_t>(h));
  const std::string bytes(4096, 'x');
  const std::span<const uint8_t> pieces[] = {Bytes(bytes)};
  EXPECT_EQ(FaultOf([&] { WriteAll(full, pieces); }), F(Fault::kNoSpace));
}

TEST(OsWin32Process, DocumentsFolderExists) {
  const Path documents = DocumentsFolder(GetEnv);
  ASSERT_FALSE(documents.empty());
  EXPECT_FALSE(IsSeparator(documents.back()));
  FileInfo info;
  ASSERT_TRUE(Stat(documents, info));
  EXPECT_TRUE(info.folder);
}

}  // namespace
}  // namespace skov::os
