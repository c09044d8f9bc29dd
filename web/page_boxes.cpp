#include "web/page_boxes.h"

#include <emscripten/emscripten.h>

#include "base/result.h"
#include "web/page_bridge.h"
#include "web/page_options.h"

namespace kfw {

bool ShowPageBox(const char* kind, const char* caption, const std::string& text) {
  // The box's caption and text go together as one argument pair; the page's answer is its button.
  return page::Await("showBox", std::string(kind) + '\n' + caption, text) == "yes";
}

void PageMessageBoxes::ShowError(const std::string& text) {
  ShowPageBox("error", kErrorCaption, text);
  // The box says what the program always said; the page adds what to try, since a browser's MIDI
  // can fail where a program's does not.
  if (text == ResultText(kResponseTimeout)) page::Call("notice", 2, NoAnswerNotice());
}

bool PageMessageBoxes::AskYesNo(const std::string& text) {
  return ShowPageBox("question", kQuestionCaption, text);
}

void PageMessageBoxes::ShowFatal(const std::string& text) {
  page::Call("showFatal", 0, std::string(kQuestionCaption) + '\n' + text);
  emscripten_force_exit(1);
}

}  // namespace kfw
