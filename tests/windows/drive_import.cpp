// Drives Import.exe as a user would: ImportPfad, the real common dialog, Importieren, the closing message.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "strings/text.h"
#include "ui/frm_import_design.h"
#include "ui/frm_import_win32.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kPatience = 180s;  // wine on a busy machine, a new prefix's first dialog
constexpr auto kPoll = 100ms;
constexpr auto kSettle = 700ms;  // for the screen to show what was drawn
constexpr int kFileNameCombo = 0x47C;  // cmb13: the dialog's file name box
constexpr int kFileNameEdit = 0x480;   // edt1: the same in older templates
constexpr int kMessageText = 0xFFFF;   // the text of a message box
constexpr size_t kTextRoom = 32768;

std::string Utf8(const std::wstring& w) { return skov::ToUtf8(skov::Text(w.begin(), w.end())); }

void Picture(HWND hwnd, const std::wstring& file);
std::wstring gOut;  // the folder for the pictures

// Says what did not happen, with a picture of the whole screen.
[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "drive_import: %s\n", what.c_str());
  if (!gOut.empty()) Picture(::GetDesktopWindow(), gOut + L"\\failure.bmp");
  std::exit(1);
}

template <typename F>
auto WaitFor(const char* what, F&& found) {
  const auto until = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < until) {
    if (auto result = found()) return result;
    std::this_thread::sleep_for(kPoll);
  }
  Fail(std::string("gave up waiting for ") + what);
}

std::wstring TextOf(HWND hwnd) {
  std::wstring text(kTextRoom, L'\0');
  DWORD_PTR n = 0;
  ::SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 5000,
                        &n);
  text.resize(n);
  return text;
}

// A visible dialog box (a message box too) of the process, with this caption.
HWND DialogOf(DWORD process, const wchar_t* caption) {
  struct Search {
    DWORD process;
    const wchar_t* caption;
    HWND found;
  } search{process, caption, nullptr};
  ::EnumWindows(
      [](HWND hwnd, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        wchar_t cls[64] = {};
        ::GetClassNameW(hwnd, cls, 64);
        DWORD process = 0;
        ::GetWindowThreadProcessId(hwnd, &process);
        if (std::wstring(cls) == L"#32770" && process == s->process && ::IsWindowVisible(hwnd) &&
            TextOf(hwnd) == s->caption) {
          s->found = hwnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The window as the screen shows it, as a 24-bit BMP.
void Picture(HWND hwnd, const std::wstring& file) {
  ::SetForegroundWindow(hwnd);
  std::this_thread::sleep_for(kSettle);
  RECT r;
  ::GetWindowRect(hwnd, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  ::GdiFlush();
  const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
  const DWORD size = stride * static_cast<DWORD>(h);
  BITMAPFILEHEADER header{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size), 0, 0,
                         sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
  std::ofstream out(std::filesystem::path(file), std::ios::binary);
  out.write(reinterpret_cast<const char*>(&header), sizeof header);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(static_cast<const char*>(bits), size);
  ::SelectObject(memory, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
}

void Press(HWND button) { ::PostMessageW(button, BM_CLICK, 0, 0); }

}  // namespace

// drive_import IMPORT_EXE IMPORT_FILE OUT_FOLDER writes OUT_FOLDER\result.txt
// (UTF-8: the path label after the dialog, the closing message, Import.exe's
// exit code) and pictures of the dialog, the window and the message as BMP
// files; exits 0 when every step happened.
int wmain(int argc, wchar_t** argv) {
  if (argc != 4) Fail("usage: drive_import IMPORT_EXE IMPORT_FILE OUT_FOLDER");
  const std::wstring exe = argv[1], importFile = argv[2], out = argv[3];
  gOut = out;

  // Started in the import file's folder, which the dialog then shows first.
  std::wstring command = L"\"" + exe + L"\"";
  const std::wstring folder = importFile.substr(0, importFile.find_last_of(L'\\'));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &process))
    Fail("cannot start Import.exe");

  HWND window = WaitFor("the window", [] {
    HWND w = ::FindWindowW(L"SkovImportFrmImport", nullptr);
    return w && ::IsWindowVisible(w) ? w : nullptr;
  });
  HWND frame = ::FindWindowExW(window, nullptr, L"SkovImportFraImport", nullptr);
  auto control = [&](const skov::design::Control& c) { return ::GetDlgItem(frame, skov::ControlId(c)); };

  Press(control(skov::design::kCmdImportPfad));
  HWND dialog = WaitFor("the file dialog", [&] { return DialogOf(process.dwProcessId, L"Importdatei"); });
  HWND name = ::GetDlgItem(dialog, kFileNameCombo);
  if (HWND edit = name ? ::FindWindowExW(name, nullptr, L"Edit", nullptr) : nullptr) name = edit;
  if (!name) name = ::GetDlgItem(dialog, kFileNameEdit);
  if (!name) Fail("no file name box in the dialog");
  Picture(dialog, out + L"\\dialog.bmp");
  ::SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(importFile.c_str()));
  Press(::GetDlgItem(dialog, IDOK));
  WaitFor("the dialog to close", [&] { return !::IsWindow(dialog); });
  const std::wstring label = TextOf(control(skov::design::kLblImportPfad));
  Picture(window, out + L"\\window.bmp");

  Press(control(skov::design::kCmdImportieren));
  HWND box = WaitFor("the closing message", [&] { return DialogOf(process.dwProcessId, L"SKOV Import DDC"); });
  const std::wstring message = TextOf(::GetDlgItem(box, kMessageText));
  Picture(box, out + L"\\message.bmp");
  Press(::GetDlgItem(box, IDOK));

  if (::WaitForSingleObject(process.hProcess, std::chrono::milliseconds(kPatience).count()) != WAIT_OBJECT_0)
    Fail("Import.exe did not end");
  DWORD exitCode = 0;
  ::GetExitCodeProcess(process.hProcess, &exitCode);
  std::ofstream result(std::filesystem::path(out + L"\\result.txt"), std::ios::binary);
  result << "label: " << Utf8(label) << "\nmessage: " << Utf8(message) << "\nexit: " << exitCode << "\n";
  return 0;
}
