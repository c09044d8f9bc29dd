#include "engine/transfer.h"

#include "base/report.h"
#include "engine/progress.h"
#include "image/image_file.h"
#include "midi/reception.h"
#include "midi/transmission.h"
#include "protocol/messages.h"

namespace kfw {

namespace {

// Waits for the prepare-area answer, passing over every other reply (late answers to resets
// among them); each one passed over starts the time-out afresh.
ResultCode AwaitPrepareAnswer(uint8_t (&reply)[kPrepareReplyCapacity]) {
  uint32_t count = 0;
  for (;;) {
    const ResultCode result = ReadReply(reply, kPrepareReplyCapacity, &count, kPrepareReplyTicks);
    if (result != kOk) return result;
    if (reply[0] == kReplyPrepareArea) return kOk;
  }
}

// What can be known to fail before the module's firmware area is erased, and that the walk of the
// file cannot know: erasing and then failing would leave the module without firmware. A module
// whose blocks cannot travel on this link is kResponseUnknown.
ResultCode RefuseBeforeErasing(const ImageRecord& record, const DeviceInfo& device) {
  // No block could carry data, and the number of blocks could not be counted.
  if (device.blockSize == 0) return kResponseUnknown;
  // The longest message this record sends is its first block (the final block, with no data,
  // when it has none); an output that refuses it would end the process in the middle.
  const uint32_t longestBlock =
      record.dataLength < device.blockSize ? record.dataLength : device.blockSize;
  if (longestBlock + kProgramBlockFrameBytes > LargestSendableMessage()) return kResponseUnknown;
  return kOk;
}

}  // namespace

bool firmwareAreaErased = false;

ResultCode TransferImage(const ImageRecord& record, const uint8_t*& cursor, uint32_t& remaining,
                         DeviceInfo& device) {
  ResultCode result = RefuseBeforeErasing(record, device);
  if (result != kOk) return result;

  // Asked before the erase, which is what the question is about: an image the module holds and
  // reports as verified good would be erased for nothing, so a No must find the firmware area as
  // it was. Everything the question needs is known before the module is told anything.
  if (record.versionMajor == device.versionMajor && record.versionMinor == device.versionMinor &&
      record.versionMajor != kExemptVersionMajor && device.state == 0) {
    CloseProgress();
    if (!AskYesNo(TextTable[kTextSameVersionQuestion])) return kCanceled;
    // A Ctrl-C while the terminal waited for the answer: stop before the erase, not after it.
    if (CancelRequested()) return kCanceled;
    OpenProgress();
  }

  // The record's header and data must lie in what is left of the file. The walk has made sure
  // of it for every record it yields; this keeps a record from elsewhere from being read past
  // the file, and is asked before the erase, not after it.
  const uint32_t dataLength = record.dataLength;
  if (remaining < 4 || remaining - 4 < dataLength) return kImageCorrupt;

  SetProgress(TextTable[kTextPreparingArea], 0);
  // Emptied only now, after the question: a reply that came while the user thought is not the
  // prepare-area answer.
  FlushReplies();
  Trace("--- Transmitting image ---\n");
  SendPrepareArea(kPrepareAreaArgument);
  // From here on the module may have erased its firmware, whatever it answers or fails to.
  firmwareAreaErased = true;

  uint8_t reply[kPrepareReplyCapacity];
  result = AwaitPrepareAnswer(reply);
  if (result != kOk) return result;
  if (reply[1] == 1) return kRegionEraseFailure;
  if (reply[1] != 0) return kResponseUnknown;

  cursor += 4;
  const uint32_t numberOfBlocks = dataLength / device.blockSize + 1;
  remaining -= 4;

  uint32_t blockNumber = 0;
  uint32_t left = dataLength;
  result = kOk;
  while (left != 0 && result == kOk) {
    SetProgress(TextTable[kTextUpdatingArea], blockNumber * 100 / numberOfBlocks);
    const uint32_t blockLength = left < device.blockSize ? left : device.blockSize;
    Trace("--- Program block ---\n");
    result = SendProgramBlock(blockNumber, cursor, blockLength);
    if (result == kOk) {
      cursor += blockLength;
      remaining -= blockLength;
      left -= blockLength;
      ++blockNumber;
    }
  }

  if (CancelRequested()) result = kCanceled;
  if (result == kOk) {
    Trace("--- Program final block ---\n");
    result = SendProgramBlock(blockNumber, cursor, 0);
  }
  return result;
}

}  // namespace kfw
