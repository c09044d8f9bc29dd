#include "ui/win32/progress_window.h"

#include <commctrl.h>

#include "base/waiting.h"
#include "ui/logic/dialog_templates.h"
#include "ui/win32/text.h"

namespace kfw {

Win32ProgressWindow::Win32ProgressWindow(HINSTANCE instance) : instance_(instance) {}

Win32ProgressWindow::~Win32ProgressWindow() {
  Hide();
}

void Win32ProgressWindow::Show() {
  // A window the user closed has ended its thread; it is collected here.
  WaitForThread();
  {
    std::lock_guard lock(mutex_);
    window_ = nullptr;
    closeAsked_ = false;
    updated_ = false;
  }
  // Without a thread there is no window: the procedure runs on and cannot be cancelled.
  thread_ = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
}

void Win32ProgressWindow::Update(const char* caption, uint32_t percent) {
  const std::wstring text = Utf16FromUtf8(caption);
  HWND window = nullptr;
  {
    std::lock_guard lock(mutex_);
    caption_ = text;
    percent_ = percent;
    updated_ = true;
    window = window_;
  }
  // Sent, not posted: the window's thread draws them before this returns. A window that has just
  // gone ignores them.
  if (!window) return;
  SetDlgItemTextW(window, kProgressCaption, text.c_str());
  SendDlgItemMessageW(window, kProgressBar, PBM_SETPOS, percent, 0);
}

void Win32ProgressWindow::Hide() {
  if (!thread_) return;
  HWND window = nullptr;
  {
    std::lock_guard lock(mutex_);
    closeAsked_ = true;
    window = window_;
  }
  // A window still starting sees closeAsked_ when it is set up and ends before it is shown.
  if (window) PostMessageW(window, WM_CLOSE, 0, 0);
  WaitForThread();
}

HWND Win32ProgressWindow::Window() {
  std::lock_guard lock(mutex_);
  return window_;
}

DWORD WINAPI Win32ProgressWindow::ThreadMain(void* self) {
  auto* progress = static_cast<Win32ProgressWindow*>(self);
  // No owner: a top-level window of its own, centred on the screen.
  DialogBoxParamW(progress->instance_, L"PROGRESS", nullptr, DialogProc,
                  reinterpret_cast<LPARAM>(progress));
  return 0;
}

void Win32ProgressWindow::SetUp(HWND dialog) {
  SendDlgItemMessageW(dialog, kProgressBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  // Under the lock, so that an Update either lands here or finds the window, never neither.
  std::lock_guard lock(mutex_);
  if (closeAsked_) {
    EndDialog(dialog, 0);
    return;
  }
  window_ = dialog;
  if (updated_) {
    SetDlgItemTextW(dialog, kProgressCaption, caption_.c_str());
    SendDlgItemMessageW(dialog, kProgressBar, PBM_SETPOS, percent_, 0);
  }
}

INT_PTR CALLBACK Win32ProgressWindow::DialogProc(HWND dialog, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
      reinterpret_cast<Win32ProgressWindow*>(lParam)->SetUp(dialog);
      // The focus goes to the first tab stop, the Cancel button.
      return TRUE;
    case WM_CLOSE:
      // The window goes; the procedure runs on without it, and without a way to cancel.
      EndDialog(dialog, 0);
      return TRUE;
    case WM_COMMAND:
      // A click of Cancel only raises the flag; Escape (IDCANCEL) does nothing.
      if (wParam == static_cast<WPARAM>(kProgressCancelButton)) RequestCancel();
      return TRUE;
    case WM_DESTROY:
      if (auto* progress =
              reinterpret_cast<Win32ProgressWindow*>(GetWindowLongPtrW(dialog, GWLP_USERDATA))) {
        std::lock_guard lock(progress->mutex_);
        if (progress->window_ == dialog) progress->window_ = nullptr;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

void Win32ProgressWindow::WaitForThread() {
  if (!thread_) return;
  // Messages sent to this thread's windows are handled while waiting (the window's thread may need
  // an answer from them while it goes); nothing posted is taken, so the main window's input waits
  // for the procedure to end, as it should.
  for (;;) {
    const DWORD woken = MsgWaitForMultipleObjects(1, &thread_, FALSE, INFINITE, QS_SENDMESSAGE);
    if (woken == WAIT_OBJECT_0 + 1) {
      MSG message;
      PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
      continue;
    }
    if (woken != WAIT_OBJECT_0) WaitForSingleObject(thread_, INFINITE);
    break;
  }
  CloseHandle(thread_);
  thread_ = nullptr;
}

}  // namespace kfw
