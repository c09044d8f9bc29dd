#include "ui/qt/progress_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <algorithm>

#include "base/waiting.h"
#include "ui/logic/dialog_templates.h"
#include "ui/qt/dialog_builder.h"
#include "ui/qt/gui_thread.h"

namespace kfw {

QtProgressWindow::QtProgressWindow() : QFrame(nullptr, Qt::Dialog | Qt::FramelessWindowHint) {
  // No title bar: the raised panel is the window's edge.
  setFrameStyle(QFrame::Panel | QFrame::Raised);
  setLineWidth(2);
  setFont(DialogFont());
  const DialogTemplate& dialog = ProgressWindowTemplate();
  controls_ = BuildControls(dialog, *this, {});
  setFixedSize(PixelSize(dialog, BaseUnitsOf(font())));
  QObject::connect(CancelButton(), &QPushButton::clicked, [] { RequestCancel(); });
}

QPushButton* QtProgressWindow::CancelButton() const {
  return static_cast<QPushButton*>(controls_.at(kProgressCancelButton));
}

QLabel* QtProgressWindow::Caption() const {
  return static_cast<QLabel*>(controls_.at(kProgressCaption));
}

QProgressBar* QtProgressWindow::Bar() const {
  return static_cast<QProgressBar*>(controls_.at(kProgressBar));
}

void QtProgressWindow::Show() {
  PostToGuiThread([this] { ShowNow(); });
}

void QtProgressWindow::Update(const char* caption, uint32_t percent) {
  const QString text = QString::fromUtf8(caption);
  PostToGuiThread([this, text, percent] {
    Caption()->setText(text);
    Bar()->setValue(static_cast<int>(std::min<uint32_t>(percent, 100)));
  });
}

void QtProgressWindow::Hide() {
  RunOnGuiThread([this] { hide(); });
}

void QtProgressWindow::ShowNow() {
  Caption()->clear();
  Bar()->setValue(0);
  // No owner: centred on the screen, not on the main window.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  show();
  raise();
  activateWindow();
  CancelButton()->setFocus(Qt::OtherFocusReason);
}

void QtProgressWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QFrame::keyPressEvent(event);
}

void QtProgressWindow::closeEvent(QCloseEvent* event) {
  event->accept();
}

}  // namespace kfw
