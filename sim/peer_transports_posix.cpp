// The peer's transports on POSIX systems: a pseudo-terminal of its own, an existing raw device
// through the raw-device backend, and virtual JACK or ALSA sequencer ports through RtMidi.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>

#include "midi/backends/raw_backend.h"
#include "sim/peer_transport.h"

#ifdef KFW_HAVE_RTMIDI
#include "midi/backends/rtmidi_backend.h"
#include "midi/backends/rtmidi_support.h"
#endif

namespace kfw {

namespace {

class PseudoTerminal final : public SimulatorPeer::Transport {
 public:
  ~PseudoTerminal() override {
    if (reader_.joinable()) {
      const uint8_t byte = 1;
      while (write(wakeWrite_, &byte, 1) < 0 && errno == EINTR) {
      }
      reader_.join();
    }
    for (int fd : {master_, slave_, wakeRead_, wakeWrite_}) {
      if (fd >= 0) close(fd);
    }
  }

  bool Start(ReceiveFunction receive, PeerPorts& ports, std::string& error) override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[256];
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
      error = "cannot create a pseudo-terminal: " + std::string(strerror(errno));
      return false;
    }
    // Holding the far end open keeps the master readable while the updater has not opened it
    // yet (or has closed it), and lets us switch off echo and line editing before the updater
    // comes: an echoed reply would come back to the module as a command.
    slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios settings{};
    if (slave_ < 0 || tcgetattr(slave_, &settings) != 0) {
      error = std::string("cannot open the pseudo-terminal ") + name + ": " + strerror(errno);
      return false;
    }
    cfmakeraw(&settings);
    if (tcsetattr(slave_, TCSANOW, &settings) != 0) {
      error = std::string("cannot set up the pseudo-terminal ") + name + ": " + strerror(errno);
      return false;
    }
    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
      error = "cannot create a pipe: " + std::string(strerror(errno));
      return false;
    }
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    ports.transmitTo = name;
    ports.receiveFrom = name;
    receive_ = std::move(receive);
    reader_ = std::thread([this] { ReadLoop(); });
    return true;
  }

  bool Write(const uint8_t* bytes, size_t count) override {
    // Nobody reading (the updater has closed the port) fills the terminal's queue; the bytes are
    // then dropped, as a cable with nothing at its end drops them.
    return WriteAllBefore(master_, bytes, count,
                          std::chrono::steady_clock::now() + std::chrono::seconds(1)) == 0;
  }

 private:
  void ReadLoop() {
    uint8_t buffer[4096];
    for (;;) {
      pollfd waiting[2] = {{master_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
      if (poll(waiting, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (waiting[1].revents) return;
      if (waiting[0].revents & POLLIN) {
        const ssize_t count = read(master_, buffer, sizeof buffer);
        if (count > 0) receive_(buffer, static_cast<size_t>(count));
        continue;
      }
      // We hold the far end open, so a hang-up cannot come from the updater; back off rather
      // than spin should the terminal report one all the same.
      if (waiting[0].revents) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  int master_ = -1;
  int slave_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  ReceiveFunction receive_;
  std::thread reader_;
};

// An existing device (a serial line to another computer, a rawmidi port, a terminal made by
// someone else), opened through the raw-device backend like any port of the updater's.
class RawDevice final : public SimulatorPeer::Transport {
 public:
  explicit RawDevice(std::string path)
      : path_(std::move(path)), backend_(MakeRawDeviceBackend({path_}, false)) {}

  ~RawDevice() override {
    // The input first: no bytes may reach the receive function once it is gone.
    input_.reset();
    output_.reset();
  }

  bool Start(ReceiveFunction receive, PeerPorts& ports, std::string& error) override {
    receive_ = std::move(receive);
    MmResult result = backend_->OpenInput(
        path_, [this](const uint8_t* bytes, size_t count) { receive_(bytes, count); }, input_);
    if (result == kMmNoError) result = backend_->OpenOutput(path_, output_);
    if (result != kMmNoError) {
      char code[16];
      std::snprintf(code, sizeof code, "%.8x", result);
      error = "cannot open " + path_ + " (code " + code +
              "); check that it exists and no other program holds it";
      input_.reset();
      output_.reset();
      return false;
    }
    ports.transmitTo = path_;
    ports.receiveFrom = path_;
    return true;
  }

  bool Write(const uint8_t* bytes, size_t count) override {
    return output_->Send(bytes, static_cast<uint32_t>(count)) == kMmNoError;
  }

 private:
  std::string path_;
  std::unique_ptr<PortBackend> backend_;
  ReceiveFunction receive_;
  std::unique_ptr<InputConnection> input_;
  std::unique_ptr<OutputConnection> output_;
};

#ifdef KFW_HAVE_RTMIDI

// Splits a byte run into MIDI messages: a real-time byte alone, otherwise from a status byte up to
// the next status byte, an F7 ending a SysEx message with it.
std::vector<std::vector<uint8_t>> SplitMessages(const uint8_t* bytes, size_t count) {
  std::vector<std::vector<uint8_t>> messages;
  std::vector<uint8_t> current;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t byte = bytes[i];
    if (byte >= 0xF8) {
      messages.push_back({byte});
      continue;
    }
    if (byte >= 0x80 && byte != 0xF7 && !current.empty()) {
      messages.push_back(std::move(current));
      current.clear();
    }
    current.push_back(byte);
    if (byte == 0xF7) {
      messages.push_back(std::move(current));
      current.clear();
    }
  }
  if (!current.empty()) messages.push_back(std::move(current));
  return messages;
}

class VirtualPorts final : public SimulatorPeer::Transport {
 public:
  VirtualPorts(RtMidi::Api api, std::string inClient, std::string outClient)
      : api_(api), inClient_(std::move(inClient)), outClient_(std::move(outClient)) {}

  ~VirtualPorts() override {
    // The input first: no callback may run once the receive function is gone.
    in_.reset();
    out_.reset();
  }

  bool Start(ReceiveFunction receive, PeerPorts& ports, std::string& error) override {
    const char* system = api_ == RtMidi::UNIX_JACK ? "JACK" : "ALSA sequencer";
    if (!rtmidi::SystemPresent(api_)) {
      error = std::string("no ") + system +
              (api_ == RtMidi::UNIX_JACK ? " server is running; start one (jackd -d dummy)"
                                         : " device (/dev/snd/seq); load snd-seq");
      return false;
    }
    receive_ = std::move(receive);
    rtmidi::ErrorTrap listTrap;
    auto sources = rtmidi::MakeInput(api_, "kfwsim list", listTrap);
    auto destinations = rtmidi::MakeOutput(api_, "kfwsim list", listTrap);
    in_ = rtmidi::MakeInput(api_, inClient_, inTrap_);
    out_ = rtmidi::MakeOutput(api_, outClient_, outTrap_);
    if (!sources || !destinations || !in_ || !out_) {
      error = std::string("cannot reach the ") + system;
      return false;
    }
    const std::vector<std::string> sourcesBefore = rtmidi::PortNames(*sources);
    const std::vector<std::string> destinationsBefore = rtmidi::PortNames(*destinations);
    in_->ignoreTypes(false, true, true);
    in_->setCallback(&VirtualPorts::OnMessage, this);
    in_->openVirtualPort("midi");
    out_->openVirtualPort("midi");
    if (inTrap_.Take() || outTrap_.Take()) {
      error = std::string("the ") + system + " refused the ports \"" + inClient_ + "\" and \"" +
              outClient_ + "\"";
      return false;
    }
    ports.transmitTo = NewPort(destinationsBefore, rtmidi::PortNames(*destinations), inClient_);
    ports.receiveFrom = NewPort(sourcesBefore, rtmidi::PortNames(*sources), outClient_);
    if (ports.transmitTo.empty() || ports.receiveFrom.empty()) {
      error = std::string("the ports made did not appear in the ") + system + "'s lists";
      return false;
    }
    return true;
  }

  bool Write(const uint8_t* bytes, size_t count) override {
    // RtMidi sends one message per call (its ALSA encoder takes no more).
    for (const auto& message : SplitMessages(bytes, count)) {
      out_->sendMessage(message.data(), message.size());
      if (outTrap_.Take()) return false;
    }
    return true;
  }

  bool WritePieces(const uint8_t* bytes, size_t count, size_t, std::chrono::microseconds) override {
    return Write(bytes, count);
  }

 private:
  static void OnMessage(double, std::vector<unsigned char>* message, void* user) {
    if (message && !message->empty()) {
      auto* ports = static_cast<VirtualPorts*>(user);
      rtmidi::DeliverWithCancelHeldOff(
          [ports, message] { ports->receive_(message->data(), message->size()); });
    }
  }

  // The one name that is new since `before` and belongs to `client` (JACK renames a client whose
  // name is taken, "kfwsim in-01", so the prefix is matched, not the whole name).
  static std::string NewPort(const std::vector<std::string>& before,
                             const std::vector<std::string>& after, const std::string& client) {
    for (const std::string& name : after) {
      if (name.rfind(client, 0) != 0) continue;
      if (std::find(before.begin(), before.end(), name) == before.end()) return name;
    }
    return "";
  }

  RtMidi::Api api_;
  std::string inClient_;
  std::string outClient_;
  ReceiveFunction receive_;
  rtmidi::ErrorTrap inTrap_;
  rtmidi::ErrorTrap outTrap_;
  std::unique_ptr<RtMidiIn> in_;
  std::unique_ptr<RtMidiOut> out_;
};

#endif

}  // namespace

std::unique_ptr<SimulatorPeer::Transport> MakePeerTransport(const PeerOptions& options,
                                                            [[maybe_unused]] std::string& error) {
  switch (options.transport) {
    case PeerTransport::kPseudoTerminal:
      return std::make_unique<PseudoTerminal>();
    case PeerTransport::kRawDevice:
      return std::make_unique<RawDevice>(options.devicePath);
    case PeerTransport::kJack:
    case PeerTransport::kAlsaSequencer:
#ifdef KFW_HAVE_RTMIDI
      return std::make_unique<VirtualPorts>(
          options.transport == PeerTransport::kJack ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA,
          options.inPort, options.outPort);
#else
      error =
          "this build has no JACK or ALSA support (built without RtMidi); use a pseudo-terminal";
      return nullptr;
#endif
  }
  return nullptr;
}

}  // namespace kfw
