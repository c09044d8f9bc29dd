// End to end over real transports: the simulated module runs as a process of its own
// (kfw_sim_peer) on JACK ports of a private server, or on a pseudo-terminal, and this process
// lists, opens and drives those ports through the standard device layer. Real time: each test
// takes well under a few seconds.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/connect.h"
#include "midi/backends/backends.h"
#include "midi/ports.h"
#include "protocol/device_status.h"
#include "protocol/messages.h"
#include "tests/ports/input_recorder.h"
#include "tests/ports/processes.h"
#include "tests/support/doubles.h"

namespace kfw {
namespace {

using namespace std::chrono_literals;

constexpr const char* kPeerName = "QX-412 over the wire";

struct Peer {
  test::ChildProcess process;
  std::string transmitTo;
  std::string receiveFrom;
  std::string log;

  // Starts kfw_sim_peer on `transport` and waits for its ready line.
  bool Start(const std::string& transport, std::string& error) {
    log = (test::ScratchDirectory() / ("peer-" + transport + ".log")).string();
    if (!process.Start({KFW_SIM_PEER_PATH, "--transport", transport, "--name", kPeerName}, {}, log,
                       error)) {
      return false;
    }
    std::string line;
    if (!process.WaitForLine("ready\t", line, 5000ms)) {
      error = "kfw_sim_peer did not get ready:\n" + test::LogTail(log);
      return false;
    }
    const size_t tab = line.find('\t', 6);
    transmitTo = line.substr(6, tab - 6);
    receiveFrom = line.substr(tab + 1);
    return true;
  }
};

// Lists the ports as a front end does and returns the positions of the peer's two.
void FindPeerPositions(const Peer& peer, int32_t& receivePosition, int32_t& transmitPosition) {
  const auto& inputs = InputPortNames();
  const auto& outputs = OutputPortNames();
  const auto in = std::find(inputs.begin(), inputs.end(), peer.receiveFrom);
  const auto out = std::find(outputs.begin(), outputs.end(), peer.transmitTo);
  receivePosition = in == inputs.end() ? -1 : static_cast<int32_t>(in - inputs.begin()) + 1;
  transmitPosition = out == outputs.end() ? -1 : static_cast<int32_t>(out - outputs.begin()) + 1;
}

BackendOptions OptionsFor(const std::string& transport, const Peer& peer) {
  BackendOptions options;
  if (transport == "pty") {
    options.systemBackends = false;
    options.rawDevicePaths = {peer.transmitTo};
  }
  return options;
}

// Connect through the standard layer reads the peer's status; the reset sent right before the
// ports close reaches the peer.
void ConnectsAndResetsOnClose(const std::string& transport) {
  test::RecordingBoxes boxes;
  test::RecordingPortLists lists;
  Peer peer;
  std::string error;
  ASSERT_TRUE(peer.Start(transport, error)) << error;

  auto layer = MakeStandardDeviceLayer(OptionsFor(transport, peer));
  InstallMidiDeviceLayer(layer.get());
  ASSERT_TRUE(FillPortLists());
  int32_t receivePosition, transmitPosition;
  FindPeerPositions(peer, receivePosition, transmitPosition);
  ASSERT_GT(receivePosition, 0) << peer.receiveFrom << " is not listed in \"Receive from\"";
  ASSERT_GT(transmitPosition, 0) << peer.transmitTo << " is not listed in \"Transmit to\"";
  ASSERT_TRUE(OpenPorts(InputDeviceAt(receivePosition), OutputDeviceAt(transmitPosition)))
      << (boxes.Errors().empty() ? "" : boxes.Errors().front());

  DeviceInfo info;
  EXPECT_EQ(Connect(info), kOk);
  EXPECT_STREQ(info.productName, kPeerName);
  EXPECT_STREQ(info.serialText, "4b5804120001");
  EXPECT_EQ(info.versionMajor, 1);
  EXPECT_EQ(info.versionMinor, 2);

  SendReset(0);
  ClosePorts();
  std::string line;
  EXPECT_TRUE(peer.process.WaitForLine("event 10 00", line, 2000ms))
      << "the reset sent before closing did not reach the peer";
  InstallMidiDeviceLayer(nullptr);
  EXPECT_TRUE(boxes.Errors().empty());
  EXPECT_TRUE(boxes.Fatals().empty());
}

// A message left to the output's close, without waiting for it to drain: the close waits.
void MessageLeftToCloseArrives(const std::string& transport) {
  Peer peer;
  std::string error;
  ASSERT_TRUE(peer.Start(transport, error)) << error;
  auto layer = MakeStandardDeviceLayer(OptionsFor(transport, peer));
  const auto& outputs = layer->Outputs();
  const auto found = std::find_if(outputs.begin(), outputs.end(),
                                  [&](const auto& port) { return port.name == peer.transmitTo; });
  ASSERT_NE(found, outputs.end());
  for (uint8_t argument : {3, 4}) {
    HMidiOut output = nullptr;
    ASSERT_EQ(layer->OutOpen(&output, static_cast<uint32_t>(found - outputs.begin()), 0, 0,
                             kCallbackNull),
              kMmNoError);
    std::vector<uint8_t> reset = {0xF0, 0x00, 0x7F, 0x7F, 0x7F, 0x7F, 0x10, argument, 0xF7};
    MidiHdr header{reset.data(), static_cast<uint32_t>(reset.size())};
    ASSERT_EQ(layer->OutPrepareHeader(output, &header, sizeof header), kMmNoError);
    ASSERT_EQ(layer->OutLongMsg(output, &header, sizeof header), kMmNoError);
    ASSERT_EQ(layer->OutClose(output), kMmNoError);
    std::string line;
    EXPECT_TRUE(peer.process.WaitForLine("event 10 0" + std::to_string(argument), line, 2000ms))
        << "reset " << int(argument);
  }
}

// A SysEx message longer than the 1000-byte input buffer, sent by the peer (over the terminal in
// 200-byte pieces a few milliseconds apart), arrives as consecutive buffers, whole and in order.
void LongSysExFromPeerArrivesInOrder(const std::string& transport) {
  Peer peer;
  std::string error;
  ASSERT_TRUE(peer.Start(transport, error)) << error;
  auto layer = MakeStandardDeviceLayer(OptionsFor(transport, peer));
  const auto& inputs = layer->Inputs();
  const auto found = std::find_if(inputs.begin(), inputs.end(),
                                  [&](const auto& port) { return port.name == peer.receiveFrom; });
  ASSERT_NE(found, inputs.end());
  test::InputRecorder recorder;
  ASSERT_EQ(recorder.Open(*layer, static_cast<uint32_t>(found - inputs.begin())), kMmNoError);

  for (size_t length : {2600u, 3000u}) {
    SCOPED_TRACE(length);
    const size_t before = recorder.Bytes().size();
    const size_t buffersBefore = recorder.Buffers().size();
    ASSERT_TRUE(peer.process.WriteLine("sysex " + std::to_string(length) + " 200 3000"));
    std::string line;
    ASSERT_TRUE(peer.process.WaitForLine("sent", line, 3000ms));
    ASSERT_TRUE(recorder.WaitForBytes(before + length, 3000ms));
    const auto bytes = recorder.Bytes();
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + static_cast<long>(before), bytes.end()),
              test::PatternSysEx(length));
    const auto buffers = recorder.Buffers();
    for (size_t i = buffersBefore; i + 1 < buffers.size(); ++i) {
      EXPECT_EQ(buffers[i].size(), test::InputRecorder::kBufferSize) << "buffer " << i;
    }
    EXPECT_EQ(buffers.back().back(), 0xF7);
  }
}

TEST(PseudoTerminalTransport, ConnectsAndResetsOnClose) {
  ConnectsAndResetsOnClose("pty");
}
TEST(PseudoTerminalTransport, MessageLeftToCloseArrives) {
  MessageLeftToCloseArrives("pty");
}
TEST(PseudoTerminalTransport, LongSysExFromPeerArrivesInOrder) {
  LongSysExFromPeerArrivesInOrder("pty");
}

#ifdef KFW_TEST_JACK

// One private JACK server for the suite; every test fails with the reason if it cannot start.
class JackTransport : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new test::PrivateJackServer;
    if (!server_->Start(startError_)) startError_ = "jackd could not start: " + startError_;
  }
  static void TearDownTestSuite() {
    server_->Stop();
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(startError_.empty()) << startError_; }

  static test::PrivateJackServer* server_;
  static std::string startError_;
};

test::PrivateJackServer* JackTransport::server_ = nullptr;
std::string JackTransport::startError_;

TEST_F(JackTransport, ConnectsAndResetsOnClose) {
  ConnectsAndResetsOnClose("jack");
}
TEST_F(JackTransport, MessageLeftToCloseArrives) {
  MessageLeftToCloseArrives("jack");
}
TEST_F(JackTransport, LongSysExFromPeerArrivesInOrder) {
  LongSysExFromPeerArrivesInOrder("jack");
}

#endif

}  // namespace
}  // namespace kfw
