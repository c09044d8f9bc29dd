#include "cli/commands.h"
#include "cli/common.h"
#include "cli/exit_status.h"
#include "cli/front_end.h"
#include "image/image_file.h"
#include "image/image_file_io.h"

namespace kfw::cli {

namespace {

// Reads and checks the file as the Update command does; returns the exit status.
int CheckFile(const std::string& name, FrontEnd& frontEnd) {
  std::vector<uint8_t> bytes;
  std::string message;
  if (!ReadImageFile(name, bytes, message)) {
    ShowError(message);
    return kExitNoInput;
  }
  const ResultCode result = ValidateImage(bytes.data(), static_cast<uint32_t>(bytes.size()));
  if (result == kOk) {
    frontEnd.ShowNote(ResultText(result));
  } else {
    ShowError(ResultText(result));
  }
  return result;
}

}  // namespace

int RunCheck(const std::vector<std::string>& args) {
  Arguments arguments;
  std::string error;
  if (!arguments.Parse(args, Concat(Concat(kIdentityOptions, kJsonOptions), kTraceOptions),
                       error)) {
    return UsageError("check", error);
  }
  if (arguments.Positional().size() != 1) return UsageError("check", "give one image file");
  ApplyTraceOptions(arguments);

  int status = kExitOk;
  if (!ApplyModuleIdentity(arguments, "check", status)) return status;

  const auto frontEnd = MakeFrontEnd(arguments);
  frontEnd->Install();
  return frontEnd->Finish(CheckFile(arguments.Positional()[0], *frontEnd));
}

}  // namespace kfw::cli
