// Writing one image record to the module.
#pragma once

#include <cstdint>

#include "base/result.h"
#include "protocol/device_status.h"

namespace kfw {

inline constexpr uint32_t kPrepareReplyCapacity = 30;
inline constexpr uint32_t kPrepareReplyTicks = 88;
inline constexpr uint8_t kPrepareAreaArgument = 0;

// Plays the image record at cursor (its type byte already consumed; remaining counts the file's
// bytes after the cursor): prepare (erase) the area, ask before rewriting an identical verified
// image, send the data in blocks of at most device.blockSize bytes, each acknowledged, then the
// final empty block. On success cursor and remaining have moved past the record; a failed block
// leaves them at its start.
//
// A module that reports a block size of 0 cannot be programmed; it is refused with
// kResponseUnknown before the erase command, so its firmware is left as it was.
ResultCode TransferImage(const uint8_t*& cursor, uint32_t& remaining, DeviceInfo& device);

}  // namespace kfw
