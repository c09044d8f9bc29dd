// The main window on the page: the template's controls as HTML elements (built by the page's
// script from the template, web/page_templates.h), raising the notifications a dialog's controls
// raise into the command logic, and running the procedures while the window takes no input.
// Web builds only.
#pragma once

#include <string>

#include "ui/logic/main_window_logic.h"

namespace kfw {

// Where a picked image file is kept on the page: the file chooser gives its name and bytes, and
// the name field holds the name, read from this folder (the current one).
inline constexpr const char* kPickedFilesFolder = "/picked";

class PageMainWindow final : public MainWindowControls {
 public:
  PageMainWindow();

  // Sets the window up (fills the lists, selects the remembered ports). False, after its message,
  // when there is no MIDI input or output: the session then ends with status 1.
  bool Initialise() { return logic_.OnInitDialog(); }
  // A notification of one of the page's controls, or a command (Enter, Escape).
  void Notify(int id, int code);
  // The close request that Exit posted.
  void CloseRequest();
  bool Ended() const { return ended_; }

  // MainWindowControls
  void AddPortEntry(int list, const std::string& text) override;
  void SelectPortEntry(int list, int32_t position) override;
  void EnableControl(int id, bool enabled) override;
  int32_t SelectedPosition(int list) override;
  std::string ControlText(int id) override;
  void SetControlText(int id, const std::string& text) override;
  void PostCloseRequest() override;
  void EndWindow() override;
  void ShowSuccess(const std::string& text) override;
  bool ChooseFile(std::string& name) override;
  ResultCode RunProcedure(const std::function<ResultCode()>& procedure) override;

 private:
  MainWindowLogic logic_;
  bool ended_ = false;
};

}  // namespace kfw
