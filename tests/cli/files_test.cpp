// The files every command reads and writes by name: what is not a regular file is refused
// without waiting, and names outside ASCII are taken as users give them.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "image/image_writer.h"
#include "tests/cli/cli_helpers.h"
#include "tests/support/doubles.h"
#include "tests/support/in_child.h"

namespace kfw::test {
namespace {

TEST(CliFiles, WhatIsNotARegularFileIsRefusedWithoutWaiting) {
  const std::filesystem::path dir = ScratchDirectory() / "special";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / "folder");
  const std::string folder = (dir / "folder").string();
  const std::string image =
      WriteFile("plain.kfw", ImageWriter::Version0().End().Raw(std::vector<uint8_t>{0}).Bytes());
  const std::string packed = (dir / "packed.kfw").string();
  const auto cannotRead = [](const std::string& name) {
    return "Can't open file " + name + " for reading\n";
  };
  const auto cannotWrite = [](const std::string& name) {
    return "kfwupdate pack: cannot write " + name + "; check the folder exists and is writable\n";
  };
#ifdef _WIN32
  // Windows opens devices by name as files: "NUL" in any folder (and CON, which would wait for
  // the keyboard).
  const std::string device = "NUL";
  const std::string waiting = (dir / "CON").string();
#else
  const std::string device = "/dev/null";
  const std::string waiting = (dir / "fifo").string();
  test::MakeFifo(waiting);
#endif
  std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases = {
      {{"check", waiting}, 66, cannotRead(waiting)},
      {{"check", folder}, 66, cannotRead(folder)},
      {{"pack", packed, "image:1.0:" + waiting}, 66, cannotRead(waiting)},
      {{"pack", waiting}, 73, cannotWrite(waiting)},
      {{"pack", device}, 73, cannotWrite(device)},
      {{"pack", folder}, 73, cannotWrite(folder)},
      // A trace file that cannot be written is not written; the command goes on.
      {{"check", image, "-log", "--trace-file", waiting}, 0, ""},
      {{"check", image, "-log", "--trace-file", device}, 0, ""},
  };
#ifndef _WIN32
  // Told before the simulated module starts, rather than when its session ends.
  cases.push_back({{"simulate", "--dump-image", waiting},
                   73,
                   "kfwupdate simulate: cannot write " + waiting +
                       "; give a regular file in a folder that exists and is writable\n"});
#endif
  for (const auto& [words, status, error] : cases) {
    std::vector<std::string> argv = {kProgram};
    argv.insert(argv.end(), words.begin(), words.end());
    SCOPED_TRACE(testing::PrintToString(argv));
    // A program blocked on the FIFO is killed at the deadline, failing the test.
    const test::ProcessResult result = test::Run(argv, {}, std::chrono::seconds(10));
    EXPECT_EQ(result.exitStatus, status);
    EXPECT_EQ(result.err, error);
  }
  EXPECT_TRUE(std::filesystem::is_empty(folder));
#ifndef _WIN32
  EXPECT_TRUE(std::filesystem::is_fifo(waiting));
  // pack follows a link to its output, as a shell's ">" would.
  std::filesystem::create_symlink(packed, dir / "link.kfw");
  ASSERT_EQ(RunProgram({kProgram, "pack", (dir / "link.kfw").string()}).exitStatus, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.kfw"));
  EXPECT_EQ(RunProgram({kProgram, "check", packed}).exitStatus, 0);
#endif
}

// A name as the program takes it, in UTF-8, for the test's own file operations: a narrow name
// would be read in the ANSI code page on Windows.
std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// Names as users give them: UTF-8 on Linux, whatever the system's code page on Windows.
TEST(CliFiles, NamesOutsideAsciiAreReadAndWritten) {
  const std::string dir =
      ScratchDirectory().string() + "/\u043f\u0440\u043e\u0448\u0438\u0432\u043a\u0430";
  std::filesystem::create_directories(PathOf(dir));
  const std::string data = dir + "/\u0434\u0430\u043d\u043d\u044b\u0435.bin";
  const std::string packed = dir + "/\u00e9t\u00e9-\u65e5\u672c.kfw";
  std::ofstream(PathOf(data), std::ios::binary) << "QXFW\x01\x03";
  test::ProcessResult result = RunProgram(
      {kProgram, "pack", packed, "--company", "0x0021", "--product", "0x0A", "image:1.3:" + data});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_NE(result.out.find("Wrote " + packed + ":"), std::string::npos) << result.out;
  EXPECT_TRUE(std::filesystem::exists(PathOf(packed)));
  result = RunProgram({kProgram, "update", packed, "--in", "sim", "--out", "sim"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  // And the name of one that is not there is told as it was given.
  const std::string missing = dir + "/\u043d\u0435\u0442.kfw";
  result = RunProgram({kProgram, "check", missing});
  EXPECT_EQ(result.exitStatus, 66);
  EXPECT_EQ(result.err, "Can't open file " + missing + " for reading\n");
}

}  // namespace
}  // namespace kfw::test
