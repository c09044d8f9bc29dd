#include "image/image_writer.h"

#include <stdexcept>

#include "image/crc16.h"
#include "image/image_file.h"

namespace kfw {

ImageWriter ImageWriter::Version0() { return ImageWriter(0); }

ImageWriter ImageWriter::Version1(uint16_t companyId, uint8_t productId) {
  ImageWriter writer(1);
  writer.companyId_ = companyId;
  writer.productId_ = productId;
  return writer;
}

ImageWriter& ImageWriter::Image(uint8_t versionMajor, uint8_t versionMinor,
                                std::span<const uint8_t> data) {
  if (data.size() > 0xFFFF) throw std::length_error("an image record holds at most 65535 bytes");
  records_.push_back(kRecordImage);
  records_.push_back(static_cast<uint8_t>(data.size() & 0xFF));
  records_.push_back(static_cast<uint8_t>(data.size() >> 8));
  records_.push_back(versionMajor);
  records_.push_back(versionMinor);
  records_.insert(records_.end(), data.begin(), data.end());
  return *this;
}

ImageWriter& ImageWriter::Delay(uint8_t ticks) {
  records_.push_back(kRecordDelay);
  records_.push_back(ticks);
  return *this;
}

ImageWriter& ImageWriter::Reset(uint8_t argument) {
  records_.push_back(kRecordReset);
  records_.push_back(argument);
  return *this;
}

ImageWriter& ImageWriter::NoOp() {
  records_.push_back(kRecordNoOp);
  return *this;
}

ImageWriter& ImageWriter::End() {
  records_.push_back(kRecordEnd);
  return *this;
}

ImageWriter& ImageWriter::Raw(std::span<const uint8_t> bytes) {
  records_.insert(records_.end(), bytes.begin(), bytes.end());
  return *this;
}

std::vector<uint8_t> ImageWriter::Bytes() const {
  std::vector<uint8_t> file{formatVersion_, 0, 0};
  if (formatVersion_ == 1) {
    file.push_back(static_cast<uint8_t>(companyId_ >> 8));
    file.push_back(static_cast<uint8_t>(companyId_ & 0xFF));
    file.push_back(productId_);
  }
  file.insert(file.end(), records_.begin(), records_.end());
  FixImageCrc(file);
  return file;
}

void FixImageCrc(std::vector<uint8_t>& file) {
  if (file.size() < 3) return;
  const uint16_t crc = Crc16(file.data() + 3, file.size() - 3);
  file[1] = static_cast<uint8_t>(crc & 0xFF);
  file[2] = static_cast<uint8_t>(crc >> 8);
}

}  // namespace kfw
