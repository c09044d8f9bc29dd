// The boxes of the desktop program: errors, the yes/no question, the fatal MIDI text and the
// success boxes, and the open-file dialog, all shown through one seam (QtDialogRunner) so tests can
// answer them without a user.
#pragma once

#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "base/report.h"

namespace kfw {

// Shows a dialog that is fully set up and gives the user's answer. Called on the GUI thread.
class QtDialogRunner {
 public:
  virtual ~QtDialogRunner() = default;
  // Returns the button pressed, a QMessageBox::StandardButton.
  virtual int RunMessageBox(QMessageBox& box);
  // True with the chosen name; false when the user cancelled.
  virtual bool RunFileDialog(QFileDialog& dialog, QString& chosen);
};

// Builds a box with no icon and plain text, owned by owner (none while the owner is not on the
// screen: the box is then centred on the screen), wide enough for its caption in a title bar, and
// shows it through the runner. A box with several buttons and no Cancel is answered only by its
// buttons: Escape and its close box do nothing. On the GUI thread only.
int ShowBox(QtDialogRunner& runner, QWidget* owner, const char* caption, const std::string& text,
            QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton);

// The core's boxes. Callable from any thread: a call from another thread waits until the user has
// answered the box on the GUI thread.
class QtMessageBoxes final : public MessageBoxes {
 public:
  explicit QtMessageBoxes(QtDialogRunner& runner, QWidget* owner = nullptr);

  void SetOwner(QWidget* owner) { owner_ = owner; }

  // "Korvex Firmware Update Utility Error", OK.
  void ShowError(const std::string& text) override;
  // "Korvex Firmware Update Utility", Yes and No, No the default.
  bool AskYesNo(const std::string& text) override;
  // The question box; the answer does not matter, the process ends after it.
  void ShowFatal(const std::string& text) override;

 private:
  QtDialogRunner& runner_;
  QPointer<QWidget> owner_;
};

}  // namespace kfw
