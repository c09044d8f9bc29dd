// The boxes of the Win32 window: errors, the yes/no question, the fatal MIDI text and the success
// boxes, and the open-file dialog, all shown through one seam (Win32DialogRunner) so tests can
// answer them without a user.
#pragma once

#include <windows.h>
// commdlg.h needs windows.h before it.
#include <commdlg.h>

#include <atomic>
#include <string>

#include "base/report.h"

namespace kfw {

// Shows a box or the open-file dialog that is fully set up, and gives the user's answer.
class Win32DialogRunner {
 public:
  virtual ~Win32DialogRunner() = default;
  // MessageBoxW: IDOK, IDYES, IDNO..., or 0 when the box could not be shown.
  virtual int RunMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption,
                            UINT type);
  // GetOpenFileNameW: true when a name was chosen; it is then in the record's file buffer.
  virtual bool RunFileDialog(OPENFILENAMEW& record);
};

// Shows a box through the runner. The owner is taken only on the owner's own thread: a box owned
// by a window of another thread disables that window, which waits on that thread, and the thread
// that runs the procedures does not look at its messages until the procedure is over.
int ShowBox(Win32DialogRunner& runner, HWND owner, const char* caption, const std::string& text,
            UINT type);

// The core's boxes, owned by the main window once it is set up. Callable from any thread.
class Win32MessageBoxes final : public MessageBoxes {
 public:
  explicit Win32MessageBoxes(Win32DialogRunner& runner) : runner_(runner) {}

  void SetOwner(HWND owner) { owner_.store(owner); }

  // "Korvex Firmware Update Utility Error", MB_OK.
  void ShowError(const std::string& text) override;
  // "Korvex Firmware Update Utility", MB_YESNO | MB_DEFBUTTON2; true only for IDYES.
  bool AskYesNo(const std::string& text) override;
  // The question box; the answer does not matter, the process ends after it.
  void ShowFatal(const std::string& text) override;

 private:
  Win32DialogRunner& runner_;
  // Set on the window's thread, read by the MIDI input thread's fatal text.
  std::atomic<HWND> owner_{nullptr};
};

}  // namespace kfw
