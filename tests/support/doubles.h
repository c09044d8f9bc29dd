// Recording front-end doubles: the boxes, the progress window and the port lists, as a test sees
// them.
#pragma once

#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/progress.h"
#include "base/result.h"
#include "base/report.h"
#include "midi/ports.h"

namespace kfw {
// Prints result codes by name and number in test failures.
void PrintTo(ResultCode code, std::ostream* out);
}  // namespace kfw

namespace kfw::test {

// A directory for the files a test writes; removed when the test program ends.
std::filesystem::path ScratchDirectory();

// The whole text of a file ("" when it does not exist).
std::string ReadFileText(const std::filesystem::path& path);

// Thrown by RecordingBoxes::ShowFatal in place of ending the process.
struct FatalEnded : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Records every box; answers questions from a queue (No when it is empty).
class RecordingBoxes final : public MessageBoxes {
 public:
  RecordingBoxes() { InstallMessageBoxes(this); }
  ~RecordingBoxes() override { InstallMessageBoxes(nullptr); }

  void ShowError(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  void ShowFatal(const std::string& text) override;

  void AnswerNext(bool yes);
  std::vector<std::string> Errors();
  std::vector<std::string> Questions();
  std::vector<std::string> Fatals();

 private:
  std::mutex mutex_;
  std::vector<std::string> errors_;
  std::vector<std::string> questions_;
  std::vector<std::string> fatals_;
  std::deque<bool> answers_;
};

// Records the progress window's life as lines: "open", "set <caption> <percent>", "close", and
// notes any second window opened over a first.
class RecordingProgress final : public ProgressWindow {
 public:
  RecordingProgress() { InstallProgressWindow(this); }
  ~RecordingProgress() override { InstallProgressWindow(nullptr); }

  void Show() override;
  void Update(const char* caption, uint32_t percent) override;
  void Hide() override;

  std::vector<std::string> Log();
  // The percentages set under one caption, in order.
  std::vector<uint32_t> Percentages(const std::string& caption);
  bool Overlapped();
  bool Showing();
  int Opened();

 private:
  std::mutex mutex_;
  std::vector<std::string> log_;
  bool showing_ = false;
  bool overlapped_ = false;
  int opened_ = 0;
};

// The two lists and the Update button of a window, as plain values.
class RecordingPortLists final : public PortListWindow {
 public:
  RecordingPortLists() { InstallPortListWindow(this); }
  ~RecordingPortLists() override { InstallPortListWindow(nullptr); }

  void AddPortEntry(int list, const std::string& text) override { entries[list].push_back(text); }
  void SelectPortEntry(int list, int32_t position) override {
    const bool inside = position >= 0 && static_cast<size_t>(position) < entries[list].size();
    selected[list] = inside ? position : -1;
  }
  void EnableUpdate(bool enabled) override {
    updateEnabled = enabled;
    updateCalls.push_back(enabled);
  }

  std::map<int, std::vector<std::string>> entries;
  std::map<int, int32_t> selected;
  bool updateEnabled = true;
  std::vector<bool> updateCalls;
};

}  // namespace kfw::test
