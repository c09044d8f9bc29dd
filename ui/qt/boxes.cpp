#include "ui/qt/boxes.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QKeyEvent>
#include <QSpacerItem>
#include <QStyle>
#include <algorithm>

#include "ui/qt/gui_thread.h"

namespace kfw {

int QtDialogRunner::RunMessageBox(QMessageBox& box) {
  return box.exec();
}

bool QtDialogRunner::RunFileDialog(QFileDialog& dialog, QString& chosen) {
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  chosen = dialog.selectedFiles().first();
  return true;
}

namespace {

// A box is as wide as its text, and the window manager cuts a caption that does not fit its title
// bar beside the bar's buttons ("Korvex Firm…Utility Error"). The title bar's own font is the
// window manager's; the platform's title font, in bold as most title bars write it, stands for it,
// and the window icon and the minimise, maximise and close buttons take about a square of the
// bar's height each.
void MakeRoomForCaption(QMessageBox& box) {
  QFont titleFont = QFontDatabase::systemFont(QFontDatabase::TitleFont);
  titleFont.setBold(true);
  const QFontMetrics metrics(titleFont);
  const int barHeight = box.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &box);
  const int width = metrics.horizontalAdvance(box.windowTitle()) +
                    4 * std::max(barHeight, metrics.height()) + 2 * metrics.height();
  // The box sets its own fixed size from its layout's minimum width when it is shown, so the room
  // is a minimum of the layout, not of the box.
  auto* spacer = new QSpacerItem(width, 0, QSizePolicy::Fixed, QSizePolicy::Minimum);
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    grid->addItem(spacer, grid->rowCount(), 0, 1, grid->columnCount());
  } else if (box.layout()) {
    box.layout()->addItem(spacer);
  } else {
    delete spacer;
  }
}

// A question is answered with its buttons only. A box without a Cancel button takes Escape and its
// close box as its No, which would answer the question the user never read, and would let Escape
// pass over the fatal text; the system's Yes/No boxes have neither.
class AnsweredByButtonsOnly final : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Cancel)) {
      return true;
    }
    if (event->type() == QEvent::Close) {
      event->ignore();
      return true;
    }
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

int ShowBox(QtDialogRunner& runner, QWidget* owner, const char* caption, const std::string& text,
            QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) {
  // A box is centred on its owner. Before the main window is on the screen (the port lists are
  // filled first) that would be the corner where the hidden window stands: such a box has no owner
  // and is centred on the screen.
  QWidget* shownOwner = owner && owner->isVisible() ? owner : nullptr;
  AnsweredByButtonsOnly buttonsOnly;  // made before the box, so it outlives it
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(caption), QString::fromUtf8(text), buttons,
                  shownOwner);
  // File names and port names are shown as they are, never read as markup.
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(defaultButton);
  MakeRoomForCaption(box);
  if (!buttons.testFlag(QMessageBox::Cancel) && box.buttons().size() > 1) {
    box.installEventFilter(&buttonsOnly);
  }
  return runner.RunMessageBox(box);
}

QtMessageBoxes::QtMessageBoxes(QtDialogRunner& runner, QWidget* owner)
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
