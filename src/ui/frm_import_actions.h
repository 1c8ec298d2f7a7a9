// What FrmImport's handlers do apart from their toolkit, shared by the Qt and the Win32 window.
#pragma once

#include "dialog/common_dialog.h"
#include "import/import_state.h"

namespace skov {

// The filter list the window asks the dialog for.
extern const Text kImportFilter;

// ShowFileDialog with the window's arguments; its answer, whatever it is,
// becomes Importdatei (the label shows the same text).
void ImportdateiWaehlen(ImportState& state, PlatformFileDialog& platform);

// The platform dialog's answer for a dropped file: OK with its path, as if
// the user had picked it there; the owner is the one the dialog would get.
class DroppedFile : public PlatformFileDialog {
 public:
  DroppedFile(PlatformFileDialog& dialog, Text path) : dialog_(dialog), path_(std::move(path)) {}
  PlatformDialogAnswer Show(const OpenFileName& record, bool) override { return {true, path_, record.Flags}; }
  int32_t ActiveWindow() override { return dialog_.ActiveWindow(); }

 private:
  PlatformFileDialog& dialog_;
  Text path_;
};

// cmdImportieren_Click up to the end of the program. Without an import
// file: the message box, and false (the window stays). Otherwise one run,
// its closing message followed by the summary; a runtime error that
// escapes the run is shown in a message box; true (the program ends).
bool Importieren(ImportContext& ctx);

}  // namespace skov
