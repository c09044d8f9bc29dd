// What an image file holds, gathered for people and tools to look at before the file is shipped:
// its header, its records in play order and, for a bad file, where it goes wrong. Built on the
// same walk as ValidateImage, so its result is always the check's.
#pragma once

#include <cstdint>
#include <vector>

#include "base/result.h"
#include "image/image_walk.h"

namespace kfw {

struct ImageInspection {
  ImageHeader header;
  // The header's fault. After kCrcMismatch the records are still walked and listed: what a
  // corrupted file holds is what its maker wants to see.
  ImageFault headerFault = ImageFault::kNone;
  // The records walked, in the order an update plays them; the end record last when there is one.
  std::vector<ImageRecord> records;
  // Where the walk stopped on a fault (see RecordWalker).
  ImageFault recordFault = ImageFault::kNone;
  uint32_t faultRecordOffset = 0;
  uint32_t faultOffset = 0;
  uint8_t faultType = 0;  // the type byte of the record at fault
  uint8_t faultByte = 0;  // the byte at faultOffset, when that lies within the file
  uint32_t bytesAfterEnd = 0;
  // The file's identifiers against the last ones received; checked whenever the header was read.
  ImageFault identityFault = ImageFault::kNone;
  // The first fault in the check's order and its result, which ValidateImage also gives.
  ImageFault fault = ImageFault::kNone;
  ResultCode result = kOk;
};

// Looks at a whole file in memory, reading nothing outside bytes[0, length).
ImageInspection InspectImage(const uint8_t* bytes, uint32_t length);

}  // namespace kfw
