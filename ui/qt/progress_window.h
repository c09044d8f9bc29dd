// The progress window: a caption line, a 0-100 bar and a Cancel button, in a small window of its
// own without a title bar, centred on the screen. The procedures drive it from their worker thread;
// it stays responsive because the GUI thread keeps running its event loop while they work.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <map>

#include "engine/progress.h"

namespace kfw {

class QtProgressWindow final : public QFrame, public ProgressWindow {
 public:
  QtProgressWindow();

  // From any thread. Show and Update are queued to the GUI thread in the order they are called, so
  // an Update right after Show is never lost; Hide waits until the window is gone.
  void Show() override;
  void Update(const char* caption, uint32_t percent) override;
  void Hide() override;

  QPushButton* CancelButton() const;
  QLabel* Caption() const;
  QProgressBar* Bar() const;

 protected:
  // Escape does nothing: only the Cancel button cancels.
  void keyPressEvent(QKeyEvent* event) override;
  // A close request takes the window away without cancelling; the procedure runs on without it.
  void closeEvent(QCloseEvent* event) override;

 private:
  void ShowNow();

  std::map<int, QWidget*> controls_;
};

}  // namespace kfw
