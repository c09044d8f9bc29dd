#include "image/image_walk.h"

#include "image/crc16.h"
#include "image/image_file.h"

namespace kfw {

ResultCode FaultResult(ImageFault fault) {
  switch (fault) {
    case ImageFault::kNone:
      return kOk;
    case ImageFault::kUnknownVersion:
      return kUnknownImageVersion;
    case ImageFault::kCrcMismatch:
      return kImageCrcError;
    case ImageFault::kProductMismatch:
      return kProductMismatch;
    case ImageFault::kCompanyMismatch:
      return kCompanyMismatch;
    case ImageFault::kTooShort:
    case ImageFault::kNoRoomForIdentifiers:
    case ImageFault::kUnknownRecordType:
    case ImageFault::kRecordCut:
    case ImageFault::kResetArgument:
    case ImageFault::kDataNotSysEx:
    case ImageFault::kNoEndRecord:
    case ImageFault::kNothingAfterEnd:
      break;
  }
  return kImageCorrupt;
}

ImageFault ReadImageHeader(const uint8_t* bytes, uint32_t length, ImageHeader& header) {
  header = ImageHeader{};
  header.length = length;
  if (length < 4) return ImageFault::kTooShort;
  header.formatVersion = bytes[0];
  header.storedCrc = static_cast<uint16_t>(bytes[1] | (bytes[2] << 8));
  if (header.formatVersion > 1) return ImageFault::kUnknownVersion;
  if (header.formatVersion == 1) {
    // A version-1 file of 4 or 5 bytes cannot even hold its identifiers.
    if (length < 6) return ImageFault::kNoRoomForIdentifiers;
    header.companyId = static_cast<uint16_t>((bytes[3] << 8) | bytes[4]);
    header.productId = bytes[5];
  }
  header.recordStreamOffset = RecordStreamOffset(header.formatVersion);
  header.computedCrc = Crc16(bytes + 3, length - 3);
  if (header.computedCrc != header.storedCrc) return ImageFault::kCrcMismatch;
  return ImageFault::kNone;
}

ImageFault CheckReceivedIdentity(const ImageHeader& header) {
  if (receivedProductId.load(std::memory_order_relaxed) != header.productId) {
    return ImageFault::kProductMismatch;
  }
  if (receivedCompanyId.load(std::memory_order_relaxed) != header.companyId) {
    return ImageFault::kCompanyMismatch;
  }
  return ImageFault::kNone;
}

bool RecordWalker::Fail(ImageFault fault, uint32_t recordOffset, uint32_t offset) {
  fault_ = fault;
  faultRecordOffset_ = recordOffset;
  faultOffset_ = offset;
  over_ = true;
  return false;
}

bool RecordWalker::Next(ImageRecord& record) {
  if (over_) return false;
  if (ended_) {
    over_ = true;
    // A file without an image record must carry something after its end record.
    if (pos_ == length_ && imageRecords_ == 0) {
      return Fail(ImageFault::kNothingAfterEnd, pos_ - 1, pos_ - 1);
    }
    return false;
  }
  if (pos_ >= length_) return Fail(ImageFault::kNoEndRecord, length_, length_);

  record = ImageRecord{};
  record.offset = pos_;
  record.type = bytes_[pos_++];
  if (record.type == kRecordEnd) {
    ended_ = true;
    ++records_;
    return true;
  }
  if (record.type > kRecordReset) {
    return Fail(ImageFault::kUnknownRecordType, record.offset, record.offset);
  }
  // A no-op that ends the file is whole; the walk then finds no end record after it.
  switch (record.type) {
    case kRecordReset:
      if (pos_ >= length_) return Fail(ImageFault::kRecordCut, record.offset, length_);
      record.argument = bytes_[pos_];
      if (record.argument >= 4) return Fail(ImageFault::kResetArgument, record.offset, pos_);
      ++pos_;
      break;
    case kRecordDelay:
      if (pos_ >= length_) return Fail(ImageFault::kRecordCut, record.offset, length_);
      record.argument = bytes_[pos_++];
      break;
    case kRecordNoOp:
      break;
    case kRecordImage: {
      if (length_ - pos_ < 4) return Fail(ImageFault::kRecordCut, record.offset, length_);
      record.dataLength = static_cast<uint16_t>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
      record.versionMajor = bytes_[pos_ + 2];
      record.versionMinor = bytes_[pos_ + 3];
      pos_ += 4;
      record.dataOffset = pos_;
      if (length_ - pos_ < record.dataLength) {
        return Fail(ImageFault::kRecordCut, record.offset, length_);
      }
      // Image data travel as SysEx data bytes: one with its top bit set would end the program
      // block early, after the module's firmware area had been erased for it.
      for (uint32_t end = pos_ + record.dataLength; pos_ < end; ++pos_) {
        if (bytes_[pos_] > 0x7F) return Fail(ImageFault::kDataNotSysEx, record.offset, pos_);
      }
      ++imageRecords_;
      break;
    }
  }
  ++records_;
  return true;
}

}  // namespace kfw
