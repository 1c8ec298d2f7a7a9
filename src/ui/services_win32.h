// The platform services of a run on Win32: message box, busy pointer.
#pragma once

#include "host/platform.h"

namespace skov {

// MessageBoxW with an OK button only and no icon, owned by the active window.
class Win32MessageService : public MessageService {
 public:
  void Show(const Text& prompt, const Text& title) override;
};

// The hourglass while a run is under way. The run holds the window's one
// thread and no message asks for another pointer meanwhile, so the one set
// here stays until Default.
class Win32BusyPointer : public BusyPointer {
 public:
  ~Win32BusyPointer() override;
  void Set(MousePointer pointer) override;

 private:
  bool busy_ = false;
};

}  // namespace skov
