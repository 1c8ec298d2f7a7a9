// Option parsing and the exit-status rule of skov-import.
#include <gtest/gtest.h>

#include <map>

#include "app/batch_options.h"
#include "app/batch_run.h"
#include "support/temp_dir.h"

namespace skov {
namespace {

struct ParseCase {
  std::vector<std::string> args;
  ParseOutcome outcome;
  Text separator = u";";
  bool quotes = true;
  bool folderMode = true;
  std::string folder;  // "" = none given
  std::string file;
  std::string errorPart;
};

TEST(BatchArgs, ParsesTheWindowSettings) {
  const std::vector<ParseCase> cases = {
      {{"a.txt"}, ParseOutcome::Run, u";", true, true, "", "a.txt", ""},
      {{"--separator", ",", "a.txt"}, ParseOutcome::Run, u",", true, true, "", "a.txt", ""},
      {{"--separator=\t", "a.txt"}, ParseOutcome::Run, u"\t", true, true, "", "a.txt", ""},
      {{"--separator", "\xC2\xA7", "a.txt"}, ParseOutcome::Run, u"\u00A7", true, true, "", "a.txt", ""},
      {{"--separator", "\xE2\x82\xAC", "a.txt"}, ParseOutcome::Run, u"\u20AC", true, true, "", "a.txt", ""},
      {{"--no-quotes", "--single", "a.txt"}, ParseOutcome::Run, u";", false, false, "", "a.txt", ""},
      {{"--single", "--folder", "a.txt"}, ParseOutcome::Run, u";", true, true, "", "a.txt", ""},
      {{"a.txt", "--single"}, ParseOutcome::Run, u";", true, false, "", "a.txt", ""},
      {{"--default-folder", "/x y", "a.txt"}, ParseOutcome::Run, u";", true, true, "/x y", "a.txt", ""},
      {{"--default-folder=/d", "a.txt"}, ParseOutcome::Run, u";", true, true, "/d", "a.txt", ""},
      {{"--", "--single"}, ParseOutcome::Run, u";", true, true, "", "--single", ""},
      {{"-"}, ParseOutcome::Run, u";", true, true, "", "-", ""},
      {{"--help"}, ParseOutcome::Help, u";", true, true, "", "", ""},
      {{"a.txt", "-h"}, ParseOutcome::Help, u";", true, true, "", "", ""},
      {{"--version"}, ParseOutcome::Version, u";", true, true, "", "", ""},
      {{"--version=1"}, ParseOutcome::UsageError, u";", true, true, "", "", "erwartet keinen Wert"},
      {{}, ParseOutcome::UsageError, u";", true, true, "", "", "keine Importdatei"},
      {{""}, ParseOutcome::UsageError, u";", true, true, "", "", "keine Importdatei"},
      {{"a.txt", "b.txt"}, ParseOutcome::UsageError, u";", true, true, "", "", "Nur eine"},
      {{"--separator"}, ParseOutcome::UsageError, u";", true, true, "", "", "erwartet einen Wert"},
      {{"--separator", "", "a.txt"}, ParseOutcome::UsageError, u";", true, true, "", "", "genau ein Zeichen"},
      {{"--separator", ";,", "a.txt"}, ParseOutcome::UsageError, u";", true, true, "", "", "genau ein Zeichen"},
      {{"--separator", "\xE2\x86\x92", "a.txt"}, ParseOutcome::UsageError, u";", true, true, "", "", "Windows-1252"},
      {{"--separator", "\n", "a.txt"}, ParseOutcome::UsageError, u";", true, true, "", "", "genau ein Zeichen"},
      {{"--single=1", "a.txt"}, ParseOutcome::UsageError, u";", true, true, "", "", "keinen Wert"},
      {{"--default-folder=", "a.txt"}, ParseOutcome::UsageError, u";", true, true, "", "", "Ordner"},
      {{"--quotes", "a.txt"}, ParseOutcome::UsageError, u";", true, true, "", "", "Unbekannte Option: --quotes"},
      {{"-s", ";", "a.txt"}, ParseOutcome::UsageError, u";", true, true, "", "", "Unbekannte Option: -s"},
  };
  for (const ParseCase& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += "[" + a + "]";
    SCOPED_TRACE(joined);
    const ParsedArgs p = ParseBatchArgs(c.args);
    ASSERT_EQ(p.outcome, c.outcome) << p.error;
    if (c.outcome == ParseOutcome::UsageError) {
      EXPECT_NE(p.error.find(c.errorPart), std::string::npos) << p.error;
      continue;
    }
    if (c.outcome != ParseOutcome::Run) continue;
    EXPECT_EQ(p.options.separator, c.separator);
    EXPECT_EQ(p.options.quotes, c.quotes);
    EXPECT_EQ(p.options.folderMode, c.folderMode);
    EXPECT_EQ(p.options.defaultFolder.value_or(""), c.folder);
    EXPECT_EQ(p.options.importFile, c.file);
  }
}

TEST(BatchArgs, HelpNamesEveryOptionAndPlace) {
  const std::string help = BatchHelpText();
  for (const char* part : {"--separator", "--no-quotes", "--single", "--folder", "--default-folder", "--help",
                           "SKOV_IMPORT.XLS", "IMPORT.LOG", "IMPORT.LST", "user-dirs.dirs", "Log-Datei:"}) {
    EXPECT_NE(help.find(part), std::string::npos) << part;
  }
  // Only quotation marks that wrap a field are removed, not any first and last character.
  EXPECT_EQ(help.find("erste und letzte Zeichen"), std::string::npos);
  EXPECT_NE(help.find("Anfuehrungszeichen am Anfang und Ende"), std::string::npos);
}

TEST(ExitStatus, CountsOnlyPassesThatFailed) {
  struct Case {
    const char* what;
    RunOutcome outcome;
    int expected;
  };
  const std::vector<Case> cases = {
      {"log not opened", {false, true, 0, {}}, 2},
      {"single saved", {true, false, 1, {{"/d/A.TXT", true}}}, 0},
      {"single failed", {true, false, 1, {{"/d/A.TXT", false}}}, 1},
      {"single .XLS failed counts", {true, false, 1, {{"/d/A.XLS", false}}}, 1},
      {"folder all saved", {true, true, 2, {{"A.TXT", true}, {"B.TXT", true}}}, 0},
      {"folder one failed", {true, true, 2, {{"A.TXT", true}, {"B.TXT", false}}}, 1},
      {"folder earlier outputs", {true, true, 4, {{"A.TXT", true}, {"A.XLS", false}, {"import.log", false},
                                                   {"IMPORT.LST", false}}}, 0},
      {"folder saved .xls counts", {true, true, 2, {{"A.TXT", true}, {"B.xls", true}}}, 0},
      {"folder only outputs", {true, true, 1, {{"A.XLS", false}}}, 1},
      {"folder .XLSX is no output", {true, true, 2, {{"A.TXT", true}, {"B.XLSX", false}}}, 1},
      {"list not built", {true, true, 0, {}}, 1},
      {"loop ended early", {true, true, 3, {{"A.TXT", true}}}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ExitStatusFor(c.outcome), c.expected);
  }
}

}  // namespace
}  // namespace skov
