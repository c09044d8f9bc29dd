// A device layer made of two: a scriptable one in WinMM's place and the port layer with the
// simulated module after it, as on Windows. One numbering over both, each handle back to its own
// part, the numbers held while a part gains a device; and the layer a running program gets.
#include "midi/combined_layer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/waiting.h"
#include "engine/connect.h"
#include "midi/backends/backends.h"
#include "midi/port_layer.h"
#include "midi/ports.h"
#include "midi/reception.h"
#include "midi/transmission.h"
#include "protocol/device_status.h"
#include "sim/link.h"
#include "sim/module.h"
#include "sim/module_ports.h"
#include "sim/timeline.h"
#include "tests/support/doubles.h"
#include "tests/support/test_device.h"
#ifdef _WIN32
#include "midi/backends/winmm_layer.h"
#endif

namespace kfw {
namespace {

using Entries = std::vector<std::string>;
const std::string kChoose = "(Choose a MIDI port)";

class CombinedLayer : public testing::Test {
 protected:
  CombinedLayer() {
    auto first = std::make_unique<test::TestDevice>();
    device = first.get();
    device->inputNames = {"WinMM In 1", "WinMM In 2"};
    device->outputNames = {"WinMM Out 1"};
    auto ports = std::make_unique<PortsDeviceLayer>();
    ports->AddBackend(std::make_unique<SimulatedPortBackend>(module, time));
    std::vector<std::unique_ptr<MidiDeviceLayer>> parts;
    parts.push_back(std::move(first));
    parts.push_back(std::move(ports));
    layer = std::make_unique<CombinedDeviceLayer>(std::move(parts));
    InstallMidiDeviceLayer(layer.get());
    InstallClock(&time);
  }
  ~CombinedLayer() override {
    ClosePorts();
    InstallClock(nullptr);
    InstallMidiDeviceLayer(nullptr);
  }

  VirtualTime time;
  SimulatedModule module;
  test::TestDevice* device = nullptr;
  std::unique_ptr<CombinedDeviceLayer> layer;
  test::RecordingBoxes boxes;
  test::RecordingPortLists lists;
};

TEST_F(CombinedLayer, NumbersThePartsDevicesOneAfterAnotherAndOpensEachInItsPart) {
  device->inputCapsFailures = {0};
  ASSERT_TRUE(FillPortLists());
  EXPECT_EQ(lists.entries[kReceiveFromList], (Entries{kChoose, "WinMM In 2", kSimulatedPortName}));
  EXPECT_EQ(lists.entries[kTransmitToList], (Entries{kChoose, "WinMM Out 1", kSimulatedPortName}));
  EXPECT_EQ(InputDeviceAt(2), 2);
  EXPECT_EQ(OutputDeviceAt(2), 1);

  // The simulated module, after the first part's devices: connecting runs the whole exchange
  // through the combined layer, the input buffer queued again from the callback each time.
  ASSERT_TRUE(OpenPorts(InputDeviceAt(2), OutputDeviceAt(2)));
  EXPECT_EQ(LargestSendableMessage(), kNoMessageLimit);
  DeviceInfo info;
  EXPECT_EQ(Connect(info), kOk);
  EXPECT_STREQ(info.productName, "QX-412");
  EXPECT_FALSE(device->InputOpen());
  EXPECT_FALSE(device->OutputOpen());
  ClosePorts();

  // The first part's own numbers, and a mixed pair.
  ASSERT_TRUE(OpenPorts(InputDeviceAt(1), OutputDeviceAt(1)));
  EXPECT_EQ(device->openedInputDevice, 1u);
  EXPECT_EQ(device->openedOutputDevice, 0u);
  EXPECT_TRUE(device->BufferQueued());
  ClosePorts();
  EXPECT_FALSE(device->InputOpen());
  ASSERT_TRUE(OpenPorts(InputDeviceAt(1), OutputDeviceAt(2)));
  EXPECT_TRUE(device->InputOpen());
  EXPECT_FALSE(device->OutputOpen());
  ClosePorts();
  EXPECT_FALSE(device->InputOpen());

  // Past the last part's devices there is no device.
  HMidiIn input = nullptr;
  EXPECT_EQ(MidiInOpen(&input, 3, MidiInputCallback, 0, kCallbackFunction), kMmBadDeviceId);
  std::string name;
  EXPECT_EQ(MidiOutGetDevCaps(2, name), kMmBadDeviceId);
  EXPECT_TRUE(boxes.Errors().empty());
}

TEST_F(CombinedLayer, SendsEachHandleToItsPartAndForgetsItOnlyOnceClosed) {
  ASSERT_TRUE(FillPortLists());
  ASSERT_TRUE(OpenPorts(0, 0));
  const HMidiIn input = midiIn.load();
  // A close the part refuses leaves the handle open, and the part's.
  device->FailNext("midiInClose", kMmHandleBusy);
  MidiInReset(input);
  EXPECT_EQ(MidiInUnprepareHeader(input, &inputHeader, sizeof(MidiHdr)), kMmNoError);
  EXPECT_EQ(MidiInClose(input), kMmHandleBusy);
  EXPECT_TRUE(device->InputOpen());
  EXPECT_EQ(MidiInClose(input), kMmNoError);
  EXPECT_FALSE(device->InputOpen());
  // Closed, the handle is no one's: refused here, never passed to a part.
  const size_t calls = device->Calls().size();
  EXPECT_EQ(MidiInStart(input), kMmInvalidHandle);
  EXPECT_EQ(MidiInClose(input), kMmInvalidHandle);
  EXPECT_EQ(MidiInStart(nullptr), kMmInvalidHandle);
  EXPECT_EQ(device->Calls().size(), calls);
  midiIn.store(nullptr);
}

// WinMM renumbers its devices when an interface is plugged in; the simulated module's number
// must not move onto it under lists already filled.
TEST_F(CombinedLayer, NumbersStayUntilTheNextCountWhenAPartGainsADevice) {
  ASSERT_TRUE(FillPortLists());
  device->inputNames.push_back("WinMM In 3 (plugged in)");
  device->outputNames.push_back("WinMM Out 2 (plugged in)");
  ASSERT_TRUE(OpenPorts(InputDeviceAt(3), OutputDeviceAt(2)));
  EXPECT_FALSE(device->InputOpen());
  EXPECT_FALSE(device->OutputOpen());
  DeviceInfo info;
  EXPECT_EQ(Connect(info), kOk);
  ClosePorts();

  // Listed afresh, the new devices take their places before the module.
  lists.entries.clear();
  ASSERT_TRUE(FillPortLists());
  EXPECT_EQ(lists.entries[kReceiveFromList],
            (Entries{kChoose, "WinMM In 1", "WinMM In 2", "WinMM In 3 (plugged in)",
                     kSimulatedPortName}));
  ASSERT_TRUE(OpenPorts(InputDeviceAt(3), OutputDeviceAt(2)));
  EXPECT_EQ(device->openedInputDevice, 2u);
  EXPECT_EQ(device->openedOutputDevice, 1u);
}

// The layer a running program makes: on Windows WinMM's devices (none under Wine), then the
// simulated module asked for; elsewhere, with the system's backends left out, the module alone.
TEST(StandardDeviceLayer, ListsTheSimulatedModuleAfterTheSystemsDevicesAndConnectsToIt) {
  test::RecordingBoxes boxes;
  test::RecordingPortLists lists;
  SimulatedPortsOptions quick;
  quick.link.baud = 0;
  quick.timing.answerMicros = 500;
  BackendOptions options;
  options.extraBackends.push_back(std::make_unique<SimulatedModulePorts>(quick));
  Entries inputs = {kChoose};
#ifdef _WIN32
  auto winmm = MakeWinMmDeviceLayer();
  for (uint32_t device = 0; device < winmm->InGetNumDevs(); ++device) {
    std::string name;
    if (winmm->InGetDevCaps(device, name) == kMmNoError) inputs.push_back(name);
  }
#else
  options.systemBackends = false;
#endif
  inputs.push_back(kSimulatedPortName);
  auto layer = MakeStandardDeviceLayer(std::move(options));
  InstallMidiDeviceLayer(layer.get());
  ASSERT_TRUE(FillPortLists());
  EXPECT_EQ(lists.entries[kReceiveFromList], inputs);
  const auto last = static_cast<int32_t>(inputs.size() - 1);
  ASSERT_TRUE(OpenPorts(InputDeviceAt(last), OutputDeviceAt(last)));
  DeviceInfo info;
  EXPECT_EQ(Connect(info), kOk);
  EXPECT_STREQ(info.productName, "QX-412");
  ClosePorts();
  InstallMidiDeviceLayer(nullptr);
  EXPECT_TRUE(boxes.Errors().empty());
}

}  // namespace
}  // namespace kfw
