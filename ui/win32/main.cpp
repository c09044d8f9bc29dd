// kfwupdate-gui.exe: the desktop program on Windows. Choose the ports, connect to the module,
// choose an image file and update.
//
// Options: "-log" anywhere on the command line writes the trace of every message sent and
// received to c:\trace.txt; "--simulator", or KFW_SIMULATOR=1, lists a simulated QX-412 among the
// ports, to try the program without a module.
#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "base/report.h"
#include "base/waiting.h"
#include "engine/front_end_seams.h"
#include "midi/backends/backends.h"
#include "midi/port_settings_registry.h"
#include "sim/module_ports.h"
#include "ui/logic/program_options.h"
#include "ui/win32/boxes.h"
#include "ui/win32/main_window.h"
#include "ui/win32/progress_window.h"
#include "ui/win32/text.h"

namespace {

// The arguments after the program's own name, as UTF-8.
std::vector<std::string> CommandLineArguments() {
  std::vector<std::string> arguments;
  int count = 0;
  if (LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count)) {
    for (int i = 1; i < count; ++i) arguments.push_back(kfw::Utf8FromUtf16(words[i]));
    LocalFree(words);
  }
  return arguments;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  const kfw::ProgramOptions options = kfw::ReadProgramOptions(CommandLineArguments());
  if (options.trace) kfw::EnableTrace();
  // Before any port is opened: the fast mode opens the output with its done notice.
  kfw::fastMode = options.fast;

  // The progress window's bar.
  INITCOMMONCONTROLSEX commonControls{sizeof commonControls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&commonControls);

  kfw::BackendOptions backends;
  if (options.simulator) {
    backends.extraBackends.push_back(std::make_unique<kfw::SimulatedModulePorts>());
  }
  const auto layer = kfw::MakeStandardDeviceLayer(std::move(backends));
  kfw::RegistryPortSettingsStore settings;

  kfw::Win32DialogRunner runner;
  kfw::Win32MessageBoxes boxes(runner);
  kfw::Win32ProgressWindow progress(instance);
  kfw::Win32MainWindow window(runner, boxes, instance);
  const kfw::InstalledSeams seams({.deviceLayer = layer.get(),
                                   .portSettings = &settings,
                                   .boxes = &boxes,
                                   .progress = &progress});
  return window.Run();
}
