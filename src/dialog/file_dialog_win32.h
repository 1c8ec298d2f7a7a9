// The platform file dialog on Windows: the common dialog behind the dialog record.
#pragma once

#include "dialog/common_dialog.h"

namespace skov {

// GetOpenFileNameW / GetSaveFileNameW with the record's fields. The wide
// calls take every file name; the file buffer is as long as a path may be,
// so a long answer comes back whole and ShowFileDialog grows the record's
// buffers for it, as it does on Linux.
class Win32FileDialog : public PlatformFileDialog {
 public:
  PlatformDialogAnswer Show(const OpenFileName& record, bool open) override;
  int32_t ActiveWindow() override;
};

}  // namespace skov
