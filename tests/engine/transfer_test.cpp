// TransferImage on its own, after a real Connect to the simulated module: blocks, the prepare-area
// answer, the same-version question, and where cursor and remaining count are left.
#include "engine/transfer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/connect.h"
#include "engine/progress.h"
#include "image/result.h"
#include "image/waiting.h"
#include "tests/engine/engine_helpers.h"
#include "tests/support/doubles.h"
#include "tests/support/sim_rig.h"

namespace kfw {
namespace {

const std::string kUpdating = "Updating firmware area...";

// An image record after its type byte, in a heap block of exactly its size (so a sanitizer sees
// any read past it): length (LE16), major, minor, data, then `trailing` bytes of what follows.
struct Record {
  std::unique_ptr<uint8_t[]> bytes;
  uint32_t size = 0;
};

Record MakeRecord(uint8_t major, uint8_t minor, const std::vector<uint8_t>& data,
                  uint32_t trailing = 0, std::optional<uint16_t> claimedLength = {}) {
  const uint16_t length = claimedLength.value_or(static_cast<uint16_t>(data.size()));
  std::vector<uint8_t> bytes = {static_cast<uint8_t>(length & 0xFF),
                                static_cast<uint8_t>(length >> 8), major, minor};
  bytes.insert(bytes.end(), data.begin(), data.end());
  bytes.insert(bytes.end(), trailing, 0xFF);
  Record record{std::make_unique<uint8_t[]>(bytes.size()), static_cast<uint32_t>(bytes.size())};
  std::memcpy(record.bytes.get(), bytes.data(), bytes.size());
  return record;
}

class Transfer : public testing::Test {
 protected:
  // Connects to a module made with these options, and opens the walk's progress window as
  // RunUpdate does before it hands an image record over.
  void Start(const test::SimRigOptions& options = {}) {
    rig_.emplace(options);
    watch_.emplace(*rig_);
    ASSERT_EQ(Connect(info_), kOk);
    OpenProgress();
  }

  ResultCode Play(Record& record) {
    cursor_ = record.bytes.get();
    remaining_ = record.size;
    return TransferImage(cursor_, remaining_, info_);
  }

  // The commands after Connect's "R2 S".
  std::string Sent() {
    const std::string names = watch_->Names();
    return names.rfind("R2 S", 0) == 0 ? names.substr(std::min<size_t>(names.size(), 5)) : names;
  }

  test::RecordingProgress progress_;
  std::optional<test::SimRig> rig_;
  std::optional<test::ModuleWatch> watch_;
  DeviceInfo info_;
  const uint8_t* cursor_ = nullptr;
  uint32_t remaining_ = 0;
};

struct BlockCase {
  const char* name;
  uint32_t dataLength;
  uint16_t blockSize;
  const char* sent;
  std::vector<uint32_t> percentages;
};

class TransferBlocks : public Transfer, public testing::WithParamInterface<BlockCase> {};

TEST_P(TransferBlocks, CutsTheImageIntoBlocksAndProgramsItWhole) {
  const BlockCase& c = GetParam();
  Start({.identity = {.blockSize = c.blockSize}});
  const std::vector<uint8_t> data = test::ImageData(c.dataLength, 3);
  Record record = MakeRecord(2, 0, data, 2);
  ASSERT_EQ(Play(record), kOk);

  EXPECT_EQ(Sent(), c.sent);
  EXPECT_EQ(progress_.Percentages(kUpdating), c.percentages);
  ASSERT_EQ(rig_->module.ProgrammedImages().size(), 1u);
  EXPECT_EQ(rig_->module.ProgrammedImages()[0], data);
  // Moved past the whole record, onto what follows it.
  EXPECT_EQ(cursor_, record.bytes.get() + 4 + c.dataLength);
  EXPECT_EQ(remaining_, 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, TransferBlocks,
    testing::Values(BlockCase{"Empty", 0, 256, "P0 F0", {}},
                    BlockCase{"Length1000In256", 1000, 256, "P0 B0 B1 B2 B3 F4", {0, 25, 50, 75}},
                    BlockCase{"Length1024In256", 1024, 256, "P0 B0 B1 B2 B3 F4", {0, 20, 40, 60}},
                    BlockCase{"Length512In256", 512, 256, "P0 B0 B1 F2", {0, 33}},
                    BlockCase{"Length300In128", 300, 128, "P0 B0 B1 B2 F3", {0, 33, 66}},
                    BlockCase{"BlockSizeOne", 5, 1, "P0 B0 B1 B2 B3 B4 F5", {0, 16, 33, 50, 66}},
                    BlockCase{"LargestBlockSize", 20000, 16383, "P0 B0 B1 F2", {0, 50}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Transfer, BlockLengthsAreBlockSizeThenTheRest) {
  Start({.identity = {.blockSize = 128}});
  Record record = MakeRecord(2, 0, test::ImageData(300));
  ASSERT_EQ(Play(record), kOk);
  std::vector<uint32_t> lengths;
  for (const test::SeenCommand& seen : watch_->Seen()) {
    if (seen.event.command == 0x15) lengths.push_back(seen.event.blockLength);
  }
  EXPECT_EQ(lengths, (std::vector<uint32_t>{128, 128, 44, 0}));
}

TEST_F(Transfer, FailedBlockLeavesCursorAtItsStartAndSendsNoFinalBlock) {
  Start({.identity = {.blockSize = 128}, .faults = {.rejectBlock = 3, .rejectStatus = 5}});
  Record record = MakeRecord(2, 0, test::ImageData(600), 7);
  EXPECT_EQ(Play(record), kDeviceProgrammingFault);
  EXPECT_EQ(Sent(), "P0 B0 B1 B2 B3");
  EXPECT_EQ(cursor_, record.bytes.get() + 4 + 3 * 128);
  EXPECT_EQ(remaining_, record.size - 4 - 3 * 128);
  EXPECT_TRUE(rig_->module.ProgrammedImages().empty());
}

struct PrepareAnswerCase {
  const char* name;
  ModuleFaults faults;
  uint64_t eraseMicros;
  ResultCode expected;
  const char* sent;
};

class TransferPrepareAnswer : public Transfer,
                              public testing::WithParamInterface<PrepareAnswerCase> {};

TEST_P(TransferPrepareAnswer, IsJudgedBeforeAnyBlock) {
  const PrepareAnswerCase& c = GetParam();
  Start({.faults = c.faults, .timing = {.eraseMicros = c.eraseMicros}});
  Record record = MakeRecord(2, 0, test::ImageData(10));
  EXPECT_EQ(Play(record), c.expected);
  EXPECT_EQ(Sent(), c.sent);
  if (c.expected != kOk) {
    EXPECT_EQ(remaining_, record.size);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, TransferPrepareAnswer,
    testing::Values(
        PrepareAnswerCase{"Prepared", {}, 200'000, kOk, "P0 B0 F1"},
        PrepareAnswerCase{"EraseFailed", {.eraseResult = 1}, 200'000, kRegionEraseFailure, "P0"},
        PrepareAnswerCase{"ResultTwo", {.eraseResult = 2}, 200'000, kResponseUnknown, "P0"},
        PrepareAnswerCase{"ResultHigh", {.eraseResult = 0x7F}, 200'000, kResponseUnknown, "P0"},
        PrepareAnswerCase{
            "OtherRepliesFirst", {.unrelatedBeforePrepareAnswer = true}, 200'000, kOk, "P0 B0 F1"},
        // The answer must be in the ring by the 88th empty poll, 8.8 s after the first one.
        PrepareAnswerCase{"LateWithin88Ticks", {}, 8'800'000, kOk, "P0 B0 F1"},
        PrepareAnswerCase{"LaterThan88Ticks", {}, 9'000'000, kResponseTimeout, "P0"}),
    [](const auto& p) { return std::string(p.param.name); });

// The module stays silent on the prepare command; an answer to another command comes at 6 s (or
// not), and the prepare-area answer only at about 12 s, later than one 88-tick wait from the start.
class TransferPassedOverReply : public Transfer, public testing::WithParamInterface<bool> {};

TEST_P(TransferPassedOverReply, RestartsThe88TickTimeout) {
  const bool otherReplyAt6s = GetParam();
  Start();
  auto inject = [this](std::vector<uint8_t> command) {
    rig_->module.SetFaults({});
    rig_->module.Receive(command.data(), command.size());
  };
  watch_->Once("P0", [this, inject, otherReplyAt6s] {
    const uint64_t now = rig_->Now();
    if (otherReplyAt6s) {
      rig_->time.At(now + 6'000'000, [this, inject] {
        inject({0xF0, 0x00, 0x00, 0x21, 0x0A, 0x7F, 0x10, 0x02, 0xF7});
        rig_->module.SetFaults({.silent = true});
      });
    }
    rig_->time.At(now + 11'800'000, [inject] {
      inject({0xF0, 0x00, 0x00, 0x21, 0x0A, 0x7F, 0x13, 0x00, 0xF7});
    });
  });
  rig_->module.SetFaults({.silent = true});
  Record record = MakeRecord(2, 0, test::ImageData(10));
  if (otherReplyAt6s) {
    EXPECT_EQ(Play(record), kOk);
    EXPECT_EQ(Sent(), "P0 R2 P0 B0 F1");
  } else {
    EXPECT_EQ(Play(record), kResponseTimeout);
    EXPECT_EQ(Sent(), "P0");
  }
}

INSTANTIATE_TEST_SUITE_P(OtherReply, TransferPassedOverReply, testing::Bool(),
                         [](const auto& p) { return p.param ? "At6s" : "None"; });

struct QuestionCase {
  const char* name;
  uint8_t moduleMajor, moduleMinor, moduleState;
  uint8_t imageMajor, imageMinor;
  bool asked;
};

class TransferQuestion : public Transfer, public testing::WithParamInterface<QuestionCase> {};

TEST_P(TransferQuestion, AskedOnlyForTheVerifiedSameVersion) {
  const QuestionCase& c = GetParam();
  test::AnsweringBoxes boxes(true);
  Start(
      {.identity = {
           .versionMajor = c.moduleMajor, .versionMinor = c.moduleMinor, .state = c.moduleState}});
  Record record = MakeRecord(c.imageMajor, c.imageMinor, test::ImageData(10));
  EXPECT_EQ(Play(record), kOk);
  if (c.asked) {
    EXPECT_EQ(boxes.questions, std::vector<std::string>{TextTable[kTextSameVersionQuestion]});
    EXPECT_EQ(boxes.progressOpenAtQuestion, std::vector<bool>{false});
  } else {
    EXPECT_TRUE(boxes.questions.empty());
  }
  EXPECT_EQ(Sent(), "P0 B0 F1");
  EXPECT_TRUE(ProgressIsOpen());
  EXPECT_FALSE(progress_.Overlapped());
}

INSTANTIATE_TEST_SUITE_P(Versions, TransferQuestion,
                         testing::Values(QuestionCase{"SameVerified", 1, 2, 0, 1, 2, true},
                                         QuestionCase{"SameNotVerified", 1, 2, 1, 1, 2, false},
                                         QuestionCase{"ModuleNewer", 1, 3, 0, 1, 2, false},
                                         QuestionCase{"OtherMajor", 2, 2, 0, 1, 2, false},
                                         QuestionCase{"Major127Exempt", 127, 5, 0, 127, 5, false}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(Transfer, NoToTheQuestionCancelsWithoutABlockAndWithTheWindowClosed) {
  test::AnsweringBoxes boxes(false);
  Start();
  Record record = MakeRecord(1, 2, test::ImageData(10));
  EXPECT_EQ(Play(record), kCanceled);
  EXPECT_EQ(Sent(), "P0");
  EXPECT_FALSE(CancelRequested());
  EXPECT_FALSE(ProgressIsOpen());
  EXPECT_EQ(progress_.Log().back(), "close");
}

// A module that names no block size cannot be programmed: the erase is never sent, so it keeps
// the firmware it has.
struct NoBlockSizeCase {
  const char* name;
  uint16_t blockSize;
  std::optional<uint32_t> statusCut;
  ResultCode expected;
  const char* sent;
};

class TransferBlockSize : public Transfer, public testing::WithParamInterface<NoBlockSizeCase> {};

TEST_P(TransferBlockSize, ZeroIsRefusedBeforeTheErase) {
  const NoBlockSizeCase& c = GetParam();
  // Company and product 0, so that a status reply cut before its identifiers still addresses
  // this module and an erase would reach it.
  Start({.identity = {.companyId = 0, .productId = 0, .blockSize = c.blockSize},
         .faults = {.statusReplyCut = c.statusCut}});
  Record record = MakeRecord(2, 0, test::ImageData(10));
  EXPECT_EQ(Play(record), c.expected);
  EXPECT_EQ(Sent(), c.sent);
  if (c.expected != kOk) {
    EXPECT_EQ(cursor_, record.bytes.get());
    EXPECT_EQ(remaining_, record.size);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, TransferBlockSize,
    testing::Values(NoBlockSizeCase{"ReportedZero", 0, {}, kResponseUnknown, ""},
                    NoBlockSizeCase{"ReplyOfCodeOnly", 256, 1, kResponseUnknown, ""},
                    NoBlockSizeCase{"ReplyCutBeforeBlockSize", 256, 4, kResponseUnknown, ""},
                    NoBlockSizeCase{"ReplyCutAfterBlockSizeHigh", 256, 5, kOk, "P0 B0 F1"},
                    NoBlockSizeCase{"WholeReply", 256, {}, kOk, "P0 B0 F1"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Transfer, RecordLongerThanTheFileIsCorruptAfterThePrepareCommand) {
  Start();
  Record record = MakeRecord(2, 0, test::ImageData(10), 0, 11);
  EXPECT_EQ(Play(record), kImageCorrupt);
  EXPECT_EQ(Sent(), "P0");
}

TEST_F(Transfer, RecordHeaderCutShortIsCorruptWithoutReadingPastTheFile) {
  Start();
  Record whole = MakeRecord(2, 0, {});
  Record cut{std::make_unique<uint8_t[]>(2), 2};
  std::memcpy(cut.bytes.get(), whole.bytes.get(), 2);
  EXPECT_EQ(Play(cut), kImageCorrupt);
  EXPECT_EQ(Sent(), "P0");
}

}  // namespace
}  // namespace kfw
