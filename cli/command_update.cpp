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

const char* const kUpdateHelp =
    R"(Usage: kfwupdate update FILE --in PORT --out PORT [-y | --yes | -n | --no] [--fast] [--json]

What the window's Connect and then Update do: opens the ports, reaches the module, checks
FILE against the module that answered, then writes it: delays, resets, the preparation of
the firmware area and the image in acknowledged blocks; finally reads the status again and
starts the new firmware. Prints "Firmware was successfully updated." and the module's new
serial number and version.

When the module already holds this very version, verified good, the update asks whether to
write it anyway (default No). --yes (-y) and --no (-n) answer for scripts; without a
terminal to ask and without either, the answer is No.

--json writes every step as a line of JSON on standard output instead: each progress
caption and percentage, the module before and after, each box, the question with its
answer, and the result with its exit status. It never asks at the terminal: the answer
is --yes, --no or No.

--fast takes each answer as soon as it has arrived, and each message as sent as soon as the
port reports it gone, instead of at the next tenth of a second: over a MIDI cable an update
then takes about half as long, over USB a small part. The messages, their order and the
pauses the image asks for stay the same, and the module is given at least as long to answer
(at most a fifth of a second more).

Examples:
  kfwupdate update firmware.kfw --in 1 --out 1
  kfwupdate update firmware.kfw --in 1 --out 1 --fast
  kfwupdate update )" KFW_SAMPLE_IMAGE R"( --in sim --out sim -y -log
)";

namespace {

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
  return RunUpdate(image.data(), static_cast<uint32_t>(image.size()), info);
}

int RunUpdateCommand(const std::vector<std::string>& args) {
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
