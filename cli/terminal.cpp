#include "cli/terminal.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <unistd.h>

#include "cli/exit_status.h"
#include "base/waiting.h"

namespace kfw::cli {

namespace {

std::atomic<int> interrupts{0};  // lock-free, so safe in a signal handler

void OnInterrupt(int) {
  if (interrupts.fetch_add(1) > 0) _exit(kExitInterrupted);
  // Held, not just requested: `update` runs Connect twice, and the second would clear a plain
  // request that arrived between them, going on to erase the module after the user said stop.
  HoldCancel();
  static const char note[] = "\nCanceling... (press Ctrl-C again to quit at once)\n";
  // write is async-signal-safe; a failed write of this note changes nothing.
  [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, note, sizeof note - 1);
}

constexpr int kBarWidth = 30;

}  // namespace

void InstallInterruptHandler() {
  interrupts.store(0);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // A termination request (kill, a service manager, a timeout) and the loss of the terminal end
  // the run as Ctrl-C does: at the next wait, with the ports closed, rather than mid-block.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

void IgnoreBrokenPipe() {
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  sigaction(SIGPIPE, &action, nullptr);
}

bool StandardOutputWritten() {
  const bool flushed = std::fflush(stdout) == 0;
  return flushed && !std::ferror(stdout);
}

void PrintError(const std::string& text) {
  std::fputs(text.c_str(), stderr);
  if (text.empty() || text.back() != '\n') std::fputc('\n', stderr);
  std::fflush(stderr);
}

TerminalFrontEnd::TerminalFrontEnd(std::optional<bool> answer)
    : answer_(answer), barOnTerminal_(isatty(STDERR_FILENO) != 0) {}

void TerminalFrontEnd::Install() {
  InstallMessageBoxes(this);
  InstallProgressWindow(this);
  installed_ = true;
}

TerminalFrontEnd::~TerminalFrontEnd() {
  if (!installed_) return;
  InstallProgressWindow(nullptr);
  InstallMessageBoxes(nullptr);
}

void TerminalFrontEnd::ClearBar() {
  if (!barDrawn_) return;
  std::fputs("\r\033[2K", stderr);
  std::fflush(stderr);
  barDrawn_ = false;
}

void TerminalFrontEnd::ShowError(const std::string& text) {
  ClearBar();
  PrintError(text);
}

bool TerminalFrontEnd::AskYesNo(const std::string& text) {
  ClearBar();
  if (answer_) {
    std::fprintf(stderr, "%s %s\n", text.c_str(), *answer_ ? "Yes" : "No");
    return *answer_;
  }
  if (!isatty(STDIN_FILENO)) {
    std::fprintf(stderr, "%s No (no terminal to ask; --yes answers Yes)\n", text.c_str());
    return false;
  }
  std::fprintf(stderr, "%s [y/N] ", text.c_str());
  std::fflush(stderr);
  std::string line;
  if (!std::getline(std::cin, line)) return false;
  return line == "y" || line == "Y" || line == "yes" || line == "Yes" || line == "YES";
}

void TerminalFrontEnd::ShowFatal(const std::string& text) {
  ClearBar();
  PrintError(text);
}

void TerminalFrontEnd::Show() {
  caption_.clear();
  lastPercent_ = -1;
}

void TerminalFrontEnd::Update(const char* caption, uint32_t percent) {
  const bool newCaption = caption_ != caption;
  if (!newCaption && static_cast<int>(percent) == lastPercent_) return;
  caption_ = caption;
  lastPercent_ = static_cast<int>(percent);
  if (!barOnTerminal_) {
    // Logs and pipes get one plain line per step, no control characters.
    if (newCaption) {
      std::fprintf(stderr, "%s\n", caption);
      std::fflush(stderr);
    }
    return;
  }
  const uint32_t shown = percent > 100 ? 100 : percent;
  const int filled = static_cast<int>(shown * kBarWidth / 100);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kBarWidth - filled), '-');
  std::fprintf(stderr, "\r\033[2K%-30s [%s] %3u%%", caption, bar.c_str(), shown);
  std::fflush(stderr);
  barDrawn_ = true;
}

void TerminalFrontEnd::Hide() { ClearBar(); }

}  // namespace kfw::cli
