// Runs a built program as a user would: arguments, environment, its output captured in files, a
// time limit, and signals sent while it runs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace kfw::test {

struct ProcessResult {
  int exitStatus = -1;  // -1 when ended by a signal
  int signal = 0;
  std::string out;
  std::string err;
};

// Where the child's standard output goes.
enum class ChildOutput {
  kFile,        // a file, read by Output() and Wait()
  kClosedPipe,  // a pipe whose reading end is closed before the child starts: every write fails
};

class ChildProcess {
 public:
  // Starts argv[0] with the rest as arguments, standard input from /dev/null, in the scratch
  // directory, with the signal state a shell gives (no signal blocked; interrupt, termination,
  // hang-up and broken pipe at their default actions, whatever the test program inherited);
  // environment entries are added to (or replace) the test's own.
  explicit ChildProcess(std::vector<std::string> argv,
                        std::map<std::string, std::string> environment = {},
                        ChildOutput output = ChildOutput::kFile);
  ~ChildProcess();  // kills a child still running

  // True once the text appears in standard error (or output), false after the timeout.
  bool WaitForError(const std::string& text, std::chrono::milliseconds timeout);
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);
  // What the child has written to standard output so far.
  std::string Output() const;
  void Signal(int signal);
  // Waits for the end; kills the child and fails the test after the timeout.
  ProcessResult Wait(std::chrono::milliseconds timeout = std::chrono::seconds(60));
  pid_t pid() const { return pid_; }

 private:
  bool WaitForText(const std::filesystem::path& file, const std::string& text,
                   std::chrono::milliseconds timeout);

  pid_t pid_ = -1;
  bool reaped_ = false;
  std::filesystem::path outFile_;
  std::filesystem::path errFile_;
};

// Runs to the end and returns what it did.
ProcessResult Run(std::vector<std::string> argv, std::map<std::string, std::string> environment = {},
                  std::chrono::milliseconds timeout = std::chrono::seconds(60));

}  // namespace kfw::test
