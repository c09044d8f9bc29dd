// What the RtMidi backend and the simulator's RtMidi ports share: keeping RtMidi and libjack quiet,
// catching RtMidi's errors as result codes, input callbacks safe from libjack's cancels, and
// finding ports by name.
#pragma once

#include <RtMidi.h>
#include <pthread.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "midi/device.h"

namespace kfw::rtmidi {

// Collects what RtMidi reports through its error callback. Without a callback RtMidi prints every
// error to stderr (and throws on the serious ones); with one it does neither, and the caller looks
// here after each call instead.
class ErrorTrap {
 public:
  // Installs the trap on `midi`; the trap must outlive it.
  void Attach(RtMidi& midi);
  // The first serious error (not a warning) since the last Take, and forgets it; text: RtMidi's
  // words for it, when asked for.
  std::optional<RtMidiError::Type> Take(std::string* text = nullptr);

 private:
  static void OnError(RtMidiError::Type type, const std::string& text, void* user);

  std::mutex mutex_;
  std::optional<RtMidiError::Type> error_;
  std::string text_;
};

// The result code shown for an RtMidi error.
MmResult ToMmResult(RtMidiError::Type type);

// False (and quiet) when the system behind `api` is absent: no ALSA sequencer device, no JACK
// server. RtMidi would print its complaint before any error callback could be installed.
bool SystemPresent(RtMidi::Api api);

// An RtMidi input or output on `api` with its error trap installed; nullptr when the system is
// absent or RtMidi cannot start on it.
std::unique_ptr<RtMidiIn> MakeInput(RtMidi::Api api, const std::string& clientName,
                                    ErrorTrap& trap);
std::unique_ptr<RtMidiOut> MakeOutput(RtMidi::Api api, const std::string& clientName,
                                      ErrorTrap& trap);

// Runs `deliver`, the work of an RtMidi input callback, with the thread's cancellation held off.
// libjack ends a client's process thread, on which RtMidi calls its input back, by a cancel of the
// asynchronous kind (pthread_cancel from jack_client_close), which takes effect at whatever
// instruction the thread is on. In C++ code that holds a lock, or between two calls, the unwinding
// it starts finds no way on and the process ends in std::terminate: it happens when a close meets
// a delivery still running (a loaded machine, a sanitizer's slowdown). Held off, a cancel waits for
// the end of `deliver` and takes effect at the second call below, with nothing held.
template <typename Deliver>
void DeliverWithCancelHeldOff(Deliver&& deliver) {
  int state = PTHREAD_CANCEL_ENABLE;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &state);
  deliver();
  pthread_setcancelstate(state, nullptr);
}

// The names RtMidi lists now.
std::vector<std::string> PortNames(RtMidi& midi);
// The index of the port named `name` now. Indices move when ports come and go, so they are looked
// up afresh at every open and never kept.
std::optional<unsigned> FindPort(RtMidi& midi, const std::string& name);

}  // namespace kfw::rtmidi
