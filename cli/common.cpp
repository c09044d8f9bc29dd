#include "cli/common.h"

#include <cstdio>

#include "base/report.h"
#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/port_choice.h"
#include "cli/visible_text.h"
#include "image/image_file.h"
#include "midi/ports.h"

namespace kfw::cli {

void ApplyTraceOptions(const Arguments& arguments) {
  if (auto path = arguments.Value("--trace-file")) SetTraceFilePath(*path);
  if (arguments.Has("-log") || arguments.Has("--log")) EnableTrace();
}

void PrintModule(const DeviceInfo& info, bool withProduct) {
  // All three are built from the module's status reply: none may reach the terminal as it came.
  std::printf("Serial #: %s\n", VisibleText(info.serialText).c_str());
  // The version is formed only for firmware the module reports as verified good; for any other,
  // an empty field would look like a version the module failed to tell.
  std::printf("Current firmware version #: %s\n",
              info.versionText[0] ? VisibleText(info.versionText).c_str() : kNotVerifiedHint);
  if (withProduct) std::printf("Product: %s\n", VisibleText(info.productName).c_str());
  std::fflush(stdout);
}

bool ApplyModuleIdentity(const Arguments& arguments, const char* command, int& status) {
  unsigned long company = kAnyCompanyId;
  unsigned long product = kAnyProductId;
  if (auto text = arguments.Value("--company"); text && !ParseNumber(*text, 0xFFFF, company)) {
    status =
        UsageError(command, "--company takes a number from 0 to 0xFFFF, not \"" + *text + "\"");
    return false;
  }
  if (auto text = arguments.Value("--product"); text && !ParseNumber(*text, 0xFF, product)) {
    status = UsageError(command, "--product takes a number from 0 to 0xFF, not \"" + *text + "\"");
    return false;
  }
  receivedCompanyId.store(static_cast<uint16_t>(company));
  receivedProductId.store(static_cast<uint8_t>(product));
  return true;
}

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

std::vector<OptionSpec> Concat(std::vector<OptionSpec> first,
                               const std::vector<OptionSpec>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

}  // namespace kfw::cli
