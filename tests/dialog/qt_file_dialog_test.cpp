// The Qt file dialog seam: filter translation and the dialog it sets up.
#include "dialog/qt_file_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QTemporaryDir>
#include <fstream>

#include "ui/qt_app.h"

namespace skov {
namespace {

Text Nul() { return Text(1, u'\0'); }

TEST(QtNameFilters, PlatformListToQtFilters) {
  struct Case {
    Text platform;
    QStringList expected;
  };
  const Case cases[] = {
      {u"All files (*.*)" + Nul() + u"*.*" + Nul() + Nul(), {"All files (*)"}},
      {u"Text" + Nul() + u"*.txt;*.lst" + Nul() + u"Alle (*.*)" + Nul() + u"*.*" + Nul() + Nul(),
       {"Text (*.txt *.lst)", "Alle (*)"}},
      {u"Ohne Muster" + Nul() + Nul() + Nul(), {"Ohne Muster (*)"}},
      {Nul(), {}},
      {Text(), {}},
  };
  for (const Case& c : cases) EXPECT_EQ(QtNameFilters(c.platform), c.expected) << c.platform.size();
}

TEST(QtNameFilters, StarDotStarListsNamesWithoutDot) {
  const QString filter = QtNameFilters(u"A" + Nul() + u"*.*" + Nul() + Nul()).front();
  const QStringList patterns = filter.mid(filter.indexOf(u'(') + 1).chopped(1).split(u' ');
  EXPECT_TRUE(QDir::match(patterns, QStringLiteral("MAKEFILE")));
  EXPECT_TRUE(QDir::match(patterns, QStringLiteral("PLAN.TXT")));
}

TEST(QtFileDialog, SetUpFromTheRecordAndAnswer) {
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("PLAN.TXT"));
  std::ofstream(file.toStdString()) << "x";
  const Text filter = u"Text" + Nul() + u"*.txt" + Nul() + u"Alle" + Nul() + u"*.*" + Nul() + Nul();
  struct Case {
    int32_t flags;
    bool open;
    int16_t index;
    QFileDialog::FileMode mode;
    QFileDialog::AcceptMode accept;
    QString filter;
  };
  const Case cases[] = {
      {0x1804, true, 2, QFileDialog::ExistingFile, QFileDialog::AcceptOpen, "Alle (*)"},
      {0x1804 | kOfnAllowMultiSelect, true, 1, QFileDialog::ExistingFiles, QFileDialog::AcceptOpen, "Text (*.txt)"},
      {0x4, false, 9, QFileDialog::AnyFile, QFileDialog::AcceptSave, "Text (*.txt)"},
  };
  for (const Case& c : cases) {
    OpenFileName r;
    r.lpstrFilter = filter;
    r.nFilterIndex = c.index;
    r.lpstrFile = u"PLAN.TXT" + Text(247, u'\0');
    r.lpstrInitialDir = dir.path().toStdU16String();
    r.lpstrTitle = u"Importdatei";
    r.Flags = c.flags;
    QFileDialog d;
    SetUpQtFileDialog(d, r, c.open);
    EXPECT_EQ(d.fileMode(), c.mode) << c.flags;
    EXPECT_EQ(d.acceptMode(), c.accept) << c.flags;
    EXPECT_EQ(d.windowTitle(), "Importdatei");
    EXPECT_EQ(d.directory().absolutePath(), dir.path());
    EXPECT_EQ(d.selectedNameFilter(), c.filter) << c.flags;
    const PlatformDialogAnswer ok = AnswerOf(d, QDialog::Accepted, c.flags);
    EXPECT_TRUE(ok.ok) << c.flags;
    EXPECT_EQ(ok.path, file.toStdU16String());
    EXPECT_EQ(ok.flags, c.flags);
    EXPECT_FALSE(AnswerOf(d, QDialog::Rejected, c.flags).ok);
  }
}

TEST(QtFileDialog, NoActiveWindowIsHandleZero) { EXPECT_EQ(ActiveWindowHandle(), 0); }

}  // namespace
}  // namespace skov
