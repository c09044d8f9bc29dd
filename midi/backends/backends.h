// The one list of the MIDI backends of this build, and the device layer made from them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "midi/port_layer.h"

namespace kfw {

class WebMidiAccess;

struct BackendOptions {
  // Raw MIDI device files or terminals to list besides the ALSA rawmidi devices found under
  // /dev/snd; each path serves as both an input and an output.
  std::vector<std::string> rawDevicePaths;
  // Off in tests that must not touch the machine's ALSA, JACK or WinMM devices.
  bool systemBackends = true;
  // In a web page, the browser's answer to the page's request for MIDI (RequestWebMidiAccess in
  // midi/backends/webmidi_backend.h): the Web MIDI backend lists the ports it grants. Unused
  // elsewhere.
  std::shared_ptr<WebMidiAccess> webMidi;
  // Appended after the system backends, in order: the simulated module's ports, when the user
  // asked for them.
  std::vector<std::unique_ptr<PortBackend>> extraBackends;
};

// The device layer of a running program: on Linux the ALSA sequencer and JACK (through RtMidi),
// then raw MIDI devices, then the extra backends. Backends that cannot start (no ALSA sequencer,
// no JACK server) list no ports. On Windows WinMM's devices, numbered as WinMM numbers them, then
// the extra backends' ports. In a web page the browser's ports (Web MIDI), then the extra
// backends'.
std::unique_ptr<MidiDeviceLayer> MakeStandardDeviceLayer(BackendOptions options);

// The names of the backends compiled in, for --version and diagnostics.
std::vector<std::string> CompiledBackendNames();

// True when KFW_SIMULATOR is set to 1, yes or true: the front ends then list the simulated module.
// (A web page has no environment: it is asked for with ?simulator.)
bool SimulatorRequestedByEnvironment();

}  // namespace kfw
