// ShowFileDialog: the record handed to the platform, the answer taken back.
#include "dialog/common_dialog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "strings/fields.h"
#include "strings/runtime_error.h"
#include "support/error_of.h"

namespace skov {
namespace {

struct FakePlatform : PlatformFileDialog {
  PlatformDialogAnswer answer;
  std::vector<OpenFileName> shown;
  std::vector<bool> opens;
  int activeCalls = 0;
  PlatformDialogAnswer Show(const OpenFileName& record, bool open) override {
    shown.push_back(record);
    opens.push_back(open);
    return answer;
  }
  int32_t ActiveWindow() override {
    ++activeCalls;
    return 0x4711;
  }
};

const Text kFilter = Text(u"All files (*.*)") + u'\0' + u"*.*" + u'\0' + u'\0';
const Text kNuls(255, u'\0');

struct Call {
  Text folder, fileName;
  int16_t filterIndex = 1;
  int32_t owner = -1;
  bool open = true;
  int32_t flags = 0x1804;
};

Text Ask(FakePlatform& p, OpenFileName& last, Call c) {
  return ShowFileDialog(c.folder, kFilter, c.filterIndex, u"txt", c.fileName, u"Importdatei", c.owner, c.open, c.flags,
                        last, p);
}

TEST(ShowFileDialog, RecordHandedToThePlatform) {
  FakePlatform p;
  OpenFileName last;
  Ask(p, last, {u"", u"PLAN", -3, 0, false, 0x1804});
  ASSERT_EQ(p.shown.size(), 1u);
  const OpenFileName& r = p.shown[0];
  EXPECT_EQ(r.lStructSize, 76);
  EXPECT_EQ(r.hInstance, 0);
  EXPECT_EQ(r.lpstrFilter, kFilter);
  EXPECT_EQ(r.lpstrCustomFilter, kNuls);
  EXPECT_EQ(r.nMaxCustFilter, 255);
  EXPECT_EQ(r.nFilterIndex, -3);  // widened with its sign
  EXPECT_EQ(r.lpstrFile, Text(u"PLAN") + Text(251, u'\0'));
  EXPECT_EQ(r.nMaxFile, 255);
  EXPECT_EQ(r.lpstrFileTitle, kNuls);
  EXPECT_EQ(r.nMaxFileTitle, 255);
  EXPECT_EQ(r.lpstrInitialDir, FromUtf8(std::filesystem::current_path().string()));
  EXPECT_EQ(r.lpstrTitle, Text(u"Importdatei"));
  EXPECT_EQ(r.Flags, 0x1804);
  EXPECT_EQ(r.nFileOffset, 0);
  EXPECT_EQ(r.nFileExtension, 0);
  EXPECT_EQ(r.lpstrDefExt, Text(u"txt"));
  EXPECT_EQ(r.lCustData, 0);
  EXPECT_EQ(r.lpfnHook, 0);
  EXPECT_FALSE(r.lpTemplateName.has_value());
  EXPECT_EQ(p.opens, std::vector<bool>{false});
}

TEST(ShowFileDialog, OwnerAndInitialFolder) {
  struct Case {
    int32_t owner;
    int32_t expectedOwner;
    Text folder, expectedFolder;
  };
  const Text cwd = FromUtf8(std::filesystem::current_path().string());
  const Case cases[] = {{-1, 0x4711, u"", cwd}, {0, 0, u"/daten", u"/daten"}, {7, 7, u"rel", u"rel"}, {-2, -2, u"", cwd}};
  for (const Case& c : cases) {
    FakePlatform p;
    OpenFileName last;
    Ask(p, last, {c.folder, u"", 1, c.owner});
    ASSERT_EQ(p.shown.size(), 1u);
    EXPECT_EQ(p.shown[0].hwndOwner, c.expectedOwner) << c.owner;
    EXPECT_EQ(p.activeCalls, c.owner == -1 ? 1 : 0) << c.owner;
    EXPECT_EQ(p.shown[0].lpstrInitialDir, c.expectedFolder) << c.owner;
  }
}

TEST(ShowFileDialog, FileNameLengths) {
  for (size_t n : {0u, 1u, 254u, 255u, 256u, 300u}) {
    FakePlatform p;
    OpenFileName last;
    const Text name(n, u'a');
    if (n > 255) {
      try {
        Ask(p, last, {u"", name});
        ADD_FAILURE() << n << " characters accepted";
      } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), 5);
      }
      EXPECT_TRUE(p.shown.empty()) << "no dialog for " << n;
      continue;
    }
    Ask(p, last, {u"", name});
    ASSERT_EQ(p.shown.size(), 1u);
    const Text& buffer = *p.shown[0].lpstrFile;
    EXPECT_EQ(buffer.size(), 255u) << n;
    EXPECT_EQ(buffer.substr(0, n), name);
    EXPECT_EQ(buffer.find_first_not_of(u'\0', n), Text::npos) << n;
  }
}

TEST(ShowFileDialog, OkKeepsTheRecordAndGivesThePath) {
  FakePlatform p;
  p.answer = {true, u"/Daten/PLAN.TXT", 0x1804 | 0x1};  // the platform may add flags
  OpenFileName last;
  Call c;
  const Text result = ShowFileDialog(u"", kFilter, 1, u"", u"", u"Importdatei", -1, true, c.flags, last, p);
  EXPECT_EQ(result, u"/Daten/PLAN.TXT");
  EXPECT_EQ(c.flags, 0x1805);
  EXPECT_EQ(last.Flags, 0x1805);
  EXPECT_EQ(last.lpstrFile->size(), 255u);
  EXPECT_EQ(last.lpstrFileTitle->size(), 255u);
  EXPECT_EQ(TrimNull(*last.lpstrFile), u"/Daten/PLAN.TXT");
  EXPECT_EQ(TrimNull(*last.lpstrFileTitle), u"PLAN.TXT");
  EXPECT_EQ(last.nFileOffset, 7);
  EXPECT_EQ(last.nFileExtension, 12);
  EXPECT_EQ(last.lpstrFilter, kFilter);
  EXPECT_EQ(last.hwndOwner, 0x4711);
}

TEST(ShowFileDialog, FileBufferKeepsWhatLayBehindTheAnswer) {
  FakePlatform p;
  p.answer = {true, u"/a/B.TXT", 0x1804};
  OpenFileName last;
  const Text initial = u"/lange/initiale/datei.txt";
  Ask(p, last, {u"", initial});
  const Text expected = Text(u"/a/B.TXT") + u'\0' + initial.substr(9) + Text(255 - initial.size(), u'\0');
  EXPECT_EQ(*last.lpstrFile, expected);
}

TEST(ShowFileDialog, CancelAndFailuresLeaveEverything) {
  struct Case {
    const char* what;
    PlatformDialogAnswer answer;
  };
  const Case cases[] = {
      {"cancel", {false, u"/x/IGNORED.TXT", 0x1}},
      {"empty path", {true, u"", 0x1804}},
  };
  for (const Case& c : cases) {
    FakePlatform p;
    p.answer = {true, u"/erst/ALT.TXT", 0x1804};
    OpenFileName last;
    Ask(p, last, {});
    const OpenFileName before = last;
    p.answer = c.answer;
    int32_t flags = 0x1804;
    EXPECT_EQ(ShowFileDialog(u"", kFilter, 1, u"", u"", u"T", -1, true, flags, last, p), u"") << c.what;
    EXPECT_EQ(flags, 0x1804) << c.what;
    EXPECT_EQ(last, before) << c.what;
  }
  FakePlatform fresh;  // no dialog before: the record stays empty
  OpenFileName none;
  Ask(fresh, none, {});
  EXPECT_EQ(none, OpenFileName{});
}

TEST(ShowFileDialog, LongestPathThatFits) {
  FakePlatform p;
  const Text path = u"/" + Text(253, u'p');
  p.answer = {true, path, 0x1804};
  OpenFileName last;
  EXPECT_EQ(Ask(p, last, {}), path);
  EXPECT_EQ(last.lpstrFile, path + u'\0');
}

// Linux paths run to 4095 bytes: the buffers grow to hold the path and its
// NUL instead of failing the dialog; a path that fits keeps the 255.
TEST(ShowFileDialog, LongPathsGrowTheBuffers) {
  struct Case {
    size_t folderLength, nameLength;
    size_t fileBuffer, titleBuffer;
  };
  const Case cases[] = {{200, 53, 255, 255}, {200, 54, 256, 255}, {4000, 94, 4096, 255}, {3000, 255, 3257, 256}};
  for (const Case& c : cases) {
    FakePlatform p;
    const Text name = Text(c.nameLength - 4, u'n') + u".TXT";
    const Text path = u"/" + Text(c.folderLength - 1, u'd') + u"/" + name;
    p.answer = {true, path, 0x1804};
    OpenFileName last;
    EXPECT_EQ(Ask(p, last, {}), path) << path.size();
    EXPECT_EQ(last.lpstrFile->size(), c.fileBuffer) << path.size();
    EXPECT_EQ(last.nMaxFile, static_cast<int32_t>(c.fileBuffer)) << path.size();
    EXPECT_EQ(TrimNull(*last.lpstrFile), path);
    EXPECT_EQ(last.lpstrFile->at(path.size()), u'\0');
    EXPECT_EQ(last.lpstrFileTitle->size(), c.titleBuffer) << path.size();
    EXPECT_EQ(last.nMaxFileTitle, static_cast<int32_t>(c.titleBuffer)) << path.size();
    EXPECT_EQ(TrimNull(*last.lpstrFileTitle), name);
    EXPECT_EQ(last.nFileOffset, static_cast<int16_t>(c.folderLength + 1));
  }
  // Past 32767 characters the answer overflows (error 6); the record kept
  // holds no offset wrapped into the 16-bit fields.
  FakePlatform p;
  const Text path = u"/" + Text(40000, u'd') + u"/PLAN.TXT";
  p.answer = {true, path, 0x1804};
  OpenFileName last;
  EXPECT_EQ(testing::ErrorOf([&] { Ask(p, last, {}); }), 6);
  EXPECT_EQ(last.nFileOffset, 0);
  EXPECT_EQ(last.nFileExtension, 0);
}

TEST(ShowFileDialog, MultiSelectResultIsTheWholeBuffer) {
  FakePlatform p;
  const Text list = Text(u"/daten") + u'\0' + u"A.TXT" + u'\0' + u"B.TXT";
  p.answer = {true, list, 0x1804 | kOfnAllowMultiSelect};
  OpenFileName last;
  const Text result = Ask(p, last, {u"", u"", 1, -1, true, 0x1804 | kOfnAllowMultiSelect});
  EXPECT_EQ(result.size(), 255u);
  EXPECT_EQ(result, list + Text(255 - list.size(), u'\0'));
  EXPECT_EQ(result, *last.lpstrFile);
}

TEST(ShowFileDialog, TextsOutsideWindows1252StayIntact) {
  FakePlatform p;
  p.answer = {true, u"/daten/Plan \u0141\u00f3d\u017a.txt", 0x1804};
  OpenFileName last;
  EXPECT_EQ(Ask(p, last, {}), u"/daten/Plan \u0141\u00f3d\u017a.txt");
  EXPECT_EQ(TrimNull(*last.lpstrFileTitle), u"Plan \u0141\u00f3d\u017a.txt");
}

}  // namespace
}  // namespace skov
