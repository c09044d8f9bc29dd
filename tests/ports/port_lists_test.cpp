// The port lists, opening and closing the chosen pair, and the remembered choice, against the
// scriptable device and a scriptable settings store.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "midi/ports.h"
#include "midi/reception.h"
#include "midi/transmission.h"
#include "tests/support/doubles.h"
#include "tests/support/test_device.h"

namespace kfw {
namespace {

using Entries = std::vector<std::string>;

// A settings store whose every step can fail; records what was written.
class ScriptedStore final : public PortSettingsStore {
 public:
  ScriptedStore() { InstallPortSettingsStore(this); }
  ~ScriptedStore() override { InstallPortSettingsStore(nullptr); }

  bool Open() override {
    calls.push_back("open");
    return !openFails;
  }
  bool Read(const char* name, int32_t& value) override {
    calls.push_back(std::string("read ") + name);
    auto found = values.find(name);
    if (found == values.end() || unreadable.count(name)) return false;
    value = found->second;
    return true;
  }
  bool Write(const char* name, int32_t value) override {
    calls.push_back(std::string("write ") + name);
    if (unwritable.count(name)) return false;
    values[name] = value;
    return true;
  }
  void Close() override { calls.push_back("close"); }

  bool openFails = false;
  std::set<std::string> unreadable;
  std::set<std::string> unwritable;
  std::map<std::string, int32_t> values;
  std::vector<std::string> calls;
};

class PortLists : public testing::Test {
 protected:
  test::TestDevice device;
  test::RecordingBoxes boxes;
  test::RecordingPortLists lists;
};

TEST_F(PortLists, OneInputTwoOutputsListEveryDeviceAfterTheChoosePrompt) {
  device.inputNames = {"USB MIDI In"};
  device.outputNames = {"USB MIDI Out", "Synth Out"};
  ASSERT_TRUE(FillPortLists());
  EXPECT_EQ(lists.entries[kReceiveFromList], (Entries{"(Choose a MIDI port)", "USB MIDI In"}));
  EXPECT_EQ(lists.entries[kTransmitToList],
            (Entries{"(Choose a MIDI port)", "USB MIDI Out", "Synth Out"}));
  EXPECT_EQ(lists.selected[kReceiveFromList], 0);
  EXPECT_EQ(lists.selected[kTransmitToList], 0);
  EXPECT_EQ(InputPortNames(), (Entries{"USB MIDI In"}));
  EXPECT_EQ(OutputPortNames(), (Entries{"USB MIDI Out", "Synth Out"}));
  EXPECT_TRUE(boxes.Errors().empty());
}

TEST_F(PortLists, MissingInputsOrOutputsAreToldAndFail) {
  struct Case {
    Entries inputs, outputs;
    std::string error;
    size_t inputEntries, outputEntries;
  };
  const Case cases[] = {
      {{},
       {"Out"},
       "No MIDI input buses available! Please install your MIDI interface's Windows driver",
       0,
       0},
      // The input list is already filled when the missing outputs are found.
      {{"In"},
       {},
       "No MIDI output buses available! Please install your MIDI card's Windows driver",
       2,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    test::RecordingBoxes caseBoxes;
    test::RecordingPortLists caseLists;
    device.inputNames = c.inputs;
    device.outputNames = c.outputs;
    EXPECT_FALSE(FillPortLists());
    EXPECT_EQ(caseBoxes.Errors(), (Entries{c.error}));
    EXPECT_EQ(caseLists.entries[kReceiveFromList].size(), c.inputEntries);
    EXPECT_EQ(caseLists.entries[kTransmitToList].size(), c.outputEntries);
  }
}

TEST_F(PortLists, UnreadableDeviceGetsNoEntryAndLaterEntriesKeepTheirDevices) {
  device.inputNames = {"In A", "In B (broken)", "In C"};
  device.outputNames = {"Out A (broken)", "Out B"};
  device.inputCapsFailures = {1};
  device.outputCapsFailures = {0};
  ASSERT_TRUE(FillPortLists());
  EXPECT_EQ(lists.entries[kReceiveFromList], (Entries{"(Choose a MIDI port)", "In A", "In C"}));
  EXPECT_EQ(lists.entries[kTransmitToList], (Entries{"(Choose a MIDI port)", "Out B"}));
  EXPECT_TRUE(boxes.Errors().empty());

  // Position - 1 would name device 1 ("In B") for "In C" and device 0 for "Out B".
  EXPECT_EQ(InputDeviceAt(1), 0);
  EXPECT_EQ(InputDeviceAt(2), 2);
  EXPECT_EQ(OutputDeviceAt(1), 1);
  for (int32_t outside : {-1, 0, 3}) {
    EXPECT_EQ(InputDeviceAt(outside), -1) << outside;
  }
  EXPECT_EQ(OutputDeviceAt(2), -1);

  ASSERT_TRUE(OpenPorts(InputDeviceAt(2), OutputDeviceAt(1)));
  EXPECT_EQ(device.openedInputDevice, 2u);
  EXPECT_EQ(device.openedOutputDevice, 1u);
  ClosePorts();
}

TEST_F(PortLists, ChoosingSecondEntriesOpensDeviceOneAndRemembersThePositions) {
  ScriptedStore store;
  device.inputNames = {"In 0", "In 1"};
  device.outputNames = {"Out 0", "Out 1"};
  ASSERT_TRUE(FillPortLists());
  inputBus = 2;
  outputBus = 2;
  ASSERT_TRUE(OpenPorts(InputDeviceAt(inputBus), OutputDeviceAt(outputBus)));
  EXPECT_EQ(device.openedInputDevice, 1u);
  EXPECT_EQ(device.openedOutputDevice, 1u);
  EXPECT_NE(midiIn.load(), nullptr);
  EXPECT_NE(midiOut.load(), nullptr);
  EXPECT_TRUE(device.BufferQueued());
  ASSERT_TRUE(SavePortSettings());
  EXPECT_EQ(store.values[kInputBusValue], 2);
  EXPECT_EQ(store.values[kOutputBusValue], 2);
  ClosePorts();
  EXPECT_FALSE(device.InputOpen());
  EXPECT_FALSE(device.OutputOpen());
  EXPECT_EQ(midiIn.load(), nullptr);
  EXPECT_EQ(midiOut.load(), nullptr);
}

TEST_F(PortLists, OpenFailuresShowTheirCodeAndLeaveNothingOpen) {
  struct Case {
    const char* call;
    MmResult code;
    std::string text;
  };
  const Case cases[] = {
      {"midiInOpen", kMmAllocated,
       "midiInOpen returned 00000004. Is the MIDI port currently in use?\n"},
      {"midiInPrepareHeader", kMmNoMemory, "midiInPrepareHeader returned 00000007\n"},
      {"midiInAddBuffer", kMmInvalidParameter, "midiInAddBuffer returned 0000000b\n"},
      {"midiOutOpen", kMmAllocated,
       "midiOutOpen returned 00000004. Is the MIDI port currently in use?\n"},
      {"midiOutOpen", 0xDEADBEEF,
       "midiOutOpen returned deadbeef. Is the MIDI port currently in use?\n"},
  };
  ASSERT_TRUE(FillPortLists());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    test::RecordingBoxes caseBoxes;
    device.FailNext(c.call, c.code);
    EXPECT_FALSE(OpenPorts(0, 0));
    EXPECT_EQ(caseBoxes.Errors(), (Entries{c.text}));
    EXPECT_FALSE(device.InputOpen());
    EXPECT_FALSE(device.OutputOpen());
    EXPECT_FALSE(device.BufferQueued());
    EXPECT_EQ(midiIn.load(), nullptr);
    EXPECT_EQ(midiOut.load(), nullptr);
    // Nothing is held: the next Connect opens the same ports.
    ClosePorts();
    EXPECT_TRUE(OpenPorts(0, 0));
    ClosePorts();
    EXPECT_TRUE(caseBoxes.Errors().size() == 1);
  }
}

TEST_F(PortLists, FailedOutputOpenStopsInputBeforeClosingIt) {
  ASSERT_TRUE(FillPortLists());
  device.FailNext("midiOutOpen", kMmAllocated);
  EXPECT_FALSE(OpenPorts(0, 0));
  std::vector<std::string> calls = device.Calls();
  const auto at = [&](const std::string& call) {
    return std::find(calls.begin(), calls.end(), call) - calls.begin();
  };
  EXPECT_LT(at("midiInStart"), at("midiOutOpen"));
  EXPECT_LT(at("midiOutOpen"), at("midiInStop"));
  EXPECT_LT(at("midiInStop"), at("midiInClose"));
  EXPECT_EQ(device.CountCalls("midiInClose"), 1u);
}

TEST_F(PortLists, ClosePortsWithNothingOpenChangesNothing) {
  ClosePorts();
  ClosePorts();
  EXPECT_TRUE(boxes.Errors().empty());
  EXPECT_TRUE(boxes.Fatals().empty());
  EXPECT_FALSE(device.InputOpen());
  EXPECT_FALSE(device.OutputOpen());
  EXPECT_EQ(midiIn.load(), nullptr);
  EXPECT_EQ(midiOut.load(), nullptr);
}

TEST_F(PortLists, LoadedPositionsAreSelectedOrLeaveNothingSelected) {
  struct Case {
    int32_t stored;
    int32_t selected;  // -1: nothing
  };
  // Three inputs: positions 0 to 3. A position beyond the list or -1 selects nothing.
  const Case cases[] = {{2, 2}, {0, 0}, {3, 3}, {5, -1}, {4, -1}, {-1, -1}};
  device.inputNames = {"In 0", "In 1", "In 2"};
  device.outputNames = {"Out 0", "Out 1", "Out 2"};
  ASSERT_TRUE(FillPortLists());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    ScriptedStore store;
    store.values = {{kInputBusValue, c.stored}, {kOutputBusValue, c.stored}};
    lists.updateCalls.clear();
    EXPECT_TRUE(LoadPortSettings());
    EXPECT_EQ(inputBus, c.stored);
    EXPECT_EQ(outputBus, c.stored);
    EXPECT_EQ(lists.selected[kReceiveFromList], c.selected);
    EXPECT_EQ(lists.selected[kTransmitToList], c.selected);
    EXPECT_TRUE(lists.updateCalls.empty());
    EXPECT_EQ(store.calls.back(), "close");
  }
}

TEST_F(PortLists, LoadFailuresDisableUpdateSilentlyAndSelectNothing) {
  struct Case {
    const char* name;
    bool openFails;
    std::set<std::string> unreadable;
    int32_t inputAfter, outputAfter;
    bool closed;
  };
  const Case cases[] = {
      {"store cannot be opened", true, {}, -1, -1, false},
      {"InputBus unreadable", false, {kInputBusValue}, -1, -1, true},
      // InputBus keeps what was read before OutputBus failed.
      {"OutputBus unreadable", false, {kOutputBusValue}, 1, -1, true},
  };
  ASSERT_TRUE(FillPortLists());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedStore store;
    store.openFails = c.openFails;
    store.unreadable = c.unreadable;
    store.values = {{kInputBusValue, 1}, {kOutputBusValue, 1}};
    inputBus = -1;
    outputBus = -1;
    lists.updateCalls.clear();
    lists.selected.clear();
    EXPECT_FALSE(LoadPortSettings());
    EXPECT_EQ(inputBus, c.inputAfter);
    EXPECT_EQ(outputBus, c.outputAfter);
    EXPECT_EQ(lists.updateCalls, std::vector<bool>{false});
    EXPECT_TRUE(lists.selected.empty());
    EXPECT_EQ(!store.calls.empty() && store.calls.back() == "close", c.closed);
    EXPECT_TRUE(boxes.Errors().empty());
  }
}

TEST_F(PortLists, SaveFailuresDisableUpdateAndTellWhichValue) {
  struct Case {
    const char* name;
    bool openFails;
    std::set<std::string> unwritable;
    Entries errors;
    Entries calls;
  };
  const Case cases[] = {
      {"store cannot be opened", true, {}, {}, {"open"}},
      {"InputBus unwritable",
       false,
       {kInputBusValue},
       {"Unable to set the Input Bus info to the registry."},
       {"open", "write InputBus", "close"}},
      {"OutputBus unwritable",
       false,
       {kOutputBusValue},
       {"Unable to set the Output Bus info to the registry."},
       {"open", "write InputBus", "write OutputBus", "close"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::RecordingBoxes caseBoxes;
    ScriptedStore store;
    store.openFails = c.openFails;
    store.unwritable = c.unwritable;
    lists.updateCalls.clear();
    EXPECT_FALSE(SavePortSettings());
    EXPECT_EQ(caseBoxes.Errors(), c.errors);
    EXPECT_EQ(store.calls, c.calls);
    EXPECT_EQ(lists.updateCalls, std::vector<bool>{false});
  }
}

TEST_F(PortLists, NoStoreInstalledFailsLikeAStoreThatCannotOpen) {
  EXPECT_FALSE(LoadPortSettings());
  EXPECT_FALSE(SavePortSettings());
  EXPECT_EQ(lists.updateCalls, (std::vector<bool>{false, false}));
  EXPECT_TRUE(boxes.Errors().empty());
}

}  // namespace
}  // namespace kfw
