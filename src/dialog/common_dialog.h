// ShowFileDialog: the Open/Save file dialog behind the platform's dialog record.
#pragma once

#include <cstdint>

#include "host/open_file_name.h"
#include "strings/text.h"

namespace skov {

constexpr int32_t kActiveWindow = -1;

// What the platform's dialog answered: OK with the chosen full path (for a
// multiple selection the NUL-separated list) and the flags it gives back, or
// cancel / failure.
struct PlatformDialogAnswer {
  bool ok = false;
  Text path;
  int32_t flags = 0;
};

// The platform's file chooser. Show is modal and sees the record as filled
// for the call; ActiveWindow is the owner handle for -1 (0 when none).
class PlatformFileDialog {
 public:
  virtual ~PlatformFileDialog() = default;
  virtual PlatformDialogAnswer Show(const OpenFileName& record, bool open) = 0;
  virtual int32_t ActiveWindow() = 0;
};

// The chosen path, or the empty text after a cancel or failure. On OK the
// flags are updated and lastDialog is replaced by the whole record; otherwise
// both keep their values; a path too long for the buffers grows them. Error 5
// for a file name argument of more than 255 characters.
Text ShowFileDialog(const Text& initialFolder, const Text& filter, int16_t filterIndex, const Text& defaultExtension,
                    const Text& fileName, const Text& title, int32_t ownerWindow, bool open, int32_t& flags,
                    OpenFileName& lastDialog, PlatformFileDialog& platform);

}  // namespace skov
