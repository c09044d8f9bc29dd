// The console on POSIX systems: signals and terminals.
#include <unistd.h>

#include <atomic>
#include <csignal>

#include "base/waiting.h"
#include "cli/console.h"
#include "cli/exit_status.h"

namespace kfw::cli {

namespace {

std::atomic<int> interrupts{0};  // lock-free, so safe in a signal handler

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnInterrupt(int) {
  if (interrupts.fetch_add(1) > 0) _exit(kExitInterrupted);
  // Held, not just requested: `update` runs Connect twice, and the second would clear a plain
  // request that arrived between them, going on to erase the module after the user said stop.
  HoldCancel();
  static const char note[] = "\nCanceling... (press Ctrl-C again to quit at once)\n";
  // write is async-signal-safe; a failed write of this note changes nothing.
  [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, note, sizeof note - 1);
}

void SetAction(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

}  // namespace

std::vector<std::string> CommandLineWords(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

void SetUpConsole() { SetAction(SIGPIPE, SIG_IGN); }

BarStyle StandardErrorBarStyle() {
  return isatty(STDERR_FILENO) ? BarStyle::kEscapes : BarStyle::kNone;
}

bool StandardInputIsTerminal() { return isatty(STDIN_FILENO) != 0; }

void InstallInterruptHandler() {
  interrupts.store(0);
  // A termination request (kill, a service manager, a timeout) and the loss of the terminal end
  // the run as Ctrl-C does: at the next wait, with the ports closed, rather than mid-block.
  for (const int signal : kStopSignals) SetAction(signal, OnInterrupt);
}

void RemoveInterruptHandler() {
  for (const int signal : kStopSignals) SetAction(signal, SIG_DFL);
}

}  // namespace kfw::cli
