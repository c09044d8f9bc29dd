#include "midi/transmission.h"

#include "base/report.h"
#include "base/waiting.h"

namespace kfw {

std::atomic<HMidiOut> midiOut{nullptr};

namespace {

// Raised by the output's done notice, lowered before each message is sent. Only a hint that the
// unprepare call is worth repeating now: a late notice of the message before may raise it early,
// which costs one more call, never a wrong answer.
std::atomic<bool> outputDone{false};

// The fast mode's wait for the message to be done: the unprepare call is repeated whenever the
// output's done notice wakes the wait, and at least every tick (an output that gives no notice is
// then found done as in the normal mode), for at most as long as the normal mode's repeats take.
MmResult UnprepareWhenDone(HMidiOut out, MidiHdr& header) {
  Clock& clock = CurrentClock();
  constexpr uint64_t kTickMicros = uint64_t{kTickMilliseconds} * 1000;
  const uint64_t deadline = clock.NowMicroseconds() + kMaxStillPlayingRepeats * kTickMicros;
  MmResult result = MidiOutUnprepareHeader(out, &header, sizeof(MidiHdr));
  while (result == kMidiErrStillPlaying) {
    const uint64_t now = clock.NowMicroseconds();
    if (now >= deadline) break;
    const uint64_t sliceEnd = now + kTickMicros < deadline ? now + kTickMicros : deadline;
    clock.WaitUntil(sliceEnd, [] { return outputDone.load(std::memory_order_acquire); });
    outputDone.store(false, std::memory_order_relaxed);
    result = MidiOutUnprepareHeader(out, &header, sizeof(MidiHdr));
  }
  return result;
}

}  // namespace

void MidiOutputCallback(HMidiOut, uint32_t message, uintptr_t, uintptr_t, uintptr_t) {
  if (message != kMomDone) return;
  outputDone.store(true, std::memory_order_release);
  CurrentClock().Wake();
}

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
  const bool fast = fastMode.load(std::memory_order_relaxed);
  if (fast) outputDone.store(false, std::memory_order_relaxed);
  result = MidiOutLongMsg(out, &header, sizeof(MidiHdr));
  if (result != kMmNoError) {
    FatalMidiError("midiOutLongMsg call failed - code %.8lx\n", static_cast<unsigned long>(result));
  }
  // The end of sending shows only as the unprepare call no longer answering "still playing".
  // Drivers have been seen to answer that for ever, so the wait is bounded; past the bound the
  // send counts as failed with the unprepare call's text and the still-playing code.
  if (fast) {
    result = UnprepareWhenDone(out, header);
  } else {
    result = MidiOutUnprepareHeader(out, &header, sizeof(MidiHdr));
    for (uint32_t repeats = 0; result == kMidiErrStillPlaying && repeats < kMaxStillPlayingRepeats;
         ++repeats) {
      result = MidiOutUnprepareHeader(out, &header, sizeof(MidiHdr));
      CurrentClock().SleepMilliseconds(100);
    }
  }
  if (result != kMmNoError) {
    FatalMidiError("midiOutUnprepareHeader call failed - code %.8lx\n",
                   static_cast<unsigned long>(result));
  }
}

}  // namespace kfw
