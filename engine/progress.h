// The progress window's operations. The window itself belongs to the front end, which supplies it
// through ProgressWindow; the core keeps the calling order: at most one window at a time,
// SetProgress only into the window that is open, CloseProgress harmless in every state.
#pragma once

#include <cstdint>

#include "base/waiting.h"

namespace kfw {

// A front end's progress window: a caption line, a 0-100 bar and a Cancel button whose press calls
// RequestCancel(). Show() returns without waiting for the window to appear; Hide() returns only
// when the window is gone. Called from the procedures' thread.
class ProgressWindow {
 public:
  virtual ~ProgressWindow() = default;
  virtual void Show() = 0;
  virtual void Update(const char* caption, uint32_t percent) = 0;
  virtual void Hide() = 0;
};

// nullptr: procedures run without a window (and can still be cancelled by RequestCancel).
void InstallProgressWindow(ProgressWindow* window);

// Opens a new window; one still open is closed first, so two never overlap.
void OpenProgress();
// Sets the caption, then the bar; does nothing while no window is open.
void SetProgress(const char* caption, uint32_t percent);
// Closes the window if one is open.
void CloseProgress();

bool ProgressIsOpen();

namespace internal {
void ResetProgressState();
}

}  // namespace kfw
