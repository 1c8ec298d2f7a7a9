// Import: the window FrmImport and nothing else; no command line.
#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QTranslator>

#include "dialog/qt_file_dialog.h"
#include "host/runtime_files.h"
#include "host/xls_host.h"
#include "import/import_state.h"
#include "os/os.h"
#include "ui/frm_import.h"
#include "ui/qt_services.h"

int main(int argc, char** argv) {
  skov::os::PrepareProcess();
  QApplication app(argc, argv);
  QApplication::setStyle(QStringLiteral("Fusion"));  // honours the window's colours on every desktop
  QGuiApplication::setDesktopFileName(QStringLiteral("skov-import"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("skov-import")));

  // The window is German whatever the desktop's language; so are Qt's own
  // texts in the file dialog and the message boxes.
  if (QLocale::system().language() != QLocale::German) QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  const std::unique_ptr<QTranslator> german = skov::GermanQtTexts();
  if (german) QApplication::installTranslator(german.get());

  // One import state for the whole process, with the services a run uses.
  skov::ImportState state;
  skov::RuntimeFiles files;
  skov::QtMessageService messages;
  skov::QtBusyPointer pointer;
  auto host = skov::MakeXlsHost(skov::DocumentsFolder());
  skov::ImportContext ctx{state, *host, messages, pointer, files, {}, {}, {}};
  skov::QtFileDialog dialog;

  skov::FrmImport window(ctx, dialog);
  window.show();
  return app.exec();
}
