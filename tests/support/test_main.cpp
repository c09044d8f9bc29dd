// Test main: every test starts from the core's state at program start, with the trace log going
// to a file of its own in a scratch directory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "engine/process_state.h"
#include "base/report.h"
#include "tests/support/doubles.h"

namespace {

class ResetCoreState final : public testing::EmptyTestEventListener {
 public:
  void OnTestStart(const testing::TestInfo& info) override {
    kfw::ResetProcessState();
    const std::filesystem::path dir = kfw::test::ScratchDirectory();
    kfw::SetTraceFilePath((dir / (std::string(info.test_suite_name()) + "." + info.name() +
                                  ".trace.txt"))
                              .string());
  }
  void OnTestEnd(const testing::TestInfo&) override { kfw::ResetProcessState(); }
};

}  // namespace

namespace kfw::test {

namespace {

// Death tests that run in a new process (always on Windows, which has no fork) start the test
// program again: the scratch directory goes to them by name, so that a check there and the test
// around it look at the same files.
constexpr const char* kScratchVariable = "KFW_TEST_SCRATCH_DIRECTORY";
bool scratchIsOurs = false;

void SetVariable(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

}  // namespace

std::filesystem::path ScratchDirectory() {
  static const std::filesystem::path dir = [] {
    std::error_code error;
    if (const char* inherited = std::getenv(kScratchVariable);
        inherited && *inherited && std::filesystem::is_directory(inherited, error)) {
      return std::filesystem::path(inherited);
    }
    // A directory of this run's own: the first name not yet taken (create_directory is false for
    // one that exists), so parallel test programs never share one.
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (;;) {
      std::filesystem::path candidate = base / ("kfwtest." + std::to_string(random()));
      if (std::filesystem::create_directory(candidate, error)) {
        scratchIsOurs = true;
        SetVariable(kScratchVariable, candidate.string());
        return candidate;
      }
      if (error) return base;
    }
  }();
  return dir;
}

}  // namespace kfw::test

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new ResetCoreState);
  const int result = RUN_ALL_TESTS();
  std::error_code ignored;
  if (kfw::test::scratchIsOurs) std::filesystem::remove_all(kfw::test::ScratchDirectory(), ignored);
  // exit, not return: in the web build under Node, main has already returned to the event loop
  // once, at the first wait that handed it the thread, and what it returns at the end is dropped.
  std::exit(result);
}
