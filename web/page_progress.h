// The progress window on the page: a modal <dialog> built from the progress template, its caption
// line, its bar and its Cancel button, which raises the cancel through the page's entry
// (kfw_page_cancel) while the procedure waits. Escape does nothing there, as in the windows. Web
// builds only.
#pragma once

#include "engine/progress.h"

namespace kfw {

class PageProgressWindow final : public ProgressWindow {
 public:
  void Show() override;
  void Update(const char* caption, uint32_t percent) override;
  void Hide() override;
};

}  // namespace kfw
