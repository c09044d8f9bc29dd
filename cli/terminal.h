// The terminal as the front end: messages on standard error, the question at the terminal, a
// progress bar (or plain lines when standard error is not a terminal), Ctrl-C as Cancel.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/progress.h"
#include "base/report.h"

namespace kfw::cli {

class TerminalFrontEnd final : public MessageBoxes, public ProgressWindow {
 public:
  // answer: the same-version question's answer given on the command line (--yes / --no).
  explicit TerminalFrontEnd(std::optional<bool> answer = std::nullopt);
  // Installs itself as the boxes and the progress window; uninstalls on destruction.
  void Install();
  ~TerminalFrontEnd() override;

  void ShowError(const std::string& text) override;
  // --yes / --no when given; else asked at the terminal (default No); No without a terminal.
  bool AskYesNo(const std::string& text) override;
  void ShowFatal(const std::string& text) override;

  void Show() override;
  void Update(const char* caption, uint32_t percent) override;
  void Hide() override;

 private:
  void ClearBar();

  std::optional<bool> answer_;
  bool installed_ = false;
  bool barOnTerminal_;
  bool barDrawn_ = false;
  std::string caption_;
  int lastPercent_ = -1;
};

// The first Ctrl-C (SIGINT), SIGTERM or SIGHUP asks the running procedure to stop, as the progress
// window's Cancel does, and the request holds for every procedure after it (HoldCancel); a second
// one ends the process at once with status 130. Installing starts the count afresh.
void InstallInterruptHandler();

// The program must never be ended by its own output: with SIGPIPE ignored, a write to a closed
// pipe fails (and is found by StandardOutputWritten) instead of killing the process, perhaps in
// the middle of an update.
void IgnoreBrokenPipe();

// Flushes standard output; false when it or any write to it before has failed.
bool StandardOutputWritten();

// Writes text to standard error, with a line end unless it already ends with one.
void PrintError(const std::string& text);

}  // namespace kfw::cli
