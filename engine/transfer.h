// Writing one image record to the module.
#pragma once

#include <cstdint>

#include "base/result.h"
#include "image/image_walk.h"
#include "protocol/device_status.h"

namespace kfw {

inline constexpr uint32_t kPrepareReplyCapacity = 30;
inline constexpr uint32_t kPrepareReplyTicks = 88;
inline constexpr uint8_t kPrepareAreaArgument = 0;

// Plays one image record as the walk of the file yields it (image/image_walk.h): record gives its
// data length and version; cursor is at the byte after its type byte, and remaining counts the
// file's bytes from there. Asks before rewriting an identical verified image, prepares (erases) the
// area, sends the data in blocks of at most device.blockSize bytes taken in place at the cursor,
// each acknowledged, then the final empty block. On success cursor and remaining have moved past
// the record; a failed block leaves them at its start.
//
// Nothing is sent for the record, and cursor and remaining are unchanged, when the user answers
// No to the question or a Cancel came while it was asked (kCanceled), and when what is known to
// fail is refused before the erase command, so the module's firmware is left as it was: a block
// size of 0, or blocks longer than the open output takes, with kResponseUnknown; a record longer
// than what remains of the file with kImageCorrupt. That the data are bytes SysEx can carry is the
// walk's to check.
ResultCode TransferImage(const ImageRecord& record, const uint8_t*& cursor, uint32_t& remaining,
                         DeviceInfo& device);

// Raised once a prepare-area (erase) command has gone to the module during the current update
// run: from then on, whatever the module answered or failed to, its old firmware is gone or going,
// and until the run ends in success the module has no verified firmware. Lowered when an update
// run starts; the front ends read it after a run that did not succeed.
extern bool firmwareAreaErased;

}  // namespace kfw
