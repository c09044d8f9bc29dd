#include "ui/qt/boxes.h"

#include "ui/qt/gui_thread.h"

namespace kfw {

int DialogRunner::RunMessageBox(QMessageBox& box) {
  return box.exec();
}

bool DialogRunner::RunFileDialog(QFileDialog& dialog, QString& chosen) {
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  chosen = dialog.selectedFiles().first();
  return true;
}

int ShowBox(DialogRunner& runner, QWidget* owner, const char* caption, const std::string& text,
            QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(caption), QString::fromUtf8(text), buttons,
                  owner);
  // File names and port names are shown as they are, never read as markup.
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(defaultButton);
  return runner.RunMessageBox(box);
}

QtMessageBoxes::QtMessageBoxes(DialogRunner& runner, QWidget* owner)
    : runner_(runner), owner_(owner) {}

void QtMessageBoxes::ShowError(const std::string& text) {
  RunOnGuiThread(
      [&] { ShowBox(runner_, owner_, kErrorCaption, text, QMessageBox::Ok, QMessageBox::Ok); });
}

bool QtMessageBoxes::AskYesNo(const std::string& text) {
  bool yes = false;
  RunOnGuiThread([&] {
    yes = ShowBox(runner_, owner_, kQuestionCaption, text, QMessageBox::Yes | QMessageBox::No,
                  QMessageBox::No) == QMessageBox::Yes;
  });
  return yes;
}

void QtMessageBoxes::ShowFatal(const std::string& text) {
  AskYesNo(text);
}

}  // namespace kfw
