// How the simulator's peer reaches the updater: the transports it serves the module on (a
// pseudo-terminal, an existing raw device, virtual JACK or ALSA ports). Each is made by
// MakePeerTransport, in the file of the platform that has it (peer_transports_posix.cpp).
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "sim/peer.h"

namespace kfw {

using ReceiveFunction = std::function<void(const uint8_t*, size_t)>;

class SimulatorPeer::Transport {
 public:
  virtual ~Transport() = default;
  // Makes the ports and starts handing what arrives to `receive`, on a thread of the transport.
  virtual bool Start(ReceiveFunction receive, PeerPorts& ports, std::string& error) = 0;
  // Writes bytes as they come from the module (one or more whole messages).
  virtual bool Write(const uint8_t* bytes, size_t count) = 0;
  // Writes bytes in pieces with pauses between them, as a slow driver hands them on; see
  // SimulatorPeer::SendRaw. Transports that carry whole messages only override it.
  virtual bool WritePieces(const uint8_t* bytes, size_t count, size_t piece,
                           std::chrono::microseconds pause) {
    if (piece == 0) piece = count;
    for (size_t offset = 0; offset < count; offset += piece) {
      if (offset > 0) std::this_thread::sleep_for(pause);
      if (!Write(bytes + offset, std::min(piece, count - offset))) return false;
    }
    return true;
  }
};

// The transport that options ask for, not yet started; nullptr, with a text saying why, when this
// build has none such.
std::unique_ptr<SimulatorPeer::Transport> MakePeerTransport(const PeerOptions& options,
                                                            std::string& error);

}  // namespace kfw
