#include "cli/common.h"

#include <cstdio>

#include "base/report.h"

namespace kfw::cli {

void ApplyTraceOptions(const Arguments& arguments) {
  if (auto path = arguments.Value("--trace-file")) SetTraceFilePath(*path);
  if (arguments.Has("-log") || arguments.Has("--log")) EnableTrace();
}

void PrintModule(const DeviceInfo& info, bool withProduct) {
  std::printf("Serial #: %s\n", info.serialText);
  std::printf("Current firmware version #: %s\n", info.versionText);
  if (withProduct) std::printf("Product: %s\n", info.productName);
  std::fflush(stdout);
}

std::vector<OptionSpec> Concat(std::vector<OptionSpec> first, const std::vector<OptionSpec>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

}  // namespace kfw::cli
