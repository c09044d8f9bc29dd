// `simulate` run as a user runs it: the simulated module on a pseudo-terminal, updated by another
// kfwupdate, the identities it refuses and the extremes it takes; on Windows, that it needs Linux.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#endif

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "image/image_writer.h"
#include "tests/cli/cli_helpers.h"
#include "tests/support/doubles.h"

namespace kfw::test {
namespace {

#ifdef _WIN32
// Windows has no pseudo-terminals nor raw MIDI devices for the simulated module's far end.
TEST(CliSimulate, SaysItNeedsLinux) {
  for (const std::vector<std::string>& words :
       std::vector<std::vector<std::string>>{{}, {"--in", "pty"}, {"--block-size", "128"}}) {
    std::vector<std::string> argv = {kProgram, "simulate"};
    argv.insert(argv.end(), words.begin(), words.end());
    const test::ProcessResult result = RunProgram(argv);
    EXPECT_EQ(result.exitStatus, 69);
    EXPECT_NE(result.err.find("needs Linux"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("--in sim --out sim"), std::string::npos) << result.err;
  }
  const test::ProcessResult help = RunProgram({kProgram, "simulate", "--help"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_NE(help.out.find("This needs Linux."), std::string::npos) << help.out;
}
#else

TEST(CliSimulate, UpdateOverAPseudoTerminalLeavesTheImageInTheModule) {
  // Two image records with delays, a reset and a no-op between them: the module must end up
  // holding both images, in order, and nothing else.
  const std::vector<uint8_t> first = Firmware(700, 2, 0);
  std::vector<uint8_t> second(300);
  for (size_t i = 0; i < second.size(); ++i) second[i] = static_cast<uint8_t>((i * 5) & 0x7F);
  const std::string file = WriteFile("two.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                                    .Image(2, 0, first)
                                                    .Delay(2)
                                                    .NoOp()
                                                    .Reset(1)
                                                    .Image(2, 1, second)
                                                    .End()
                                                    .Bytes());
  const std::string dump = (ScratchDirectory() / "programmed.bin").string();
  test::ChildProcess simulator({kProgram, "simulate", "--block-size", "128", "--dump-image", dump});
  ASSERT_TRUE(simulator.WaitForOutput("kfwsim ready", std::chrono::seconds(10)));
  const std::string port = TransmitTo(simulator.Output());
  ASSERT_EQ(port.rfind("/dev/pts/", 0), 0u) << simulator.Output();

  const test::ProcessResult update =
      RunProgram({kProgram, "update", file, "--in", port, "--out", port});
  EXPECT_EQ(update.exitStatus, 0) << update.err;
  EXPECT_NE(update.out.find("Firmware was successfully updated.\n"), std::string::npos);

  simulator.Signal(SIGTERM);
  const test::ProcessResult simulated = simulator.Wait(std::chrono::seconds(10));
  EXPECT_EQ(simulated.exitStatus, 0) << simulated.err;
  EXPECT_NE(simulated.err.find("2 images programmed"), std::string::npos) << simulated.err;
  std::vector<uint8_t> expected = first;
  expected.insert(expected.end(), second.begin(), second.end());
  const std::string programmed = test::ReadFileText(dump);
  EXPECT_EQ(std::vector<uint8_t>(programmed.begin(), programmed.end()), expected);
}

// An identity whose replies could not reach the updater whole is a mistake on the command line.
// The port is a path that cannot be opened, so that a simulator that wrongly starts ends at once.
TEST(CliSimulate, RefusesAnIdentityItsRepliesCannotCarry) {
  const std::string name30(30, 'N');
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--company", "0x0080"}, "each byte of --company must be at most 0x7F"},
      {{"--company", "0x8000"}, "each byte of --company must be at most 0x7F"},
      {{"--company", "0xFF7F"}, "each byte of --company must be at most 0x7F"},
      {{"--product", "0x80"}, "--product must be at most 0x7F"},
      {{"--name", name30}, "--name takes at most 29 characters"},
      // UTF-8 "café": its last two bytes are above 0x7F.
      {{"--name", "caf\xC3\xA9"}, "each byte of --name must be at most 0x7F"},
      {{"--name", "QX\x80"}, "each byte of --name must be at most 0x7F"},
  };
  const std::string nowhere = (ScratchDirectory() / "no-such-device").string();
  for (const auto& [options, text] : cases) {
    std::vector<std::string> argv = {kProgram, "simulate", "--in", nowhere, "--out", nowhere};
    argv.insert(argv.end(), options.begin(), options.end());
    const test::ProcessResult result = RunProgram(argv);
    EXPECT_EQ(result.exitStatus, 64) << options.back() << ": " << result.err;
    EXPECT_NE(result.err.find(text), std::string::npos) << result.err;
  }
}

TEST(CliSimulate, TheLongestNameAndHighestIdentifiersStillReachTheUpdater) {
  const std::string name29 = "QX-412 with a name this long.";
  ASSERT_EQ(name29.size(), 29u);
  test::ChildProcess simulator(
      {kProgram, "simulate", "--company", "0x7F7E", "--product", "0x7F", "--name", name29});
  ASSERT_TRUE(simulator.WaitForOutput("kfwsim ready", std::chrono::seconds(10)))
      << simulator.Wait(std::chrono::seconds(1)).err;
  const std::string port = TransmitTo(simulator.Output());
  const test::ProcessResult connect =
      RunProgram({kProgram, "connect", "--in", port, "--out", port});
  EXPECT_EQ(connect.exitStatus, 0) << connect.err;
  EXPECT_NE(connect.out.find("Product: " + name29 + "\n"), std::string::npos) << connect.out;
  simulator.Signal(SIGTERM);
  EXPECT_EQ(simulator.Wait(std::chrono::seconds(10)).exitStatus, 0);
}
#endif

}  // namespace
}  // namespace kfw::test
