// MessageBoxW and the wait cursor as run services.
#include "ui/services_win32.h"

#include <windows.h>

namespace skov {

void Win32MessageService::Show(const Text& prompt, const Text& title) {
  const std::wstring p(prompt.begin(), prompt.end()), t(title.begin(), title.end());
  ::MessageBoxW(::GetActiveWindow(), p.c_str(), t.c_str(), MB_OK);
}

Win32BusyPointer::~Win32BusyPointer() { Set(MousePointer::Default); }

void Win32BusyPointer::Set(MousePointer pointer) {
  const bool busy = pointer == MousePointer::Hourglass;
  if (busy == busy_) return;
  busy_ = busy;
  ::SetCursor(::LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

}  // namespace skov
