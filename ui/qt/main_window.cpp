#include "ui/qt/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <atomic>
#include <thread>

#include "ui/qt/dialog_builder.h"
#include "ui/qt/progress_window.h"

namespace kfw {

namespace {

bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::InputMethod:
      return true;
    default:
      return false;
  }
}

}  // namespace

QtMainWindow::QtMainWindow(QtDialogRunner& runner)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      runner_(runner),
      logic_(*this) {
  const DialogTemplate& dialog = MainWindowTemplate();
  setWindowTitle(QString::fromUtf8(dialog.title));
  setFont(DialogFont());
  controls_ = BuildControls(dialog, *this, [this](int id, int code) { Notify(id, code); });
  setFixedSize(PixelSize(dialog, BaseUnitsOf(font())));
  busyCover_ = new QWidget(this);
  busyCover_->setGeometry(rect());
  busyCover_->setCursor(Qt::WaitCursor);
  busyCover_->hide();
  for (const int button : {kUpdateButton, kConnectButton, kFindImageButton, kExitButton}) {
    QObject::connect(static_cast<QPushButton*>(controls_.at(button)), &QPushButton::clicked, this,
                     [this, button] { Notify(button, kClicked); });
  }
  qApp->installEventFilter(this);
}

QtMainWindow::~QtMainWindow() {
  qApp->removeEventFilter(this);
  // Hiding a window moves the focus out of its controls, and the controls would report that to a
  // window whose own part is already gone by the time the dialog's destructor hides it. So the
  // window is hidden and its controls are destroyed here, with their notifications switched off.
  ended_ = true;
  hide();
  for (QWidget* control : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) delete control;
  controls_.clear();
}

bool QtMainWindow::Initialise() {
  return logic_.OnInitDialog();
}

void QtMainWindow::CentreOnScreen() {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

QWidget* QtMainWindow::Control(int id) const {
  auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

void QtMainWindow::AddPortEntry(int list, const std::string& text) {
  if (auto* box = dynamic_cast<PortListBox*>(Control(list))) {
    box->AddEntry(QString::fromUtf8(text));
  }
}

void QtMainWindow::SelectPortEntry(int list, int32_t position) {
  if (auto* box = dynamic_cast<PortListBox*>(Control(list))) box->SelectEntry(position);
}

void QtMainWindow::EnableControl(int id, bool enabled) {
  if (QWidget* control = Control(id)) control->setEnabled(enabled);
}

int32_t QtMainWindow::SelectedPosition(int list) {
  auto* box = dynamic_cast<PortListBox*>(Control(list));
  return box ? box->currentIndex() : -1;
}

std::string QtMainWindow::ControlText(int id) {
  if (auto* field = dynamic_cast<QLineEdit*>(Control(id))) return field->text().toStdString();
  if (auto* label = dynamic_cast<QLabel*>(Control(id))) return label->text().toStdString();
  return {};
}

void QtMainWindow::SetControlText(int id, const std::string& text) {
  const QString value = QString::fromUtf8(text);
  if (auto* field = dynamic_cast<QLineEdit*>(Control(id))) {
    field->setText(value);
  } else if (auto* label = dynamic_cast<QLabel*>(Control(id))) {
    label->setText(value);
  }
}

void QtMainWindow::PostCloseRequest() {
  QMetaObject::invokeMethod(
      this, [this] { close(); }, Qt::QueuedConnection);
}

void QtMainWindow::EndWindow() {
  ended_ = true;
  done(0);
}

void QtMainWindow::ShowSuccess(const std::string& text) {
  ShowBox(runner_, this, kSuccessCaption, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool QtMainWindow::ChooseFile(std::string& name) {
  QFileDialog dialog(this, QString::fromUtf8(kChooserTitle), QString(),
                     QString::fromUtf8(kChooserFilter));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // A name that does not exist may be typed: the file check then says that it cannot be opened.
  dialog.setFileMode(QFileDialog::AnyFile);
  QString chosen;
  if (!runner_.RunFileDialog(dialog, chosen)) return false;
  name = QFile::encodeName(chosen).toStdString();
  return true;
}

ResultCode QtMainWindow::RunProcedure(const std::function<ResultCode()>& procedure) {
  busy_ = true;
  busyCover_->raise();
  busyCover_->show();
  ResultCode result = kOk;
  std::atomic<bool> done{false};
  QEventLoop loop;
  // The GUI thread keeps running events meanwhile: the progress window, the boxes the procedure
  // asks for, and repainting. The window's own input is dropped by the event filter.
  std::thread worker([&] {
    result = procedure();
    done.store(true);
    QMetaObject::invokeMethod(
        &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  loop.exec();
  // An application asked to quit leaves every loop at once; the worker may still need the GUI
  // thread for a box, so events go on until it is done.
  while (!done.load()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  worker.join();
  busyCover_->hide();
  busy_ = false;
  if (!deferred_.empty()) QTimer::singleShot(0, this, [this] { DeliverDeferred(); });
  return result;
}

void QtMainWindow::Notify(int id, int code) {
  if (ended_) return;
  if (busy_) {
    deferred_.emplace_back(id, code);
    return;
  }
  logic_.OnCommand(id, code);
}

void QtMainWindow::DeliverDeferred() {
  std::vector<std::pair<int, int>> pending;
  pending.swap(deferred_);
  for (const auto& [id, code] : pending) Notify(id, code);
}

void QtMainWindow::keyPressEvent(QKeyEvent* event) {
  // Escape is a command like any other: it does not close the window.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    Notify(kEscapeCommand, kClicked);
    return;
  }
  QDialog::keyPressEvent(event);
}

void QtMainWindow::closeEvent(QCloseEvent* event) {
  if (ended_) {
    event->accept();
    return;
  }
  event->ignore();
  // While a procedure runs the window takes no input, its close box included.
  if (busy_) return;
  logic_.OnCloseRequest();
}

void QtMainWindow::reject() {
  // The window ends only through its close request.
}

bool QtMainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (!busy_ || !watched->isWidgetType()) return QDialog::eventFilter(watched, event);
  if (static_cast<QWidget*>(watched)->window() == this && IsUserInput(event->type())) return true;
  // A click on the busy window brings it to the front; the progress window, the only way to
  // cancel, must not end up behind it.
  if (watched == this && event->type() == QEvent::WindowActivate) {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (dynamic_cast<QtProgressWindow*>(window) && window->isVisible()) {
        window->raise();
        window->activateWindow();
      }
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace kfw
