// The simulated module as the far end of real ports, for a process of its own: it creates ports
// that the updater, running elsewhere, then chooses like any others, feeds what it reads there to
// a SimulatedModule, and writes the module's replies back after the module's delays, in real time.
//
// A command that serves the module wraps it in a few lines:
//   SimulatorPeer peer(options);
//   std::string error;
//   if (!peer.Start(error)) { report error; return failure; }
//   puts(peer.ReadyLine().c_str());
//   wait for Ctrl-C or SIGTERM;
//   peer.Stop();
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/link.h"
#include "sim/module.h"
#include "sim/timeline.h"

namespace kfw {

enum class PeerTransport {
  kJack,            // virtual JACK ports through RtMidi
  kAlsaSequencer,   // virtual ALSA sequencer ports through RtMidi
  kPseudoTerminal,  // a pseudo-terminal, for the updater's raw-device backend
  kRawDevice,       // an existing raw MIDI device or serial line, by path
};

// "jack", "alsa", "pty"; false for anything else.
bool ParsePeerTransport(const std::string& text, PeerTransport& transport);

struct PeerOptions {
  PeerTransport transport = PeerTransport::kJack;
  // JACK and ALSA: the client names of the two ports the peer creates, each holding one port
  // "midi". The module reads what the updater sends to inPort ("kfwsim in:midi" is then chosen in
  // "Transmit to") and answers on outPort (chosen in "Receive from"). A pseudo-terminal needs no
  // names: the peer makes one and tells its path.
  std::string inPort = "kfwsim in";
  std::string outPort = "kfwsim out";
  // kRawDevice: the device's path, serving both directions.
  std::string devicePath;
  ModuleIdentity identity;
  ModuleFaults faults;
  ModuleTiming timing;
  // The MIDI cable the module acts as if it sat behind (sim/link.h's LinkWire): 31250 paces what it
  // receives and sends at 320 microseconds a byte, as the simulated link does; 0 takes and answers
  // everything as soon as the transport carries it.
  uint32_t baud = 0;
};

// The names to choose in the updater's lists once the peer is ready.
struct PeerPorts {
  std::string transmitTo;   // the updater sends here; the module reads it
  std::string receiveFrom;  // the module answers here
};

class SimulatorPeer {
 public:
  explicit SimulatorPeer(PeerOptions options = {});
  ~SimulatorPeer();  // stops

  // Creates the ports and starts answering. False, with a text saying what failed and what to do,
  // when the ports cannot be made (no JACK server, no ALSA sequencer, no pseudo-terminals, or
  // RtMidi not built in).
  bool Start(std::string& error);
  // Stops answering and removes the ports. Harmless when not started.
  void Stop();

  bool running();
  // Valid once Start has succeeded.
  const PeerPorts& ports() const { return ports_; }
  // One line for the user or a waiting test: "kfwsim ready: transmit to \"...\", receive from
  // \"...\"".
  std::string ReadyLine() const;

  // Set identity, faults and observer here, before Start or while running.
  SimulatedModule& module() { return *module_; }

  // Sends bytes to the updater as the module's end of the link would, for tests of long or
  // broken-up messages: over a pseudo-terminal in pieces of `piece` bytes (0: at once) with
  // `pause` between them, as a slow driver hands them on; over JACK and ALSA one MIDI message at a
  // time, since those carry whole messages. False when not running or the write failed.
  bool SendRaw(const std::vector<uint8_t>& bytes, size_t piece = 0,
               std::chrono::microseconds pause = std::chrono::microseconds(0));

  class Transport;

 private:
  void Received(const uint8_t* bytes, size_t count);

  PeerOptions options_;
  std::unique_ptr<SimulatedModule> module_;
  std::unique_ptr<RealTimeline> timeline_;
  std::unique_ptr<Transport> transport_;
  std::unique_ptr<PacedModule> paced_;
  PeerPorts ports_;
  // Closes the way from the transport's thread into the module while stopping.
  std::mutex gate_;
  bool open_ = false;
};

}  // namespace kfw
