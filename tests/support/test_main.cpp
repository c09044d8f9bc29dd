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
std::filesystem::path ScratchDirectory() {
  // A directory of this run's own: the first name not yet taken (create_directory is false for
  // one that exists), so parallel test programs never share one.
  static const std::filesystem::path dir = [] {
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (;;) {
      std::filesystem::path candidate = base / ("kfwtest." + std::to_string(random()));
      std::error_code error;
      if (std::filesystem::create_directory(candidate, error)) return candidate;
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
  std::filesystem::remove_all(kfw::test::ScratchDirectory(), ignored);
  return result;
}
