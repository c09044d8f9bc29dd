// The progress window: the "PROGRESS" template (a caption line, a 0-100 bar and a Cancel button,
// no title bar, centred on the screen) run as a modal dialog on a thread of its own, so that it
// stays responsive while the window's thread runs a procedure and does not look at its messages.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>

#include "engine/progress.h"

namespace kfw {

class Win32ProgressWindow final : public ProgressWindow {
 public:
  // The template is loaded from `instance`.
  explicit Win32ProgressWindow(HINSTANCE instance);
  ~Win32ProgressWindow() override;
  Win32ProgressWindow(const Win32ProgressWindow&) = delete;
  Win32ProgressWindow& operator=(const Win32ProgressWindow&) = delete;

  // Starts the window's thread and returns at once.
  void Show() override;
  // The caption, then the bar. One that comes before the window is set up is kept and shown when
  // it is; after the window has gone (the user closed it) it changes nothing.
  void Update(const char* caption, uint32_t percent) override;
  // Asks the window to close on its own thread, as a close request does, and waits for the thread
  // to end; harmless when there is no window, while it is still starting, and after it has gone.
  void Hide() override;

  // The window while it is set up and not yet gone, else nullptr.
  HWND Window();

  // Show, Update and Hide come from one thread, the procedures' thread: the thread handle is
  // theirs alone. The rest is shared with the window's thread, under the mutex.
 private:
  static DWORD WINAPI ThreadMain(void* self);
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  void SetUp(HWND dialog);
  void WaitForThread();

  HINSTANCE instance_;
  HANDLE thread_ = nullptr;

  std::mutex mutex_;
  HWND window_ = nullptr;
  bool closeAsked_ = false;
  bool updated_ = false;
  std::wstring caption_;
  uint32_t percent_ = 0;
};

}  // namespace kfw
