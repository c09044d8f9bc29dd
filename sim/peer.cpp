#include "sim/peer.h"

#include <future>

#include "sim/peer_transport.h"

namespace kfw {

bool ParsePeerTransport(const std::string& text, PeerTransport& transport) {
  if (text == "jack") {
    transport = PeerTransport::kJack;
  } else if (text == "alsa") {
    transport = PeerTransport::kAlsaSequencer;
  } else if (text == "pty") {
    transport = PeerTransport::kPseudoTerminal;
  } else {
    return false;
  }
  return true;
}

SimulatorPeer::SimulatorPeer(PeerOptions options)
    : options_(std::move(options)),
      module_(
          std::make_unique<SimulatedModule>(options_.identity, options_.faults, options_.timing)) {}

SimulatorPeer::~SimulatorPeer() {
  Stop();
}

bool SimulatorPeer::Start(std::string& error) {
  Stop();
  transport_ = MakePeerTransport(options_, error);
  if (!transport_) return false;
  timeline_ = std::make_unique<RealTimeline>();
  Transport* transport = transport_.get();
  paced_ = std::make_unique<PacedModule>(*module_, *timeline_, options_.baud,
                                         [transport](const std::vector<uint8_t>& bytes) {
                                           transport->Write(bytes.data(), bytes.size());
                                         });
  {
    std::lock_guard lock(gate_);
    open_ = true;
  }
  PeerPorts ports;
  if (!transport_->Start([this](const uint8_t* bytes, size_t count) { Received(bytes, count); },
                         ports, error)) {
    Stop();
    return false;
  }
  ports_ = ports;
  return true;
}

void SimulatorPeer::Received(const uint8_t* bytes, size_t count) {
  // The module works on the timeline's thread, in arrival order: the transport's thread (JACK's
  // process thread among them) only hands the bytes over.
  std::lock_guard lock(gate_);
  if (!open_) return;
  paced_->Receive(bytes, count);
}

void SimulatorPeer::Stop() {
  {
    std::lock_guard lock(gate_);
    open_ = false;
  }
  paced_.reset();  // the module emits nothing more
  // The timeline before the transport: its pending writes point at the transport.
  timeline_.reset();
  transport_.reset();
}

bool SimulatorPeer::running() {
  std::lock_guard lock(gate_);
  return open_;
}

std::string SimulatorPeer::ReadyLine() const {
  return "kfwsim ready: transmit to \"" + ports_.transmitTo + "\", receive from \"" +
         ports_.receiveFrom + "\"";
}

bool SimulatorPeer::SendRaw(const std::vector<uint8_t>& bytes, size_t piece,
                            std::chrono::microseconds pause) {
  if (!running() || !transport_) return false;
  // On the timeline's thread, like the module's replies, so the two never write at once.
  std::promise<bool> written;
  std::future<bool> result = written.get_future();
  Transport* transport = transport_.get();
  timeline_->At(timeline_->NowMicroseconds(), [&written, transport, &bytes, piece, pause] {
    written.set_value(transport->WritePieces(bytes.data(), bytes.size(), piece, pause));
  });
  return result.get();
}

}  // namespace kfw
