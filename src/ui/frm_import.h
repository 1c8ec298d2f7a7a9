// FrmImport: the program's one window, its three settings and two commands.
#pragma once

#include <QWidget>
#include <functional>

#include "dialog/common_dialog.h"
#include "import/import_state.h"
#include "ui/frm_import_actions.h"

class QCheckBox;
class QFrame;
class QMimeData;
class QLabel;
class QLineEdit;
class QPushButton;

namespace skov {

// The window keeps no data of its own: every setting lives in the import
// state of the context, which the run then works with.
class FrmImport : public QWidget {
  Q_OBJECT

 public:
  FrmImport(ImportContext& ctx, PlatformFileDialog& dialog, QWidget* parent = nullptr);

  // What ends the program after "Importieren" or "Beenden"; by default
  // leaving the application's event loop.
  void SetProgramEnd(std::function<void()> end) { programEnd_ = std::move(end); }

  void UserForm_Initialize();
  void txtTrennzeichen_Change();
  void chkAnfzeichen_Change();
  void chkVerzImport_Change();
  void cmdImportPfad_Click();
  void cmdImportieren_Click();
  void cmdBeenden_Click();

 protected:
  // Dropping one existing file chooses it as "ImportPfad" would.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // ShowFileDialog with the window's arguments, its answer into Importdatei
  // and the path label.
  void ImportdateiWaehlen(PlatformFileDialog& platform);
  void EndProgram();

  ImportContext& ctx_;
  PlatformFileDialog& dialog_;
  std::function<void()> programEnd_;
  bool running_ = false;  // a run is under way; its message boxes spin events

  QFrame* fraImport_;
  QPushButton* cmdImportPfad_;
  QLineEdit* txtTrennzeichen_;
  QCheckBox* chkAnfzeichen_;
  QPushButton* cmdImportieren_;
  QPushButton* cmdBeenden_;
  QLabel* lblTrennzeichen_;
  QLabel* lblImportPfad_;
  QLabel* lblanfzeichen_;
  QCheckBox* chkVerzImport_;
  QLabel* lblVerzImportieren_;
};

// The one existing file a drop carries, as a full path; empty for anything
// else (several files, a folder, a missing file, remote or plain text).
QString DroppedImportFile(const QMimeData* mime);

}  // namespace skov
