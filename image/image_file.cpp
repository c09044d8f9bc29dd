#include "image/image_file.h"

#include "image/crc16.h"

namespace kfw {

std::atomic<uint16_t> receivedCompanyId{kAnyCompanyId};
std::atomic<uint8_t> receivedProductId{kAnyProductId};

uint32_t RecordStreamOffset(uint8_t formatVersion) { return formatVersion == 1 ? 6 : 3; }

ResultCode ValidateImage(const uint8_t* bytes, uint32_t length) {
  if (length < 4) return kImageCorrupt;
  const uint8_t version = bytes[0];
  if (version > 1) return kUnknownImageVersion;
  const uint16_t fileCrc = static_cast<uint16_t>(bytes[1] | (bytes[2] << 8));

  uint16_t fileCompanyId = kAnyCompanyId;
  uint8_t fileProductId = kAnyProductId;
  if (version == 1) {
    // A version-1 file of 4 or 5 bytes cannot even hold its identifiers.
    if (length < 6) return kImageCorrupt;
    fileCompanyId = static_cast<uint16_t>((bytes[3] << 8) | bytes[4]);
    fileProductId = bytes[5];
  }
  uint32_t pos = RecordStreamOffset(version);

  if (Crc16(bytes + 3, length - 3) != fileCrc) return kImageCrcError;

  uint32_t imageRecords = 0;
  bool ended = false;
  while (pos < length) {
    const uint8_t type = bytes[pos++];
    if (type == kRecordEnd) {
      ended = true;
      break;
    }
    if (type > kRecordReset) return kImageCorrupt;
    // Every record but the end record is followed by at least one byte, even the no-op: a file
    // must not end on anything but an end record.
    if (pos >= length) return kImageCorrupt;
    switch (type) {
      case kRecordReset:
        if (bytes[pos] >= 4) return kImageCorrupt;
        ++pos;
        break;
      case kRecordDelay:
        ++pos;
        break;
      case kRecordNoOp:
        break;
      case kRecordImage: {
        if (length - pos < 4) return kImageCorrupt;
        const uint32_t dataLength = static_cast<uint32_t>(bytes[pos] | (bytes[pos + 1] << 8));
        pos += 4;
        if (length - pos < dataLength) return kImageCorrupt;
        // Image data travel as SysEx data bytes: one with its top bit set would end the program
        // block early, after the module's firmware area had been erased for it.
        for (uint32_t end = pos + dataLength; pos < end; ++pos) {
          if (bytes[pos] > 0x7F) return kImageCorrupt;
        }
        ++imageRecords;
        break;
      }
    }
  }
  if (!ended) return kImageCorrupt;
  // A file without an image record must carry something after its end record.
  if (pos == length && imageRecords == 0) return kImageCorrupt;

  if (receivedProductId.load(std::memory_order_relaxed) != fileProductId) return kProductMismatch;
  if (receivedCompanyId.load(std::memory_order_relaxed) != fileCompanyId) return kCompanyMismatch;
  return kOk;
}

namespace internal {
void ResetReceivedIdentifiers() {
  receivedCompanyId.store(kAnyCompanyId, std::memory_order_relaxed);
  receivedProductId.store(kAnyProductId, std::memory_order_relaxed);
}
}  // namespace internal

}  // namespace kfw
