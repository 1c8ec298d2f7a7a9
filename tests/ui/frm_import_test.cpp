// FrmImport: start values, settings copied at once, the two commands, layout.
#include "ui/frm_import.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <deque>
#include <filesystem>
#include <vector>

#include "host/runtime_files.h"
#include "host/xls_host.h"
#include "strings/fields.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"
#include "ui/qt_app.h"

namespace skov {
namespace {

struct Shown {
  Text prompt, title;
};

struct RecordingMessages : MessageService {
  std::vector<Shown> shown;
  std::function<void()> whileShown;
  void Show(const Text& prompt, const Text& title) override {
    shown.push_back({prompt, title});
    if (whileShown) whileShown();
  }
};

struct RecordingPointer : BusyPointer {
  std::vector<MousePointer> calls;
  void Set(MousePointer p) override { calls.push_back(p); }
};

struct ScriptedDialog : PlatformFileDialog {
  std::deque<PlatformDialogAnswer> answers;
  std::vector<OpenFileName> records;
  std::vector<bool> opens;
  PlatformDialogAnswer Show(const OpenFileName& record, bool open) override {
    records.push_back(record);
    opens.push_back(open);
    PlatformDialogAnswer a = answers.empty() ? PlatformDialogAnswer{} : answers.front();
    if (!answers.empty()) answers.pop_front();
    return a;
  }
  int32_t ActiveWindow() override { return 0x77; }
};

std::vector<std::string> FilesIn(const QString& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir.toStdString()))
    names.push_back(e.path().filename().string());
  return names;
}

class FrmImportTest : public ::testing::Test {
 protected:
  FrmImportTest()
      : host(MakeXlsHost(folder.path().toStdU16String())),
        ctx{state, *host, messages, pointer, files, {}, {}, {}},
        window(ctx, dialog) {
    window.SetProgramEnd([this] { ++ended; });
    std::filesystem::create_directory(folder.filePath("in").toStdString());
    importFile = folder.filePath("in/PLAN.TXT");
  }

  template <typename T>
  T* Child(const char* name) {
    T* w = window.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  void ChooseOnce(const QString& path) {
    dialog.answers.push_back({true, path.toStdU16String(), 0x1804});
    window.cmdImportPfad_Click();
  }
  bool Activate() {
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
  }

  QTemporaryDir folder;
  QString importFile;
  ImportState state;
  RuntimeFiles files;
  RecordingMessages messages;
  RecordingPointer pointer;
  ScriptedDialog dialog;
  std::unique_ptr<SpreadsheetHost> host;
  ImportContext ctx;
  FrmImport window;
  int ended = 0;
};

TEST_F(FrmImportTest, StartValues) {
  EXPECT_EQ(Child<QLineEdit>("txtTrennzeichen")->text(), ";");
  EXPECT_TRUE(Child<QCheckBox>("chkAnfzeichen")->isChecked());
  EXPECT_TRUE(Child<QCheckBox>("chkVerzImport")->isChecked());
  EXPECT_TRUE(Child<QLabel>("lblImportPfad")->text().isEmpty());
  EXPECT_EQ(state.Trennzeichen, u";");
  EXPECT_TRUE(state.MitAnfuehrungszeichen);
  EXPECT_TRUE(state.VerzeichnisImport);
  EXPECT_TRUE(state.Importdatei.empty());
  EXPECT_EQ(window.focusWidget(), Child<QPushButton>("cmdImportPfad"));
  EXPECT_EQ(window.windowTitle(), "SKOV Import");
  const QPoint offCentre = window.geometry().center() - QGuiApplication::primaryScreen()->availableGeometry().center();
  EXPECT_LE(offCentre.manhattanLength(), 2);
}

TEST_F(FrmImportTest, ImportierenWithoutFileOnlyWarns) {
  Child<QPushButton>("cmdImportieren")->click();
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].prompt, u"Es ist keine Importdatei ausgewählt!");
  EXPECT_EQ(messages.shown[0].title, u"SKOV Import DDC");
  EXPECT_EQ(ended, 0);
  EXPECT_TRUE(pointer.calls.empty());
  EXPECT_EQ(FilesIn(folder.path()), std::vector<std::string>{"in"});
}

TEST_F(FrmImportTest, DialogArgumentsAndChooseThenCancel) {
  ChooseOnce(importFile);
  ASSERT_EQ(dialog.records.size(), 1u);
  const OpenFileName& r = dialog.records[0];
  EXPECT_EQ(r.lpstrTitle, Text(u"Importdatei"));
  EXPECT_EQ(r.lpstrFilter, kImportFilter);
  EXPECT_EQ(kImportFilter.size(), 21u);
  EXPECT_EQ(r.nFilterIndex, 1);
  EXPECT_EQ(r.Flags, 0x1804);
  EXPECT_EQ(r.hwndOwner, 0x77);
  EXPECT_EQ(r.lpstrDefExt, Text());
  EXPECT_EQ(dialog.opens, std::vector<bool>{true});
  EXPECT_EQ(state.Importdatei, importFile.toStdU16String());
  EXPECT_EQ(Child<QLabel>("lblImportPfad")->text(), importFile);

  dialog.answers.push_back({});  // cancel
  Child<QPushButton>("cmdImportPfad")->click();
  EXPECT_TRUE(state.Importdatei.empty());
  EXPECT_TRUE(Child<QLabel>("lblImportPfad")->text().isEmpty());
  EXPECT_EQ(TrimNull(state.LetzterDialog.lpstrFile.value_or(Text())), importFile.toStdU16String());
  window.cmdImportieren_Click();
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].prompt, u"Es ist keine Importdatei ausgewählt!");
  EXPECT_EQ(ended, 0);
}

TEST_F(FrmImportTest, PathLabelShowsMarkupAsText) {
  ChooseOnce(folder.filePath("in/<b>x</b>.TXT"));
  EXPECT_EQ(Child<QLabel>("lblImportPfad")->textFormat(), Qt::PlainText);
}

TEST_F(FrmImportTest, SeparatorBoxEdits) {
  struct Case {
    const char* what;
    std::function<void(QLineEdit*)> edit;
    Text expected;
  };
  const Case cases[] = {
      {"delete", [](QLineEdit* e) { QTest::keyClick(e, Qt::Key_Backspace); }, u""},
      {"delete, type ','", [](QLineEdit* e) { QTest::keyClick(e, Qt::Key_Backspace); QTest::keyClicks(e, ","); }, u","},
      {"second character", [](QLineEdit* e) { QTest::keyClicks(e, "x"); }, u";"},
      {"select and type", [](QLineEdit* e) { e->selectAll(); QTest::keyClicks(e, "\t|"); }, u"|"},
      {"paste two", [](QLineEdit* e) { e->clear(); e->insert("ab"); }, u"a"},
  };
  auto* box = Child<QLineEdit>("txtTrennzeichen");
  for (const Case& c : cases) {
    box->setText(";");
    box->setFocus();
    box->end(false);
    c.edit(box);
    EXPECT_EQ(box->text().toStdU16String(), c.expected) << c.what;
    EXPECT_EQ(state.Trennzeichen, c.expected) << c.what;
  }
}

TEST_F(FrmImportTest, CheckBoxClicksCopiedAtOnce) {
  struct Case {
    const char* box;
    bool ImportState::*field;
  };
  const Case cases[] = {{"chkAnfzeichen", &ImportState::MitAnfuehrungszeichen},
                        {"chkVerzImport", &ImportState::VerzeichnisImport}};
  for (const Case& c : cases) {
    auto* box = Child<QCheckBox>(c.box);
    for (bool expected : {false, true, false, true}) {
      QTest::mouseClick(box, Qt::LeftButton);
      EXPECT_EQ(box->isChecked(), expected) << c.box;
      EXPECT_EQ(state.*c.field, expected) << c.box;
    }
  }
}

TEST_F(FrmImportTest, TabOrderWrapsAround) {
  ASSERT_TRUE(Activate());
  const std::vector<QString> expected = {"txtTrennzeichen", "chkAnfzeichen", "cmdImportieren",
                                         "cmdBeenden",      "chkVerzImport", "cmdImportPfad"};
  std::vector<QString> seen;
  for (size_t i = 0; i < expected.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    seen.push_back(QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString());
  }
  EXPECT_EQ(seen, expected);
}

TEST_F(FrmImportTest, AcceleratorsAndNoDefaultButton) {
  for (const char* name : {"cmdImportPfad", "cmdImportieren", "cmdBeenden"}) {
    auto* b = Child<QPushButton>(name);
    EXPECT_FALSE(b->isDefault()) << name;
    EXPECT_FALSE(b->autoDefault()) << name;
  }
  ASSERT_TRUE(Activate());
  // Enter and Esc press nothing, not even the button that has the focus.
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  QApplication::processEvents();
  EXPECT_TRUE(dialog.records.empty());
  EXPECT_EQ(ended, 0);

  dialog.answers.push_back({true, importFile.toStdU16String(), 0x1804});
  QTest::keyClick(&window, Qt::Key_P, Qt::AltModifier);
  // A mnemonic presses the button the way a click does, released on the event loop.
  EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.records.empty(); }));
  EXPECT_EQ(dialog.records.size(), 1u);
  EXPECT_EQ(state.Importdatei, importFile.toStdU16String());
}

TEST_F(FrmImportTest, AltIRunsTheImportAndEnds) {
  testing::WriteFile(importFile.toStdString(), "\"ZNAME\"\r\n\"Z-1\"\r\n");
  ChooseOnce(importFile);
  ASSERT_TRUE(Activate());
  QTest::keyClick(&window, Qt::Key_I, Qt::AltModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ended > 0; }));
  EXPECT_EQ(ended, 1);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(pointer.calls, (std::vector<MousePointer>{MousePointer::Hourglass, MousePointer::Default}));
  ASSERT_FALSE(messages.shown.empty());
  // No template in the default folder: the summary below the log's path says so.
  EXPECT_EQ(messages.shown.back().prompt, u"Log-Datei: " + state.LogPfad +
                                              u"\nPLAN.TXT: SKOV_IMPORT.XLS : Exceldatei kann nicht zugewiesen werden."
                                              u" Grund: Die Datei fehlt: " + state.StandardPfad + u"/SKOV_IMPORT.XLS"
                                              u"\n0 gespeichert, 1 nicht gespeichert");
}

TEST_F(FrmImportTest, APressDuringTheRunStartsNoSecondRun) {
  ChooseOnce(importFile);
  messages.whileShown = [this] { window.cmdImportieren_Click(); };
  window.cmdImportieren_Click();
  int closing = 0;
  for (const Shown& s : messages.shown) closing += s.prompt.starts_with(u"Log-Datei: ");
  EXPECT_EQ(closing, 1);
  EXPECT_EQ(ended, 1);
}

TEST_F(FrmImportTest, OnlyTheClosingMessageCarriesTheSummary) {
  // No file may grow past 20 bytes: neither the list nor the log can be
  // written, and each says so in a box of its own.
  const QString longName = folder.filePath(QStringLiteral("in/") + QString(80, u'L') + QStringLiteral(".TXT"));
  testing::WriteFile(longName.toStdString(), "\"ZNAME\"\r\n\"Z-1\"\r\n");
  ChooseOnce(longName);
  {
    testing::FileSizeLimit limit(20);
    window.cmdImportieren_Click();
  }
  const Text standard = folder.path().toStdU16String();
  const Text failed = u"Datei konnte nicht vollstaendig geschrieben werden: ";
  const Text full = u"\nKein Speicherplatz mehr (Datentraeger voll oder Dateigroesse begrenzt).";
  std::vector<Text> prompts;
  for (const Shown& s : messages.shown) prompts.push_back(s.prompt);
  EXPECT_EQ(prompts, (std::vector<Text>{failed + standard + u"/IMPORT.LST" + full,
                                        failed + standard + u"/IMPORT.LOG" + full,
                                        u"Log-Datei: " + standard + u"/IMPORT.LOG\n0 gespeichert, 0 nicht gespeichert"}));
}

TEST_F(FrmImportTest, BeendenAndCloseBoxLeaveNoFiles) {
  ChooseOnce(importFile);
  Child<QPushButton>("cmdBeenden")->click();
  EXPECT_EQ(ended, 1);
  EXPECT_FALSE(window.isVisible());

  FrmImport other(ctx, dialog);
  int otherEnded = 0;
  other.SetProgramEnd([&] { ++otherEnded; });
  other.show();
  EXPECT_TRUE(other.close());  // the close box
  EXPECT_EQ(otherEnded, 0);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(FilesIn(folder.path()), std::vector<std::string>{"in"});
}

// Drag enter, then the drop; true when the window took the drop.
bool Drop(QWidget& target, const QMimeData& mime) {
  const QPoint at(20, 20);
  QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&target, &enter);
  QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  drop.setAccepted(false);
  QApplication::sendEvent(&target, &drop);
  EXPECT_EQ(enter.isAccepted(), drop.isAccepted());
  return drop.isAccepted();
}

std::unique_ptr<QMimeData> Urls(const QList<QUrl>& urls) {
  auto mime = std::make_unique<QMimeData>();
  mime->setUrls(urls);
  return mime;
}

TEST_F(FrmImportTest, DroppedFileIsChosenAsTheDialogWould) {
  testing::WriteFile(importFile.toStdString(), "x");
  ChooseOnce(importFile);
  const OpenFileName byDialog = state.LetzterDialog;
  ChooseOnce(folder.filePath("in"));  // something else in between
  ASSERT_NE(state.LetzterDialog, byDialog);

  EXPECT_TRUE(Drop(window, *Urls({QUrl::fromLocalFile(importFile)})));
  EXPECT_EQ(state.LetzterDialog, byDialog);
  EXPECT_EQ(state.Importdatei, importFile.toStdU16String());
  EXPECT_EQ(Child<QLabel>("lblImportPfad")->text(), importFile);
  EXPECT_EQ(dialog.records.size(), 2u);  // no dialog shown for the drop
}

TEST_F(FrmImportTest, DroppingAnythingElseDoesNothing) {
  testing::WriteFile(importFile.toStdString(), "x");
  const QString other = folder.filePath("in/ZWEI.TXT");
  testing::WriteFile(other.toStdString(), "x");
  ChooseOnce(importFile);
  const OpenFileName before = state.LetzterDialog;

  auto text = std::make_unique<QMimeData>();
  text->setText(other);
  struct Case {
    const char* what;
    std::unique_ptr<QMimeData> mime;
  };
  Case cases[] = {
      {"two files", Urls({QUrl::fromLocalFile(importFile), QUrl::fromLocalFile(other)})},
      {"a folder", Urls({QUrl::fromLocalFile(folder.filePath("in"))})},
      {"a missing file", Urls({QUrl::fromLocalFile(folder.filePath("in/FEHLT.TXT"))})},
      {"a remote file", Urls({QUrl(QStringLiteral("https://example.org/PLAN.TXT"))})},
      {"a path as text", std::move(text)},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(Drop(window, *c.mime)) << c.what;
    EXPECT_EQ(state.LetzterDialog, before) << c.what;
    EXPECT_EQ(state.Importdatei, importFile.toStdU16String()) << c.what;
    EXPECT_EQ(Child<QLabel>("lblImportPfad")->text(), importFile) << c.what;
  }
}

// Positions are the design's points at 96 dpi, inside the frame's border.
TEST_F(FrmImportTest, Layout) {
  struct Case {
    const char* name;
    double left, top, width, height;
  };
  const Case cases[] = {
      {"cmdImportPfad", 18, 12, 72, 24},       {"txtTrennzeichen", 156, 78, 24, 18},
      {"chkAnfzeichen", 162, 98.25, 17.26, 15.76}, {"cmdImportieren", 48, 132, 72, 18},
      {"cmdBeenden", 156, 132, 72, 18},        {"lblTrennzeichen", 18, 78, 72, 18},
      {"lblImportPfad", 18, 42, 228, 18},      {"lblanfzeichen", 18, 102, 132, 18},
      {"chkVerzImport", 126, 18, 12, 12},      {"lblVerzImportieren", 144, 18, 114, 12},
  };
  auto px = [](double pt) { return qRound(pt * 4 / 3); };
  auto* frame = Child<QFrame>("fraImport");
  EXPECT_EQ(frame->geometry(), QRect(8, 8, 368, 216));
  const int in = frame->frameWidth();
  for (const Case& c : cases) {
    QWidget* w = Child<QWidget>(c.name);
    EXPECT_EQ(w->parentWidget(), frame) << c.name;
    EXPECT_EQ(w->geometry(), QRect(in + px(c.left), in + px(c.top), px(c.width), px(c.height))) << c.name;
  }
  EXPECT_EQ(window.size(), QSize(385, 234));
  EXPECT_EQ(window.minimumSize(), window.maximumSize());
  EXPECT_FALSE(window.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(window.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_EQ(Child<QLineEdit>("txtTrennzeichen")->maxLength(), 1);
}

// The stand-in fonts are wider than Tahoma; no label may lose its end.
TEST_F(FrmImportTest, FontsFitTheirBoxes) {
  for (const char* name : {"lblTrennzeichen", "lblanfzeichen", "lblVerzImportieren"}) {
    auto* l = Child<QLabel>(name);
    EXPECT_TRUE(l->font().bold()) << name;
    EXPECT_LE(QFontMetrics(l->font()).horizontalAdvance(l->text()), l->width()) << name;
  }
  for (const char* name : {"cmdImportPfad", "cmdImportieren", "cmdBeenden"}) {
    auto* b = Child<QPushButton>(name);
    EXPECT_LE(QFontMetrics(b->font()).horizontalAdvance(b->text().remove(u'&')), b->width() - 8) << name;
  }
  EXPECT_TRUE(QFontInfo(Child<QLineEdit>("txtTrennzeichen")->font()).fixedPitch());
}

}  // namespace
}  // namespace skov
