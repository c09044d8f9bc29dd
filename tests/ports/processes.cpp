#include "tests/ports/processes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "midi/backends/backends.h"
#include "tests/support/doubles.h"
#ifdef KFW_TEST_JACK
#include "midi/backends/rtmidi_backend.h"
#endif

extern char** environ;

namespace kfw::test {

bool ChildProcess::Start(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment, const std::string& logPath,
                         std::string& error) {
  int input[2], output[2];
  if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);

  std::vector<std::string> environmentText;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    bool replaced = false;
    for (const std::string& extra : environment) {
      if (extra.substr(0, extra.find('=')) == name) replaced = true;
    }
    if (!replaced) environmentText.push_back(text);
  }
  for (const std::string& extra : environment) environmentText.push_back(extra);
  std::vector<char*> envp, args;
  for (auto& text : environmentText) envp.push_back(text.data());
  envp.push_back(nullptr);
  std::vector<std::string> argvCopy = argv;
  for (auto& text : argvCopy) args.push_back(text.data());
  args.push_back(nullptr);

  const int result = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(input[0]);
  close(output[1]);
  if (result != 0) {
    close(input[1]);
    close(output[0]);
    pid_ = -1;
    error = "cannot start " + argv[0] + ": " + std::strerror(result);
    return false;
  }
  toChild_ = input[1];
  fromChild_ = output[0];
  return true;
}

bool ChildProcess::WriteLine(const std::string& line) {
  const std::string text = line + "\n";
  return toChild_ >= 0 &&
         write(toChild_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

bool ChildProcess::ReadLine(std::string& line, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || fromChild_ < 0) return false;
    pollfd waiting{fromChild_, POLLIN, 0};
    if (poll(&waiting, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[512];
    const ssize_t count = read(fromChild_, buffer, sizeof buffer);
    if (count <= 0) return false;
    pending_.append(buffer, static_cast<size_t>(count));
  }
}

bool ChildProcess::WaitForLine(const std::string& prefix, std::string& line,
                               std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !ReadLine(line, left)) return false;
    if (line.rfind(prefix, 0) == 0) return true;
  }
}

bool ChildProcess::Running() {
  if (pid_ <= 0) return false;
  int status;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

void ChildProcess::Stop(std::chrono::milliseconds grace) {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    int status;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
  }
  for (int* fd : {&toChild_, &fromChild_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  pending_.clear();
}

std::string LogTail(const std::string& path, size_t maxCharacters) {
  const std::string text = ReadFileText(path);
  return text.size() > maxCharacters ? text.substr(text.size() - maxCharacters) : text;
}

bool PrivateJackServer::Start(std::string& error) {
#ifdef KFW_TEST_JACK
  name_ = "kfwtest" + std::to_string(getpid());
  setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
  const std::string log = (ScratchDirectory() / (name_ + ".jackd.log")).string();
  // No real-time scheduling (-r): test machines rarely grant it. A short period keeps the
  // messages' latency low.
  if (!process_.Start({"jackd", "-r", "-t", "5000", "-n", name_, "-d", "dummy", "-p", "512"},
                      {"JACK_NO_AUDIO_RESERVATION=1"}, log, error)) {
    error += " (install jackd2: scripts/install-deps.sh)";
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (JackServerPeriodMicros()) return true;
    if (!process_.Running()) {
      error = "jackd ended before it was ready:\n" + LogTail(log);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  error = "jackd was not ready after 10 s:\n" + LogTail(log);
  process_.Stop();
  return false;
#else
  error = "this build has no JACK backend (KFW_RTMIDI is off)";
  return false;
#endif
}

void PrivateJackServer::Stop() {
  process_.Stop();
}

}  // namespace kfw::test
