// Runs a built program as a user would: arguments, environment, its output captured in files, a
// time limit, and signals sent while it runs. One file per platform (child_process_posix.cpp,
// child_process_windows.cpp), what they share in child_process.cpp.
#pragma once

#ifndef _WIN32
#include <sys/types.h>
#endif

#include <chrono>
#include <filesystem>
#include <functional>
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
  // Starts argv[0] with the rest as arguments, standard input from /dev/null (NUL), in the scratch
  // directory, with the signal state a shell gives (no signal blocked; interrupt, termination,
  // hang-up and broken pipe at their default actions, whatever the test program inherited);
  // environment entries are added to (or replace) the test's own. On Windows the child gets a
  // console of its own, hidden, for Signal; its output still goes to the files.
  explicit ChildProcess(std::vector<std::string> argv,
                        std::map<std::string, std::string> environment = {},
                        ChildOutput output = ChildOutput::kFile);
  ~ChildProcess();  // kills a child still running

  // True once the text appears in standard error (or output), false after the timeout.
  bool WaitForError(const std::string& text, std::chrono::milliseconds timeout);
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);
  // What the child has written to standard output so far. On Windows, where the child writes
  // its texts with CRLF line ends, read back with LF, as on POSIX.
  std::string Output() const;
  // POSIX: sends the signal. Windows: the console control event (CTRL_C_EVENT or
  // CTRL_BREAK_EVENT) to the child's console, as if the keys were pressed there.
  void Signal(int signal);
  // Waits for the end; kills the child and fails the test after the timeout.
  ProcessResult Wait(std::chrono::milliseconds timeout = std::chrono::seconds(60));
#ifndef _WIN32
  pid_t pid() const { return pid_; }
#endif

 private:
  bool WaitForText(const std::filesystem::path& file, const std::string& text,
                   std::chrono::milliseconds timeout);
  // The text of one of the output files.
  static std::string TextOf(const std::filesystem::path& file);
  // Names the output files of a new child.
  void NameOutputFiles();

#ifdef _WIN32
  void* process_ = nullptr;  // the child's HANDLE
  void* job_ = nullptr;      // a job that ends the child with the test program
  unsigned long id_ = 0;
#else
  pid_t pid_ = -1;
#endif
  bool reaped_ = false;
  std::filesystem::path outFile_;
  std::filesystem::path errFile_;
};

// Calls `start` (which returns 0 or the system's error code) until it succeeds or fails with an
// error other than `transient`, `attempts` times at most, with `pause` between; returns what the
// last call returned. The Windows helper retries its process start this way.
unsigned long StartRetryingTransient(const std::function<unsigned long()>& start,
                                     unsigned long transient, int attempts,
                                     std::chrono::milliseconds pause);

// Runs to the end and returns what it did.
ProcessResult Run(std::vector<std::string> argv, std::map<std::string, std::string> environment = {},
                  std::chrono::milliseconds timeout = std::chrono::seconds(60));

}  // namespace kfw::test
