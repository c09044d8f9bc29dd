#include "cli/front_end.h"

#include "cli/json_front_end.h"
#include "cli/terminal.h"

namespace kfw::cli {

void FrontEnd::Install() {
  installed_.emplace(FrontEndSeams{.boxes = this, .progress = this});
}

bool AnswersYes(const Arguments& arguments) {
  return arguments.Has("--yes") || arguments.Has("-y");
}
bool AnswersNo(const Arguments& arguments) {
  return arguments.Has("--no") || arguments.Has("-n");
}

std::unique_ptr<FrontEnd> MakeFrontEnd(const Arguments& arguments) {
  std::optional<bool> answer;
  if (AnswersYes(arguments)) answer = true;
  if (AnswersNo(arguments)) answer = false;
  if (arguments.Has("--json")) return std::make_unique<JsonFrontEnd>(answer);
  return std::make_unique<TerminalFrontEnd>(answer);
}

}  // namespace kfw::cli
