// The ALSA sequencer and JACK, both through RtMidi. Built only with RtMidi (KFW_RTMIDI).
//
// A system that is absent (no /dev/snd/seq, no JACK server running) lists no ports and prints
// nothing: libjack's own complaints are silenced and RtMidi reports through an error callback.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "midi/port_layer.h"

namespace kfw {

std::unique_ptr<PortBackend> MakeAlsaSequencerBackend();
std::unique_ptr<PortBackend> MakeJackBackend();

// True when the ALSA sequencer device can be opened for reading and writing.
bool AlsaSequencerPresent();

// The period of the JACK server that clients of this process would reach (JACK_DEFAULT_SERVER
// names a private one), in microseconds; nothing when no server answers. Asks quietly.
std::optional<uint64_t> JackServerPeriodMicros();

// RtMidi's JACK output queue holds 16384 bytes, a 4-byte length included; a larger message is
// dropped without a word, so the JACK output refuses it instead.
inline constexpr uint32_t kJackLargestMessage = 16379;

}  // namespace kfw
