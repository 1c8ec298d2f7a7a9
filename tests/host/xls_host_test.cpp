// The .XLS host on real files: import-like fills checked by xlrd, round
// trips, failure classes, and saving that never harms the template.
#include "support/error_of.h"
#include "host/xls_host.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>

#include "strings/runtime_error.h"
#include "support/temp_dir.h"
#include "xls/biff_test_util.h"
#include "xls/cfb.h"

namespace skov {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::string Fixture(const std::string& name) { return std::string(SKOV_TEST_DATA) + "/xls/" + name; }

using testing::ErrorOf;

std::string Python() { return fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3"; }

bool HaveXlrd() {
  static const bool have = std::system((Python() + " -c 'import xlrd' 2>/dev/null").c_str()) == 0;
  return have;
}

std::string JsonString(const Text& t) {
  std::string out = "\"";
  char buf[8];
  for (char16_t ch : t) {
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += char(ch);
    } else if (ch >= 0x20 && ch < 0x7F) {
      out += char(ch);
    } else {
      std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(ch));
      out += buf;
    }
  }
  return out + "\"";
}

struct Written {
  int sheet, row, col;  // as the host counts: from 1
  Text text;
};

// Runs the xlrd checker; empty result means the output is right.
std::string XlrdCheck(const TempDir& dir, const std::string& templ, const std::string& out,
                      const std::vector<Written>& cells) {
  std::string json = "[";
  for (const Written& w : cells) {
    if (json.size() > 1) json += ",";
    json += "[" + std::to_string(w.sheet - 1) + "," + std::to_string(w.row - 1) + "," + std::to_string(w.col - 1) +
            "," + JsonString(w.text) + "]";
  }
  WriteFile(dir / "written.json", json + "]");
  std::string cmd = Python() + " " + SKOV_SOURCE_DIR + "/tests/xls/xlrd_read.py check '" + templ + "' '" + out +
                    "' '" + (dir / "written.json") + "' > '" + (dir / "xlrd.txt") + "' 2>&1";
  int rc = std::system(cmd.c_str());
  std::string report = ReadFile(dir / "xlrd.txt");
  return rc == 0 ? std::string() : report.empty() ? "checker failed" : report;
}

// What the import does to a template: opening steps, five sheets of rows,
// title blocks and sheet totals, the values of a realistic export.
std::vector<Written> ImportLikeFill(Workbook& wb) {
  std::vector<Written> cells;
  auto write = [&](int s, int r, int c, Text v) {
    wb.WriteCell(s, r, c, v);
    for (Written& w : cells) {
      if (w.sheet == s && w.row == r && w.col == c) {
        w.text = v;
        return;
      }
    }
    cells.push_back({s, r, c, std::move(v)});
  };
  const Text samples[] = {u"007", u"1-2", u"=SUM(A1)", u"M\u00fchle \u00c4\u00d6\u00dc \u00df", u"24V DC",
                          Text(310, u'L'), u"", u"1.5", u"\u20ac"};
  wb.Activate();
  wb.ShowWindow(1);
  wb.ActivateSheet(1);
  wb.ShowSheet(1);
  for (int s = 1; s <= 5; ++s) {
    wb.ActivateSheet(s);
    wb.ShowSheet(s);
    const int title[][2] = {{31, 22}, {32, 22}, {33, 22}, {31, 42}, {33, 42}, {30, 55}, {31, 55}};
    for (auto [r, c] : title) write(s, r, c, u"Projekt " + FromUtf8(std::to_string(s * 100 + c)));
    for (int r = s == 1 ? 11 : 12; r <= 28; ++r) {
      write(s, r, 2, u"GER" + FromUtf8(std::to_string(r)) + u"-Pumpe");
      for (int c = 5; c <= 55; ++c) write(s, r, c, samples[(r * 7 + c) % 9]);
    }
  }
  for (int s = 1; s <= 5; ++s) {
    wb.ActivateSheet(s);
    wb.ShowSheet(s);
    write(s, 33, 56, u" 6");
  }
  wb.ActivateSheet(1);
  wb.ShowSheet(1);
  return cells;
}

TEST(XlsHost, ImportLikeFillOfEachTemplateReadsBackWithXlrd) {
  if (!HaveXlrd()) GTEST_SKIP() << "python3-xlrd not installed";
  for (const char* name : {"xlwt_template.xls", "lo_template.xls", "gnumeric_template.xls"}) {
    if (!fs::exists(Fixture(name))) continue;
    SCOPED_TRACE(name);
    TempDir dir;
    fs::copy_file(Fixture(name), dir / "SKOV_IMPORT.XLS");
    auto host = MakeXlsHost(FromUtf8(dir.str()));
    EXPECT_EQ(host->DefaultFilePath(), FromUtf8(dir.str()));
    auto wb = host->BindToFile(FromUtf8(dir / "SKOV_IMPORT.XLS"));
    std::vector<Written> cells = ImportLikeFill(*wb);
    wb->SaveAs(FromUtf8(dir / "ANLAGE.XLS"));
    wb->Close(false);
    EXPECT_EQ(ReadFile(dir / "SKOV_IMPORT.XLS"), ReadFile(Fixture(name)));
    EXPECT_EQ(XlrdCheck(dir, Fixture(name), dir / "ANLAGE.XLS", cells), "");
  }
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST(XlsHost, OtherStreamsOfTheContainerSurviveAFill) {
  // The last one with more large streams beside the workbook than one write
  // call takes, filled and saved twice by one host.
  for (const char* name : {"lo_template.xls", "xlwt_template.xls", "xlwt_cells.xls"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    const bool many = std::string(name) == "xlwt_cells.xls";
    if (many) {
      xls::CompoundFile cf = xls::ReadCompoundFile(Bytes(ReadFile(Fixture(name))));
      for (int i = 0; i < 80; ++i) {
        xls::CfbEntry e;
        e.name = FromUtf8("Extra" + std::to_string(i));
        e.data.assign(4096 + 37 * size_t(i), uint8_t(i + 1));
        cf.root.children.push_back(std::move(e));
      }
      const std::vector<uint8_t> bytes = xls::WriteCompoundFile(cf);
      WriteFile(dir / "T.XLS", std::string(bytes.begin(), bytes.end()));
    } else {
      fs::copy_file(Fixture(name), dir / "T.XLS");
    }
    auto host = MakeXlsHost(FromUtf8(dir.str()));
    for (const char* out : many ? std::vector{"O.XLS", "P.XLS"} : std::vector{"O.XLS"}) {
      auto wb = host->BindToFile(FromUtf8(dir / "T.XLS"));
      wb->WriteCell(1, 11, 5, FromUtf8(out));
      wb->SaveAs(FromUtf8(dir / out));
      xls::CompoundFile a = xls::ReadCompoundFile(Bytes(ReadFile(dir / "T.XLS")));
      xls::CompoundFile b = xls::ReadCompoundFile(Bytes(ReadFile(dir / out)));
      ASSERT_EQ(a.root.children.size(), b.root.children.size());
      for (size_t i = 0; i < a.root.children.size(); ++i) {
        EXPECT_EQ(a.root.children[i].name, b.root.children[i].name);
        if (a.root.children[i].name != u"Workbook") {
          EXPECT_TRUE(a.root.children[i] == b.root.children[i]);
        }
      }
    }
  }
}

TEST(XlsHost, BindAndSaveWithoutWritesGivesTheSameFile) {
  for (const char* name : {"xlwt_template.xls", "lo_template.xls", "xlwt_cells.xls"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    fs::copy_file(Fixture(name), dir / "T.XLS");
    auto wb = MakeXlsHost(FromUtf8(dir.str()))->BindToFile(FromUtf8(dir / "T.XLS"));
    wb->Activate();
    wb->SaveAs(FromUtf8(dir / "O.XLS"));
    EXPECT_EQ(ReadFile(dir / "O.XLS"), ReadFile(Fixture(name)));
  }
}

TEST(XlsHost, BindingFailuresAreNotRefusals) {
  TempDir dir;
  auto container = [](std::u16string streamName, std::vector<uint8_t> data) {
    xls::CompoundFile cf;
    cf.root.type = xls::CfbType::Root;
    cf.root.name = u"Root Entry";
    xls::CfbEntry e;
    e.name = std::move(streamName);
    e.data = std::move(data);
    cf.root.children.push_back(e);
    auto bytes = xls::WriteCompoundFile(cf);
    return std::string(bytes.begin(), bytes.end());
  };
  std::string good = ReadFile(Fixture("xlwt_cells.xls"));
  std::vector<uint8_t> stream;
  {
    xls::CompoundFile cf = xls::ReadCompoundFile(Bytes(good));
    stream = xls::FindChild(cf.root, u"Workbook")->data;
  }
  auto withStream = [&](const std::function<void(std::vector<uint8_t>&)>& edit) {
    std::vector<uint8_t> s = stream;
    edit(s);
    return container(u"Workbook", s);
  };
  // Each with the reason the log gives after its failure line.
  struct Case {
    const char* what;
    std::string bytes;  // empty: no file at all
    std::u16string reason;
  } cases[] = {
      {"no such file", "", u"Die Datei fehlt: " + FromUtf8(dir / "SKOV_IMPORT.XLS")},
      {"text file", "Kein Arbeitsblatt\r\n", u"Die Datei ist keine Excel-Arbeitsmappe."},
      {"xlsx", std::string("PK\x03\x04", 4) + std::string(600, 'x'),
       u"Die Datei ist eine Excel-2007-Arbeitsmappe (.xlsx) oder ein anderes ZIP-Archiv. Bitte als Excel 97-2003 "
       u"speichern."},
      {"Excel 4.0 worksheet", std::string("\x09\x04\x06\x00\x00\x00\x10\x00", 8) + std::string(600, '\0'),
       u"Excel 2.x bis 4.0 wird nicht unterstuetzt. Bitte als Excel 97-2003 speichern."},
      {"no workbook stream", container(u"Daten", {1, 2, 3}), u"Die Datei ist keine Excel-Arbeitsmappe."},
      {"password-protected xlsx", container(u"EncryptedPackage", {1, 2, 3}),
       u"Die Datei ist mit einem Kennwort verschluesselt."},
      {"damaged compound file", std::string(good).replace(0x1C, 2, "\x00\x00"),
       u"Die Datei ist beschaedigt (Aufbau der Verbunddatei)."},
      {"an Excel 5.0/95 sheet in an Excel 97 workbook", withStream([](auto& s) {
         size_t at = 4u + (s[2] | s[3] << 8);  // past the globals' BOF
         while (at + 6 <= s.size() && !(s[at] == 0x09 && s[at + 1] == 0x08)) at += 4u + (s[at + 2] | s[at + 3] << 8);
         s.at(at + 5) = 0x05;
       }),
       u"Die Datei ist beschaedigt (Teilstrom einer anderen Excel-Version)."},
      {"encrypted", withStream([](auto& s) {
         // FILEPASS in place of the first record after BOF (same length records are not needed:
         // the record type alone marks the workbook encrypted)
         s[20] = 0x2F;
         s[21] = 0x00;
       }),
       u"Die Datei ist mit einem Kennwort verschluesselt."},
      {"truncated record", withStream([](auto& s) { s.resize(s.size() - 2100); }),
       u"Die Datei ist beschaedigt (Blattposition ausserhalb des Stroms)."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path = dir / "SKOV_IMPORT.XLS";
    fs::remove(path);
    if (!c.bytes.empty()) WriteFile(path, c.bytes);
    auto host = MakeXlsHost(FromUtf8(dir.str()));
    try {
      host->BindToFile(FromUtf8(path));
      ADD_FAILURE() << "bound";
    } catch (const RuntimeError& e) {
      EXPECT_NE(e.Number(), 1004);
      EXPECT_EQ(e.Reason(), c.reason);
    }
  }
  // A BIFF8 stream under the older name binds all the same.
  WriteFile(dir / "SKOV_IMPORT.XLS", container(u"Book", stream));
  EXPECT_EQ(ErrorOf([&] { MakeXlsHost(u"/")->BindToFile(FromUtf8(dir / "SKOV_IMPORT.XLS")); }), 0);
  // A folder in place of the file.
  fs::create_directory(dir / "ORDNER.XLS");
  EXPECT_EQ(ErrorOf([&] { MakeXlsHost(u"/")->BindToFile(FromUtf8(dir / "ORDNER.XLS")); }), 432);
  // A FIFO fails at once instead of waiting for a writer.
  ASSERT_EQ(::mkfifo((dir / "FIFO.XLS").c_str(), 0600), 0);
  ::alarm(30);
  EXPECT_EQ(ErrorOf([&] { MakeXlsHost(u"/")->BindToFile(FromUtf8(dir / "FIFO.XLS")); }), 432);
  ::alarm(0);
  // Unreadable for permission: the host refuses (root reads everything).
  if (::geteuid() != 0) {
    WriteFile(dir / "GESPERRT.XLS", good);
    fs::permissions(dir / "GESPERRT.XLS", fs::perms::none);
    EXPECT_EQ(ErrorOf([&] { MakeXlsHost(u"/")->BindToFile(FromUtf8(dir / "GESPERRT.XLS")); }), 1004);
  }
}

// A refused write names the cell as the user sees it and says why.
TEST(XlsHost, RefusedWritesSayWhichCellAndWhy) {
  using namespace skov::testing;
  Rec array = R(0x0221, {{12, 2}, {12, 2}, {1, 1}, {2, 1}, {0, 2}, {0, 4}, {3, 2}});
  array.body.insert(array.body.end(), {0x1E, 2, 0});
  // An array formula over B13:C13 on the only worksheet.
  const std::vector<Rec> records = {Dimensions(12, 13, 1, 3), Row(12, 1, 3), Formula(12, 1, 15, PtgExp(12, 1)), array,
                                    Formula(12, 2, 15, PtgExp(12, 1)), Window2(0x06B6)};
  const std::vector<uint8_t> stream = BuildStream({}, {{"F", records}});
  xls::CompoundFile cf;
  cf.root.type = xls::CfbType::Root;
  cf.root.name = u"Root Entry";
  xls::CfbEntry e;
  e.name = u"Workbook";
  e.data = stream;
  cf.root.children.push_back(e);
  TempDir dir;
  const std::vector<uint8_t> bytes = xls::WriteCompoundFile(cf);
  WriteFile(dir / "SKOV_IMPORT.XLS", std::string(bytes.begin(), bytes.end()));
  auto book = MakeXlsHost(FromUtf8(dir.str()))->BindToFile(FromUtf8(dir / "SKOV_IMPORT.XLS"));
  struct Case {
    int sheet, row, column;
    int number;
    std::u16string reason;
  } cases[] = {
      {1, 13, 2, 1004, u"Zelle B13 gehoert zu einer Matrixformel."},
      {1, 13, 3, 1004, u"Zelle C13 gehoert zu einer Matrixformel."},
      {1, 70000, 28, 1004, u"Zelle AB70000 liegt ausserhalb des Tabellenblatts."},
      {1, 1, 257, 1004, u"Zelle IW1 liegt ausserhalb des Tabellenblatts."},
      {2, 1, 1, 9, u"Die Vorlage hat nur ein Tabellenblatt."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.reason));
    try {
      book->WriteCell(c.sheet, c.row, c.column, u"x");
      ADD_FAILURE() << "written";
    } catch (const RuntimeError& err) {
      EXPECT_EQ(err.Number(), c.number);
      EXPECT_EQ(err.Reason(), c.reason);
    }
  }
}

TEST(XlsHost, SavingFailuresAreRefusalsAndHarmNothing) {
  TempDir dir;
  const std::string templ = dir / "SKOV_IMPORT.XLS";
  fs::copy_file(Fixture("xlwt_template.xls"), templ);
  const std::string original = ReadFile(templ);
  fs::create_directory(dir / "ORDNER.XLS");
  WriteFile(dir / "ALT.XLS", "frueher");
  fs::create_hard_link(templ, dir / "LINK.XLS");
  fs::create_directory(dir / "nurlesen");
  fs::permissions(dir / "nurlesen", fs::perms::owner_read | fs::perms::owner_exec);
  struct Case {
    const char* what;
    std::string target;
    bool skipAsRoot;
  } cases[] = {
      {"missing folder", dir / "fehlt/ANLAGE.XLS", false},
      {"directory in the way", dir / "ORDNER.XLS", false},
      {"over the template", templ, false},
      {"over the template, other spelling", dir.str() + "/./SKOV_IMPORT.XLS", false},
      {"over the template, hard link", dir / "LINK.XLS", false},
      {"read-only folder", dir / "nurlesen/ANLAGE.XLS", true},
      {"empty name", "", false},
  };
  for (const Case& c : cases) {
    if (c.skipAsRoot && ::geteuid() == 0) continue;
    SCOPED_TRACE(c.what);
    auto wb = MakeXlsHost(FromUtf8(dir.str()))->BindToFile(FromUtf8(templ));
    wb->WriteCell(1, 11, 5, u"neu");
    EXPECT_EQ(ErrorOf([&] { wb->SaveAs(FromUtf8(c.target)); }), 1004);
    EXPECT_EQ(ReadFile(templ), original);
    EXPECT_EQ(ReadFile(dir / "ALT.XLS"), "frueher");
  }
  // No temporary files left behind.
  for (const auto& e : fs::directory_iterator(dir.path())) {
    EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
  }
  // Close(true) would save over the template: refused as well.
  auto wb = MakeXlsHost(FromUtf8(dir.str()))->BindToFile(FromUtf8(templ));
  wb->WriteCell(1, 11, 5, u"neu");
  EXPECT_EQ(ErrorOf([&] { wb->Close(true); }), 1004);
  EXPECT_EQ(ReadFile(templ), original);
}

TEST(XlsHost, ExistingOutputReplacedWithANormalFileMode) {
  TempDir dir;
  fs::copy_file(Fixture("xlwt_template.xls"), dir / "SKOV_IMPORT.XLS");
  WriteFile(dir / "ANLAGE.XLS", "alte Ausgabe");
  mode_t old = ::umask(022);
  auto host = MakeXlsHost(FromUtf8(dir.str()));
  auto wb = host->BindToFile(FromUtf8(dir / "SKOV_IMPORT.XLS"));
  wb->WriteCell(1, 11, 5, u"erste");
  wb->SaveAs(FromUtf8(dir / "ANLAGE.XLS"));
  ::umask(old);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "ANLAGE.XLS").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_NE(ReadFile(dir / "ANLAGE.XLS"), "alte Ausgabe");
  // A second bind of the same template starts from the template again.
  auto again = host->BindToFile(FromUtf8(dir / "SKOV_IMPORT.XLS"));
  again->SaveAs(FromUtf8(dir / "ZWEI.XLS"));
  EXPECT_EQ(ReadFile(dir / "ZWEI.XLS"), ReadFile(dir / "SKOV_IMPORT.XLS"));
}

// Only what a save of this program demonstrably left is removed: our name,
// nobody's lock, and our content (a compound file, or still empty).
TEST(XlsHost, SavesLeaveNoTemporaryFilesAndRemoveOnlyTheirOwn) {
  TempDir dir;
  fs::copy_file(Fixture("xlwt_template.xls"), dir / "SKOV_IMPORT.XLS");
  const std::string compound = ReadFile(Fixture("xlwt_template.xls")).substr(0, 600);
  struct Leftover {
    const char* name;
    std::string content;
    bool locked;  // held by a save still running
    bool stays;
  } leftovers[] = {
      {".skov-import-AbC123", compound, false, false},  // a crashed save
      {".skov-import-Empty1", "", false, false},        // one that died before writing
      {".skov-import-Lock12", compound, true, true},
      {".skov-import-Userfl", "meine Notizen", false, true},  // our name, not our content
      {".ANLAGE.XLS.backup", compound, false, true},         // a user's, shaped like an old version's name
      {".ANLAGE.XLS.x1Y2z3", compound, false, true},
      {".skov-import-notours", compound, false, true},
  };
  std::vector<int> held;
  for (const Leftover& l : leftovers) {
    WriteFile(dir / l.name, l.content);
    if (l.locked) {
      held.push_back(::open((dir / l.name).c_str(), O_RDONLY | O_CLOEXEC));
      ASSERT_EQ(::flock(held.back(), LOCK_EX), 0);
    }
  }
  const std::string longName = std::string(251, 'A') + ".XLS";  // the longest a file name may be
  auto host = MakeXlsHost(FromUtf8(dir.str()));
  for (const std::string& target : {std::string("ANLAGE.XLS"), longName}) {
    auto wb = host->BindToFile(FromUtf8(dir / "SKOV_IMPORT.XLS"));
    wb->WriteCell(1, 11, 5, u"neu");
    EXPECT_EQ(ErrorOf([&] { wb->SaveAs(FromUtf8(dir / target)); }), 0) << target.size();
  }
  for (int fd : held) ::close(fd);
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path())) names.insert(e.path().filename().string());
  std::set<std::string> expected = {"SKOV_IMPORT.XLS", "ANLAGE.XLS", longName};
  for (const Leftover& l : leftovers)
    if (l.stays) expected.insert(l.name);
  EXPECT_EQ(names, expected);
}

// Saves begun together: nothing replaced before its Finish, a dropped or
// failing one leaves the old output and no file behind.
TEST(XlsHost, BegunSavesReplaceOnlyWhenFinished) {
  TempDir dir;
  fs::copy_file(Fixture("xlwt_template.xls"), dir / "SKOV_IMPORT.XLS");
  auto host = MakeXlsHost(FromUtf8(dir.str()));
  const char* const targets[] = {"EINS.XLS", "ZWEI.XLS", "DREI.XLS"};
  std::vector<std::unique_ptr<PendingSave>> begun;
  for (const char* t : targets) {
    WriteFile(dir / t, "alt");
    auto wb = host->BindToFile(FromUtf8(dir / "SKOV_IMPORT.XLS"));
    wb->WriteCell(1, 11, 5, FromUtf8(t));
    begun.push_back(wb->BeginSaveAs(FromUtf8(dir / t)));
    ASSERT_TRUE(begun.back());
  }
  for (const char* t : targets) EXPECT_EQ(ReadFile(dir / t), "alt") << t;
  // EINS is finished, ZWEI's target turned into a folder meanwhile, DREI is dropped.
  fs::remove(dir / "ZWEI.XLS");
  fs::create_directory(dir / "ZWEI.XLS");
  for (auto& save : begun) save->Flush();
  EXPECT_EQ(ErrorOf([&] { begun[0]->Finish(); }), 0);
  EXPECT_EQ(ErrorOf([&] { begun[1]->Finish(); }), 1004);
  begun.clear();
  host->FlushSavedFolders();
  EXPECT_NE(ReadFile(dir / "EINS.XLS"), "alt");
  EXPECT_NO_THROW(host->BindToFile(FromUtf8(dir / "EINS.XLS"))->Close(false));
  EXPECT_TRUE(fs::is_directory(dir / "ZWEI.XLS"));
  EXPECT_EQ(ReadFile(dir / "DREI.XLS"), "alt");
  for (const auto& e : fs::directory_iterator(dir.path())) EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
}

TEST(XlsHost, ClosedWorkbookLeavesItsFileAndTakesNoMoreCalls) {
  TempDir dir;
  fs::copy_file(Fixture("xlwt_template.xls"), dir / "SKOV_IMPORT.XLS");
  auto wb = MakeXlsHost(FromUtf8(dir.str()))->BindToFile(FromUtf8(dir / "SKOV_IMPORT.XLS"));
  wb->WriteCell(1, 11, 5, u"weg");
  wb->Close(false);
  EXPECT_EQ(ReadFile(dir / "SKOV_IMPORT.XLS"), ReadFile(Fixture("xlwt_template.xls")));
  EXPECT_EQ(ErrorOf([&] { wb->WriteCell(1, 1, 1, u"x"); }), 1004);
  EXPECT_EQ(ErrorOf([&] { wb->SaveAs(FromUtf8(dir / "X.XLS")); }), 1004);
}

TEST(XlsHost, TemplateChangedOnDiskIsReadAgain) {
  TempDir dir;
  const std::string templ = dir / "SKOV_IMPORT.XLS";
  fs::copy_file(Fixture("xlwt_cells.xls"), templ);
  auto host = MakeXlsHost(FromUtf8(dir.str()));
  host->BindToFile(FromUtf8(templ))->SaveAs(FromUtf8(dir / "A.XLS"));
  fs::remove(templ);
  fs::copy_file(Fixture("xlwt_template.xls"), templ);
  host->BindToFile(FromUtf8(templ))->SaveAs(FromUtf8(dir / "B.XLS"));
  EXPECT_EQ(ReadFile(dir / "A.XLS"), ReadFile(Fixture("xlwt_cells.xls")));
  EXPECT_EQ(ReadFile(dir / "B.XLS"), ReadFile(Fixture("xlwt_template.xls")));
}

}  // namespace
}  // namespace skov
