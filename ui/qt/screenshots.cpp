// kfwupdate-screenshots [directory]: renders the main window, connected to the simulated module,
// and the progress window to PNG files, so the layout can be looked at without a module or a user,
// and the screen with both windows where they stand. Runs on any Qt platform, offscreen included.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>

#include "base/report.h"
#include "base/result.h"
#include "engine/front_end_seams.h"
#include "engine/progress.h"
#include "midi/port_layer.h"
#include "midi/ports.h"
#include "sim/module_ports.h"
#include "ui/qt/boxes.h"
#include "ui/qt/main_window.h"
#include "ui/qt/progress_window.h"

namespace {

// Answers every box with its default button and prints what it said.
class AnsweringRunner final : public kfw::QtDialogRunner {
 public:
  int RunMessageBox(QMessageBox& box) override {
    std::fprintf(stderr, "[%s] %s\n", box.windowTitle().toUtf8().constData(),
                 box.text().toUtf8().constData());
    return box.defaultButton() ? box.standardButton(box.defaultButton()) : QMessageBox::Ok;
  }
  bool RunFileDialog(QFileDialog&, QString&) override { return false; }
};

// Nothing remembered, nothing written to the user's settings.
class NoSettings final : public kfw::PortSettingsStore {
 public:
  bool Open() override { return true; }
  bool Read(const char* name, int32_t& value) override {
    auto found = values_.find(name);
    if (found == values_.end()) return false;
    value = found->second;
    return true;
  }
  bool Write(const char* name, int32_t value) override {
    values_[name] = value;
    return true;
  }
  void Close() override {}

 private:
  std::map<std::string, int32_t> values_;
};

bool Save(const QPixmap& picture, const QString& path) {
  if (!picture.save(path, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", path.toUtf8().constData());
    return false;
  }
  std::printf("%s\n", path.toUtf8().constData());
  return true;
}

// The screen: under X as it is, taken from the display. A platform without a display (offscreen)
// has no screen to take, so the program's windows, bottom one first, are drawn at their places on
// an empty screen of the same size, without the title bars a window manager would add.
QPixmap Screen(std::initializer_list<QWidget*> windowsFromBottom) {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (QGuiApplication::platformName() == QLatin1String("xcb")) return screen->grabWindow(0);
  const QRect area = screen->geometry();
  QPixmap picture(area.size());
  picture.fill(Qt::darkGray);
  QPainter painter(&picture);
  for (QWidget* window : windowsFromBottom) {
    if (window->isVisible()) painter.drawPixmap(window->pos() - area.topLeft(), window->grab());
  }
  return picture;
}

void Settle() {
  for (int i = 0; i < 5; ++i) {
    QCoreApplication::processEvents();
    QThread::msleep(20);
  }
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  const QString directory = argc > 1 ? QString::fromLocal8Bit(argv[1]) : KFW_SCREENSHOT_DIR;
  if (!QDir().mkpath(directory)) {
    std::fprintf(stderr, "cannot create %s\n", directory.toUtf8().constData());
    return 1;
  }

  // A quick module: no wire time, short work.
  kfw::SimulatedPortsOptions quick;
  quick.link.baud = 0;
  quick.timing.answerMicros = 500;
  kfw::PortsDeviceLayer layer;
  layer.AddBackend(std::make_unique<kfw::SimulatedModulePorts>(quick));
  NoSettings settings;

  AnsweringRunner runner;
  kfw::QtMainWindow window(runner);
  kfw::QtMessageBoxes boxes(runner, &window);
  kfw::QtProgressWindow progress;
  const kfw::InstalledSeams seams(
      {.deviceLayer = &layer, .portSettings = &settings, .boxes = &boxes, .progress = &progress});

  if (!window.Initialise()) return 1;
  window.CentreOnScreen();
  window.show();
  // As a user would: the simulated module in both lists, then Connect.
  static_cast<QComboBox*>(window.Control(kfw::kTransmitToList))->setCurrentIndex(1);
  static_cast<QComboBox*>(window.Control(kfw::kReceiveFromList))->setCurrentIndex(1);
  static_cast<QPushButton*>(window.Control(kfw::kConnectButton))->click();
  int status = 0;
  if (!window.Logic().IsConnected()) {
    std::fprintf(stderr, "the simulated module did not connect\n");
    status = 1;
  }
  window.SetControlText(kfw::kImageNameField, "/home/user/firmware/qx412-1.3.kfw");
  Settle();
  if (!Save(window.grab(), directory + "/main-window.png")) status = 1;

  kfw::OpenProgress();
  kfw::SetProgress(kfw::TextTable[kfw::kTextUpdatingArea], 40);
  Settle();
  if (!Save(progress.grab(), directory + "/progress-window.png")) status = 1;
  if (!Save(Screen({&window, &progress}), directory + "/screen.png")) status = 1;
  kfw::CloseProgress();
  return status;
}
