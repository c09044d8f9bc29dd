#include "web/page_progress.h"

#include <algorithm>

#include "web/page_bridge.h"

namespace kfw {

void PageProgressWindow::Show() {
  page::Call("showProgress");
}

void PageProgressWindow::Update(const char* caption, uint32_t percent) {
  page::Call("setProgress", static_cast<int>(std::min<uint32_t>(percent, 100)), caption);
}

void PageProgressWindow::Hide() {
  page::Call("hideProgress");
}

}  // namespace kfw
