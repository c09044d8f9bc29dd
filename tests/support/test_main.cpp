// Test main: every test starts from the core's state at program start, with the trace log going
// to a file of its own in a scratch directory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
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
  static const std::filesystem::path dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "kfwtest.XXXXXX").string();
    const char* made = mkdtemp(pattern.data());
    return std::filesystem::path(made ? made : std::filesystem::temp_directory_path().string());
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
