// The module's status record and its reading.
#pragma once

#include <cstdint>

#include "base/result.h"

namespace kfw {

struct DeviceInfo {
  int32_t state = 0;  // 0: the module reports its firmware image as verified good
  uint8_t versionMajor = 0;
  uint8_t versionMinor = 0;
  uint16_t blockSize = 0;  // largest data bytes per program block, 0 to 16383
  uint8_t auxByte1 = 0;
  uint8_t auxByte2 = 0;
  uint16_t auxWord = 0;
  char serialText[13] = {};   // twelve lower-case hex digits
  char versionText[15] = {};  // "major.minor", only when state is 0
  char productName[30] = {};  // at most 29 characters
  uint8_t productId = 0;
  uint16_t companyId = 0;
};

// The program's one record of the module, filled by Connect and by the status read after an
// update, shown by the front ends.
extern DeviceInfo deviceInfo;

// The status reply's buffer: a reply may hold at most 153 bytes before its F7.
inline constexpr uint32_t kStatusReplyCapacity = 154;
inline constexpr uint32_t kStatusReplyTicks = 30;
// Bytes of the status reply before the product name.
inline constexpr uint32_t kStatusFixedLength = 19;

// Fills info from a status reply body (code 0x12 first). Indices beyond length read as 0. Does not
// readdress the header.
void ParseDeviceStatus(const uint8_t* reply, uint32_t length, DeviceInfo& info);

// Asks for the status, passes over replies of other codes (each with a fresh 30-tick time-out),
// fills info and addresses every later command to the module that answered. On failure info is
// left cleared and the address unchanged.
ResultCode ReadDeviceStatus(DeviceInfo& info);

}  // namespace kfw
