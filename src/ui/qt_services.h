// The platform services of a run on Qt: message box, busy pointer, folder.
#pragma once

#include <memory>

#include "host/platform.h"
#include "strings/text.h"

class QMessageBox;
class QTranslator;

namespace skov {

// The box QtMessageService shows: the prompt as plain text, an OK button
// only, the title, no icon, owned by the active window.
std::unique_ptr<QMessageBox> MakeMessageBox(const Text& prompt, const Text& title);

// Shows MakeMessageBox modally.
class QtMessageService : public MessageService {
 public:
  void Show(const Text& prompt, const Text& title) override;
};

// The hourglass as the application's override cursor; at most one is
// pushed, and it is taken back on Default and at the latest on destruction.
class QtBusyPointer : public BusyPointer {
 public:
  ~QtBusyPointer() override;
  void Set(MousePointer pointer) override;
  bool Busy() const { return busy_; }

 private:
  bool busy_ = false;
};

// The user's documents folder, without trailing "/", created when missing.
Text DocumentsFolder();

// Qt's own German texts (qtbase_de from Qt's translations folder), for the
// file dialog and the message box buttons; null when they are not installed.
std::unique_ptr<QTranslator> GermanQtTexts();

}  // namespace skov
