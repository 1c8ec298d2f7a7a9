// skov-import against unlucky surroundings: special files, links and
// read-only files of the user's, a second run at the same time, files that
// cannot be written in full.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
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
      {Fifo::List, 1, "E:ImportdateiListe kann nicht geoeffnet werden! {home}/Documents/IMPORT.LST"},
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

// Files of the user's beside the log, the list and the outputs stay as they
// are: the log and the list are new files (a link or second name of theirs is
// not written through), and a workbook made read-only is not replaced.
TEST(BatchFiles, UsersFilesAroundTheRunStay) {
  struct Case {
    const char* what;
    bool folderMode;
    std::function<void(const std::string& def, const std::string& imp)> arrange;
    std::string stays;  // {def}/{imp}: this file keeps its content
    int status;
    std::string logPart;
  };
  const Case cases[] = {
      {"log hard-linked to an import file", true,
       [](const std::string& def, const std::string& imp) { fs::create_hard_link(imp + "/B.TXT", def + "/IMPORT.LOG"); },
       "{imp}/B.TXT", 0, "Neue Excel-Datei:{imp}/B.XLS"},
      {"list a link to an import file", true,
       [](const std::string& def, const std::string& imp) { fs::create_symlink(imp + "/B.TXT", def + "/IMPORT.LST"); },
       "{imp}/B.TXT", 0, "Neue Excel-Datei:{imp}/B.XLS"},
      {"log hard-linked to the template", false,
       [](const std::string& def, const std::string&) { fs::create_hard_link(def + "/SKOV_IMPORT.XLS", def + "/A.LOG"); },
       "{def}/SKOV_IMPORT.XLS", 0, "Neue Excel-Datei:{imp}/A.XLS"},
      {"read-only workbook", false,
       [](const std::string&, const std::string& imp) {
         WriteFile(imp + "/A.XLS", "fertig");
         fs::permissions(imp + "/A.XLS", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
       },
       "{imp}/A.XLS", 1, "Grund: Die Ausgabedatei ist schreibgeschuetzt: {imp}/A.XLS"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir def, imp;
    fs::copy_file(kTemplate, def / "SKOV_IMPORT.XLS");
    WriteFile(imp / "A.TXT", Export(2));
    WriteFile(imp / "B.TXT", Export(3));
    c.arrange(def.str(), imp.str());
    auto fill = [&](std::string s) {
      for (auto [key, value] : {std::pair<std::string, std::string>{"{def}", def.str()}, {"{imp}", imp.str()}})
        for (size_t at; (at = s.find(key)) != std::string::npos;) s.replace(at, key.size(), value);
      return s;
    };
    const std::string before = ReadFile(fill(c.stays));
    std::string err;
    const int status =
        RunBatch({c.folderMode ? "--folder" : "--single", "--default-folder", def.str(), imp / "A.TXT"}, err);
    EXPECT_EQ(status, c.status) << err;
    EXPECT_EQ(ReadFile(fill(c.stays)), before);
    EXPECT_TRUE(Has(ReadFile(def / (c.folderMode ? "IMPORT.LOG" : "A.LOG")), fill(c.logPart))) << err;
  }
}

// Two runs take turns even where the default folder may be written but not
// listed (mode 0333): the lock is a file of its own there. As root the mode
// would not bind, so the runs go as nobody.
TEST(BatchFiles, RunsTakeTurnsInAFolderThatCannotBeListed) {
  TempDir scratch;
  const std::string def = scratch / "std", imp = scratch / "imp";
  fs::create_directories(def);
  fs::create_directories(imp);
  fs::copy_file(kTemplate, def + "/SKOV_IMPORT.XLS");
  WriteFile(imp + "/A.TXT", Export(2));
  const uid_t nobody = 65534;
  if (::geteuid() == 0) {
    for (const std::string& p : {scratch.str(), def, imp, def + "/SKOV_IMPORT.XLS", imp + "/A.TXT"})
      ASSERT_EQ(::chown(p.c_str(), nobody, nobody), 0) << p;
  }
  fs::permissions(scratch.path(), fs::perms::owner_all | fs::perms::others_exec | fs::perms::group_exec);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(nobody) != 0 || ::setuid(nobody) != 0)) ::_exit(10);
    if (::chmod(def.c_str(), 0333) != 0) ::_exit(11);
    RuntimeFiles firstRun;
    try {
      firstRun.LockFolder(FromUtf8(def));
    } catch (...) {
      ::_exit(12);
    }
    std::string err;
    const int status = RunBatch({"--single", "--default-folder", def, imp + "/A.TXT"}, err);
    ::_exit(status == 2 && Has(err, "Ein anderer Import laeuft gerade mit diesem Standardordner.") ? 0 : 13);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::chmod(def.c_str(), 0755);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10-12: the set-up failed, 13: the second run was not refused";
  EXPECT_FALSE(fs::exists(imp + "/A.XLS"));
}

#ifdef SKOV_IMPORT_TOOL
// Past `ulimit -f` the program reports a full disk instead of being ended by
// SIGXFSZ without a word.
TEST(BatchFiles, FileSizeLimitIsAFullDisk) {
  TempDir def, imp;
  fs::copy_file(kTemplate, def / "SKOV_IMPORT.XLS");
  WriteFile(imp / "A.TXT", Export(2));
  const std::string errFile = def / "stderr.txt";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_DFL);  // as a shell starts a program
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = fs::file_size(kTemplate) / 2;
    const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0 || err < 0 || ::dup2(err, 2) < 0) ::_exit(120);
    const std::string folder = def.str(), file = imp / "A.TXT";
    ::execl(SKOV_IMPORT_TOOL, SKOV_IMPORT_TOOL, "--single", "--default-folder", folder.c_str(), file.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(121);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_FALSE(WIFSIGNALED(status)) << "ended by signal " << WTERMSIG(status);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_TRUE(Has(ReadFile(errFile), "Kein Speicherplatz mehr (Datentraeger voll oder Dateigroesse begrenzt).")) << ReadFile(errFile);
}
#endif

}  // namespace
}  // namespace skov
