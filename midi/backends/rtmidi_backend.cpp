#include "midi/backends/rtmidi_backend.h"

#include <jack/jack.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <thread>

#include "midi/backends/drain.h"
#include "midi/backends/rtmidi_support.h"

namespace kfw {

namespace rtmidi {

void ErrorTrap::Attach(RtMidi& midi) {
  midi.setErrorCallback(&ErrorTrap::OnError, this);
}

std::optional<RtMidiError::Type> ErrorTrap::Take(std::string* text) {
  std::lock_guard lock(mutex_);
  std::optional<RtMidiError::Type> error = error_;
  if (text) *text = text_;
  error_.reset();
  text_.clear();
  return error;
}

void ErrorTrap::OnError(RtMidiError::Type type, const std::string& text, void* user) {
  if (type == RtMidiError::WARNING || type == RtMidiError::DEBUG_WARNING) return;
  auto* trap = static_cast<ErrorTrap*>(user);
  std::lock_guard lock(trap->mutex_);
  if (!trap->error_) {
    trap->error_ = type;
    trap->text_ = text;
  }
}

MmResult ToMmResult(RtMidiError::Type type) {
  switch (type) {
    case RtMidiError::NO_DEVICES_FOUND:
      return kMmNoDriver;
    case RtMidiError::INVALID_DEVICE:
    case RtMidiError::INVALID_PARAMETER:
      return kMmBadDeviceId;
    case RtMidiError::MEMORY_ERROR:
      return kMmNoMemory;
    // Opening fails this way when ALSA refuses the subscription or JACK the port or connection:
    // most often because something else holds the port.
    case RtMidiError::DRIVER_ERROR:
      return kMmAllocated;
    default:
      return kMmError;
  }
}

namespace {

void Quiet(const char*) {}

// libjack tells a missing server on stderr by itself ("Cannot connect to server socket ...");
// a program that only looks for ports must stay quiet when JACK is not running.
void SilenceJack() {
  static std::once_flag once;
  std::call_once(once, [] {
    jack_set_error_function(Quiet);
    jack_set_info_function(Quiet);
  });
}

std::string WithoutAlsaAddress(const std::string& name) {
  // RtMidi's ALSA names end in the client and port numbers ("UM-ONE:UM-ONE MIDI 1 24:0"), which
  // change when the device is plugged in again.
  const size_t space = name.rfind(' ');
  if (space == std::string::npos) return name;
  const std::string tail = name.substr(space + 1);
  const size_t colon = tail.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == tail.size()) return name;
  for (size_t i = 0; i < tail.size(); ++i) {
    if (i != colon && (tail[i] < '0' || tail[i] > '9')) return name;
  }
  return name.substr(0, space);
}

template <typename Midi>
std::unique_ptr<Midi> Make(RtMidi::Api api, const std::string& clientName, ErrorTrap& trap) {
  if (!SystemPresent(api)) return nullptr;
  try {
    auto midi = std::make_unique<Midi>(api, clientName);
    trap.Attach(*midi);
    return midi;
  } catch (const RtMidiError&) {
    return nullptr;
  }
}

}  // namespace

bool SystemPresent(RtMidi::Api api) {
  switch (api) {
    case RtMidi::LINUX_ALSA:
      return AlsaSequencerPresent();
    case RtMidi::UNIX_JACK:
      return JackServerPeriodMicros().has_value();
    default:
      return false;
  }
}

std::unique_ptr<RtMidiIn> MakeInput(RtMidi::Api api, const std::string& clientName,
                                    ErrorTrap& trap) {
  return Make<RtMidiIn>(api, clientName, trap);
}

std::unique_ptr<RtMidiOut> MakeOutput(RtMidi::Api api, const std::string& clientName,
                                      ErrorTrap& trap) {
  return Make<RtMidiOut>(api, clientName, trap);
}

std::vector<std::string> PortNames(RtMidi& midi) {
  std::vector<std::string> names;
  const unsigned count = midi.getPortCount();
  for (unsigned i = 0; i < count; ++i) {
    std::string name = midi.getPortName(i);
    if (!name.empty()) names.push_back(std::move(name));
  }
  return names;
}

std::optional<unsigned> FindPort(RtMidi& midi, const std::string& name) {
  const unsigned count = midi.getPortCount();
  std::optional<unsigned> loose;
  int looseMatches = 0;
  for (unsigned i = 0; i < count; ++i) {
    const std::string listed = midi.getPortName(i);
    if (listed == name) return i;
    if (WithoutAlsaAddress(listed) == WithoutAlsaAddress(name)) {
      loose = i;
      ++looseMatches;
    }
  }
  if (looseMatches == 1) return loose;
  return std::nullopt;
}

}  // namespace rtmidi

bool AlsaSequencerPresent() {
  return access("/dev/snd/seq", R_OK | W_OK) == 0;
}

std::optional<uint64_t> JackServerPeriodMicros() {
  rtmidi::SilenceJack();
  jack_client_t* client = nullptr;
  // With several JACK servers running, opening a client now and then fails at once although the
  // server is there; a second try gets through. With no server every try fails in microseconds.
  for (int attempt = 0; attempt < 3 && !client; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    jack_status_t status;
    client = jack_client_open("kfwupdate probe", JackNoStartServer, &status);
  }
  if (!client) return std::nullopt;
  const uint64_t frames = jack_get_buffer_size(client);
  const uint64_t rate = jack_get_sample_rate(client);
  jack_client_close(client);
  return rate ? frames * 1'000'000 / rate : 0;
}

namespace {

inline constexpr const char* kClientName = "kfwupdate";

// Hands RtMidi's messages to the sink on a thread of our own. RtMidi calls back on JACK's
// real-time process thread, which must not wait for our locks, the reply ring or the trace file;
// the queue keeps the messages in the order they came.
class Deliverer {
 public:
  explicit Deliverer(ByteSink sink) : sink_(std::move(sink)), thread_([this] { Run(); }) {}

  // After this returns, the sink is not called again.
  ~Deliverer() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  static void OnMessage(double, std::vector<unsigned char>* message, void* user) {
    if (!message || message->empty()) return;
    auto* deliverer = static_cast<Deliverer*>(user);
    rtmidi::DeliverWithCancelHeldOff([deliverer, message] { deliverer->Queue(*message); });
  }

 private:
  void Queue(const std::vector<unsigned char>& message) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      queue_.emplace_back(message.begin(), message.end());
    }
    wake_.notify_one();
  }

  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      std::vector<uint8_t> bytes = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      sink_(bytes.data(), bytes.size());
      lock.lock();
    }
  }

  ByteSink sink_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::vector<uint8_t>> queue_;
  bool stopping_ = false;
  std::thread thread_;
};

class RtMidiInputConnection final : public InputConnection {
 public:
  RtMidiInputConnection(std::unique_ptr<rtmidi::ErrorTrap> trap, std::unique_ptr<RtMidiIn> midi,
                        std::unique_ptr<Deliverer> deliverer)
      : trap_(std::move(trap)), midi_(std::move(midi)), deliverer_(std::move(deliverer)) {}

  ~RtMidiInputConnection() override {
    // The port first: RtMidi calls the deliverer back from JACK's process thread or its ALSA
    // thread until the port is closed and that thread stopped, so freeing the deliverer before
    // would let a message arriving meanwhile read freed memory. Once RtMidi is gone nothing calls
    // back; the deliverer then stops its own thread.
    midi_.reset();
    deliverer_.reset();
  }

 private:
  std::unique_ptr<rtmidi::ErrorTrap> trap_;
  std::unique_ptr<RtMidiIn> midi_;
  std::unique_ptr<Deliverer> deliverer_;
};

class RtMidiOutputConnection final : public OutputConnection {
 public:
  RtMidiOutputConnection(std::unique_ptr<rtmidi::ErrorTrap> trap, std::unique_ptr<RtMidiOut> midi,
                         uint32_t largestMessage, uint64_t latencyMicros)
      : trap_(std::move(trap)),
        midi_(std::move(midi)),
        largestMessage_(largestMessage),
        wire_(latencyMicros) {}

  ~RtMidiOutputConnection() override {
    WaitForDrain(*this);
    midi_.reset();
  }

  MmResult Send(const uint8_t* bytes, uint32_t length) override {
    if (length > largestMessage_) return kMmInvalidParameter;
    trap_->Take();
    midi_->sendMessage(bytes, length);
    if (auto error = trap_->Take()) return rtmidi::ToMmResult(*error);
    wire_.Sent(length);
    return kMmNoError;
  }

  // RtMidi gives no report of a message having left: ALSA and JACK take it and RtMidi returns.
  // The message counts as drained once its bytes would have crossed a MIDI cable, counted from
  // the send (plus, for JACK, the period until the server takes it), which paces a long
  // run of blocks to what the cable beyond can carry and keeps the ALSA output pool from
  // overrunning.
  bool Drained() override { return wire_.Drained(); }

  // The instant is the estimate's: a thread sleeps until then.
  void WhenDrained(std::function<void()> done) override { notifier_.Request(std::move(done)); }

  uint32_t LargestMessage() const override { return largestMessage_; }

 private:
  std::unique_ptr<rtmidi::ErrorTrap> trap_;
  std::unique_ptr<RtMidiOut> midi_;
  uint32_t largestMessage_;
  WireTimeEstimate wire_;
  // Last, so that it stops before the estimate it reads goes.
  DrainNotifier notifier_{[this] { return wire_.Drained(); },
                          [this] { return std::chrono::microseconds(wire_.RemainingMicros()); }};
};

class RtMidiBackend final : public PortBackend {
 public:
  RtMidiBackend(RtMidi::Api api, std::string name) : api_(api), name_(std::move(name)) {}

  std::string Name() const override { return name_; }

  void ListPorts(std::vector<std::string>& inputs, std::vector<std::string>& outputs) override {
    if (!rtmidi::SystemPresent(api_)) return;
    rtmidi::ErrorTrap trap;
    if (auto in = rtmidi::MakeInput(api_, kClientName, trap)) {
      for (auto& name : rtmidi::PortNames(*in)) inputs.push_back(std::move(name));
    }
    if (auto out = rtmidi::MakeOutput(api_, kClientName, trap)) {
      for (auto& name : rtmidi::PortNames(*out)) outputs.push_back(std::move(name));
    }
  }

  std::string OpenFailureReason() const override { return openFailure_; }

  MmResult OpenInput(const std::string& port, ByteSink sink,
                     std::unique_ptr<InputConnection>& connection) override {
    openFailure_.clear();
    // The deliverer before the RtMidi object, for two reasons. RtMidi's JACK input starts JACK's
    // process thread as it is made, and that thread later calls the deliverer: made first, the
    // deliverer is complete before the thread exists, whereas the pointer setCallback stores
    // reaches that running thread through a plain store in RtMidi, which orders nothing.
    // And locals end in reverse order: on a failure below, the RtMidi object (and the thread
    // that could call back) goes before the deliverer.
    auto deliverer = std::make_unique<Deliverer>(std::move(sink));
    auto trap = std::make_unique<rtmidi::ErrorTrap>();
    auto midi = rtmidi::MakeInput(api_, kClientName, *trap);
    if (!midi) return NotRunning();
    const std::optional<unsigned> index = rtmidi::FindPort(*midi, port);
    if (!index) return kMmBadDeviceId;
    // RtMidi ignores SysEx unless told otherwise; clock and active sensing stay ignored.
    midi->ignoreTypes(false, true, true);
    midi->setCallback(&Deliverer::OnMessage, deliverer.get());
    midi->openPort(*index, "in");
    if (auto error = trap->Take(&openFailure_)) return rtmidi::ToMmResult(*error);
    if (!midi->isPortOpen()) return kMmError;
    connection = std::make_unique<RtMidiInputConnection>(std::move(trap), std::move(midi),
                                                         std::move(deliverer));
    return kMmNoError;
  }

  MmResult OpenOutput(const std::string& port,
                      std::unique_ptr<OutputConnection>& connection) override {
    openFailure_.clear();
    uint64_t latencyMicros = 0;
    uint32_t largestMessage = kNoMessageLimit;  // none known for the ALSA sequencer
    if (api_ == RtMidi::UNIX_JACK) {
      const std::optional<uint64_t> period = JackServerPeriodMicros();
      if (!period) return NotRunning();
      // RtMidi writes the message into a ring that the next process cycle empties.
      latencyMicros = *period;
      largestMessage = kJackLargestMessage;
    }
    auto trap = std::make_unique<rtmidi::ErrorTrap>();
    auto midi = rtmidi::MakeOutput(api_, kClientName, *trap);
    if (!midi) return NotRunning();
    const std::optional<unsigned> index = rtmidi::FindPort(*midi, port);
    if (!index) return kMmBadDeviceId;
    midi->openPort(*index, "out");
    if (auto error = trap->Take(&openFailure_)) return rtmidi::ToMmResult(*error);
    if (!midi->isPortOpen()) return kMmError;
    connection = std::make_unique<RtMidiOutputConnection>(std::move(trap), std::move(midi),
                                                          largestMessage, latencyMicros);
    return kMmNoError;
  }

 private:
  // The system has gone since the ports were listed (a JACK server stopped).
  MmResult NotRunning() {
    openFailure_ = api_ == RtMidi::UNIX_JACK ? "The JACK server is not running"
                                             : "The ALSA sequencer is not there";
    return kMmNoDriver;
  }

  RtMidi::Api api_;
  std::string name_;
  // Why the last open failed. Opens and this are asked on the procedures' thread only.
  std::string openFailure_;
};

}  // namespace

std::unique_ptr<PortBackend> MakeAlsaSequencerBackend() {
  return std::make_unique<RtMidiBackend>(RtMidi::LINUX_ALSA, "ALSA");
}

std::unique_ptr<PortBackend> MakeJackBackend() {
  return std::make_unique<RtMidiBackend>(RtMidi::UNIX_JACK, "JACK");
}

}  // namespace kfw
