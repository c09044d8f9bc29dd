// The terminal as the front end: messages on standard error, the question at the terminal, a
// progress bar (or plain lines when standard error is not a terminal), the reports for people on
// standard output. Ctrl-C as Cancel and the platform's console are in console.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/console.h"
#include "cli/front_end.h"

namespace kfw::cli {

class TerminalFrontEnd final : public FrontEnd {
 public:
  // answer: the same-version question's answer given on the command line (--yes / --no);
  // barStyle: how standard error shows the progress bar, by default as it can.
  explicit TerminalFrontEnd(std::optional<bool> answer = std::nullopt,
                            BarStyle barStyle = StandardErrorBarStyle());

  void ShowError(const std::string& text) override;
  // --yes / --no when given; else asked at the terminal (default No); No without a terminal.
  bool AskYesNo(const std::string& text) override;
  void ShowFatal(const std::string& text) override;

  void Show() override;
  void Update(const char* caption, uint32_t percent) override;
  void Hide() override;

  // The success box's text, then the module's texts under the window's labels, on standard output.
  void ShowSuccess(const std::string& text, const DeviceInfo& module, bool withProduct) override;
  void ShowPortLists(const std::vector<std::string>& inputs,
                     const std::vector<std::string>& outputs) override;
  std::unique_ptr<InspectionOutput> StartInspection(const std::string& fileName) override;
  void ShowNote(const std::string& text) override;
  // On standard error, under the error.
  void ShowAdvice(const std::string& text) override;
  // Everything has been said by then: returns the status.
  int Finish(int exitStatus) override;

 private:
  void ClearBar();

  std::optional<bool> answer_;
  BarStyle barStyle_;
  bool barDrawn_ = false;
  std::string caption_;
  int lastPercent_ = -1;
};

// Flushes standard output; false when it or any write to it before has failed.
bool StandardOutputWritten();

// Writes text to standard error, with a line end unless it already ends with one.
void PrintError(const std::string& text);

}  // namespace kfw::cli
