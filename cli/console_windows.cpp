// The console on Windows: console control events instead of signals, the wide command line, and a
// console switched to UTF-8 and escape sequences while the program runs.
#include <windows.h>

#include <shellapi.h>

#include <atomic>
#include <cstdlib>

#include "base/files.h"
#include "base/waiting.h"
#include "cli/console.h"
#include "cli/exit_status.h"

namespace kfw::cli {

namespace {

std::atomic<int> interrupts{0};

// What the console was before SetUpConsole changed it; put back when the program ends.
UINT originalOutputCodePage = 0;
DWORD originalErrorMode = 0;
bool errorModeChanged = false;

bool IsConsole(DWORD standardHandle, DWORD* mode = nullptr) {
  DWORD ignored;
  return GetConsoleMode(GetStdHandle(standardHandle), mode ? mode : &ignored) != 0;
}

void RestoreConsole() {
  if (originalOutputCodePage != 0) SetConsoleOutputCP(originalOutputCodePage);
  if (errorModeChanged) SetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), originalErrorMode);
}

void WriteNote(const char* text, DWORD size) {
  DWORD written;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, size, &written, nullptr);
}

BOOL WINAPI OnConsoleEvent(DWORD event) { return HandleConsoleEvent(event) ? TRUE : FALSE; }

}  // namespace

std::vector<std::string> CommandLineWords(int argc, char** argv) {
  int count = 0;
  LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!words) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> result;
  for (int i = 1; i < count; ++i) result.push_back(Utf8FromWide(words[i]));
  LocalFree(words);
  return result;
}

void SetUpConsole() {
  // Our texts are UTF-8 (file names in messages, the module's texts); a console shows them as
  // such only in its UTF-8 code page. A file or a pipe gets the bytes as they are.
  if (IsConsole(STD_OUTPUT_HANDLE) || IsConsole(STD_ERROR_HANDLE)) {
    const UINT codePage = GetConsoleOutputCP();
    if (codePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) originalOutputCodePage = codePage;
  }
  // Windows 10 and later draw escape sequences once asked to; older consoles refuse, and the bar
  // is then redrawn over with a carriage return (StandardErrorBarStyle).
  DWORD mode = 0;
  if (IsConsole(STD_ERROR_HANDLE, &mode) && !(mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) &&
      SetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
    originalErrorMode = mode;
    errorModeChanged = true;
  }
  // The console belongs to the shell that started the program, and outlives it.
  if (originalOutputCodePage != 0 || errorModeChanged) std::atexit(RestoreConsole);
}

BarStyle StandardErrorBarStyle() {
  DWORD mode = 0;
  if (!IsConsole(STD_ERROR_HANDLE, &mode)) return BarStyle::kNone;
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) ? BarStyle::kEscapes : BarStyle::kReturn;
}

// Not _isatty: it is true for the NUL device too, and the question would then be answered from
// an empty input rather than with the "no terminal to ask" note.
bool StandardInputIsTerminal() { return IsConsole(STD_INPUT_HANDLE); }

bool HandleConsoleEvent(unsigned long event) {
  const bool windowGoing =
      event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && !windowGoing) return false;
  if (interrupts.fetch_add(1) > 0) {
    RestoreConsole();
    _exit(kExitInterrupted);
  }
  // Held, not just requested: `update` runs Connect twice, and the second would clear a plain
  // request that arrived between them, going on to erase the module after the user said stop.
  HoldCancel();
  if (!windowGoing) {
    static const char note[] = "\nCanceling... (press Ctrl-C again to quit at once)\n";
    WriteNote(note, sizeof note - 1);
    return true;
  }
  // The system ends the process as soon as this returns (or after a few seconds): wait here, so
  // that the procedure stops at its next wait and the ports are closed first. The end of the
  // program ends this thread.
  for (;;) Sleep(INFINITE);
}

void InstallInterruptHandler() {
  interrupts.store(0);
  // A program started in a new process group inherits Ctrl-C switched off; the user's Ctrl-C must
  // still cancel, as on POSIX, where a handler replaces an inherited "ignore" too.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);  // registered once, however often installed
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void RemoveInterruptHandler() { SetConsoleCtrlHandler(OnConsoleEvent, FALSE); }

}  // namespace kfw::cli
