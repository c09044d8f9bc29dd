#include "image/image_inspect.h"

namespace kfw {

ImageInspection InspectImage(const uint8_t* bytes, uint32_t length) {
  ImageInspection inspection;
  inspection.headerFault = ReadImageHeader(bytes, length, inspection.header);
  const bool headerRead = inspection.headerFault == ImageFault::kNone ||
                          inspection.headerFault == ImageFault::kCrcMismatch;
  if (headerRead) {
    RecordWalker walker(bytes, length, inspection.header.recordStreamOffset);
    ImageRecord record;
    while (walker.Next(record)) inspection.records.push_back(record);
    inspection.recordFault = walker.Fault();
    inspection.faultRecordOffset = walker.FaultRecordOffset();
    inspection.faultOffset = walker.FaultOffset();
    inspection.bytesAfterEnd = walker.BytesAfterEnd();
    if (inspection.faultRecordOffset < length) {
      inspection.faultType = bytes[inspection.faultRecordOffset];
    }
    if (inspection.faultOffset < length) inspection.faultByte = bytes[inspection.faultOffset];
    inspection.identityFault = CheckReceivedIdentity(inspection.header);
  }
  for (const ImageFault fault :
       {inspection.headerFault, inspection.recordFault, inspection.identityFault}) {
    if (fault != ImageFault::kNone) {
      inspection.fault = fault;
      break;
    }
  }
  inspection.result = FaultResult(inspection.fault);
  return inspection;
}

}  // namespace kfw
