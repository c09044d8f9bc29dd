// The firmware image subsystem: the texts the user sees and how they leave the core (the text
// table, the trace log and its command-line switch, the fatal MIDI error that ends the process),
// the CRC-16/ARC and the image file check. Every file is checked in a heap block of exactly its
// size, so the address sanitizer catches a read one byte past the end.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "image/crc16.h"
#include "image/image_file.h"
#include "image/image_writer.h"
#include "image/report.h"
#include "image/result.h"
#include "tests/support/doubles.h"

namespace kfw {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

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

ResultCode Validate(const Bytes& file) {
  const Bytes exact(file);
  return ValidateImage(exact.data(), static_cast<uint32_t>(exact.size()));
}

Bytes WithCrc(Bytes file) {
  FixImageCrc(file);
  return file;
}

Bytes V1(uint16_t company, uint8_t product) {
  return ImageWriter::Version1(company, product).Image(1, 0, Bytes{1, 2, 3}).End().Bytes();
}

TEST(Crc16, GivesTheCheckValues) {
  const auto* digits = reinterpret_cast<const uint8_t*>("123456789");
  EXPECT_EQ(Crc16(digits, 9), 0xBB3D);
  EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>("abc"), 3), 0x9738);
}

// Until a module has answered, the received identifiers are 0x7F7F / 0x7F.
TEST(ValidateImage, GivesTheFirstFailureInOrder) {
  const std::tuple<const char*, Bytes, ResultCode> cases[] = {
      // Length, version, CRC, in that order.
      {"three bytes", {0x00, 0x00, 0x00}, kImageCorrupt},
      {"three bytes of version 2", {0x02, 0x00, 0x00}, kImageCorrupt},
      {"version 2, CRC wrong", {0x02, 0x00, 0x00, 0xFF}, kUnknownImageVersion},
      {"CRC before the records", {0x00, 0x00, 0x00, 0x09, 0x09}, kImageCrcError},
      // The examples of the format.
      {"end record alone", {0x00, 0x40, 0x40, 0xFF}, kImageCorrupt},
      {"end record, one byte", {0x00, 0x41, 0xF0, 0xFF, 0x00}, kOk},
      {"empty image", {0x00, 0x10, 0xE0, 0x00, 0x00, 0x00, 0x01, 0x02, 0xFF}, kOk},
      {"version 1", {0x01, 0x7C, 0x36, 0x7F, 0x7F, 0x7F, 0xFF, 0x00}, kOk},
      {"identifier changed", {0x01, 0x7C, 0x36, 0x7F, 0x7F, 0x7E, 0xFF, 0x00}, kImageCrcError},
      {"after the end, under the CRC", {0x00, 0x41, 0xF0, 0xFF, 0x01}, kImageCrcError},
      // Version-1 files too short for their header and an end record.
      {"version 1 of 4 bytes", WithCrc({0x01, 0, 0, 0x7F}), kImageCorrupt},
      {"version 1 of 5 bytes", WithCrc({0x01, 0, 0, 0x7F, 0x7F}), kImageCorrupt},
      {"version 1 of 6 bytes", WithCrc({0x01, 0, 0, 0x7F, 0x7F, 0x7F}), kImageCorrupt},
      // Records.
      {"reset 3", WithCrc({0x00, 0, 0, 0x03, 0x03, 0xFF, 0x00}), kOk},
      {"reset 4", WithCrc({0x00, 0, 0, 0x03, 0x04, 0xFF, 0x00}), kImageCorrupt},
      {"delay 255, no-op", WithCrc({0x00, 0, 0, 0x02, 0xFF, 0x01, 0xFF, 0x00}), kOk},
      {"type 4", WithCrc({0x00, 0, 0, 0x04, 0xFF, 0x00}), kImageCorrupt},
      {"type 4 after the end", WithCrc({0x00, 0, 0, 0x01, 0xFF, 0x04}), kOk},
      {"last byte a no-op", WithCrc({0x00, 0, 0, 0x02, 0x01, 0x01}), kImageCorrupt},
      {"length little-endian", WithCrc({0x00, 0, 0, 0x00, 2, 0, 1, 2, 0xAA, 0xBB, 0xFF}), kOk},
      // The end rule: without an image record, something must follow the end record.
      {"no image, end last", WithCrc({0x00, 0, 0, 0x02, 0x05, 0xFF}), kImageCorrupt},
      {"structure before identity", WithCrc({0x01, 0, 0, 0x00, 0x22, 0x0B, 0xFF}), kImageCorrupt},
  };
  for (const auto& [name, file, expected] : cases) EXPECT_EQ(Validate(file), expected) << name;
}

TEST(ValidateImage, ComparesTheProductBeforeTheCompany) {
  const Bytes version0 = WithCrc({0x00, 0, 0, 0x01, 0xFF, 0x00});
  // The identifiers received, the file, the result.
  const std::tuple<uint16_t, uint8_t, Bytes, ResultCode> cases[] = {
      {0x0012, 0x05, V1(0x0013, 0x06), kProductMismatch},
      {0x0012, 0x05, V1(0x0013, 0x05), kCompanyMismatch},
      {0x0012, 0x05, V1(0x0112, 0x05), kCompanyMismatch},
      {0x0012, 0x05, V1(0x0012, 0x05), kOk},
      {0x7F7F, 0x7F, V1(0x7F7F, 0x05), kProductMismatch},
      {0x7F7F, 0x7F, V1(0x0021, 0x7F), kCompanyMismatch},
      {0x7F7F, 0x7F, version0, kOk},
      {0x0021, 0x0A, version0, kProductMismatch},
  };
  for (const auto& [company, product, file, expected] : cases) {
    receivedCompanyId = company;
    receivedProductId = product;
    EXPECT_EQ(Validate(file), expected) << company << " " << int(product) << " " << file.size();
  }
}

TEST(ValidateImage, NeverReadsPastTheEndOfACutFile) {
  const Bytes data = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70};
  for (const Bytes& whole :
       {ImageWriter::Version0().NoOp().Delay(9).Reset(2).Image(1, 2, data).End().Bytes(),
        ImageWriter::Version1(0x7F7F, 0x7F).Reset(1).Image(3, 4, data).Delay(1).End().Bytes()}) {
    ASSERT_EQ(Validate(whole), kOk);
    for (size_t length = 0; length < whole.size(); ++length) {
      const Bytes cut = WithCrc(Bytes(whole.begin(), whole.begin() + static_cast<long>(length)));
      EXPECT_EQ(Validate(cut), kImageCorrupt) << "first " << length << " bytes";
    }
  }
}

}  // namespace
}  // namespace kfw
