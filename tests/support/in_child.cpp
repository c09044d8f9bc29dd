#include "tests/support/in_child.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kfw::test {

void ExpectInChildWithin(unsigned seconds, const std::function<std::string()>& check) {
  // A death test's child: alarm's SIGALRM ends it if it blocks, which gtest reports as a death by
  // a signal rather than the exit status 0 expected.
  EXPECT_EXIT(
      {
        alarm(seconds);
        const std::string wrong = check();
        if (!wrong.empty()) std::fprintf(stderr, "%s\n", wrong.c_str());
        std::fflush(stderr);
        _exit(wrong.empty() ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

void MakeFifo(const std::string& path) {
  unlink(path.c_str());
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0) << path << ": " << std::strerror(errno);
}

}  // namespace kfw::test
