// The process helper's own rule for a start that fails now and then: only the one transient error
// is tried again, a bounded number of times, and every other failure ends the start at once.
#include "tests/cli/child_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace kfw::test {
namespace {

constexpr unsigned long kTransient = 1359;  // ERROR_INTERNAL_ERROR
constexpr unsigned long kAccessDenied = 5;  // ERROR_ACCESS_DENIED
constexpr int kAttempts = 5;

TEST(ChildProcessStart, OnlyTheTransientErrorIsTriedAgainAndAtMostSoOften) {
  struct Case {
    const char* what;
    std::vector<unsigned long> results;  // what each call returns in turn
    unsigned long expected;
    size_t calls;
  };
  const std::vector<unsigned long> alwaysTransient(kAttempts + 2, kTransient);
  const Case cases[] = {
      {"starts at once", {0}, 0, 1},
      {"another failure is not tried again", {kAccessDenied, 0}, kAccessDenied, 1},
      {"the transient error, then a start", {kTransient, kTransient, 0}, 0, 3},
      {"the transient error, then another", {kTransient, kAccessDenied, 0}, kAccessDenied, 2},
      {"the transient error every time fails with it", alwaysTransient, kTransient, kAttempts},
      {"a start at the last attempt", {kTransient, kTransient, kTransient, kTransient, 0}, 0, 5},
  };
  for (const Case& c : cases) {
    size_t calls = 0;
    const unsigned long result = StartRetryingTransient(
        [&] { return c.results.at(calls++); }, kTransient, kAttempts, std::chrono::milliseconds(0));
    EXPECT_EQ(result, c.expected) << c.what;
    EXPECT_EQ(calls, c.calls) << c.what;
  }
}

}  // namespace
}  // namespace kfw::test
