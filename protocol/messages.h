// The module's message set: the header every command starts with, the four commands, and the
// judgement of a program block's acknowledgement.
//
// Numbers wider than 7 bits travel in two kinds of pair that must not be confused: a 7-bit pair
// (high × 128 + low) for block numbers, lengths, the block checksum and the status sizes; a byte
// pair (high × 256 + low) for the company identifier.
#pragma once

#include <array>
#include <cstdint>

#include "base/result.h"

namespace kfw {

// Command codes and the codes of their replies.
inline constexpr uint8_t kCommandReset = 0x10;
inline constexpr uint8_t kCommandGetStatus = 0x11;
inline constexpr uint8_t kCommandPrepareArea = 0x13;
inline constexpr uint8_t kCommandProgramBlock = 0x15;
inline constexpr uint8_t kReplyReset = 0x10;
inline constexpr uint8_t kReplyStatus = 0x12;
inline constexpr uint8_t kReplyPrepareArea = 0x14;
inline constexpr uint8_t kReplyProgramBlock = 0x16;

// F0 00, the addressed company identifier (byte pair), the addressed product, 7F. Starts as
// "any module"; only SetDeviceAddress writes it.
inline constexpr int kSysExHeaderSize = 6;
extern std::array<uint8_t, kSysExHeaderSize> SysExHeader;

// Addresses every later command: byte 2 = companyId >> 8, byte 3 = companyId & 0xFF, byte 4 =
// productId, with no masking to 7 bits.
void SetDeviceAddress(uint16_t companyId, uint8_t productId);

// The program-block reply's device status codes and their results, searched in order for every
// status but 0 and 7.
struct DeviceStatusEntry {
  uint8_t status;
  ResultCode result;
};
extern const std::array<DeviceStatusEntry, 7> DeviceStatusTable;

// A program block's message is its data and this many bytes more: the header, the code, the block
// number, the length, the checksum and F7.
inline constexpr uint32_t kProgramBlockFrameBytes = 14;

// The reply buffer of a program block: a reply may hold at most 49 bytes before its F7.
inline constexpr uint32_t kProgramBlockReplyCapacity = 50;
inline constexpr uint32_t kProgramBlockReplyTicks = 100;

void SendReset(uint8_t argument);
void SendGetStatus();
void SendPrepareArea(uint8_t argument);

// Sends one block (only the low 14 bits of blockNumber and length travel; all length bytes of
// data go out) and judges the first reply that follows. kOutOfMemory, before anything is sent,
// when the message cannot be built.
ResultCode SendProgramBlock(uint32_t blockNumber, const uint8_t* data, uint32_t length);

// The judgement of a program-block reply of length bytes (code first, without header and F7).
ResultCode JudgeProgramBlockReply(const uint8_t* reply, uint32_t length);

namespace internal {
void ResetMessageState();
}

}  // namespace kfw
