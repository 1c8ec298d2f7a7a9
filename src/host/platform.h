// The message box and the busy pointer, so the engine runs without a screen.
#pragma once

#include "strings/text.h"

namespace skov {

// A message box with an OK button only.
class MessageService {
 public:
  virtual ~MessageService() = default;
  virtual void Show(const Text& prompt, const Text& title) = 0;
};

enum class MousePointer { Default = 0, Hourglass = 11 };

class BusyPointer {
 public:
  virtual ~BusyPointer() = default;
  virtual void Set(MousePointer pointer) = 0;
};

}  // namespace skov
