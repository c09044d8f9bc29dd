// Result codes and the fixed texts the user sees.
#pragma once

#include <cstdint>

namespace kfw {

// The one result type of every procedure. The numbers are part of the program's interface: the
// command-line program exits with them, so they never move.
enum ResultCode : uint8_t {
  kOk = 0,
  kCannotOpenFile = 1,  // produced by nothing; keeps its place in the tables
  kImageCrcError = 2,
  kImageCorrupt = 3,
  kUnknownImageVersion = 4,
  kCanceled = 5,
  kResponseTooLong = 6,
  kResponseTimeout = 7,
  kResponseUnknown = 8,
  kRegionEraseFailure = 9,
  kOutOfMemory = 10,
  kDeviceBadChecksum = 11,
  kDeviceBadLength = 12,
  kDeviceBadSequence = 13,
  kDeviceBadCheckcode = 14,
  kDeviceProgrammingFault = 15,
  kProductMismatch = 16,
  kCompanyMismatch = 17,
};

inline constexpr int kResultCodeCount = 18;

// Entries 0 to 7 are progress captions and the same-version question; entry c + 8 is the message
// of ResultCode c.
inline constexpr int kTextTableSize = 26;
extern const char* const TextTable[kTextTableSize];

// Indices of the entries that are not result messages.
inline constexpr int kTextConnectToFirmware = 0;
inline constexpr int kTextConnecting = 1;
inline constexpr int kTextDelaying = 2;
inline constexpr int kTextPreparingArea = 3;
inline constexpr int kTextUpdateImage = 4;
inline constexpr int kTextUpdatingArea = 5;
inline constexpr int kTextReadingVersion = 6;
inline constexpr int kTextSameVersionQuestion = 7;

// The message of a result: TextTable[code + 8]. Codes outside 0..17 cannot be built from the enum
// by the procedures; a stray one (a corrupt cast) still yields a text instead of reading past the
// table.
const char* ResultText(ResultCode code);

}  // namespace kfw
