// When bytes sent to a MIDI port have left: the help the backends share for counting wire time
// and for waiting out the drain before a port closes.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "midi/port_layer.h"

namespace kfw {

// A MIDI cable carries 10 bits a byte (start, 8 data, stop) at 31250 baud: 320 microseconds a
// byte, so a 270-byte block message needs about 86 ms.
inline constexpr uint64_t kMidiByteMicros = 320;

// For ports that give no report of their bytes leaving (RtMidi hands a message to the ALSA
// sequencer or to JACK and returns at once): counts each message's wire time at 31250 baud from
// the moment it was sent, behind whatever was still on its way, plus a fixed latency (a JACK
// period, say). Real time, since the bytes go to a real device.
class WireTimeEstimate {
 public:
  explicit WireTimeEstimate(uint64_t latencyMicros = 0) : latencyMicros_(latencyMicros) {}

  void Sent(uint32_t byteCount);
  bool Drained();
  // Microseconds until Drained turns true (0 once it has).
  uint64_t RemainingMicros();

 private:
  static uint64_t Now();

  std::mutex mutex_;
  uint64_t latencyMicros_;
  uint64_t doneAt_ = 0;
};

// Tells an output's senders when its bytes have left (OutputConnection::WhenDrained), for outputs
// that learn it only by asking: a thread of its own, started at the first request, asks
// `drained` (which may block for a while, as tcdrain does), and when the answer is no, asks again
// after `lookAgainIn` (the wire-time estimate's remaining time, or a short slice for a device that
// only says yes or no). Every notice requested is given once the next yes comes
// (drain_threads.cpp). The web build has one thread: there a timer of the page's event loop asks,
// first on the event loop's next turn, never inside Request, and `drained` must answer at once
// (drain_web.cpp).
class DrainNotifier {
 public:
  DrainNotifier(std::function<bool()> drained,
                std::function<std::chrono::microseconds()> lookAgainIn);
  // Stops the thread or the timer; no notice is given once this has returned.
  ~DrainNotifier();

  void Request(std::function<void()> done);

 private:
  struct Asker;  // the thread, or the event loop's timer
  std::unique_ptr<Asker> asker_;
};

// How long an output waits at most, when it closes, for its last message to drain: longer than
// the largest message the program sends (16383 + 14 bytes, about 5.3 s at 31250 baud), short
// enough that a stuck device cannot hold the program for ever.
inline constexpr std::chrono::milliseconds kCloseDrainBound{8000};

// Polls connection.Drained() every millisecond until it is true or `bound` has passed. Called
// from the destructors of the backends' outputs: the final reset of an update is sent just before
// the ports close, and closing at once would lose it. In the web build each millisecond is a wait
// of the system clock, which hands the thread to the event loop: it must not be called from an
// event while a procedure waits.
void WaitForDrain(OutputConnection& connection, std::chrono::milliseconds bound = kCloseDrainBound);

}  // namespace kfw
