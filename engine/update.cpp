#include "engine/update.h"

#include "engine/connect.h"
#include "engine/progress.h"
#include "engine/transfer.h"
#include "image/image_file.h"
#include "image/image_walk.h"
#include "protocol/messages.h"

namespace kfw {

namespace {

// The pause after a reset record, tick by tick: like every other wait it ends at the next tick
// after a Cancel, instead of sleeping out its second. Uncancelled it lasts as long as one sleep of
// the same ticks.
void PauseAfterReset() {
  for (uint32_t i = 0; i != kResetRecordPauseTicks && !CancelRequested(); ++i) WaitTicks(1);
}

}  // namespace

void WaitWithProgress(uint8_t ticks) {
  SetProgress(TextTable[kTextDelaying], 0);
  for (uint8_t i = 0; i != ticks && !CancelRequested(); ++i) {
    SetProgress(TextTable[kTextDelaying], static_cast<uint32_t>(i) * 100 / ticks);
    WaitTicks(1);
  }
  SetProgress(TextTable[kTextDelaying], 100);
}

ResultCode ReadUpdatedVersion(DeviceInfo& device, uint32_t attempts) {
  OpenProgress();
  SetProgress(TextTable[kTextReadingVersion], 0);
  ResultCode result = kResponseTimeout;
  for (uint32_t attempt = 1; attempt <= attempts; ++attempt) {
    SetProgress(TextTable[kTextReadingVersion], attempt * 100 / attempts);
    result = ReadDeviceStatus(device);
    if (result != kResponseTimeout) break;
  }
  CloseProgress();
  return result;
}

ResultCode RunUpdate(const uint8_t* imageBytes, uint32_t length, DeviceInfo& device) {
  firmwareAreaErased = false;
  ResultCode result = Connect(device);
  if (result != kOk) return result;
  result = ValidateImage(imageBytes, length);
  if (result != kOk) return result;

  OpenProgress();
  ClearCancel();

  // The records are played as the walk of the file yields them, in order: the walk is the one
  // reader of the format, and ValidateImage has just walked the same bytes to the end record
  // without a fault.
  RecordWalker walk(imageBytes, length, RecordStreamOffset(imageBytes[0]));
  ImageRecord record;
  while (!CancelRequested() && result == kOk && walk.Next(record) && record.type != kRecordEnd) {
    switch (record.type) {
      case kRecordDelay:
        WaitWithProgress(record.argument);
        break;
      case kRecordReset:
        SendReset(record.argument);
        PauseAfterReset();
        break;
      case kRecordImage: {
        // The type byte is taken: the transfer's cursor starts after it, and the remaining count
        // holds the file's bytes from there.
        const uint8_t* cursor = imageBytes + record.offset + 1;
        uint32_t remaining = length - record.offset - 1;
        result = TransferImage(record, cursor, remaining, device);
        break;
      }
      default:  // no-op
        break;
    }
  }
  CloseProgress();

  if (CancelRequested()) {
    result = kCanceled;
  } else if (result == kOk) {
    result = ReadUpdatedVersion(device, kUpdatedVersionAttempts);
  }
  if (result == kOk) SendReset(kFinalResetArgument);
  return result;
}

}  // namespace kfw
