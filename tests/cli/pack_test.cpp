// `pack` run as a user runs it: the files it writes, each of which `check` accepts, and the
// records and data it refuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "image/image_writer.h"
#include "tests/cli/cli_helpers.h"
#include "tests/support/doubles.h"

namespace kfw::test {
namespace {

TEST(CliPack, BuildsFilesTheCheckAccepts) {
  const std::string data = WriteFile("fw.bin", Firmware(300, 1, 4));
  const std::string out = (ScratchDirectory() / "packed.kfw").string();
  test::ProcessResult result =
      RunProgram({kProgram, "pack", out, "--company", "0x0021", "--product", "0x0A", "delay:20",
                  "noop", "reset:1", "image:1.4:" + data, "end", "raw:00ff"});
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  const std::vector<uint8_t> expected = ImageWriter::Version1(kSimCompany, kSimProduct)
                                            .Delay(20)
                                            .NoOp()
                                            .Reset(1)
                                            .Image(1, 4, Firmware(300, 1, 4))
                                            .End()
                                            .Raw(std::vector<uint8_t>{0x00, 0xFF})
                                            .Bytes();
  const std::string written = test::ReadFileText(out);
  EXPECT_EQ(std::vector<uint8_t>(written.begin(), written.end()), expected);
  result = RunProgram({kProgram, "check", out, "--company", "0x21", "--product", "0x0a"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;

  // Without records the packer still makes a valid file: the end record and one byte after it.
  result = RunProgram({kProgram, "pack", out});
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(RunProgram({kProgram, "check", out}).exitStatus, 0);
}

struct PackCase {
  const char* name;
  bool forTheModule;  // version 1 for the simulated module's family, else version 0
  std::vector<std::string> records;
  int status;  // pack's; 0: the file must pass the check with the same identifiers
};

TEST(CliPack, EveryFileItWritesPassesTheCheckAndRecordsThatCannotAreRefused) {
  const std::string image = "image:1.4:" + WriteFile("table.bin", Firmware(200, 1, 4));
  const std::vector<PackCase> cases = {
      {"nothing", false, {}, 0},
      {"only the end", false, {"end"}, 0},
      {"only the end", true, {"end"}, 0},
      {"a delay and the end", true, {"delay:20", "end"}, 0},
      {"a delay, end added", true, {"delay:20"}, 0},
      {"a mix and the end", true, {"noop", "reset:3", "delay:0", "reset:0", "noop", "end"}, 0},
      {"a mix, end added", false, {"reset:1", "noop", "delay:255"}, 0},
      {"an image and the end", true, {image, "end"}, 0},
      {"an image, end added", true, {"delay:1", image}, 0},
      {"two images in a mix", true, {"reset:1", image, "noop", "delay:2", image, "end"}, 0},
      {"bytes after the end", false, {"delay:5", "end", "raw:00ff"}, 0},
      {"no bytes after the end", true, {"end", "raw:"}, 0},
      {"a raw no-op", true, {"raw:01", "delay:3", "end"}, 0},
      {"a raw empty image record", false, {"raw:0000000102", "end"}, 0},
      {"a raw end record", false, {"noop", "raw:ff"}, 0},
      {"a raw type that is none", true, {"raw:05", "end"}, 65},
      {"a raw reset without its argument", false, {"raw:03"}, 65},
      {"a raw reset of argument 4", true, {"raw:0304", "end"}, 65},
      {"a raw image record cut short", false, {"raw:000500", "end"}, 65},
      {"a record after the end", true, {"end", "noop"}, 64},
      {"a second end", false, {"end", "raw:00", "end"}, 64},
  };
  const std::string out = (ScratchDirectory() / "table.kfw").string();
  for (const PackCase& c : cases) {
    std::string records;
    for (const std::string& record : c.records) records += " " + record;
    SCOPED_TRACE(std::string(c.name) + (c.forTheModule ? " (v1):" : " (v0):") + records);
    std::filesystem::remove(out);
    std::vector<std::string> identifiers;
    if (c.forTheModule) identifiers = {"--company", "0x0021", "--product", "0x0A"};
    std::vector<std::string> argv = {kProgram, "pack", out};
    argv.insert(argv.end(), identifiers.begin(), identifiers.end());
    argv.insert(argv.end(), c.records.begin(), c.records.end());
    const test::ProcessResult packed = RunProgram(argv);
    EXPECT_EQ(packed.exitStatus, c.status) << packed.err;
    if (c.status != 0) {
      EXPECT_FALSE(std::filesystem::exists(out)) << "an invalid file was written";
      continue;
    }
    argv = {kProgram, "check", out};
    argv.insert(argv.end(), identifiers.begin(), identifiers.end());
    const test::ProcessResult checked = RunProgram(argv);
    EXPECT_EQ(checked.exitStatus, 0) << checked.err;
  }
}

TEST(CliPack, RefusesDataThatCannotTravelInSysEx) {
  std::vector<uint8_t> data = Firmware(64, 1, 0);
  data[40] = 0x9C;
  const std::string out = (ScratchDirectory() / "eight-bit.kfw").string();
  const test::ProcessResult result =
      RunProgram({kProgram, "pack", out, "image:1.0:" + WriteFile("fw8.bin", data)});
  EXPECT_EQ(result.exitStatus, 65);
  EXPECT_NE(result.err.find("0x9c at offset 40"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace kfw::test
