// What the RtMidi backend and the simulator's RtMidi ports share: keeping RtMidi and libjack quiet,
// catching RtMidi's errors as result codes, and finding ports by name.
#pragma once

#include <RtMidi.h>

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

// The names RtMidi lists now.
std::vector<std::string> PortNames(RtMidi& midi);
// The index of the port named `name` now. Indices move when ports come and go, so they are looked
// up afresh at every open and never kept.
std::optional<unsigned> FindPort(RtMidi& midi, const std::string& name);

}  // namespace kfw::rtmidi
