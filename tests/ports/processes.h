// Helper processes of the transport tests: a private JACK server and the simulated module's peer
// program, started and stopped by process id, their readiness waited for by polling.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace kfw::test {

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() { Stop(); }

  // Starts argv[0] (a path) with `environment` ("NAME=value") added to ours; standard input and
  // output are pipes to us, standard error goes to logPath.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
             const std::string& logPath, std::string& error);
  bool WriteLine(const std::string& line);
  // The next line of its output (without the line end); false after `timeout` or at its end.
  bool ReadLine(std::string& line, std::chrono::milliseconds timeout);
  // Reads lines until one starts with `prefix`; false after `timeout`.
  bool WaitForLine(const std::string& prefix, std::string& line, std::chrono::milliseconds timeout);
  bool Running();
  // SIGTERM, then SIGKILL if it has not ended after `grace`; reaps it. Harmless when not running.
  void Stop(std::chrono::milliseconds grace = std::chrono::milliseconds(3000));
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
  std::string pending_;
};

// The last lines of a log file, for failure messages.
std::string LogTail(const std::string& path, size_t maxCharacters = 1500);

// jackd with the dummy driver under a private name; clients of this process reach it through
// JACK_DEFAULT_SERVER, which Start sets.
class PrivateJackServer {
 public:
  // Starts the server and waits until a client can reach it; false with the reason otherwise.
  bool Start(std::string& error);
  void Stop();
  const std::string& name() const { return name_; }

 private:
  ChildProcess process_;
  std::string name_;
};

}  // namespace kfw::test
