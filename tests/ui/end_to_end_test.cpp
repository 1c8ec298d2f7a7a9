// The whole program path: window, chosen file, Importieren, log and workbook.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/runtime_files.h"
#include "host/xls_host.h"
#include "dialog/qt_file_dialog.h"
#include "strings/runtime_error.h"
#include "ui/frm_import.h"
#include "ui/qt_app.h"
#include "ui/qt_services.h"

namespace skov {
namespace {

namespace fs = std::filesystem;

struct QuietMessages : MessageService {
  std::vector<Text> prompts;
  void Show(const Text& prompt, const Text&) override { prompts.push_back(prompt); }
};

struct OneFileDialog : PlatformFileDialog {
  Text path;
  PlatformDialogAnswer Show(const OpenFileName& record, bool) override { return {true, path, record.Flags}; }
  int32_t ActiveWindow() override { return 0; }
};

Text ReadCp1252(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return FromCp1252(bytes.str());
}

TEST(EndToEnd, ChooseImportAndFindLogAndWorkbook) {
  struct Case {
    bool folderMode;
    const char* log;
    bool list;
    size_t pathLength;  // at least; the window once refused 255 and more
  };
  for (const Case c : {Case{false, "ANLAGE1.LOG", false, 0}, Case{true, "IMPORT.LOG", true, 0},
                       Case{false, "ANLAGE1.LOG", false, 600}, Case{true, "IMPORT.LOG", true, 300}}) {
    SCOPED_TRACE(c.pathLength);
    QTemporaryDir tmp;
    const fs::path standard = fs::path(tmp.path().toStdString()) / "Dokumente";
    fs::path in = fs::path(tmp.path().toStdString()) / "Projekt";
    while (in.string().size() < c.pathLength) in /= std::string(100, 'u');
    fs::create_directories(standard);
    fs::create_directories(in);
    fs::copy_file(fs::path(SKOV_SOURCE_DIR) / "examples/SKOV_IMPORT.XLS", standard / "SKOV_IMPORT.XLS");
    fs::copy_file(fs::path(SKOV_SOURCE_DIR) / "examples/import/ANLAGE1.TXT", in / "ANLAGE1.TXT");

    ImportState state;
    RuntimeFiles files;
    QuietMessages messages;
    QtBusyPointer pointer;
    auto host = MakeXlsHost(FromUtf8(standard.string()));
    ImportContext ctx{state, *host, messages, pointer, files, {}, {}, {}};
    OneFileDialog dialog;
    dialog.path = FromUtf8((in / "ANLAGE1.TXT").string());
    FrmImport window(ctx, dialog);
    int ended = 0;
    window.SetProgramEnd([&] { ++ended; });
    window.show();

    if (!c.folderMode) window.findChild<QCheckBox*>("chkVerzImport")->click();
    window.findChild<QPushButton*>("cmdImportPfad")->click();
    window.findChild<QPushButton*>("cmdImportieren")->click();

    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(pointer.Busy());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    const fs::path log = standard / c.log;
    ASSERT_TRUE(fs::exists(log)) << c.log;
    ASSERT_FALSE(messages.prompts.empty());
    const Text closing = messages.prompts.back();
    EXPECT_EQ(closing.substr(0, closing.find(u'\n')), u"Log-Datei: " + FromUtf8(log.string()));
    EXPECT_EQ(fs::exists(standard / "IMPORT.LST"), c.list);
    const Text logText = ReadCp1252(log);

    // A host that binds no workbook is a failure here, not a reason to skip.
    EXPECT_EQ(logText.find(u"SKOV_IMPORT.XLS :"), Text::npos) << ToUtf8(logText);
    EXPECT_TRUE(fs::exists(in / "ANLAGE1.XLS")) << ToUtf8(logText);
    EXPECT_EQ(closing, u"Log-Datei: " + FromUtf8(log.string()) + u"\n1 gespeichert, 0 nicht gespeichert");
    EXPECT_GT(fs::file_size(in / "ANLAGE1.XLS"), 0u);
  }
}

TEST(QtBusyPointer, OneOverrideCursorAtMost) {
  {
    QtBusyPointer p;
    p.Set(MousePointer::Hourglass);
    p.Set(MousePointer::Hourglass);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    p.Set(MousePointer::Default);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    p.Set(MousePointer::Default);  // nothing to take back
    p.Set(MousePointer::Hourglass);
  }
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);  // left busy, restored on destruction
}

TEST(QtMessageService, OkOnlyNoIconPlainText) {
  const auto box = MakeMessageBox(u"Log-Datei: /tmp/<b>A</b>.LOG", u"SKOV Import DDC");
  EXPECT_EQ(box->windowTitle(), "SKOV Import DDC");
  EXPECT_EQ(box->text(), "Log-Datei: /tmp/<b>A</b>.LOG");
  EXPECT_EQ(box->textFormat(), Qt::PlainText);
  EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
  EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
}

// The window's dialog and message boxes speak German, not only its own texts.
TEST(GermanQtTexts, FileDialogAndButtons) {
  const std::unique_ptr<QTranslator> german = GermanQtTexts();
  ASSERT_NE(german, nullptr) << "qtbase_de.qm missing (Debian: qt6-translations-l10n)";
  QApplication::installTranslator(german.get());
  {
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    OpenFileName record = RecordForChosenFile(u"/tmp/PLAN.TXT");
    record.lpstrTitle = u"Importdatei";
    SetUpQtFileDialog(dialog, record, true);
    auto* buttons = dialog.findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Abbrechen"));
    EXPECT_EQ(buttons->button(QDialogButtonBox::Open)->text().remove(u'&'), QString::fromUtf8("\xC3\x96" "ffnen"));
    EXPECT_EQ(dialog.labelText(QFileDialog::LookIn), QStringLiteral("Suchen in:"));
    EXPECT_EQ(dialog.labelText(QFileDialog::FileName).remove(u'&'), QStringLiteral("Dateiname:"));
    const auto box = MakeMessageBox(u"Log-Datei: /tmp/A.LOG", u"SKOV Import DDC");
    box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box->button(QMessageBox::Cancel)->text(), QStringLiteral("Abbrechen"));
  }
  QApplication::removeTranslator(german.get());
}

TEST(DocumentsFolder, AbsoluteAndPresent) {
  const Text folder = DocumentsFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.front(), u'/');
  EXPECT_NE(folder.back(), u'/');
  EXPECT_TRUE(fs::is_directory(ToUtf8(folder)));
}

}  // namespace
}  // namespace skov
