// The base under every subsystem: the texts the user sees and how they leave the core (the text
// table, the trace log and its command-line switch, the fatal MIDI error that ends the process),
// and the cancel flag every wait polls.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/report.h"
#include "base/result.h"
#include "base/waiting.h"
#include "engine/process_state.h"
#include "tests/support/doubles.h"

namespace kfw {
namespace {

namespace fs = std::filesystem;

// clang-format off
const char* const kTexts[kTextTableSize] = {
    "Connect to firmware", "Connecting...", "Delaying...", "Preparing firmware area...",
    "Update firmware Image", "Updating firmware area...", "Reading updated version #...",
    "The firmware image in the hardware is verified good and the version # matches the update "
    "file. Updating with this image file is unnecessary and will change nothing! Update anyway?",
    "No error", "Cannot open file", "Update file CRC error", "Update file image corrupt",
    "Unknown update file version", "Operation canceled", "MIDI Response too long",
    "MIDI Response timeout", "MIDI Response unknown", "Region erase failure", "Out of memory",
    "MIDI Reports bad checksum", "MIDI Reports bad length", "MIDI Reports bad sequence",
    "MIDI Reports bad checkcode", "MIDI Reports chip programming fault",
    "Update file's product ID mismatched with device",
    "Update file's company ID mismatched with device",
};
// clang-format on

TEST(TextTable, HoldsEveryTextAndTheMessageOfCodeCAtCPlusEight) {
  for (int i = 0; i < kTextTableSize; ++i) EXPECT_STREQ(TextTable[i], kTexts[i]) << i;
  for (int c = 0; c < kResultCodeCount; ++c) {
    EXPECT_STREQ(ResultText(static_cast<ResultCode>(c)), kTexts[c + 8]) << c;
  }
  // A stray code (a corrupt cast) still gets a text, and none of the table's.
  for (int stray : {18, 255}) {
    const char* text = ResultText(static_cast<ResultCode>(stray));
    ASSERT_NE(text, nullptr);
    for (const char* entry : TextTable) EXPECT_STRNE(text, entry) << stray;
  }
}

TEST(Trace, OffTouchesNoFileThenEnableEmptiesItAndTextsFollowInCallOrder) {
  const uint8_t bytes[] = {0xF0, 0x00, 0xAB};
  Trace("--- Prepare area ---\n");
  TraceBytes("TX: ", bytes, 2);
  EXPECT_FALSE(fs::exists(TraceFilePath()));
  std::ofstream(TraceFilePath()) << "from an earlier run\n";
  EnableTrace();
  EXPECT_EQ(test::ReadFileText(TraceFilePath()), "");
  Trace("--- Resetting QX-412 ---\n");
  Trace("no line end");
  TraceBytes("RX: ", bytes, 2);
  TraceBytes("RX: ", bytes, 0);
  TraceBytes("TX: ", bytes + 2, 1);
  EXPECT_EQ(test::ReadFileText(TraceFilePath()),
            "--- Resetting QX-412 ---\nno line endRX: f0 00 \nRX: \nTX: ab \n");
}

TEST(CommandLine, AsksForTheLogWhenItHoldsDashLogAnywhere) {
  const std::pair<const char*, bool> texts[] = {
      {"-log", true}, {"/a -log", true}, {"-logfile", true}, {"-LOG", false}, {"", false}};
  for (const auto& [text, asks] : texts) EXPECT_EQ(CommandLineAsksForLog(text), asks) << text;
  // Arguments are joined with spaces, without the program's own name.
  const char* logged[] = {"kfwupdate", "/a", "-log"};
  const char* split[] = {"kfwupdate", "-lo", "g"};
  const char* nameOnly[] = {"-log"};
  EXPECT_TRUE(CommandLineAsksForLog(3, logged));
  EXPECT_FALSE(CommandLineAsksForLog(3, split));
  EXPECT_FALSE(CommandLineAsksForLog(1, nameOnly));
}

TEST(FatalMidiError, CutsALongTextTo351Characters) {
  test::RecordingBoxes boxes;
  for (size_t length : {351u, 1000u}) {
    EXPECT_THROW(FatalMidiError("%s", std::string(length, 'x').c_str()), test::FatalEnded);
  }
  EXPECT_EQ(boxes.Fatals(), std::vector<std::string>(2, std::string(351, 'x')));
}

TEST(FatalMidiErrorDeathTest, EndsTheProcessWithStatusOneAfterShowingTheText) {
  // Without a front end the text goes to standard error.
  EXPECT_EXIT(FatalMidiError("midiOutLongMsg call failed - code %.8lx\n", 11ul),
              testing::ExitedWithCode(1), "^midiOutLongMsg call failed - code 0000000b\n$");
}

TEST(CancelFlag, AWindowCancelEndsWithItsProcedureAHeldOneOnlyWithTheProcessState) {
  RequestCancel();
  ClearCancel();  // the next procedure starts
  EXPECT_FALSE(CancelRequested());
  HoldCancel();
  ClearCancel();
  ClearCancel();
  EXPECT_TRUE(CancelRequested());
  ResetProcessState();
  EXPECT_FALSE(CancelRequested());
  RequestCancel();
  ClearCancel();
  EXPECT_FALSE(CancelRequested());  // the hold is gone with the reset
}

}  // namespace
}  // namespace kfw
