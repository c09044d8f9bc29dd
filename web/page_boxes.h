// The boxes on the page: each a modal <dialog> with the caption and text the windows' boxes show,
// and their buttons: OK for an error and the two success boxes, Yes and No (No the default) for a
// question. Web builds only.
#pragma once

#include <string>

#include "base/report.h"

namespace kfw {

class PageMessageBoxes final : public MessageBoxes {
 public:
  void ShowError(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  // The text in a box of the question's caption with Yes and No, left on the page, and the program
  // ends: it may come from a MIDI message event while a procedure waits, so nothing waits for the
  // answer. Once ended, no wait resumes and no timer runs (emscripten_force_exit); the page says
  // that the program has ended and closes the ports.
  void ShowFatal(const std::string& text) override;
};

// A box awaited by the procedure: kind "error", "question" or "success". True for Yes.
bool ShowPageBox(const char* kind, const char* caption, const std::string& text);

}  // namespace kfw
