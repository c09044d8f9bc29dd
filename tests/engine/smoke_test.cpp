#include <gtest/gtest.h>

#include "engine/connect.h"
#include "engine/update.h"
#include "image/image_writer.h"
#include "image/report.h"
#include "tests/support/doubles.h"
#include "tests/support/sim_rig.h"

namespace kfw {
namespace {

TEST(Smoke, WholeUpdateOnSimulatedModule) {
  test::RecordingBoxes boxes;
  test::RecordingProgress progress;
  test::SimRig rig;
  SetTraceFilePath("/tmp/smoke-trace.txt"); EnableTrace();
  ASSERT_TRUE(rig.opened());
  std::vector<uint8_t> data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>((i * 7) & 0x7F);
  auto file = ImageWriter::Version1(0x0021, 0x0A).Delay(3).Image(1, 3, data).End().Bytes();
  DeviceInfo info;
  ASSERT_EQ(Connect(info), kOk);
  EXPECT_STREQ(info.productName, "QX-412");
  EXPECT_EQ(RunUpdate(file.data(), static_cast<uint32_t>(file.size()), info), kOk);
  ASSERT_EQ(rig.module.ProgrammedImages().size(), 1u);
  EXPECT_EQ(rig.module.ProgrammedImages()[0], data);
  auto events = rig.module.Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().command, 0x10);
  EXPECT_EQ(events.back().argument, 0);
  EXPECT_FALSE(progress.Overlapped());
  std::printf("virtual time %.3f s\n", rig.Now() / 1e6);
}

}  // namespace
}  // namespace kfw
