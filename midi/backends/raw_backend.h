// Raw MIDI device files: ALSA rawmidi character devices (/dev/snd/midiC*D*) and serial or pseudo
// terminals given by path, read and written as plain byte streams. A path serves as both an input
// and an output; both use one descriptor.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "midi/port_layer.h"

namespace kfw {

// Lists the ALSA rawmidi devices present (when scanRawMidi is set), then `paths`, each as it was
// given. A rawmidi device is listed by its card's name with the path in brackets.
std::unique_ptr<PortBackend> MakeRawDeviceBackend(std::vector<std::string> paths,
                                                  bool scanRawMidi = true);

// Writes all of bytes to a non-blocking descriptor, waiting for room until deadline. 0 when all
// were written; otherwise the errno of the failing write, or ETIMEDOUT when the deadline passed.
int WriteAllBefore(int fd, const uint8_t* bytes, size_t count,
                   std::chrono::steady_clock::time_point deadline);

}  // namespace kfw
