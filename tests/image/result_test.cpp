// The result codes and the fixed texts the user sees: numbers and texts are part of the program's
// interface (the command-line program exits with the numbers), so each is pinned here.
#include "image/result.h"

#include <gtest/gtest.h>

#include <string>

namespace kfw {
namespace {

struct CodeText {
  ResultCode code;
  int number;
  const char* text;
};

constexpr CodeText kCodeTexts[] = {
    {kOk, 0, "No error"},
    {kCannotOpenFile, 1, "Cannot open file"},
    {kImageCrcError, 2, "Update file CRC error"},
    {kImageCorrupt, 3, "Update file image corrupt"},
    {kUnknownImageVersion, 4, "Unknown update file version"},
    {kCanceled, 5, "Operation canceled"},
    {kResponseTooLong, 6, "MIDI Response too long"},
    {kResponseTimeout, 7, "MIDI Response timeout"},
    {kResponseUnknown, 8, "MIDI Response unknown"},
    {kRegionEraseFailure, 9, "Region erase failure"},
    {kOutOfMemory, 10, "Out of memory"},
    {kDeviceBadChecksum, 11, "MIDI Reports bad checksum"},
    {kDeviceBadLength, 12, "MIDI Reports bad length"},
    {kDeviceBadSequence, 13, "MIDI Reports bad sequence"},
    {kDeviceBadCheckcode, 14, "MIDI Reports bad checkcode"},
    {kDeviceProgrammingFault, 15, "MIDI Reports chip programming fault"},
    {kProductMismatch, 16, "Update file's product ID mismatched with device"},
    {kCompanyMismatch, 17, "Update file's company ID mismatched with device"},
};

TEST(ResultCodes, EveryCodeHasItsNumberAndItsMessageAtEntryCodePlusEight) {
  static_assert(std::size(kCodeTexts) == kResultCodeCount);
  for (const CodeText& entry : kCodeTexts) {
    SCOPED_TRACE(entry.text);
    EXPECT_EQ(static_cast<int>(entry.code), entry.number);
    EXPECT_STREQ(ResultText(entry.code), entry.text);
    EXPECT_STREQ(TextTable[entry.number + 8], entry.text);
  }
}

TEST(ResultCodes, CaptionsAndQuestionHoldTheFirstEightEntries) {
  const std::pair<int, const char*> captions[] = {
      {kTextConnectToFirmware, "Connect to firmware"},
      {kTextConnecting, "Connecting..."},
      {kTextDelaying, "Delaying..."},
      {kTextPreparingArea, "Preparing firmware area..."},
      {kTextUpdateImage, "Update firmware Image"},
      {kTextUpdatingArea, "Updating firmware area..."},
      {kTextReadingVersion, "Reading updated version #..."},
      {kTextSameVersionQuestion,
       "The firmware image in the hardware is verified good and the version # matches the update "
       "file. Updating with this image file is unnecessary and will change nothing! Update "
       "anyway?"},
  };
  int expectedIndex = 0;
  for (const auto& [index, text] : captions) {
    EXPECT_EQ(index, expectedIndex++);
    EXPECT_STREQ(TextTable[index], text) << "entry " << index;
  }
  EXPECT_EQ(kTextTableSize, 26);
}

TEST(ResultCodes, ACodeBeyondTheTableStillGivesAText) {
  for (int stray : {18, 19, 100, 255}) {
    const char* text = ResultText(static_cast<ResultCode>(stray));
    ASSERT_NE(text, nullptr);
    EXPECT_GT(std::string(text).size(), 0u) << stray;
    for (const char* entry : TextTable) EXPECT_STRNE(text, entry) << stray;
  }
}

}  // namespace
}  // namespace kfw
