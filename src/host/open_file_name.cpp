// The dialog record a chosen full path leaves behind.
#include "host/open_file_name.h"

namespace skov {
namespace {

Text Padded(const Text& s) {
  Text buffer = s;
  if (buffer.size() < 255) buffer.append(255 - buffer.size(), u'\0');
  return buffer;
}

}  // namespace

OpenFileName RecordForChosenFile(const Text& fullPath) {
  OpenFileName r;
  r.lStructSize = 76;
  r.nMaxCustFilter = 255;
  r.nFilterIndex = 1;
  r.lpstrFile = Padded(fullPath);
  r.nMaxFile = 255;
  size_t slash = fullPath.rfind(u'/');
  r.lpstrFileTitle = Padded(slash == Text::npos ? fullPath : fullPath.substr(slash + 1));
  r.nMaxFileTitle = 255;
  r.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (slash != Text::npos && slash < 0x7FFF) r.nFileOffset = static_cast<int16_t>(slash + 1);
  return r;
}

}  // namespace skov
