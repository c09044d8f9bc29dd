// How texts leave the core: the trace log, the command-line switch for it, the boxes and the fatal
// MIDI error that ends the process.
#include "image/report.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/doubles.h"

namespace kfw {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
}

TEST(Trace, OffWritesNothingAndCreatesNoFile) {
  const fs::path path = TraceFilePath();
  fs::remove(path);
  Trace("--- Prepare area ---\n");
  const uint8_t bytes[] = {0xF0, 0xF7};
  TraceBytes("TX: ", bytes, 2);
  EXPECT_FALSE(fs::exists(path));
}

TEST(Trace, OffLeavesAnExistingFileUntouched) {
  const fs::path path = TraceFilePath();
  WriteFile(path, "from an earlier run\n");
  Trace("--- Prepare area ---\n");
  const uint8_t bytes[] = {0xF0};
  TraceBytes("RX: ", bytes, 1);
  EXPECT_EQ(test::ReadFileText(path), "from an earlier run\n");
}

TEST(Trace, EnableEmptiesTheFileThenTextsAreAppendedInCallOrder) {
  const fs::path path = TraceFilePath();
  WriteFile(path, "from an earlier run\n");
  EnableTrace();
  EXPECT_EQ(TraceFlag.load(), 1);
  EXPECT_TRUE(fs::exists(path));
  EXPECT_EQ(test::ReadFileText(path), "");
  Trace("--- Resetting QX-412 ---\n");
  Trace("no line end");
  Trace(" and more\n");
  EXPECT_EQ(test::ReadFileText(path), "--- Resetting QX-412 ---\nno line end and more\n");
}

TEST(Trace, EnableCreatesAMissingFile) {
  const fs::path path = TraceFilePath();
  fs::remove(path);
  EnableTrace();
  EXPECT_TRUE(fs::exists(path));
  EXPECT_EQ(test::ReadFileText(path), "");
}

TEST(Trace, AFileThatCannotBeOpenedIsNotAnError) {
  SetTraceFilePath((test::ScratchDirectory() / "no-such-dir" / "trace.txt").string());
  EnableTrace();
  Trace("lost\n");
  const uint8_t byte = 0xF0;
  TraceBytes("RX: ", &byte, 1);
  EXPECT_FALSE(fs::exists(test::ScratchDirectory() / "no-such-dir"));
}

TEST(Trace, BytesAreTwoLowerCaseDigitsAndASpaceEachThenALineEnd) {
  struct Case {
    const char* prefix;
    std::vector<uint8_t> bytes;
    const char* line;
  };
  const Case cases[] = {
      {"RX: ", {0xF0, 0x00}, "RX: f0 00 \n"},
      {"RX: ", {}, "RX: \n"},
      {"TX: ",
       {0xF0, 0x00, 0x7F, 0x7F, 0x7F, 0x7F, 0x10, 0x02, 0xF7},
       "TX: f0 00 7f 7f 7f 7f 10 02 f7 \n"},
      {"TX: ", {0x0A, 0xAB, 0x01}, "TX: 0a ab 01 \n"},
  };
  EnableTrace();
  std::string expected;
  for (const Case& c : cases) {
    TraceBytes(c.prefix, c.bytes.data(), static_cast<uint32_t>(c.bytes.size()));
    expected += c.line;
    EXPECT_EQ(test::ReadFileText(TraceFilePath()), expected);
  }
}

TEST(Trace, PathComesFromTheEnvironmentUnlessOneIsSet) {
  SetTraceFilePath("");
  ::setenv("KFW_TRACE_FILE", "/tmp/kfw-from-env.txt", 1);
  EXPECT_EQ(TraceFilePath(), "/tmp/kfw-from-env.txt");
  SetTraceFilePath("/tmp/kfw-set.txt");
  EXPECT_EQ(TraceFilePath(), "/tmp/kfw-set.txt");
  SetTraceFilePath("");
  ::unsetenv("KFW_TRACE_FILE");
  EXPECT_EQ(TraceFilePath(), "kfwupdate-trace.txt");
}

TEST(CommandLine, AsksForTheLogWhenItHoldsDashLogAnywhere) {
  const std::pair<const char*, bool> cases[] = {
      {"-log", true}, {"/a -log", true}, {"-logfile", true}, {"x-log", true},      {"-LOG", false},
      {"", false},    {"-lo g", false},  {"log", false},     {"--verbose", false},
  };
  for (const auto& [text, asks] : cases) {
    EXPECT_EQ(CommandLineAsksForLog(std::string(text)), asks) << '"' << text << '"';
  }
}

TEST(CommandLine, ArgumentsAreJoinedWithSpacesWithoutTheProgramName) {
  const char* logged[] = {"kfwupdate", "/a", "-log"};
  EXPECT_TRUE(CommandLineAsksForLog(3, logged));
  const char* nameOnly[] = {"-log-is-the-program-name"};
  EXPECT_FALSE(CommandLineAsksForLog(1, nameOnly));
  // Split over two arguments, the substring is not there: a space joins them.
  const char* split[] = {"kfwupdate", "-", "log"};
  EXPECT_FALSE(CommandLineAsksForLog(3, split));
  const char* split2[] = {"kfwupdate", "-lo", "g"};
  EXPECT_FALSE(CommandLineAsksForLog(3, split2));
  const char* none[] = {"kfwupdate"};
  EXPECT_FALSE(CommandLineAsksForLog(1, none));
}

TEST(Boxes, GoToTheInstalledFrontEnd) {
  test::RecordingBoxes boxes;
  boxes.AnswerNext(true);
  ShowError("Update file CRC error");
  EXPECT_TRUE(AskYesNo("Update anyway?"));
  EXPECT_FALSE(AskYesNo("Again?"));
  EXPECT_EQ(boxes.Errors(), std::vector<std::string>{"Update file CRC error"});
  EXPECT_EQ(boxes.Questions(), (std::vector<std::string>{"Update anyway?", "Again?"}));
}

TEST(Boxes, WithoutAFrontEndEveryQuestionIsAnsweredNo) {
  testing::internal::CaptureStderr();
  EXPECT_FALSE(AskYesNo("Update anyway?"));
  ShowError("Cannot open file");
  const std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_NE(printed.find("Update anyway?"), std::string::npos);
  EXPECT_NE(printed.find("Cannot open file"), std::string::npos);
}

TEST(FatalMidiError, FormatsTheCodeAsEightLowerCaseHexDigitsWithTheLineFeed) {
  const std::pair<unsigned long, const char*> cases[] = {
      {7, "midiOutLongMsg call failed - code 00000007\n"},
      {11, "midiOutLongMsg call failed - code 0000000b\n"},
      {0xDEADBEEF, "midiOutLongMsg call failed - code deadbeef\n"},
  };
  for (const auto& [code, text] : cases) {
    test::RecordingBoxes boxes;
    EXPECT_THROW(FatalMidiError("midiOutLongMsg call failed - code %.8lx\n", code),
                 test::FatalEnded);
    EXPECT_EQ(boxes.Fatals(), std::vector<std::string>{text});
  }
}

TEST(FatalMidiError, ALongTextIsCutTo351Characters) {
  test::RecordingBoxes boxes;
  const std::string longText(1000, 'x');
  EXPECT_THROW(FatalMidiError("%s", longText.c_str()), test::FatalEnded);
  ASSERT_EQ(boxes.Fatals().size(), 1u);
  EXPECT_EQ(boxes.Fatals()[0], std::string(kFatalTextCapacity - 1, 'x'));
  EXPECT_EQ(kFatalTextCapacity - 1, 351);

  test::RecordingBoxes exact;
  const std::string fits(351, 'y');
  EXPECT_THROW(FatalMidiError("%s", fits.c_str()), test::FatalEnded);
  EXPECT_EQ(exact.Fatals(), std::vector<std::string>{fits});
}

using FatalMidiErrorDeathTest = testing::Test;

TEST_F(FatalMidiErrorDeathTest, EndsTheProcessWithStatusOneAfterShowingTheText) {
  // No boxes installed: the fallback writes the text to standard error.
  EXPECT_EXIT(FatalMidiError("midiOutLongMsg call failed - code %.8lx\n", 7ul),
              testing::ExitedWithCode(1), "^midiOutLongMsg call failed - code 00000007\n$");
  EXPECT_EXIT(FatalMidiError("midiInAddBuffer returned %.8lx\n", 0x41ul),
              testing::ExitedWithCode(1), "^midiInAddBuffer returned 00000041\n$");
}

TEST_F(FatalMidiErrorDeathTest, ATooLongTextIsShownCutAndStillEndsWithStatusOne) {
  const std::string longText(400, 'z');
  EXPECT_EXIT(FatalMidiError("%s", longText.c_str()), testing::ExitedWithCode(1), "^z{351}$");
}

TEST_F(FatalMidiErrorDeathTest, TheTraceWrittenBeforeTheFailureIsKept) {
  const fs::path path = TraceFilePath();
  EXPECT_EXIT(
      {
        EnableTrace();
        Trace("--- Program block ---\n");
        FatalMidiError("midiOutLongMsg call failed - code %.8lx\n", 5ul);
      },
      testing::ExitedWithCode(1), "code 00000005");
  EXPECT_EQ(test::ReadFileText(path), "--- Program block ---\n");
}

}  // namespace
}  // namespace kfw
