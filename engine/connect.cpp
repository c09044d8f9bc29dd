#include "engine/connect.h"

#include "engine/progress.h"
#include "image/image_file.h"
#include "midi/reception.h"
#include "protocol/messages.h"

namespace kfw {

ResultCode Connect(DeviceInfo& info) {
  OpenProgress();
  SetProgress(TextTable[kTextConnecting], 0);
  ClearCancel();
  FlushReplies();
  SetDeviceAddress(kAnyCompanyId, kAnyProductId);

  // The counter is the waiting budget in seconds: 3 per unanswered attempt, 30 in all.
  uint32_t counter = 0;
  ResultCode result = kResponseTimeout;
  uint8_t reply[kConnectReplyCapacity];
  while (counter < 30 && !CancelRequested()) {
    SendReset(kConnectResetArgument);
    SetProgress(TextTable[kTextConnecting], counter * 100 / 30);
    // Any reply ends the attempts, whatever its code: the status read that follows passes over
    // everything that is not a status reply.
    result = ReadReply(reply, kConnectReplyCapacity, nullptr, kConnectAttemptTicks);
    if (result != kResponseTimeout) break;
    counter += 3;
  }

  if (CancelRequested()) {
    result = kCanceled;
  } else if (result == kOk) {
    result = ReadDeviceStatus(info);
  }
  CloseProgress();
  return result;
}

}  // namespace kfw
