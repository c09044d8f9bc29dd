#include <cstdio>

#include "base/waiting.h"
#include "cli/commands.h"
#include "cli/common.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/front_end.h"
#include "image/image_file.h"
#include "image/image_file_io.h"
#include "image/image_walk.h"

namespace kfw::cli {

const char* const kCheckHelp =
    R"(Usage: kfwupdate check FILE [--company ID] [--product ID] [--json]

Reads FILE and checks it as the Update command does: format version, CRC-16, records, and
the file's company and product identifiers against those of a module that has answered,
given by --company and --product (by default none has: 0x7F7F and 0x7F). Prints the
result's text; exits with the result's number (0 for "No error"). A file for a module,
checked without its identifiers, is refused as the Update command would refuse it for
another module (16 or 17): the line under the result says which module the file is for and
what to do. --json writes the result, and the error box of a refused file, as lines of
JSON.

Examples:
  kfwupdate check firmware.kfw
  kfwupdate check firmware.kfw --company 0x0021 --product 0x0A
)";

namespace {

// After a mismatch with no module: the check's result is the system's ("Update file's product ID
// mismatched with device"), though no device took part; this says what happened and what to do.
// Empty when a module's identifiers were given.
std::string NoModuleAdvice(const uint8_t* bytes, uint32_t length) {
  if (receivedCompanyId.load() != kAnyCompanyId || receivedProductId.load() != kAnyProductId) {
    return "";
  }
  ImageHeader header;
  ReadImageHeader(bytes, length, header);
  char text[320];
  std::snprintf(text, sizeof text,
                "The file is for company 0x%04X and product 0x%02X, and no module has answered "
                "(0x7F7F and 0x7F): give the module's --company and --product, or connect to the "
                "module (`kfwupdate update FILE --in PORT --out PORT` checks the file against the "
                "module that answers).",
                header.companyId, header.productId);
  return text;
}

// Reads and checks the file as the Update command does; returns the exit status.
int CheckFile(const std::string& name, FrontEnd& frontEnd) {
  std::vector<uint8_t> bytes;
  std::string message;
  if (!ReadImageFile(name, bytes, message)) {
    ShowError(message);
    return kExitNoInput;
  }
  const auto length = static_cast<uint32_t>(bytes.size());
  const ResultCode result = CancelRequested() ? kCanceled : ValidateImage(bytes.data(), length);
  // A Ctrl-C while a large file was read or checked ends the check as canceled, as it does
  // everywhere: with its result.
  if (CancelRequested()) {
    ShowError(ResultText(kCanceled));
    return kCanceled;
  }
  if (result == kOk) {
    frontEnd.ShowNote(ResultText(result));
    return result;
  }
  ShowError(ResultText(result));
  if (result == kProductMismatch || result == kCompanyMismatch) {
    if (const std::string advice = NoModuleAdvice(bytes.data(), length); !advice.empty()) {
      frontEnd.ShowAdvice(advice);
    }
  }
  return result;
}

}  // namespace

int RunCheckCommand(const std::vector<std::string>& args) {
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
  InstallInterruptHandler();
  return frontEnd->Finish(CheckFile(arguments.Positional()[0], *frontEnd));
}

}  // namespace kfw::cli
