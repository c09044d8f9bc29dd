// The image file: its CRC-16/ARC, the validator's tests in their order, its bounds (every read
// stays inside the file: each case runs on a heap block of exactly the file's size, so the address
// sanitizer catches a read one byte past the end), the identifier comparisons, and the writer.
#include "image/image_file.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "image/crc16.h"
#include "image/image_writer.h"
#include "tests/support/doubles.h"

namespace kfw {
namespace {

using Bytes = std::vector<uint8_t>;

// Validates a copy held in a block of exactly the file's size.
// A test name from a case's description: its letters and digits in CamelCase.
template <typename Case>
std::string CaseName(const testing::TestParamInfo<Case>& info) {
  std::string name;
  bool upper = true;
  for (const char* c = info.param.name; *c; ++c) {
    if (std::isalnum(static_cast<unsigned char>(*c))) {
      name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(*c))) : *c;
      upper = false;
    } else {
      upper = true;
    }
  }
  return name;
}

ResultCode Validate(const Bytes& file) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[file.size() ? file.size() : 1]);
  if (!file.empty()) std::memcpy(exact.get(), file.data(), file.size());
  return ValidateImage(exact.get(), static_cast<uint32_t>(file.size()));
}

Bytes WithCrc(Bytes file) {
  FixImageCrc(file);
  return file;
}

uint16_t Crc(const std::string& text) {
  return Crc16(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(Crc16, MatchesTheCheckValuesAndTheStandardTable) {
  EXPECT_EQ(Crc("123456789"), 0xBB3D);
  EXPECT_EQ(Crc("abc"), 0x9738);
  EXPECT_EQ(Crc(""), 0x0000);
  EXPECT_EQ(Crc16Table[0], 0x0000);
  EXPECT_EQ(Crc16Table[1], 0xC0C1);
  EXPECT_EQ(Crc16Table[128], 0xA001);
  EXPECT_EQ(Crc16Table[255], 0x4040);
  const uint8_t ff = 0xFF;
  EXPECT_EQ(Crc16(&ff, 1), 0x4040);
  const uint8_t ff00[] = {0xFF, 0x00};
  EXPECT_EQ(Crc16(ff00, 2), 0xF041);
}

TEST(Crc16, ContinuesOverPiecesAsOverTheWhole) {
  const std::string text = "123456789";
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  for (size_t split = 0; split <= text.size(); ++split) {
    EXPECT_EQ(Crc16Update(Crc16(bytes, split), bytes + split, text.size() - split), 0xBB3D)
        << split;
  }
}

struct ValidationCase {
  const char* name;
  Bytes file;
  ResultCode expected;
};

void PrintTo(const ValidationCase& c, std::ostream* out) {
  *out << c.name;
}

class ValidateImageTable : public testing::TestWithParam<ValidationCase> {};

TEST_P(ValidateImageTable, GivesTheFirstFailureInOrder) {
  EXPECT_EQ(Validate(GetParam().file), GetParam().expected);
}

const ValidationCase kValidationCases[] = {
    // Length, then version, then CRC.
    {"empty", {}, kImageCorrupt},
    {"three bytes", {0x00, 0x00, 0x00}, kImageCorrupt},
    {"three bytes of version 2", {0x02, 0x00, 0x00}, kImageCorrupt},
    {"version 2 whatever its CRC", {0x02, 0x00, 0x00, 0xFF}, kUnknownImageVersion},
    {"version 255", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, kUnknownImageVersion},
    {"version 2 with a right CRC", WithCrc({0x02, 0, 0, 0x00, 0x00, 0x00, 0x00, 0xFF}),
     kUnknownImageVersion},
    {"wrong CRC beats a broken stream", {0x00, 0x00, 0x00, 0x09, 0x09}, kImageCrcError},
    {"CRC bytes swapped", {0x00, 0xF0, 0x41, 0xFF, 0x00}, kImageCrcError},
    // The examples.
    {"end record alone", {0x00, 0x40, 0x40, 0xFF}, kImageCorrupt},
    {"end record and one byte", {0x00, 0x41, 0xF0, 0xFF, 0x00}, kOk},
    {"image of length 0 then end", {0x00, 0x10, 0xE0, 0x00, 0x00, 0x00, 0x01, 0x02, 0xFF}, kOk},
    {"version 1 any module", {0x01, 0x7C, 0x36, 0x7F, 0x7F, 0x7F, 0xFF, 0x00}, kOk},
    {"version 1 identifiers under the CRC",
     {0x01, 0x7C, 0x36, 0x7F, 0x7F, 0x7E, 0xFF, 0x00},
     kImageCrcError},
    // Version-1 files too short for their header and an end record.
    {"version 1 of 4 bytes", {0x01, 0x00, 0x00, 0x7F}, kImageCorrupt},
    {"version 1 of 4 bytes, CRC right", WithCrc({0x01, 0, 0, 0x7F}), kImageCorrupt},
    {"version 1 of 5 bytes", {0x01, 0x00, 0x00, 0x7F, 0x7F}, kImageCorrupt},
    {"version 1 of 5 bytes, CRC right", WithCrc({0x01, 0, 0, 0x7F, 0x7F}), kImageCorrupt},
    {"version 1 of 6 bytes", {0x01, 0x00, 0x00, 0x7F, 0x7F, 0x7F}, kImageCrcError},
    {"version 1 of 6 bytes, CRC right", WithCrc({0x01, 0, 0, 0x7F, 0x7F, 0x7F}), kImageCorrupt},
    {"version 1 of 7 bytes: end alone", WithCrc({0x01, 0, 0, 0x7F, 0x7F, 0x7F, 0xFF}),
     kImageCorrupt},
    // Record arguments.
    {"reset 3", WithCrc({0x00, 0, 0, 0x03, 0x03, 0xFF, 0x00}), kOk},
    {"reset 4", WithCrc({0x00, 0, 0, 0x03, 0x04, 0xFF, 0x00}), kImageCorrupt},
    {"reset 255", WithCrc({0x00, 0, 0, 0x03, 0xFF, 0xFF, 0x00}), kImageCorrupt},
    {"delay 255", WithCrc({0x00, 0, 0, 0x02, 0xFF, 0xFF, 0x00}), kOk},
    {"delay 0", WithCrc({0x00, 0, 0, 0x02, 0x00, 0xFF, 0x00}), kOk},
    {"no-op", WithCrc({0x00, 0, 0, 0x01, 0xFF, 0x00}), kOk},
    {"type 4", WithCrc({0x00, 0, 0, 0x04, 0xFF, 0x00}), kImageCorrupt},
    {"type 5 before the end", WithCrc({0x00, 0, 0, 0x01, 0x05, 0xFF, 0x00}), kImageCorrupt},
    {"type 5 after the end", WithCrc({0x00, 0, 0, 0x01, 0xFF, 0x05}), kOk},
    {"type FE", WithCrc({0x00, 0, 0, 0xFE, 0xFF, 0x00}), kImageCorrupt},
    // Records running past the end of the file.
    {"last byte a no-op", WithCrc({0x00, 0, 0, 0x02, 0x01, 0x01}), kImageCorrupt},
    {"last byte a delay type", WithCrc({0x00, 0, 0, 0x01, 0x02}), kImageCorrupt},
    {"last byte a reset type", WithCrc({0x00, 0, 0, 0x01, 0x03}), kImageCorrupt},
    {"last byte an image type", WithCrc({0x00, 0, 0, 0x01, 0x00}), kImageCorrupt},
    {"no end record", WithCrc({0x00, 0, 0, 0x02, 0x05, 0x03, 0x01}), kImageCorrupt},
    {"image header of 1 byte", WithCrc({0x00, 0, 0, 0x00, 0x01}), kImageCorrupt},
    {"image header of 3 bytes", WithCrc({0x00, 0, 0, 0x00, 0x00, 0x00, 0x01}), kImageCorrupt},
    {"image header whole, no data, no end", WithCrc({0x00, 0, 0, 0x00, 0x00, 0x00, 0x01, 0x02}),
     kImageCorrupt},
    {"image data one byte short", WithCrc({0x00, 0, 0, 0x00, 0x03, 0x00, 0x01, 0x02, 0xAA, 0xBB}),
     kImageCorrupt},
    {"image data whole, no end", WithCrc({0x00, 0, 0, 0x00, 0x02, 0x00, 0x01, 0x02, 0xAA, 0xBB}),
     kImageCorrupt},
    {"image length little-endian",
     WithCrc({0x00, 0, 0, 0x00, 0x02, 0x00, 0x01, 0x02, 0xAA, 0xBB, 0xFF}), kOk},
    {"image length read big-endian would fit",
     WithCrc({0x00, 0, 0, 0x00, 0x00, 0x02, 0x01, 0x02, 0xAA, 0xBB, 0xFF}), kImageCorrupt},
    {"image length 65535 in a short file",
     WithCrc({0x00, 0, 0, 0x00, 0xFF, 0xFF, 0x01, 0x02, 0xFF}), kImageCorrupt},
    {"image data may hold FF", WithCrc({0x00, 0, 0, 0x00, 0x01, 0x00, 0x01, 0x02, 0xFF, 0xFF}),
     kOk},
    // The end rule.
    {"image may end on its end record", WithCrc({0x00, 0, 0, 0x00, 0, 0, 1, 2, 0xFF}), kOk},
    {"no image, end last", WithCrc({0x00, 0, 0, 0x02, 0x05, 0x03, 0x01, 0xFF}), kImageCorrupt},
    {"no image, byte after end", WithCrc({0x00, 0, 0, 0x02, 0x05, 0xFF, 0x00}), kOk},
    {"two images", WithCrc({0x00, 0, 0, 0x00, 1, 0, 1, 2, 0x11, 0x00, 0, 0, 1, 3, 0xFF}), kOk},
    {"bytes after the end are covered by the CRC", {0x00, 0x41, 0xF0, 0xFF, 0x01}, kImageCrcError},
};

INSTANTIATE_TEST_SUITE_P(Files, ValidateImageTable, testing::ValuesIn(kValidationCases),
                         CaseName<ValidationCase>);

TEST(ValidateImage, NeverReadsPastTheEndOfATruncatedFile) {
  std::vector<uint8_t> data(40);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 5);
  for (const Bytes& whole :
       {ImageWriter::Version0().NoOp().Delay(9).Reset(2).Image(1, 2, data).End().Bytes(),
        ImageWriter::Version1(0x7F7F, 0x7F).Reset(1).Image(3, 4, data).Delay(1).End().Bytes()}) {
    ASSERT_EQ(Validate(whole), kOk);
    for (size_t length = 0; length < whole.size(); ++length) {
      Bytes cut(whole.begin(), whole.begin() + static_cast<long>(length));
      FixImageCrc(cut);
      EXPECT_EQ(Validate(cut), kImageCorrupt) << "first " << length << " bytes";
    }
  }
}

TEST(ValidateImage, ARecordStreamOfOneByteTypesIsWalkedToTheEnd) {
  Bytes file = {0x00, 0, 0};
  for (int i = 0; i < 5000; ++i) file.push_back(0x01);
  file.push_back(0xFF);
  file.push_back(0x00);
  EXPECT_EQ(Validate(WithCrc(file)), kOk);
  file[file.size() - 2] = 0x01;  // the end record gone: the walk runs off the end
  EXPECT_EQ(Validate(WithCrc(file)), kImageCorrupt);
}

struct IdentityCase {
  const char* name;
  uint16_t receivedCompany;
  uint8_t receivedProduct;
  Bytes file;
  ResultCode expected;
};

void PrintTo(const IdentityCase& c, std::ostream* out) {
  *out << c.name;
}

class ValidateImageIdentity : public testing::TestWithParam<IdentityCase> {};

TEST_P(ValidateImageIdentity, ComparesProductBeforeCompany) {
  const IdentityCase& c = GetParam();
  receivedCompanyId = c.receivedCompany;
  receivedProductId = c.receivedProduct;
  EXPECT_EQ(Validate(c.file), c.expected);
  // The check reads the identifiers and leaves them as they are.
  EXPECT_EQ(receivedCompanyId.load(), c.receivedCompany);
  EXPECT_EQ(receivedProductId.load(), c.receivedProduct);
}

Bytes V1(uint16_t company, uint8_t product) {
  return ImageWriter::Version1(company, product).Image(1, 0, Bytes{1, 2, 3}).End().Bytes();
}

Bytes V0() {
  return ImageWriter::Version0().Image(1, 0, Bytes{1, 2, 3}).End().Bytes();
}

const IdentityCase kIdentityCases[] = {
    {"product and company differ", 0x0012, 0x05, V1(0x0013, 0x06), kProductMismatch},
    {"company differs", 0x0012, 0x05, V1(0x0013, 0x05), kCompanyMismatch},
    {"both match", 0x0012, 0x05, V1(0x0012, 0x05), kOk},
    {"only the low company byte differs", 0x0012, 0x05, V1(0x0011, 0x05), kCompanyMismatch},
    {"only the high company byte differs", 0x0012, 0x05, V1(0x0112, 0x05), kCompanyMismatch},
    {"nobody answered, file for any module", 0x7F7F, 0x7F, V1(0x7F7F, 0x7F), kOk},
    {"nobody answered, file for a product", 0x7F7F, 0x7F, V1(0x7F7F, 0x05), kProductMismatch},
    {"nobody answered, file for a company", 0x7F7F, 0x7F, V1(0x0021, 0x7F), kCompanyMismatch},
    {"nobody answered, version 0", 0x7F7F, 0x7F, V0(), kOk},
    {"a module answered, version 0", 0x0021, 0x0A, V0(), kProductMismatch},
    {"a module of product 7F answered, version 0", 0x0021, 0x7F, V0(), kCompanyMismatch},
    {"structure is checked before identity", 0x0021, 0x0A,
     WithCrc({0x01, 0, 0, 0x00, 0x22, 0x0B, 0xFF}), kImageCorrupt},
    {"CRC is checked before identity",
     0x0021,
     0x0A,
     {0x01, 0, 0, 0x00, 0x22, 0x0B, 0xFF, 0x00},
     kImageCrcError},
};

INSTANTIATE_TEST_SUITE_P(Identifiers, ValidateImageIdentity, testing::ValuesIn(kIdentityCases),
                         CaseName<IdentityCase>);

TEST(ImageWriter, LaysOutTheHeaderAndEveryRecord) {
  const Bytes data = {0xAA, 0xBB, 0xCC};
  const Bytes v1 = ImageWriter::Version1(0x1234, 0x56)
                       .Image(1, 2, data)
                       .Delay(7)
                       .Reset(3)
                       .NoOp()
                       .End()
                       .Raw(Bytes{0x05, 0x06})
                       .Bytes();
  const Bytes records = {0x00, 0x03, 0x00, 0x01, 0x02, 0xAA, 0xBB, 0xCC,
                         0x02, 0x07, 0x03, 0x03, 0x01, 0xFF, 0x05, 0x06};
  Bytes expected = {0x01, 0, 0, 0x12, 0x34, 0x56};
  expected.insert(expected.end(), records.begin(), records.end());
  const uint16_t crc = Crc16(expected.data() + 3, expected.size() - 3);
  expected[1] = static_cast<uint8_t>(crc & 0xFF);
  expected[2] = static_cast<uint8_t>(crc >> 8);
  EXPECT_EQ(v1, expected);

  const Bytes v0 = ImageWriter::Version0().Delay(1).End().Raw(Bytes{0}).Bytes();
  EXPECT_EQ(v0, (Bytes{0x00, 0x11, 0x88, 0x02, 0x01, 0xFF, 0x00}));
}

TEST(ImageWriter, WritesFilesTheValidatorAccepts) {
  Bytes big(65535);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 31);
  receivedCompanyId = 0x0021;
  receivedProductId = 0x0A;
  const Bytes file = ImageWriter::Version1(0x0021, 0x0A).Image(1, 3, big).End().Bytes();
  EXPECT_EQ(file.size(), 6u + 5u + 65535u + 1u);
  EXPECT_EQ(file[7], 0xFF);
  EXPECT_EQ(file[8], 0xFF);
  EXPECT_EQ(Validate(file), kOk);
}

TEST(ImageWriter, RefusesAnImageRecordOver65535Bytes) {
  const Bytes tooBig(65536);
  auto writer = ImageWriter::Version0();
  EXPECT_THROW(writer.Image(1, 0, tooBig), std::length_error);
}

TEST(FixImageCrc, FillsBytesOneAndTwoAndLeavesShortFilesAlone) {
  for (Bytes tiny : {Bytes{}, Bytes{0x01}, Bytes{0x01, 0x02}}) {
    const Bytes before = tiny;
    FixImageCrc(tiny);
    EXPECT_EQ(tiny, before);
  }
  Bytes three = {0x00, 0x12, 0x34};
  FixImageCrc(three);
  EXPECT_EQ(three, (Bytes{0x00, 0x00, 0x00}));  // the CRC of nothing is 0
  Bytes file = {0x00, 0x99, 0x99, 0xFF, 0x00};
  FixImageCrc(file);
  EXPECT_EQ(file, (Bytes{0x00, 0x41, 0xF0, 0xFF, 0x00}));
}

TEST(RecordStreamOffset, IsThreeForVersionZeroAndSixForVersionOne) {
  EXPECT_EQ(RecordStreamOffset(0), 3u);
  EXPECT_EQ(RecordStreamOffset(1), 6u);
}

}  // namespace
}  // namespace kfw
