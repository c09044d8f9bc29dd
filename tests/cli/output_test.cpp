// How every command ends on standard output: with --json, its result line after its error box;
// and a closed standard output neither stops the work nor passes for its result.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/result.h"
#include "image/image_writer.h"
#include "tests/cli/cli_helpers.h"
#include "tests/support/doubles.h"

namespace kfw::test {
namespace {

struct ClosedOutputCase {
  const char* name;
  std::vector<std::string> words;
  int status;
  std::string doneInTrace;  // what the trace holds once the work is done
};

TEST(CliOutput, AClosedStandardOutputNeitherStopsTheWorkNorPassesForItsResult) {
  const std::string newer =
      WriteFile("closed-newer.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                        .Image(1, 3, Firmware(512, 1, 3))
                                        .End()
                                        .Bytes());
  const std::string same =
      WriteFile("closed-same.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                       .Image(1, 2, Firmware(128, 1, 2))
                                       .End()
                                       .Bytes());
  const std::string packed = (ScratchDirectory() / "closed-packed.kfw").string();
  const std::string trace = (ScratchDirectory() / "closed-trace.txt").string();
  const std::string finalReset = "TX: f0 00 00 21 0a 7f 10 00 f7";
  const std::vector<ClosedOutputCase> cases = {
      {"a whole update", {"update", newer, "--in", "sim", "--out", "sim"}, 74, finalReset},
      // Asked before the erase: the work ends with the status read of the update's own Connect.
      {"an update answered No",
       {"update", same, "--in", "sim", "--out", "sim", "--no"},
       kCanceled,
       "--- QX-412 get status request ---"},
      {"a file checked", {"check", newer, "--company", "0x21", "--product", "0x0a"}, 74, ""},
      {"a file packed", {"pack", packed, "delay:3"}, 74, ""},
  };
  for (const ClosedOutputCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(trace);
    std::vector<std::string> argv = {kProgram};
    argv.insert(argv.end(), c.words.begin(), c.words.end());
    argv.insert(argv.end(), {"-log", "--trace-file", trace});
    test::ChildProcess child(argv, {}, test::ChildOutput::kClosedPipe);
    const test::ProcessResult result = child.Wait();
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitStatus, c.status) << result.err;
    if (c.status == 74) {
      EXPECT_NE(result.err.find("its report could not be written to standard output"),
                std::string::npos)
          << result.err;
    }
    if (!c.doneInTrace.empty()) {
      EXPECT_NE(test::ReadFileText(trace).find(c.doneInTrace), std::string::npos);
    }
  }
  EXPECT_EQ(RunProgram({kProgram, "check", packed}).exitStatus, 0);
}

struct JsonEndCase {
  const char* name;
  std::vector<std::string> words;  // after the program
  int status;
  std::vector<std::string> last;  // the summaries the output ends with
  bool whole;                     // and nothing before them
};

TEST(CliJson, EveryCommandEndsWithItsResultAndAFailureWithItsErrorBox) {
  const std::string otherProduct = WriteFile(
      "json-other.kfw",
      ImageWriter::Version1(kSimCompany, 0x0B).Image(1, 3, Firmware(64, 1, 3)).End().Bytes());
  // The simulated module holds 1.2, verified good: the same version is questioned.
  const std::string same =
      WriteFile("json-same.kfw", ImageWriter::Version1(kSimCompany, kSimProduct)
                                     .Image(1, 2, Firmware(128, 1, 2))
                                     .End()
                                     .Bytes());
  std::vector<uint8_t> badCrc =
      ImageWriter::Version0().Image(1, 0, std::vector<uint8_t>{1}).End().Bytes();
  badCrc[1] ^= 0xFF;
  const std::string corrupt = WriteFile("json-crc.kfw", badCrc);
  const std::string missing = (ScratchDirectory() / "json-missing.kfw").string();
  const std::string question =
      "box question The firmware image in the hardware is verified good and the version # "
      "matches the update file. Updating with this image file is unnecessary and will change "
      "nothing! Update anyway?";
  const std::vector<JsonEndCase> cases = {
      {"an image for another product",
       {"update", otherProduct, "--in", "sim", "--out", "sim"},
       kProductMismatch,
       {"box success Connection established!",
        "box error Update file's product ID mismatched with device",
        "result 16 Update file's product ID mismatched with device 16"},
       false},
      // Asked before the erase: the update's own Connect is the last thing shown before it.
      {"the same version, not answered",
       {"update", same, "--in", "sim", "--out", "sim"},
       kCanceled,
       {"progress Connecting... 0", question + " -> no", "box error Operation canceled",
        "result 5 Operation canceled 5"},
       false},
      {"the same version, answered Yes",
       {"update", same, "--in", "sim", "--out", "sim", "--yes"},
       kOk,
       {"box success Firmware was successfully updated.", "result 0 No error 0"},
       false},
      {"an image that cannot be read",
       {"update", missing, "--in", "sim", "--out", "sim"},
       66,
       {"box error Can't open file " + missing + " for reading",
        "result null Can't open file " + missing + " for reading 66"},
       true},
      {"a port that is not there",
       {"connect", "--in", "no-such-port", "--out", "sim"},
       69,
       {"box error kfwupdate connect: no port in \"Receive from\" matches \"no-such-port\"; run "
        "`kfwupdate ports` to list them (the simulated module is listed with --simulator)",
        "result null kfwupdate connect: no port in \"Receive from\" matches \"no-such-port\"; "
        "run `kfwupdate ports` to list them (the simulated module is listed with "
        "--simulator) 69"},
       true},
#ifndef _WIN32
      // What is true on Linux, where WinMM's "midiInOpen returned 00000002" would mean nothing.
      {"a raw device that is not there",
       {"connect", "--in", missing, "--out", missing},
       69,
       {"box error Cannot open the MIDI port chosen in \"Receive from\": No such file or "
        "directory. To try the program without hardware, choose the simulated module (start the "
        "program with --simulator).",
        "result null Cannot open the MIDI port chosen in \"Receive from\": No such file or "
        "directory. To try the program without hardware, choose the simulated module (start the "
        "program with --simulator). 69"},
       true},
#endif
      {"a module that answers",
       {"connect", "--in", "sim", "--out", "sim"},
       kOk,
       {"progress Connecting... 0", "module 1.2", "box success Connection established!",
        "result 0 No error 0"},
       true},
      {"a good file checked",
       {"check", same, "--company", "0x21", "--product", "0x0a"},
       kOk,
       {"result 0 No error 0"},
       true},
      {"a bad file checked",
       {"check", corrupt},
       kImageCrcError,
       {"box error Update file CRC error", "result 2 Update file CRC error 2"},
       true},
      {"a file that cannot be checked",
       {"check", missing},
       66,
       {"box error Can't open file " + missing + " for reading",
        "result null Can't open file " + missing + " for reading 66"},
       true},
  };
  for (const JsonEndCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv = {kProgram};
    argv.insert(argv.end(), c.words.begin(), c.words.end());
    argv.push_back("--json");
    const test::ProcessResult result =
        RunProgram(argv, {{"JACK_NO_START_SERVER", "1"}, {"JACK_DEFAULT_SERVER", "kfw-none"}});
    EXPECT_EQ(result.exitStatus, c.status);
    EXPECT_EQ(result.err, "");
    const std::vector<std::string> summaries = Summaries(JsonLines(result.out));
    ASSERT_GE(summaries.size(), c.last.size()) << result.out;
    if (c.whole) {
      EXPECT_EQ(summaries.size(), c.last.size()) << result.out;
    }
    EXPECT_EQ(std::vector<std::string>(summaries.end() - static_cast<long>(c.last.size()),
                                       summaries.end()),
              c.last)
        << result.out;
  }
}

}  // namespace
}  // namespace kfw::test
