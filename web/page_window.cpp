#include "web/page_window.h"

#include <emscripten/emscripten.h>

#include <chrono>

#include "base/report.h"
#include "web/page_boxes.h"
#include "web/page_bridge.h"

// The file chooser: the page's script shows it and hands back the chosen file's name (empty when
// the user cancelled), having put its bytes in the picked files' folder. The body is JavaScript.
// clang-format off
EM_ASYNC_JS(int, kfw_page_choose_file, (const char* title, const char* pattern, const char* folder), {
  const picked = await Module["kfwPage"]["chooseFile"](UTF8ToString(title), UTF8ToString(pattern));
  Module["kfwPageText"] = "";
  if (!picked) return 0;
  FS.writeFile(UTF8ToString(folder) + "/" + picked.name, picked.bytes);
  Module["kfwPageText"] = picked.name;
  return lengthBytesUTF8(picked.name) + 1;
});
// clang-format on

namespace kfw {

PageMainWindow::PageMainWindow() : logic_(*this) {}

void PageMainWindow::Notify(int id, int code) {
  if (ended_) return;
  logic_.OnCommand(id, code);
}

void PageMainWindow::CloseRequest() {
  if (ended_) return;
  logic_.OnCloseRequest();
}

void PageMainWindow::AddPortEntry(int list, const std::string& text) {
  page::Call("addPortEntry", list, text);
}

void PageMainWindow::SelectPortEntry(int list, int32_t position) {
  page::Call("selectPortEntry", list, std::to_string(position));
}

void PageMainWindow::EnableControl(int id, bool enabled) {
  page::Call("enableControl", id, enabled ? "1" : "");
}

int32_t PageMainWindow::SelectedPosition(int list) {
  return page::Call("selectedPosition", list);
}

std::string PageMainWindow::ControlText(int id) {
  return page::CallForText("controlText", id);
}

void PageMainWindow::SetControlText(int id, const std::string& text) {
  page::Call("setControlText", id, text);
  // A dialog's edit control tells its change when the program sets its text, as when typed.
  if (id == kImageNameField) {
    Notify(kImageNameField, kFieldUpdate);
    Notify(kImageNameField, kFieldChange);
  }
}

void PageMainWindow::PostCloseRequest() {
  page::Call("postCloseRequest");
}

void PageMainWindow::EndWindow() {
  ended_ = true;
  page::Call("endWindow");
}

void PageMainWindow::ShowSuccess(const std::string& text) {
  ShowPageBox("success", kSuccessCaption, text);
}

bool PageMainWindow::ChooseFile(std::string& name) {
  const int length = kfw_page_choose_file(kChooserTitle, kChooserPattern, kPickedFilesFolder);
  if (length == 0) return false;
  name = page::TakeText(length - 1);
  return true;
}

ResultCode PageMainWindow::RunProcedure(const std::function<ResultCode()>& procedure) {
  // The page makes the window inert, keeps the screen awake where it can, and asks before the page
  // is left, until the procedure has returned.
  page::Call("procedureStarted");
  const auto start = std::chrono::steady_clock::now();
  const ResultCode result = procedure();
  const auto took = std::chrono::steady_clock::now() - start;
  page::Call("procedureEnded",
             static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
  return result;
}

}  // namespace kfw
