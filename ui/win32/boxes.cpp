#include "ui/win32/boxes.h"

#include "ui/win32/text.h"

namespace kfw {

int Win32DialogRunner::RunMessageBox(HWND owner, const std::wstring& text,
                                     const std::wstring& caption, UINT type) {
  return MessageBoxW(owner, text.c_str(), caption.c_str(), type);
}

bool Win32DialogRunner::RunFileDialog(OPENFILENAMEW& record) {
  return GetOpenFileNameW(&record) != 0;
}

int ShowBox(Win32DialogRunner& runner, HWND owner, const char* caption, const std::string& text,
            UINT type) {
  const bool ownersThread =
      owner != nullptr && GetWindowThreadProcessId(owner, nullptr) == GetCurrentThreadId();
  return runner.RunMessageBox(ownersThread ? owner : nullptr, Utf16FromUtf8(text),
                              Utf16FromUtf8(caption), type);
}

void Win32MessageBoxes::ShowError(const std::string& text) {
  ShowBox(runner_, owner_.load(), kErrorCaption, text, MB_OK);
}

bool Win32MessageBoxes::AskYesNo(const std::string& text) {
  return ShowBox(runner_, owner_.load(), kQuestionCaption, text, MB_YESNO | MB_DEFBUTTON2) == IDYES;
}

void Win32MessageBoxes::ShowFatal(const std::string& text) {
  AskYesNo(text);
}

}  // namespace kfw
