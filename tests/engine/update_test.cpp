// The update run against the simulated module, in virtual time: whole updates, every result the
// run can end with, cancel at every kind of wait, the pauses, the progress shown and the trace.
#include "engine/update.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/connect.h"
#include "engine/progress.h"
#include "image/image_writer.h"
#include "image/report.h"
#include "image/waiting.h"
#include "sim/timeline.h"
#include "tests/engine/engine_helpers.h"
#include "tests/support/doubles.h"
#include "tests/support/sim_rig.h"

namespace kfw {
namespace {

using test::ChunkedLink;
using Log = std::vector<std::string>;
using Percents = std::vector<uint32_t>;
using Images = std::vector<std::vector<uint8_t>>;

const std::string kDelaying = "Delaying...";
const std::string kReadingVersion = "Reading updated version #...";
// Body bytes of the simulated module's status reply, from its code to the end of its name.
constexpr uint32_t kStatusBody = 25;

// ---- WaitWithProgress ----------------------------------------------------------------------

struct DelayCase {
  uint8_t ticks;
  Percents shown;
};

class WaitWithProgressTicks : public testing::TestWithParam<DelayCase> {};

TEST_P(WaitWithProgressTicks, ShowsTheBarPerTickAndPausesThatLong) {
  VirtualTime time;
  InstallClock(&time);
  test::RecordingProgress progress;
  OpenProgress();
  WaitWithProgress(GetParam().ticks);
  EXPECT_EQ(progress.Percentages(kDelaying), GetParam().shown);
  EXPECT_EQ(time.NowMicroseconds(), GetParam().ticks * 100'000u);
  CloseProgress();
  InstallClock(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Ticks, WaitWithProgressTicks,
                         testing::Values(DelayCase{0, {0, 100}}, DelayCase{1, {0, 0, 100}},
                                         DelayCase{3, {0, 0, 33, 66, 100}},
                                         DelayCase{4, {0, 0, 25, 50, 75, 100}}));

TEST(WaitWithProgress, LongestDelayLasts25AndAHalfSeconds) {
  VirtualTime time;
  InstallClock(&time);
  test::RecordingProgress progress;
  OpenProgress();
  WaitWithProgress(255);
  const Percents shown = progress.Percentages(kDelaying);
  ASSERT_EQ(shown.size(), 257u);
  EXPECT_EQ(shown[255], 99u);  // 254 * 100 / 255
  EXPECT_EQ(shown[256], 100u);
  EXPECT_EQ(time.NowMicroseconds(), 25'500'000u);
  CloseProgress();
  InstallClock(nullptr);
}

TEST(WaitWithProgress, CancelEndsThePauseAtTheNextTickWithTheBarAt100) {
  VirtualTime time;
  InstallClock(&time);
  test::RecordingProgress progress;
  OpenProgress();
  time.At(250'000, [] { RequestCancel(); });
  WaitWithProgress(10);
  EXPECT_EQ(time.NowMicroseconds(), 300'000u);
  EXPECT_EQ(progress.Percentages(kDelaying), (Percents{0, 0, 10, 20, 100}));
  CloseProgress();
  InstallClock(nullptr);
}

TEST(WaitWithProgress, CancelAlreadySetMeansNoPause) {
  VirtualTime time;
  InstallClock(&time);
  test::RecordingProgress progress;
  OpenProgress();
  RequestCancel();
  WaitWithProgress(10);
  EXPECT_EQ(time.NowMicroseconds(), 0u);
  EXPECT_EQ(progress.Percentages(kDelaying), (Percents{0, 100}));
  CloseProgress();
  InstallClock(nullptr);
}

// ---- ReadUpdatedVersion --------------------------------------------------------------------

class ReadUpdatedVersionTest : public testing::Test {
 protected:
  void Start(const test::SimRigOptions& options = {}) {
    rig_.emplace(options);
    watch_.emplace(*rig_);
    ASSERT_EQ(Connect(device_), kOk);
  }
  // How many status requests came after Connect's.
  size_t StatusRequests() { return watch_->Count("S") - 1; }

  test::RecordingProgress progress_;
  std::optional<test::SimRig> rig_;
  std::optional<test::ModuleWatch> watch_;
  DeviceInfo device_;
};

TEST_F(ReadUpdatedVersionTest, AnsweredAtOnceRefreshesTheRecordInItsOwnWindow) {
  Start();
  device_ = DeviceInfo{};
  ASSERT_EQ(ReadUpdatedVersion(device_, 10), kOk);
  EXPECT_EQ(StatusRequests(), 1u);
  EXPECT_STREQ(device_.productName, "QX-412");
  EXPECT_EQ(progress_.Percentages(kReadingVersion), (Percents{0, 10}));
  EXPECT_EQ(progress_.Log().back(), "close");
  EXPECT_EQ(progress_.Opened(), 2);
}

struct AttemptsCase {
  const char* name;
  uint32_t attempts;
  uint32_t unansweredRequests;  // the module ignores this many status requests first
  ResultCode expected;
  size_t requests;
  Percents shown;
};

class ReadUpdatedVersionAttempts : public ReadUpdatedVersionTest,
                                   public testing::WithParamInterface<AttemptsCase> {};

TEST_P(ReadUpdatedVersionAttempts, RetriesOnlyAfterATimeout) {
  const AttemptsCase& c = GetParam();
  Start();
  if (c.unansweredRequests) {
    rig_->module.SetFaults({.ignoreStatusRequests = true});
    watch_->Once(
        [this, &c](const test::SeenCommand&) { return StatusRequests() == c.unansweredRequests; },
        [this] { rig_->module.SetFaults({}); });
  }
  const uint64_t start = rig_->Now();
  EXPECT_EQ(ReadUpdatedVersion(device_, c.attempts), c.expected);
  EXPECT_EQ(StatusRequests(), c.requests);
  EXPECT_EQ(progress_.Percentages(kReadingVersion), c.shown);
  // Each unanswered attempt: the request's drain wait and 30 empty ticks, with no pause between.
  const uint64_t unanswered = std::min<uint64_t>(c.unansweredRequests, c.attempts);
  EXPECT_GE(rig_->Now() - start, unanswered * 3'200'000);
  EXPECT_LT(rig_->Now() - start, unanswered * 3'200'000 + 500'000);
  EXPECT_FALSE(progress_.Showing());
}

INSTANTIATE_TEST_SUITE_P(
    Attempts, ReadUpdatedVersionAttempts,
    testing::Values(AttemptsCase{"NeverAnswered",
                                 10,
                                 99,
                                 kResponseTimeout,
                                 10,
                                 {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}},
                    AttemptsCase{"AnsweredAtTheThird", 10, 2, kOk, 3, {0, 10, 20, 30}},
                    AttemptsCase{"FourAttempts", 4, 99, kResponseTimeout, 4, {0, 25, 50, 75, 100}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ReadUpdatedVersionTest, ReplyTooLongIsNotTriedAgain) {
  Start({.link = ChunkedLink()});
  rig_->module.SetFaults({.paddingInReplies = 154 - kStatusBody});
  EXPECT_EQ(ReadUpdatedVersion(device_, 10), kResponseTooLong);
  EXPECT_EQ(StatusRequests(), 1u);
}

TEST_F(ReadUpdatedVersionTest, CancelIsNotTriedAgain) {
  Start();
  rig_->module.SetFaults({.ignoreStatusRequests = true});
  test::CancelAt cancel(*rig_, rig_->Now() + 4'000'000);
  EXPECT_EQ(ReadUpdatedVersion(device_, 10), kCanceled);
  EXPECT_LE(rig_->Now() - cancel.when(), 100'000u);
  EXPECT_EQ(StatusRequests(), 2u);
}

// ---- Whole updates -------------------------------------------------------------------------

// A file of every record kind: no-ops, delays (one of 0 ticks), resets, three image records (one
// empty, one exempt from the version question), bytes after the end record.
struct WholeFile {
  std::vector<uint8_t> bytes;
  Images images;
};

WholeFile MultiRecordFile(ImageWriter writer) {
  WholeFile file;
  file.images = {test::ImageData(1000, 1), test::ImageData(300, 2), {}};
  file.bytes = writer.NoOp()
                   .Delay(3)
                   .Reset(1)
                   .Image(2, 0, file.images[0])
                   .NoOp()
                   .Reset(3)
                   .Delay(0)
                   .Image(2, 1, file.images[1])
                   .Image(127, 0, file.images[2])
                   .End()
                   .Raw(std::vector<uint8_t>{0x05, 0x80})
                   .Bytes();
  return file;
}

const char* const kMultiRecordSent = "R2 S R1 P0 B0 B1 B2 B3 F4 R3 P0 B0 B1 F2 P0 F0 S R0";

struct WholeCase {
  const char* name;
  bool version1;
  LinkSettings link;
  ModuleFaults faults;
};

class WholeUpdate : public testing::TestWithParam<WholeCase> {};

TEST_P(WholeUpdate, ProgramsEveryImageOfTheFileThenResetsIntoIt) {
  const WholeCase& c = GetParam();
  test::RecordingBoxes boxes;
  test::RecordingProgress progress;
  // A version-0 file is meant for any module, so only a module answering as 0x7F7F / 0x7F
  // passes its check.
  ModuleIdentity identity;
  if (!c.version1) {
    identity.companyId = 0x7F7F;
    identity.productId = 0x7F;
  }
  test::SimRig rig({.identity = identity, .faults = c.faults, .link = c.link});
  test::ModuleWatch watch(rig);
  rig.module.SetVersionAfterUpdate(2, 1);
  const WholeFile file =
      MultiRecordFile(c.version1 ? ImageWriter::Version1(0x0021, 0x0A) : ImageWriter::Version0());
  DeviceInfo device;
  ASSERT_EQ(test::Update(file.bytes, device), kOk);
  // On an unlimited link the final reset has left but reaches the module only as time goes on.
  rig.time.RunUntil(rig.Now() + 1'000'000);

  EXPECT_EQ(rig.module.ProgrammedImages(), file.images);
  EXPECT_EQ(watch.Names(), kMultiRecordSent);
  EXPECT_EQ(watch.LastName(), "R0");
  EXPECT_STREQ(device.versionText, "2.1");  // read back after the walk
  EXPECT_FALSE(progress.Overlapped());
  EXPECT_FALSE(progress.Showing());
  EXPECT_TRUE(boxes.Questions().empty());
  EXPECT_TRUE(boxes.Errors().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, WholeUpdate,
    testing::Values(WholeCase{"Version1Midi", true, {}, {}},
                    WholeCase{"Version0Midi", false, {}, {}},
                    WholeCase{"Version1Unlimited", true, {.baud = 0}, {}},
                    WholeCase{"Version1BytewiseDelivery", true, {.deliveryChunk = 1}, {}},
                    WholeCase{"Version1Noise", true, {}, {.noise = true}},
                    // Every reply late, but within every wait's time-out.
                    WholeCase{
                        "Version1LateReplies", true, {}, {.extraReplyDelayMicros = 2'900'000}},
                    WholeCase{"Version1OtherRepliesBeforePrepareAnswer",
                              true,
                              {},
                              {.unrelatedBeforePrepareAnswer = true}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(UpdateRun, ProgressWindowsFollowTheCallingOrder) {
  test::RecordingProgress progress;
  test::SimRig rig({.identity = {.blockSize = 128}});
  const auto file =
      ImageWriter::Version1(0x0021, 0x0A).Delay(2).Image(2, 0, test::ImageData(300)).End().Bytes();
  DeviceInfo device;
  ASSERT_EQ(test::Update(file, device), kOk);
  // clang-format off
  EXPECT_EQ(progress.Log(), (Log{
      "open",
      "set Connecting... 0",
      "set Connecting... 0",
      "close",
      "open",
      "set Delaying... 0",
      "set Delaying... 0",
      "set Delaying... 50",
      "set Delaying... 100",
      "set Preparing firmware area... 0",
      "set Updating firmware area... 0",
      "set Updating firmware area... 33",
      "set Updating firmware area... 66",
      "close",
      "open",
      "set Reading updated version #... 0",
      "set Reading updated version #... 10",
      "close",
  }));
  // clang-format on
  EXPECT_FALSE(progress.Overlapped());
}

TEST(UpdateRun, DelayResetAndTheirPauses) {
  // On an unlimited link sending costs no time, so the pauses show exactly.
  test::SimRig rig({.link = {.baud = 0}});
  test::ModuleWatch watch(rig);
  const auto file = ImageWriter::Version1(0x0021, 0x0A)
                        .Delay(20)
                        .Reset(1)
                        .End()
                        .Raw(std::vector<uint8_t>{0x00})
                        .Bytes();
  DeviceInfo device;
  ASSERT_EQ(test::Update(file, device), kOk);
  rig.time.RunUntil(rig.Now() + 1'000'000);
  ASSERT_EQ(watch.Names(), "R2 S R1 S R0");
  const std::vector<uint64_t> status = watch.TimesOf("S");
  const uint64_t reset = watch.TimesOf("R1")[0];
  // One tick for the status reply to be polled, then the 20-tick delay.
  EXPECT_EQ(reset - status[0], 100'000u + 2'000'000u);
  // The 10-tick pause after a reset record, then the status is read at once.
  EXPECT_EQ(status[1] - reset, 1'000'000u);
  EXPECT_EQ(watch.TimesOf("R0")[0] - status[1], 100'000u);
}

TEST(UpdateRun, LeftoverCancelIsClearedAtTheStart) {
  test::SimRig rig;
  RequestCancel();
  const auto file =
      ImageWriter::Version1(0x0021, 0x0A).Image(2, 0, test::ImageData(10)).End().Bytes();
  DeviceInfo device;
  EXPECT_EQ(test::Update(file, device), kOk);
}

// ---- Every result, through a fault of the module -------------------------------------------

std::vector<uint8_t> StandardFile() {
  return ImageWriter::Version1(0x0021, 0x0A).Image(2, 0, test::ImageData(600)).End().Bytes();
}

const char* const kStandardSent = "R2 S P0 B0 B1 B2 F3 S R0";

using Arm = std::function<void(test::ModuleWatch&, test::SimRig&)>;
using FileMaker = std::function<std::vector<uint8_t>()>;

// Faults that the module takes on once it has acted on the named command (the reply to that
// command has already left).
Arm From(std::string name, ModuleFaults faults) {
  return [name, faults](test::ModuleWatch& watch, test::SimRig& rig) {
    watch.Once(name, [&rig, faults] { rig.module.SetFaults(faults); });
  };
}

FileMaker Edited(std::function<void(std::vector<uint8_t>&)> edit) {
  return [edit] {
    std::vector<uint8_t> file = StandardFile();
    edit(file);
    return file;
  };
}

FileMaker For(uint16_t companyId, uint8_t productId) {
  return [companyId, productId] {
    return ImageWriter::Version1(companyId, productId)
        .Image(2, 0, test::ImageData(600))
        .End()
        .Bytes();
  };
}

struct RunCase {
  const char* name;
  ResultCode expected;
  const char* sent;  // what the module received, in order
  int windows;       // progress windows opened in all
  test::SimRigOptions options = {};
  Arm arm = nullptr;
  FileMaker file = StandardFile;
};

void ExpectRun(const RunCase& c) {
  test::AnsweringBoxes boxes(false);
  test::RecordingProgress progress;
  test::SimRig rig(c.options);
  test::ModuleWatch watch(rig);
  if (c.arm) c.arm(watch, rig);
  DeviceInfo device;
  EXPECT_EQ(test::Update(c.file(), device), c.expected);
  rig.time.RunUntil(rig.Now() + 30'000'000);  // anything still on its way arrives
  EXPECT_EQ(watch.Names(), c.sent);
  EXPECT_EQ(progress.Opened(), c.windows);
  EXPECT_FALSE(progress.Showing());
  EXPECT_FALSE(progress.Overlapped());
}

class UpdateResult : public testing::TestWithParam<RunCase> {};

TEST_P(UpdateResult, EndsWithTheCodeOfTheFault) {
  ExpectRun(GetParam());
}

const ModuleIdentity kSameVersionModule = {.versionMajor = 2, .versionMinor = 0};

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Faults, UpdateResult,
    testing::Values(
        RunCase{"Succeeds", kOk, kStandardSent, 3},
        // Connect
        RunCase{"NoModule", kResponseTimeout, "R2 R2 R2 R2 R2 R2 R2 R2 R2 R2", 1,
                {.faults = {.silent = true}}},
        RunCase{"StatusUnanswered", kResponseTimeout, "R2 S", 1,
                {.faults = {.ignoreStatusRequests = true}}},
        RunCase{"ResetAnswerTooLong", kResponseTooLong, "R2", 1,
                {.faults = {.paddingInReplies = 114 - 1}, .link = ChunkedLink()}, From("R2", {})},
        RunCase{"StatusTooLong", kResponseTooLong, "R2 S", 1, {.link = ChunkedLink()},
                From("R2", {.paddingInReplies = 154 - kStatusBody})},
        // The file against the module that answered
        RunCase{"ProductMismatch", kProductMismatch, "R2 S", 1, {}, nullptr, For(0x0021, 0x0B)},
        RunCase{"CompanyMismatch", kCompanyMismatch, "R2 S", 1, {}, nullptr, For(0x0022, 0x0A)},
        RunCase{"CrcError", kImageCrcError, "R2 S", 1, {}, nullptr,
                Edited([](auto& file) { file[20] ^= 0x01; })},
        RunCase{"UnknownFileVersion", kUnknownImageVersion, "R2 S", 1, {}, nullptr,
                Edited([](auto& file) { file[0] = 2; })},
        RunCase{"CorruptRecords", kImageCorrupt, "R2 S", 1, {}, nullptr,
                [] {
                  return ImageWriter::Version1(0x0021, 0x0A).Raw(std::vector<uint8_t>{5})
                      .End().Bytes();
                }},
        // Prepare area
        RunCase{"EraseFailed", kRegionEraseFailure, "R2 S P0", 2, {.faults = {.eraseResult = 1}}},
        RunCase{"EraseResultUnknown", kResponseUnknown, "R2 S P0", 2,
                {.faults = {.eraseResult = 2}}},
        RunCase{"PrepareAnswerLate", kResponseTimeout, "R2 S P0", 2,
                {.timing = {.eraseMicros = 9'000'000}}},
        RunCase{"PrepareAnswerOneUnderItsBuffer", kOk, kStandardSent, 3, {.link = ChunkedLink()},
                From("S", {.paddingInReplies = 29 - 2})},
        RunCase{"PrepareAnswerTooLong", kResponseTooLong, "R2 S P0", 2, {.link = ChunkedLink()},
                From("S", {.paddingInReplies = 30 - 2})},
        RunCase{"UserDeclinesSameVersion", kCanceled, "R2 S P0", 2,
                {.identity = kSameVersionModule}},
        RunCase{"BlockSizeZero", kResponseUnknown, "R2 S", 2, {.identity = {.blockSize = 0}}},
        // Company and product 0, so that the cut reply still addresses the module.
        RunCase{"StatusReplyTooShortForABlockSize", kResponseUnknown, "R2 S", 2,
                {.identity = {.companyId = 0, .productId = 0}, .faults = {.statusReplyCut = 4}},
                nullptr, For(0, 0)},
        // Program blocks (the module's refusals are in UpdateBlockRefused)
        RunCase{"OtherReplyBeforeBlockAnswer", kResponseUnknown, "R2 S P0 B0 B1", 2,
                {.faults = {.unrelatedBeforeBlock = 1}}},
        // The second prepare-area answer is the first reply after block 0.
        RunCase{"DuplicateReplies", kResponseUnknown, "R2 S P0 B0", 2,
                {.faults = {.duplicateReplies = true}}},
        RunCase{"BlockAnswerLate", kResponseTimeout, "R2 S P0 B0", 2, {},
                From("P0", {.extraReplyDelayMicros = 10'500'000})},
        RunCase{"BlockAnswerOneUnderItsBuffer", kOk, kStandardSent, 3, {.link = ChunkedLink()},
                From("P0", {.paddingInReplies = 49 - 2})},
        RunCase{"BlockAnswerTooLong", kResponseTooLong, "R2 S P0 B0", 2, {.link = ChunkedLink()},
                From("P0", {.paddingInReplies = 50 - 2})},
        // The status read after the walk
        RunCase{"StatusAfterWalkUnanswered", kResponseTimeout,
                "R2 S P0 B0 B1 B2 F3 S S S S S S S S S S", 3, {},
                From("F3", {.ignoreStatusRequests = true})},
        RunCase{"StatusAfterWalkOneUnderItsBuffer", kOk, kStandardSent, 3, {.link = ChunkedLink()},
                From("F3", {.paddingInReplies = 153 - kStatusBody})},
        RunCase{"StatusAfterWalkTooLong", kResponseTooLong, "R2 S P0 B0 B1 B2 F3 S", 3,
                {.link = ChunkedLink()}, From("F3", {.paddingInReplies = 154 - kStatusBody})}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

struct RefusalCase {
  uint8_t status;  // the module's device status for block 1
  ResultCode expected;
  const char* sent;
};

class UpdateBlockRefused : public testing::TestWithParam<RefusalCase> {};

TEST_P(UpdateBlockRefused, EndsWithTheCodeOfTheDeviceStatus) {
  const RefusalCase& c = GetParam();
  ExpectRun({"", c.expected, c.sent, 2, {.faults = {.rejectBlock = 1, .rejectStatus = c.status}}});
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, UpdateBlockRefused,
    testing::Values(RefusalCase{1, kDeviceBadChecksum, "R2 S P0 B0 B1"},
                    RefusalCase{2, kDeviceBadLength, "R2 S P0 B0 B1"},
                    RefusalCase{3, kDeviceBadSequence, "R2 S P0 B0 B1"},
                    RefusalCase{4, kResponseUnknown, "R2 S P0 B0 B1"},
                    RefusalCase{5, kDeviceProgrammingFault, "R2 S P0 B0 B1"},
                    RefusalCase{6, kDeviceBadCheckcode, "R2 S P0 B0 B1"},
                    // "16 07" counts as accepted, so block 2 follows; the module, which did not
                    // take block 1, refuses it as out of sequence.
                    RefusalCase{7, kDeviceBadSequence, "R2 S P0 B0 B1 B2"},
                    RefusalCase{8, kDeviceBadLength, "R2 S P0 B0 B1"},
                    RefusalCase{9, kResponseUnknown, "R2 S P0 B0 B1"},
                    RefusalCase{0x7F, kResponseUnknown, "R2 S P0 B0 B1"}),
    [](const auto& p) { return "Status" + std::to_string(p.param.status); });

TEST(UpdateRun, DecliningTheSameVersionLeavesCancelClearAndTheWindowClosed) {
  test::AnsweringBoxes boxes(false);
  test::RecordingProgress progress;
  test::SimRig rig({.identity = kSameVersionModule});
  DeviceInfo device;
  EXPECT_EQ(test::Update(StandardFile(), device), kCanceled);
  EXPECT_EQ(boxes.questions.size(), 1u);
  EXPECT_EQ(boxes.progressOpenAtQuestion, std::vector<bool>{false});
  EXPECT_FALSE(CancelRequested());
  EXPECT_TRUE(rig.module.ProgrammedImages().empty());
}

TEST(UpdateRun, AcceptingTheSameVersionRewritesTheImage) {
  test::AnsweringBoxes boxes(true);
  test::RecordingProgress progress;
  test::SimRig rig({.identity = kSameVersionModule});
  test::ModuleWatch watch(rig);
  DeviceInfo device;
  EXPECT_EQ(test::Update(StandardFile(), device), kOk);
  EXPECT_EQ(watch.Names(), kStandardSent);
  EXPECT_EQ(rig.module.ProgrammedImages(), Images{test::ImageData(600)});
  EXPECT_FALSE(progress.Overlapped());
}

// ---- Cancel at every kind of wait ----------------------------------------------------------

struct CancelCase {
  const char* name;
  const char* trigger;  // cancel `after` this command was acted on; "" counts from the start
  uint64_t after;
  const char* sent;
  test::SimRigOptions options = {};
  Arm arm = nullptr;
  FileMaker file = StandardFile;
};

class UpdateCanceled : public testing::TestWithParam<CancelCase> {};

TEST_P(UpdateCanceled, EndsWithinOneTickAndSendsNothingFurther) {
  const CancelCase& c = GetParam();
  test::RecordingProgress progress;
  test::SimRig rig(c.options);
  test::ModuleWatch watch(rig);
  if (c.arm) c.arm(watch, rig);
  uint64_t cancelAt = 0;
  auto schedule = [&rig, &cancelAt, &c] {
    const uint64_t when = rig.Now() + c.after;
    rig.time.At(when, [&cancelAt, when] {
      RequestCancel();
      cancelAt = when;
    });
  };
  if (*c.trigger) {
    watch.Once(c.trigger, schedule);
  } else {
    schedule();
  }
  DeviceInfo device;
  EXPECT_EQ(test::Update(c.file(), device), kCanceled);
  ASSERT_NE(cancelAt, 0u) << "the cancel never came";
  EXPECT_LE(rig.Now() - cancelAt, 100'000u);
  rig.time.RunUntil(rig.Now() + 30'000'000);
  EXPECT_EQ(watch.Names(), c.sent);
  EXPECT_FALSE(progress.Showing());
  EXPECT_FALSE(progress.Overlapped());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Waits, UpdateCanceled,
    testing::Values(
        CancelCase{"ConnectAttempt", "", 4'550'000, "R2 R2", {.faults = {.ignoreFirstResets = 5}}},
        CancelCase{"ConnectStatusRead", "", 1'550'000, "R2 S",
                   {.faults = {.ignoreStatusRequests = true}}},
        CancelCase{"DelayRecord", "S", 2'000'000, "R2 S", {}, nullptr,
                   [] {
                     return ImageWriter::Version1(0x0021, 0x0A).Delay(50).Reset(1)
                         .Image(2, 0, test::ImageData(600)).End().Bytes();
                   }},
        CancelCase{"PrepareAreaAnswer", "P0", 1'000'000, "R2 S P0",
                   {.timing = {.eraseMicros = 5'000'000}}},
        CancelCase{"BlockAcknowledgement", "B1", 1'000'000, "R2 S P0 B0 B1",
                   {.timing = {.programBlockMicros = 3'000'000}}},
        CancelCase{"StatusReadAfterWalk", "F3", 1'500'000, "R2 S P0 B0 B1 B2 F3 S", {},
                   From("F3", {.ignoreStatusRequests = true})}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

TEST(UpdateRun, CancelDuringAResetPauseStopsBeforeTheNextRecord) {
  // The pause after a reset record is one 10-tick sleep, not a poll: the cancel is seen when it
  // ends, before the next record.
  test::SimRig rig;
  test::ModuleWatch watch(rig);
  watch.Once("R1", [&rig] { rig.time.At(rig.Now() + 50'000, [] { RequestCancel(); }); });
  const auto file = ImageWriter::Version1(0x0021, 0x0A)
                        .Reset(1)
                        .Reset(3)
                        .Image(2, 0, test::ImageData(10))
                        .End()
                        .Bytes();
  DeviceInfo device;
  EXPECT_EQ(test::Update(file, device), kCanceled);
  const uint64_t reset = watch.TimesOf("R1")[0];
  EXPECT_LE(rig.Now() - reset, 1'300'000u);
  rig.time.RunUntil(rig.Now() + 10'000'000);
  EXPECT_EQ(watch.Names(), "R2 S R1");
}

// ---- The trace of a small update -----------------------------------------------------------

TEST(UpdateRun, TraceHoldsEveryBannerAndMessageInOrder) {
  test::SimRig rig;
  EnableTrace();
  const auto file =
      ImageWriter::Version1(0x0021, 0x0A).Image(2, 0, std::vector<uint8_t>{1, 2, 3}).End().Bytes();
  DeviceInfo device;
  ASSERT_EQ(test::Update(file, device), kOk);

  const std::string status =
      "12 00 01 02 02 00 00 21 0a 00 00 00 00 4b 58 04 12 00 01 51 58 2d 34 31 32 ";
  const std::string fromModule = "RX: f0 00 00 21 0a 7f ";
  const std::string toModule = "TX: f0 00 00 21 0a 7f ";
  const Log expected = {
      "--- Resetting QX-412 ---",
      "TX: f0 00 7f 7f 7f 7f 10 02 f7 ",
      fromModule + "10 f7 ",
      "--- QX-412 get status request ---",
      "TX: f0 00 7f 7f 7f 7f 11 f7 ",
      fromModule + status + "f7 ",
      "--- Transmitting image ---",
      "--- Prepare area ---",
      toModule + "13 00 f7 ",
      fromModule + "14 00 f7 ",
      "--- Program block ---",
      toModule + "15 00 00 00 03 01 02 03 00 09 f7 ",  // sum 3 + 1 + 2 + 3
      fromModule + "16 00 f7 ",
      "--- Program final block ---",
      toModule + "15 00 01 00 00 00 01 f7 ",
      fromModule + "16 00 f7 ",
      "--- QX-412 get status request ---",
      toModule + "11 f7 ",
      fromModule + status + "f7 ",
      "--- Resetting QX-412 ---",
      toModule + "10 00 f7 ",
      fromModule + "10 f7 ",
  };
  std::string text;
  for (const std::string& line : expected) text += line + "\n";
  EXPECT_EQ(test::ReadFileText(TraceFilePath()), text);
}

}  // namespace
}  // namespace kfw
