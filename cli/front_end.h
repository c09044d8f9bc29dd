// What a command shows its user, chosen once by its options: the terminal (texts for people) or
// JSON lines for programs (--json). Both are the core's boxes and progress window, and take what
// only the command-line program reports: the module that answered with the success box, the port
// lists, an image's inspection, and the command's end.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/report.h"
#include "cli/arguments.h"
#include "engine/front_end_seams.h"
#include "engine/progress.h"
#include "image/image_inspect.h"
#include "protocol/device_status.h"

namespace kfw::cli {

// An inspection as it is shown: each part written out as it comes, so that the memory taken does
// not grow with the number of records.
class InspectionOutput : public InspectionSink {
 public:
  // The rest, once the walk is over; result: the command's, the check's unless it was stopped.
  virtual void Finish(const ImageInspection& inspection, ResultCode result) = 0;
};

class FrontEnd : public MessageBoxes, public ProgressWindow {
 public:
  // Installs itself as the boxes and the progress window, for as long as it lives. The device
  // layer is the port choice's (cli/port_choice.h), installed only while a command uses ports.
  void Install();

  // A success box (kConnectedText, kUpdatedText) and the
  // module's texts the window shows with it; withProduct: the product name among them (the window
  // leaves it as it was after an update).
  virtual void ShowSuccess(const std::string& text, const DeviceInfo& module, bool withProduct) = 0;
  // The two lists, "Receive from" and "Transmit to", each name at its position from 1 on.
  virtual void ShowPortLists(const std::vector<std::string>& inputs,
                             const std::vector<std::string>& outputs) = 0;
  // Where `inspect` tells what it finds in the file named fileName (as given on the command
  // line): the header and each record written out as the walk finds them, then Finish.
  virtual std::unique_ptr<InspectionOutput> StartInspection(const std::string& fileName) = 0;
  // A line meant for people only, such as `check`'s "No error": the end of the command tells the
  // same to programs.
  virtual void ShowNote(const std::string& text) = 0;
  // What to do about the error just shown, for people: the terminal puts it on the line after
  // the error; the result tells programs what happened.
  virtual void ShowAdvice(const std::string& text) = 0;
  // The command's end, once, with its exit status, which it returns. Statuses 0 and 2 to 17 are
  // the numbers of result codes; for the others the last error shown says why.
  virtual int Finish(int exitStatus) = 0;

 private:
  std::optional<InstalledSeams> installed_;
};

// --json, taken by ports, check, inspect, connect and update.
inline const std::vector<OptionSpec> kJsonOptions = {{"--json", false}};

// The same-version question's answer, taken by update: --yes or -y, --no or -n (as apt and
// fwupdmgr take them).
inline const std::vector<OptionSpec> kAnswerOptions = {
    {"--yes", false}, {"-y", false}, {"--no", false}, {"-n", false}};
bool AnswersYes(const Arguments& arguments);
bool AnswersNo(const Arguments& arguments);

// The front end the options ask for: JSON lines with --json, else the terminal. --yes and --no
// answer the question where a command takes them.
std::unique_ptr<FrontEnd> MakeFrontEnd(const Arguments& arguments);

}  // namespace kfw::cli
