// Whole runs through ImportStarten: the log's bytes, sheets and rows, failures.
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>

#include "run_fixture.h"

namespace skov::testing {
namespace {

// The expected log line: text, then spaces to the next 14-column zone.
std::string Zoned(const std::string& cp1252) {
  return cp1252 + std::string(14 - cp1252.size() % 14, ' ') + "\r\n";
}

// True when `expected` appear in `lines` in this order (others may lie between).
bool InOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected) {
  size_t at = 0;
  for (const auto& line : lines)
    if (at < expected.size() && line == expected[at]) ++at;
  return at == expected.size();
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += "  | " + l + "\n";
  return out;
}

using ImportRunTest = ImportRun;

TEST_F(ImportRunTest, OneFileLogIsExactlyTheseBytes) {
  const std::string path = Imp("PLAN.TXT");
  RunSingle("PLAN.TXT", "ZNAME;PROJEKT1;GERAET;GERBEZ;1\r\n\"Z-100\";\"Halle 3\";\"TF\";\"F\xFChler\";\"x\"\r\n");
  const std::string expected = Zoned("Importdatei geoeffnet:" + path) +
                               Zoned("Header gelesen :ZNAME;PROJEKT1;GERAET;GERBEZ;1") +
                               Zoned("Daten gelesen :\"Z-100\";\"Halle 3\";\"TF\";\"F\xFChler\";\"x\"") +
                               "Zeichnungsname:Z-100        \r\n"
                               "Blatt 1       \r\n"
                               "Letzte Datenzeile wurde verarbeitet.      \r\n" +
                               Zoned("Neue Excel-Datei:" + Imp("PLAN.XLS"));
  EXPECT_EQ(ReadFile(Std("PLAN.LOG")), expected);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].first, FromUtf8("Log-Datei: " + Std("PLAN.LOG")));
  EXPECT_EQ(messages.shown[0].second, u"SKOV Import DDC");
  EXPECT_EQ(pointer.states, (std::vector<MousePointer>{MousePointer::Hourglass, MousePointer::Default}));

  const Cells& cells = Saved(Imp("PLAN.XLS"));
  EXPECT_EQ(Cell(cells, 1, 31, 22), u"Halle 3");
  EXPECT_EQ(Cell(cells, 1, 11, 2), u"TF-Fühler");
  EXPECT_EQ(Cell(cells, 1, 11, 5), u"x");
  EXPECT_EQ(Cell(cells, 1, 33, 56), u" 2");
  EXPECT_EQ(cells.size(), 4u);
  EXPECT_EQ(ctx.summary.FilesSaved(), 1);
  EXPECT_FALSE(std::filesystem::exists(Std("IMPORT.LST")));  // single mode lists nothing
}

// The note of a save (formulas left to Excel) follows its "Neue Excel-Datei:"
// line, whether the save is finished at once or with the batch; a failed
// save has none.
TEST_F(ImportRunTest, SaveNoteFollowsTheSavedLineAndOnlyIt) {
  const std::string note = "Hinweis: 1 Formel wird erst beim Oeffnen berechnet: Blatt1!BD35 (INDIRECT)";
  host.script.saveNote = u"1 Formel wird erst beim Oeffnen berechnet: Blatt1!BD35 (INDIRECT)";
  for (bool defer : {false, true}) {
    for (bool fails : {false, true}) {
      host.script.deferSaves = defer;
      host.script.failingSave = fails ? "PLAN.XLS" : "";
      RunSingle("PLAN.TXT", "ZNAME;1\r\nZ;x\r\n");
      const std::vector<std::string> lines = LogLines("PLAN.LOG");
      const auto at = std::find(lines.begin(), lines.end(), note);
      EXPECT_EQ(at != lines.end(), !fails) << Joined(lines);
      if (fails || at == lines.end()) continue;
      EXPECT_EQ(at[-1], "Neue Excel-Datei:" + Imp("PLAN.XLS")) << defer;
      EXPECT_EQ(ctx.summary.passes.back().hinweis, host.script.saveNote);
    }
  }
}

// Where data line i (from 1) lands when nothing overflows.
std::pair<int, int> SheetAndRow(int i) {
  if (i <= 18) return {1, 10 + i};
  return {2 + (i - 19) / 17, 12 + (i - 19) % 17};
}

TEST_F(ImportRunTest, SheetAndRowArithmetic) {
  struct Case {
    int lines;
    int sheets;  // sheets filling reached
    bool overflow;
  };
  const Case cases[] = {{1, 1, false},  {17, 1, false}, {18, 1, false}, {19, 2, false}, {35, 2, false},
                        {36, 3, false}, {69, 4, false}, {70, 5, false}, {86, 5, false}, {87, 5, true},
                        {120, 5, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE("lines " + std::to_string(c.lines));
    const std::string name = "N" + std::to_string(c.lines) + ".TXT";
    host.log = {};
    messages.shown.clear();
    RunSingle(name, Drawing(c.lines));
    const std::string out = Imp("N" + std::to_string(c.lines) + ".XLS");
    const Cells& cells = Saved(out);
    ASSERT_FALSE(cells.empty());
    const int written = std::min(c.lines, 86);
    for (int i = 1; i <= written; ++i) {
      auto [sheet, row] = SheetAndRow(i);
      ASSERT_EQ(Cell(cells, sheet, row, 5), FromUtf8("a" + std::to_string(i))) << "line " << i;
    }
    int rows = 0;
    for (const auto& [key, value] : cells)
      if (std::get<2>(key) == 5) ++rows;
    EXPECT_EQ(rows, written);
    for (int s = 1; s <= 5; ++s) {
      const bool reached = s <= c.sheets;
      EXPECT_EQ(Cell(cells, s, 33, 56), reached ? NumberText(c.sheets + 1) : Text(u"<none>")) << "sheet " << s;
      EXPECT_EQ(Cell(cells, s, 31, 22), reached ? Text(u"Projekt") : Text(u"<none>")) << "sheet " << s;
      EXPECT_EQ(Cell(cells, s, 11, 5) != u"<none>", s == 1) << "row 11 only on sheet 1";
    }
    const auto log = LogLines("N" + std::to_string(c.lines) + ".LOG");
    EXPECT_EQ(std::count(log.begin(), log.end(), "Es koennen nicht mehr Blaetter erzeugt werden"), c.overflow ? 1 : 0);
    EXPECT_EQ(std::count(log.begin(), log.end(), "Blatt " + std::to_string(c.sheets)), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "Blatt " + std::to_string(c.sheets + 1)), 0);
    EXPECT_TRUE(LogHas("N" + std::to_string(c.lines) + ".LOG", "Neue Excel-Datei:" + out));
  }
}

TEST_F(ImportRunTest, FailuresAreLoggedAndNothingPartialIsSaved) {
  const std::string header = "ZNAME;PROJEKT1;1";
  std::string wide;
  for (int i = 0; i < 201; ++i) wide += "F" + std::to_string(i) + ";";
  wide += "X";
  std::string utf16 = "\xFF\xFE";
  for (char ch : Drawing(1)) utf16 += std::string{ch, '\0'};
  struct Case {
    const char* name;
    std::string content;  // "-" for no file at all, "/" for a folder of that name
    HostScript script;
    bool removeTemplate;
    std::vector<std::string> log;  // "@" stands for the import file's path
    bool saved;
  };
  const Case cases[] = {
      {"MISSING.TXT", "-", {}, false, {"Importdatei kann nicht geoeffnet werden!@"}, false},
      {"FOLDER.TXT", "/", {}, false, {"Importdatei kann nicht geoeffnet werden!@"}, false},
      {"BOM8.TXT", "\xEF\xBB\xBF" + Drawing(1), {}, false, {"Importdatei ist UTF-8-Text (mit BOM), erwartet wird ANSI-Text:@", "Zeichnungsname konnte nicht ermittelt werden.Ueberpruefen Sie auch die Trennzeichen!"}, false},
      {"BOM16.TXT", utf16, {}, false, {"Importdatei ist UTF-16-Text, erwartet wird ANSI-Text:@"}, false},
      {"EMPTY.TXT", "", {}, false, {"Importdatei geoeffnet:@", "Header konnte nicht gelesen werden!", "Headerzeile konnte nicht gelesen werden."}, false},
      {"HEAD.TXT", "ZNAME;1\r\n", {}, false, {"Headerzeile konnte nicht gelesen werden!", "Headerzeile konnte nicht gelesen werden."}, false},
      {"WIDE.TXT", wide + "\r\nZ\r\n", {}, false, {"Header konnte nicht gelesen werden!" + wide, "Headerzeile konnte nicht gelesen werden."}, false},
      {"BLANKS.TXT", "ZNAME\r\n\r\n\r\n", {}, false, {"Leere Datenzeilen uebersprungen: 2", "Letzte Datenzeile wurde verarbeitet.", "Die erste Datenzeile konnte nicht gelesen werden."}, false},
      {"NOZ.TXT", "PROJEKT1;1\r\nP;x\r\n", {}, false, {"Zeichnungsname konnte nicht ermittelt werden.Ueberpruefen Sie auch die Trennzeichen!"}, false},
      {"EMPTYZ.TXT", "ZNAME;1\r\n;x\r\n", {}, false, {"Zeichnungsname:", "Zeichnungsname konnte nicht ermittelt werden.Ueberpruefen Sie auch die Trennzeichen!"}, false},
      {"COMMA.TXT", "ZNAME,1\r\nZ,x\r\n", {}, false, {"Zeichnungsname konnte nicht ermittelt werden.Ueberpruefen Sie auch die Trennzeichen!"}, false},
      {"NOTPL.TXT", Drawing(2), {}, true, {"Zeichnungsname:Z1", "SKOV_IMPORT.XLS :Exceldatei kann nicht zugewiesen werden."}, false},
      {"DENIED.TXT", Drawing(2), {.bindError = 1004}, false, {"SKOV_IMPORT.XLS :Kein Zugriff auf diese Datei moeglich."}, false},
      {"NOSHEET.TXT", Drawing(2), {.worksheets = 0}, false, {"SKOV_IMPORT.XLS :Exceldatei kann nicht zugewiesen werden."}, false},
      {"RO.TXT", Drawing(2), {.saveError = 1004}, false, {"Blatt 1", "@XLS :Kein Zugriff auf diese Datei moeglich."}, false},
      {"BROKEN.TXT", Drawing(2), {.saveError = 432}, false, {"Z1.XLS :Exceldatei kann nicht geschrieben werden."}, false},
      {"LONGROW.TXT", Lines({header, "Z;P;1", wide}), {}, false, {"Daten gelesen :Z;P;1", "Laufzeitfehler 9: Index ausserhalb des gueltigen Bereichs - @"}, false},
      {"FEWSHEETS.TXT", Drawing(20), {.worksheets = 1}, false, {"Blatt 1", "Laufzeitfehler 9: Index ausserhalb des gueltigen Bereichs - @"}, false},
      {"CELLS.TXT", Drawing(2), {.cellError = 1004}, false, {"Blatt 1", "Laufzeitfehler 1004: Anwendungs- oder objektdefinierter Fehler - @"}, false},
      {"HUGE.TXT", Lines({header, "Z;P;" + std::string(32767, 'x')}), {}, false, {"Laufzeitfehler 6: Ueberlauf - @", "Grund: Die Zeile ist zu lang (32767 Zeichen oder mehr, erlaubt sind 32766)."}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir scratch;
    RecordingHost h(FromUtf8(scratch / "std"));
    h.script = c.script;
    RecordingMessages m;
    RecordingPointer p;
    RuntimeFiles f;
    ImportState s;
    s.Trennzeichen = u";";
    s.MitAnfuehrungszeichen = true;
    ImportContext run{s, h, m, p, f, {}, {}, {}};
    std::filesystem::create_directories(scratch / "std");
    std::filesystem::create_directories(scratch / "imp");
    if (!c.removeTemplate) WriteFile(scratch / "std/SKOV_IMPORT.XLS", "template");
    const std::string path = scratch / (std::string("imp/") + c.name);
    if (c.content == "/") std::filesystem::create_directories(path);
    else if (c.content != "-") WriteFile(path, c.content);
    s.LetzterDialog = RecordForChosenFile(FromUtf8(path));
    s.Importdatei = FromUtf8(path);
    ImportStarten(run);

    std::string logName = std::string(c.name);
    logName = logName.substr(0, logName.size() - 3) + "LOG";
    std::vector<std::string> expected;
    for (std::string line : c.log) {
      if (auto at = line.find('@'); at != std::string::npos)
        line.replace(at, 1, line.find("XLS :") != std::string::npos ? path.substr(0, path.size() - 3) : path);
      expected.push_back(line);
    }
    std::vector<std::string> lines;
    {
      std::string bytes = ReadFile(scratch / ("std/" + logName));
      std::istringstream in(bytes);
      for (std::string l; std::getline(in, l);) {
        if (!l.empty() && l.back() == '\r') l.pop_back();
        while (!l.empty() && l.back() == ' ') l.pop_back();
        lines.push_back(ToUtf8(FromCp1252(l)));
      }
    }
    EXPECT_TRUE(InOrder(lines, expected)) << Joined(lines);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("Neue Excel-Datei:", 0) == 0; }),
              c.saved ? 1 : 0);
    EXPECT_TRUE(h.log.saved.empty() || c.script.saveError == 0);
    EXPECT_EQ(h.log.closedUnsaved, 0) << "every bound workbook is closed";
    ASSERT_EQ(m.shown.size(), 1u);
    EXPECT_EQ(m.shown[0].first, FromUtf8("Log-Datei: " + scratch / ("std/" + logName)));
    EXPECT_EQ(p.states.back(), MousePointer::Default);
    EXPECT_EQ(f.FreeFile(), 1) << "every file closed";
    EXPECT_EQ(run.summary.FilesFailed(), 1);
  }
}

TEST_F(ImportRunTest, LogCannotBeOpened) {
  enum class Setup { None, NoDefaultFolder, HoldLogOpen, LogLinksToImportFile, LogIsFifo, OtherRunHoldsFolder };
  struct Case {
    std::string chosen;  // under the scratch folder
    Setup setup;
    std::string first;   // first message, "@" = the log path
    std::string log;     // the log path, under the scratch folder
  };
  const std::string other = "Log der anderen Ausfuehrung\r\n";
  const Case cases[] = {
      {"imp/PLAN.TXT", Setup::NoDefaultFolder, "Log-Ddatei kann nicht geoeffnet werden!@", "std/PLAN.LOG"},
      {"imp/PLAN.TXT", Setup::HoldLogOpen, "Die Log-Datei ist bereits geoeffnet!@", "std/PLAN.LOG"},
      {"imp/ab", Setup::None, "Log-Ddatei kann nicht geoeffnet werden!", ""},
      // The log would be emptied over the import file itself.
      {"std/KATALOG", Setup::None, "Log-Ddatei kann nicht geoeffnet werden!@\nDie Log-Datei waere die Importdatei selbst.", "std/KATALOG"},
      {"std/PLAN.LOG", Setup::None, "Log-Ddatei kann nicht geoeffnet werden!@\nDie Log-Datei waere die Importdatei selbst.", "std/PLAN.LOG"},
#ifndef _WIN32  // a symbolic link needs a privilege on Windows
      {"imp/PLAN.TXT", Setup::LogLinksToImportFile, "Log-Ddatei kann nicht geoeffnet werden!@\nDie Log-Datei waere die Importdatei selbst.", "std/PLAN.LOG"},
#endif
#ifndef _WIN32  // no FIFOs on Windows
      {"imp/PLAN.TXT", Setup::LogIsFifo, "Log-Ddatei kann nicht geoeffnet werden!@", "std/PLAN.LOG"},
#endif
      {"imp/PLAN.TXT", Setup::OtherRunHoldsFolder, "Die Log-Datei ist bereits geoeffnet!@\nEin anderer Import laeuft gerade mit diesem Standardordner.", "std/PLAN.LOG"},
  };
#ifndef _WIN32
  ::alarm(60);  // a log opened on a FIFO would block
#endif
  for (const auto& c : cases) {
    SCOPED_TRACE(c.chosen + " " + std::to_string(static_cast<int>(c.setup)));
    TempDir scratch;
    std::filesystem::create_directories(scratch / "imp");
    if (c.setup != Setup::NoDefaultFolder) std::filesystem::create_directories(scratch / "std");
    RecordingHost h(FromUtf8(scratch / "std"));
    RecordingMessages m;
    RecordingPointer p;
    RuntimeFiles f;
    ImportState s;
    ImportContext run{s, h, m, p, f, {}, {}, {}};
    const std::string path = scratch / c.chosen;
    const std::string content = Drawing(1);
    WriteFile(path, content);
    s.LetzterDialog = RecordForChosenFile(FromUtf8(path));
    s.Importdatei = FromUtf8(path);
    const std::string logPath = scratch / c.log;
    RuntimeFiles otherRun;
    if (c.setup == Setup::HoldLogOpen) f.Open(FromUtf8(logPath), OpenMode::Output, 7, true);
    if (c.setup == Setup::LogLinksToImportFile) std::filesystem::create_symlink(path, logPath);
#ifndef _WIN32
    if (c.setup == Setup::LogIsFifo) {
      ASSERT_EQ(::mkfifo(logPath.c_str(), 0600), 0);
    }
#endif
    if (c.setup == Setup::OtherRunHoldsFolder) {
      WriteFile(logPath, other);
      otherRun.LockFolder(FromUtf8(scratch / "std"));
    }
    ImportStarten(run);
    std::string first = c.first;
    if (auto at = first.find('@'); at != std::string::npos) first.replace(at, 1, logPath);
    ASSERT_EQ(m.shown.size(), 2u);
    EXPECT_EQ(m.shown[0], std::make_pair(FromUtf8(first), Text(u"SKOV Import DDC")));
    EXPECT_EQ(m.shown[1], std::make_pair(Text(u"Die Log-Datei läßt sich nicht öffnen!"), Text(u"SKOV_Import")));
    EXPECT_TRUE(h.log.calls.empty()) << "nothing imported";
    EXPECT_FALSE(run.summary.logOpened);
    EXPECT_EQ(ReadFile(path), content);
    if (c.setup == Setup::OtherRunHoldsFolder) {
      EXPECT_EQ(ReadFile(logPath), other);
    }
  }
#ifndef _WIN32
  ::alarm(0);
#endif
}

TEST_F(ImportRunTest, LogAndOutputNames) {
  struct Case {
    const char* chosen;
    const char* log;
    std::string output;
    const char* refusal;  // the reason line when the output is refused
  };
  const Case cases[] = {
      {"PLAN.TXT", "PLAN.LOG", Imp("PLAN.XLS"), nullptr},
      {"PLAN.txt", "PLAN.LOG", Imp("PLAN.XLS"), nullptr},
      {"PLAN.CSV1", "PLAN.CLOG", Imp("PLAN..XLS"), nullptr},
      {"DATEN.CSV1", "DATEN.CLOG", Imp("DATEN..XLS"), nullptr},
      {"PLAN", "PLOG", Imp(".XLS"), "Grund: Die Ausgabedatei haette keinen Namen vor .XLS."},
      {"L01", "LOG", dir / "imp.XLS", "Grund: Die Ausgabedatei laege nicht im Ordner der Importdatei:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.chosen);
    host.log = {};
    RunSingle(c.chosen, Drawing(1));
    EXPECT_TRUE(std::filesystem::exists(Std(c.log))) << (messages.shown.empty() ? "" : ToUtf8(messages.shown[0].first));
    EXPECT_EQ(state.Importverzeichnis, FromUtf8(dir / "imp/"));
    if (!c.refusal) {
      EXPECT_TRUE(LogHas(c.log, "Neue Excel-Datei:" + c.output));
      EXPECT_EQ(host.log.saved.count(FromUtf8(c.output)), 1u);
      continue;
    }
    const auto log = LogLines(c.log);
    const auto at = std::find(log.begin(), log.end(), c.output + " :Kein Zugriff auf diese Datei moeglich.");
    ASSERT_NE(at, log.end()) << Joined(log);
    ASSERT_NE(at + 1, log.end());
    EXPECT_EQ((at + 1)->rfind(c.refusal, 0), 0u) << *(at + 1);
    EXPECT_TRUE(host.log.saved.empty());
    EXPECT_FALSE(std::filesystem::exists(c.output));
  }
}

TEST_F(ImportRunTest, AnOutputOfThisRunIsNeverReplaced) {
  state.VerzeichnisImport = true;
  WriteFile(Imp("PLAN.CSV"), Drawing(1));
  WriteFile(Imp("PLAN.TXT"), Drawing(2));
  Choose(Imp("PLAN.TXT"));
  Start();
  const auto log = LogLines("IMPORT.LOG");
  EXPECT_EQ(std::count(log.begin(), log.end(), "Neue Excel-Datei:" + Imp("PLAN.XLS")), 1);
  EXPECT_TRUE(InOrder(log, {Imp("PLAN.XLS") + " :Kein Zugriff auf diese Datei moeglich.",
                            "Grund: In diesem Lauf schon geschrieben aus:" + Imp("PLAN.CSV")}))
      << Joined(log);
  EXPECT_EQ(Cell(Saved(Imp("PLAN.XLS")), 1, 12, 5), u"<none>") << "still the workbook of PLAN.CSV";
}

// Saves finished in batches log exactly what saves done at once log: each
// "Neue Excel-Datei:" or failure in its place, the summary the same, an
// earlier output read as input as that pass saved it: from beside its target
// where the host offers that, without ending the batch (a second run of a
// folder reads every output of the first), else once it is saved.
TEST(SavesInBatches, LogAndSummaryAsIfEachSaveWereDoneAtOnce) {
  struct Outcome {
    std::string log;
    std::vector<std::tuple<std::string, bool, std::string, std::string, std::string>> passes;
    std::vector<std::string> calls;
  };
  auto run = [](bool defer, bool readable) {
    TempDir dir;
    std::filesystem::create_directories(dir / "std");
    std::filesystem::create_directories(dir / "imp");
    WriteFile(dir / "std/SKOV_IMPORT.XLS", "template");
    for (int i = 1; i <= 11; ++i) WriteFile(dir / ("imp/D" + std::to_string(100 + i) + ".TXT"), Drawing(i % 3 + 1));
    WriteFile(dir / "imp/D103.CSV", Drawing(2));         // the same output as D103.TXT
    WriteFile(dir / "imp/D105.XLS", Drawing(1, "OLD"));  // an earlier output, listed, replaced by D105.TXT's
    RecordingHost host(FromUtf8(dir / "std"));
    host.script.deferSaves = defer;
    host.script.readablePending = readable;
    host.script.failingSave = "D107.XLS";
    RecordingMessages messages;
    RecordingPointer pointer;
    RuntimeFiles files;
    ImportState state;
    state.Trennzeichen = u";";
    state.VerzeichnisImport = true;
    state.LetzterDialog = RecordForChosenFile(FromUtf8(dir / "imp/D101.TXT"));
    state.Importdatei = FromUtf8(dir / "imp/D101.TXT");
    ImportContext ctx{state, host, messages, pointer, files, {}, {}, {}};
    ImportStarten(ctx);
    Outcome o;
    o.log = ReadFile(dir / "std/IMPORT.LOG");
    const std::string root = dir / "";
    for (size_t at; (at = o.log.find(root)) != std::string::npos;) o.log.replace(at, root.size(), "<dir>/");
    std::replace(o.log.begin(), o.log.end(), static_cast<char>(std::filesystem::path::preferred_separator), '/');
    auto relative = [&](const Text& text) {
      std::string t = ToUtf8(text);
      for (size_t at; (at = t.find(root)) != std::string::npos;) t.replace(at, root.size(), "<dir>/");
      return t;
    };
    for (const PassRecord& p : ctx.summary.passes)
      o.passes.emplace_back(ToUtf8(p.file), p.saved, relative(p.reason), relative(p.grund), relative(p.output));
    for (const std::string& c : host.log.calls)
      if (c.rfind("begin save", 0) == 0 || c.rfind("finish", 0) == 0)
        o.calls.push_back(c.substr(0, c.find(' ')) + " " + c.substr(c.rfind('/') + 1));
    EXPECT_TRUE(ctx.saves.Empty());
    return o;
  };
  const Outcome atOnce = run(false, false), batched = run(true, false), readable = run(true, true);
  EXPECT_EQ(batched.log, atOnce.log);
  EXPECT_EQ(batched.passes, atOnce.passes);
  EXPECT_EQ(readable.log, atOnce.log);
  EXPECT_EQ(readable.passes, atOnce.passes);
  // The pass of D105.XLS read the pending save and left the batch alone.
  const auto at = [&](const std::string& call) {
    return std::find(readable.calls.begin(), readable.calls.end(), call) - readable.calls.begin();
  };
  EXPECT_TRUE(std::none_of(readable.calls.begin() + at("begin D105.XLS"), readable.calls.begin() + at("begin D106.XLS"),
                           [](const std::string& c) { return c.rfind("finish", 0) == 0; }))
      << ::testing::PrintToString(readable.calls);
  EXPECT_NE(atOnce.log.find("<dir>/imp/D107.XLS :Kein Zugriff auf diese Datei moeglich."), std::string::npos);
  // Several saves begun before the first of them is finished.
  size_t begun = 0, longest = 0;
  for (const std::string& c : batched.calls) longest = std::max(longest, begun = c.rfind("begin", 0) == 0 ? begun + 1 : 0);
  EXPECT_GE(longest, 4u) << ::testing::PrintToString(batched.calls);
}

}  // namespace
}  // namespace skov::testing
