// Child processes on POSIX: posix_spawn, waitpid and kill.
#include "tests/cli/child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "tests/support/doubles.h"

extern char** environ;

namespace kfw::test {

ChildProcess::ChildProcess(std::vector<std::string> argv,
                           std::map<std::string, std::string> environment, ChildOutput output) {
  NameOutputFiles();

  std::map<std::string, std::string> merged;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    const size_t equals = text.find('=');
    if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (auto& [name, value] : environment) merged[name] = value;
  std::vector<std::string> environmentTexts;
  for (auto& [name, value] : merged) environmentTexts.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& text : environmentTexts) envp.push_back(text.data());
  envp.push_back(nullptr);
  std::vector<char*> args;
  for (auto& arg : argv) args.push_back(arg.data());
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  int pipeEnds[2] = {-1, -1};
  if (output == ChildOutput::kClosedPipe) {
    // The reading end is closed before the child starts, so that no write of the child, however
    // early, finds a reader. The writing end closes on exec but for the child's copy as its output.
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) ADD_FAILURE() << "pipe2: " << std::strerror(errno);
    close(pipeEnds[0]);
    pipeEnds[0] = -1;
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addchdir_np(&actions, ScratchDirectory().c_str());
  // Test runners may start the tests with signals ignored or blocked, which the child would
  // inherit; a user's shell starts a program with none.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults, none;
  sigemptyset(&defaults);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, signal);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  const int failed = posix_spawn(&pid_, args[0], &actions, &attributes, args.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  for (int end : pipeEnds) {
    if (end >= 0) close(end);
  }
  if (failed) {
    ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(failed);
    pid_ = -1;
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

void ChildProcess::Signal(int signal) {
  if (pid_ > 0 && !reaped_) kill(pid_, signal);
}

ProcessResult ChildProcess::Wait(std::chrono::milliseconds timeout) {
  ProcessResult result;
  if (pid_ <= 0) return result;
  const auto end = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= end) {
      ADD_FAILURE() << "process " << pid_ << " still running after " << timeout.count()
                    << " ms; killed";
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  reaped_ = true;
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.out = TextOf(outFile_);
  result.err = TextOf(errFile_);
  return result;
}

}  // namespace kfw::test
