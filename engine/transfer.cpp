#include "engine/transfer.h"

#include "engine/progress.h"
#include "image/image_file.h"
#include "base/report.h"
#include "midi/reception.h"
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

}  // namespace

ResultCode TransferImage(const uint8_t*& cursor, uint32_t& remaining, DeviceInfo& device) {
  // Checked before anything is sent: erasing first and then finding that no block can carry data
  // would leave the module without firmware.
  if (device.blockSize == 0) return kResponseUnknown;

  SetProgress(TextTable[kTextPreparingArea], 0);
  FlushReplies();
  Trace("--- Transmitting image ---\n");
  SendPrepareArea(kPrepareAreaArgument);

  uint8_t reply[kPrepareReplyCapacity];
  ResultCode result = AwaitPrepareAnswer(reply);
  if (result != kOk) return result;
  if (reply[1] == 1) return kRegionEraseFailure;
  if (reply[1] != 0) return kResponseUnknown;

  // The record's own header must lie in the file before it can be read.
  if (remaining < 4) return kImageCorrupt;
  const uint32_t dataLength = static_cast<uint32_t>(cursor[0] | (cursor[1] << 8));
  const uint8_t imageVersionMajor = cursor[2];
  const uint8_t imageVersionMinor = cursor[3];
  cursor += 4;

  if (imageVersionMajor == device.versionMajor && imageVersionMinor == device.versionMinor &&
      imageVersionMajor != kExemptVersionMajor && device.state == 0) {
    CloseProgress();
    if (!AskYesNo(TextTable[kTextSameVersionQuestion])) return kCanceled;
    OpenProgress();
  }

  if (remaining < 4 + dataLength) return kImageCorrupt;
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
