// The dialog-unit arithmetic the windows are laid out with.
#include <gtest/gtest.h>

#include "ui/logic/dialog_templates.h"

namespace kfw {
namespace {

TEST(DialogUnits, MsSansSerifAtEightPointsGivesTheClassicSizes) {
  // 6 x 13 pixels is MS Sans Serif 8 at 96 dpi; its 52 letters measure 312 pixels.
  const DialogBaseUnits units = BaseUnitsFromLetters(312, 13);
  EXPECT_EQ(units.averageCharWidth, 6);
  const DialogTemplate& main = MainWindowTemplate();
  EXPECT_EQ(HorizontalPixels(main.width, units), 404);  // 403.5 rounds up
  EXPECT_EQ(VerticalPixels(main.height, units), 237);
  const DialogTemplate& progress = ProgressWindowTemplate();
  EXPECT_EQ(HorizontalPixels(progress.width, units), 279);
  EXPECT_EQ(VerticalPixels(progress.height, units), 119);
}

}  // namespace
}  // namespace kfw
