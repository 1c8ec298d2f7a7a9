// The file dialog record: the numbers as the platform has them, the text
// fields as strings (absent until a dialog filled them).
#pragma once

#include <cstdint>
#include <optional>

#include "strings/text.h"

namespace skov {

// The dialog flags the program uses, with the platform's values; named
// apart from windows.h's OFN_ macros, which would replace these names.
constexpr int32_t kOfnHideReadOnly = 0x4;
constexpr int32_t kOfnAllowMultiSelect = 0x200;
constexpr int32_t kOfnPathMustExist = 0x800;
constexpr int32_t kOfnFileMustExist = 0x1000;

constexpr int kDialogBuffer = 255;  // file, title and custom filter buffers

// The text followed by NULs up to kDialogBuffer; a longer one stays as it is.
Text NulPadded(const Text& text);

// A buffer that holds the text and its closing NUL: NulPadded while the text
// is shorter than kDialogBuffer, else the text and one NUL. Paths on Linux
// run to 4095 bytes, so the buffers grow with them.
Text BufferFor(const Text& text);

struct OpenFileName {
  int32_t lStructSize = 0;
  int32_t hwndOwner = 0;
  int32_t hInstance = 0;
  std::optional<Text> lpstrFilter;
  std::optional<Text> lpstrCustomFilter;
  int32_t nMaxCustFilter = 0;
  int32_t nFilterIndex = 0;
  std::optional<Text> lpstrFile;       // the file buffer
  int32_t nMaxFile = 0;
  std::optional<Text> lpstrFileTitle;  // the title buffer
  int32_t nMaxFileTitle = 0;
  std::optional<Text> lpstrInitialDir;
  std::optional<Text> lpstrTitle;
  int32_t Flags = 0;
  int16_t nFileOffset = 0;
  int16_t nFileExtension = 0;
  std::optional<Text> lpstrDefExt;
  int32_t lCustData = 0;
  int32_t lpfnHook = 0;
  std::optional<Text> lpTemplateName;

  bool operator==(const OpenFileName&) const = default;
};

// An offset into the file buffer as the record's 16-bit field holds it; 0
// (unknown) for one past its range, as a Linux path may lie.
int16_t RecordOffset(size_t offset);

// The record a successful dialog leaves for a chosen full path: the file
// buffer holds the path, the title buffer the name, both NUL-padded to 255
// or, when longer, grown to hold them with their NUL.
// The batch command uses it where the window would have shown the dialog.
OpenFileName RecordForChosenFile(const Text& fullPath);

}  // namespace skov
