// The dialog record a chosen full path leaves behind.
#include "host/open_file_name.h"

namespace skov {

Text NulPadded(const Text& text) {
  Text buffer = text;
  if (buffer.size() < static_cast<size_t>(kDialogBuffer)) buffer.append(kDialogBuffer - buffer.size(), u'\0');
  return buffer;
}

OpenFileName RecordForChosenFile(const Text& fullPath) {
  OpenFileName r;
  r.lStructSize = 76;
  r.nMaxCustFilter = kDialogBuffer;
  r.nFilterIndex = 1;
  r.lpstrFile = NulPadded(fullPath);
  r.nMaxFile = kDialogBuffer;
  size_t slash = fullPath.rfind(u'/');
  r.lpstrFileTitle = NulPadded(slash == Text::npos ? fullPath : fullPath.substr(slash + 1));
  r.nMaxFileTitle = kDialogBuffer;
  r.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (slash != Text::npos && slash < 0x7FFF) r.nFileOffset = static_cast<int16_t>(slash + 1);
  return r;
}

}  // namespace skov
