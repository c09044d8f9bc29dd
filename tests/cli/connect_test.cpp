// `connect` run as a user runs it, against the simulator on a pseudo-terminal (POSIX only): a
// module's name of control bytes, written out for people and whole in JSON.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#endif

#include <chrono>
#include <string>
#include <vector>

#include "tests/cli/cli_helpers.h"

namespace kfw::test {
namespace {

// The simulator on a pseudo-terminal: POSIX only.
#ifndef _WIN32
TEST(CliSimulate, AModuleNamedWithEscapeSequencesIsPrintedWithThemWrittenOut) {
  // A name that would retitle the terminal and clear the screen.
  test::ChildProcess simulator({kProgram, "simulate", "--name", "\x1b]0;owned\x07QX\x1b[2J"});
  ASSERT_TRUE(simulator.WaitForOutput("kfwsim ready", std::chrono::seconds(10)));
  const std::string port = TransmitTo(simulator.Output());
  const test::ProcessResult connect =
      RunProgram({kProgram, "connect", "--in", port, "--out", port});
  EXPECT_EQ(connect.exitStatus, 0) << connect.err;
  EXPECT_NE(connect.out.find("Product: \\x1b]0;owned\\x07QX\\x1b[2J\n"), std::string::npos)
      << connect.out;
  EXPECT_EQ(connect.out.find('\x1b'), std::string::npos);
  simulator.Signal(SIGTERM);
  EXPECT_EQ(simulator.Wait(std::chrono::seconds(10)).exitStatus, 0);
}

TEST(CliJson, AModuleNameOfControlBytesComesThroughWhole) {
  // What would retitle a terminal and clear its screen, a quote and a backslash.
  const std::string name = "\x1b]0;owned\x07QX\x1b[2J\"\\\x7f\x01";
  test::ChildProcess simulator({kProgram, "simulate", "--name", name});
  ASSERT_TRUE(simulator.WaitForOutput("kfwsim ready", std::chrono::seconds(10)));
  const std::string port = TransmitTo(simulator.Output());
  const test::ProcessResult connect =
      RunProgram({kProgram, "connect", "--in", port, "--out", port, "--json"});
  EXPECT_EQ(connect.exitStatus, 0) << connect.out;
  const std::vector<Json> events = JsonLines(connect.out);
  ASSERT_EQ(events.size(), 4u) << connect.out;
  EXPECT_EQ(events[1].at("productName"), name);
  EXPECT_NE(connect.out.find(R"("productName":"\u001b]0;owned\u0007QX\u001b[2J\"\\\u007f\u0001")"),
            std::string::npos)
      << connect.out;
  simulator.Signal(SIGTERM);
  EXPECT_EQ(simulator.Wait(std::chrono::seconds(10)).exitStatus, 0);
}
#endif

}  // namespace
}  // namespace kfw::test
