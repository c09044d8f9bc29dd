#include "tests/support/in_child.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <chrono>
#include <thread>
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace kfw::test {

namespace {

// Ends the child once the deadline has passed, with a status the test does not expect.
void EndAtDeadline(unsigned seconds) {
#ifdef _WIN32
  // No alarm on Windows: a thread of the child's own, waiting on the steady clock.
  std::thread([seconds] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_until(deadline);
    std::fputs("still running at the deadline\n", stderr);
    std::fflush(stderr);
    std::_Exit(3);
  }).detach();
#else
  // alarm's SIGALRM ends it, which gtest reports as a death by a signal.
  alarm(seconds);
#endif
}

}  // namespace

void ExpectInChildWithin(unsigned seconds, const std::function<std::string()>& check) {
  EXPECT_EXIT(
      {
        EndAtDeadline(seconds);
        const std::string wrong = check();
        if (!wrong.empty()) std::fprintf(stderr, "%s\n", wrong.c_str());
        std::fflush(stderr);
        std::_Exit(wrong.empty() ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

#ifndef _WIN32
void MakeFifo(const std::string& path) {
  unlink(path.c_str());
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0) << path << ": " << std::strerror(errno);
}
#endif

}  // namespace kfw::test
