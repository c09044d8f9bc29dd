// The console the command-line program runs in, behind one small seam: its arguments, its standard
// streams, and the user's Ctrl-C. One file per platform: console_posix.cpp, console_windows.cpp.
#pragma once

#include <string>
#include <vector>

namespace kfw::cli {

// The words after the program's name, as UTF-8. Windows hands a narrow main its arguments in the
// ANSI code page, where a name outside it (a Cyrillic file name on a Western system) is lost:
// there they are taken from the wide command line instead.
std::vector<std::string> CommandLineWords(int argc, char** argv);

// Readies the standard streams, once, at start. The program must never be ended by its own output:
// on POSIX SIGPIPE is ignored, so a write to a closed pipe fails (and StandardOutputWritten finds
// it) instead of killing the process, perhaps in the middle of an update; Windows has no such
// signal, a write there just fails. A Windows console is switched to UTF-8 output and to escape
// sequences for the progress bar, and put back as it was when the program ends.
void SetUpConsole();

// How standard error can show the progress bar.
enum class BarStyle {
  kNone,     // not a terminal (a file, a pipe): one plain line per step
  kEscapes,  // a terminal that takes escape sequences: the line is redrawn and cleared with them
  kReturn,   // a console without escape sequences (before Windows 10): redrawn over with \r
};
BarStyle StandardErrorBarStyle();

bool StandardInputIsTerminal();

// The first Ctrl-C asks the running procedure to stop, as the progress window's Cancel does, and
// the request holds for every procedure after it (HoldCancel); a second one ends the process at
// once with status 130. On POSIX SIGTERM and SIGHUP count as Ctrl-C; on Windows Ctrl-Break and
// the closing of the console window do. Installing starts the count afresh; removing gives the
// platform's default back.
void InstallInterruptHandler();
void RemoveInterruptHandler();

#ifdef _WIN32
// The console control handler, as the system calls it on a thread of its own: true when the event
// was taken. For a closed console window (or a logoff or shutdown) it does not return: the system
// ends the process when the handler returns, and the procedure must first see the cancel, stop at
// its next wait and close the ports; the program's own end then ends the handler too.
bool HandleConsoleEvent(unsigned long event);
#endif

}  // namespace kfw::cli
