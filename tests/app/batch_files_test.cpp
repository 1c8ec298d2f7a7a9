// skov-import against unlucky surroundings: special files, a second run at
// the same time, files that cannot be written in full.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "app/batch_run.h"
#include "host/xls_host.h"
#include "import/import.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"

namespace skov {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

const std::string kTemplate = std::string(SKOV_SOURCE_DIR) + "/examples/SKOV_IMPORT.XLS";

// n data lines; the field X is logged with every line but fills no cell.
std::string Export(int lines, size_t width = 10) {
  std::string text = "ZNAME;X\r\n";
  for (int i = 0; i < lines; ++i) text += "Z-1;" + std::string(width, 'x') + "\r\n";
  return text;
}

const char* NoEnv(const char*) { return nullptr; }

int RunBatch(const std::vector<std::string>& args, std::string& err, const os::EnvLookup& env = NoEnv) {
  std::ostringstream out, errs;
  const int status = BatchMain(args, env, out, errs, false);
  err = errs.str();
  return status;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(BatchFiles, SpecialFilesFailAtOnce) {
  enum class Fifo { Template, List, UserDirs, ImportFile, ImportFolder };
  struct Case {
    Fifo where;
    int status;
    std::string expected;  // in stderr ("E:") or the log ("L:"); {def}/{imp} replaced
  };
  const Case cases[] = {
      {Fifo::Template, 1, "L:SKOV_IMPORT.XLS :Exceldatei kann nicht zugewiesen werden."},
      {Fifo::List, 1, "L:ImportdateiListe kann nicht geoeffnet werden!{home}/Documents/IMPORT.LST"},
      {Fifo::UserDirs, 0, "E:Log-Datei: {home}/Documents/IMPORT.LOG"},
      {Fifo::ImportFile, 2, "E:Die Importdatei ist keine gewoehnliche Datei: {imp}/A.TXT"},
      {Fifo::ImportFolder, 2, "E:Die Importdatei ist ein Ordner: {imp}/A.TXT"},
  };
  ::alarm(60);  // anything that waits on a FIFO fails the test
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.where));
    TempDir home, imp;
    const std::string def = home / "Documents";
    fs::create_directories(def);
    fs::create_directories(home / ".config");
    if (c.where == Fifo::Template) {
      ASSERT_EQ(::mkfifo((def + "/SKOV_IMPORT.XLS").c_str(), 0600), 0);
    } else {
      fs::copy_file(kTemplate, def + "/SKOV_IMPORT.XLS");
    }
    if (c.where == Fifo::List) {
      ASSERT_EQ(::mkfifo((def + "/IMPORT.LST").c_str(), 0600), 0);
    }
    if (c.where == Fifo::UserDirs) {
      ASSERT_EQ(::mkfifo((home / ".config/user-dirs.dirs").c_str(), 0600), 0);
    }
    if (c.where == Fifo::ImportFile) {
      ASSERT_EQ(::mkfifo((imp / "A.TXT").c_str(), 0600), 0);
    } else if (c.where == Fifo::ImportFolder) {
      fs::create_directories(imp / "A.TXT");
    } else {
      WriteFile(imp / "A.TXT", Export(2));
    }
    const std::string h = home.str();
    std::string err;
    const int status = RunBatch({imp / "A.TXT"}, err, [&](const char* n) { return std::string(n) == "HOME" ? h.c_str() : nullptr; });
    EXPECT_EQ(status, c.status) << err;
    std::string expected = c.expected.substr(2);
    for (auto [key, value] : {std::pair<std::string, std::string>{"{home}", h}, {"{imp}", imp.str()}})
      if (auto at = expected.find(key); at != std::string::npos) expected.replace(at, key.size(), value);
    EXPECT_TRUE(Has(c.expected[0] == 'E' ? err : ReadFile(def + "/IMPORT.LOG"), expected)) << err;
  }
  ::alarm(0);
}

TEST(BatchFiles, WriteFailuresAreReportedAndSavedWorkbooksStay) {
  struct Case {
    const char* what;
    rlim_t limit;  // bytes any file may grow to
    std::map<std::string, std::string> files;
    int status;
    std::vector<std::string> stderrParts;  // {def}/{imp} replaced
    std::vector<std::string> logParts;
    std::vector<std::string> saved;
  };
  const size_t templateSize = fs::file_size(kTemplate);
  const std::vector<Case> cases = {
      {"list and log", 20, {{std::string(80, 'L') + ".TXT", Export(1)}}, 2,
       {"Datei konnte nicht vollstaendig geschrieben werden: {def}/IMPORT.LST",
        "Datei konnte nicht vollstaendig geschrieben werden: {def}/IMPORT.LOG"}, {}, {}},
      {"log after two saves", templateSize + 4096, {{"A.TXT", Export(80, 300)}, {"B.TXT", Export(80, 300)}}, 2,
       {"Datei konnte nicht vollstaendig geschrieben werden: {def}/IMPORT.LOG\nKein Speicherplatz mehr"}, {},
       {"A.XLS", "B.XLS"}},
      {"workbook", templateSize / 2, {{"A.TXT", Export(1)}}, 1, {},
       {"{imp}/A.XLS :Kein Zugriff auf diese Datei moeglich.   \r\n"
        "Grund: Kein Speicherplatz mehr (Datentraeger voll oder Dateigroesse begrenzt)."}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir def, imp;
    fs::copy_file(kTemplate, def / "SKOV_IMPORT.XLS");
    std::string first;
    for (const auto& [name, content] : c.files) {
      WriteFile(imp / name, content);
      if (first.empty()) first = imp / name;
    }
    std::string err;
    int status = 0;
    {
      testing::FileSizeLimit limit(c.limit);
      status = RunBatch({"--default-folder", def.str(), first}, err);
    }
    EXPECT_EQ(status, c.status) << err;
    auto fill = [&](std::string s) {
      for (auto [key, value] : {std::pair<std::string, std::string>{"{def}", def.str()}, {"{imp}", imp.str()}})
        for (size_t at; (at = s.find(key)) != std::string::npos;) s.replace(at, key.size(), value);
      return s;
    };
    for (const std::string& part : c.stderrParts) EXPECT_TRUE(Has(err, fill(part))) << err;
    for (const std::string& part : c.logParts) EXPECT_TRUE(Has(ReadFile(def / "IMPORT.LOG"), fill(part)));
    for (const std::string& name : c.saved)
      EXPECT_NO_THROW(MakeXlsHost(FromUtf8(def.str()))->BindToFile(FromUtf8(imp / name))) << name;
  }
}

// A second run while the first holds the default folder: refused, and the
// first one's log and list stay whole.
TEST(BatchFiles, SecondRunMeanwhileIsRefusedAndHarmsNothing) {
  TempDir def, imp;
  fs::copy_file(kTemplate, def / "SKOV_IMPORT.XLS");
  WriteFile(imp / "A.TXT", Export(3));
  WriteFile(imp / "B.TXT", Export(3));
  int ready[2], go[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(go), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The first run, paused at the start of its first file.
    ImportState state;
    state.Trennzeichen = u";";
    state.VerzeichnisImport = true;
    state.LetzterDialog = RecordForChosenFile(FromUtf8(imp / "A.TXT"));
    state.Importdatei = FromUtf8(imp / "A.TXT");
    auto host = MakeXlsHost(FromUtf8(def.str()));
    struct : MessageService {
      void Show(const Text&, const Text&) override {}
    } messages;
    struct : BusyPointer {
      void Set(MousePointer) override {}
    } pointer;
    RuntimeFiles files;
    ImportContext ctx{state, *host, messages, pointer, files, nullptr, {}, {}};
    bool paused = false;
    ctx.progress = [&](int, int, const Text&) {
      if (paused) return;
      paused = true;
      char byte = 'r';
      if (::write(ready[1], &byte, 1) != 1 || ::read(go[0], &byte, 1) != 1) ::_exit(3);
    };
    ImportStarten(ctx);
    ::_exit(ctx.summary.FilesSaved() == 2 ? 0 : 1);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  std::string err;
  const int status = RunBatch({"--default-folder", def.str(), imp / "B.TXT"}, err);
  ASSERT_EQ(::write(go[1], &byte, 1), 1);
  int childStatus = 0;
  ASSERT_EQ(::waitpid(child, &childStatus, 0), child);
  EXPECT_EQ(status, 2);
  EXPECT_TRUE(Has(err, "Die Log-Datei ist bereits geoeffnet!" + def / "IMPORT.LOG")) << err;
  ASSERT_TRUE(WIFEXITED(childStatus));
  EXPECT_EQ(WEXITSTATUS(childStatus), 0) << "the first run saved both files";
  const std::string log = ReadFile(def / "IMPORT.LOG");
  EXPECT_EQ(log.find('\0'), std::string::npos);
  EXPECT_TRUE(Has(log, "Neue Excel-Datei:" + imp / "A.XLS"));
  EXPECT_TRUE(Has(log, "Neue Excel-Datei:" + imp / "B.XLS"));
  EXPECT_TRUE(Has(log, "Importdateienliste wurde verarbeitet."));
}

}  // namespace
}  // namespace skov
