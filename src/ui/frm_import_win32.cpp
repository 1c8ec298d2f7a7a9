// FrmImport on Win32: the design's controls as native controls, white on blue, and the handlers.
#include "ui/frm_import_win32.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <iterator>
#include <string>

#include "os/os.h"

namespace skov {

using design::Kind;
using design::Px;

namespace {

constexpr wchar_t kWindowClass[] = L"SkovImportFrmImport";
constexpr wchar_t kFrameClass[] = L"SkovImportFraImport";
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT | WS_EX_ACCEPTFILES;
constexpr int kFrameId = kFirstControlId - 1;
constexpr int kAppIcon = 1;  // the icon's id in the program's resources
constexpr size_t kControls = std::size(design::kTabOrder);

COLORREF Ref(design::Rgb c) { return RGB(c.r, c.g, c.b); }
const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
std::wstring Wide(const Text& text) { return std::wstring(text.begin(), text.end()); }

size_t IndexOf(const design::Control& control) {
  for (size_t i = 0; i < kControls; ++i)
    if (design::kTabOrder[i] == &control) return i;
  return kControls;
}

HFONT MakeFont(const char16_t* face, double points, UINT dpi, BYTE charset, BYTE pitch) {
  return ::CreateFontW(-Px(points, static_cast<int>(dpi)), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, charset,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, pitch, W(face));
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

void RegisterClasses(HINSTANCE instance) {
  static bool registered = false;
  if (registered) return;
  static const HBRUSH blue = ::CreateSolidBrush(Ref(design::kBlue));  // the classes' own, for the process
  // The controls of common controls 6, which the manifest asks for.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  WNDCLASSEXW window{};
  window.cbSize = sizeof window;
  window.lpfnWndProc = WindowProc;
  window.hInstance = instance;
  window.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window.hbrBackground = blue;
  window.lpszClassName = kWindowClass;
  window.hIcon = static_cast<HICON>(
      ::LoadImageW(instance, MAKEINTRESOURCEW(kAppIcon), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  window.hIconSm = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kAppIcon), IMAGE_ICON,
                                                   ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                                   LR_SHARED));
  ::RegisterClassExW(&window);
  WNDCLASSEXW frame = window;
  frame.lpfnWndProc = FrameProc;
  frame.lpszClassName = kFrameClass;
  frame.hIcon = frame.hIconSm = nullptr;
  ::RegisterClassExW(&frame);
  registered = true;
}

FrmImport* Owner(HWND hwnd) { return reinterpret_cast<FrmImport*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA)); }

}  // namespace

struct FrmImport::Native {
  HWND window = nullptr;
  HWND frame = nullptr;
  HWND controls[kControls] = {};
  HWND lastFocus = nullptr;
  HFONT buttonFont = nullptr, labelFont = nullptr, boxFont = nullptr;
  HBRUSH blue = ::CreateSolidBrush(Ref(design::kBlue));
  HBRUSH white = ::CreateSolidBrush(Ref(design::kWhite));
  UINT dpi = design::kDesignDpi;
  bool ready = false;       // the start values are in the state; changes count from now
  bool destroying = false;  // the object goes, not the program

  ~Native() {
    destroying = true;
    if (window) ::DestroyWindow(window);
    DeleteFonts();
    ::DeleteObject(blue);
    ::DeleteObject(white);
  }
  void DeleteFonts() {
    for (HFONT f : {buttonFont, labelFont, boxFont})
      if (f) ::DeleteObject(f);
    buttonFont = labelFont = boxFont = nullptr;
  }
  HWND Of(const design::Control& control) const {
    const size_t i = IndexOf(control);
    return i < kControls ? controls[i] : nullptr;
  }

  // Places and fonts for `newDpi`: the design's points as that many pixels.
  void Layout(UINT newDpi) {
    dpi = newDpi;
    const int d = static_cast<int>(dpi);
    RECT outer{0, 0, Px(design::kClientWidth, d), Px(design::kClientHeight, d)};
    ::AdjustWindowRectExForDpi(&outer, kWindowStyle, FALSE, kWindowExStyle, dpi);
    ::SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    const design::Rect& f = design::kFrame;
    ::MoveWindow(frame, Px(f.left, d), Px(f.top, d), Px(f.width, d), Px(f.height, d), TRUE);
    // Places count from the frame's inside, within its etched edge.
    const int inset = ::GetSystemMetricsForDpi(SM_CXEDGE, dpi);
    DeleteFonts();
    constexpr BYTE kSans = VARIABLE_PITCH | FF_SWISS, kFixed = FIXED_PITCH | FF_MODERN;
    buttonFont = MakeFont(design::kSansFont, design::kButtonFontPoints, dpi, DEFAULT_CHARSET, kSans);
    labelFont = MakeFont(design::kSansFont, design::kLabelFontPoints, dpi, DEFAULT_CHARSET, kSans);
    boxFont = MakeFont(design::kFixedFont, design::kTextBoxFontPoints, dpi, OEM_CHARSET, kFixed);
    for (size_t i = 0; i < kControls; ++i) {
      const design::Control& c = *design::kTabOrder[i];
      const design::Rect& r = c.place;
      ::MoveWindow(controls[i], inset + Px(r.left, d), inset + Px(r.top, d), Px(r.width, d), Px(r.height, d), TRUE);
      HFONT font = c.kind == Kind::Button ? buttonFont : c.kind == Kind::TextBox ? boxFont : labelFont;
      ::SendMessageW(controls[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
  }
};

namespace {

HWND MakeControl(const design::Control& c, HWND parent, HINSTANCE instance) {
  const wchar_t* cls = L"BUTTON";
  DWORD style = WS_CHILD | WS_VISIBLE;
  DWORD exStyle = 0;
  switch (c.kind) {
    case Kind::Button:
      style |= BS_OWNERDRAW | WS_TABSTOP;  // blue on white: themed buttons keep their own colours
      break;
    case Kind::CheckBox:
      style |= BS_AUTOCHECKBOX | WS_TABSTOP;
      break;
    case Kind::TextBox:
      cls = L"EDIT";
      style |= ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP;
      exStyle = WS_EX_CLIENTEDGE;
      break;
    case Kind::Label:
      cls = L"STATIC";
      // One line, cut where it ends; a path's '&' is no accelerator.
      style |= SS_LEFTNOWORDWRAP | SS_NOPREFIX;
      if (&c == &design::kLblImportPfad) style |= SS_PATHELLIPSIS;
      break;
  }
  const HMENU id = reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(c)));
  HWND hwnd = ::CreateWindowExW(exStyle, cls, W(c.text), style, 0, 0, 0, 0, parent, id, instance, nullptr);
  if (c.kind == Kind::CheckBox) ::SendMessageW(hwnd, BM_SETCHECK, BST_CHECKED, 0);
  if (c.kind == Kind::TextBox) ::SendMessageW(hwnd, EM_LIMITTEXT, design::kSeparatorMaxLength, 0);
  return hwnd;
}

Text WindowText(HWND hwnd) {
  const int n = ::GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<size_t>(n) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(hwnd, text.data(), n + 1)));
  return Text(text.begin(), text.end());
}

bool Ticked(HWND checkBox) { return ::SendMessageW(checkBox, BM_GETCHECK, 0, 0) == BST_CHECKED; }

// A command button as the design has it: blue bold text on white.
void DrawButton(const DRAWITEMSTRUCT& item, HFONT font, HBRUSH white) {
  RECT r = item.rcItem;
  const bool pressed = item.itemState & ODS_SELECTED;
  ::FillRect(item.hDC, &r, white);
  ::DrawEdge(item.hDC, &r, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT | BF_ADJUST);
  const int n = ::GetWindowTextLengthW(item.hwndItem);
  std::wstring caption(static_cast<size_t>(n) + 1, L'\0');
  caption.resize(static_cast<size_t>(::GetWindowTextW(item.hwndItem, caption.data(), n + 1)));
  HGDIOBJ old = ::SelectObject(item.hDC, font);
  ::SetBkMode(item.hDC, TRANSPARENT);
  ::SetTextColor(item.hDC, item.itemState & ODS_DISABLED ? ::GetSysColor(COLOR_GRAYTEXT) : Ref(design::kBlue));
  RECT text = r;
  if (pressed) ::OffsetRect(&text, 1, 1);
  const UINT hide = item.itemState & ODS_NOACCEL ? DT_HIDEPREFIX : 0;
  ::DrawTextW(item.hDC, caption.c_str(), -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE | hide);
  ::SelectObject(item.hDC, old);
  if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT)) {
    ::InflateRect(&r, -1, -1);
    ::DrawFocusRect(item.hDC, &r);
  }
}

// What the frame's children ask their parent: colours, drawing, commands.
LRESULT FrameMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, FrmImport::Native& n) {
  switch (message) {
    case WM_CTLCOLORSTATIC:  // labels and check boxes
      ::SetTextColor(reinterpret_cast<HDC>(wParam), Ref(design::kWhite));
      ::SetBkColor(reinterpret_cast<HDC>(wParam), Ref(design::kBlue));
      return reinterpret_cast<LRESULT>(n.blue);
    case WM_CTLCOLOREDIT:
      ::SetTextColor(reinterpret_cast<HDC>(wParam), Ref(design::kDarkBlue));
      ::SetBkColor(reinterpret_cast<HDC>(wParam), Ref(design::kWhite));
      return reinterpret_cast<LRESULT>(n.white);
    case WM_DRAWITEM:
      DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam), n.buttonFont, n.white);
      return TRUE;
    case WM_COMMAND:
      return ::SendMessageW(n.window, message, wParam, lParam);
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = ::BeginPaint(hwnd, &paint);
      RECT r;
      ::GetClientRect(hwnd, &r);
      ::DrawEdge(dc, &r, EDGE_ETCHED, BF_RECT);
      ::EndPaint(hwnd, &paint);
      return 0;
    }
    default:
      return ::DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

LRESULT CALLBACK FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  FrmImport* frm = Owner(hwnd);
  if (!frm) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  return frm->OnFrameMessage(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  FrmImport* frm = Owner(hwnd);
  if (!frm) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  return frm->OnMessage(hwnd, message, wParam, lParam);
}

}  // namespace

int ControlId(const design::Control& control) { return kFirstControlId + static_cast<int>(IndexOf(control)); }

FrmImport::FrmImport(ImportContext& ctx, PlatformFileDialog& dialog)
    : ctx_(ctx), dialog_(dialog), programEnd_([] { ::PostQuitMessage(0); }), native_(std::make_unique<Native>()) {
  Native& n = *native_;
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  RegisterClasses(instance);
  n.window = ::CreateWindowExW(kWindowExStyle, kWindowClass, W(design::kCaption), kWindowStyle, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, this);
  n.frame = ::CreateWindowExW(WS_EX_CONTROLPARENT, kFrameClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, n.window,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFrameId)), instance, nullptr);
  ::SetWindowLongPtrW(n.frame, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  // Created in tab-index order, which is the order Tab then follows.
  for (size_t i = 0; i < kControls; ++i) n.controls[i] = MakeControl(*design::kTabOrder[i], n.frame, instance);
  n.Layout(::GetDpiForWindow(n.window));
  UserForm_Initialize();
  n.ready = true;
}

FrmImport::~FrmImport() = default;

void FrmImport::SetProgramEnd(std::function<void()> end) { programEnd_ = std::move(end); }

HWND__* FrmImport::Window() const { return native_->window; }
HWND__* FrmImport::Control(const design::Control& control) const { return native_->Of(control); }

void FrmImport::Show() {
  Native& n = *native_;
  RECT work, outer;
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  ::GetWindowRect(n.window, &outer);
  const int width = outer.right - outer.left, height = outer.bottom - outer.top;
  ::SetWindowPos(n.window, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ::ShowWindow(n.window, SW_SHOWNORMAL);
  ::UpdateWindow(n.window);
  ::SetFocus(n.Of(design::kCmdImportPfad));
}

int FrmImport::Run() {
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    const HWND window = native_->window;
    const bool ours = window && (msg.hwnd == window || ::IsChild(window, msg.hwnd));
    if (ours && msg.message == WM_SYSCHAR && PressAccelerator(static_cast<char16_t>(msg.wParam))) continue;
    if (ours && ::IsDialogMessageW(window, &msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

bool FrmImport::PressAccelerator(char16_t key) {
  if (key >= u'a' && key <= u'z') key = static_cast<char16_t>(key - u'a' + u'A');
  for (const design::Control* c : design::kTabOrder) {
    if (c->accelerator != key) continue;
    HWND button = native_->Of(*c);
    if (::IsWindowEnabled(native_->window))
      ::SendMessageW(native_->window, WM_COMMAND, MAKEWPARAM(ControlId(*c), BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
    return true;
  }
  return false;
}

intptr_t FrmImport::OnFrameMessage(HWND__* hwnd, unsigned message, uintptr_t wParam, intptr_t lParam) {
  return FrameMessage(hwnd, message, wParam, lParam, *native_);
}

intptr_t FrmImport::OnMessage(HWND__* hwnd, unsigned message, uintptr_t wParam, intptr_t lParam) {
  Native& n = *native_;
  switch (message) {
    case WM_COMMAND: {
      if (!n.ready) return 0;
      const int id = LOWORD(wParam), code = HIWORD(wParam);
      if (id == ControlId(design::kTxtTrennzeichen) && code == EN_CHANGE) txtTrennzeichen_Change();
      if (code != BN_CLICKED) return 0;
      if (id == ControlId(design::kChkAnfzeichen)) chkAnfzeichen_Change();
      if (id == ControlId(design::kChkVerzImport)) chkVerzImport_Change();
      if (id == ControlId(design::kCmdImportPfad)) cmdImportPfad_Click();
      if (id == ControlId(design::kCmdImportieren)) cmdImportieren_Click();
      if (id == ControlId(design::kCmdBeenden)) cmdBeenden_Click();
      return 0;  // Enter and Esc (IDOK, IDCANCEL) press nothing
    }
    case WM_DROPFILES: {
      HDROP drop = reinterpret_cast<HDROP>(wParam);
      Text path;
      if (::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) == 1) {
        const UINT length = ::DragQueryFileW(drop, 0, nullptr, 0);
        std::wstring name(length + 1, L'\0');
        name.resize(::DragQueryFileW(drop, 0, name.data(), length + 1));
        path.assign(name.begin(), name.end());
      }
      ::DragFinish(drop);
      if (!path.empty()) DropFile(path);
      return 0;
    }
    case WM_ACTIVATE:
      // Focus back where it was when the window is activated again.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = ::GetFocus();
        if (focus && ::IsChild(hwnd, focus)) n.lastFocus = focus;
      } else {
        ::SetFocus(n.lastFocus ? n.lastFocus : n.Of(design::kCmdImportPfad));
      }
      return 0;
    case WM_DPICHANGED: {
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      n.Layout(HIWORD(wParam));
      ::SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
      return 0;
    }
    case WM_DESTROY:
      n.window = nullptr;
      if (!n.destroying && programEnd_) programEnd_();
      return 0;
    default:
      return ::DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

void FrmImport::UserForm_Initialize() {
  Native& n = *native_;
  ctx_.state.MitAnfuehrungszeichen = Ticked(n.Of(design::kChkAnfzeichen));
  ctx_.state.Trennzeichen = WindowText(n.Of(design::kTxtTrennzeichen));
  ctx_.state.VerzeichnisImport = Ticked(n.Of(design::kChkVerzImport));
}

void FrmImport::txtTrennzeichen_Change() {
  ctx_.state.Trennzeichen = WindowText(native_->Of(design::kTxtTrennzeichen));
}

void FrmImport::chkAnfzeichen_Change() {
  ctx_.state.MitAnfuehrungszeichen = Ticked(native_->Of(design::kChkAnfzeichen));
}

void FrmImport::chkVerzImport_Change() { ctx_.state.VerzeichnisImport = Ticked(native_->Of(design::kChkVerzImport)); }

void FrmImport::cmdImportPfad_Click() {
  if (running_) return;
  ImportdateiWaehlen(dialog_);
}

void FrmImport::ImportdateiWaehlen(PlatformFileDialog& platform) {
  skov::ImportdateiWaehlen(ctx_.state, platform);
  ::SetWindowTextW(native_->Of(design::kLblImportPfad), Wide(ctx_.state.Importdatei).c_str());
}

void FrmImport::DropFile(const Text& path) {
  os::FileInfo info;
  if (running_ || !os::Stat(path, info) || !info.regular) return;
  DroppedFile dropped(dialog_, os::Absolute(path));
  ImportdateiWaehlen(dropped);
}

void FrmImport::cmdImportieren_Click() {
  // The run's own message boxes pump messages; a second press there must
  // not start a second run.
  if (running_) return;
  running_ = !ctx_.state.Importdatei.empty();
  if (!Importieren(ctx_)) return;
  EndProgram();
}

void FrmImport::cmdBeenden_Click() {
  if (running_) return;
  EndProgram();
}

void FrmImport::EndProgram() {
  // Nothing of the window runs after this.
  if (native_->window) ::DestroyWindow(native_->window);
}

}  // namespace skov
