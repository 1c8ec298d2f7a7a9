// QMessageBox, the override cursor and the documents folder as run services.
#include "ui/qt_services.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTranslator>

namespace skov {

std::unique_ptr<QMessageBox> MakeMessageBox(const Text& prompt, const Text& title) {
  auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, QString::fromStdU16String(title),
                                           QString::fromStdU16String(prompt), QMessageBox::Ok,
                                           QApplication::activeWindow());
  box->setTextFormat(Qt::PlainText);  // paths in prompts are never markup
  return box;
}

void QtMessageService::Show(const Text& prompt, const Text& title) { MakeMessageBox(prompt, title)->exec(); }

QtBusyPointer::~QtBusyPointer() { Set(MousePointer::Default); }

void QtBusyPointer::Set(MousePointer pointer) {
  const bool busy = pointer == MousePointer::Hourglass;
  if (busy == busy_) return;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
  busy_ = busy;
}

Text DocumentsFolder() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (folder.isEmpty()) folder = QDir::homePath();
  QDir().mkpath(folder);
  while (folder.size() > 1 && folder.endsWith(u'/')) folder.chop(1);
  return folder.toStdU16String();
}

std::unique_ptr<QTranslator> GermanQtTexts() {
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(QStringLiteral("qtbase_de"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) return nullptr;
  return translator;
}

}  // namespace skov
