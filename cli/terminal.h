// The terminal as the front end: messages on standard error, the question at the terminal, a
// progress bar (or plain lines when standard error is not a terminal). Ctrl-C as Cancel and the
// platform's console are in console.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/report.h"
#include "cli/console.h"
#include "engine/progress.h"

namespace kfw::cli {

class TerminalFrontEnd final : public MessageBoxes, public ProgressWindow {
 public:
  // answer: the same-version question's answer given on the command line (--yes / --no);
  // barStyle: how standard error shows the progress bar, by default as it can.
  explicit TerminalFrontEnd(std::optional<bool> answer = std::nullopt,
                            BarStyle barStyle = StandardErrorBarStyle());
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
