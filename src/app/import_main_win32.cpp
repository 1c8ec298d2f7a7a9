// Import.exe: the window FrmImport and nothing else; no command line.
#include "dialog/file_dialog_win32.h"
#include "host/runtime_files.h"
#include "host/xls_host.h"
#include "import/import_state.h"
#include "os/os.h"
#include "ui/frm_import_win32.h"
#include "ui/services_win32.h"

int wmain(int, wchar_t**) {
  skov::os::PrepareProcess();
  // One import state for the whole process, with the services a run uses.
  skov::ImportState state;
  skov::RuntimeFiles files;
  skov::Win32MessageService messages;
  skov::Win32BusyPointer pointer;
  auto host = skov::MakeXlsHost(skov::os::DocumentsFolder(skov::os::GetEnv));
  skov::ImportContext ctx{state, *host, messages, pointer, files, {}, {}, {}};
  skov::Win32FileDialog dialog;

  skov::FrmImport window(ctx, dialog);
  window.Show();
  return window.Run();
}
