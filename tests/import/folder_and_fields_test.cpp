// Folder mode, the cell map, and how lines become field values.
#include <algorithm>

#include "run_fixture.h"
#include "support/error_of.h"

namespace skov::testing {
namespace {

using FolderRun = ImportRun;

TEST_F(FolderRun, EveryFileOfTheFolderInListOrder) {
  state.VerzeichnisImport = true;
  WriteFile(Imp("c.txt"), Drawing(20, "ZC"));
  WriteFile(Imp("A.TXT"), Drawing(3, "ZA"));
  WriteFile(Imp("B.TXT"), "ZNAME\r\n");  // header only: skipped
  WriteFile(Imp("D.XLS"), std::string("\xD0\xCF\x11\xE0", 4));
  std::vector<std::string> progress;
  ctx.progress = [&](int i, int n, const Text& name) {
    progress.push_back(std::to_string(i) + "/" + std::to_string(n) + " " + ToUtf8(name));
  };
  Choose(Imp("A.TXT"));
  Start();

  EXPECT_EQ(ReadFile(Std("IMPORT.LST")), "A.TXT\r\nB.TXT\r\nc.txt\r\nD.XLS\r\n");
  EXPECT_EQ(progress, (std::vector<std::string>{"1/4 A.TXT", "2/4 B.TXT", "3/4 c.txt", "4/4 D.XLS"}));
  EXPECT_FALSE(std::filesystem::exists(Std("A.LOG")));
  const auto log = LogLines("IMPORT.LOG");
  EXPECT_EQ(log.front(), "Importdateien-Liste:" + Std("IMPORT.LST"));
  EXPECT_EQ(log.back(), "Importdateienliste wurde verarbeitet.");
  EXPECT_EQ(std::count(log.begin(), log.end(), "Headerzeile konnte nicht gelesen werden."), 2);

  // c.txt follows a failed file and still starts at sheet 1, row 11.
  const Cells& c = Saved(Imp("c.XLS"));
  EXPECT_EQ(Cell(c, 1, 11, 5), u"a1");
  EXPECT_EQ(Cell(c, 2, 12, 5), u"a19");
  EXPECT_EQ(Cell(c, 1, 33, 56), u" 3");
  EXPECT_EQ(Cell(Saved(Imp("A.XLS")), 1, 13, 5), u"a3");
  EXPECT_EQ(host.log.saved.size(), 2u) << "outputs of this run are not imported again";
  EXPECT_EQ(ctx.summary.filesListed, 4);
  EXPECT_EQ(ctx.summary.FilesSaved(), 2);
  EXPECT_EQ(ctx.summary.FilesFailed(), 2);
}

TEST_F(FolderRun, ImportFolderIsTheDefaultFolder) {
  // The log is open for output while the list offers it as an import file.
  state.VerzeichnisImport = true;
  WriteFile(Std("A.TXT"), Drawing(1));
  Choose(Std("A.TXT"));
  Start();
  EXPECT_TRUE(LogHas("IMPORT.LOG", "Die Importdatei ist bereits geoeffnet!" + Std("IMPORT.LOG")));
  EXPECT_TRUE(LogHas("IMPORT.LOG", "Neue Excel-Datei:" + Std("A.XLS")));
  EXPECT_EQ(files.FreeFile(), 1);
}

TEST_F(FolderRun, FolderThatCannotBeListedIsNamed) {
  state.VerzeichnisImport = true;
  Choose(Imp("A.TXT"));
  std::filesystem::remove_all(dir / "imp");
  Start();
  const auto log = LogLines("IMPORT.LOG");
  EXPECT_EQ(log, (std::vector<std::string>{"Importordner kann nicht gelesen werden:" + Imp("")}));
}

TEST_F(FolderRun, DrawingNameDoesNotCarryOverToTheNextFile) {
  state.VerzeichnisImport = true;
  WriteFile(Imp("1.TXT"), Drawing(1, "ERSTE"));
  WriteFile(Imp("2.TXT"), Lines({"PROJEKT1;1", "P;x"}));
  Choose(Imp("1.TXT"));
  Start();
  EXPECT_EQ(host.log.saved.size(), 1u);
  EXPECT_TRUE(LogHas("IMPORT.LOG", "Zeichnungsname konnte nicht ermittelt werden.Ueberpruefen Sie auch die Trennzeichen!"));
}

TEST_F(FolderRun, ShortNamesFailAtTheOutputName) {
  state.VerzeichnisImport = true;
  WriteFile(Imp("abc"), Drawing(1, "ZX"));
  WriteFile(Imp("ABCD"), Drawing(1));
  Choose(Imp("abc"));
  Start();
  EXPECT_TRUE(LogHas("IMPORT.LOG", "ZX.XLS :Exceldatei kann nicht geschrieben werden."));
  EXPECT_TRUE(LogHas("IMPORT.LOG", Imp(".XLS") + " :Kein Zugriff auf diese Datei moeglich."));
  EXPECT_TRUE(LogHas("IMPORT.LOG", "Grund: Die Ausgabedatei haette keinen Namen vor .XLS."));
  EXPECT_TRUE(host.log.saved.empty());
}

using CellMap = ImportRun;

TEST_F(CellMap, TitleBlockRowsAndDeviceText) {
  RunSingle("MAP.TXT", Lines({
                           "ZNAME;PROJEKT1;projekt2;Projekt3;INFO1;DWGNME;GEWERK1;ANLAGE1;PROJEKT1;GERBEZ;GERBEM;1;3;07;51;50;GERAET;GERAET",
                           "ZN;P1a;P2;P3;I1;DW;GW;AN;P1b;BEZ;BEM;v1;v3;v07;v51;v50;G1;G2",
                       }));
  const Cells& cells = Saved(Imp("MAP.XLS"));
  struct Expect {
    int row, column;
    const char16_t* value;
  };
  const Expect expected[] = {
      {31, 22, u"P1b"}, {32, 22, u"P2"},  {33, 22, u"P3"},     {31, 42, u"I1"}, {33, 42, u"ZN"},
      {30, 55, u"GW"},  {31, 55, u"AN"},  {11, 5, u"v1"},      {11, 7, u"v3"},  {11, 54, u"v50"},
      {11, 2, u"G2-BEZ"}, {11, 55, u"BEM"}, {33, 56, u" 2"},
  };
  for (const auto& e : expected) EXPECT_EQ(Cell(cells, 1, e.row, e.column), Text(e.value)) << e.row << "," << e.column;
  EXPECT_EQ(cells.size(), std::size(expected)) << "07, 51 and column 6 stay untouched";
}

TEST_F(CellMap, DeviceTextWithoutGeraetAndWithoutGerbez) {
  RunSingle("A.TXT", Lines({"ZNAME;GERBEZ", "Z;bez"}));
  EXPECT_EQ(Cell(Saved(Imp("A.XLS")), 1, 11, 2), u"-bez");
  RunSingle("B.TXT", Lines({"ZNAME;GERAET", "Z;ger"}));
  EXPECT_EQ(Cell(Saved(Imp("B.XLS")), 1, 11, 2), u"<none>");
  RunSingle("C.TXT", Lines({"ZNAME;1", "Z;x"}));
  EXPECT_EQ(Cell(Saved(Imp("C.XLS")), 1, 33, 42), u"<none>") << "no DWGNME, no drawing cell";
}

using Fields = ImportRun;

TEST_F(Fields, QuotesComeOffOnlyWrappedFields) {
  struct Case {
    std::string field;
    const char16_t* quoted;    // with quotation marks on
    const char16_t* verbatim;  // with them off
  };
  const Case cases[] = {
      {"\"a\"", u"a", u"\"a\""}, {"\"\"", u"", u"\"\""},      {"\"", u"\"", u"\""},
      {"\"a", u"\"a", u"\"a"},   {"a\"", u"a\"", u"a\""},     {"x", u"x", u"x"},
      {"\"a\"b\"", u"a\"b", u"\"a\"b\""}, {"007", u"007", u"007"},
  };
  int i = 0;
  for (const auto& c : cases) {
    for (bool on : {true, false}) {
      state.MitAnfuehrungszeichen = on;
      const std::string name = "Q" + std::to_string(i++) + ".TXT";
      RunSingle(name, Lines({"ZNAME;1", "Z;" + c.field}));
      EXPECT_EQ(Cell(Saved(Imp(name.substr(0, name.size() - 4) + ".XLS")), 1, 11, 5), Text(on ? c.quoted : c.verbatim))
          << c.field << (on ? " quoted" : " verbatim");
    }
  }
}

TEST_F(Fields, NoValueOfAnEarlierLineSurvives) {
  RunSingle("S.TXT", Lines({"ZNAME;1;2;3", "Z;a;b;c", "Z;;;", "", "Z;x", "Z"}));
  const Cells& cells = Saved(Imp("S.XLS"));
  const Text row11[] = {u"a", u"b", u"c"}, row12[] = {u"", u"", u""}, row13[] = {u"x", u"", u""}, row14[] = {u"", u"", u""};
  const Text* rows[] = {row11, row12, row13, row14};
  for (int r = 0; r < 4; ++r)
    for (int col = 0; col < 3; ++col) EXPECT_EQ(Cell(cells, 1, 11 + r, 5 + col), rows[r][col]) << "row " << 11 + r;
  EXPECT_EQ(Cell(cells, 1, 15, 5), u"<none>") << "the blank line made no row";
  EXPECT_TRUE(LogHas("S.LOG", "Leere Datenzeile uebersprungen."));
}

// Clearing skips the slots no line filled since the last one was loaded:
// the slots of a long line must still go with a short one, and a line
// refused for its length leaves nothing behind.
TEST(FeldTabelle, ANewLineLeavesNothingOfTheLastOne) {
  FeldTabelle table;
  auto load = [&](const Text& line, bool quoted) { return table.Load(line, u';', quoted); };
  Text wide;
  for (int k = 1; k <= 200; ++k) wide += u"\"f" + NumberText(k).substr(1) + u"\";";
  EXPECT_EQ(load(wide, true), 200) << "the trailing separator's empty field is dropped";
  EXPECT_EQ(table[150], u"f150");
  EXPECT_EQ(table[200], u"f200");
  EXPECT_EQ(load(u"neu;\"x\"", false), 2);
  EXPECT_EQ(table[1], u"neu");
  EXPECT_EQ(table[2], u"\"x\"");
  EXPECT_EQ(table[3], u"");
  EXPECT_EQ(table[150], u"");
  EXPECT_EQ(table[200], u"");
  EXPECT_EQ(ErrorOf([&] { load(wide + u"x", true); }), 9);
  EXPECT_EQ(table[1], u"");
  EXPECT_EQ(table[150], u"");
  EXPECT_EQ(load(u"a", false), 1);
  table.Clear();
  EXPECT_EQ(table[1], u"");
  EXPECT_EQ(ErrorOf([&] { table[201]; }), 9);
  EXPECT_EQ(ErrorOf([&] { table[-1]; }), 9);
}

TEST_F(Fields, EachRunOfBlankLinesIsLoggedOnce) {
  RunSingle("B.TXT", Lines({"ZNAME;1", "Z;a", "", "", "", "Z;b", "", "Z;c", "", ""}));
  std::vector<std::string> blank;
  for (const auto& line : LogLines("B.LOG"))
    if (line.rfind("Leere", 0) == 0 || line.rfind("Daten gelesen", 0) == 0) blank.push_back(line);
  EXPECT_EQ(blank, (std::vector<std::string>{"Daten gelesen :Z;a", "Leere Datenzeilen uebersprungen: 3", "Daten gelesen :Z;b",
                                             "Leere Datenzeile uebersprungen.", "Daten gelesen :Z;c",
                                             "Leere Datenzeilen uebersprungen: 2"}));
}

TEST_F(Fields, SeparatorSettings) {
  struct Case {
    const char16_t* setting;
    std::string line;
    const char16_t* first;  // column 5
    const char16_t* second;  // column 6
  };
  const Case cases[] = {
      {u";", "Z;a,b;c", u"a,b", u"c"},
      {u";,", "Z;a,b;c", u"a", u"b"},
      {u"\t", "Z\ta\tb", u"a", u"b"},
  };
  int i = 0;
  for (const auto& c : cases) {
    state.Trennzeichen = c.setting;
    const std::string sep = ToUtf8(Text(1, c.setting[0]));
    const std::string name = "T" + std::to_string(i++) + ".TXT";
    RunSingle(name, Lines({"ZNAME" + sep + "1" + sep + "2", c.line}));
    const Cells& cells = Saved(Imp(name.substr(0, name.size() - 4) + ".XLS"));
    EXPECT_EQ(Cell(cells, 1, 11, 5), Text(c.first));
    EXPECT_EQ(Cell(cells, 1, 11, 6), Text(c.second));
  }
}

TEST_F(Fields, LinuxLineEndsAndTrailingSeparator) {
  RunSingle("LF.TXT", "ZNAME;1;\nZ;\xE4;\n");
  EXPECT_EQ(Cell(Saved(Imp("LF.XLS")), 1, 11, 5), u"ä");
  std::string wide = "ZNAME";
  for (int i = 1; i < 200; ++i) wide += ";" + std::to_string(i);
  RunSingle("W.TXT", Lines({wide + ";", "Z;v1;"}));  // 200 fields and a trailing separator
  EXPECT_EQ(Cell(Saved(Imp("W.XLS")), 1, 11, 5), u"v1");
}

}  // namespace
}  // namespace skov::testing
