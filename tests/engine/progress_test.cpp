// The progress window's calling order and the cancel flag, as the procedures rely on them.
#include "engine/progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/waiting.h"
#include "tests/support/doubles.h"

namespace kfw {
namespace {

using Log = std::vector<std::string>;

TEST(ProgressOrder, OpenSetCloseReachTheWindowInOrder) {
  test::RecordingProgress progress;
  OpenProgress();
  SetProgress("Connecting...", 0);
  SetProgress("Connecting...", 10);
  CloseProgress();
  EXPECT_EQ(progress.Log(), (Log{"open", "set Connecting... 0", "set Connecting... 10", "close"}));
  EXPECT_FALSE(progress.Overlapped());
  EXPECT_FALSE(ProgressIsOpen());
}

TEST(ProgressOrder, OpeningAgainClosesTheFirstWindowBeforeTheSecondShows) {
  test::RecordingProgress progress;
  OpenProgress();
  OpenProgress();
  EXPECT_EQ(progress.Log(), (Log{"open", "close", "open"}));
  EXPECT_FALSE(progress.Overlapped());
  EXPECT_TRUE(progress.Showing());
  CloseProgress();
}

TEST(ProgressOrder, CloseIsHarmlessInEveryState) {
  test::RecordingProgress progress;
  CloseProgress();  // never opened
  OpenProgress();
  CloseProgress();
  CloseProgress();  // already closed
  EXPECT_EQ(progress.Log(), (Log{"open", "close"}));
  EXPECT_FALSE(ProgressIsOpen());
  // A new window can still open afterwards.
  OpenProgress();
  EXPECT_TRUE(progress.Showing());
  CloseProgress();
}

TEST(ProgressOrder, SetWithoutAnOpenWindowReachesNoWindow) {
  test::RecordingProgress progress;
  SetProgress("Delaying...", 50);
  OpenProgress();
  CloseProgress();
  SetProgress("Delaying...", 60);
  EXPECT_EQ(progress.Log(), (Log{"open", "close"}));
}

TEST(ProgressOrder, WithoutAWindowInstalledTheOrderIsStillKept) {
  OpenProgress();
  EXPECT_TRUE(ProgressIsOpen());
  SetProgress("Connecting...", 0);
  CloseProgress();
  CloseProgress();
  EXPECT_FALSE(ProgressIsOpen());
  // A window installed later sees no stale open.
  test::RecordingProgress progress;
  CloseProgress();
  EXPECT_TRUE(progress.Log().empty());
}

TEST(CancelFlagTest, RequestCancelRaisesTheFlagAndOnlyClearCancelLowersIt) {
  EXPECT_FALSE(CancelRequested());
  RequestCancel();
  RequestCancel();
  EXPECT_EQ(CancelFlag.load(), 1);
  // The progress window's life does not touch the flag.
  test::RecordingProgress progress;
  OpenProgress();
  CloseProgress();
  EXPECT_TRUE(CancelRequested());
  ClearCancel();
  EXPECT_EQ(CancelFlag.load(), 0);
}

}  // namespace
}  // namespace kfw
