#include "base/report.h"
#include "base/waiting.h"
#include "cli/commands.h"
#include "cli/common.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/front_end.h"
#include "image/image_file_io.h"
#include "image/image_inspect.h"

namespace kfw::cli {

const char* const kInspectHelp =
    R"(Usage: kfwupdate inspect FILE [--company ID] [--product ID] [--json]

Shows what an image file holds: its format version, company and product identifiers, the
CRC-16 stored in it and the one computed, and each record in the order an update plays it,
with its type, arguments, offset and data length. Records are named as `kfwupdate pack`
takes them. The file is checked as `kfwupdate check` does it, against the module given by
--company and --product (by default none has answered: 0x7F7F and 0x7F); for a bad file it
says which record goes wrong, at which offset, and the result `check` gives. Exits with the
result's number, as `check` does. --json writes the same as one line of JSON (the header,
CRC, records and faults), followed by a line with the result. Each record is written out as
it is walked, so a file of millions of records takes no more memory than the file itself
and a few MB.

Examples:
  kfwupdate inspect firmware.kfw
  kfwupdate inspect firmware.kfw --company 0x0021 --product 0x0A
)";

namespace {

// Passes what the walk finds on to the output, and stops the walk at a Ctrl-C: a file of millions
// of records takes a while to show.
class StopOnCancel final : public InspectionSink {
 public:
  explicit StopOnCancel(InspectionSink& output) : output_(output) {}
  void HeaderRead(const ImageInspection& inspection) override { output_.HeaderRead(inspection); }
  bool RecordWalked(uint32_t number, const ImageRecord& record) override {
    return !CancelRequested() && output_.RecordWalked(number, record);
  }

 private:
  InspectionSink& output_;
};

// Reads the file and shows what it holds; returns the exit status, the check's result.
int InspectFile(const std::string& name, FrontEnd& frontEnd) {
  std::vector<uint8_t> bytes;
  std::string message;
  if (!ReadImageFile(name, bytes, message)) {
    ShowError(message);
    return kExitNoInput;
  }
  // The file may be large: a Ctrl-C while it was read ends the command before it is shown.
  if (CancelRequested()) {
    ShowError(ResultText(kCanceled));
    return kCanceled;
  }
  const auto output = frontEnd.StartInspection(name);
  StopOnCancel walk(*output);
  const ImageInspection inspection =
      InspectImage(bytes.data(), static_cast<uint32_t>(bytes.size()), walk);
  // A Ctrl-C after the last record still ends the command as canceled, as it does everywhere.
  const ResultCode result = CancelRequested() ? kCanceled : inspection.result;
  output->Finish(inspection, result);
  return result;
}

}  // namespace

int RunInspectCommand(const std::vector<std::string>& args) {
  Arguments arguments;
  std::string error;
  if (!arguments.Parse(args, Concat(Concat(kIdentityOptions, kJsonOptions), kTraceOptions),
                       error)) {
    return UsageError("inspect", error);
  }
  if (arguments.Positional().size() != 1) return UsageError("inspect", "give one image file");
  ApplyTraceOptions(arguments);
  int status = kExitOk;
  if (!ApplyModuleIdentity(arguments, "inspect", status)) return status;

  const auto frontEnd = MakeFrontEnd(arguments);
  frontEnd->Install();
  InstallInterruptHandler();
  return frontEnd->Finish(InspectFile(arguments.Positional()[0], *frontEnd));
}

}  // namespace kfw::cli
