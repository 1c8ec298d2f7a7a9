// FrmImport on Win32: start values, layout, settings copied at once, the commands, a drop, one whole run.
#include "ui/frm_import_win32.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <random>

#include "host/runtime_files.h"
#include "host/xls_host.h"
#include "strings/fields.h"

namespace skov {
namespace {

namespace fs = std::filesystem;

struct Shown {
  Text prompt, title;
};

struct RecordingMessages : MessageService {
  std::vector<Shown> shown;
  void Show(const Text& prompt, const Text& title) override { shown.push_back({prompt, title}); }
};

struct RecordingPointer : BusyPointer {
  std::vector<MousePointer> calls;
  void Set(MousePointer p) override { calls.push_back(p); }
};

struct ScriptedDialog : PlatformFileDialog {
  std::deque<PlatformDialogAnswer> answers;
  std::vector<OpenFileName> records;
  PlatformDialogAnswer Show(const OpenFileName& record, bool) override {
    records.push_back(record);
    PlatformDialogAnswer a = answers.empty() ? PlatformDialogAnswer{} : answers.front();
    if (!answers.empty()) answers.pop_front();
    return a;
  }
  int32_t ActiveWindow() override { return 0x77; }
};

Text WindowText(HWND hwnd) {
  wchar_t buffer[1024] = {};
  const int n = ::GetWindowTextW(hwnd, buffer, 1024);
  return Text(buffer, buffer + n);
}

Text U16(const fs::path& p) { return p.u16string(); }

class FrmImportWin32Test : public ::testing::Test {
 protected:
  FrmImportWin32Test()
      : folder(fs::temp_directory_path() / ("skov-ui-" + std::to_string(std::random_device()()))),
        host(MakeXlsHost(U16(folder))),
        ctx{state, *host, messages, pointer, files, {}, {}, {}},
        window(ctx, dialog) {
    fs::create_directories(folder / "in");
    importFile = folder / "in" / "PLAN.TXT";
    window.SetProgramEnd([this] { ++ended; });
  }
  ~FrmImportWin32Test() override {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }

  HWND Of(const design::Control& c) { return window.Control(c); }
  void Click(const design::Control& c) { ::SendMessageW(Of(c), BM_CLICK, 0, 0); }
  void ChooseOnce(const fs::path& path) {
    dialog.answers.push_back({true, U16(path), 0x1804});
    Click(design::kCmdImportPfad);
  }

  fs::path folder, importFile;
  ImportState state;
  RuntimeFiles files;
  RecordingMessages messages;
  RecordingPointer pointer;
  ScriptedDialog dialog;
  std::unique_ptr<SpreadsheetHost> host;
  ImportContext ctx;
  FrmImport window;
  int ended = 0;
};

// The design's points at 96 dpi, the controls inside the frame's edge; tab
// order as the design's tab indexes, labels left out.
TEST_F(FrmImportWin32Test, StartValuesLayoutAndTabOrder) {
  EXPECT_EQ(state.Trennzeichen, u";");
  EXPECT_TRUE(state.MitAnfuehrungszeichen);
  EXPECT_TRUE(state.VerzeichnisImport);
  EXPECT_TRUE(state.Importdatei.empty());
  EXPECT_EQ(WindowText(window.Window()), u"SKOV Import");
  EXPECT_EQ(WindowText(Of(design::kLblAnfzeichen)), u"Mit Anführungszeichen");

  RECT client;
  ::GetClientRect(window.Window(), &client);
  EXPECT_EQ(client.right, 385);
  EXPECT_EQ(client.bottom, 234);
  EXPECT_FALSE(::GetWindowLongW(window.Window(), GWL_STYLE) & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
  HWND frame = ::GetParent(Of(design::kCmdImportPfad));
  RECT f;
  ::GetWindowRect(frame, &f);
  ::MapWindowPoints(nullptr, window.Window(), reinterpret_cast<POINT*>(&f), 2);
  EXPECT_EQ(f.left, 8);
  EXPECT_EQ(f.top, 8);
  EXPECT_EQ(f.right - f.left, 368);
  EXPECT_EQ(f.bottom - f.top, 216);
  const int in = ::GetSystemMetrics(SM_CXEDGE);
  for (const design::Control* c : design::kTabOrder) {
    HWND w = Of(*c);
    EXPECT_EQ(::GetParent(w), frame) << c->name;
    RECT r;
    ::GetWindowRect(w, &r);
    ::MapWindowPoints(nullptr, frame, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, in + design::Px(c->place.left)) << c->name;
    EXPECT_EQ(r.top, in + design::Px(c->place.top)) << c->name;
    EXPECT_EQ(r.right - r.left, design::Px(c->place.width)) << c->name;
    EXPECT_EQ(r.bottom - r.top, design::Px(c->place.height)) << c->name;
  }

  window.Show();
  EXPECT_EQ(::GetFocus(), Of(design::kCmdImportPfad));
  const design::Control* expected[] = {&design::kTxtTrennzeichen, &design::kChkAnfzeichen, &design::kCmdImportieren,
                                       &design::kCmdBeenden,      &design::kChkVerzImport, &design::kCmdImportPfad};
  HWND at = Of(design::kCmdImportPfad);
  for (const design::Control* c : expected) {
    at = ::GetNextDlgTabItem(window.Window(), at, FALSE);
    EXPECT_EQ(at, Of(*c)) << c->name;
  }
}

TEST_F(FrmImportWin32Test, SettingsCopiedAtOnce) {
  HWND box = Of(design::kTxtTrennzeichen);
  struct Case {
    const wchar_t* start;
    const wchar_t* typed;
    Text expected;
  };
  const Case cases[] = {{L"", L"", u""}, {L"", L",", u","}, {L";", L"x", u";"}, {L"", L"ab", u"a"}};
  for (const Case& c : cases) {
    ::SetWindowTextW(box, c.start);
    ::SendMessageW(box, EM_SETSEL, 0, -1);
    ::SendMessageW(box, EM_SETSEL, -1, -1);  // the caret at the end, as after a click there
    for (const wchar_t* k = c.typed; *k; ++k) ::SendMessageW(box, WM_CHAR, *k, 0);
    EXPECT_EQ(state.Trennzeichen, c.expected) << ToUtf8(c.expected);
    EXPECT_EQ(WindowText(box), c.expected);
  }
  struct Box {
    const design::Control* control;
    bool ImportState::*field;
  };
  for (const Box b : {Box{&design::kChkAnfzeichen, &ImportState::MitAnfuehrungszeichen},
                      Box{&design::kChkVerzImport, &ImportState::VerzeichnisImport}}) {
    for (bool expected : {false, true, false, true}) {
      Click(*b.control);
      EXPECT_EQ(state.*b.field, expected) << b.control->name;
    }
  }
}

TEST_F(FrmImportWin32Test, ChooseThenCancelThenImportieren) {
  ChooseOnce(importFile);
  ASSERT_EQ(dialog.records.size(), 1u);
  const OpenFileName& r = dialog.records[0];
  EXPECT_EQ(r.lpstrTitle, Text(u"Importdatei"));
  EXPECT_EQ(r.lpstrFilter, kImportFilter);
  EXPECT_EQ(r.Flags, 0x1804);
  EXPECT_EQ(r.hwndOwner, 0x77);
  EXPECT_EQ(state.Importdatei, U16(importFile));
  EXPECT_EQ(WindowText(Of(design::kLblImportPfad)), U16(importFile));

  Click(design::kCmdImportPfad);  // cancelled
  EXPECT_TRUE(state.Importdatei.empty());
  EXPECT_TRUE(WindowText(Of(design::kLblImportPfad)).empty());
  Click(design::kCmdImportieren);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].prompt, u"Es ist keine Importdatei ausgewählt!");
  EXPECT_EQ(messages.shown[0].title, u"SKOV Import DDC");
  EXPECT_EQ(ended, 0);
  EXPECT_TRUE(::IsWindow(window.Window()));
}

// Alt with P, I or B presses that button; Enter and Esc press nothing.
TEST_F(FrmImportWin32Test, AcceleratorsAndNoDefaultButton) {
  for (UINT id : {IDOK, IDCANCEL}) ::SendMessageW(window.Window(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
  EXPECT_TRUE(dialog.records.empty());
  EXPECT_FALSE(window.PressAccelerator(u'x'));
  dialog.answers.push_back({true, U16(importFile), 0x1804});
  EXPECT_TRUE(window.PressAccelerator(u'p'));
  EXPECT_EQ(state.Importdatei, U16(importFile));
  EXPECT_TRUE(window.PressAccelerator(u'B'));
  EXPECT_EQ(ended, 1);
  EXPECT_FALSE(::IsWindow(window.Window()));
  EXPECT_TRUE(messages.shown.empty());
}

// A drop as Explorer sends it: one existing file is chosen; several files,
// a folder or a missing file are not.
TEST_F(FrmImportWin32Test, DroppedFiles) {
  std::ofstream(importFile) << "x";
  std::ofstream(folder / "in" / "ZWEI.TXT") << "x";
  auto drop = [&](const std::vector<fs::path>& paths) {
    std::wstring names;
    for (const fs::path& p : paths) names += p.wstring() + L'\0';
    names += L'\0';
    HGLOBAL memory = ::GlobalAlloc(GHND, sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
    auto* files = static_cast<DROPFILES*>(::GlobalLock(memory));
    files->pFiles = sizeof(DROPFILES);
    files->fWide = TRUE;
    std::copy(names.begin(), names.end(), reinterpret_cast<wchar_t*>(files + 1));
    ::GlobalUnlock(memory);
    ::SendMessageW(window.Window(), WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
  };
  drop({folder / "in" / "ZWEI.TXT", importFile});
  drop({folder / "in"});
  drop({folder / "in" / "FEHLT.TXT"});
  EXPECT_TRUE(state.Importdatei.empty());
  drop({importFile});
  EXPECT_EQ(state.Importdatei, U16(importFile));
  EXPECT_EQ(TrimNull(state.LetzterDialog.lpstrFileTitle.value_or(Text())), u"PLAN.TXT");
  EXPECT_EQ(WindowText(Of(design::kLblImportPfad)), U16(importFile));
  EXPECT_TRUE(dialog.records.empty());  // no dialog shown for a drop
}

// The whole path through the real host: the closing message names the log
// and the summary, the program ends once, the hourglass came and went.
TEST_F(FrmImportWin32Test, ImportierenRunsAndEnds) {
  fs::copy_file(fs::path(SKOV_SOURCE_DIR) / "examples/SKOV_IMPORT.XLS", folder / "SKOV_IMPORT.XLS");
  fs::copy_file(fs::path(SKOV_SOURCE_DIR) / "examples/import/ANLAGE1.TXT", folder / "in" / "ANLAGE1.TXT");
  Click(design::kChkVerzImport);
  ChooseOnce(folder / "in" / "ANLAGE1.TXT");
  Click(design::kCmdImportieren);
  EXPECT_EQ(ended, 1);
  EXPECT_EQ(pointer.calls, (std::vector<MousePointer>{MousePointer::Hourglass, MousePointer::Default}));
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].prompt,
            u"Log-Datei: " + U16(folder) + u"\\ANLAGE1.LOG\n1 gespeichert, 0 nicht gespeichert");
  EXPECT_TRUE(fs::is_regular_file(folder / "in" / "ANLAGE1.XLS"));
}

}  // namespace
}  // namespace skov
