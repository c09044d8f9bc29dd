// kfwupdate-gui: the desktop program. Choose the ports, connect to the module, choose an image
// file and update.
//
// Options: "-log" anywhere on the command line writes the trace of every message sent and
// received (see TraceFilePath); "--simulator", or KFW_SIMULATOR=1, lists a simulated QX-412 among
// the ports, to try the program without a module; "--fast" takes each answer as soon as it has
// arrived and each message as sent as soon as its port reports it gone (the window has no room for
// a switch, so it is an option of the command line).
#include <QApplication>
#include <cstring>
#include <memory>

#include "base/report.h"
#include "base/waiting.h"
#include "engine/progress.h"
#include "midi/backends/backends.h"
#include "midi/port_settings_file.h"
#include "midi/ports.h"
#include "sim/ports.h"
#include "ui/qt/boxes.h"
#include "ui/qt/main_window.h"
#include "ui/qt/progress_window.h"

namespace {

bool HasOption(int argc, char** argv, const char* option) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], option) == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // Read before Qt takes its own options out of the arguments.
  const bool simulator =
      HasOption(argc, argv, "--simulator") || kfw::SimulatorRequestedByEnvironment();
  if (kfw::CommandLineAsksForLog(argc, argv)) kfw::EnableTrace();
  // Before any port is opened: the fast mode opens the output with its done notice.
  kfw::fastMode = HasOption(argc, argv, "--fast");

  QApplication application(argc, argv);
  // The program ends when the main window does, not when its last window closes: the progress
  // window comes and goes.
  QApplication::setQuitOnLastWindowClosed(false);

  kfw::BackendOptions options;
  if (simulator) options.extraBackends.push_back(std::make_unique<kfw::SimulatedModulePorts>());
  std::unique_ptr<kfw::PortsDeviceLayer> layer = kfw::MakeStandardDeviceLayer(std::move(options));
  kfw::InstallMidiDeviceLayer(layer.get());
  kfw::FilePortSettingsStore settings;
  kfw::InstallPortSettingsStore(&settings);

  kfw::DialogRunner runner;
  kfw::QtMainWindow window(runner);
  kfw::QtMessageBoxes boxes(runner, &window);
  kfw::InstallMessageBoxes(&boxes);
  kfw::QtProgressWindow progress;
  kfw::InstallProgressWindow(&progress);

  int status = 0;
  if (window.Initialise()) {
    QObject::connect(&window, &QDialog::finished, &application, &QCoreApplication::quit);
    window.CentreOnScreen();
    window.show();
    QApplication::exec();
  } else {
    // No MIDI input or output at all: the message has been shown.
    status = 1;
  }

  kfw::ClosePorts();
  kfw::InstallProgressWindow(nullptr);
  kfw::InstallMessageBoxes(nullptr);
  kfw::InstallPortSettingsStore(nullptr);
  kfw::InstallMidiDeviceLayer(nullptr);
  return status;
}
