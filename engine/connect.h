// Finding the module on the open ports.
#pragma once

#include "base/result.h"
#include "protocol/device_status.h"

namespace kfw {

// Reply buffer of a connect attempt (a reply may hold 113 bytes before F7), and the budget: each
// unanswered attempt of 30 ticks counts 3 towards 30, so at most 10 attempts.
inline constexpr uint32_t kConnectReplyCapacity = 114;
inline constexpr uint32_t kConnectAttemptTicks = 30;
inline constexpr uint8_t kConnectResetArgument = 2;

// Addresses any module, sends resets until something answers, then reads the module's status into
// info (which readdresses every later command to that module). Shows progress; kCanceled whenever
// CancelFlag is set at the end.
ResultCode Connect(DeviceInfo& info);

}  // namespace kfw
