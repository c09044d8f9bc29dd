// kfw_console_event PROCESS EVENT: sends a console control event (0 Ctrl-C, 1 Ctrl-Break) to the
// console of the process PROCESS, as keys pressed there would. Windows sends these only to a
// console the sender shares: this program leaves its own, attaches to the target's and sends the
// event to every process there, itself among them (it ignores it). Exit status 0 when sent.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {
BOOL WINAPI IgnoreEvent(DWORD) { return TRUE; }
}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: kfw_console_event PROCESS EVENT\n", stderr);
    return 64;
  }
  const DWORD process = std::strtoul(argv[1], nullptr, 10);
  const DWORD event = std::strtoul(argv[2], nullptr, 10);
  FreeConsole();
  if (!AttachConsole(process)) {
    std::fprintf(stderr, "AttachConsole(%lu): error %lu\n", process, GetLastError());
    return 1;
  }
  SetConsoleCtrlHandler(IgnoreEvent, TRUE);
  if (!GenerateConsoleCtrlEvent(event, 0)) {
    std::fprintf(stderr, "GenerateConsoleCtrlEvent(%lu): error %lu\n", event, GetLastError());
    return 1;
  }
  return 0;
}
