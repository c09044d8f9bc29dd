#include "cli/common.h"

#include <cstdio>

#include "base/report.h"
#include "cli/commands.h"
#include "cli/visible_text.h"
#include "image/image_file.h"

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

std::vector<OptionSpec> Concat(std::vector<OptionSpec> first,
                               const std::vector<OptionSpec>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

}  // namespace kfw::cli
