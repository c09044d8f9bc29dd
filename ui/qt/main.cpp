// kfwupdate-gui: the desktop program. Choose the ports, connect to the module, choose an image
// file and update.
//
// Options: see kHelp below, which --help prints.
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/report.h"
#include "base/waiting.h"
#include "engine/front_end_seams.h"
#include "midi/backends/backends.h"
#include "midi/port_settings_file.h"
#include "sim/module_ports.h"
#include "ui/logic/program_options.h"
#include "ui/qt/boxes.h"
#include "ui/qt/desktop_identity.h"
#include "ui/qt/main_window.h"
#include "ui/qt/progress_window.h"

namespace {

// One option a line, its text from column 20: help2man turns this into the manual page.
constexpr const char* kHelp = R"(Usage: kfwupdate-gui [OPTIONS]

Replaces the firmware of a Korvex QX-412 MIDI module over MIDI, from a window: choose the
ports ("Transmit to" and "Receive from"), Connect, Find image (a .kfw file), Update. The
chosen ports are remembered for the next start.

Options:
  -log              write a trace of every message sent and received; any argument that
                    holds -log switches it on. The trace goes to $KFW_TRACE_FILE, else
                    kfwupdate-trace.txt in the current directory
  --simulator       list the built-in simulated module "Simulated QX-412" among the ports,
                    to try the program without a module
  --fast            take each answer as soon as it has arrived and each message as sent as
                    soon as its port reports it gone; the messages and their order stay as
                    they are, and every answer is waited for at least as long
  -h, --help        show this help
  --version         show the version
Qt's own options are taken as well, for example -platform offscreen.

Exit status:
  0                 the window was closed
  1                 there is no MIDI input or no MIDI output at all (the window says so
                    first), or the MIDI service failed

Environment:
  KFW_SIMULATOR     1 (or yes, true) lists the simulated module, as --simulator does
  KFW_TRACE_FILE    where -log writes the trace
  XDG_CONFIG_HOME   the folder of kfwupdate/ports.conf, else ~/.config

Files:
  $XDG_CONFIG_HOME/kfwupdate/ports.conf
                    the chosen ports, remembered between starts; anything there but a
                    regular file of at most 4 KiB is taken as corrupt and replaced at the
                    next save
  kfwupdate-trace.txt
                    the trace, with -log, when KFW_TRACE_FILE names no other file

Examples:
  kfwupdate-gui --simulator
  kfwupdate-gui -log
)";

bool HasOption(int argc, char** argv, const char* option) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], option) == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // Answered before Qt starts, so that they work without a display.
  if (HasOption(argc, argv, "--help") || HasOption(argc, argv, "-h")) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (HasOption(argc, argv, "--version")) {
    std::printf("kfwupdate-gui %s\n", KFW_VERSION);
    return 0;
  }
  // Read before Qt takes its own options out of the arguments.
  const kfw::ProgramOptions programOptions =
      kfw::ReadProgramOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (programOptions.trace) kfw::EnableTrace();
  // Before any port is opened: the fast mode opens the output with its done notice.
  kfw::fastMode = programOptions.fast;

  QApplication application(argc, argv);
  // The program ends when the main window does, not when its last window closes: the progress
  // window comes and goes.
  QApplication::setQuitOnLastWindowClosed(false);
  kfw::SetDesktopIdentity();

  kfw::BackendOptions options;
  if (programOptions.simulator) {
    options.extraBackends.push_back(std::make_unique<kfw::SimulatedModulePorts>());
  }
  std::unique_ptr<kfw::MidiDeviceLayer> layer = kfw::MakeStandardDeviceLayer(std::move(options));
  kfw::FilePortSettingsStore settings;

  kfw::QtDialogRunner runner;
  kfw::QtMainWindow window(runner);
  kfw::QtMessageBoxes boxes(runner, &window);
  kfw::QtProgressWindow progress;
  const kfw::InstalledSeams seams({.deviceLayer = layer.get(),
                                   .portSettings = &settings,
                                   .boxes = &boxes,
                                   .progress = &progress});

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
  return status;
}
