// The Windows common dialog as the platform's Open/Save dialog.
#include "dialog/file_dialog_win32.h"

#include <windows.h>
#include <commdlg.h>
#include <objbase.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace skov {
namespace {

// The longest path the W functions take, its NUL included.
constexpr size_t kPathBuffer = 32768;
// A name without its folder: at most 255 characters and a NUL.
constexpr size_t kTitleBuffer = 256;

std::wstring Wide(const std::optional<Text>& text) {
  return text ? std::wstring(text->begin(), text->end()) : std::wstring();
}

// A record's text as the call reads it: absent stays a null pointer.
const wchar_t* Pointer(const std::optional<Text>& text, const std::wstring& wide) {
  return text ? wide.c_str() : nullptr;
}

// A buffer of `size` characters starting with the record's text.
std::vector<wchar_t> Buffer(const std::optional<Text>& text, size_t size) {
  std::vector<wchar_t> buffer(size, L'\0');
  if (text) std::copy(text->begin(), text->begin() + std::min(text->size(), size - 1), buffer.begin());
  return buffer;
}

// Window handles keep to 32 bits on 64-bit Windows, sign-extended.
HWND HandleOf(int32_t handle) { return reinterpret_cast<HWND>(static_cast<intptr_t>(handle)); }

}  // namespace

PlatformDialogAnswer Win32FileDialog::Show(const OpenFileName& record, bool open) {
  // The filter list ends with two NULs; a record's text may lack them.
  std::wstring filter = Wide(record.lpstrFilter);
  if (record.lpstrFilter) filter.append(2, L'\0');
  const std::wstring initialDir = Wide(record.lpstrInitialDir), title = Wide(record.lpstrTitle),
                     defExt = Wide(record.lpstrDefExt);
  std::vector<wchar_t> file = Buffer(record.lpstrFile, kPathBuffer);
  std::vector<wchar_t> fileTitle = Buffer(record.lpstrFileTitle, kTitleBuffer);
  // A custom filter without a description is none: Windows ignores it, and
  // wine then lists no file types at all.
  std::vector<wchar_t> customFilter;
  if (record.lpstrCustomFilter && !record.lpstrCustomFilter->empty() && record.lpstrCustomFilter->front() != u'\0' &&
      record.nMaxCustFilter > 0)
    customFilter = Buffer(record.lpstrCustomFilter, static_cast<size_t>(record.nMaxCustFilter));

  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = HandleOf(record.hwndOwner);
  ofn.lpstrFilter = record.lpstrFilter ? filter.c_str() : nullptr;
  ofn.lpstrCustomFilter = customFilter.empty() ? nullptr : customFilter.data();
  ofn.nMaxCustFilter = static_cast<DWORD>(customFilter.size());
  ofn.nFilterIndex = static_cast<DWORD>(record.nFilterIndex);
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrFileTitle = fileTitle.data();
  ofn.nMaxFileTitle = static_cast<DWORD>(fileTitle.size());
  ofn.lpstrInitialDir = Pointer(record.lpstrInitialDir, initialDir);
  ofn.lpstrTitle = Pointer(record.lpstrTitle, title);
  // Explorer style is what a dialog without a hook gets anyway.
  ofn.Flags = static_cast<DWORD>(record.Flags) | OFN_EXPLORER;
  ofn.lpstrDefExt = record.lpstrDefExt && !defExt.empty() ? defExt.c_str() : nullptr;

  PlatformDialogAnswer answer;
  // The dialog hosts the shell's views, which want a single-threaded apartment.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const BOOL chosen = open ? ::GetOpenFileNameW(&ofn) : ::GetSaveFileNameW(&ofn);
  if (SUCCEEDED(com)) ::CoUninitialize();
  if (!chosen) return answer;
  // One path up to its NUL; a multiple selection is the folder and the
  // names, each ended by a NUL, the list by a second one.
  size_t end = 0;
  while (end < file.size() && file[end] != L'\0') ++end;
  if (record.Flags & kOfnAllowMultiSelect) {
    while (end + 1 < file.size() && file[end + 1] != L'\0') {
      ++end;
      while (end < file.size() && file[end] != L'\0') ++end;
    }
  }
  answer.ok = true;
  answer.path.assign(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(end));
  answer.flags = static_cast<int32_t>(ofn.Flags & ~static_cast<DWORD>(OFN_EXPLORER)) |
                 (record.Flags & static_cast<int32_t>(OFN_EXPLORER));
  return answer;
}

int32_t Win32FileDialog::ActiveWindow() {
  return static_cast<int32_t>(reinterpret_cast<intptr_t>(::GetActiveWindow()));
}

}  // namespace skov
