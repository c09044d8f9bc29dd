#include "protocol/device_status.h"

#include <cstdio>
#include <cstring>

#include "midi/reception.h"
#include "protocol/messages.h"

namespace kfw {

DeviceInfo deviceInfo;

void ParseDeviceStatus(const uint8_t* reply, uint32_t length, DeviceInfo& info) {
  // A short reply is not refused: its missing bytes read as 0, as they do in the zeroed buffer.
  auto at = [&](uint32_t index) -> uint8_t { return index < length ? reply[index] : 0; };
  info = DeviceInfo{};
  info.state = at(1);
  info.versionMajor = at(2);
  info.versionMinor = at(3);
  info.blockSize = static_cast<uint16_t>(at(4) * 128 + at(5));
  info.companyId = static_cast<uint16_t>(at(6) * 256 + at(7));
  info.productId = at(8);
  info.auxByte1 = at(9);
  info.auxByte2 = at(10);
  info.auxWord = static_cast<uint16_t>(at(11) * 128 + at(12));
  std::snprintf(info.serialText, sizeof info.serialText, "%.2x%.2x%.2x%.2x%.2x%.2x", at(13),
                at(14), at(15), at(16), at(17), at(18));
  // A name longer than the record holds is cut to its 29 characters.
  uint32_t nameLength = length > kStatusFixedLength ? length - kStatusFixedLength : 0;
  if (nameLength > sizeof info.productName - 1) nameLength = sizeof info.productName - 1;
  if (nameLength) std::memcpy(info.productName, reply + kStatusFixedLength, nameLength);
  info.productName[nameLength] = '\0';
  if (info.state == 0) {
    std::snprintf(info.versionText, sizeof info.versionText, "%d.%d", info.versionMajor,
                  info.versionMinor);
  }
}

ResultCode ReadDeviceStatus(DeviceInfo& info) {
  info = DeviceInfo{};
  SendGetStatus();
  uint8_t reply[kStatusReplyCapacity];
  uint32_t count = 0;
  for (;;) {
    const ResultCode result = ReadReply(reply, kStatusReplyCapacity, &count, kStatusReplyTicks);
    if (result != kOk) return result;
    if (reply[0] == kReplyStatus) break;
  }
  ParseDeviceStatus(reply, count, info);
  SetDeviceAddress(info.companyId, info.productId);
  return kOk;
}

}  // namespace kfw
