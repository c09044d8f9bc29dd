// SysEx transmission: one whole message at a time, returning only when its bytes have left.
#pragma once

#include <atomic>
#include <cstdint>

#include "midi/device.h"

namespace kfw {

// The open MIDI output, none while closed. Opened and closed by the port code.
extern std::atomic<HMidiOut> midiOut;

// How often the unprepare call is repeated while the device reports the message still playing,
// each repeat followed by 100 ms: 30 s in all, enough for the largest block at 31250 baud several
// times over. A device still busy after that is treated as a failed send. The fast mode bounds its
// wait by the same 30 s of the clock.
inline constexpr uint32_t kMaxStillPlayingRepeats = 300;

// The output's callback in the fast mode (OpenPorts registers it): a kMomDone notice wakes the
// send that waits for its message to be done. Every other message is ignored.
void MidiOutputCallback(HMidiOut handle, uint32_t message, uintptr_t instance, uintptr_t param1,
                        uintptr_t param2);

// The longest message, F0 to F7, that the open output takes: kNoMessageLimit when it takes any,
// and when no output is open or the layer cannot tell (SendSysEx then finds out as before).
uint32_t LargestSendableMessage();

// Traces "TX: ..." when the trace is on, then sends F0 ... F7 as one long message and waits until
// the device is done with it. A failure of the MIDI service ends the process with the failing
// call's text and code (FatalMidiError).
void SendSysEx(const uint8_t* bytes, uint32_t length);

}  // namespace kfw
