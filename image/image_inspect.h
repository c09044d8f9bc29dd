// What an image file holds, gathered for people and tools to look at before the file is shipped:
// its header, its records in play order and, for a bad file, where it goes wrong. Built on the
// same walk as ValidateImage, so its result is always the check's.
#pragma once

#include <cstdint>

#include "base/result.h"
#include "image/image_walk.h"

namespace kfw {

struct ImageInspection {
  ImageHeader header;
  // The header's fault. After kCrcMismatch the records are still walked: what a corrupted file
  // holds is what its maker wants to see.
  ImageFault headerFault = ImageFault::kNone;
  // The well-formed records walked, the end record included when it was reached. The records
  // themselves go to the InspectionSink as they are walked: a file of 2 GiB can hold hundreds of
  // millions of them.
  uint32_t recordCount = 0;
  // The walk reached the end record (even when a fault of what follows it, kNothingAfterEnd,
  // came after it).
  bool endReached = false;
  uint32_t bytesAfterEnd = 0;
  // Where the walk stopped on a fault (see RecordWalker).
  ImageFault recordFault = ImageFault::kNone;
  uint32_t faultRecordOffset = 0;
  uint32_t faultOffset = 0;
  uint8_t faultType = 0;  // the type byte of the record at fault
  uint8_t faultByte = 0;  // the byte at faultOffset, when that lies within the file
  // The file's identifiers against the last ones received; checked whenever the header was read.
  ImageFault identityFault = ImageFault::kNone;
  // The first fault in the check's order and its result, which ValidateImage also gives.
  ImageFault fault = ImageFault::kNone;
  ResultCode result = kOk;
  // The sink stopped the walk before its end: the faults after that point are not known, and the
  // result is kCanceled.
  bool stopped = false;
};

// Takes what InspectImage finds, in the order it finds it, so that it can be written out at once
// and nothing grows with the number of records.
class InspectionSink {
 public:
  virtual ~InspectionSink() = default;
  // The header has been read: inspection holds `header` and `headerFault`, nothing else yet. Told
  // once, first. The records follow only when the header could be read (no fault, or kCrcMismatch).
  virtual void HeaderRead(const ImageInspection& inspection) = 0;
  // One well-formed record in play order, numbered from 1. False stops the walk here.
  virtual bool RecordWalked(uint32_t number, const ImageRecord& record) = 0;
};

// Looks at a whole file in memory, reading nothing outside bytes[0, length), and tells the sink
// what it finds as it goes. Its memory does not grow with the file.
ImageInspection InspectImage(const uint8_t* bytes, uint32_t length, InspectionSink& sink);

// Whether the header could be read far enough for the records to be walked.
bool HeaderReadable(ImageFault headerFault);

}  // namespace kfw
