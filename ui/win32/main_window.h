// The main window: the "DIALOG" template run as a modal dialog, whose one dialog procedure hands
// every notification of its controls and its close request to the command logic. The procedures
// run on this window's thread, inside the command; the progress window has a thread of its own.
#pragma once

#include <windows.h>

#include <atomic>

#include "ui/logic/main_window_logic.h"
#include "ui/win32/boxes.h"

namespace kfw {

class Win32MainWindow final : public MainWindowControls {
 public:
  // The template is loaded from `instance`; the boxes are owned by the window once it is set up.
  Win32MainWindow(Win32DialogRunner& runner, Win32MessageBoxes& boxes, HINSTANCE instance);
  Win32MainWindow(const Win32MainWindow&) = delete;
  Win32MainWindow& operator=(const Win32MainWindow&) = delete;

  // Sets the window up, shows it and runs it until it ends. The program's exit status: 0 when it
  // ended through its close request; 1 when there is no MIDI input or output at all (the message
  // has been shown; the window is never shown) or the window could not be made.
  int Run();

  // The window from its set-up until it goes, else nullptr. From any thread.
  HWND Window() const { return window_.load(); }
  MainWindowLogic& Logic() { return logic_; }

  // MainWindowControls
  void AddPortEntry(int list, const std::string& text) override;
  void SelectPortEntry(int list, int32_t position) override;
  void EnableControl(int id, bool enabled) override;
  int32_t SelectedPosition(int list) override;
  std::string ControlText(int id) override;
  void SetControlText(int id, const std::string& text) override;
  void PostCloseRequest() override;
  void EndWindow() override;
  void ShowSuccess(const std::string& text) override;
  bool ChooseFile(std::string& name) override;
  ResultCode RunProcedure(const std::function<ResultCode()>& procedure) override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(HWND dialog, UINT message, WPARAM wParam);

  Win32DialogRunner& runner_;
  Win32MessageBoxes& boxes_;
  HINSTANCE instance_;
  std::atomic<HWND> window_{nullptr};
  // Once ended, the notifications the controls still raise while the window goes (the name field
  // losing the focus, say) reach nothing.
  bool ended_ = false;
  MainWindowLogic logic_;
};

}  // namespace kfw
