// The platform services of a run on Qt: message box, busy pointer, folder.
#pragma once

#include "host/platform.h"
#include "strings/text.h"

namespace skov {

// A modal QMessageBox: the prompt, an OK button, the title, no icon.
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

}  // namespace skov
