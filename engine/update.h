// The update run: a whole image file played to the module.
#pragma once

#include <cstdint>

#include "base/result.h"
#include "protocol/device_status.h"

namespace kfw {

inline constexpr uint32_t kResetRecordPauseTicks = 10;
inline constexpr uint32_t kUpdatedVersionAttempts = 10;
inline constexpr uint8_t kFinalResetArgument = 0;

// Connects afresh, validates the file against the module that answered, plays its records
// (delays, resets, image records) and, when all went well, reads the status again and resets the
// module into its new firmware. After a failure or a cancel neither happens; firmwareAreaErased
// (engine/transfer.h) then tells whether the module was told to erase its firmware area.
ResultCode RunUpdate(const uint8_t* imageBytes, uint32_t length, DeviceInfo& device);

// A delay record: ticks ticks with the bar moving; ends at the next tick after a Cancel.
void WaitWithProgress(uint8_t ticks);

// The status read after the walk: up to attempts tries, repeated only after a time-out.
ResultCode ReadUpdatedVersion(DeviceInfo& device, uint32_t attempts);

}  // namespace kfw
