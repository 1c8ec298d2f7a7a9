// skov-import end to end through the real workbook host: exit statuses,
// stderr lines, where log, list and workbooks go.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "app/batch_run.h"
#include "support/temp_dir.h"

namespace skov {
namespace {

namespace fs = std::filesystem;

const std::string kTemplate = std::string(SKOV_SOURCE_DIR) + "/examples/SKOV_IMPORT.XLS";

// A quoted, CR LF, Windows-1252 import file of n data lines.
std::string ImportText(int lines, const std::string& sep = ";", bool quoted = true) {
  const std::vector<std::string> head = {"ZNAME", "PROJEKT1", "GERAET", "GERBEZ", "1", "2"};
  auto join = [&](const std::vector<std::string>& fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
      if (i) line += sep;
      line += quoted ? "\"" + fields[i] + "\"" : fields[i];
    }
    return line + "\r\n";
  };
  std::string text = join(head);
  for (int i = 1; i <= lines; ++i)
    text += join({"Z-1", "Geb\xE4ude", "M" + std::to_string(i), "L\xFC" "fter", "x", "y"});
  return text;
}

struct RunCase {
  const char* what;
  std::map<std::string, std::string> importFiles;  // in the import folder
  bool withTemplate;
  std::vector<std::string> args;  // {imp} and {def} stand for the two folders
  int expectedStatus;
  std::vector<std::string> stderrParts;  // {imp}/{def} replaced too
  std::vector<std::string> existing;     // files that must exist afterwards
  std::vector<std::string> absent;
  bool terminal = false;
};

std::string Fill(std::string s, const std::string& imp, const std::string& def) {
  for (auto [key, value] : {std::pair<std::string, std::string>{"{imp}", imp}, {"{def}", def}}) {
    for (size_t p; (p = s.find(key)) != std::string::npos;) s.replace(p, key.size(), value);
  }
  return s;
}

TEST(BatchRun, ExitStatusesThroughTheRealHost) {
  const std::string good = ImportText(3);
  const std::vector<RunCase> cases = {
      {"single mode saves next to the import file",
       {{"PLAN.TXT", good}, {"OTHER.TXT", good}}, true,
       {"--single", "--default-folder", "{def}", "{imp}/PLAN.TXT"}, 0,
       {"Log-Datei: {def}/PLAN.LOG\n"},
       {"{imp}/PLAN.XLS", "{def}/PLAN.LOG"}, {"{imp}/OTHER.XLS", "{def}/IMPORT.LST"}},
      {"folder mode saves every file",
       {{"A.TXT", good}, {"B.TXT", ImportText(20)}}, true,
       {"--default-folder", "{def}", "{imp}/A.TXT"}, 0,
       {"Log-Datei: {def}/IMPORT.LOG\n"},
       {"{imp}/A.XLS", "{imp}/B.XLS", "{def}/IMPORT.LOG", "{def}/IMPORT.LST"}, {}},
      {"earlier outputs in the folder do not count",
       {{"A.TXT", good}, {"OLD.XLS", testing::ReadFile(kTemplate)}, {"IMPORT.LOG", "alt\r\n"}}, true,
       {"--default-folder", "{def}", "{imp}/A.TXT"}, 0, {"Log-Datei: "}, {"{imp}/A.XLS"}, {}},
      {"a text file that is no import file counts",
       {{"A.TXT", good}, {"NOTIZ.TXT", "nur eine Zeile\r\n"}}, true,
       {"--default-folder", "{def}", "{imp}/A.TXT"}, 1, {"Log-Datei: "}, {"{imp}/A.XLS"}, {"{imp}/NOTIZ.XLS"}},
      {"single mode with a file without drawing name",
       {{"A.TXT", "\"X\";\"Y\"\r\n\"1\";\"2\"\r\n"}}, true,
       {"--single", "--default-folder", "{def}", "{imp}/A.TXT"}, 1, {"Log-Datei: {def}/A.LOG"}, {}, {"{imp}/A.XLS"}},
      {"missing template fails every file",
       {{"A.TXT", good}}, false,
       {"--default-folder", "{def}", "{imp}/A.TXT"}, 1,
       {"Vorlage nicht gefunden: {def}/SKOV_IMPORT.XLS", "Log-Datei: {def}/IMPORT.LOG"}, {}, {"{imp}/A.XLS"}},
      {"separator and no quotes",
       {{"A.CSV", ImportText(2, ",", false)}}, true,
       {"--separator", ",", "--no-quotes", "--single", "--default-folder", "{def}", "{imp}/A.CSV"}, 0, {},
       {"{imp}/A.XLS", "{def}/A.LOG"}, {}},
      {"wrong separator is logged as a failed file",
       {{"A.TXT", good}}, true,
       {"--separator", ",", "--single", "--default-folder", "{def}", "{imp}/A.TXT"}, 1, {}, {}, {"{imp}/A.XLS"}},
      {"progress lines on a terminal",
       {{"A.TXT", good}, {"B.TXT", good}}, true,
       {"--default-folder", "{def}", "{imp}/B.TXT"}, 0, {"[1/2] A.TXT\n", "[2/2] B.TXT\n"}, {}, {}, true},
      {"missing default folder",
       {{"A.TXT", good}}, true,
       {"--default-folder", "{def}/fehlt", "{imp}/A.TXT"}, 2,
       {"Der Standardordner existiert nicht: {def}/fehlt"}, {}, {"{def}/fehlt/IMPORT.LOG"}},
      {"missing import file",
       {}, true, {"--default-folder", "{def}", "{imp}/FEHLT.TXT"}, 2,
       {"Die Importdatei existiert nicht: {imp}/FEHLT.TXT"}, {}, {"{def}/IMPORT.LOG"}},
      {"usage error",
       {}, true, {"--separator"}, 2, {"erwartet einen Wert", "Aufruf: skov-import"}, {}, {}},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempDir imp;
    testing::TempDir def;
    for (const auto& [name, content] : c.importFiles) testing::WriteFile(imp / name, content);
    if (c.withTemplate) fs::copy_file(kTemplate, def / "SKOV_IMPORT.XLS");
    std::vector<std::string> args;
    for (const std::string& a : c.args) args.push_back(Fill(a, imp.str(), def.str()));
    std::ostringstream out, err;
    const int status = BatchMain(args, [](const char*) -> const char* { return nullptr; }, out, err, c.terminal);
    EXPECT_EQ(status, c.expectedStatus) << err.str();
    for (const std::string& part : c.stderrParts)
      EXPECT_NE(err.str().find(Fill(part, imp.str(), def.str())), std::string::npos) << err.str();
    if (!c.terminal) {
      EXPECT_EQ(err.str().find("[1/"), std::string::npos);
    }
    for (const std::string& f : c.existing) EXPECT_TRUE(fs::exists(Fill(f, imp.str(), def.str()))) << f;
    for (const std::string& f : c.absent) EXPECT_FALSE(fs::exists(Fill(f, imp.str(), def.str()))) << f;
    EXPECT_TRUE(fs::exists(def / "SKOV_IMPORT.XLS") == c.withTemplate);
    if (c.withTemplate) {
      EXPECT_EQ(testing::ReadFile(def / "SKOV_IMPORT.XLS"), testing::ReadFile(kTemplate));
    }
  }
}

TEST(BatchRun, LogThatCannotBeOpenedIsReportedTwice) {
  testing::TempDir imp;
  testing::TempDir def;
  testing::WriteFile(imp / "A.TXT", ImportText(1));
  fs::copy_file(kTemplate, def / "SKOV_IMPORT.XLS");
  fs::create_directory(def / "IMPORT.LOG");  // a folder where the log would go
  std::ostringstream out, err;
  const int status = BatchMain({"--default-folder", def.str(), imp / "A.TXT"},
                               [](const char*) -> const char* { return nullptr; }, out, err, false);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(err.str(), "Log-Ddatei kann nicht geoeffnet werden!" + def / "IMPORT.LOG" +
                           "\nDie Log-Datei l\xC3\xA4\xC3\x9F" "t sich nicht \xC3\xB6" "ffnen!\n");
  EXPECT_FALSE(fs::exists(imp / "A.XLS"));
}

TEST(BatchRun, DefaultFolderComesFromTheEnvironment) {
  testing::TempDir home;
  testing::TempDir imp;
  fs::create_directories(home / "Dokumente");
  fs::copy_file(kTemplate, home / "Dokumente/SKOV_IMPORT.XLS");
  testing::WriteFile(home / ".config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
  testing::WriteFile(imp / "A.TXT", ImportText(2));
  const std::string h = home.str();
  std::ostringstream out, err;
  const int status = BatchMain({imp / "A.TXT"}, [&](const char* n) { return std::string(n) == "HOME" ? h.c_str() : nullptr; },
                               out, err, false);
  EXPECT_EQ(status, 0) << err.str();
  EXPECT_EQ(err.str(), "Log-Datei: " + home / "Dokumente/IMPORT.LOG" + "\n1 gespeichert, 0 nicht gespeichert\n");
  EXPECT_TRUE(fs::exists(imp / "A.XLS"));
}

// After the run: the files not saved with the log's reason, then the counts.
TEST(BatchRun, SummaryNamesEveryFileNotSaved) {
  struct Case {
    const char* what;
    std::map<std::string, std::string> files;
    bool withTemplate;
    std::vector<std::string> args;
    std::string summary;  // everything after the closing line
  };
  const std::string good = ImportText(2);
  const Case cases[] = {
      {"folder with one file that is no import file",
       {{"A.TXT", good}, {"B.TXT", good}, {"NOTIZ.TXT", "nur eine Zeile\r\n"}}, true, {"{imp}/A.TXT"},
       "NOTIZ.TXT: Headerzeile konnte nicht gelesen werden.\n2 gespeichert, 1 nicht gespeichert\n"},
      {"missing drawing name, single mode",
       {{"A.TXT", "\"X\";\"Y\"\r\n\"1\";\"2\"\r\n"}}, true, {"--single", "{imp}/A.TXT"},
       "A.TXT: Zeichnungsname konnte nicht ermittelt werden. Ueberpruefen Sie auch die Trennzeichen!\n"
       "0 gespeichert, 1 nicht gespeichert\n"},
      {"template missing from the default folder",
       {{"A.TXT", good}}, false, {"{imp}/A.TXT"},
       "A.TXT: SKOV_IMPORT.XLS : Exceldatei kann nicht zugewiesen werden. Grund: Die Datei fehlt: "
       "{def}/SKOV_IMPORT.XLS\n0 gespeichert, 1 nicht gespeichert\n"},
      {"earlier results are tried but not counted",
       {{"A.TXT", good}, {"A.XLS", "alt"}}, true, {"{imp}/A.TXT"},
       "1 gespeichert, 0 nicht gespeichert, 1 nicht gezaehlt (.XLS/.LOG/.LST)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempDir imp;
    testing::TempDir def;
    for (const auto& [name, content] : c.files) testing::WriteFile(imp / name, content);
    if (c.withTemplate) fs::copy_file(kTemplate, def / "SKOV_IMPORT.XLS");
    std::vector<std::string> args = {"--default-folder", def.str()};
    for (const std::string& a : c.args) args.push_back(Fill(a, imp.str(), def.str()));
    std::ostringstream out, err;
    BatchMain(args, [](const char*) -> const char* { return nullptr; }, out, err, false);
    const std::string text = err.str();
    const size_t closing = text.find("Log-Datei: ");
    ASSERT_NE(closing, std::string::npos) << text;
    EXPECT_EQ(text.substr(text.find('\n', closing) + 1), Fill(c.summary, imp.str(), def.str()));
  }
}

TEST(BatchRun, VersionGoesToStandardOutput) {
  std::ostringstream out, err;
  EXPECT_EQ(BatchMain({"--version"}, [](const char*) -> const char* { return nullptr; }, out, err, false), 0);
  EXPECT_EQ(out.str().rfind("skov-import ", 0), 0u) << out.str();
  EXPECT_TRUE(err.str().empty());
}

TEST(BatchRun, HelpGoesToStandardOutput) {
  std::ostringstream out, err;
  EXPECT_EQ(BatchMain({"--help"}, [](const char*) -> const char* { return nullptr; }, out, err, true), 0);
  EXPECT_EQ(out.str(), BatchHelpText());
  EXPECT_TRUE(err.str().empty());
}

}  // namespace
}  // namespace skov
