#include "midi/transmission.h"

#include "base/report.h"
#include "base/waiting.h"

namespace kfw {

std::atomic<HMidiOut> midiOut{nullptr};

uint32_t LargestSendableMessage() {
  uint32_t largest = kNoMessageLimit;
  if (MidiOutGetLargestMessage(midiOut.load(std::memory_order_acquire), largest) != kMmNoError) {
    return kNoMessageLimit;
  }
  return largest;
}

void SendSysEx(const uint8_t* bytes, uint32_t length) {
  TraceBytes("TX: ", bytes, length);

  MidiHdr header{};
  // The layer only reads the message; WinMM's header just lacks a const pointer.
  header.lpData = const_cast<uint8_t*>(bytes);
  header.dwBufferLength = length;
  header.dwBytesRecorded = length;
  const HMidiOut out = midiOut.load(std::memory_order_acquire);

  MmResult result = MidiOutPrepareHeader(out, &header, sizeof(MidiHdr));
  if (result != kMmNoError) {
    FatalMidiError("midiOutPrepareHeader call failed - code %.8lx\n",
                   static_cast<unsigned long>(result));
  }
  result = MidiOutLongMsg(out, &header, sizeof(MidiHdr));
  if (result != kMmNoError) {
    FatalMidiError("midiOutLongMsg call failed - code %.8lx\n", static_cast<unsigned long>(result));
  }
  // The end of sending shows only as the unprepare call no longer answering "still playing".
  // Drivers have been seen to answer that for ever, so the wait is bounded; past the bound the
  // send counts as failed with the unprepare call's text and the still-playing code.
  result = MidiOutUnprepareHeader(out, &header, sizeof(MidiHdr));
  for (uint32_t repeats = 0; result == kMidiErrStillPlaying && repeats < kMaxStillPlayingRepeats;
       ++repeats) {
    result = MidiOutUnprepareHeader(out, &header, sizeof(MidiHdr));
    CurrentClock().SleepMilliseconds(100);
  }
  if (result != kMmNoError) {
    FatalMidiError("midiOutUnprepareHeader call failed - code %.8lx\n",
                   static_cast<unsigned long>(result));
  }
}

}  // namespace kfw
