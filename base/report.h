// The ways a text leaves the core: the error box, the yes/no question, the fatal text that ends the
// process, and the trace log.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// Checks a printf-style format against its arguments. MinGW's compilers read "printf" as
// Microsoft's dialect, which knows neither %zu nor %hhx; the build asks MinGW for its C99 printf
// (__USE_MINGW_ANSI_STDIO), so the formats are checked as GNU's.
#ifdef __MINGW32__
#define KFW_PRINTF_LIKE(formatIndex, firstArgument) \
  __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#else
#define KFW_PRINTF_LIKE(formatIndex, firstArgument) \
  __attribute__((format(printf, formatIndex, firstArgument)))
#endif

namespace kfw {

// Supplied by the front end (the window, the terminal program, a test double). The core never
// shows anything itself. Calls may come from the procedures' thread and, for ShowFatal, from the
// MIDI input thread; an implementation must be safe for that.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // An error box with the caption "Korvex Firmware Update Utility Error" and an OK button;
  // returns when the user has closed it.
  virtual void ShowError(const std::string& text) = 0;
  // A question with the caption "Korvex Firmware Update Utility", Yes and No, No the default;
  // true only for Yes.
  virtual bool AskYesNo(const std::string& text) = 0;
  // Shows the text of a fatal MIDI failure. The core ends the process with status 1 as soon as
  // this returns; a test double may throw instead to get control back.
  virtual void ShowFatal(const std::string& text) = 0;
};

// Installs the front end's boxes; nullptr restores the fallback, which writes to standard error
// and answers every question with No.
void InstallMessageBoxes(MessageBoxes* boxes);

inline constexpr const char* kErrorCaption = "Korvex Firmware Update Utility Error";
inline constexpr const char* kQuestionCaption = "Korvex Firmware Update Utility";

// The front ends' two success boxes, after a connect and after an update, with their caption, as
// the program has always shown it. The core shows neither.
inline constexpr const char* kSuccessCaption = "Firmware Firmware Update Utility";
inline constexpr const char* kConnectedText = "Connection established!";
inline constexpr const char* kUpdatedText = "Firmware was successfully updated.";

void ShowError(const std::string& text);
bool AskYesNo(const std::string& text);

// Formats into 352 bytes (a longer text is cut, never overflows), shows it through ShowFatal and
// ends the process with exit status 1. Used for failures of the MIDI service while sending or
// while handing the input buffer back.
[[noreturn]] void FatalMidiError(const char* format, ...) KFW_PRINTF_LIKE(1, 2);
inline constexpr int kFatalTextCapacity = 352;

// The trace log's on switch: set once by EnableTrace, before any port is open, never cleared
// (except by ResetProcessState in tests).
extern std::atomic<uint8_t> TraceFlag;

// Sets TraceFlag and empties the trace file. The trace file is written only when it is a regular
// file (or missing) and not a symbolic link; anything else is left as it is and the trace is not
// written, as when the file cannot be opened at all.
void EnableTrace();
// Appends text unchanged to the trace file when TraceFlag is set; opens and closes the file for
// every text, so the log is complete up to the last text even if the process dies.
void Trace(const char* text);
// One "RX: " / "TX: " line: the prefix, every byte as two lower-case hex digits and a space, then
// a line end; written with a single open-append-close.
void TraceBytes(const char* prefix, const uint8_t* bytes, uint32_t count);

// True when the argument text holds "-log" anywhere (case-sensitive), as in "-log", "/a -log" and
// "-logfile".
bool CommandLineAsksForLog(const std::string& argumentText);
// The same over argv[1..argc-1] joined with spaces.
bool CommandLineAsksForLog(int argc, const char* const* argv);

// Where the trace goes. On Windows "c:\trace.txt". Elsewhere $KFW_TRACE_FILE when set, else
// "kfwupdate-trace.txt" in the current directory. A front end may set another path before
// EnableTrace (an empty path returns to the default).
std::string TraceFilePath();
void SetTraceFilePath(const std::string& path);

namespace internal {
void ResetReportState();
}

}  // namespace kfw
