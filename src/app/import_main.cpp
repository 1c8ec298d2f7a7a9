// Import: the window FrmImport and nothing else; no command line.
#include <QApplication>

#include "dialog/qt_file_dialog.h"
#include "host/runtime_files.h"
#include "host/xls_host.h"
#include "import/import_state.h"
#include "ui/frm_import.h"
#include "ui/qt_services.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setStyle(QStringLiteral("Fusion"));  // honours the window's colours on every desktop

  // One import state for the whole process, with the services a run uses.
  skov::ImportState state;
  skov::RuntimeFiles files;
  skov::QtMessageService messages;
  skov::QtBusyPointer pointer;
  auto host = skov::MakeXlsHost(skov::DocumentsFolder());
  skov::ImportContext ctx{state, *host, messages, pointer, files, {}, {}};
  skov::QtFileDialog dialog;

  skov::FrmImport window(ctx, dialog);
  window.show();
  return app.exec();
}
