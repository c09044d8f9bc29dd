// The update run against the simulated module, in virtual time: the progress window's calling
// order, whole files, every result a run can end with, Cancel at every kind of wait, and the
// progress and trace of a small update, step by step.
#include "engine/update.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/report.h"
#include "base/waiting.h"
#include "engine/process_state.h"
#include "engine/progress.h"
#include "engine/transfer.h"
#include "image/image_writer.h"
#include "protocol/messages.h"
#include "tests/engine/engine_helpers.h"
#include "tests/support/doubles.h"

namespace kfw {
namespace {

using Log = std::vector<std::string>;
using Images = std::vector<std::vector<uint8_t>>;

const std::string kConnecting = "Connecting...";
// Body bytes of the simulated module's status reply, from its code to the end of its name.
constexpr uint32_t kStatusBody = 25;
// Replies delivered 16 bytes at a time, more than a tick apart, so that a reply longer than the
// 49-byte reply ring is read whole instead of only its last 49 bytes.
constexpr LinkSettings kChunked = {
    .baud = 31250, .deliveryChunk = 16, .chunkSpacingMicros = 150'000};

TEST(ProgressOrder, OneWindowAtATimeAndCloseHarmlessInEveryState) {
  OpenProgress();  // with no window installed the order is kept all the same
  CloseProgress();
  test::RecordingProgress progress;
  CloseProgress();                // nothing open
  SetProgress("Delaying...", 5);  // reaches no window while none is open
  OpenProgress();
  SetProgress("Delaying...", 10);
  OpenProgress();  // closes the first window before the second shows
  CloseProgress();
  CloseProgress();  // already closed
  EXPECT_EQ(progress.Log(), (Log{"open", "set Delaying... 10", "close", "open", "close"}));
  EXPECT_FALSE(progress.Overlapped());
  EXPECT_FALSE(ProgressIsOpen());
}

// Answers every question with `answer`, and records each, marked when a progress window was open.
struct AnsweringBoxes final : MessageBoxes {
  AnsweringBoxes() { InstallMessageBoxes(this); }
  ~AnsweringBoxes() override { InstallMessageBoxes(nullptr); }
  void ShowError(const std::string&) override {}
  bool AskYesNo(const std::string& text) override {
    questions.push_back(ProgressIsOpen() ? "over a progress window: " + text : text);
    return answer;
  }
  void ShowFatal(const std::string& text) override { throw std::runtime_error(text); }
  bool answer = false;
  std::vector<std::string> questions;
};

// One update: what a case arranges before it, and may check after it.
struct Session {
  explicit Session(const test::SimRigOptions& options, bool fastRun = false)
      : fast(fastMode = fastRun), rig(options), watch(rig) {}
  bool fast;  // set before the rig opens the ports: the fast mode opens them its own way
  AnsweringBoxes boxes;
  test::RecordingProgress progress;
  test::SimRig rig;
  test::ModuleWatch watch;
  DeviceInfo device;
  uint64_t canceledAt = 0;  // when the case's Cancel came, if it came
  uint64_t endedAt = 0;     // when RunUpdate returned
};
using Step = std::function<void(Session&)>;

// A version-1 file for one module family with one image record of 600 bytes.
std::vector<uint8_t> ImageFor(uint16_t companyId, uint8_t productId, uint8_t major = 2,
                              uint8_t minor = 0) {
  const std::vector<uint8_t> data = test::ImageData(600);
  return ImageWriter::Version1(companyId, productId).Image(major, minor, data).End().Bytes();
}
const char* const kStandardSent = "R2 S P0 B0 B1 B2 F3 S R0";

struct RunCase {
  std::string name;
  ResultCode expected;
  const char* sent;  // every command the module acted on, in order, until all was quiet
  int windows;       // progress windows opened in all
  test::SimRigOptions options = {};
  Step arm = nullptr;
  Step check = nullptr;
  std::vector<uint8_t> file = ImageFor(0x0021, 0x0A);
};

// The case's name says it all; without this the test list carries a dump of its bytes.
void PrintTo(const RunCase& c, std::ostream* out) { *out << c.name; }

class UpdateRun : public testing::TestWithParam<RunCase> {};
// The same cases in the fast mode: the same commands, the same results.
class FastUpdateRun : public testing::TestWithParam<RunCase> {};

// The wire time of a message of `bytes` bytes on the case's link.
uint64_t WireMicros(const RunCase& c, uint64_t bytes) {
  return c.options.link.baud ? bytes * 10'000'000 / c.options.link.baud : 0;
}

void RunAndCheck(const RunCase& c, bool fast) {
  Session run(c.options, fast);
  if (c.arm) c.arm(run);
  EXPECT_EQ(RunUpdate(c.file.data(), static_cast<uint32_t>(c.file.size()), run.device), c.expected);
  run.endedAt = run.rig.Now();
  run.rig.time.RunUntil(run.endedAt + 30'000'000);  // anything still on its way arrives

  EXPECT_EQ(run.watch.Names(), c.sent);
  EXPECT_EQ(run.progress.Opened(), c.windows);
  EXPECT_FALSE(run.progress.Showing());
  EXPECT_FALSE(run.progress.Overlapped());
  // Connect's attempts: the reset's drain wait and 30 empty ticks each; in the fast mode the
  // reset's wire time and 3 s on an empty ring, with the two ticks more that keep it from giving up
  // before the normal mode.
  const std::vector<uint64_t> resets = run.watch.TimesOf("R2");
  const uint64_t attempt = fast ? WireMicros(c, 9) + 3'200'000 : 3'200'000;
  for (size_t i = 1; i < resets.size(); ++i) EXPECT_EQ(resets[i] - resets[i - 1], attempt);
  // Only the same-version question, never over a progress window (the boxes would mark it). The
  // boxes answer No, so whether it came shows in the result and the commands.
  for (const auto& q : run.boxes.questions) EXPECT_EQ(q, TextTable[kTextSameVersionQuestion]);
  // The firmware area counts as erased once the module was told to erase it, and only then.
  EXPECT_EQ(firmwareAreaErased, run.watch.Names().find("P0") != std::string::npos);
  // Cancel ends the run within one tick and the flag stays as the user set it; nothing else
  // leaves it set.
  EXPECT_EQ(CancelRequested(), run.canceledAt != 0);
  if (run.canceledAt != 0) {
    EXPECT_LE(run.endedAt - run.canceledAt, 100'000u);
  }
  if (c.check) c.check(run);
}

TEST_P(UpdateRun, EndsWithItsResultAfterExactlyTheseCommands) {
  RunAndCheck(GetParam(), false);
}

TEST_P(FastUpdateRun, EndsWithTheSameResultAfterTheSameCommands) {
  RunAndCheck(GetParam(), true);
}

// Faults the module takes on once it has acted on the named command.
Step From(const std::string& name, ModuleFaults faults) {
  return [=](Session& run) {
    run.watch.Once(name, [&run, faults] { run.rig.module.SetFaults(faults); });
  };
}

// Runs action `after` microseconds past the module's acting on the named command.
Step After(const std::string& name, uint64_t after, Step action) {
  return [=](Session& run) {
    run.watch.Once(name, [&run, after, action] {
      run.rig.time.At(run.rig.Now() + after, [&run, action] { action(run); });
    });
  };
}

Step CancelAfter(const std::string& name, uint64_t after) {
  return After(name, after, [](Session& run) {
    RequestCancel();
    run.canceledAt = run.rig.Now();
  });
}

// A command from another program on the same port, which the module answers even when it was
// silenced; it takes on `then` after it.
Step Send(std::vector<uint8_t> command, ModuleFaults then = {}) {
  return [=](Session& run) {
    run.rig.module.SetFaults({});
    run.rig.module.Receive(command.data(), command.size());
    run.rig.module.SetFaults(then);
  };
}

Step Shown(const std::string& caption, const std::vector<uint32_t>& shown) {
  return [=](Session& run) { EXPECT_EQ(run.progress.Percentages(caption), shown); };
}

// A file of every record kind: no-ops, delays (one of 0 ticks), resets, three image records (one
// empty, one exempt from the version question), bytes after the end record. A version-1 file's
// identifier bytes 00 21 0A would play as an image record and two no-ops.
const Images kMultiRecordImages = {test::ImageData(1000, 1), test::ImageData(300, 2), {}};
const char* const kMultiRecordSent = "R2 S R1 P0 B0 B1 B2 B3 F4 R3 P0 B0 B1 F2 P0 F0 S R0";

std::vector<uint8_t> MultiRecordFile(ImageWriter writer) {
  writer.NoOp().Delay(3).Reset(1).Image(2, 0, kMultiRecordImages[0]).NoOp().Reset(3).Delay(0);
  writer.Image(2, 1, kMultiRecordImages[1]).Image(127, 0, kMultiRecordImages[2]).End();
  return writer.Raw(std::vector<uint8_t>{0x05, 0x80}).Bytes();
}

void NewVersionAfterUpdate(Session& run) {
  run.rig.module.SetVersionAfterUpdate(2, 1);
}

void ExpectMultiRecordImages(Session& run) {
  EXPECT_EQ(run.rig.module.ProgrammedImages(), kMultiRecordImages);
  EXPECT_STREQ(run.device.versionText, "2.1");  // read back after the walk
}

// On an unlimited link sending costs no time, so the pauses show exactly: the tick in which the
// status reply was polled and the 20-tick delay, the 10 ticks after the reset, then the status
// read at once and the final reset a tick later. (at() throws, and so fails the case, when a
// command is missing.)
void ExpectDelayAndResetPauses(Session& run) {
  const std::vector<uint64_t> status = run.watch.TimesOf("S");
  const uint64_t reset = run.watch.TimesOf("R1").at(0);
  // The fast mode takes the status reply as it comes, 1 ms after the request; the pauses stay.
  EXPECT_EQ(reset - status.at(0), run.fast ? 2'001'000u : 2'100'000u);
  EXPECT_EQ(status.at(1) - reset, 1'000'000u);
  EXPECT_EQ(run.watch.TimesOf("R0").at(0) - status.at(1), run.fast ? 1'000u : 100'000u);
}

RunCase Refused(uint8_t status, ResultCode expected, const char* sent = "R2 S P0 B0 B1") {
  RunCase c{"BlockRefusedWithStatus" + std::to_string(status), expected, sent, 2};
  c.options.faults = {.rejectBlock = 1, .rejectStatus = status};
  return c;
}

// The module stays silent from the prepare command on. Another program's reset 6 s later is
// answered, and so is its prepare command at 11.8 s: in time only because the reset's answer,
// passed over, restarted the 88 ticks.
void AnswerPrepareAfterAReplyPassedOver(Session& run) {
  From("S", {.silent = true})(run);
  After("P0", 6'000'000,
        Send({0xF0, 0x00, 0x7F, 0x7F, 0x7F, 0x7F, 0x10, 0x05, 0xF7}, {.silent = true}))(run);
  After("P0", 11'800'000, Send({0xF0, 0x00, 0x7F, 0x7F, 0x7F, 0x7F, 0x13, 0x00, 0xF7}))(run);
}

const ModuleIdentity kAtVersion20 = {.versionMajor = 2, .versionMinor = 0};

// 600 bytes of image data with one byte that has its top bit set, in the third block.
std::vector<uint8_t> EightBitData() {
  std::vector<uint8_t> data = test::ImageData(600);
  data[520] = 0x80;
  return data;
}

// clang-format off
const std::vector<RunCase> kResults = {
    {"LeftoverCancelIsCleared", kOk, kStandardSent, 3, {}, [](Session&) { RequestCancel(); }},
    {"MultiRecordVersion1", kOk, kMultiRecordSent, 3, {}, NewVersionAfterUpdate,
     ExpectMultiRecordImages, MultiRecordFile(ImageWriter::Version1(0x0021, 0x0A))},
    // A version-0 file is meant for any module, so only one answering as 0x7F7F / 0x7F takes it.
    {"MultiRecordVersion0", kOk, kMultiRecordSent, 3,
     {.identity = {.companyId = 0x7F7F, .productId = 0x7F}}, NewVersionAfterUpdate,
     ExpectMultiRecordImages, MultiRecordFile(ImageWriter::Version0())},
    {"DelayAndResetPauses", kOk, "R2 S R1 S R0", 3, {.link = {.baud = 0}}, nullptr,
     ExpectDelayAndResetPauses,
     ImageWriter::Version1(0x0021, 0x0A).Delay(20).Reset(1).End().Raw(std::vector<uint8_t>{0})
         .Bytes()},
    // Connect
    {"ModuleAnswersTheFourthReset", kOk, "R2 R2 R2 R2 S P0 B0 B1 B2 F3 S R0", 3,
     {.faults = {.ignoreFirstResets = 3}}, nullptr, Shown(kConnecting, {0, 0, 10, 20, 30})},
    {"NoModule", kResponseTimeout, "R2 R2 R2 R2 R2 R2 R2 R2 R2 R2", 1,
     {.faults = {.silent = true}}, nullptr, [](Session& run) {
       Shown(kConnecting, {0, 0, 10, 20, 30, 40, 50, 60, 70, 80, 90})(run);
       EXPECT_EQ(run.endedAt, 10 * (run.fast ? 2'880u + 3'200'000u : 3'200'000u));
     }},
    // Another program's status request: its reply is the first to arrive and still ends the
    // attempts; the status is then asked afresh.
    {"OtherReplyFirst", kOk, "R2 S S P0 B0 B1 B2 F3 S R0", 3, {.faults = {.ignoreFirstResets = 1}},
     After("R2", 1'000'000, Send({0xF0, 0x00, 0x7F, 0x7F, 0x7F, 0x7F, 0x11, 0xF7})),
     Shown(kConnecting, {0, 0})},
    {"StatusUnanswered", kResponseTimeout, "R2 S", 1, {.faults = {.ignoreStatusRequests = true}},
     nullptr, [](Session&) {
       EXPECT_EQ(SysExHeader, (std::array<uint8_t, 6>{0xF0, 0x00, 0x7F, 0x7F, 0x7F, 0x7F}));
     }},
    {"ResetAnswerFillsItsBuffer", kOk, kStandardSent, 3,
     {.faults = {.paddingInReplies = 113 - 1}, .link = kChunked}, From("R2", {})},
    {"ResetAnswerTooLong", kResponseTooLong, "R2", 1,
     {.faults = {.paddingInReplies = 114 - 1}, .link = kChunked}, From("R2", {})},
    // The file against the module that answered: refused before the run's window opens
    {"ProductMismatch", kProductMismatch, "R2 S", 1, {.identity = {.productId = 0x0B}}},
    {"CompanyMismatch", kCompanyMismatch, "R2 S", 1, {.identity = {.companyId = 0x0022}}},
    // Data SysEx cannot carry: refused with the file, before its first record is played, so the
    // module is neither reset nor erased.
    {"DataThatCannotTravel", kImageCorrupt, "R2 S", 1, {}, nullptr, nullptr,
     ImageWriter::Version1(0x0021, 0x0A).Reset(1).Image(2, 0, EightBitData()).End().Bytes()},
    // A module that names no block size is refused before its firmware area is erased. Company
    // and product 0, so that a status reply cut before its identifiers still addresses it.
    {"BlockSizeZero", kResponseUnknown, "R2 S", 2, {.identity = {.blockSize = 0}}},
    // Nor is one whose blocks the output would refuse (as JACK's refuses messages above 16379
    // bytes): 600 bytes in one block, 614 bytes with its frame.
    {"BlockTooLongForTheOutput", kResponseUnknown, "R2 S", 2,
     {.identity = {.blockSize = 1024}, .link = {.largestMessage = 613}}},
    {"BlockAsLongAsTheOutputTakes", kOk, "R2 S P0 B0 F1 S R0", 3,
     {.identity = {.blockSize = 1024}, .link = {.largestMessage = 614}}},
    {"StatusReplyTooShortForABlockSize", kResponseUnknown, "R2 S", 2,
     {.identity = {.companyId = 0, .productId = 0}, .faults = {.statusReplyCut = 4}}, nullptr,
     nullptr, ImageFor(0, 0)},
    // Prepare area; its answer must be in the ring by the 88th empty poll, 8.8 s after the first.
    {"EraseFailed", kRegionEraseFailure, "R2 S P0", 2, {.faults = {.eraseResult = 1}}},
    {"EraseResultUnknown", kResponseUnknown, "R2 S P0", 2, {.faults = {.eraseResult = 2}}},
    {"PrepareAnswerWithin88Ticks", kOk, kStandardSent, 3, {.timing = {.eraseMicros = 8'800'000}}},
    {"PrepareAnswerLate", kResponseTimeout, "R2 S P0", 2, {.timing = {.eraseMicros = 9'000'000}}},
    {"PrepareAnswerBehindOtherReplies", kOk, kStandardSent, 3,
     {.faults = {.unrelatedBeforePrepareAnswer = true}}},
    {"PrepareAnswerAfterAReplyPassedOver", kOk, "R2 S P0 R5 P0 B0 B1 B2 F3 S R0", 3, {},
     AnswerPrepareAfterAReplyPassedOver},
    {"PrepareAnswerFillsItsBuffer", kOk, kStandardSent, 3, {.link = kChunked},
     From("S", {.paddingInReplies = 29 - 2})},
    {"PrepareAnswerTooLong", kResponseTooLong, "R2 S P0", 2, {.link = kChunked},
     From("S", {.paddingInReplies = 30 - 2})},
    // The same-version question: only for the same verified version, not exempt by major 127.
    // It comes before the erase: a No leaves the module with the firmware it reported.
    {"SameVersionDeclined", kCanceled, "R2 S", 2, {.identity = kAtVersion20}, nullptr,
     [](Session& run) {
       const ModuleIdentity module = run.rig.module.Identity();
       EXPECT_EQ(module.state, 0);
       EXPECT_EQ(module.versionMajor, 2);
       EXPECT_EQ(module.versionMinor, 0);
       EXPECT_EQ(run.boxes.questions.size(), 1u);
     }},
    {"SameVersionAccepted", kOk, kStandardSent, 4, {.identity = kAtVersion20},
     [](Session& run) { run.boxes.answer = true; }, [](Session& run) {
       EXPECT_EQ(run.rig.module.ProgrammedImages(), Images{test::ImageData(600)});
     }},
    {"SameVersionNotVerified", kOk, kStandardSent, 3,
     {.identity = {.versionMajor = 2, .versionMinor = 0, .state = 1}}},
    {"ModuleNewer", kOk, kStandardSent, 3, {.identity = {.versionMajor = 2, .versionMinor = 1}}},
    {"OtherMajor", kOk, kStandardSent, 3, {.identity = {.versionMajor = 3, .versionMinor = 0}}},
    {"Major127Exempt", kOk, kStandardSent, 3,
     {.identity = {.versionMajor = 127, .versionMinor = 5}}, nullptr, nullptr,
     ImageFor(0x0021, 0x0A, 127, 5)},
    // Program blocks
    {"OtherReplyBeforeBlockAnswer", kResponseUnknown, "R2 S P0 B0 B1", 2,
     {.faults = {.unrelatedBeforeBlock = 1}}},
    {"BlockAnswerLate", kResponseTimeout, "R2 S P0 B0", 2, {},
     From("P0", {.extraReplyDelayMicros = 10'500'000})},
    {"BlockAnswerFillsItsBuffer", kOk, kStandardSent, 3, {.link = kChunked},
     From("P0", {.paddingInReplies = 49 - 2})},
    {"BlockAnswerTooLong", kResponseTooLong, "R2 S P0 B0", 2, {.link = kChunked},
     From("P0", {.paddingInReplies = 50 - 2})},
    Refused(1, kDeviceBadChecksum), Refused(2, kDeviceBadLength), Refused(3, kDeviceBadSequence),
    Refused(4, kResponseUnknown), Refused(5, kDeviceProgrammingFault),
    Refused(6, kDeviceBadCheckcode), Refused(8, kDeviceBadLength), Refused(9, kResponseUnknown),
    // "16 07" counts as accepted, so block 2 follows; the module, which did not take block 1,
    // refuses it as out of sequence.
    Refused(7, kDeviceBadSequence, "R2 S P0 B0 B1 B2"),
    // The status read after the walk: only a time-out is tried again, at once, ten times in all;
    // no final reset after a failure.
    {"StatusAfterWalkUnanswered", kResponseTimeout, "R2 S P0 B0 B1 B2 F3 S S S S S S S S S S", 3,
     {}, From("F3", {.ignoreStatusRequests = true}), [](Session& run) {
       Shown("Reading updated version #...", {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100})(run);
       EXPECT_EQ(run.watch.TimesOf("S").back() - run.watch.TimesOf("S").at(1),
                 9 * (run.fast ? 2'560u + 3'200'000u : 3'200'000u));
     }},
    {"StatusAfterWalkFillsItsBuffer", kOk, kStandardSent, 3, {.link = kChunked},
     From("F3", {.paddingInReplies = 153 - kStatusBody})},
    {"StatusAfterWalkTooLong", kResponseTooLong, "R2 S P0 B0 B1 B2 F3 S", 3, {.link = kChunked},
     From("F3", {.paddingInReplies = 154 - kStatusBody})},
};

const std::vector<RunCase> kCancels = {
    {"ConnectAttempt", kCanceled, "R2 R2", 1, {.faults = {.silent = true}},
     CancelAfter("R2", 4'500'000)},
    {"ConnectStatusRead", kCanceled, "R2 S", 1, {.faults = {.ignoreStatusRequests = true}},
     CancelAfter("S", 1'500'000)},
    {"DelayRecord", kCanceled, "R2 S", 2, {}, CancelAfter("S", 2'000'000), nullptr,
     ImageWriter::Version1(0x0021, 0x0A).Delay(50).Reset(1).Image(2, 0, test::ImageData(600)).End()
         .Bytes()},
    // Cancel 0.45 s into the second's pause after a reset record: the pause ends at its next tick
    // too, and nothing more is sent.
    {"ResetRecordPause", kCanceled, "R2 S R1", 2, {}, CancelAfter("R1", 450'000), nullptr,
     ImageWriter::Version1(0x0021, 0x0A).Reset(1).Image(2, 0, test::ImageData(600)).End().Bytes()},
    {"PrepareAreaAnswer", kCanceled, "R2 S P0", 2, {.timing = {.eraseMicros = 5'000'000}},
     CancelAfter("P0", 1'000'000)},
    {"BlockAcknowledgement", kCanceled, "R2 S P0 B0 B1", 2,
     {.timing = {.programBlockMicros = 3'000'000}}, CancelAfter("B1", 1'000'000)},
    {"StatusReadAfterTheWalk", kCanceled, "R2 S P0 B0 B1 B2 F3 S", 3, {}, [](Session& run) {
       From("F3", {.ignoreStatusRequests = true})(run);
       CancelAfter("F3", 1'500'000)(run);
     }},
};
// clang-format on

// The fast mode starts waiting for the prepare-area answer when the command has reached the
// module, not two ticks later, and gives up after exactly 8.8 s and two ticks on an empty ring,
// 9.00288 s after the send began: the answer (erase time and 2.88 ms of wire) must come before that
// instant; at it, it is too late. Later than the normal mode's last poll, at 8.9 s.
std::vector<RunCase> FastResults() {
  std::vector<RunCase> cases = kResults;
  for (RunCase& c : cases) {
    if (c.name == "PrepareAnswerWithin88Ticks") c.options.timing.eraseMicros = 8'997'000;
    if (c.name == "PrepareAnswerLate") c.options.timing.eraseMicros = 8'997'120;
  }
  return cases;
}

auto CaseName = [](const testing::TestParamInfo<RunCase>& p) { return p.param.name; };
INSTANTIATE_TEST_SUITE_P(Results, UpdateRun, testing::ValuesIn(kResults), CaseName);
INSTANTIATE_TEST_SUITE_P(Cancel, UpdateRun, testing::ValuesIn(kCancels), CaseName);
INSTANTIATE_TEST_SUITE_P(Results, FastUpdateRun, testing::ValuesIn(FastResults()), CaseName);
INSTANTIATE_TEST_SUITE_P(Cancel, FastUpdateRun, testing::ValuesIn(kCancels), CaseName);

// Block numbers travel as 14 bits: after block 16383 the host sends 0 again, and the module must
// take it as the next block. 20000 blocks of 2 bytes, over an unlimited link.
TEST(LongUpdate, BlockNumbersWrapAfter16384Blocks) {
  test::SimRig rig({.identity = {.blockSize = 2}, .link = {.baud = 0}});
  test::ModuleWatch watch(rig);
  const std::vector<uint8_t> data = test::ImageData(40000, 5);
  const std::vector<uint8_t> file =
      ImageWriter::Version1(0x0021, 0x0A).Image(2, 0, data).End().Bytes();
  DeviceInfo device;
  ASSERT_EQ(RunUpdate(file.data(), static_cast<uint32_t>(file.size()), device), kOk);
  EXPECT_EQ(rig.module.ProgrammedImages(), Images{data});
  EXPECT_EQ(watch.TimesOf("B0").size(), 2u);
  EXPECT_EQ(watch.TimesOf("F3616").size(), 1u);  // 20000 - 16384
}

// The same in the fast mode, where each block is answered the moment the module has programmed it:
// 5 ms from one data block to the next, on an unlimited link.
TEST(LongUpdate, BlockNumbersWrapInTheFastModeAndNoBlockWaitsForATick) {
  fastMode = true;
  test::SimRig rig({.identity = {.blockSize = 2}, .link = {.baud = 0}});
  test::ModuleWatch watch(rig);
  const std::vector<uint8_t> data = test::ImageData(40000, 5);
  const std::vector<uint8_t> file =
      ImageWriter::Version1(0x0021, 0x0A).Image(2, 0, data).End().Bytes();
  DeviceInfo device;
  ASSERT_EQ(RunUpdate(file.data(), static_cast<uint32_t>(file.size()), device), kOk);
  EXPECT_EQ(rig.module.ProgrammedImages(), Images{data});
  EXPECT_EQ(watch.TimesOf("B0").size(), 2u);
  EXPECT_EQ(watch.TimesOf("F3616").size(), 1u);
  std::vector<uint64_t> blocks;
  for (const test::SeenCommand& seen : watch.Seen()) {
    if (seen.event.command == 0x15 && seen.event.blockLength != 0) blocks.push_back(seen.at);
  }
  ASSERT_EQ(blocks.size(), 20000u);
  size_t apart = 0;
  for (size_t i = 1; i < blocks.size(); ++i) apart += blocks[i] - blocks[i - 1] == 5'000;
  EXPECT_EQ(apart, blocks.size() - 1);
}

// A whole update of every record kind, traced, in each mode: the same lines in the same order (the
// messages sent and received, the banners) and the same progress shown.
TEST(BothModes, TraceTheSameMessagesAndShowTheSameProgressForAWholeUpdate) {
  std::string traces[2];
  Log shown[2];
  for (bool fast : {false, true}) {
    ResetProcessState();
    SetTraceFilePath((test::ScratchDirectory() / (fast ? "fast.trace" : "normal.trace")).string());
    fastMode = fast;
    test::RecordingProgress progress;
    test::SimRig rig;
    rig.module.SetVersionAfterUpdate(2, 1);
    EnableTrace();
    const std::vector<uint8_t> file = MultiRecordFile(ImageWriter::Version1(0x0021, 0x0A));
    DeviceInfo device;
    ASSERT_EQ(RunUpdate(file.data(), static_cast<uint32_t>(file.size()), device), kOk);
    // The fast run returns before the answer to its final reset comes; let it come.
    rig.time.RunUntil(rig.Now() + 1'000'000);
    traces[fast] = test::ReadFileText(TraceFilePath());
    shown[fast] = progress.Log();
  }
  EXPECT_NE(traces[0].find("TX: f0 00 00 21 0a 7f 15 00 03"), std::string::npos);
  EXPECT_EQ(traces[1], traces[0]);
  EXPECT_EQ(shown[1], shown[0]);
}

TEST(SmallUpdate, ShowsAndTracesEveryStepInOrder) {
  test::RecordingProgress progress;
  test::SimRig rig({.identity = {.blockSize = 2}});
  EnableTrace();
  SetDeviceAddress(0x0102, 0x03);  // left from an earlier module: the run must address any module
  const std::vector<uint8_t> data = {1, 2, 3};
  const std::vector<uint8_t> file =
      ImageWriter::Version1(0x0021, 0x0A).Delay(2).Image(2, 0, data).End().Bytes();
  DeviceInfo device;
  ASSERT_EQ(RunUpdate(file.data(), static_cast<uint32_t>(file.size()), device), kOk);

  // Blocks of 2 and 1 bytes: the bar counts 3 / 2 + 1 blocks.
  // clang-format off
  EXPECT_EQ(progress.Log(), (Log{
      "open", "set Connecting... 0", "set Connecting... 0", "close",
      "open", "set Delaying... 0", "set Delaying... 0", "set Delaying... 50",
      "set Delaying... 100", "set Preparing firmware area... 0",
      "set Updating firmware area... 0", "set Updating firmware area... 50", "close",
      "open", "set Reading updated version #... 0", "set Reading updated version #... 10",
      "close"}));
  // A block's sum adds its number, length and data bytes.
  const std::string status =
      "12 00 01 02 00 02 00 21 0a 00 00 00 00 4b 58 04 12 00 01 51 58 2d 34 31 32 f7 ";
  const std::string rx = "RX: f0 00 00 21 0a 7f ";
  const std::string tx = "TX: f0 00 00 21 0a 7f ";
  const Log lines = {
      "--- Resetting QX-412 ---", "TX: f0 00 7f 7f 7f 7f 10 02 f7 ", rx + "10 f7 ",
      "--- QX-412 get status request ---", "TX: f0 00 7f 7f 7f 7f 11 f7 ", rx + status,
      "--- Transmitting image ---",
      "--- Prepare area ---", tx + "13 00 f7 ", rx + "14 00 f7 ",
      "--- Program block ---", tx + "15 00 00 00 02 01 02 00 05 f7 ", rx + "16 00 f7 ",
      "--- Program block ---", tx + "15 00 01 00 01 03 00 05 f7 ", rx + "16 00 f7 ",
      "--- Program final block ---", tx + "15 00 02 00 00 00 02 f7 ", rx + "16 00 f7 ",
      "--- QX-412 get status request ---", tx + "11 f7 ", rx + status,
      "--- Resetting QX-412 ---", tx + "10 00 f7 ", rx + "10 f7 "};
  // clang-format on
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  EXPECT_EQ(test::ReadFileText(TraceFilePath()), text);
}

}  // namespace
}  // namespace kfw
