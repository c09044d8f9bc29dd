// The firmware image subsystem: the CRC-16/ARC and the image file check. Every file is checked in
// a heap block of exactly its size, so the address sanitizer catches a read one byte past the end.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "image/crc16.h"
#include "image/image_file.h"
#include "image/image_writer.h"
#include "base/report.h"
#include "base/result.h"
#include "tests/support/doubles.h"

namespace kfw {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

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
      {"length little-endian", WithCrc({0x00, 0, 0, 0x00, 2, 0, 1, 2, 0x2A, 0x3B, 0xFF}), kOk},
      // Image data travel in SysEx, 7 bits a byte; the version bytes and what follows the end
      // record do not travel.
      {"data byte 0x7F", WithCrc({0x00, 0, 0, 0x00, 2, 0, 1, 2, 0x00, 0x7F, 0xFF}), kOk},
      {"first data byte 0x80", WithCrc({0x00, 0, 0, 0x00, 2, 0, 1, 2, 0x80, 0x00, 0xFF}),
       kImageCorrupt},
      {"last data byte 0xFF", WithCrc({0x00, 0, 0, 0x00, 2, 0, 1, 2, 0x00, 0xFF, 0xFF}),
       kImageCorrupt},
      {"8-bit data in a second record",
       WithCrc({0x00, 0, 0, 0x00, 1, 0, 1, 2, 0x10, 0x00, 1, 0, 1, 3, 0xC3, 0xFF}), kImageCorrupt},
      {"8-bit data, CRC wrong", {0x00, 0x00, 0x00, 0x00, 1, 0, 1, 2, 0x80, 0xFF}, kImageCrcError},
      {"version bytes above 0x7F", WithCrc({0x00, 0, 0, 0x00, 1, 0, 0x80, 0xFF, 0x05, 0xFF}), kOk},
      {"8-bit bytes after the end", WithCrc({0x00, 0, 0, 0x00, 0, 0, 1, 2, 0xFF, 0x80, 0xF7}), kOk},
      // The end rule: without an image record, something must follow the end record.
      {"no image, end last", WithCrc({0x00, 0, 0, 0x02, 0x05, 0xFF}), kImageCorrupt},
      {"structure before identity", WithCrc({0x01, 0, 0, 0x00, 0x22, 0x0B, 0xFF}), kImageCorrupt},
      {"8-bit data before identity",
       WithCrc({0x01, 0, 0, 0x00, 0x21, 0x0B, 0x00, 1, 0, 1, 2, 0x90, 0xFF}), kImageCorrupt},
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
