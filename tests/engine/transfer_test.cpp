// TransferImage on its own, to a module that takes commands addressed to any module: how an image
// record is cut into blocks, and where the cursor and the remaining count are left.
#include "engine/transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/report.h"
#include "base/waiting.h"
#include "engine/progress.h"
#include "image/image_file.h"
#include "image/image_writer.h"
#include "tests/engine/engine_helpers.h"
#include "tests/support/doubles.h"

namespace kfw {
namespace {

// An image record of version 2.0 after its type byte, taken from behind a version-1 file's
// six-byte header and the type byte.
std::vector<uint8_t> RecordOf(const std::vector<uint8_t>& data) {
  const std::vector<uint8_t> file = ImageWriter::Version1(0x0021, 0x0A).Image(2, 0, data).Bytes();
  return {file.begin() + 7, file.end()};
}

// The image record at the start of bytes (its type byte taken), as the walk of a file yields it
// to the update run.
ImageRecord WalkedRecord(const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> stream{kRecordImage};
  stream.insert(stream.end(), bytes.begin(), bytes.end());
  RecordWalker walk(stream.data(), static_cast<uint32_t>(stream.size()), 0);
  ImageRecord record;
  EXPECT_TRUE(walk.Next(record)) << "fault " << static_cast<int>(walk.Fault());
  return record;
}

class Transfer : public testing::Test {
 protected:
  // Plays the bytes from a heap block of exactly their size, so that a sanitizer sees any read
  // past them, with the walk's progress window open as RunUpdate hands a record over.
  ResultCode Play(const std::vector<uint8_t>& bytes, uint16_t blockSize = 256) {
    file_ = std::make_unique<uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), file_.get());
    cursor_ = file_.get();
    remaining_ = static_cast<uint32_t>(bytes.size());
    info_.blockSize = blockSize;
    OpenProgress();
    return TransferImage(WalkedRecord(bytes), cursor_, remaining_, info_);
  }

  test::RecordingProgress progress_;
  test::SimRig rig_;
  test::ModuleWatch watch_{rig_};
  DeviceInfo info_;
  std::unique_ptr<uint8_t[]> file_;
  const uint8_t* cursor_ = nullptr;
  uint32_t remaining_ = 0;
};

struct BlockCase {
  uint32_t dataLength;
  uint16_t blockSize;
  const char* sent;
  std::vector<uint32_t> lengths;  // of every program block, the final one included
  std::vector<uint32_t> percentages;
};

class TransferBlocks : public Transfer, public testing::WithParamInterface<BlockCase> {};

TEST_P(TransferBlocks, CutsTheImageIntoBlocksAndProgramsItWhole) {
  const BlockCase& c = GetParam();
  const std::vector<uint8_t> data = test::ImageData(c.dataLength, 3);
  std::vector<uint8_t> bytes = RecordOf(data);
  bytes.insert(bytes.end(), {0x05, 0x80});  // what follows the record
  ASSERT_EQ(Play(bytes, c.blockSize), kOk);

  EXPECT_EQ(watch_.Names(), c.sent);
  std::vector<uint32_t> lengths;
  for (const test::SeenCommand& seen : watch_.Seen()) {
    if (seen.event.command == 0x15) lengths.push_back(seen.event.blockLength);
  }
  EXPECT_EQ(lengths, c.lengths);
  EXPECT_EQ(progress_.Percentages("Updating firmware area..."), c.percentages);
  EXPECT_EQ(rig_.module.ProgrammedImages(), std::vector<std::vector<uint8_t>>{data});
  EXPECT_EQ(cursor_, file_.get() + 4 + c.dataLength);
  EXPECT_EQ(remaining_, 2u);
}

// The bar counts the final block only when the data fill the last block exactly.
INSTANTIATE_TEST_SUITE_P(
    Layouts, TransferBlocks,
    testing::Values(
        BlockCase{0, 256, "P0 F0", {0}, {}},
        BlockCase{512, 256, "P0 B0 B1 F2", {256, 256, 0}, {0, 33}},
        BlockCase{300, 128, "P0 B0 B1 B2 F3", {128, 128, 44, 0}, {0, 33, 66}},
        BlockCase{1000, 256, "P0 B0 B1 B2 B3 F4", {256, 256, 256, 232, 0}, {0, 25, 50, 75}},
        BlockCase{1024, 256, "P0 B0 B1 B2 B3 F4", {256, 256, 256, 256, 0}, {0, 20, 40, 60}}),
    [](const auto& p) {
      return "Length" + std::to_string(p.param.dataLength) + "In" +
             std::to_string(p.param.blockSize);
    });

TEST_F(Transfer, FailedBlockLeavesTheCursorAtItsStartAndSendsNoFinalBlock) {
  rig_.module.SetFaults({.rejectBlock = 3});
  std::vector<uint8_t> bytes = RecordOf(test::ImageData(600));
  bytes.insert(bytes.end(), 7, 0xFF);
  EXPECT_EQ(Play(bytes, 128), kDeviceProgrammingFault);
  EXPECT_EQ(watch_.Names(), "P0 B0 B1 B2 B3");
  EXPECT_EQ(cursor_, file_.get() + 4 + 3 * 128);
  EXPECT_EQ(remaining_, bytes.size() - 4 - 3 * 128);
}

// Answers the same-version question; a Ctrl-C may come while it waits for the answer.
struct QuestionBoxes final : MessageBoxes {
  QuestionBoxes(bool yes, bool ctrlC) : answer(yes), ctrlCWhileAsked(ctrlC) {
    InstallMessageBoxes(this);
  }
  ~QuestionBoxes() override { InstallMessageBoxes(nullptr); }
  void ShowError(const std::string&) override {}
  bool AskYesNo(const std::string& text) override {
    EXPECT_EQ(text, TextTable[kTextSameVersionQuestion]);
    EXPECT_FALSE(ProgressIsOpen());
    ++asked;
    if (ctrlCWhileAsked) RequestCancel();
    return answer;
  }
  void ShowFatal(const std::string& text) override { throw test::FatalEnded(text); }
  bool answer;
  bool ctrlCWhileAsked;
  int asked = 0;
};

struct QuestionCase {
  const char* name;
  uint8_t moduleState;  // 0: verified good, so an image of its version is questioned
  bool yes;
  bool ctrlCWhileAsked;
  ResultCode expected;
  const char* sent;
  std::vector<std::string> progress;
};

// The question comes before the erase: whatever ends the record there leaves the module with the
// firmware it has and nothing sent; after a Yes the module is erased and programmed as always, the
// erase shown in the window that replaces the one closed for the question.
TEST(TransferQuestion, IsAskedBeforeTheEraseAndANoSendsNothing) {
  const std::vector<std::string> blocks = {
      "set Preparing firmware area... 0", "set Updating firmware area... 0",
      "set Updating firmware area... 33", "set Updating firmware area... 66"};
  const auto after = [&](std::vector<std::string> first) {
    first.insert(first.end(), blocks.begin(), blocks.end());
    return first;
  };
  // clang-format off
  const QuestionCase cases[] = {
      {"No", 0, false, false, kCanceled, "", {"open", "close"}},
      {"Yes", 0, true, false, kOk, "P0 B0 B1 B2 F3", after({"open", "close", "open"})},
      {"Yes, after a Ctrl-C while asked", 0, true, true, kCanceled, "", {"open", "close"}},
      {"not asked: the firmware is not verified", 1, false, false, kOk, "P0 B0 B1 B2 F3",
       after({"open"})},
  };
  // clang-format on
  for (const QuestionCase& c : cases) {
    SCOPED_TRACE(c.name);
    ClearCancel();
    firmwareAreaErased = false;
    QuestionBoxes boxes(c.yes, c.ctrlCWhileAsked);
    test::RecordingProgress progress;
    test::SimRig rig({.identity = {.versionMajor = 2, .versionMinor = 0, .state = c.moduleState}});
    test::ModuleWatch watch(rig);
    const std::vector<uint8_t> data = test::ImageData(600);
    const std::vector<uint8_t> file = RecordOf(data);
    const uint8_t* cursor = file.data();
    uint32_t remaining = static_cast<uint32_t>(file.size());
    DeviceInfo info;  // as the module reported itself
    info.state = c.moduleState;
    info.versionMajor = 2;
    info.blockSize = 256;
    OpenProgress();
    EXPECT_EQ(TransferImage(WalkedRecord(file), cursor, remaining, info), c.expected);
    EXPECT_EQ(boxes.asked, c.moduleState == 0 ? 1 : 0);
    EXPECT_EQ(watch.Names(), c.sent);
    EXPECT_EQ(progress.Log(), c.progress);
    const bool erased = *c.sent != '\0';
    EXPECT_EQ(firmwareAreaErased, erased);
    EXPECT_EQ(rig.module.ProgrammedImages().size(), c.expected == kOk ? 1u : 0u);
    if (!erased) {
      // The module still reports the firmware it had, and the record is where it was.
      EXPECT_EQ(rig.module.Identity().state, 0);
      EXPECT_EQ(rig.module.Identity().versionMajor, 2);
      EXPECT_EQ(cursor, file.data());
      EXPECT_EQ(remaining, file.size());
    }
    CloseProgress();
  }
}

// What is known to fail is refused before the erase, so the module keeps the firmware it has. A
// link that cannot carry the module's blocks is the module's fault, not the file's. A record longer
// than what is left of the file cannot come from the walk, which refuses such files (as it refuses
// data that SysEx cannot carry: the update run's DataThatCannotTravel); the transfer must not
// erase for it either, nor read past the file.
struct RefusalCase {
  const char* name;
  std::vector<uint8_t> record;
  uint16_t blockSize;
  uint32_t largestMessage;  // of the link's output
  ResultCode expected;
  const char* sent;
  size_t left = SIZE_MAX;  // of the record's bytes, what the file still holds
};

std::vector<uint8_t> WithByte(std::vector<uint8_t> record, size_t at, uint8_t byte) {
  record.at(at) = byte;
  return record;
}

TEST(TransferRefusal, RefusesWhatWouldFailBeforeTheErase) {
  const std::vector<uint8_t> record = RecordOf(test::ImageData(2000));
  const std::vector<uint8_t> small = RecordOf(test::ImageData(100));
  // clang-format off
  const RefusalCase cases[] = {
      {"block size 0", record, 0, kNoMessageLimit, kResponseUnknown, ""},
      {"block one byte too long for the output", record, 987, 1000, kResponseUnknown, ""},
      {"block as long as the output takes", record, 986, 1000, kOk, "P0 B0 B1 B2 F3"},
      {"small image under a block size the output cannot take", small, 5000, 1000, kOk, "P0 B0 F1"},
      {"no data, final block too long for the output", RecordOf({}), 256, 13, kResponseUnknown, ""},
      {"version bytes above 0x7F", WithByte(WithByte(small, 2, 0x80), 3, 0xFF), 256,
       kNoMessageLimit, kOk, "P0 B0 F1"},
      {"data past the end of the file", record, 256, kNoMessageLimit, kImageCorrupt, "",
       record.size() - 1},
      {"header past the end of the file", record, 256, kNoMessageLimit, kImageCorrupt, "", 3},
      {"nothing left of the file", record, 256, kNoMessageLimit, kImageCorrupt, "", 0},
  };
  // clang-format on
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::RecordingBoxes boxes;  // a fatal failure throws instead of ending the test program
    test::RecordingProgress progress;
    test::SimRig rig(
        {.identity = {.blockSize = c.blockSize}, .link = {.largestMessage = c.largestMessage}});
    test::ModuleWatch watch(rig);
    const std::vector<uint8_t> file(c.record.begin(),
                                    c.record.begin() + std::min(c.left, c.record.size()));
    const uint8_t* cursor = file.data();
    uint32_t remaining = static_cast<uint32_t>(file.size());
    DeviceInfo info;
    info.blockSize = c.blockSize;
    OpenProgress();
    ResultCode result = kOk;
    EXPECT_NO_THROW(result = TransferImage(WalkedRecord(c.record), cursor, remaining, info));
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(watch.Names(), c.sent);
    EXPECT_EQ(boxes.Fatals(), std::vector<std::string>{});
    if (c.expected != kOk) {
      EXPECT_EQ(cursor, file.data());
      EXPECT_EQ(remaining, file.size());
      EXPECT_EQ(progress.Percentages("Preparing firmware area..."), std::vector<uint32_t>{});
    }
  }
}

}  // namespace
}  // namespace kfw
