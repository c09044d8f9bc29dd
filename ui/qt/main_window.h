// The main window: the template's controls in a dialog, raising the notifications a dialog's
// controls raise into the command logic, and running the procedures on a worker thread while it
// takes no input.
#pragma once

#include <QDialog>
#include <map>
#include <utility>
#include <vector>

#include "ui/logic/main_window_logic.h"
#include "ui/qt/boxes.h"

namespace kfw {

class QtMainWindow final : public QDialog, public MainWindowControls {
 public:
  // No owner: the window is a top-level window of its own.
  explicit QtMainWindow(QtDialogRunner& runner);
  ~QtMainWindow() override;

  // Sets the window up (fills the lists, selects the remembered ports). False, after its message,
  // when there is no MIDI input or output: the program then ends with status 1.
  bool Initialise();
  // Puts the window in the middle of the screen.
  void CentreOnScreen();

  MainWindowLogic& Logic() { return logic_; }
  // The control with this ID; nullptr when there is none.
  QWidget* Control(int id) const;
  // True while a procedure runs.
  bool Busy() const { return busy_; }

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

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Notify(int id, int code);
  void DeliverDeferred();

  QtDialogRunner& runner_;
  std::map<int, QWidget*> controls_;
  // Laid over the whole window while a procedure runs: its busy cursor shows that the window takes
  // no input, over every control (the name field's own text cursor included).
  QWidget* busyCover_ = nullptr;
  MainWindowLogic logic_;
  bool busy_ = false;
  bool ended_ = false;
  // Notifications raised while a procedure ran, handled once it has returned, as a dialog handles
  // the messages that queued up while its thread was busy.
  std::vector<std::pair<int, int>> deferred_;
};

}  // namespace kfw
