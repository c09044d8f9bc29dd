#include "cli/common.h"

#include <cstdio>

#include "base/report.h"
#include "cli/visible_text.h"

namespace kfw::cli {

void ApplyTraceOptions(const Arguments& arguments) {
  if (auto path = arguments.Value("--trace-file")) SetTraceFilePath(*path);
  if (arguments.Has("-log") || arguments.Has("--log")) EnableTrace();
}

void PrintModule(const DeviceInfo& info, bool withProduct) {
  // All three are built from the module's status reply: none may reach the terminal as it came.
  std::printf("Serial #: %s\n", VisibleText(info.serialText).c_str());
  std::printf("Current firmware version #: %s\n", VisibleText(info.versionText).c_str());
  if (withProduct) std::printf("Product: %s\n", VisibleText(info.productName).c_str());
  std::fflush(stdout);
}

std::vector<OptionSpec> Concat(std::vector<OptionSpec> first, const std::vector<OptionSpec>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

}  // namespace kfw::cli
