// The dialog record a chosen full path leaves behind.
#include "host/open_file_name.h"

namespace skov {

Text NulPadded(const Text& text) {
  Text buffer = text;
  if (buffer.size() < static_cast<size_t>(kDialogBuffer)) buffer.append(kDialogBuffer - buffer.size(), u'\0');
  return buffer;
}

Text BufferFor(const Text& text) {
  return text.size() < static_cast<size_t>(kDialogBuffer) ? NulPadded(text) : text + u'\0';
}

OpenFileName RecordForChosenFile(const Text& fullPath) {
  OpenFileName r;
  r.lStructSize = 76;
  r.nMaxCustFilter = kDialogBuffer;
  r.nFilterIndex = 1;
  r.lpstrFile = BufferFor(fullPath);
  r.nMaxFile = static_cast<int32_t>(r.lpstrFile->size());
  size_t slash = fullPath.rfind(u'/');
  r.lpstrFileTitle = BufferFor(slash == Text::npos ? fullPath : fullPath.substr(slash + 1));
  r.nMaxFileTitle = static_cast<int32_t>(r.lpstrFileTitle->size());
  r.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (slash != Text::npos && slash < 0x7FFF) r.nFileOffset = static_cast<int16_t>(slash + 1);
  return r;
}

}  // namespace skov
