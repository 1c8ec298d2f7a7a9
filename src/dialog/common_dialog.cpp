// ShowFileDialog: fills the dialog record, asks the platform, keeps the record.
#include "dialog/common_dialog.h"

#include <algorithm>

#include "os/os.h"
#include "strings/fields.h"
#include "strings/runtime_error.h"

namespace skov {
namespace {

// The record as the platform leaves it after OK: the answer, its NUL, then
// whatever the file buffer held behind it; the name alone in the title buffer.
// A path that does not fit the buffers grows them to hold it and its NUL.
void TakeAnswer(OpenFileName& record, const PlatformDialogAnswer& answer) {
  const Text& path = answer.path;
  Text file = path + u'\0';
  const Text& before = *record.lpstrFile;
  if (before.size() > file.size()) file += before.substr(file.size());
  record.lpstrFile = file;
  record.nMaxFile = std::max(record.nMaxFile, static_cast<int32_t>(file.size()));
  record.Flags = answer.flags;

  const bool list = path.find(u'\0') != Text::npos;  // a multiple selection names no single file
  const size_t nameStart = path.size() - os::BaseName(path).size();
  record.lpstrFileTitle = BufferFor(list ? Text() : path.substr(nameStart));
  record.nMaxFileTitle = std::max(record.nMaxFileTitle, static_cast<int32_t>(record.lpstrFileTitle->size()));
  record.nFileOffset = list ? 0 : RecordOffset(nameStart);
  const size_t dot = path.rfind(u'.');
  record.nFileExtension = !list && dot != Text::npos && dot >= nameStart ? RecordOffset(dot + 1) : 0;
}

}  // namespace

Text ShowFileDialog(const Text& initialFolder, const Text& filter, int16_t filterIndex, const Text& defaultExtension,
                    const Text& fileName, const Text& title, int32_t ownerWindow, bool open, int32_t& flags,
                    OpenFileName& lastDialog, PlatformFileDialog& platform) {
  if (fileName.size() > static_cast<size_t>(kDialogBuffer)) {
    Raise(kInvalidArgument, "file name longer than the file buffer");
  }

  OpenFileName record;
  record.lStructSize = 76;
  record.hwndOwner = ownerWindow == kActiveWindow ? platform.ActiveWindow() : ownerWindow;
  record.lpstrFilter = filter;
  record.lpstrCustomFilter = Text(kDialogBuffer, u'\0');
  record.nMaxCustFilter = kDialogBuffer;
  record.nFilterIndex = filterIndex;
  record.lpstrFile = NulPadded(fileName);
  record.nMaxFile = kDialogBuffer;
  record.lpstrFileTitle = Text(kDialogBuffer, u'\0');
  record.nMaxFileTitle = kDialogBuffer;
  record.lpstrInitialDir = initialFolder.empty() ? os::CurrentFolder() : initialFolder;
  record.lpstrTitle = title;
  record.Flags = flags;
  record.lpstrDefExt = defaultExtension;

  const PlatformDialogAnswer answer = platform.Show(record, open);
  if (!answer.ok || answer.path.empty()) return Text();

  TakeAnswer(record, answer);
  flags = record.Flags;
  lastDialog = record;
  if (record.Flags & kOfnAllowMultiSelect) return *record.lpstrFile;
  return TrimNull(*record.lpstrFile);
}

}  // namespace skov
