// The main window's command handling with a fake window and no display, against the simulated
// module answering at once through the scriptable device (so device calls can be made to fail);
// waits run in virtual time.
#include "ui/logic/main_window_logic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <tuple>

#include "image/image_writer.h"
#include "midi/backends/backends.h"
#include "sim/module.h"
#include "sim/timeline.h"
#include "tests/support/doubles.h"
#include "tests/support/in_child.h"
#include "tests/support/test_device.h"
#include "ui/logic/program_options.h"

namespace kfw {
namespace {

using Log = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

// The main window as plain values, keeping the port settings too: what is enabled, selected and
// shown, and one ordered log of what the logic did to the window and to the settings.
class FakeWindow final : public MainWindowControls, public PortSettingsStore {
 public:
  explicit FakeWindow(MainWindowLogic& logic) : logic_(logic) { InstallPortSettingsStore(this); }
  ~FakeWindow() override { InstallPortSettingsStore(nullptr); }

  void AddPortEntry(int, const std::string&) override {}
  void SelectPortEntry(int list, int32_t position) override { selected[list] = position; }
  void EnableControl(int id, bool on) override {
    enabled[id] = on;
    log.push_back("enable " + std::to_string(id) + (on ? " on" : " off"));
  }
  int32_t SelectedPosition(int list) override {
    log.push_back("read " + std::to_string(list));
    return selected.count(list) ? selected[list] : -1;
  }
  std::string ControlText(int id) override { return texts[id]; }
  // As a dialog's edit control, the name field notifies every change of its text, the program's
  // own included, and so enters the logic again from inside the call.
  void SetControlText(int id, const std::string& text) override {
    log.push_back("text " + std::to_string(id));
    texts[id] = text;
    if (id == kImageNameField) UserTypes(text);
  }
  void PostCloseRequest() override { log.push_back("post close"); }
  void EndWindow() override { log.push_back("end"); }
  void ShowSuccess(const std::string& text) override { log.push_back("success " + text); }
  bool ChooseFile(std::string& name) override {
    log.push_back("chooser");
    // A notification from the dialog's own loop may ask for a second chooser meanwhile.
    if (std::count(log.begin(), log.end(), "chooser") < 2) logic_.ChooseImageFile();
    if (chooserAnswer) name = *chooserAnswer;
    return chooserAnswer.has_value();
  }
  ResultCode RunProcedure(const std::function<ResultCode()>& procedure) override {
    log.push_back("procedure");
    return procedure();
  }
  bool Open() override { return true; }
  bool Read(const char* name, int32_t& value) override {
    if (settings.count(name)) value = settings[name];
    return settings.count(name);
  }
  bool Write(const char* name, int32_t value) override {
    settings[name] = value;
    log.push_back("save " + std::string(name) + "=" + std::to_string(value));
    return true;
  }
  void Close() override {}

  // What a user does. Typing notifies every change but leaves the focus in the field.
  void UserSelects(int list, int32_t position) {
    selected[list] = position;
    logic_.OnCommand(list, kListSelectionChange);
  }
  void UserClicks(int id) { logic_.OnCommand(id, kClicked); }
  void UserTypes(const std::string& text) {
    texts[kImageNameField] = text;
    logic_.OnCommand(kImageNameField, kFieldUpdate);
    logic_.OnCommand(kImageNameField, kFieldChange);
  }
  void UserLeavesField() { logic_.OnCommand(kImageNameField, kFieldKillFocus); }
  bool IsEnabled(int id) { return !enabled.count(id) || enabled[id]; }

  std::map<int, bool> enabled;
  std::map<int, int32_t> selected;
  std::map<int, std::string> texts;
  Log log;
  std::optional<std::string> chooserAnswer;  // nullopt: the user cancels
  std::map<std::string, int32_t> settings;

 private:
  MainWindowLogic& logic_;
};

const Bytes kData(600, 0x2A);

// By default an image the simulated module takes: its identifiers, newer than its version 1.2.
Bytes Image(uint8_t minor = 3, uint16_t company = 0x0021) {
  return ImageWriter::Version1(company, 0x0A).Image(1, minor, kData).End().Bytes();
}

std::string WriteFile(const Bytes& bytes) {
  const std::string path = (test::ScratchDirectory() / "image.kfw").string();
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

// What every notification does first, with the first ports chosen before and now, then the rest.
Log CommonSteps(bool connectEnabled, const Log& rest = {}) {
  Log steps = {"save InputBus=1", "save OutputBus=1", "read 1004", "read 1003",
               connectEnabled ? "enable 1000 on" : "enable 1000 off"};
  steps.insert(steps.end(), rest.begin(), rest.end());
  return steps;
}

class MainWindowLogicTest : public testing::Test {
 protected:
  MainWindowLogicTest() {
    InstallClock(&time);
    module.SetEmitter([this](Bytes bytes, uint64_t) { device.Deliver(bytes); });
    device.onSend = [this](const Bytes& m) { module.Receive(m.data(), m.size()); };
  }
  ~MainWindowLogicTest() override {
    ClosePorts();
    InstallClock(nullptr);
  }

  // Set up with the first ports chosen, and connected.
  void Connect() {
    ASSERT_TRUE(logic.OnInitDialog());
    window.UserSelects(kReceiveFromList, 1);
    window.UserSelects(kTransmitToList, 1);
    window.UserClicks(kConnectButton);
    ASSERT_TRUE(logic.IsConnected());
  }

  test::RecordingBoxes boxes;
  test::TestDevice device;
  VirtualTime time;
  SimulatedModule module;
  MainWindowLogic logic{window};
  FakeWindow window{logic};
};

TEST_F(MainWindowLogicTest, SettingUpNeedsAPortEachWayAndEachEntryKeepsItsDeviceNumber) {
  device.outputNames = {};
  EXPECT_FALSE(logic.OnInitDialog());
  EXPECT_EQ(boxes.Errors(),
            Log{"No MIDI output buses available! Please install your MIDI card's Windows driver"});
  // A device whose name cannot be read has no entry, so a position no longer tells the device.
  device.inputNames = {"Unreadable", "In B"};
  device.inputCapsFailures = {0};
  device.outputNames = {"Out A", "Unreadable", "Out C"};
  device.outputCapsFailures = {1};
  ASSERT_TRUE(logic.OnInitDialog());
  window.UserSelects(kReceiveFromList, 1);
  window.UserSelects(kTransmitToList, 2);
  window.UserClicks(kConnectButton);
  EXPECT_EQ(std::pair(device.openedInputDevice, device.openedOutputDevice), std::pair(1u, 2u));
}

TEST_F(MainWindowLogicTest, EveryNotificationButFindImageWhileNotConnectedAppliesTheConnectRule) {
  ASSERT_TRUE(logic.OnInitDialog());
  for (int id : {kUpdateButton, kFindImageButton, kConnectButton}) {
    EXPECT_FALSE(window.IsEnabled(id));
  }
  // clang-format off
  const std::pair<int, int> notifications[] = {
      {kImageNameField, kFieldSetFocus}, {kImageNameField, kFieldKillFocus}, {kOkCommand, kClicked},
      {kReceiveFromList, kListDropDown}, {kReceiveFromList, kListSelectionChange},
      {kTransmitToList, kListSelectionChange}, {kFindImageButton, kClicked}};
  const std::tuple<int32_t, int32_t, bool> positions[] = {
      {-1, 1, false}, {1, -1, false}, {0, 1, false}, {1, 0, false}, {2, 1, true}};
  // clang-format on
  for (const auto& [id, code] : notifications) {
    for (const auto& [input, output, connect] : positions) {
      SCOPED_TRACE(testing::Message() << id << "/" << code << " " << input << "," << output);
      window.selected = {{kReceiveFromList, input}, {kTransmitToList, output}};
      window.EnableControl(kConnectButton, !connect);
      window.EnableControl(kFindImageButton, true);
      window.log.clear();
      logic.OnCommand(id, code);
      const bool appliesRule = id != kFindImageButton;
      // Saved first; Find image while not connected then only tells so.
      EXPECT_EQ(window.log.front().rfind("save ", 0), 0u);
      EXPECT_EQ(window.log.size() == 2, !appliesRule);
      EXPECT_EQ(window.IsEnabled(kConnectButton), appliesRule == connect);
      EXPECT_EQ(window.IsEnabled(kFindImageButton), code != kListSelectionChange);
      if (appliesRule) {
        EXPECT_EQ(std::pair(inputBus, outputBus), std::pair(input, output));
      }
    }
  }
  EXPECT_EQ(boxes.Errors(), Log(std::size(positions), "Establish a connection first!"));
}

TEST_F(MainWindowLogicTest, EscapeRunsOnlyTheCommonStepsExitPostsTheCloseAndGoesOn) {
  window.settings = {{kInputBusValue, 1}, {kOutputBusValue, 1}};
  ASSERT_TRUE(logic.OnInitDialog());
  window.log.clear();
  logic.OnCommand(kEscapeCommand, kClicked);
  EXPECT_EQ(window.log, CommonSteps(true));
  // Changed without a notification: the save still writes what the last one read.
  window.selected[kTransmitToList] = 0;
  window.log.clear();
  window.UserClicks(kExitButton);
  logic.OnCloseRequest();  // as posted
  EXPECT_EQ(window.log,
            (Log{"save InputBus=1", "save OutputBus=1", "post close", "read 1004", "read 1003",
                 "enable 1000 off", "save InputBus=1", "save OutputBus=0", "end"}));
}

TEST_F(MainWindowLogicTest, TheNameIsTakenWithAtMost248CharactersAndAChosenLongerOneIsRefused) {
  Connect();
  std::string accented;
  for (int i = 0; i < 250; ++i) accented += "\xC3\xA9";  // e-acute, two bytes each
  const std::string longest = "/" + std::string(247, 'n');
  // Cancelled, the chooser leaves the typed text to be taken; a chosen name replaces it unless the
  // field could not hold it whole.
  const std::tuple<std::string, std::optional<std::string>, std::string> cases[] = {
      {longest + "n", std::nullopt, longest},
      {accented, std::nullopt, accented.substr(0, 2 * 248)},
      {"typed", longest, longest},
      {"typed", longest + "n", "typed"}};
  for (const auto& [typed, chosen, taken] : cases) {
    window.UserTypes(typed);
    window.chooserAnswer = chosen;
    window.log.clear();
    window.UserClicks(kFindImageButton);
    EXPECT_EQ(std::count(window.log.begin(), window.log.end(), "chooser"), 1);
    EXPECT_EQ(logic.ImageFileName(), taken);
    EXPECT_EQ(window.texts[kImageNameField], chosen == taken ? taken : typed);
    EXPECT_EQ(boxes.Errors().back(), "Can't open file " + taken + " for reading");
  }
  window.UserTypes("");
  window.UserLeavesField();  // no name: nothing to check, nothing to say
  ASSERT_EQ(boxes.Errors().size(), 5u);
  EXPECT_EQ(boxes.Errors()[3],
            "The file name chosen is longer than 248 characters: move or rename the file, then "
            "choose it again");
}

enum class Fault { kNone, kPortsNotOpened, kModuleSilent, kBlockRefused, kImageGone };

// A click of Connect or Update while connected, with an image checked and a name typed since.
struct Outcome {
  const char* what;
  int click;
  Fault fault;
  std::optional<Bytes> image;     // written over the checked image before the click
  const char* error;              // nullptr: none; "": the checked image cannot be opened
  Log rest;                       // what the window sees after the common steps
  bool connected;                 // afterwards
  bool checkPasses;               // the checked image, named again, enables Update if connected
  int32_t output = 1, input = 1;  // positions at the click

  friend void PrintTo(const Outcome& row, std::ostream* out) { *out << row.what; }
};

class OutcomeTest : public MainWindowLogicTest, public testing::WithParamInterface<Outcome> {};

TEST_P(OutcomeTest, ShowsTheErrorAndSetsTheButtonsAndFields) {
  const Outcome& row = GetParam();
  const std::string image = WriteFile(Image());
  Connect();
  window.UserTypes(image);
  window.UserLeavesField();
  window.UserTypes("typed.kfw");  // taken by Connect once the ports are open, not by Update
  for (int id : {kSerialField, kVersionField, kProductField}) window.texts[id] = "old";
  window.selected = {{kTransmitToList, row.output}, {kReceiveFromList, row.input}};
  if (row.image) WriteFile(*row.image);
  if (row.fault == Fault::kImageGone) std::filesystem::remove(image);
  if (row.fault == Fault::kPortsNotOpened) device.FailNext("midiInOpen", 4);
  ModuleFaults faults;
  faults.silent = row.fault == Fault::kModuleSilent;
  if (row.fault == Fault::kBlockRefused) faults.rejectBlock = 1;
  module.SetFaults(faults);
  module.SetVersionAfterUpdate(1, 3);
  window.log.clear();
  window.UserClicks(row.click);

  EXPECT_EQ(window.log, CommonSteps(row.output > 0 && row.input > 0, row.rest));
  const Log errors =
      row.error ? Log{*row.error ? row.error : "Can't open file " + image + " for reading"} : Log{};
  EXPECT_EQ(boxes.Errors(), errors);
  EXPECT_EQ(logic.IsConnected(), row.connected);
  EXPECT_EQ(device.InputOpen() + device.OutputOpen(), 2 * row.connected);
  // std::count: the web build's libc++ has no std::ranges::count.
  const auto shown = [&](const char* entry) {
    return std::count(row.rest.begin(), row.rest.end(), entry) == 1;
  };
  const bool updated = shown("success Firmware was successfully updated.");
  EXPECT_EQ(window.texts[kSerialField], shown("text 1009") ? "4b5804120001" : "old");
  // Emptied after a run that had the firmware area erased and did not succeed.
  const bool erased = module.CountCommands(0x13) != 0;
  EXPECT_EQ(window.texts[kVersionField], !shown("text 1010") ? "old"
                                         : updated           ? "1.3"
                                         : erased            ? ""
                                                             : "1.2");
  EXPECT_EQ(window.texts[kProductField], shown("text 1011") ? "QX-412" : "old");
  EXPECT_EQ(module.ProgrammedImages(), updated ? std::vector<Bytes>{kData} : std::vector<Bytes>{});

  const bool enables = row.connected && row.checkPasses;
  window.EnableControl(kUpdateButton, !enables);
  window.UserTypes(image);
  window.UserLeavesField();
  EXPECT_EQ(window.IsEnabled(kUpdateButton), enables);
  Log checked = errors;
  if (row.connected && !row.checkPasses) checked.push_back(errors.back());
  EXPECT_EQ(boxes.Errors(), checked);
}

const Log kDropped = {"enable 3 off", "enable 1001 off"};
constexpr const char* kNoTransmit = "MIDI Transmit bus not selected";
constexpr const char* kNoReceive = "MIDI Receive bus not selected";
constexpr const char* kInUse = "midiInOpen returned 00000004. Is the MIDI port currently in use?\n";
constexpr int kConnect = kConnectButton, kUpdate = kUpdateButton;
using enum Fault;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, OutcomeTest, testing::Values(
    Outcome{"NoPortChosen", kConnect, kNone, {}, kNoTransmit, kDropped, false, false, 0, 0},
    Outcome{"NoTransmitPort", kConnect, kNone, {}, kNoTransmit, kDropped, false, false, -1, 1},
    Outcome{"NoReceivePort", kConnect, kNone, {}, kNoReceive, kDropped, false, false, 1, 0},
    Outcome{"NoReceiveSelection", kConnect, kNone, {}, kNoReceive, kDropped, false, false, 1, -1},
    Outcome{"PortsNotOpened", kConnect, kPortsNotOpened, {}, kInUse, kDropped, false, false},
    Outcome{"ModuleSilent", kConnect, kModuleSilent, {}, "MIDI Response timeout",
            {"procedure", "enable 3 off", "enable 1001 off"}, false, false},
    Outcome{"Connected", kConnect, kNone, {}, "Can't open file typed.kfw for reading",
            {"procedure", "text 1009", "text 1010", "text 1011", "success Connection established!",
             "enable 3 on", "enable 1001 off", "enable 1001 off"}, true, true},
    Outcome{"Updated", kUpdate, kNone, {}, nullptr,
            {"procedure", "text 1009", "text 1010", "success Firmware was successfully updated."},
            true, true},
    Outcome{"ImageGone", kUpdate, kImageGone, {}, "", {}, true, false},
    Outcome{"ImageEmptied", kUpdate, kNone, Bytes{}, "Update file image corrupt", {}, true, false},
    Outcome{"ImageCrcBroken", kUpdate, kNone, [] { Bytes b = Image(); b.back() ^= 1; return b; }(),
            "Update file CRC error", {}, true, false},
    Outcome{"ImageOfAnotherCompany", kUpdate, kNone, Image(3, 0x0022),
            "Update file's company ID mismatched with device", {}, true, false},
    Outcome{"SameVersionNotConfirmed", kUpdate, kNone, Image(2), "Operation canceled",
            {"procedure"}, true, true},
    Outcome{"BlockRefused", kUpdate, kBlockRefused, {}, "MIDI Reports chip programming fault",
            {"procedure", "text 1010"}, true, true}),
    [](const testing::TestParamInfo<Outcome>& row) { return std::string(row.param.what); });
// clang-format on

// How an update that did not succeed leaves the version field: as it was when the module was not
// told to erase its firmware area (it still holds that version, verified), empty once it was.
struct RunEnd {
  const char* what;
  Bytes image;
  ModuleFaults faults;
  // What the module does once it has acted on the run's own status request.
  enum { kNothing, kGoSilent, kCancelAtBlock1 } then;
  const char* error;
  const char* version;  // the field's text afterwards
  bool erased;          // the module was told to erase its firmware area

  friend void PrintTo(const RunEnd& row, std::ostream* out) { *out << row.what; }
};

ModuleFaults Faults(void (*set)(ModuleFaults&)) {
  ModuleFaults faults;
  set(faults);
  return faults;
}

class RunEndTest : public MainWindowLogicTest, public testing::WithParamInterface<RunEnd> {};

TEST_P(RunEndTest, TheVersionFieldIsEmptiedOnceTheFirmwareAreaWasErasedForARunThatFailed) {
  const RunEnd& row = GetParam();
  const std::string image = WriteFile(row.image);
  Connect();
  window.UserTypes(image);
  window.UserLeavesField();
  ASSERT_EQ(window.texts[kVersionField], "1.2");
  module.SetFaults(row.faults);
  module.SetVersionAfterUpdate(1, 3);
  bool statusSeen = false;
  module.SetObserver([&](const ModuleEvent& event) {
    if (event.command == 0x11 && !statusSeen) {
      statusSeen = true;
      if (row.then == RunEnd::kGoSilent) {
        module.SetFaults(Faults([](ModuleFaults& f) { f.silent = true; }));
      }
    }
    if (row.then == RunEnd::kCancelAtBlock1 && event.command == 0x15 && event.blockNumber == 1) {
      RequestCancel();
    }
  });
  window.UserClicks(kUpdateButton);
  module.SetObserver(nullptr);

  EXPECT_EQ(boxes.Errors(), row.error ? Log{row.error} : Log{});
  EXPECT_EQ(window.texts[kVersionField], row.version);
  EXPECT_EQ(module.CountCommands(0x13) != 0, row.erased);
  if (!row.erased) {
    EXPECT_EQ(module.Identity().state, 0);  // the module's firmware is as it was
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, RunEndTest, testing::Values(
    RunEnd{"SameVersionDeclined", Image(2), {}, RunEnd::kNothing, "Operation canceled", "1.2",
           false},
    RunEnd{"EraseUnanswered", Image(), {}, RunEnd::kGoSilent, "MIDI Response timeout", "", true},
    RunEnd{"EraseFailed", Image(), Faults([](ModuleFaults& f) { f.eraseResult = 1; }),
           RunEnd::kNothing, "Region erase failure", "", true},
    RunEnd{"BlockRefused", Image(), Faults([](ModuleFaults& f) { f.rejectBlock = 1; }),
           RunEnd::kNothing, "MIDI Reports chip programming fault", "", true},
    RunEnd{"CanceledBetweenBlocks", Image(), {}, RunEnd::kCancelAtBlock1, "Operation canceled", "",
           true},
    RunEnd{"Updated", Image(), {}, RunEnd::kNothing, nullptr, "1.3", true}),
    [](const testing::TestParamInfo<RunEnd>& row) { return std::string(row.param.what); });
// clang-format on

#ifdef KFW_TEST_POSIX_SYSTEM  // FIFOs are POSIX's
TEST_F(MainWindowLogicTest, AFifoAsTheImageIsRefusedWithoutWaitingForAWriter) {
  const std::string fifo = (test::ScratchDirectory() / "image.fifo").string();
  test::MakeFifo(fifo);
  Connect();
  test::ExpectInChildWithin(10, [&] {
    window.UserTypes(fifo);
    window.UserLeavesField();
    window.UserClicks(kUpdateButton);
    const Log expected(2, "Can't open file " + fifo + " for reading");
    if (boxes.Errors() != expected || window.IsEnabled(kUpdateButton))
      return std::string("not refused");
    return std::string();
  });
}
#endif

TEST(ProgramOptionsTest, LogIsATextAnywhereAndEachSwitchIsAWholeWord) {
  struct Row {
    std::vector<std::string> arguments;
    bool trace;
    bool simulator;
    bool fast = false;
  };
  const Row rows[] = {
      {{}, false, false},
      {{"-log"}, true, false},
      {{"/a", "-logfile"}, true, false},
      {{"x-log"}, true, false},
      {{"-", "log"}, false, false},
      {{"-LOG", "--simulators", "--sim", "simulator", "--faster", "fast"}, false, false},
      {{"--simulator"}, false, true},
      {{"-style", "fusion", "--simulator", "-log"}, true, true},
      {{"--fast"}, false, false, true},
  };
  // KFW_SIMULATOR=1 in the environment asks for the simulator whatever the words say.
  const bool fromEnvironment = SimulatorRequestedByEnvironment();
  for (const Row& row : rows) {
    const ProgramOptions options = ReadProgramOptions(row.arguments);
    EXPECT_EQ(options.trace, row.trace) << testing::PrintToString(row.arguments);
    EXPECT_EQ(options.simulator, row.simulator || fromEnvironment)
        << testing::PrintToString(row.arguments);
    EXPECT_EQ(options.fast, row.fast) << testing::PrintToString(row.arguments);
  }
}

}  // namespace
}  // namespace kfw
