// FrmImport as a native Win32 window: the program's one window, its three settings and two commands.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "dialog/common_dialog.h"
#include "import/import_state.h"
#include "ui/frm_import_actions.h"
#include "ui/frm_import_design.h"

struct HWND__;  // HWND, as windows.h declares it

namespace skov {

// A control's id: its tab index plus this, never IDOK or IDCANCEL (what
// the dialog manager sends for Enter and Esc, which press nothing here).
constexpr int kFirstControlId = 100;
int ControlId(const design::Control& control);

// The window keeps no data of its own: every setting lives in the import
// state of the context, which the run then works with.
class FrmImport {
 public:
  FrmImport(ImportContext& ctx, PlatformFileDialog& dialog);
  ~FrmImport();
  FrmImport(const FrmImport&) = delete;
  FrmImport& operator=(const FrmImport&) = delete;

  // What ends the program after "Importieren", "Beenden" or the close box;
  // by default leaving the message loop.
  void SetProgramEnd(std::function<void()> end);

  // Shows the window centred on the screen, the focus on "ImportPfad".
  void Show();
  // The message loop until the program ends; its exit code.
  int Run();

  HWND__* Window() const;
  HWND__* Control(const design::Control& control) const;

  void UserForm_Initialize();
  void txtTrennzeichen_Change();
  void chkAnfzeichen_Change();
  void chkVerzImport_Change();
  void cmdImportPfad_Click();
  void cmdImportieren_Click();
  void cmdBeenden_Click();

  // Dropping one existing file chooses it as "ImportPfad" would.
  void DropFile(const Text& path);

  // Alt with a button's letter presses it; true when `key` was one.
  bool PressAccelerator(char16_t key);

  // The window procedures' work: HWND, message, WPARAM, LPARAM; LRESULT.
  intptr_t OnMessage(HWND__* hwnd, unsigned message, uintptr_t wParam, intptr_t lParam);
  intptr_t OnFrameMessage(HWND__* hwnd, unsigned message, uintptr_t wParam, intptr_t lParam);

  struct Native;  // the window's handles, fonts and brushes

 private:
  void ImportdateiWaehlen(PlatformFileDialog& platform);
  void EndProgram();

  ImportContext& ctx_;
  PlatformFileDialog& dialog_;
  std::function<void()> programEnd_;
  bool running_ = false;  // a run is under way; its message boxes pump messages
  std::unique_ptr<Native> native_;
};

}  // namespace skov
