// What the platforms' process helpers share: the output files and waiting for texts in them.
#include "tests/cli/child_process.h"

#include <atomic>
#include <thread>

#include "tests/support/doubles.h"

namespace kfw::test {

namespace {
std::atomic<int> childCounter{0};
}

void ChildProcess::NameOutputFiles() {
  const int number = childCounter.fetch_add(1);
  outFile_ = ScratchDirectory() / ("child" + std::to_string(number) + ".out");
  errFile_ = ScratchDirectory() / ("child" + std::to_string(number) + ".err");
}

std::string ChildProcess::TextOf(const std::filesystem::path& file) {
  std::string text = ReadFileText(file);
#ifdef _WIN32
  // The C runtime writes "\n" as "\r\n" to a file opened in text mode, as standard output is.
  std::string lines;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lines += text[i];
  }
  text = std::move(lines);
#endif
  return text;
}

bool ChildProcess::WaitForText(const std::filesystem::path& file, const std::string& text,
                               std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    if (TextOf(file).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

bool ChildProcess::WaitForError(const std::string& text, std::chrono::milliseconds timeout) {
  return WaitForText(errFile_, text, timeout);
}

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
  return WaitForText(outFile_, text, timeout);
}

std::string ChildProcess::Output() const { return TextOf(outFile_); }

unsigned long StartRetryingTransient(const std::function<unsigned long()>& start,
                                     unsigned long transient, int attempts,
                                     std::chrono::milliseconds pause) {
  unsigned long error = start();
  for (int attempt = 1; attempt < attempts && error == transient; ++attempt) {
    std::this_thread::sleep_for(pause);
    error = start();
  }
  return error;
}

ProcessResult Run(std::vector<std::string> argv, std::map<std::string, std::string> environment,
                  std::chrono::milliseconds timeout) {
  ChildProcess child(std::move(argv), std::move(environment));
  return child.Wait(timeout);
}

}  // namespace kfw::test
