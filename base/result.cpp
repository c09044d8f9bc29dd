#include "base/result.h"

namespace kfw {

const char* const TextTable[kTextTableSize] = {
    "Connect to firmware",
    "Connecting...",
    "Delaying...",
    "Preparing firmware area...",
    "Update firmware Image",
    "Updating firmware area...",
    "Reading updated version #...",
    ("The firmware image in the hardware is verified good and the version # matches the update "
     "file. Updating with this image file is unnecessary and will change nothing! Update anyway?"),
    "No error",
    "Cannot open file",
    "Update file CRC error",
    "Update file image corrupt",
    "Unknown update file version",
    "Operation canceled",
    "MIDI Response too long",
    "MIDI Response timeout",
    "MIDI Response unknown",
    "Region erase failure",
    "Out of memory",
    "MIDI Reports bad checksum",
    "MIDI Reports bad length",
    "MIDI Reports bad sequence",
    "MIDI Reports bad checkcode",
    "MIDI Reports chip programming fault",
    "Update file's product ID mismatched with device",
    "Update file's company ID mismatched with device",
};

const char* ResultText(ResultCode code) {
  if (code >= kResultCodeCount) return "Unknown result";
  return TextTable[code + 8];
}

}  // namespace kfw
