// `update` run as a user runs it, on the built-in simulated module and (POSIX only) on the
// simulator's pseudo-terminal: the report, the messages sent, the question before the erase, the
// stops, and the same as JSON lines.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "base/result.h"
#include "image/image_writer.h"
#include "tests/cli/cli_helpers.h"
#include "tests/support/doubles.h"

namespace kfw::test {
namespace {

TEST(CliUpdate, WholeUpdateOnTheBuiltInSimulatedModule) {
  const std::string file = WriteFile("update.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                                       .Image(1, 3, Firmware(512, 1, 3))
                                                       .End()
                                                       .Bytes());
  const std::string trace = (ScratchDirectory() / "update-trace.txt").string();
  const test::ProcessResult result = RunProgram({kProgram, "update", file, "--in", "sim", "--out",
                                                 "simulated", "-log", "--trace-file", trace});
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.out,
            "Connection established!\n"
            "Serial #: 4b5804120001\n"
            "Current firmware version #: 1.2\n"
            "Product: QX-412\n"
            "Firmware was successfully updated.\n"
            "Serial #: 4b5804120001\n"
            "Current firmware version #: 1.3\n");
  // Not a terminal: one line per step, no control characters.
  EXPECT_EQ(result.err.find('\r'), std::string::npos);
  EXPECT_NE(result.err.find("Updating firmware area...\n"), std::string::npos);
  const std::string log = test::ReadFileText(trace);
  EXPECT_NE(log.find("--- Program final block ---\n"), std::string::npos);
  EXPECT_NE(log.rfind("TX: f0 00 00 21 0a 7f 10 00 f7 \n"), std::string::npos);
}

// The lines of a trace that start with `prefix`.
std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (text.compare(start, prefix.size(), prefix) == 0) {
      lines.push_back(text.substr(start, end - start));
    }
  }
  return lines;
}

// --fast changes when the waits end, nothing the module or the user sees: the same messages in the
// same order, the same report. Connect takes it too; the simulated module is no host and does not.
TEST(CliUpdate, FastSendsTheSameMessagesAndPrintsTheSame) {
  const std::string file = WriteFile("fast.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                                     .Delay(2)
                                                     .Image(1, 3, Firmware(700, 1, 3))
                                                     .End()
                                                     .Bytes());
  test::ProcessResult results[2];
  std::vector<std::string> sent[2];
  for (bool fast : {false, true}) {
    const std::string trace =
        (ScratchDirectory() / (fast ? "fast-trace.txt" : "trace.txt")).string();
    std::vector<std::string> argv = {kProgram, "update", file,   "--in",         "sim",
                                     "--out",  "sim",    "-log", "--trace-file", trace};
    if (fast) argv.push_back("--fast");
    results[fast] = RunProgram(argv);
    ASSERT_EQ(results[fast].exitStatus, 0) << results[fast].err;
    sent[fast] = LinesStartingWith(test::ReadFileText(trace), "TX: ");
  }
  EXPECT_EQ(results[1].out, results[0].out);
  EXPECT_EQ(sent[1], sent[0]);
  // Connect's reset and status, the run's own, prepare, 3 blocks, final, status, reset.
  EXPECT_EQ(sent[0].size(), 11u);

  const test::ProcessResult connected =
      RunProgram({kProgram, "connect", "--in", "sim", "--out", "sim", "--fast"});
  EXPECT_EQ(connected.exitStatus, 0) << connected.err;
  EXPECT_EQ(connected.out.rfind("Connection established!\n", 0), 0u) << connected.out;
  // Only the commands that talk to a module take it (on Windows simulate reads no option: it only
  // says that it needs Linux).
#ifdef _WIN32
  for (const char* command : {"ports", "check"}) {
#else
  for (const char* command : {"simulate", "ports", "check"}) {
#endif
    EXPECT_EQ(RunProgram({kProgram, command, "--fast"}).exitStatus, 64) << command;
  }
}

TEST(CliUpdate, DataThatCannotTravelIsRefusedBeforeTheModuleIsErased) {
  const std::string file =
      WriteFile("eight-bit.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                     .Image(1, 3, EightBitFirmware(512))
                                     .End()
                                     .Bytes());
  const std::string trace = (ScratchDirectory() / "eight-bit-trace.txt").string();
  const test::ProcessResult result = RunProgram(
      {kProgram, "update", file, "--in", "sim", "--out", "sim", "-log", "--trace-file", trace});
  EXPECT_EQ(result.exitStatus, kImageCorrupt);
  EXPECT_NE(result.err.find("Update file image corrupt\n"), std::string::npos) << result.err;
  const std::string log = test::ReadFileText(trace);
  EXPECT_NE(log.find("--- QX-412 get status request ---\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("--- Prepare area ---"), std::string::npos) << log;
  EXPECT_EQ(log.find(" 13 00 f7 "), std::string::npos) << log;
}

// The question comes before the erase: a No, given or taken as the default, sends no prepare-area
// command (13 00), so the module keeps the firmware it reported.
TEST(CliUpdate, NoAnswersTheSameVersionQuestionBeforeTheModuleIsErased) {
  // The simulated module holds version 1.2, verified good: the same version is questioned.
  const std::string file = WriteFile("same.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                                     .Image(1, 2, Firmware(128, 1, 2))
                                                     .End()
                                                     .Bytes());
  const std::string trace = (ScratchDirectory() / "same-trace.txt").string();
  for (const char* answer : {"--no", "", "--json"}) {
    SCOPED_TRACE(answer);
    std::filesystem::remove(trace);
    std::vector<std::string> argv = {kProgram, "update", file,   "--in",         "sim",
                                     "--out",  "sim",    "-log", "--trace-file", trace};
    if (*answer) argv.push_back(answer);
    const test::ProcessResult result = RunProgram(argv);
    EXPECT_EQ(result.exitStatus, kCanceled);
    if (std::string(answer) == "--json") {
      EXPECT_NE(result.out.find("Update anyway?\",\"answer\":false}"), std::string::npos)
          << result.out;
    } else {
      EXPECT_NE(result.err.find("Update anyway? No"), std::string::npos) << result.err;
      EXPECT_NE(result.err.find("Operation canceled\n"), std::string::npos) << result.err;
    }
    EXPECT_EQ(result.out.find("successfully"), std::string::npos);
    EXPECT_EQ(result.out.find("erased"), std::string::npos) << result.out;
    const std::string log = test::ReadFileText(trace);
    EXPECT_NE(log.find("--- QX-412 get status request ---\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("--- Prepare area ---"), std::string::npos) << log;
    EXPECT_EQ(log.find(" 13 00 f7 "), std::string::npos) << log;
  }
  std::filesystem::remove(trace);
  const test::ProcessResult yes = RunProgram({kProgram, "update", file, "--in", "sim", "--out",
                                              "sim", "--yes", "-log", "--trace-file", trace});
  EXPECT_EQ(yes.exitStatus, 0) << yes.err;
  EXPECT_NE(test::ReadFileText(trace).find("TX: f0 00 00 21 0a 7f 13 00 f7 \n"), std::string::npos);
}

struct StopCase {
  const char* name;
  int signal;         // on Windows, a console event
  bool duringBlocks;  // else during a long delay record, before any block
};

// Ctrl-Break and the closing of the console window on Windows are the same handler's (tested in
// the program's own process): Wine sends no console event but Ctrl-C.
TEST(CliUpdate, CtrlCTermAndHangUpCancelTheRunningStepAndSendNothingMore) {
  // A long delay record gives time to signal while the update waits; an image long enough to
  // take seconds at 31250 baud, to signal between its blocks.
  const std::string slow = WriteFile("slow.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                                     .Delay(250)
                                                     .Image(1, 3, Firmware(64, 1, 3))
                                                     .End()
                                                     .Bytes());
  const std::string large = WriteFile("large.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                                       .Image(1, 3, Firmware(16000, 1, 3))
                                                       .End()
                                                       .Bytes());
  const std::vector<StopCase> cases = {
#ifdef _WIN32
      {"Ctrl-C during a delay", CTRL_C_EVENT, false},
      {"Ctrl-C between blocks", CTRL_C_EVENT, true},
#else
      {"Ctrl-C during a delay", SIGINT, false},
      {"SIGTERM during a delay", SIGTERM, false},
      {"SIGHUP during a delay", SIGHUP, false},
      {"SIGTERM between blocks", SIGTERM, true},
#endif
  };
  for (const StopCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string trace = (ScratchDirectory() / "stopped-trace.txt").string();
    test::ChildProcess update({kProgram, "update", c.duringBlocks ? large : slow, "--in", "sim",
                               "--out", "sim", "-log", "--trace-file", trace});
    ASSERT_TRUE(update.WaitForError(c.duringBlocks ? "Updating firmware area..." : "Delaying...",
                                    std::chrono::seconds(20)));
    update.Signal(c.signal);
    const auto pressed = std::chrono::steady_clock::now();
    const test::ProcessResult result = update.Wait(std::chrono::seconds(10));
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, std::chrono::seconds(2));
    EXPECT_EQ(result.exitStatus, kCanceled) << result.err;
    EXPECT_NE(result.err.find("Operation canceled\n"), std::string::npos) << result.err;
    // Nothing after the stop: no further record, no final block, no final reset.
    const std::string log = test::ReadFileText(trace);
    if (!c.duringBlocks) {
      EXPECT_EQ(log.find("--- Transmitting image ---"), std::string::npos);
    }
    EXPECT_NE(log.find("--- Resetting QX-412 ---"), std::string::npos) << "no trace";
    EXPECT_EQ(log.find("--- Program final block ---"), std::string::npos);
    EXPECT_EQ(log.find("TX: f0 00 00 21 0a 7f 10 00 f7"), std::string::npos);
    // Stopped between blocks, the module is left erased, and told so; during the delay it is not.
    EXPECT_EQ(result.out.find("The module's firmware area was erased: its firmware is not verified "
                              "until an update succeeds; update it again.\n") != std::string::npos,
              c.duringBlocks)
        << result.out;
  }
}

TEST(CliUpdate, UnknownPortIsTold) {
  const std::string file =
      WriteFile("any.kfw", ImageWriter::Version0().End().Raw(std::vector<uint8_t>{0}).Bytes());
  const test::ProcessResult result =
      RunProgram({kProgram, "update", file, "--in", "no-such-port", "--out", "sim"},
                 {{"JACK_DEFAULT_SERVER", "kfw-none"}});
  EXPECT_EQ(result.exitStatus, 69);
  EXPECT_NE(result.err.find("no port in \"Receive from\" matches \"no-such-port\""),
            std::string::npos)
      << result.err;
}

// The simulated module's texts and numbers as a module event gives them.
void ExpectSimulatedModule(const Json& module, const std::string& version) {
  EXPECT_EQ(module.at("serial"), "4b5804120001");
  EXPECT_EQ(module.at("version"), version);
  EXPECT_EQ(module.at("productName"), "QX-412");
  EXPECT_EQ(module.at("state"), 0);
  EXPECT_EQ(module.at("versionMajor"), 1);
  EXPECT_EQ(module.at("versionMinor"), std::stoi(version.substr(2)));
  EXPECT_EQ(module.at("blockSize"), 256);
  EXPECT_EQ(module.at("companyId"), kSimCompany);
  EXPECT_EQ(module.at("productId"), kSimProduct);
}

TEST(CliJson, AWholeUpdateIsToldStepByStepAndAlikeInBothModes) {
  // A delay of two ticks, then 700 bytes in blocks of 256: three blocks.
  const std::string file = WriteFile("json.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                                     .Delay(2)
                                                     .Image(1, 3, Firmware(700, 1, 3))
                                                     .End()
                                                     .Bytes());
  const std::vector<std::string> expected = {
      "progress Connecting... 0",
      "module 1.2",
      "box success Connection established!",
      // The update run connects afresh, in a window of its own.
      "progress Connecting... 0",
      "progress Delaying... 0",
      "progress Delaying... 50",
      "progress Delaying... 100",
      "progress Preparing firmware area... 0",
      "progress Updating firmware area... 0",
      "progress Updating firmware area... 33",
      "progress Updating firmware area... 66",
      "progress Reading updated version #... 0",
      "progress Reading updated version #... 10",
      "module 1.3",
      "box success Firmware was successfully updated.",
      "result 0 No error 0",
  };
  std::string outs[2];
  for (const bool fast : {false, true}) {
    SCOPED_TRACE(fast ? "--fast" : "normal");
    std::vector<std::string> argv = {kProgram, "update", file,  "--in",
                                     "sim",    "--out",  "sim", "--json"};
    if (fast) argv.push_back("--fast");
    const test::ProcessResult result = RunProgram(argv);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "");
    const std::vector<Json> events = JsonLines(result.out);
    EXPECT_EQ(Summaries(events), expected) << result.out;
    if (events.size() == expected.size()) {
      ExpectSimulatedModule(events[1], "1.2");
      ExpectSimulatedModule(events[13], "1.3");
    }
    outs[fast] = result.out;
  }
  EXPECT_EQ(outs[1], outs[0]);
}

// POSIX only: a SIGINT, and the simulator on a pseudo-terminal.
#ifndef _WIN32
TEST(CliJson, CtrlCEndsTheUpdateWithTheCanceledResult) {
  const std::string slow =
      WriteFile("json-slow.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                     .Delay(250)
                                     .Image(1, 3, Firmware(64, 1, 3))
                                     .End()
                                     .Bytes());
  test::ChildProcess update({kProgram, "update", slow, "--in", "sim", "--out", "sim", "--json"});
  ASSERT_TRUE(update.WaitForOutput("\"caption\":\"Delaying...\"", std::chrono::seconds(20)))
      << update.Output();
  update.Signal(SIGINT);
  const test::ProcessResult result = update.Wait(std::chrono::seconds(10));
  EXPECT_EQ(result.exitStatus, kCanceled);
  // Only the note that the Ctrl-C was taken, which cannot wait for the next event.
  EXPECT_EQ(result.err, "\nCanceling... (press Ctrl-C again to quit at once)\n");
  const std::vector<std::string> summaries = Summaries(JsonLines(result.out));
  ASSERT_GE(summaries.size(), 3u) << result.out;
  EXPECT_EQ(
      std::vector<std::string>(summaries.end() - 2, summaries.end()),
      (std::vector<std::string>{"box error Operation canceled", "result 5 Operation canceled 5"}));
  for (const std::string& summary : summaries) {
    EXPECT_EQ(summary.find("Preparing"), std::string::npos) << "went on after the Ctrl-C";
  }
}

TEST(CliSimulate, ARejectedBlockEndsTheUpdateWithItsText) {
  const std::string file = WriteFile("rejected.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                                         .Image(1, 3, Firmware(1024, 1, 3))
                                                         .End()
                                                         .Bytes());
  test::ChildProcess simulator(
      {kProgram, "simulate", "--reject-block", "2", "--reject-status", "1"});
  ASSERT_TRUE(simulator.WaitForOutput("kfwsim ready", std::chrono::seconds(10)));
  const std::string port = TransmitTo(simulator.Output());
  const test::ProcessResult update =
      RunProgram({kProgram, "update", file, "--in", port, "--out", port});
  EXPECT_EQ(update.exitStatus, kDeviceBadChecksum);
  EXPECT_NE(update.err.find("MIDI Reports bad checksum\n"), std::string::npos) << update.err;
  EXPECT_NE(update.out.find("The module's firmware area was erased"), std::string::npos)
      << update.out;
  // Connected again, the module reports firmware that is not verified, and the version it gives
  // none: said so, where the version would be. JSON carries the state.
  const test::ProcessResult connect =
      RunProgram({kProgram, "connect", "--in", port, "--out", port});
  EXPECT_EQ(connect.exitStatus, 0) << connect.err;
  EXPECT_NE(
      connect.out.find("Current firmware version #: (firmware not verified: update it again)\n"),
      std::string::npos)
      << connect.out;
  const test::ProcessResult json =
      RunProgram({kProgram, "connect", "--in", port, "--out", port, "--json"});
  EXPECT_NE(json.out.find("\"version\":\"\",\"productName\":\"QX-412\",\"state\":1,"),
            std::string::npos)
      << json.out;
  simulator.Signal(SIGTERM);
  EXPECT_EQ(simulator.Wait(std::chrono::seconds(10)).exitStatus, 0);
}

TEST(CliJson, ARejectedBlockEndsTheProgressWithItsErrorBoxAndResult) {
  const std::string file =
      WriteFile("json-rejected.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                         .Image(1, 3, Firmware(1024, 1, 3))
                                         .End()
                                         .Bytes());
  test::ChildProcess simulator(
      {kProgram, "simulate", "--reject-block", "2", "--reject-status", "1"});
  ASSERT_TRUE(simulator.WaitForOutput("kfwsim ready", std::chrono::seconds(10)));
  const std::string port = TransmitTo(simulator.Output());
  const test::ProcessResult update =
      RunProgram({kProgram, "update", file, "--in", port, "--out", port, "--json"});
  EXPECT_EQ(update.exitStatus, kDeviceBadChecksum);
  EXPECT_EQ(update.err, "");
  const std::vector<std::string> summaries = Summaries(JsonLines(update.out));
  // Blocks 0 and 1 were taken, block 2 refused: 1024 bytes in blocks of 256 count as 5.
  ASSERT_GE(summaries.size(), 5u) << update.out;
  EXPECT_EQ(std::vector<std::string>(summaries.end() - 5, summaries.end()),
            (std::vector<std::string>{
                "progress Updating firmware area... 0", "progress Updating firmware area... 20",
                "progress Updating firmware area... 40", "box error MIDI Reports bad checksum",
                "result 11 MIDI Reports bad checksum 11"}))
      << update.out;
  simulator.Signal(SIGTERM);
  EXPECT_EQ(simulator.Wait(std::chrono::seconds(10)).exitStatus, 0);
}
#endif

}  // namespace
}  // namespace kfw::test
