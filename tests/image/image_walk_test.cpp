// The record walk that the image check and `inspect` share: the records it finds, in play order,
// where it stops on a bad file, and an inspection whose result is always the check's.
#include "image/image_walk.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "image/crc16.h"
#include "image/image_file.h"
#include "image/image_inspect.h"
#include "image/image_writer.h"
#include "tests/support/doubles.h"

namespace kfw {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes WithCrc(Bytes file) {
  FixImageCrc(file);
  return file;
}

// An inspection with the records its sink was told, in the order told.
struct Inspected : ImageInspection {
  std::vector<ImageRecord> records;
};

// Keeps what it is told; stops the walk after `stopAfter` records.
class KeepingSink final : public InspectionSink {
 public:
  explicit KeepingSink(uint32_t stopAfter = UINT32_MAX) : stopAfter_(stopAfter) {}
  void HeaderRead(const ImageInspection& inspection) override {
    EXPECT_EQ(headers++, 0) << "the header is told once";
    EXPECT_TRUE(records.empty()) << "the header is told first";
    EXPECT_EQ(inspection.recordCount, 0u);
  }
  bool RecordWalked(uint32_t number, const ImageRecord& record) override {
    EXPECT_EQ(headers, 1) << "a record before the header";
    records.push_back(record);
    EXPECT_EQ(number, records.size()) << "records are numbered from 1, in order";
    return records.size() < stopAfter_;
  }

  int headers = 0;
  std::vector<ImageRecord> records;

 private:
  uint32_t stopAfter_;
};

// Each file inspected from a heap block of exactly its size, as the check's tests do.
Inspected Inspect(const Bytes& file, uint32_t stopAfter = UINT32_MAX) {
  const Bytes exact(file);
  KeepingSink sink(stopAfter);
  Inspected inspected;
  static_cast<ImageInspection&>(inspected) =
      InspectImage(exact.data(), static_cast<uint32_t>(exact.size()), sink);
  inspected.records = sink.records;
  EXPECT_EQ(inspected.recordCount, sink.records.size());
  EXPECT_EQ(sink.headers, 1);
  return inspected;
}

// A record as a line: "offset type argument" plus, for an image, "major.minor length@data".
std::string Describe(const ImageRecord& record) {
  std::string text = std::to_string(record.offset) + " " + std::to_string(record.type);
  if (record.type == kRecordDelay || record.type == kRecordReset) {
    text += " " + std::to_string(record.argument);
  }
  if (record.type == kRecordImage) {
    text += " " + std::to_string(record.versionMajor) + "." + std::to_string(record.versionMinor) +
            " " + std::to_string(record.dataLength) + "@" + std::to_string(record.dataOffset);
  }
  return text;
}

struct WalkCase {
  const char* name;
  Bytes file;
  std::vector<std::string> records;  // as Describe writes them
  ImageFault fault;                  // the first the check meets
  uint32_t faultRecordOffset;        // for a fault of the record walk
  uint32_t faultOffset;
};

TEST(RecordWalk, FindsEachRecordInPlayOrderAndWhereABadFileGoesWrong) {
  const Bytes data = {0x10, 0x20, 0x30};
  const std::vector<WalkCase> cases = {
      {"every record of a version-0 file",
       ImageWriter::Version0().Delay(20).NoOp().Reset(3).Image(1, 2, data).End().Bytes(),
       {"3 2 20", "5 1", "6 3 3", "8 0 1.2 3@13", "16 255"},
       ImageFault::kNone,
       0,
       0},
      {"a version-1 file, bytes after its end",
       ImageWriter::Version1(0x7F7F, 0x7F)
           .Image(0x7F, 0, data)
           .End()
           .Raw(Bytes{0xF0, 0x05})
           .Bytes(),
       {"6 0 127.0 3@11", "14 255"},
       ImageFault::kNone,
       0,
       0},
      {"an empty image, then the end",
       WithCrc({0x00, 0, 0, 0x00, 0, 0, 1, 2, 0xFF}),
       {"3 0 1.2 0@8", "8 255"},
       ImageFault::kNone,
       0,
       0},
      // Faults of the records: the record at fault and the byte that breaks it.
      {"a type that is none",
       WithCrc({0x00, 0, 0, 0x01, 0x05, 0xFF, 0x00}),
       {"3 1"},
       ImageFault::kUnknownRecordType,
       4,
       4},
      {"reset 4",
       WithCrc({0x00, 0, 0, 0x02, 0x01, 0x03, 0x04, 0xFF, 0x00}),
       {"3 2 1"},
       ImageFault::kResetArgument,
       5,
       6},
      {"8-bit data in the second image",
       WithCrc({0x00, 0, 0, 0x00, 1, 0, 1, 2, 0x10, 0x00, 3, 0, 1, 3, 0x01, 0x02, 0xC3, 0xFF}),
       {"3 0 1.2 1@8"},
       ImageFault::kDataNotSysEx,
       9,
       16},
      {"a delay without its ticks",
       WithCrc({0x00, 0, 0, 0x01, 0x02}),
       {"3 1"},
       ImageFault::kRecordCut,
       4,
       5},
      {"an image header cut short",
       WithCrc({0x00, 0, 0, 0x00, 2, 0, 1}),
       {},
       ImageFault::kRecordCut,
       3,
       7},
      {"image data cut short",
       WithCrc({0x00, 0, 0, 0x00, 3, 0, 1, 2, 0x10, 0x11}),
       {},
       ImageFault::kRecordCut,
       3,
       10},
      {"a no-op last",
       WithCrc({0x00, 0, 0, 0x02, 0x01, 0x01}),
       {"3 2 1", "5 1"},
       ImageFault::kNoEndRecord,
       6,
       6},
      {"records without an end",
       WithCrc({0x00, 0, 0, 0x02, 0x01, 0x03, 0x00}),
       {"3 2 1", "5 3 0"},
       ImageFault::kNoEndRecord,
       7,
       7},
      {"a version-1 file of 6 bytes",
       WithCrc({0x01, 0, 0, 0x7F, 0x7F, 0x7F}),
       {},
       ImageFault::kNoEndRecord,
       6,
       6},
      {"no image, the end last",
       WithCrc({0x00, 0, 0, 0x02, 0x05, 0xFF}),
       {"3 2 5", "5 255"},
       ImageFault::kNothingAfterEnd,
       5,
       5},
      // Faults of the header: no record is walked.
      {"three bytes", {0x00, 0x00, 0x00}, {}, ImageFault::kTooShort, 0, 0},
      {"version 2", {0x02, 0x00, 0x00, 0xFF}, {}, ImageFault::kUnknownVersion, 0, 0},
      {"version 1 of 5 bytes",
       WithCrc({0x01, 0, 0, 0x7F, 0x7F}),
       {},
       ImageFault::kNoRoomForIdentifiers,
       0,
       0},
      // A wrong CRC comes first, but the records are walked all the same, up to their own fault.
      {"CRC wrong, records good",
       {0x00, 0x00, 0x00, 0x02, 0x07, 0xFF, 0x00},
       {"3 2 7", "5 255"},
       ImageFault::kCrcMismatch,
       0,
       0},
      {"CRC wrong, reset 9",
       {0x00, 0x00, 0x00, 0x03, 0x09, 0xFF, 0x00},
       {},
       ImageFault::kCrcMismatch,
       3,
       4},
      // Identity last: a version-1 file for another module than "any".
      {"another product",
       ImageWriter::Version1(0x0021, 0x0A).End().Raw(Bytes{0}).Bytes(),
       {"6 255"},
       ImageFault::kProductMismatch,
       0,
       0},
      {"structure before identity",
       WithCrc({0x01, 0, 0, 0x00, 0x21, 0x0B, 0x03, 0x04, 0xFF, 0x00}),
       {},
       ImageFault::kResetArgument,
       6,
       7},
      {"another company",
       ImageWriter::Version1(0x0021, 0x7F).End().Raw(Bytes{0}).Bytes(),
       {"6 255"},
       ImageFault::kCompanyMismatch,
       0,
       0},
  };
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Inspected inspection = Inspect(c.file);
    std::vector<std::string> records;
    for (const ImageRecord& record : inspection.records) records.push_back(Describe(record));
    EXPECT_EQ(records, c.records);
    EXPECT_EQ(inspection.fault, c.fault);
    EXPECT_EQ(inspection.result, FaultResult(c.fault));
    EXPECT_EQ(inspection.result,
              ValidateImage(c.file.data(), static_cast<uint32_t>(c.file.size())));
    if (inspection.recordFault != ImageFault::kNone) {
      EXPECT_EQ(inspection.faultRecordOffset, c.faultRecordOffset);
      EXPECT_EQ(inspection.faultOffset, c.faultOffset);
    }
  }
}

TEST(RecordWalk, TheFaultOfTheRecordsIsKeptBehindAWrongCrc) {
  const ImageInspection inspection = Inspect({0x00, 0x00, 0x00, 0x03, 0x09, 0xFF, 0x00});
  EXPECT_EQ(inspection.headerFault, ImageFault::kCrcMismatch);
  EXPECT_EQ(inspection.header.storedCrc, 0x0000);
  const uint8_t covered[] = {0x03, 0x09, 0xFF, 0x00};
  EXPECT_EQ(inspection.header.computedCrc, Crc16(covered, sizeof covered));
  EXPECT_EQ(inspection.recordFault, ImageFault::kResetArgument);
  EXPECT_EQ(inspection.faultByte, 0x09);
  EXPECT_EQ(inspection.result, kImageCrcError);
}

TEST(RecordWalk, CountsWhatFollowsTheEndRecordWheneverTheWalkReachedIt) {
  const std::tuple<Bytes, bool, uint32_t, ResultCode> cases[] = {
      {ImageWriter::Version0().Image(1, 0, Bytes{1}).End().Bytes(), true, 0, kOk},
      {ImageWriter::Version0().End().Raw(Bytes{0x00}).Bytes(), true, 1, kOk},
      {ImageWriter::Version1(0x7F7F, 0x7F).End().Raw(Bytes{0x05, 0xFF, 0x80}).Bytes(), true, 3,
       kOk},
      // Reached, and then the fault of what is not after it.
      {WithCrc({0x00, 0, 0, 0x02, 0x05, 0xFF}), true, 0, kImageCorrupt},
      // Reached behind a wrong CRC; not reached behind a fault of the records.
      {{0x00, 0x00, 0x00, 0x02, 0x07, 0xFF, 0x00, 0x00}, true, 2, kImageCrcError},
      {WithCrc({0x00, 0, 0, 0x03, 0x04, 0xFF, 0x00}), false, 0, kImageCorrupt},
      {WithCrc({0x00, 0, 0, 0x01}), false, 0, kImageCorrupt},
  };
  for (const auto& [file, reached, after, result] : cases) {
    SCOPED_TRACE(testing::PrintToString(file));
    const ImageInspection inspection = Inspect(file);
    EXPECT_EQ(inspection.result, result);
    EXPECT_EQ(inspection.endReached, reached);
    EXPECT_EQ(inspection.bytesAfterEnd, after);
  }
}

// The sink may stop the walk (at a Ctrl-C): the records told so far are all there is, nothing
// after them is judged, and the result says the inspection was cut short.
TEST(RecordWalk, ASinkThatStopsTheWalkEndsItThere) {
  const Bytes file = ImageWriter::Version0().NoOp().NoOp().Delay(3).End().Raw(Bytes{0}).Bytes();
  for (uint32_t stopAfter = 1; stopAfter <= 4; ++stopAfter) {
    SCOPED_TRACE(stopAfter);
    const Inspected inspection = Inspect(file, stopAfter);
    EXPECT_TRUE(inspection.stopped);
    EXPECT_EQ(inspection.result, kCanceled);
    EXPECT_EQ(inspection.records.size(), stopAfter);
    EXPECT_EQ(inspection.recordFault, ImageFault::kNone);
    EXPECT_EQ(inspection.endReached, stopAfter == 4);
  }
  EXPECT_FALSE(Inspect(file, 5).stopped);
}

// Every cut of a good file, and every single byte changed in it (CRC made right), is judged by
// the inspection exactly as by the check, which stays the judge of record.
TEST(RecordWalk, TheInspectionAlwaysGivesTheChecksResult) {
  const Bytes whole = ImageWriter::Version1(0x7F7F, 0x7F)
                          .NoOp()
                          .Delay(9)
                          .Reset(2)
                          .Image(1, 2, Bytes{0x10, 0x20, 0x7F})
                          .End()
                          .Raw(Bytes{0x00})
                          .Bytes();
  for (size_t length = 0; length <= whole.size(); ++length) {
    const Bytes cut = WithCrc(Bytes(whole.begin(), whole.begin() + static_cast<long>(length)));
    EXPECT_EQ(Inspect(cut).result, ValidateImage(cut.data(), static_cast<uint32_t>(cut.size())))
        << "first " << length << " bytes";
  }
  for (size_t at = 0; at < whole.size(); ++at) {
    for (const uint8_t value : {0x00, 0x01, 0x04, 0x7F, 0x80, 0xFF}) {
      Bytes changed = whole;
      changed[at] = value;
      if (at >= 3) FixImageCrc(changed);
      EXPECT_EQ(Inspect(changed).result,
                ValidateImage(changed.data(), static_cast<uint32_t>(changed.size())))
          << "byte " << at << " = " << int(value);
    }
  }
}

}  // namespace
}  // namespace kfw
