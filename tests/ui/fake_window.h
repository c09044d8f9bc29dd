// The main window as plain values, for the command logic's tests: what is enabled, what the lists
// hold and select, the texts, and one ordered log of what the logic did to the window and to the
// port settings.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "midi/ports.h"
#include "ui/logic/main_window_logic.h"

namespace kfw::test {

class FakeWindow final : public MainWindowControls {
 public:
  void AddPortEntry(int list, const std::string& text) override { entries[list].push_back(text); }
  void SelectPortEntry(int list, int32_t position) override {
    const bool inside = position >= 0 && static_cast<size_t>(position) < entries[list].size();
    selected[list] = inside ? position : -1;
  }
  void EnableControl(int id, bool on) override {
    enabled[id] = on;
    log.push_back("enable " + std::to_string(id) + (on ? " on" : " off"));
  }
  int32_t SelectedPosition(int list) override {
    log.push_back("read " + std::to_string(list));
    auto found = selected.find(list);
    return found == selected.end() ? -1 : found->second;
  }
  std::string ControlText(int id) override { return texts[id]; }
  // As a dialog's edit control, the name field notifies every change of its text, even one made
  // by the program, and the logic is entered again from inside the call.
  void SetControlText(int id, const std::string& text) override {
    texts[id] = text;
    log.push_back("text " + std::to_string(id));
    if (id == kImageNameField && logic) {
      logic->OnCommand(kImageNameField, kFieldUpdate);
      logic->OnCommand(kImageNameField, kFieldChange);
    }
  }
  void PostCloseRequest() override { log.push_back("post close"); }
  void EndWindow() override {
    ended = true;
    log.push_back("end");
  }
  void ShowSuccess(const std::string& text) override {
    successes.push_back(text);
    log.push_back("success " + text);
  }
  bool ChooseFile(std::string& name) override {
    ++choosersShown;
    log.push_back("chooser");
    if (duringChooser) duringChooser();
    if (chooserAnswers.empty() || !chooserAnswers.front()) {
      if (!chooserAnswers.empty()) chooserAnswers.pop_front();
      return false;
    }
    name = *chooserAnswers.front();
    chooserAnswers.pop_front();
    return true;
  }
  ResultCode RunProcedure(const std::function<ResultCode()>& procedure) override {
    log.push_back("procedure");
    return procedure();
  }

  // What a user does: picks a position in a list (the list then notifies the change).
  void UserSelects(int list, int32_t position) {
    selected[list] = position;
    logic->OnCommand(list, kListSelectionChange);
  }
  void UserClicks(int id) { logic->OnCommand(id, kClicked); }
  // Typing notifies every change but leaves the focus in the field.
  void UserTypes(const std::string& text) {
    texts[kImageNameField] = text;
    logic->OnCommand(kImageNameField, kFieldUpdate);
    logic->OnCommand(kImageNameField, kFieldChange);
  }
  void UserLeavesField() { logic->OnCommand(kImageNameField, kFieldKillFocus); }
  bool IsEnabled(int id) { return enabled.count(id) ? enabled[id] : true; }

  MainWindowLogic* logic = nullptr;
  std::map<int, bool> enabled;
  std::map<int, std::vector<std::string>> entries;
  std::map<int, int32_t> selected;
  std::map<int, std::string> texts;
  std::vector<std::string> log;
  std::vector<std::string> successes;
  // Answers of the open-file dialog in turn: a name, or nullopt for Cancel (also when empty).
  std::deque<std::optional<std::string>> chooserAnswers;
  std::function<void()> duringChooser;
  int choosersShown = 0;
  bool ended = false;
};

// The remembered port choice in memory; its writes go to the window's log, so a test sees them in
// order with the lists being read.
class MemoryPortSettings final : public PortSettingsStore {
 public:
  explicit MemoryPortSettings(std::vector<std::string>& log) : log_(log) {
    InstallPortSettingsStore(this);
  }
  ~MemoryPortSettings() override { InstallPortSettingsStore(nullptr); }

  bool Open() override { return openable; }
  bool Read(const char* name, int32_t& value) override {
    auto found = values.find(name);
    if (found == values.end()) return false;
    value = found->second;
    return true;
  }
  bool Write(const char* name, int32_t value) override {
    if (failingWrite == name) return false;
    values[name] = value;
    log_.push_back("save " + std::string(name) + "=" + std::to_string(value));
    return true;
  }
  void Close() override {}

  std::map<std::string, int32_t> values;
  bool openable = true;
  std::string failingWrite;

 private:
  std::vector<std::string>& log_;
};

}  // namespace kfw::test
