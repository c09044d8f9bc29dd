// The seams a front end installs in one step: each seam handed over is the core's while the object
// lives and is gone after it, the ports are closed through the layer that opened them before that
// layer goes, and a seam not handed over is left to whoever installed it.
#include "engine/front_end_seams.h"

#include <gtest/gtest.h>

#include <vector>

#include "midi/ports.h"
#include "tests/support/doubles.h"
#include "tests/support/test_device.h"

namespace kfw {
namespace {

class CountingStore final : public PortSettingsStore {
 public:
  bool Open() override {
    ++opened;
    return true;
  }
  bool Read(const char*, int32_t&) override { return false; }
  bool Write(const char*, int32_t) override { return true; }
  void Close() override {}
  int opened = 0;
};

TEST(InstalledSeams, HoldsWhatItIsHandedClosesThePortsBeforeTheLayerGoesAndLeavesTheRest) {
  struct Case {
    const char* name;
    bool layer, store, boxes, progress;
  };
  const std::vector<Case> cases = {{"all four", true, true, true, true},
                                   {"the layer only", true, false, false, false},
                                   {"all but the layer", false, true, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Each double installs itself, as another part of the program would; what is handed over is
    // taken out again first, so that only the object can put it in.
    test::TestDevice device;
    test::RecordingBoxes boxes;
    test::RecordingProgress progress;
    CountingStore store;
    InstallPortSettingsStore(&store);
    if (c.layer) InstallMidiDeviceLayer(nullptr);
    if (c.store) InstallPortSettingsStore(nullptr);
    if (c.boxes) InstallMessageBoxes(nullptr);
    if (c.progress) InstallProgressWindow(nullptr);

    // How many of the four a call reaches: the device's one input, a save, a box, a window.
    const auto reached = [&] {
      const size_t errors = boxes.Errors().size();
      const int saves = store.opened, windows = progress.Opened();
      ShowError("reached?");
      SavePortSettings();
      OpenProgress();
      CloseProgress();
      return std::vector<bool>{MidiInGetNumDevs() == 1, store.opened > saves,
                               boxes.Errors().size() > errors, progress.Opened() > windows};
    };
    {
      const InstalledSeams seams({.deviceLayer = c.layer ? &device : nullptr,
                                  .portSettings = c.store ? &store : nullptr,
                                  .boxes = c.boxes ? &boxes : nullptr,
                                  .progress = c.progress ? &progress : nullptr});
      EXPECT_EQ(reached(), std::vector<bool>(4, true));
      ASSERT_TRUE(FillPortLists());
      ASSERT_TRUE(OpenPorts(InputDeviceAt(1), OutputDeviceAt(1)));
    }
    EXPECT_EQ(reached(), (std::vector<bool>{!c.layer, !c.store, !c.boxes, !c.progress}));
    // Closed by the object only when it holds the layer, and then through that layer.
    EXPECT_EQ(device.InputOpen(), !c.layer);
    EXPECT_EQ(device.OutputOpen(), !c.layer);
    if (!c.layer) ClosePorts();
  }
}

}  // namespace
}  // namespace kfw
