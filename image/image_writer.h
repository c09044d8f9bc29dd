// Builds .kfw files from records, with the CRC filled in. Used by the packer of the command-line
// program, the simulator's demo image and the tests.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kfw {

class ImageWriter {
 public:
  // A version-0 file: no identifiers, meant for any module (0x7F7F / 0x7F).
  static ImageWriter Version0();
  // A version-1 file for one module family.
  static ImageWriter Version1(uint16_t companyId, uint8_t productId);

  // An image record; data may hold at most 65535 bytes (std::length_error otherwise).
  ImageWriter& Image(uint8_t versionMajor, uint8_t versionMinor, std::span<const uint8_t> data);
  ImageWriter& Delay(uint8_t ticks);
  ImageWriter& Reset(uint8_t argument);
  ImageWriter& NoOp();
  ImageWriter& End();
  // Bytes appended as they are: padding after the end record, or a broken record for a test.
  ImageWriter& Raw(std::span<const uint8_t> bytes);

  // The whole file, header and CRC included.
  std::vector<uint8_t> Bytes() const;

 private:
  explicit ImageWriter(uint8_t formatVersion) : formatVersion_(formatVersion) {}

  uint8_t formatVersion_;
  uint16_t companyId_ = 0x7F7F;
  uint8_t productId_ = 0x7F;
  std::vector<uint8_t> records_;
};

// Recomputes bytes 1-2 of a file (or of anything that looks like one) over bytes 3 onward; does
// nothing to a file shorter than 3 bytes. For tools and fuzzers that edit files in place.
void FixImageCrc(std::vector<uint8_t>& file);

}  // namespace kfw
