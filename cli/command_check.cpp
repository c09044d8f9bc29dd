#include <cstdio>

#include "cli/commands.h"
#include "cli/common.h"
#include "cli/exit_status.h"
#include "cli/terminal.h"
#include "image/image_file.h"
#include "image/image_file_io.h"

namespace kfw::cli {

int RunCheck(const std::vector<std::string>& args) {
  Arguments arguments;
  std::string error;
  if (!arguments.Parse(args, Concat({{"--company", true}, {"--product", true}}, kTraceOptions),
                       error)) {
    return UsageError("check", error);
  }
  if (arguments.Positional().size() != 1) return UsageError("check", "give one image file");
  ApplyTraceOptions(arguments);

  // The identifiers of a module that has answered; by default none has.
  unsigned long company = kAnyCompanyId;
  unsigned long product = kAnyProductId;
  if (auto text = arguments.Value("--company"); text && !ParseNumber(*text, 0xFFFF, company)) {
    return UsageError("check", "--company takes a number from 0 to 0xFFFF, not \"" + *text + "\"");
  }
  if (auto text = arguments.Value("--product"); text && !ParseNumber(*text, 0xFF, product)) {
    return UsageError("check", "--product takes a number from 0 to 0xFF, not \"" + *text + "\"");
  }
  receivedCompanyId.store(static_cast<uint16_t>(company));
  receivedProductId.store(static_cast<uint8_t>(product));

  std::vector<uint8_t> bytes;
  std::string message;
  if (!ReadImageFile(arguments.Positional()[0], bytes, message)) {
    PrintError(message);
    return kExitNoInput;
  }
  const ResultCode result = ValidateImage(bytes.data(), static_cast<uint32_t>(bytes.size()));
  if (result == kOk) {
    std::printf("%s\n", ResultText(result));
  } else {
    PrintError(ResultText(result));
  }
  return result;
}

}  // namespace kfw::cli
