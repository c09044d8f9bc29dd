// The real-time runs on Linux: a private JACK server with the dummy driver, and a
// pseudo-terminal, each with `kfwupdate simulate` as the module in a process of its own. Both
// processes are started here and stopped by their process ids.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "base/waiting.h"
#include "bench/real_transports.h"
#include "engine/update.h"
#include "midi/backends/backends.h"
#include "midi/device.h"
#include "midi/ports.h"
#include "protocol/device_status.h"

extern char** environ;

namespace kfw::bench {

namespace {

using namespace std::chrono_literals;

// The private JACK server's period: 256 frames at 48 kHz, 5.3 ms. A message crosses JACK at the
// next period, each way, so the period is what JACK adds to every exchange. The dummy driver's
// server does not run in real time, and at 64 frames (1.3 ms) it logged hundreds of xruns an
// update on a quiet machine and lost a message in one of eight 15 s updates tried; at 256 frames
// it logs a handful an update, and one of twenty 128 KiB updates failed so.
constexpr int kJackPeriodFrames = 256;
constexpr int kJackRate = 48000;

// A process of ours, its standard output (and error) read line by line, written to a file, or
// thrown away.
class Child {
 public:
  ~Child() { Stop(); }

  bool Start(const std::vector<std::string>& argv, bool readOutput, std::string& why,
             const std::string& outputFile = {}) {
    buffered_.clear();
    int ends[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (readOutput) {
      if (pipe2(ends, O_CLOEXEC) != 0) {
        why = "cannot make a pipe";
        return false;
      }
      posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
      posix_spawn_file_actions_adddup2(&actions, ends[1], STDERR_FILENO);
    } else {
      // Output nobody reads would fill a pipe and stop the child.
      const char* to = outputFile.empty() ? "/dev/null" : outputFile.c_str();
      posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, to, O_WRONLY | O_CREAT | O_TRUNC,
                                       0600);
      posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    }
    std::vector<char*> args;
    std::vector<std::string> copy = argv;
    for (std::string& arg : copy) args.push_back(arg.data());
    args.push_back(nullptr);
    const int failed = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (readOutput) {
      close(ends[1]);
      out_ = ends[0];
    }
    if (failed != 0) {
      pid_ = -1;
      why = argv[0] + " could not be started";
      return false;
    }
    return true;
  }

  // Reads until a line holds `text` (true, the line in `line`), the output ends or `limit`
  // passes; `line` then holds the last line read.
  bool WaitForLine(const std::string& text, std::chrono::milliseconds limit, std::string& line) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      for (size_t newline; (newline = buffered_.find('\n')) != std::string::npos;) {
        line = buffered_.substr(0, newline);
        buffered_.erase(0, newline + 1);
        if (line.find(text) != std::string::npos) return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (out_ < 0 || left.count() <= 0) return false;
      pollfd waiting{out_, POLLIN, 0};
      if (poll(&waiting, 1, static_cast<int>(left.count())) <= 0) continue;
      char bytes[512];
      const ssize_t count = read(out_, bytes, sizeof bytes);
      if (count <= 0) {
        if (!buffered_.empty()) line = buffered_;
        return false;
      }
      buffered_.append(bytes, static_cast<size_t>(count));
    }
  }

  bool Running() { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

  // SIGTERM, and SIGKILL if it has not ended within 5 s.
  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      const auto end = std::chrono::steady_clock::now() + 5s;
      while (waitpid(pid_, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
          kill(pid_, SIGKILL);
          waitpid(pid_, nullptr, 0);
          break;
        }
        std::this_thread::sleep_for(10ms);
      }
      pid_ = -1;
    }
    if (out_ >= 0) close(out_);
    out_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffered_;
};

// Times the procedures' waits in the clock, passing everything on to the system clock.
class MeasuringClock final : public Clock {
 public:
  void SleepMilliseconds(uint32_t milliseconds) override {
    const uint64_t start = NowMicroseconds();
    SystemClock().SleepMilliseconds(milliseconds);
    waitedMicros += NowMicroseconds() - start;
  }
  uint64_t NowMicroseconds() override { return SystemClock().NowMicroseconds(); }
  bool WaitUntil(uint64_t deadlineMicros, const std::function<bool()>& ready) override {
    const uint64_t start = NowMicroseconds();
    const bool result = SystemClock().WaitUntil(deadlineMicros, ready);
    waitedMicros += NowMicroseconds() - start;
    return result;
  }
  void Wake() override { SystemClock().Wake(); }

  uint64_t waitedMicros = 0;  // written only on the procedures' thread
};

// The peer: `kfwupdate simulate` with its ready line read. JACK servers just started refuse
// clients now and then, so it is tried again for a while.
bool StartPeer(const std::string& program, const std::vector<std::string>& options, Child& peer,
               std::string& transmitTo, std::string& receiveFrom, std::string& why) {
  std::vector<std::string> argv = {program, "simulate"};
  argv.insert(argv.end(), options.begin(), options.end());
  const auto end = std::chrono::steady_clock::now() + 10s;
  std::string line;
  do {
    if (!peer.Start(argv, true, why)) return false;
    if (peer.WaitForLine("kfwsim ready", 5s, line)) {
      // kfwsim ready: transmit to "X", receive from "Y"
      const size_t t1 = line.find('"'), t2 = line.find('"', t1 + 1);
      const size_t r1 = line.find('"', t2 + 1), r2 = line.find('"', r1 + 1);
      if (r2 == std::string::npos) break;
      transmitTo = line.substr(t1 + 1, t2 - t1 - 1);
      receiveFrom = line.substr(r1 + 1, r2 - r1 - 1);
      return true;
    }
    peer.Stop();
    std::this_thread::sleep_for(200ms);
  } while (std::chrono::steady_clock::now() < end);
  why = "the simulated module did not start: " + line;
  return false;
}

// The device number of the port of that name, as the layer lists it; -1 when it is not listed.
int32_t Find(uint32_t count, MmResult (MidiDeviceLayer::*caps)(uint32_t, std::string&),
             MidiDeviceLayer& layer, const std::string& name) {
  for (uint32_t device = 0; device < count; ++device) {
    std::string listed;
    if ((layer.*caps)(device, listed) == kMmNoError && listed == name) {
      return static_cast<int32_t>(device);
    }
  }
  return -1;
}

// One update on the open transport, in one mode, timed from Connect to the final reset.
void RunOnce(MidiDeviceLayer& layer, const std::string& transmitTo, const std::string& receiveFrom,
             const std::vector<uint8_t>& file, RealRun& run) {
  const int32_t input =
      Find(layer.InGetNumDevs(), &MidiDeviceLayer::InGetDevCaps, layer, receiveFrom);
  const int32_t output =
      Find(layer.OutGetNumDevs(), &MidiDeviceLayer::OutGetDevCaps, layer, transmitTo);
  if (input < 0 || output < 0) {
    run.why = "the simulated module's ports are not listed";
    return;
  }
  MeasuringClock clock;
  InstallClock(&clock);
  InstallMidiDeviceLayer(&layer);
  fastMode = run.fast;  // before the ports open
  if (OpenPorts(input, output)) {
    DeviceInfo device;
    const auto start = std::chrono::steady_clock::now();
    const ResultCode result = RunUpdate(file.data(), static_cast<uint32_t>(file.size()), device);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.waitSeconds = clock.waitedMicros / 1e6;
    ClosePorts();
    run.ran = result == kOk;
    if (!run.ran) run.why = std::string("the update failed: ") + ResultText(result);
  } else {
    run.why = "the ports did not open";
  }
  fastMode = false;
  InstallMidiDeviceLayer(nullptr);
  InstallClock(nullptr);
}

// Both modes over one transport whose peer is running. `xruns`, where given, counts the JACK
// server's xrun reports so far: a client that misses a period misses the MIDI of that period,
// so an update that fails by a time-out says how many there were.
void RunBothModes(BackendOptions options, const std::string& transmitTo,
                  const std::string& receiveFrom, const std::vector<uint8_t>& file,
                  std::vector<RealRun>& runs, const std::function<int()>& xruns = {}) {
  std::unique_ptr<MidiDeviceLayer> layer = MakeStandardDeviceLayer(std::move(options));
  for (RealRun& run : runs) {
    const int before = xruns ? xruns() : 0;
    RunOnce(*layer, transmitTo, receiveFrom, file, run);
    if (!xruns) continue;
    const std::string count = std::to_string(xruns() - before);
    run.detail += "; the server logged " + count + " xrun reports during the run";
    if (!run.ran) {
      run.why += " (the server logged " + count +
                 " xrun reports: a JACK client that misses a period misses its MIDI)";
    }
  }
}

// The lines of the server's output that report an xrun: the driver late, or a client not done
// within its period.
int CountXruns(const std::string& serverOutput) {
  std::ifstream in(serverOutput);
  int count = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.find("XRun") != std::string::npos) ++count;
  }
  return count;
}

std::vector<RealRun> Runs(const char* transport, const std::string& detail) {
  std::vector<RealRun> runs(2);
  for (int fast = 0; fast < 2; ++fast) {
    runs[fast].transport = transport;
    runs[fast].detail = detail;
    runs[fast].fast = fast;
  }
  return runs;
}

void Skip(std::vector<RealRun>& runs, const std::string& why) {
  for (RealRun& run : runs) run.why = why;
}

std::vector<RealRun> OverJack(const std::string& program, const std::vector<uint8_t>& file,
                              uint32_t baud) {
  char detail[128];
  std::snprintf(detail, sizeof detail,
                "JACK hands each message on at its next period (%d frames at %d Hz, %.1f ms), "
                "each way",
                kJackPeriodFrames, kJackRate, kJackPeriodFrames * 1000.0 / kJackRate);
  std::vector<RealRun> runs = Runs("JACK", detail);
  const std::vector<std::string> compiled = CompiledBackendNames();
  if (std::find(compiled.begin(), compiled.end(), "JACK") == compiled.end()) {
    Skip(runs, "this build has no JACK backend (built without RtMidi)");
    return runs;
  }
  // A server of our own, which every client (ours and the peer's) reaches by its name.
  const std::string name = "kfwbench" + std::to_string(getpid());
  setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
  setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
  char serverOutput[] = "/tmp/kfwbench-jackd-XXXXXX";
  const int outputFd = mkstemp(serverOutput);
  if (outputFd >= 0) close(outputFd);
  Child jackd;
  std::string why;
  if (!jackd.Start({"jackd", "-r", "-t", "5000", "-n", name, "-d", "dummy", "-r",
                    std::to_string(kJackRate), "-p", std::to_string(kJackPeriodFrames)},
                   false, why, outputFd >= 0 ? serverOutput : "")) {
    Skip(runs, "jackd is not installed (Debian: jackd2)");
  } else {
    Child peer;
    std::string transmitTo, receiveFrom;
    if (!jackd.Running()) {
      Skip(runs, "jackd ended at its start");
    } else if (!StartPeer(program,
                          {"--in", "jack", "--out", "jack", "--baud", std::to_string(baud)}, peer,
                          transmitTo, receiveFrom, why)) {
      Skip(runs, why);
    } else {
      BackendOptions options;
      RunBothModes(std::move(options), transmitTo, receiveFrom, file, runs,
                   [&] { return outputFd >= 0 ? CountXruns(serverOutput) : 0; });
    }
    peer.Stop();
    jackd.Stop();
  }
  if (outputFd >= 0) unlink(serverOutput);
  unsetenv("JACK_DEFAULT_SERVER");
  return runs;
}

std::vector<RealRun> OverPseudoTerminal(const std::string& program,
                                        const std::vector<uint8_t>& file, uint32_t baud) {
  std::vector<RealRun> runs =
      Runs("pseudo-terminal",
           "the terminal reports a message gone once the module's process has read it, where "
           "the simulated link takes its wire time: no send wait (the normal mode's two ticks a "
           "message there)");
  Child peer;
  std::string transmitTo, receiveFrom, why;
  if (!StartPeer(program, {"--in", "pty", "--out", "pty", "--baud", std::to_string(baud)}, peer,
                 transmitTo, receiveFrom, why)) {
    Skip(runs, why);
    return runs;
  }
  BackendOptions options;
  options.systemBackends = false;
  options.rawDevicePaths = {transmitTo};
  RunBothModes(std::move(options), transmitTo, receiveFrom, file, runs);
  peer.Stop();
  return runs;
}

}  // namespace

std::vector<RealRun> RunOverRealTransports(const std::string& program,
                                           const std::vector<uint8_t>& file, uint32_t baud) {
  std::vector<RealRun> runs = OverJack(program, file, baud);
  for (RealRun& run : OverPseudoTerminal(program, file, baud)) runs.push_back(std::move(run));
  return runs;
}

}  // namespace kfw::bench
