// Runs through the real .XLS host: the workbook failure classes as the log shows them.
#ifndef _WIN32
#include <unistd.h>
#endif

#include "host/xls_host.h"
#include "run_fixture.h"

namespace skov::testing {
namespace {

class RealHostRun : public ::testing::Test {
 protected:
  RealHostRun() : host(MakeXlsHost(FromUtf8(dir / "std"))), ctx{state, *host, messages, pointer, files, {}, {}, {}} {
    std::filesystem::create_directories(dir / "std");
    std::filesystem::create_directories(dir / "imp");
    state.Trennzeichen = Text(1, u';');
    state.MitAnfuehrungszeichen = true;
  }
  void Template(const std::string& source) {
    std::filesystem::copy_file(source, dir / "std/SKOV_IMPORT.XLS", std::filesystem::copy_options::overwrite_existing);
  }
  std::vector<std::string> Run(const std::string& path, const std::string& content) {
    WriteFile(path, content);
    state.LetzterDialog = RecordForChosenFile(FromUtf8(path));
    state.Importdatei = FromUtf8(path);
    ImportStarten(ctx);
    std::string name = std::filesystem::path(path).filename().string();
    std::string bytes = ReadFile(dir / ("std/" + name.substr(0, name.size() - 3) + "LOG"));
    std::vector<std::string> lines;
    std::istringstream in(bytes);
    for (std::string l; std::getline(in, l);) {
      while (!l.empty() && (l.back() == '\r' || l.back() == ' ')) l.pop_back();
      lines.push_back(ToUtf8(FromCp1252(l)));
    }
    return lines;
  }
  static bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  // `line`, directly followed by `next`.
  static bool HasThen(const std::vector<std::string>& lines, const std::string& line, const std::string& next) {
    auto at = std::find(lines.begin(), lines.end(), line);
    return at != lines.end() && at + 1 != lines.end() && at[1] == next;
  }

  TempDir dir;
  std::unique_ptr<SpreadsheetHost> host;
  RecordingMessages messages;
  RecordingPointer pointer;
  RuntimeFiles files;
  ImportState state;
  ImportContext ctx;
};

const std::string kExample = std::string(SKOV_SOURCE_DIR) + "/examples/SKOV_IMPORT.XLS";

TEST_F(RealHostRun, SavedWorkbookBindsAgainAndReplacesAnEarlierOne) {
  Template(kExample);
  const std::string out = dir / "imp/PLAN.XLS";
  for (int pass = 0; pass < 2; ++pass) {
    auto log = Run(dir / "imp/PLAN.TXT", Drawing(40));
    EXPECT_TRUE(Has(log, "Neue Excel-Datei:" + out)) << pass;
  }
  EXPECT_NO_THROW(host->BindToFile(FromUtf8(out))->Close(false));
  EXPECT_EQ(ReadFile(dir / "std/SKOV_IMPORT.XLS"), ReadFile(kExample)) << "the template is never written";
}

TEST_F(RealHostRun, FolderModeImportsFilesWhateverTheirNames) {
  // Names Windows-1252 cannot hold come back from IMPORT.LST with '?'; the
  // run still opens each file under its own name and saves next to it.
  struct Case {
    std::string name, output, listLine;  // the list holds Windows-1252 bytes
  };
  const Case cases[] = {
      {"L\xC3\xBC" "ftung.TXT", "L\xC3\xBC" "ftung.XLS", "L\xFC" "ftung.TXT"},
#ifndef _WIN32  // names Windows cannot give a file
      {"Pl\xE4n.TXT", "Pl\xE4n.XLS", "Pl?n.TXT"},  // not UTF-8: a Latin-1 byte
      {"Zeile\nUmbruch.TXT", "Zeile\nUmbruch.XLS", "Zeile?Umbruch.TXT"},
#endif
      {"\xCE\xA3\xCF\x87\xCE\xAD\xCE\xB4\xCE\xB9\xCE\xBF.txt", "\xCE\xA3\xCF\x87\xCE\xAD\xCE\xB4\xCE\xB9\xCE\xBF.XLS",
       "??????.txt"},
      {"\xD0\xA1\xD1\x85\xD0\xB5\xD0\xBC\xD0\xB0.TXT", "\xD0\xA1\xD1\x85\xD0\xB5\xD0\xBC\xD0\xB0.XLS", "?????.TXT"},
  };
  Template(kExample);
  state.VerzeichnisImport = true;
  std::string list;
  for (const Case& c : cases) {
    WriteFile(dir / ("imp/" + c.name), Drawing(2, "Z"));
    list += c.listLine + "\r\n";
  }
  state.Importdatei = FromFileName(dir / ("imp/" + cases[0].name));
  state.LetzterDialog = RecordForChosenFile(state.Importdatei);
  ImportStarten(ctx);

  EXPECT_EQ(ReadFile(dir / "std/IMPORT.LST"), list);
  const std::string log = ReadFile(dir / "std/IMPORT.LOG");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.listLine);
    EXPECT_NO_THROW(host->BindToFile(FromFileName(dir / ("imp/" + c.output)))->Close(false));
    // The log names each file by its full path, '?' for what it cannot hold.
    for (const std::string& line : {"Importdatei geoeffnet:" + dir / ("imp/" + c.name),
                                    "Neue Excel-Datei:" + dir / ("imp/" + c.output)})
      EXPECT_NE(log.find(ToCp1252(FromFileName(line))), std::string::npos) << line;
  }
  EXPECT_EQ(ctx.summary.FilesSaved(), static_cast<int>(std::size(cases)));
}

TEST_F(RealHostRun, TemplateThatCannotBeBound) {
  struct Case {
    const char* what;
    std::string bytes;  // "-": no template at all
    std::string reason;
  };
  const Case cases[] = {
      {"missing", "-", "Grund: Die Datei fehlt: " + dir / "std/SKOV_IMPORT.XLS"},
      {"text file", "ZNAME;1\r\n", "Grund: Die Datei ist keine Excel-Arbeitsmappe."},
      {"truncated compound file", ReadFile(kExample).substr(0, 1000),
       "Grund: Die Datei ist beschaedigt (Aufbau der Verbunddatei)."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(dir / "std/SKOV_IMPORT.XLS");
    if (c.bytes != "-") WriteFile(dir / "std/SKOV_IMPORT.XLS", c.bytes);
    auto log = Run(dir / "imp/PLAN.TXT", Drawing(3));
    EXPECT_TRUE(HasThen(log, "SKOV_IMPORT.XLS :Exceldatei kann nicht zugewiesen werden.", c.reason));
    EXPECT_FALSE(std::filesystem::exists(dir / "imp/PLAN.XLS"));
  }
}

#ifndef _WIN32  // Windows has no mode bits that take reading away
TEST_F(RealHostRun, UnreadableTemplateIsRefused) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  Template(kExample);
  std::filesystem::permissions(dir / "std/SKOV_IMPORT.XLS", std::filesystem::perms::none);
  auto log = Run(dir / "imp/PLAN.TXT", Drawing(3));
  EXPECT_TRUE(Has(log, "SKOV_IMPORT.XLS :Kein Zugriff auf diese Datei moeglich."));
}
#endif

TEST_F(RealHostRun, OutputThatCannotBeWritten) {
  Template(kExample);
  // An import file named like the template, lying in the default folder, would be saved over it.
  const std::string over = dir / "std/SKOV_IMPORT.XLS";
  auto log = Run(dir / "std/SKOV_IMPORT.TXT", Drawing(3));
  EXPECT_TRUE(Has(log, over + " :Kein Zugriff auf diese Datei moeglich."));
  EXPECT_EQ(ReadFile(over), ReadFile(kExample));

  std::filesystem::create_directories(dir / "imp/PLAN.XLS");
  log = Run(dir / "imp/PLAN.TXT", Drawing(3));
  EXPECT_TRUE(Has(log, dir / "imp/PLAN.XLS :Kein Zugriff auf diese Datei moeglich."));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "imp/PLAN.XLS"));
  for (const auto& e : std::filesystem::directory_iterator(dir / "imp"))
    EXPECT_EQ(e.path().filename().string().rfind(".PLAN", 0), std::string::npos) << "no temporary file left: " << e.path();
}

TEST_F(RealHostRun, ImportFileIsNeverSavedOver) {
  Template(kExample);
  const std::string input = dir / "imp/PLAN.XLS";  // a text export that happens to end in .XLS
  const std::string content = Drawing(3);
  auto log = Run(input, content);
  EXPECT_TRUE(Has(log, input + " :Kein Zugriff auf diese Datei moeglich."));
  EXPECT_EQ(ReadFile(input), content);
}

TEST_F(RealHostRun, TemplateWithFewerThanFiveWorksheets) {
  Template(std::string(SKOV_TEST_DATA) + "/xls/xlwt_cells.xls");  // two worksheets
  auto log = Run(dir / "imp/PLAN.TXT", Drawing(60));
  EXPECT_TRUE(HasThen(log, "Laufzeitfehler 9: Index ausserhalb des gueltigen Bereichs - " + dir / "imp/PLAN.TXT",
                      "Grund: Die Vorlage hat nur 2 Tabellenblaetter."));
  EXPECT_FALSE(std::filesystem::exists(dir / "imp/PLAN.XLS")) << "nothing partial is saved";
  EXPECT_EQ(messages.shown.size(), 1u);
}

}  // namespace
}  // namespace skov::testing
