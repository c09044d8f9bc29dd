#include "ui/win32/main_window.h"

#include <vector>

#include "ui/win32/text.h"

namespace kfw {

namespace {

// The exit status of a window that could not be set up.
constexpr INT_PTR kNotSetUp = 1;

// The chooser's name buffer, in UTF-16 units: the longest path Windows has. A name that does not
// fit would come back as a failed dialog, indistinguishable from Cancel; a long name that does fit
// is refused by the command logic with a message that says what to do.
constexpr size_t kChooserCapacity = 32768;

}  // namespace

Win32MainWindow::Win32MainWindow(Win32DialogRunner& runner, Win32MessageBoxes& boxes,
                                 HINSTANCE instance)
    : runner_(runner), boxes_(boxes), instance_(instance), logic_(*this) {}

int Win32MainWindow::Run() {
  ended_ = false;
  const INT_PTR result =
      DialogBoxParamW(instance_, L"DIALOG", nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
  return result == 0 ? 0 : static_cast<int>(kNotSetUp);
}

INT_PTR CALLBACK Win32MainWindow::DialogProc(HWND dialog, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
  auto* window = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
  // The controls speak (WM_SETFONT and the like) before WM_INITDIALOG brings the window its object.
  return window ? window->Handle(dialog, message, wParam) : FALSE;
}

INT_PTR Win32MainWindow::Handle(HWND dialog, UINT message, WPARAM wParam) {
  switch (message) {
    case WM_INITDIALOG:
      window_.store(dialog);
      boxes_.SetOwner(dialog);
      if (!logic_.OnInitDialog()) {
        ended_ = true;
        EndDialog(dialog, kNotSetUp);
      }
      return TRUE;
    case WM_CLOSE:
      // Handled here in full: the dialog's default would turn it into an IDCANCEL command.
      if (!ended_) logic_.OnCloseRequest();
      return TRUE;
    case WM_COMMAND:
      if (!ended_) logic_.OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_DESTROY:
      boxes_.SetOwner(nullptr);
      window_.store(nullptr);
      return FALSE;
    default:
      return FALSE;
  }
}

void Win32MainWindow::AddPortEntry(int list, const std::string& text) {
  SendDlgItemMessageW(Window(), list, CB_ADDSTRING, 0,
                      reinterpret_cast<LPARAM>(Utf16FromUtf8(text).c_str()));
}

void Win32MainWindow::SelectPortEntry(int list, int32_t position) {
  // A position outside the list clears the selection.
  SendDlgItemMessageW(Window(), list, CB_SETCURSEL, static_cast<WPARAM>(position), 0);
}

void Win32MainWindow::EnableControl(int id, bool enabled) {
  if (HWND control = GetDlgItem(Window(), id)) EnableWindow(control, enabled);
}

int32_t Win32MainWindow::SelectedPosition(int list) {
  return static_cast<int32_t>(SendDlgItemMessageW(Window(), list, CB_GETCURSEL, 0, 0));
}

std::string Win32MainWindow::ControlText(int id) {
  HWND control = GetDlgItem(Window(), id);
  if (!control) return {};
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return Utf8FromUtf16(text);
}

void Win32MainWindow::SetControlText(int id, const std::string& text) {
  // The name field raises its change notifications from inside this call, as the logic expects.
  SetDlgItemTextW(Window(), id, Utf16FromUtf8(text).c_str());
}

void Win32MainWindow::PostCloseRequest() {
  PostMessageW(Window(), WM_CLOSE, 0, 0);
}

void Win32MainWindow::EndWindow() {
  ended_ = true;
  EndDialog(Window(), 0);
}

void Win32MainWindow::ShowSuccess(const std::string& text) {
  ShowBox(runner_, Window(), kSuccessCaption, text, MB_OK);
}

bool Win32MainWindow::ChooseFile(std::string& name) {
  const std::wstring title = Utf16FromUtf8(kChooserTitle);
  // One description and pattern pair, each ended by a NUL, and an empty string to end the list.
  std::wstring filter = Utf16FromUtf8(kChooserFilter);
  filter.push_back(L'\0');
  filter += Utf16FromUtf8(kChooserPattern);
  filter.push_back(L'\0');
  filter.push_back(L'\0');
  std::vector<wchar_t> file(kChooserCapacity, L'\0');

  OPENFILENAMEW record{};
  record.lStructSize = sizeof record;
  record.hwndOwner = Window();
  record.lpstrFilter = filter.c_str();
  record.lpstrFile = file.data();
  record.nMaxFile = static_cast<DWORD>(file.size());
  record.lpstrTitle = title.c_str();
  record.Flags = OFN_HIDEREADONLY;
  if (!runner_.RunFileDialog(record)) return false;
  name = Utf8FromUtf16(file.data());
  return true;
}

ResultCode Win32MainWindow::RunProcedure(const std::function<ResultCode()>& procedure) {
  // On this thread, inside the command: the window takes no input until the procedure returns
  // (what came meanwhile is handled after it), while the progress window, on its own thread,
  // stays responsive. The boxes the procedure asks for are owned by this window.
  return procedure();
}

}  // namespace kfw
