#include "midi/backends/raw_backend.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sound/asound.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "midi/backends/drain.h"

namespace kfw {

namespace {

// The system's own words for an errno value, as strerror gives them.
std::string ErrnoText(int error) {
  return std::generic_category().message(error);
}

MmResult FromErrno(int error) {
  switch (error) {
    case EBUSY:
    case EWOULDBLOCK:
      return kMmAllocated;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
      return kMmBadDeviceId;
    case EACCES:
    case EPERM:
    case EROFS:
      return kMmNotEnabled;
    case ENOMEM:
      return kMmNoMemory;
    default:
      return kMmError;
  }
}

enum class DeviceKind { kTerminal, kRawMidi, kOther };

// One open device file, shared by the input and the output opened on its path.
class RawDevice {
 public:
  // reason: why it failed, in the system's words.
  static MmResult Open(const std::string& path, std::shared_ptr<RawDevice>& device,
                       std::string& reason) {
    const auto failed = [&reason](int error) {
      reason = ErrnoText(error);
      return FromErrno(error);
    };
    // O_NONBLOCK: opening a busy device can otherwise block for ever. It stays set; reading
    // waits in poll and writing waits, boundedly, for room.
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return failed(errno);
    // A file opens, takes every byte written and answers nothing: the update would wait out every
    // reply's time-out before telling the user anything.
    struct stat status {};
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
      close(fd);
      reason = "A regular file, not a MIDI device or terminal";
      return kMmBadDeviceId;
    }
    // Two programs writing blocks to one module would ruin both updates.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      close(fd);
      return failed(error == EWOULDBLOCK ? EBUSY : error);
    }
    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
      const int error = errno;
      close(fd);
      return failed(error);
    }
    DeviceKind kind = DeviceKind::kOther;
    if (isatty(fd)) {
      kind = DeviceKind::kTerminal;
      if (!MakeRaw(fd)) {
        const int error = errno;
        close(fd);
        close(wake[0]);
        close(wake[1]);
        return failed(error);
      }
    } else {
      int version = 0;
      if (ioctl(fd, SNDRV_RAWMIDI_IOCTL_PVERSION, &version) == 0) kind = DeviceKind::kRawMidi;
    }
    device.reset(new RawDevice(fd, kind, wake[0], wake[1]));
    return kMmNoError;
  }

  ~RawDevice() {
    StopReading();
    close(fd_);
    close(wakeRead_);
    close(wakeWrite_);
  }

  bool hasInput = false;
  bool hasOutput = false;

  void StartReading(ByteSink sink) {
    sink_ = std::move(sink);
    reader_ = std::thread([this] { ReadLoop(); });
  }

  // After this returns, the sink is not called again.
  void StopReading() {
    if (!reader_.joinable()) return;
    const uint8_t byte = 1;
    while (write(wakeWrite_, &byte, 1) < 0 && errno == EINTR) {
    }
    reader_.join();
    uint8_t drained[16];
    while (read(wakeRead_, drained, sizeof drained) > 0) {
    }
    sink_ = nullptr;
  }

  MmResult Write(const uint8_t* bytes, uint32_t length) {
    // Room for the message normally appears as the line drains it; a device that takes nothing
    // for this long is stuck.
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::microseconds(length * kMidiByteMicros) +
                          std::chrono::seconds(2);
    const int error = WriteAllBefore(fd_, bytes, length, deadline);
    if (error == ETIMEDOUT) return kMidiErrNotReady;
    if (error != 0) return FromErrno(error);
    wire_.Sent(length);
    return kMmNoError;
  }

  bool Drained() {
    switch (kind_) {
      case DeviceKind::kTerminal: {
        // Bytes still in the terminal's queue: not yet. With the queue empty, tcdrain waits only
        // for the last bytes in the UART, and tells when they have left.
        int queued = 0;
        if (ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0) return false;
        return tcdrain(fd_) == 0 || errno != EINTR;
      }
      case DeviceKind::kRawMidi: {
        // The kernel bounds this wait itself (10 s) and returns once the buffer is empty.
        int stream = SNDRV_RAWMIDI_STREAM_OUTPUT;
        if (ioctl(fd_, SNDRV_RAWMIDI_IOCTL_DRAIN, &stream) == 0) return true;
        if (errno == EINTR) return false;
        return wire_.Drained();
      }
      case DeviceKind::kOther:
        return wire_.Drained();
    }
    return true;
  }

  // How long until Drained is worth asking again: the estimate's remaining time where the estimate
  // is the answer; for terminals and rawmidi devices, which tell only yes or no, a short slice.
  std::chrono::microseconds LookAgainIn() {
    if (kind_ == DeviceKind::kOther) return std::chrono::microseconds(wire_.RemainingMicros());
    return std::chrono::microseconds(1000);
  }

 private:
  RawDevice(int fd, DeviceKind kind, int wakeRead, int wakeWrite)
      : fd_(fd), kind_(kind), wakeRead_(wakeRead), wakeWrite_(wakeWrite) {}

  // No echo, no line editing, no CR/LF translation, no flow control: every byte as it is.
  static bool MakeRaw(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) return false;
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~CRTSCTS;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &settings) == 0;
  }

  void ReadLoop() {
    uint8_t buffer[4096];
    bool deviceGone = false;
    for (;;) {
      pollfd waiting[2] = {{deviceGone ? -1 : fd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
      if (poll(waiting, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (waiting[1].revents) return;
      if (waiting[0].revents & POLLIN) {
        const ssize_t count = read(fd_, buffer, sizeof buffer);
        if (count > 0) {
          sink_(buffer, static_cast<size_t>(count));
          continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        deviceGone = true;
      } else if (waiting[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        // Unplugged, or the far end of a pseudo-terminal closed: nothing more will come, and
        // polling on would spin. Wait only for the close.
        deviceGone = true;
      }
    }
  }

  int fd_;
  DeviceKind kind_;
  int wakeRead_;
  int wakeWrite_;
  ByteSink sink_;
  std::thread reader_;
  WireTimeEstimate wire_;
};

// Shared by the backend and its connections, which may outlive each other.
struct DeviceTable {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<RawDevice>> open;

  // The device open on `path`, opened now if it is not; reason: why not, when it cannot be.
  MmResult Get(const std::string& path, std::shared_ptr<RawDevice>& device, std::string& reason) {
    if (auto existing = open[path].lock()) {
      device = std::move(existing);
      return kMmNoError;
    }
    const MmResult result = RawDevice::Open(path, device, reason);
    if (result == kMmNoError) open[path] = device;
    return result;
  }
};

class RawInput final : public InputConnection {
 public:
  RawInput(std::shared_ptr<DeviceTable> table, std::shared_ptr<RawDevice> device)
      : table_(std::move(table)), device_(std::move(device)) {}
  ~RawInput() override {
    device_->StopReading();
    std::lock_guard lock(table_->mutex);
    device_->hasInput = false;
    // The device closes when its last user lets go, under the table's lock so that an open on
    // the same path cannot find it half closed.
    device_.reset();
  }

 private:
  std::shared_ptr<DeviceTable> table_;
  std::shared_ptr<RawDevice> device_;
};

class RawOutput final : public OutputConnection {
 public:
  RawOutput(std::shared_ptr<DeviceTable> table, std::shared_ptr<RawDevice> device)
      : table_(std::move(table)), device_(std::move(device)) {}
  ~RawOutput() override {
    WaitForDrain(*this);
    notifier_.reset();
    std::lock_guard lock(table_->mutex);
    device_->hasOutput = false;
    device_.reset();
  }

  MmResult Send(const uint8_t* bytes, uint32_t length) override {
    return device_->Write(bytes, length);
  }
  bool Drained() override { return device_->Drained(); }

  // Asked on a thread of its own, since the drain calls block until the bytes have gone.
  void WhenDrained(std::function<void()> done) override {
    if (!notifier_) {
      RawDevice* device = device_.get();
      notifier_ = std::make_unique<DrainNotifier>([device] { return device->Drained(); },
                                                  [device] { return device->LookAgainIn(); });
    }
    notifier_->Request(std::move(done));
  }

 private:
  std::shared_ptr<DeviceTable> table_;
  std::shared_ptr<RawDevice> device_;
  std::unique_ptr<DrainNotifier> notifier_;
};

struct RawMidiNode {
  unsigned card;
  unsigned device;
  std::string path;
};

std::vector<RawMidiNode> FindRawMidiDevices() {
  std::vector<RawMidiNode> nodes;
  DIR* directory = opendir("/dev/snd");
  if (!directory) return nodes;
  while (const dirent* entry = readdir(directory)) {
    unsigned card, device;
    char rest;
    if (std::sscanf(entry->d_name, "midiC%uD%u%c", &card, &device, &rest) == 2) {
      nodes.push_back({card, device, std::string("/dev/snd/") + entry->d_name});
    }
  }
  closedir(directory);
  std::sort(nodes.begin(), nodes.end(), [](const RawMidiNode& a, const RawMidiNode& b) {
    return a.card != b.card ? a.card < b.card : a.device < b.device;
  });
  return nodes;
}

// "UM-ONE (/dev/snd/midiC1D0)": the first line of the card's proc entry names the device.
std::string RawMidiName(const RawMidiNode& node) {
  std::ifstream info("/proc/asound/card" + std::to_string(node.card) + "/midi" +
                     std::to_string(node.device));
  std::string title;
  if (info && std::getline(info, title) && !title.empty()) {
    return title + " (" + node.path + ")";
  }
  return node.path;
}

class RawDeviceBackend final : public PortBackend {
 public:
  RawDeviceBackend(std::vector<std::string> paths, bool scanRawMidi)
      : paths_(std::move(paths)),
        scanRawMidi_(scanRawMidi),
        table_(std::make_shared<DeviceTable>()) {}

  std::string Name() const override { return "raw"; }
  std::string OpenFailureReason() const override {
    std::lock_guard lock(table_->mutex);
    return openFailure_;
  }

  void ListPorts(std::vector<std::string>& inputs, std::vector<std::string>& outputs) override {
    std::lock_guard lock(table_->mutex);
    listed_.clear();
    if (scanRawMidi_) {
      for (const RawMidiNode& node : FindRawMidiDevices()) {
        if (std::find(paths_.begin(), paths_.end(), node.path) != paths_.end()) continue;
        listed_.emplace_back(RawMidiName(node), node.path);
      }
    }
    for (const std::string& path : paths_) listed_.emplace_back(path, path);
    for (const auto& [name, path] : listed_) {
      inputs.push_back(name);
      outputs.push_back(name);
    }
  }

  MmResult OpenInput(const std::string& port, ByteSink sink,
                     std::unique_ptr<InputConnection>& connection) override {
    std::lock_guard lock(table_->mutex);
    std::shared_ptr<RawDevice> device;
    const MmResult result = Acquire(port, device);
    if (result != kMmNoError) return result;
    if (device->hasInput) return InUse();
    device->hasInput = true;
    device->StartReading(std::move(sink));
    connection = std::make_unique<RawInput>(table_, std::move(device));
    return kMmNoError;
  }

  MmResult OpenOutput(const std::string& port,
                      std::unique_ptr<OutputConnection>& connection) override {
    std::lock_guard lock(table_->mutex);
    std::shared_ptr<RawDevice> device;
    const MmResult result = Acquire(port, device);
    if (result != kMmNoError) return result;
    if (device->hasOutput) return InUse();
    device->hasOutput = true;
    connection = std::make_unique<RawOutput>(table_, std::move(device));
    return kMmNoError;
  }

 private:
  // Under the table's lock, as are the two below.
  MmResult Acquire(const std::string& port, std::shared_ptr<RawDevice>& device) {
    openFailure_.clear();
    std::string path;
    for (const auto& [name, listedPath] : listed_) {
      if (name == port) path = listedPath;
    }
    if (path.empty() && !port.empty() && port.front() == '/') path = port;
    if (path.empty()) return kMmBadDeviceId;
    return table_->Get(path, device, openFailure_);
  }
  MmResult InUse() {
    openFailure_ = "Already open in this direction";
    return kMmAllocated;
  }

  std::vector<std::string> paths_;
  bool scanRawMidi_;
  std::shared_ptr<DeviceTable> table_;
  std::vector<std::pair<std::string, std::string>> listed_;  // name, path
  std::string openFailure_;                                  // why the last open failed
};

}  // namespace

std::unique_ptr<PortBackend> MakeRawDeviceBackend(std::vector<std::string> paths,
                                                  bool scanRawMidi) {
  return std::make_unique<RawDeviceBackend>(std::move(paths), scanRawMidi);
}

int WriteAllBefore(int fd, const uint8_t* bytes, size_t count,
                   std::chrono::steady_clock::time_point deadline) {
  size_t done = 0;
  while (done < count) {
    const ssize_t written = write(fd, bytes + done, count - done);
    if (written > 0) {
      done += static_cast<size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno != EAGAIN) return errno;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return ETIMEDOUT;
    pollfd waiting{fd, POLLOUT, 0};
    poll(&waiting, 1, static_cast<int>(left.count()) + 1);
  }
  return 0;
}

}  // namespace kfw
