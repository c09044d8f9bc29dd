#include "base/report.h"
#include "base/waiting.h"
#include "cli/commands.h"
#include "cli/common.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/front_end.h"
#include "cli/port_choice.h"
#include "engine/connect.h"
#include "engine/transfer.h"
#include "engine/update.h"
#include "image/image_file.h"
#include "image/image_file_io.h"
#include "midi/ports.h"

namespace kfw::cli {

namespace {

// The options of the commands that talk to a module.
const std::vector<OptionSpec> kPortOptions = {
    {"--in", true}, {"--out", true}, {"--simulator", false}, {"--fast", false}};

// The port options, before anything is opened: both given, each a word that could name a port.
// Returns the usage error's status, or -1.
int CheckPortOptions(const char* command, const Arguments& arguments) {
  const auto in = arguments.Value("--in");
  const auto out = arguments.Value("--out");
  if (!out) return UsageError(command, "choose the port to transmit to with --out PORT");
  if (!in) return UsageError(command, "choose the port to receive from with --in PORT");
  std::string error;
  if (!PortWordReadable(*out, error)) return UsageError(command, "--out: " + error);
  if (!PortWordReadable(*in, error)) return UsageError(command, "--in: " + error);
  return -1;
}

// What the window's Connect does up to the procedure: choose, then open the two ports. Returns
// the exit status to end with, or -1 when the ports are open. The options have been checked.
int OpenChosenPorts(const char* command, const Arguments& arguments, PortChoice& ports) {
  const std::string in = arguments.Value("--in").value_or("");
  const std::string out = arguments.Value("--out").value_or("");
  if (!ports.SetUp(arguments.Has("--simulator"), {in, out})) return kExitUnavailable;
  int32_t input = -1, output = -1;
  std::string error;
  if (!ports.ResolveInput(in, input, error) || !ports.ResolveOutput(out, output, error)) {
    ShowError("kfwupdate " + std::string(command) + ": " + error);
    return kExitUnavailable;
  }
  inputBus = input;
  outputBus = output;
  // OpenPorts shows its own message when it fails.
  if (!OpenPorts(InputDeviceAt(input), OutputDeviceAt(output))) return kExitUnavailable;
  return -1;
}

// Opens the ports and reaches the module; returns the exit status.
int ConnectToModule(const Arguments& arguments, FrontEnd& frontEnd) {
  PortChoice ports;
  if (const int status = OpenChosenPorts("connect", arguments, ports); status >= 0) return status;
  const ResultCode result = Connect(deviceInfo);
  ClosePorts();
  if (result != kOk) {
    ShowError(ResultText(result));
    return result;
  }
  frontEnd.ShowSuccess(kConnectedText, deviceInfo, true);
  return kExitOk;
}

// Reads the image, opens the ports, connects and updates; returns the exit status.
int UpdateModule(const std::string& file, const Arguments& arguments, FrontEnd& frontEnd) {
  // A file that cannot be read is told before any port is touched.
  std::vector<uint8_t> bytes;
  std::string message;
  if (!ReadImageFile(file, bytes, message)) {
    ShowError(message);
    return kExitNoInput;
  }

  PortChoice ports;
  if (const int status = OpenChosenPorts("update", arguments, ports); status >= 0) return status;

  const ResultCode result = ConnectCheckAndUpdate(
      bytes, deviceInfo, [&] { frontEnd.ShowSuccess(kConnectedText, deviceInfo, true); });
  // Closing waits until the final reset has left, so the module is not left in its loader.
  ClosePorts();
  if (result != kOk) {
    ShowError(ResultText(result));
    // What the window shows by emptying its version field: the version printed on connecting is
    // gone. (JSON lines tell it by the "Preparing firmware area..." progress before the error.)
    if (firmwareAreaErased) frontEnd.ShowNote(kErasedNote);
    return result;
  }
  frontEnd.ShowSuccess(kUpdatedText, deviceInfo, false);
  return kExitOk;
}

}  // namespace

ResultCode ConnectCheckAndUpdate(const std::vector<uint8_t>& image, DeviceInfo& info,
                                 const std::function<void()>& connected) {
  ResultCode result = Connect(info);
  if (result != kOk) return result;
  connected();
  result = ValidateImage(image.data(), static_cast<uint32_t>(image.size()));
  if (result != kOk) return result;
  return kfw::RunUpdate(image.data(), static_cast<uint32_t>(image.size()), info);
}

int RunConnect(const std::vector<std::string>& args) {
  Arguments arguments;
  std::string error;
  if (!arguments.Parse(args, Concat(Concat(kPortOptions, kJsonOptions), kTraceOptions), error)) {
    return UsageError("connect", error);
  }
  if (!arguments.Positional().empty()) return UsageError("connect", "takes no file");
  if (const int status = CheckPortOptions("connect", arguments); status >= 0) return status;
  ApplyTraceOptions(arguments);
  fastMode = arguments.Has("--fast");

  const auto frontEnd = MakeFrontEnd(arguments);
  frontEnd->Install();
  InstallInterruptHandler();
  return frontEnd->Finish(ConnectToModule(arguments, *frontEnd));
}

int RunUpdate(const std::vector<std::string>& args) {
  Arguments arguments;
  std::string error;
  if (!arguments.Parse(
          args, Concat(Concat(Concat(kPortOptions, kAnswerOptions), kJsonOptions), kTraceOptions),
          error)) {
    return UsageError("update", error);
  }
  if (arguments.Positional().size() != 1) return UsageError("update", "give one image file");
  if (AnswersYes(arguments) && AnswersNo(arguments)) {
    return UsageError("update", "--yes and --no cannot both answer");
  }
  if (const int status = CheckPortOptions("update", arguments); status >= 0) return status;
  ApplyTraceOptions(arguments);
  fastMode = arguments.Has("--fast");

  const auto frontEnd = MakeFrontEnd(arguments);
  frontEnd->Install();
  InstallInterruptHandler();
  return frontEnd->Finish(UpdateModule(arguments.Positional()[0], arguments, *frontEnd));
}

}  // namespace kfw::cli
