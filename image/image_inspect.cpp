#include "image/image_inspect.h"

#include <initializer_list>

namespace kfw {

bool HeaderReadable(ImageFault headerFault) {
  return headerFault == ImageFault::kNone || headerFault == ImageFault::kCrcMismatch;
}

ImageInspection InspectImage(const uint8_t* bytes, uint32_t length, InspectionSink& sink) {
  ImageInspection inspection;
  inspection.headerFault = ReadImageHeader(bytes, length, inspection.header);
  sink.HeaderRead(inspection);
  if (HeaderReadable(inspection.headerFault)) {
    RecordWalker walker(bytes, length, inspection.header.recordStreamOffset);
    ImageRecord record;
    while (walker.Next(record)) {
      if (!sink.RecordWalked(walker.RecordCount(), record)) {
        inspection.stopped = true;
        break;
      }
    }
    inspection.recordCount = walker.RecordCount();
    inspection.endReached = walker.EndReached();
    inspection.bytesAfterEnd = walker.BytesAfterEnd();
    inspection.recordFault = walker.Fault();
    inspection.faultRecordOffset = walker.FaultRecordOffset();
    inspection.faultOffset = walker.FaultOffset();
    if (inspection.recordFault != ImageFault::kNone) {
      if (inspection.faultRecordOffset < length) {
        inspection.faultType = bytes[inspection.faultRecordOffset];
      }
      if (inspection.faultOffset < length) inspection.faultByte = bytes[inspection.faultOffset];
    }
    if (!inspection.stopped) inspection.identityFault = CheckReceivedIdentity(inspection.header);
  }
  if (inspection.stopped) {
    inspection.result = kCanceled;
    return inspection;
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
