// The dialog record a chosen full path leaves behind.
#include "host/open_file_name.h"

#include "os/os.h"

namespace skov {

Text NulPadded(const Text& text) {
  Text buffer = text;
  if (buffer.size() < static_cast<size_t>(kDialogBuffer)) buffer.append(kDialogBuffer - buffer.size(), u'\0');
  return buffer;
}

Text BufferFor(const Text& text) {
  return text.size() < static_cast<size_t>(kDialogBuffer) ? NulPadded(text) : text + u'\0';
}

int16_t RecordOffset(size_t offset) { return offset <= 0x7FFF ? static_cast<int16_t>(offset) : 0; }

OpenFileName RecordForChosenFile(const Text& fullPath) {
  OpenFileName r;
  r.lStructSize = 76;
  r.nMaxCustFilter = kDialogBuffer;
  r.nFilterIndex = 1;
  r.lpstrFile = BufferFor(fullPath);
  r.nMaxFile = static_cast<int32_t>(r.lpstrFile->size());
  const TextView name = os::BaseName(fullPath);
  r.lpstrFileTitle = BufferFor(Text(name));
  r.nMaxFileTitle = static_cast<int32_t>(r.lpstrFileTitle->size());
  r.Flags = kOfnFileMustExist | kOfnPathMustExist | kOfnHideReadOnly;
  if (name.size() != fullPath.size()) r.nFileOffset = RecordOffset(fullPath.size() - name.size());
  return r;
}

}  // namespace skov
