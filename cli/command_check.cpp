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
  if (!arguments.Parse(args, Concat(kIdentityOptions, kTraceOptions), error)) {
    return UsageError("check", error);
  }
  if (arguments.Positional().size() != 1) return UsageError("check", "give one image file");
  ApplyTraceOptions(arguments);

  int status = kExitOk;
  if (!ApplyModuleIdentity(arguments, "check", status)) return status;

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
