// The command-line program's pieces, in the test's own process: the steps of `update` against the
// simulated module in virtual time, with a Ctrl-C raised at the moments a user could press it.
#include <gtest/gtest.h>
#include <signal.h>

#include <functional>
#include <string>
#include <vector>

#include "base/waiting.h"
#include "cli/commands.h"
#include "cli/terminal.h"
#include "engine/process_state.h"
#include "image/image_writer.h"
#include "tests/engine/engine_helpers.h"
#include "tests/support/doubles.h"

namespace kfw {
namespace {

// The simulated module holds 1.2, so an image of 1.3 is written without a question.
std::vector<uint8_t> NewerImage() {
  ModuleIdentity identity;
  return ImageWriter::Version1(identity.companyId, identity.productId)
      .Image(1, 3, test::ImageData(300))
      .End()
      .Bytes();
}

// Puts the default action of SIGINT back after a test that installed the program's handler.
struct InterruptHandlerInstalled {
  InterruptHandlerInstalled() { cli::InstallInterruptHandler(); }
  ~InterruptHandlerInstalled() { signal(SIGINT, SIG_DFL); }
};

struct CtrlCCase {
  const char* when;
  bool beforeConnecting;  // else right after the first Connect, while the module is reported
};

TEST(CliUpdateSteps, ACtrlCCancelsTheUpdateWhereverItComesAndNothingIsErasedAfterIt) {
  const std::vector<CtrlCCase> cases = {
      {"before the first Connect clears the flag", true},
      {"between the first Connect and the update's own", false},
  };
  for (const CtrlCCase& c : cases) {
    SCOPED_TRACE(c.when);
    ResetProcessState();
    test::SimRig rig;
    ASSERT_TRUE(rig.opened());
    test::ModuleWatch watch(rig);
    InterruptHandlerInstalled handler;
    if (c.beforeConnecting) raise(SIGINT);
    bool reported = false;
    const ResultCode result = cli::ConnectCheckAndUpdate(NewerImage(), deviceInfo, [&] {
      reported = true;
      if (!c.beforeConnecting) raise(SIGINT);
    });
    EXPECT_EQ(result, kCanceled);
    EXPECT_EQ(reported, !c.beforeConnecting);
    // No prepare area (the erase: P), no block (B, F), no final reset (R0).
    EXPECT_EQ(watch.Names().find_first_of("PBF"), std::string::npos) << watch.Names();
    EXPECT_EQ(watch.Names().find("R0"), std::string::npos) << watch.Names();
    EXPECT_TRUE(rig.module.ProgrammedImages().empty());
  }
}

}  // namespace
}  // namespace kfw
