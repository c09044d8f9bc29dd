#include "base/report.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base/files.h"

namespace kfw {

std::atomic<uint8_t> TraceFlag{0};

namespace {

class StandardErrorBoxes final : public MessageBoxes {
 public:
  void ShowError(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  bool AskYesNo(const std::string& text) override {
    std::fprintf(stderr, "%s (answered No)\n", text.c_str());
    return false;
  }
  void ShowFatal(const std::string& text) override { std::fputs(text.c_str(), stderr); }
};

StandardErrorBoxes fallbackBoxes;
std::atomic<MessageBoxes*> installedBoxes{nullptr};

MessageBoxes& Boxes() {
  MessageBoxes* boxes = installedBoxes.load(std::memory_order_acquire);
  return boxes ? *boxes : fallbackBoxes;
}

std::mutex tracePathMutex;
std::string tracePathOverride;

// The trace file is never written through a symbolic link: one planted under its name would have
// every run empty the link's target. A FIFO or a device there is refused too, without waiting.
// Either way the trace is simply not written.
RegularFile OpenTraceFile(WriteMode mode) {
  return OpenForWriting(TraceFilePath(), mode, Links::kRefuse);
}

}  // namespace

void InstallMessageBoxes(MessageBoxes* boxes) {
  installedBoxes.store(boxes, std::memory_order_release);
}

void ShowError(const std::string& text) { Boxes().ShowError(text); }

bool AskYesNo(const std::string& text) { return Boxes().AskYesNo(text); }

void FatalMidiError(const char* format, ...) {
  char text[kFatalTextCapacity];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  Boxes().ShowFatal(text);
  // _Exit rather than exit: this may run on the MIDI input thread while the procedures' thread
  // and the toolkit are still alive, and running static destructors under them can crash or hang.
  // Every trace text has already been closed, so flushing stdio is all that is left to do.
  std::fflush(nullptr);
  std::_Exit(1);
}

std::string TraceFilePath() {
#ifdef _WIN32
  std::lock_guard lock(tracePathMutex);
  return tracePathOverride.empty() ? std::string("c:\\trace.txt") : tracePathOverride;
#else
  {
    std::lock_guard lock(tracePathMutex);
    if (!tracePathOverride.empty()) return tracePathOverride;
  }
  const char* fromEnvironment = std::getenv("KFW_TRACE_FILE");
  if (fromEnvironment && *fromEnvironment) return fromEnvironment;
  return "kfwupdate-trace.txt";
#endif
}

void SetTraceFilePath(const std::string& path) {
  std::lock_guard lock(tracePathMutex);
  tracePathOverride = path;
}

void EnableTrace() {
  TraceFlag.store(1, std::memory_order_relaxed);
  // Nothing looks at whether the log could be created: a trace that cannot be written must not
  // stop an update.
  OpenTraceFile(WriteMode::kTruncate);
}

void Trace(const char* text) {
  if (!TraceFlag.load(std::memory_order_relaxed)) return;
  OpenTraceFile(WriteMode::kAppend).WriteAll(text, std::strlen(text));
}

void TraceBytes(const char* prefix, const uint8_t* bytes, uint32_t count) {
  if (!TraceFlag.load(std::memory_order_relaxed)) return;
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string line = prefix;
  line.reserve(line.size() + 3 * size_t{count} + 1);
  for (uint32_t i = 0; i < count; ++i) {
    line += kDigits[bytes[i] >> 4];
    line += kDigits[bytes[i] & 0x0F];
    line += ' ';
  }
  line += '\n';
  OpenTraceFile(WriteMode::kAppend).WriteAll(line.data(), line.size());
}

bool CommandLineAsksForLog(const std::string& argumentText) {
  return argumentText.find("-log") != std::string::npos;
}

bool CommandLineAsksForLog(int argc, const char* const* argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  return CommandLineAsksForLog(text);
}

namespace internal {
void ResetReportState() {
  TraceFlag.store(0, std::memory_order_relaxed);
  InstallMessageBoxes(nullptr);
  SetTraceFilePath("");
}
}  // namespace internal

}  // namespace kfw
