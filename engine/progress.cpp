#include "engine/progress.h"

#include <atomic>

namespace kfw {

namespace {
std::atomic<ProgressWindow*> installedWindow{nullptr};
// Only the procedures' thread opens and closes; the flag is atomic because front ends ask for it
// from their own threads.
std::atomic<bool> windowOpen{false};
}  // namespace

void InstallProgressWindow(ProgressWindow* window) {
  installedWindow.store(window, std::memory_order_release);
}

void OpenProgress() {
  CloseProgress();
  if (ProgressWindow* window = installedWindow.load(std::memory_order_acquire)) window->Show();
  windowOpen.store(true);
}

void SetProgress(const char* caption, uint32_t percent) {
  if (!windowOpen.load()) return;
  if (ProgressWindow* window = installedWindow.load(std::memory_order_acquire)) {
    window->Update(caption, percent);
  }
}

void CloseProgress() {
  if (!windowOpen.exchange(false)) return;
  if (ProgressWindow* window = installedWindow.load(std::memory_order_acquire)) window->Hide();
}

bool ProgressIsOpen() { return windowOpen.load(); }

namespace internal {
void ResetProgressState() {
  windowOpen.store(false);
  InstallProgressWindow(nullptr);
}
}  // namespace internal

}  // namespace kfw
