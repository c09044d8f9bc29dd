// End to end over real transports: the simulated module runs as a process of its own
// (kfw_sim_peer) on a pseudo-terminal or on JACK ports of a private server, and this process
// lists, opens and drives those ports as the program does. Real time: a few seconds at most.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <sstream>
#include <thread>

#include "base/report.h"
#include "base/waiting.h"
#include "engine/connect.h"
#include "midi/backends/backends.h"
#include "midi/ports.h"
#include "midi/transmission.h"
#include "tests/cli/child_process.h"
#include "tests/support/doubles.h"
#ifdef KFW_TEST_JACK
#include "midi/backends/rtmidi_backend.h"
#endif

namespace kfw {
namespace {

using namespace std::chrono_literals;

constexpr const char* kPeerName = "QX-412 over the wire";
constexpr size_t kLongSysEx = 2600;

int32_t Position(const std::vector<std::string>& names, const std::string& name) {
  return static_cast<int32_t>(std::find(names.begin(), names.end(), name) - names.begin()) + 1;
}

// Connect reads the peer's status; a SysEx message longer than the input buffer (over the
// terminal in pieces, as a slow driver hands them on) arrives as consecutive buffers, whole and in
// order; the last message, left to the close to send, reaches the peer. The output tells the
// longest message it takes.
// In the fast mode the output is opened with its done notice, which RtMidi's and the raw devices'
// outputs give from a thread of their own.
void UpdaterTalksToPeer(const std::string& transport, uint32_t largestMessage, bool fast = false) {
  fastMode = fast;
  test::RecordingBoxes boxes;
  test::RecordingPortLists lists;
  test::ChildProcess peer({KFW_SIM_PEER_PATH, "--transport", transport, "--name", kPeerName,
                           "--sysex", std::to_string(kLongSysEx)});
  ASSERT_TRUE(peer.WaitForOutput("ready\t", 5s)) << peer.Wait(1s).err;
  std::istringstream ready(peer.Output());
  std::string word, transmitTo, receiveFrom;
  std::getline(std::getline(std::getline(ready, word, '\t'), transmitTo, '\t'), receiveFrom);

  BackendOptions options;
  options.systemBackends = transport != "pty";
  if (transport == "pty") options.rawDevicePaths = {transmitTo};
  auto layer = MakeStandardDeviceLayer(std::move(options));
  InstallMidiDeviceLayer(layer.get());
  EnableTrace();
  ASSERT_TRUE(FillPortLists());
  ASSERT_TRUE(OpenPorts(InputDeviceAt(Position(InputPortNames(), receiveFrom)),
                        OutputDeviceAt(Position(OutputPortNames(), transmitTo))))
      << testing::PrintToString(boxes.Errors()) << " choosing " << receiveFrom << " and "
      << transmitTo << " in " << testing::PrintToString(lists.entries);
  EXPECT_EQ(LargestSendableMessage(), largestMessage);

  DeviceInfo info;
  EXPECT_EQ(Connect(info), kOk);
  EXPECT_STREQ(info.productName, kPeerName);
  EXPECT_STREQ(info.serialText, "4b5804120001");

  // The peer's message, traced as the input callback gets it: 1000, 1000 and 600 bytes.
  std::string expected;
  for (size_t i = 0; i < kLongSysEx; ++i) {
    const size_t byte = i == 0 ? 0xF0 : i + 1 < kLongSysEx ? (i * 7 + 3) & 0x7F : 0xF7;
    char hex[4];
    std::snprintf(hex, sizeof hex, "%.2zx ", byte);
    expected += (i % 1000 ? "" : "RX: ") + std::string(hex) +
                (i % 1000 == 999 || i + 1 == kLongSysEx ? "\n" : "");
  }
  const size_t before = test::ReadFileText(TraceFilePath()).size();
  peer.Signal(SIGUSR1);
  std::string received;
  for (auto end = std::chrono::steady_clock::now() + 3s;
       received.size() < expected.size() && std::chrono::steady_clock::now() < end;) {
    std::this_thread::sleep_for(10ms);
    received = test::ReadFileText(TraceFilePath()).substr(before);
  }
  EXPECT_EQ(received, expected);

  std::vector<uint8_t> reset = {0xF0, 0x00, 0x7F, 0x7F, 0x7F, 0x7F, 0x10, 0x00, 0xF7};
  MidiHdr header{reset.data(), static_cast<uint32_t>(reset.size())};
  ASSERT_EQ(MidiOutPrepareHeader(midiOut, &header, sizeof header), kMmNoError);
  ASSERT_EQ(MidiOutLongMsg(midiOut, &header, sizeof header), kMmNoError);
  ClosePorts();
  EXPECT_TRUE(peer.WaitForOutput("event 10 00", 2s)) << peer.Output();
  InstallMidiDeviceLayer(nullptr);
  EXPECT_TRUE(boxes.Errors().empty()) << testing::PrintToString(boxes.Errors());
  peer.Signal(SIGTERM);
  const test::ProcessResult ended = peer.Wait(5s);
  EXPECT_EQ(ended.exitStatus, 0) << ended.err;
}

TEST(PseudoTerminalTransport, UpdaterTalksToPeer) {
  UpdaterTalksToPeer("pty", kNoMessageLimit);
}

TEST(PseudoTerminalTransport, UpdaterTalksToPeerInTheFastMode) {
  UpdaterTalksToPeer("pty", kNoMessageLimit, true);
}

#ifdef KFW_TEST_JACK
// GCC says so with a macro, clang with a feature.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KFW_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(KFW_THREAD_SANITIZER)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif

// jackd with the dummy driver and no real-time scheduling (test machines rarely grant it). In
// JACK's usual asynchronous mode the server goes on to the next cycle whether or not each client
// has finished the last one, and a late client's MIDI of that cycle is lost. Under
// ThreadSanitizer the clients run many times slower, and on a loaded machine a connect or a long
// message was lost that way now and then (3 runs of the three JACK tests in 25, with two busy
// processes beside them; none in 25 synchronous). There the server runs synchronously: each cycle
// waits for every client, up to the client time-out.
std::vector<std::string> JackServerCommand(const std::string& name) {
  std::vector<std::string> command = {"/usr/bin/env", "jackd", "-r", "-t", "5000"};
  if (kThreadSanitizer) command.push_back("-S");
  command.insert(command.end(), {"-n", name, "-d", "dummy", "-p", "512"});
  return command;
}

// A private server under a name of its own; clients reach it through JACK_DEFAULT_SERVER.
class PrivateJackServer {
 public:
  PrivateJackServer()
      : name_("kfwtest" + std::to_string(getpid())),
        jackd_(JackServerCommand(name_),
               {{"JACK_NO_AUDIO_RESERVATION", "1"}, {"JACK_DEFAULT_SERVER", name_}}) {
    setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
    siginfo_t ended{};
    for (auto end = std::chrono::steady_clock::now() + 10s;
         !ready_ && !ended.si_pid && std::chrono::steady_clock::now() < end;) {
      std::this_thread::sleep_for(20ms);
      ready_ = JackServerPeriodMicros().has_value();
      waitid(P_PID, static_cast<id_t>(jackd_.pid()), &ended, WEXITED | WNOHANG | WNOWAIT);
    }
    if (!ready_) {
      jackd_.Signal(SIGKILL);
      failure_ = jackd_.Wait(5s).err;
    }
  }
  ~PrivateJackServer() {
    if (ready_) {
      jackd_.Signal(SIGTERM);
      jackd_.Wait(5s);
    }
    unsetenv("JACK_DEFAULT_SERVER");
  }
  bool ready() const { return ready_; }
  std::string Failure() const {
    return "jackd could not start (install jackd2: scripts/install-deps.sh):\n" + failure_;
  }

 private:
  std::string name_;
  test::ChildProcess jackd_;
  bool ready_ = false;
  std::string failure_;
};

TEST(JackTransport, UpdaterTalksToPeer) {
  PrivateJackServer server;
  ASSERT_TRUE(server.ready()) << server.Failure();
  UpdaterTalksToPeer("jack", kJackLargestMessage);
}

TEST(JackTransport, UpdaterTalksToPeerInTheFastMode) {
  PrivateJackServer server;
  ASSERT_TRUE(server.ready()) << server.Failure();
  UpdaterTalksToPeer("jack", kJackLargestMessage, true);
}

// RtMidi calls the input back on JACK's process thread until the port is closed: closing must
// come before the object the callback reaches is freed. The address sanitizer build catches a
// callback that reads freed memory.
TEST(JackTransport, InputClosesCleanlyWhileThePeerStreams) {
  PrivateJackServer server;
  ASSERT_TRUE(server.ready()) << server.Failure();
  test::ChildProcess peer({KFW_SIM_PEER_PATH, "--transport", "jack", "--notes-every", "50"});
  ASSERT_TRUE(peer.WaitForOutput("ready\t", 5s)) << peer.Wait(1s).err;
  std::istringstream ready(peer.Output());
  std::string word, transmitTo, receiveFrom;
  std::getline(std::getline(std::getline(ready, word, '\t'), transmitTo, '\t'), receiveFrom);

  std::atomic<size_t> delivered{0};
  auto backend = MakeJackBackend();
  for (int round = 0; round < 40; ++round) {
    std::unique_ptr<InputConnection> input;
    ASSERT_EQ(
        backend->OpenInput(
            receiveFrom, [&delivered](const uint8_t*, size_t count) { delivered += count; }, input),
        kMmNoError)
        << round;
    // Around the server's period (10.7 ms), so that some closes fall in the middle of a delivery.
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + (round % 4) * 6));
    input.reset();
  }
  // The peer's notes did reach the input, so the closes happened while messages arrived.
  EXPECT_GT(delivered.load(), 0u);
  peer.Signal(SIGTERM);
  const test::ProcessResult ended = peer.Wait(5s);
  EXPECT_EQ(ended.exitStatus, 0) << ended.err;
}
#endif

}  // namespace
}  // namespace kfw
