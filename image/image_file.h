// The firmware image file (.kfw) and its validation.
//
// Layout: byte 0 format version (0 or 1); bytes 1-2 CRC-16/ARC of everything from byte 3 on, low
// byte first; a version-1 file then carries the company identifier (high, low) and the product
// identifier. Records follow without gaps: 00 image (length LE16, major, minor, data), 01 no-op,
// 02 delay (ticks), 03 reset (argument 0-3), FF end. Bytes after the end record are allowed.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/result.h"

namespace kfw {

enum RecordType : uint8_t {
  kRecordImage = 0x00,
  kRecordNoOp = 0x01,
  kRecordDelay = 0x02,
  kRecordReset = 0x03,
  kRecordEnd = 0xFF,
};

inline constexpr uint16_t kAnyCompanyId = 0x7F7F;
inline constexpr uint8_t kAnyProductId = 0x7F;
// An image record whose major version is this is never questioned as "the same version".
inline constexpr uint8_t kExemptVersionMajor = 0x7F;

// Offset of the record stream: 3 for version 0, 6 for version 1.
uint32_t RecordStreamOffset(uint8_t formatVersion);

// The identifiers in the header of the last SysEx message received. Written byte by byte by the
// receive parser on the MIDI input thread; read by ValidateImage. 0x7F7F / 0x7F until a module
// has spoken.
extern std::atomic<uint16_t> receivedCompanyId;
extern std::atomic<uint8_t> receivedProductId;

// Checks a whole file in memory: version, CRC, record structure, then the file's product and
// company identifiers against the last ones received. Returns the first failure found. Never reads
// outside bytes[0, length). Image data that SysEx cannot carry (a byte above 0x7F) is a fault of
// structure, kImageCorrupt, so that nothing of such a file is ever sent.
ResultCode ValidateImage(const uint8_t* bytes, uint32_t length);

namespace internal {
void ResetReceivedIdentifiers();
}

}  // namespace kfw
