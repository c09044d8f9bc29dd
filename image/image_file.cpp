#include "image/image_file.h"

#include "image/image_walk.h"

namespace kfw {

std::atomic<uint16_t> receivedCompanyId{kAnyCompanyId};
std::atomic<uint8_t> receivedProductId{kAnyProductId};

uint32_t RecordStreamOffset(uint8_t formatVersion) { return formatVersion == 1 ? 6 : 3; }

ResultCode ValidateImage(const uint8_t* bytes, uint32_t length) {
  ImageHeader header;
  if (const ImageFault fault = ReadImageHeader(bytes, length, header); fault != ImageFault::kNone) {
    return FaultResult(fault);
  }
  RecordWalker walker(bytes, length, header.recordStreamOffset);
  ImageRecord record;
  while (walker.Next(record)) {
  }
  if (walker.Fault() != ImageFault::kNone) return FaultResult(walker.Fault());
  return FaultResult(CheckReceivedIdentity(header));
}

namespace internal {
void ResetReceivedIdentifiers() {
  receivedCompanyId.store(kAnyCompanyId, std::memory_order_relaxed);
  receivedProductId.store(kAnyProductId, std::memory_order_relaxed);
}
}  // namespace internal

}  // namespace kfw
