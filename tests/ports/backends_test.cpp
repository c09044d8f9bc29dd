// The backend list and the raw-device backend over pseudo-terminals, in this process.
#include "midi/backends/backends.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "midi/backends/raw_backend.h"
#include "sim/ports.h"
#include "tests/ports/input_recorder.h"
#ifdef KFW_TEST_JACK
#include "midi/backends/rtmidi_backend.h"
#endif

namespace kfw {
namespace {

using namespace std::chrono_literals;

TEST(BackendList, SimulatorIsRequestedOnlyByOneYesOrTrue) {
  struct Case {
    const char* value;  // nullptr: unset
    bool requested;
  };
  const Case cases[] = {{nullptr, false}, {"1", true},   {"yes", true},  {"true", true},
                        {"TRUE", true},   {"Yes", true}, {"0", false},   {"no", false},
                        {"", false},      {"2", false},  {"yes ", false}};
  const char* saved = std::getenv("KFW_SIMULATOR");
  const std::string before = saved ? saved : "";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(unset)");
    if (c.value) {
      setenv("KFW_SIMULATOR", c.value, 1);
    } else {
      unsetenv("KFW_SIMULATOR");
    }
    EXPECT_EQ(SimulatorRequestedByEnvironment(), c.requested);
  }
  if (saved) {
    setenv("KFW_SIMULATOR", before.c_str(), 1);
  } else {
    unsetenv("KFW_SIMULATOR");
  }
}

TEST(BackendList, NamesFollowTheListingOrder) {
#ifdef KFW_TEST_JACK
  const std::vector<std::string> expected = {"ALSA", "JACK", "raw", "simulator"};
#else
  const std::vector<std::string> expected = {"raw", "simulator"};
#endif
  EXPECT_EQ(CompiledBackendNames(), expected);
}

TEST(BackendList, ExtraBackendsComeAfterTheRawDevices) {
  BackendOptions options;
  options.systemBackends = false;
  options.rawDevicePaths = {"/dev/kfw-no-such-device"};
  options.extraBackends.push_back(std::make_unique<SimulatedModulePorts>());
  auto layer = MakeStandardDeviceLayer(std::move(options));
  ASSERT_EQ(layer->InGetNumDevs(), 2u);
  ASSERT_EQ(layer->OutGetNumDevs(), 2u);
  std::string name;
  EXPECT_EQ(layer->InGetDevCaps(0, name), kMmNoError);
  EXPECT_EQ(name, "/dev/kfw-no-such-device");
  EXPECT_EQ(layer->OutGetDevCaps(1, name), kMmNoError);
  EXPECT_EQ(name, kSimulatedPortName);
  // A listed path that is not there fails to open with a code, not a crash.
  HMidiOut output = nullptr;
  EXPECT_EQ(layer->OutOpen(&output, 0, 0, 0, kCallbackNull), kMmBadDeviceId);
}

TEST(BackendList, WithoutSystemBackendsNothingIsListed) {
  BackendOptions options;
  options.systemBackends = false;
  auto layer = MakeStandardDeviceLayer(std::move(options));
  EXPECT_EQ(layer->InGetNumDevs(), 0u);
  EXPECT_EQ(layer->OutGetNumDevs(), 0u);
}

#ifdef KFW_TEST_JACK
TEST(BackendList, AbsentSystemsListNothingAndStayQuiet) {
  // A server name nobody runs: the JACK backend must find no server, quietly.
  const char* saved = std::getenv("JACK_DEFAULT_SERVER");
  const std::string before = saved ? saved : "";
  setenv("JACK_DEFAULT_SERVER", "kfw-nobody-runs-this", 1);
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  std::vector<std::string> inputs, outputs;
  auto jack = MakeJackBackend();
  jack->ListPorts(inputs, outputs);
  std::unique_ptr<OutputConnection> output;
  const MmResult jackOpen = jack->OpenOutput("kfwsim in:midi", output);
  // This machine may or may not have an ALSA sequencer; without one it must be as quiet.
  const bool alsaPresent = AlsaSequencerPresent();
  std::vector<std::string> alsaInputs, alsaOutputs;
  if (!alsaPresent) MakeAlsaSequencerBackend()->ListPorts(alsaInputs, alsaOutputs);
  const std::string printedOut = testing::internal::GetCapturedStdout();
  const std::string printedErr = testing::internal::GetCapturedStderr();
  if (saved) {
    setenv("JACK_DEFAULT_SERVER", before.c_str(), 1);
  } else {
    unsetenv("JACK_DEFAULT_SERVER");
  }
  EXPECT_TRUE(inputs.empty());
  EXPECT_TRUE(outputs.empty());
  EXPECT_EQ(jackOpen, kMmNoDriver);
  EXPECT_TRUE(alsaInputs.empty());
  EXPECT_TRUE(alsaOutputs.empty());
  EXPECT_EQ(printedOut, "");
  EXPECT_EQ(printedErr, "");
}
#endif

// A pseudo-terminal pair: the test plays the device at the master; the backend opens the slave
// by path.
class RawDevice : public testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0) << "no pseudo-terminals on this machine";
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    path_ = ptsname(master_);
    BackendOptions options;
    options.systemBackends = false;
    options.rawDevicePaths = {path_};
    layer_ = MakeStandardDeviceLayer(std::move(options));
  }
  void TearDown() override {
    layer_.reset();
    if (master_ >= 0) close(master_);
  }

  void WriteToHost(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // What the device received, waiting up to `timeout` for `count` bytes.
  std::vector<uint8_t> ReadAtDevice(size_t count, std::chrono::milliseconds timeout = 2000ms) {
    std::vector<uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd waiting{master_, POLLIN, 0};
      if (poll(&waiting, 1, 20) <= 0) continue;
      uint8_t buffer[4096];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
  }

  int master_ = -1;
  std::string path_;
  std::unique_ptr<PortsDeviceLayer> layer_;
};

TEST_F(RawDevice, LongSysExInPiecesArrivesAsConsecutiveFullBuffers) {
  ASSERT_EQ(layer_->InGetNumDevs(), 1u);
  test::InputRecorder recorder;
  ASSERT_EQ(recorder.Open(*layer_, 0), kMmNoError);
  const std::vector<uint8_t> message = test::PatternSysEx(2600);
  // Real-time bytes in the stream are no SysEx data; the pieces come as a slow driver gives them.
  for (size_t offset = 0; offset < message.size(); offset += 256) {
    std::vector<uint8_t> piece(
        message.begin() + static_cast<long>(offset),
        message.begin() + static_cast<long>(std::min(offset + 256, message.size())));
    piece.insert(piece.begin() + 1, 0xF8);
    WriteToHost(piece);
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_TRUE(recorder.WaitForBytes(message.size(), 2000ms));
  EXPECT_EQ(recorder.Bytes(), message);
  const auto buffers = recorder.Buffers();
  ASSERT_EQ(buffers.size(), 3u);
  EXPECT_EQ(buffers[0].size(), 1000u);
  EXPECT_EQ(buffers[1].size(), 1000u);
  EXPECT_EQ(buffers[2].size(), 600u);
}

TEST_F(RawDevice, TerminalIsRawBothWays) {
  test::InputRecorder recorder;
  ASSERT_EQ(recorder.Open(*layer_, 0), kMmNoError);
  HMidiOut output = nullptr;
  ASSERT_EQ(layer_->OutOpen(&output, 0, 0, 0, kCallbackNull), kMmNoError);

  termios settings{};
  const int probe = open(path_.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(probe, 0);
  ASSERT_EQ(tcgetattr(probe, &settings), 0);
  close(probe);
  EXPECT_EQ(settings.c_lflag & (ECHO | ICANON | ISIG), 0u);
  EXPECT_EQ(settings.c_iflag & (ICRNL | IXON), 0u);
  EXPECT_EQ(settings.c_oflag & OPOST, 0u);

  // CR, LF, Ctrl-C, Ctrl-S and Ctrl-D pass unchanged in both directions.
  const std::vector<uint8_t> touchy = {0xF0, 0x0D, 0x0A, 0x03, 0x13, 0x04, 0x7F, 0xF7};
  WriteToHost(touchy);
  ASSERT_TRUE(recorder.WaitForBytes(touchy.size(), 2000ms));
  EXPECT_EQ(recorder.Bytes(), touchy);

  std::vector<uint8_t> sent = touchy;
  MidiHdr header{sent.data(), static_cast<uint32_t>(sent.size())};
  ASSERT_EQ(layer_->OutPrepareHeader(output, &header, sizeof header), kMmNoError);
  ASSERT_EQ(layer_->OutLongMsg(output, &header, sizeof header), kMmNoError);
  EXPECT_EQ(ReadAtDevice(touchy.size()), touchy);
  EXPECT_EQ(layer_->OutUnprepareHeader(output, &header, sizeof header), kMmNoError);
  EXPECT_EQ(layer_->OutClose(output), kMmNoError);
}

TEST_F(RawDevice, MessageSentJustBeforeCloseStillLeaves) {
  HMidiOut output = nullptr;
  ASSERT_EQ(layer_->OutOpen(&output, 0, 0, 0, kCallbackNull), kMmNoError);
  std::vector<uint8_t> reset = {0xF0, 0x00, 0x7F, 0x7F, 0x7F, 0x7F, 0x10, 0x00, 0xF7};
  MidiHdr header{reset.data(), static_cast<uint32_t>(reset.size())};
  ASSERT_EQ(layer_->OutPrepareHeader(output, &header, sizeof header), kMmNoError);
  ASSERT_EQ(layer_->OutLongMsg(output, &header, sizeof header), kMmNoError);
  EXPECT_EQ(layer_->OutClose(output), kMmNoError);
  EXPECT_EQ(ReadAtDevice(reset.size()), reset);
}

TEST_F(RawDevice, OnePathIsOneDeviceOpenedOnceEachWay) {
  test::InputRecorder recorder;
  ASSERT_EQ(recorder.Open(*layer_, 0), kMmNoError);
  HMidiOut output = nullptr;
  ASSERT_EQ(layer_->OutOpen(&output, 0, 0, 0, kCallbackNull), kMmNoError);
  // A second input or output on the same path is refused as busy.
  HMidiIn secondInput = nullptr;
  EXPECT_EQ(layer_->InOpen(
                &secondInput, 0, [](HMidiIn, uint32_t, uintptr_t, uintptr_t, uintptr_t) {}, 0,
                kCallbackFunction),
            kMmAllocated);
  HMidiOut secondOutput = nullptr;
  EXPECT_EQ(layer_->OutOpen(&secondOutput, 0, 0, 0, kCallbackNull), kMmAllocated);
  // So is the device for another program (here: another backend with its own descriptor).
  auto other = MakeRawDeviceBackend({path_}, false);
  std::unique_ptr<OutputConnection> otherOutput;
  EXPECT_EQ(other->OpenOutput(path_, otherOutput), kMmAllocated);

  // Closing the input leaves the output working on the shared descriptor.
  recorder.Close();
  std::vector<uint8_t> message = {0xF0, 0x01, 0xF7};
  MidiHdr header{message.data(), 3};
  ASSERT_EQ(layer_->OutPrepareHeader(output, &header, sizeof header), kMmNoError);
  ASSERT_EQ(layer_->OutLongMsg(output, &header, sizeof header), kMmNoError);
  EXPECT_EQ(ReadAtDevice(3), message);
  EXPECT_EQ(layer_->OutUnprepareHeader(output, &header, sizeof header), kMmNoError);
  EXPECT_EQ(layer_->OutClose(output), kMmNoError);
  // With both closed the device is free again.
  EXPECT_EQ(other->OpenOutput(path_, otherOutput), kMmNoError);
}

TEST_F(RawDevice, FarEndClosingEndsReadingWithoutHangingTheClose) {
  test::InputRecorder recorder;
  ASSERT_EQ(recorder.Open(*layer_, 0), kMmNoError);
  WriteToHost({0xF0, 0x05, 0xF7});
  ASSERT_TRUE(recorder.WaitForBytes(3, 2000ms));
  close(master_);
  master_ = -1;
  std::this_thread::sleep_for(20ms);
  recorder.Close();
  EXPECT_EQ(recorder.Buffers().size(), 1u);
}

}  // namespace
}  // namespace kfw
