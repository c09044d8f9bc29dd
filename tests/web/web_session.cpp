// One session of the main window's logic on the in-page simulated module, in real time on the
// web build's one thread, as the page will run it: the lists filled with "Simulated QX-412",
// Connect, the image named, Update, Exit. Every procedure's wait hands the thread to Node's event
// loop, from which the module's timers answer. Prints the time each command took, and exits 0
// only when the module was connected and updated without a box of error.
//   kfw_web_session [--fast]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/report.h"
#include "base/waiting.h"
#include "engine/front_end_seams.h"
#include "image/image_writer.h"
#include "midi/backends/backends.h"
#include "midi/device.h"
#include "sim/module_ports.h"
#include "ui/logic/dialog_templates.h"
#include "ui/logic/main_window_logic.h"

namespace kfw {
namespace {

// The boxes as the page will show them, here on standard error; every question answered Yes.
class SessionBoxes final : public MessageBoxes {
 public:
  void ShowError(const std::string& text) override {
    std::fprintf(stderr, "error box: %s\n", text.c_str());
    errors.push_back(text);
  }
  bool AskYesNo(const std::string& text) override {
    std::fprintf(stderr, "question (Yes): %s\n", text.c_str());
    return true;
  }
  void ShowFatal(const std::string& text) override {
    std::fprintf(stderr, "fatal: %s\n", text.c_str());
    std::exit(1);
  }
  std::vector<std::string> errors;
};

// The page's controls as plain values, and the time each procedure took.
class SessionWindow final : public MainWindowControls {
 public:
  void AddPortEntry(int list, const std::string& text) override { entries[list].push_back(text); }
  void SelectPortEntry(int list, int32_t position) override { selected[list] = position; }
  void EnableControl(int id, bool on) override { enabled[id] = on; }
  int32_t SelectedPosition(int list) override { return selected.count(list) ? selected[list] : -1; }
  std::string ControlText(int id) override { return texts[id]; }
  void SetControlText(int id, const std::string& text) override { texts[id] = text; }
  void PostCloseRequest() override { closeRequested = true; }
  void EndWindow() override { ended = true; }
  void ShowSuccess(const std::string& text) override { successes.push_back(text); }
  bool ChooseFile(std::string&) override { return false; }
  ResultCode RunProcedure(const std::function<ResultCode()>& procedure) override {
    const auto start = std::chrono::steady_clock::now();
    const ResultCode result = procedure();
    lastMilliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return result;
  }

  std::map<int, std::vector<std::string>> entries;
  std::map<int, int32_t> selected;
  std::map<int, bool> enabled;
  std::map<int, std::string> texts;
  std::vector<std::string> successes;
  bool closeRequested = false;
  bool ended = false;
  double lastMilliseconds = 0;
};

int32_t PositionOf(const std::vector<std::string>& entries, const std::string& name) {
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i] == name) return static_cast<int32_t>(i);
  }
  return -1;
}

int RunSession(bool fast) {
  fastMode = fast;
  SessionBoxes boxes;
  BackendOptions options;
  options.extraBackends.push_back(std::make_unique<SimulatedModulePorts>());
  auto layer = MakeStandardDeviceLayer(std::move(options));

  // 4 KiB for the module's own company and product, newer than the version it holds (1.2), in
  // the page's file system as a picked file will be.
  const std::string image = "/tmp/session.kfw";
  const std::vector<uint8_t> data(4096, 0x2A);
  const std::vector<uint8_t> bytes =
      ImageWriter::Version1(0x0021, 0x0A).Image(1, 3, data).End().Bytes();
  std::ofstream(image, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));

  SessionWindow window;
  MainWindowLogic logic(window);
  const InstalledSeams seams({.deviceLayer = layer.get(), .boxes = &boxes});
  if (!logic.OnInitDialog()) return 1;
  for (const int list : {kReceiveFromList, kTransmitToList}) {
    window.selected[list] = PositionOf(window.entries[list], kSimulatedPortName);
    logic.OnCommand(list, kListSelectionChange);
  }
  logic.OnCommand(kConnectButton, kClicked);
  const double connectMilliseconds = window.lastMilliseconds;
  window.texts[kImageNameField] = image;
  logic.OnCommand(kImageNameField, kFieldChange);
  logic.OnCommand(kImageNameField, kFieldKillFocus);
  logic.OnCommand(kUpdateButton, kClicked);
  const double updateMilliseconds = window.lastMilliseconds;
  logic.OnCommand(kExitButton, kClicked);
  if (window.closeRequested) logic.OnCloseRequest();

  std::printf("%s mode: connect %.0f ms, update of %zu bytes %.0f ms (real time, 31250 baud)\n",
              fast ? "fast" : "normal", connectMilliseconds, data.size(), updateMilliseconds);
  const std::vector<std::string> expected = {"Connection established!",
                                             "Firmware was successfully updated."};
  if (window.successes != expected || !boxes.errors.empty() || !window.ended) {
    std::fprintf(stderr, "the session did not connect, update and end\n");
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace kfw

int main(int argc, char** argv) {
  const bool fast = argc > 1 && std::string(argv[1]) == "--fast";
  // exit, not return: main has returned to the event loop at its first wait already.
  std::exit(kfw::RunSession(fast));
}
