// The record walk that the image check and `inspect` share: the records it finds, in play order,
// where it stops on a bad file, and an inspection whose result is always the check's.
#include "image/image_walk.h"

#include <gtest/gtest.h>

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

// Each file inspected from a heap block of exactly its size, as the check's tests do.
ImageInspection Inspect(const Bytes& file) {
  const Bytes exact(file);
  return InspectImage(exact.data(), static_cast<uint32_t>(exact.size()));
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
    const ImageInspection inspection = Inspect(c.file);
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

TEST(RecordWalk, CountsWhatFollowsTheEndRecord) {
  const std::tuple<Bytes, uint32_t> cases[] = {
      {ImageWriter::Version0().Image(1, 0, Bytes{1}).End().Bytes(), 0},
      {ImageWriter::Version0().End().Raw(Bytes{0x00}).Bytes(), 1},
      {ImageWriter::Version1(0x7F7F, 0x7F).End().Raw(Bytes{0x05, 0xFF, 0x80}).Bytes(), 3},
  };
  for (const auto& [file, after] : cases) {
    const ImageInspection inspection = Inspect(file);
    EXPECT_EQ(inspection.result, kOk);
    EXPECT_EQ(inspection.bytesAfterEnd, after);
  }
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
