#include "protocol/messages.h"

#include <cstdlib>
#include <cstring>

#include "base/report.h"
#include "midi/reception.h"
#include "midi/transmission.h"

namespace kfw {

namespace {
constexpr std::array<uint8_t, kSysExHeaderSize> kAnyModuleHeader = {0xF0, 0x00, 0x7F,
                                                                     0x7F, 0x7F, 0x7F};
}

std::array<uint8_t, kSysExHeaderSize> SysExHeader = kAnyModuleHeader;

const std::array<DeviceStatusEntry, 7> DeviceStatusTable = {{
    {1, kDeviceBadChecksum},
    {2, kDeviceBadLength},
    {3, kDeviceBadSequence},
    {4, kResponseUnknown},
    {5, kDeviceProgrammingFault},
    {6, kDeviceBadCheckcode},
    {8, kDeviceBadLength},
}};

void SetDeviceAddress(uint16_t companyId, uint8_t productId) {
  SysExHeader[2] = static_cast<uint8_t>(companyId >> 8);
  SysExHeader[3] = static_cast<uint8_t>(companyId & 0xFF);
  SysExHeader[4] = productId;
}

namespace {

// The three fixed-size commands: header, code, an optional argument, F7.
void SendShortCommand(const char* banner, uint8_t code, const uint8_t* argument) {
  Trace(banner);
  uint8_t message[kSysExHeaderSize + 3];
  std::memcpy(message, SysExHeader.data(), kSysExHeaderSize);
  uint32_t length = kSysExHeaderSize;
  message[length++] = code;
  if (argument) message[length++] = *argument;
  message[length++] = 0xF7;
  SendSysEx(message, length);
}

}  // namespace

void SendReset(uint8_t argument) {
  SendShortCommand("--- Resetting QX-412 ---\n", kCommandReset, &argument);
}

void SendGetStatus() {
  SendShortCommand("--- QX-412 get status request ---\n", kCommandGetStatus, nullptr);
}

void SendPrepareArea(uint8_t argument) {
  SendShortCommand("--- Prepare area ---\n", kCommandPrepareArea, &argument);
}

ResultCode JudgeProgramBlockReply(const uint8_t* reply, uint32_t length) {
  // Bytes beyond the reply read as 0, as they do in the zeroed reply buffer: a reply of the code
  // alone has status 0.
  const uint8_t code = length >= 1 ? reply[0] : 0;
  if (code != kReplyProgramBlock) return kResponseUnknown;
  const uint8_t status = length >= 2 ? reply[1] : 0;
  if (status == 0) return kOk;
  if (status == 7) return length == 2 ? kOk : kResponseUnknown;
  for (const DeviceStatusEntry& entry : DeviceStatusTable) {
    if (entry.status == status) return entry.result;
  }
  return kResponseUnknown;
}

ResultCode SendProgramBlock(uint32_t blockNumber, const uint8_t* data, uint32_t length) {
  const size_t messageLength = static_cast<size_t>(length) + kProgramBlockFrameBytes;
  auto* message = static_cast<uint8_t*>(std::malloc(messageLength));
  if (!message) return kOutOfMemory;

  std::memcpy(message, SysExHeader.data(), kSysExHeaderSize);
  message[6] = kCommandProgramBlock;
  message[7] = static_cast<uint8_t>((blockNumber >> 7) & 0x7F);
  message[8] = static_cast<uint8_t>(blockNumber & 0x7F);
  message[9] = static_cast<uint8_t>((length >> 7) & 0x7F);
  message[10] = static_cast<uint8_t>(length & 0x7F);
  if (length) std::memcpy(message + 11, data, length);
  uint32_t sum = 0;
  for (size_t i = 7; i < 11 + static_cast<size_t>(length); ++i) sum += message[i];
  message[11 + length] = static_cast<uint8_t>((sum >> 7) & 0x7F);
  message[12 + length] = static_cast<uint8_t>(sum & 0x7F);
  message[13 + length] = 0xF7;

  SendSysEx(message, static_cast<uint32_t>(messageLength));

  uint8_t reply[kProgramBlockReplyCapacity];
  uint32_t count = 0;
  ResultCode result =
      ReadReply(reply, kProgramBlockReplyCapacity, &count, kProgramBlockReplyTicks);
  if (result == kOk) result = JudgeProgramBlockReply(reply, count);
  std::free(message);
  return result;
}

namespace internal {
void ResetMessageState() { SysExHeader = kAnyModuleHeader; }
}  // namespace internal

}  // namespace kfw
