// The main window's command handling with a fake window and no display. The module is the
// simulated one, answering at once through the scriptable device (so any device call can also be
// made to fail); waits run in virtual time.
#include "ui/logic/main_window_logic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "image/image_file.h"
#include "image/image_writer.h"
#include "image/report.h"
#include "midi/ports.h"
#include "protocol/device_status.h"
#include "sim/module.h"
#include "sim/timeline.h"
#include "tests/support/doubles.h"
#include "tests/support/test_device.h"
#include "tests/ui/fake_window.h"

namespace kfw {
namespace {

constexpr const char* kTransmitNotSelected = "MIDI Transmit bus not selected";
constexpr const char* kReceiveNotSelected = "MIDI Receive bus not selected";
constexpr const char* kEstablishFirst = "Establish a connection first!";

std::vector<uint8_t> SevenBitData(size_t size) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>((i * 13 + 5) & 0x7F);
  return data;
}

std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::filesystem::path path = test::ScratchDirectory() / name;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

// An image the simulated module takes: its identifiers, a newer version than the module's 1.2.
std::vector<uint8_t> GoodImage(const std::vector<uint8_t>& data = SevenBitData(600)) {
  return ImageWriter::Version1(0x0021, 0x0A).Image(1, 3, data).End().Bytes();
}

size_t IndexOf(const std::vector<std::string>& log, const std::string& entry) {
  return static_cast<size_t>(std::find(log.begin(), log.end(), entry) - log.begin());
}

bool Contains(const std::vector<std::string>& log, const std::string& entry) {
  return IndexOf(log, entry) < log.size();
}

class MainWindowLogicTest : public testing::Test {
 protected:
  MainWindowLogicTest() : settings(window.log), logic(window) {
    window.logic = &logic;
    device.inputNames = {"In A", "In B"};
    device.outputNames = {"Out A", "Out B"};
    InstallClock(&time);
    module.SetEmitter([this](std::vector<uint8_t> bytes, uint64_t) { device.Deliver(bytes); });
    device.onSend = [this](const std::vector<uint8_t>& message) {
      module.Receive(message.data(), message.size());
    };
  }
  ~MainWindowLogicTest() override {
    ClosePorts();
    InstallClock(nullptr);
  }

  void InitAndChoosePorts() {
    ASSERT_TRUE(logic.OnInitDialog());
    window.UserSelects(kReceiveFromList, 1);
    window.UserSelects(kTransmitToList, 1);
    ASSERT_TRUE(window.IsEnabled(kConnectButton));
  }

  void ConnectToModule() {
    InitAndChoosePorts();
    window.UserClicks(kConnectButton);
    ASSERT_TRUE(logic.IsConnected()) << testing::PrintToString(boxes.Errors());
  }

  // Connected, with a good image chosen and Update enabled.
  void ReadyToUpdate(const std::vector<uint8_t>& image = GoodImage()) {
    ConnectToModule();
    window.UserTypes(WriteFile("ready.kfw", image));
    window.UserLeavesField();
    ASSERT_TRUE(window.IsEnabled(kUpdateButton)) << testing::PrintToString(boxes.Errors());
  }

  test::RecordingBoxes boxes;
  test::TestDevice device;
  VirtualTime time;
  SimulatedModule module;
  test::FakeWindow window;
  test::MemoryPortSettings settings;
  MainWindowLogic logic;
};

// --- Setting up ---

TEST_F(MainWindowLogicTest, SettingUpDisablesTheButtonsFillsTheListsAndSelectsTheRememberedPorts) {
  settings.values = {{kInputBusValue, 2}, {kOutputBusValue, 1}};
  ASSERT_TRUE(logic.OnInitDialog());
  EXPECT_FALSE(window.IsEnabled(kUpdateButton));
  EXPECT_FALSE(window.IsEnabled(kFindImageButton));
  EXPECT_FALSE(window.IsEnabled(kConnectButton));
  EXPECT_EQ(window.entries[kReceiveFromList],
            (std::vector<std::string>{kChooseAPort, "In A", "In B"}));
  EXPECT_EQ(window.entries[kTransmitToList],
            (std::vector<std::string>{kChooseAPort, "Out A", "Out B"}));
  EXPECT_EQ(window.selected[kReceiveFromList], 2);
  EXPECT_EQ(window.selected[kTransmitToList], 1);
  // The Connect rule waits for the first notification.
  EXPECT_FALSE(window.IsEnabled(kConnectButton));
  logic.OnCommand(kImageNameField, kFieldSetFocus);
  EXPECT_TRUE(window.IsEnabled(kConnectButton));
}

TEST_F(MainWindowLogicTest, SettingUpFailsWithoutAnInputOrAnOutputPort) {
  struct Case {
    std::vector<std::string> inputs, outputs;
    std::string message;
  };
  const Case cases[] = {
      {{},
       {"Out"},
       "No MIDI input buses available! Please install your MIDI interface's Windows driver"},
      {{"In"},
       {},
       "No MIDI output buses available! Please install your MIDI card's Windows driver"},
  };
  for (const Case& c : cases) {
    test::RecordingBoxes caseBoxes;
    device.inputNames = c.inputs;
    device.outputNames = c.outputs;
    test::FakeWindow caseWindow;
    MainWindowLogic caseLogic(caseWindow);
    EXPECT_FALSE(caseLogic.OnInitDialog());
    EXPECT_EQ(caseBoxes.Errors(), std::vector<std::string>{c.message});
  }
}

// --- Steps common to every notification ---

TEST_F(MainWindowLogicTest, PortChoiceIsSavedBeforeTheListsAreRead) {
  settings.values = {{kInputBusValue, 1}, {kOutputBusValue, 1}};
  ASSERT_TRUE(logic.OnInitDialog());
  window.log.clear();
  window.UserSelects(kReceiveFromList, 2);
  // The save writes what was read before (here: what was loaded), then the lists are read.
  ASSERT_TRUE(Contains(window.log, "save InputBus=1"));
  EXPECT_LT(IndexOf(window.log, "save InputBus=1"), IndexOf(window.log, "read 1004"));
  EXPECT_EQ(settings.values[kInputBusValue], 1);
  EXPECT_EQ(inputBus, 2);

  window.log.clear();
  logic.OnCommand(kEscapeCommand, kClicked);
  EXPECT_EQ(window.log.front(), "save InputBus=2");
  EXPECT_EQ(settings.values[kInputBusValue], 2);
}

TEST_F(MainWindowLogicTest, ConnectIsEnabledExactlyWhenBothListsHaveAPortChosen) {
  ASSERT_TRUE(logic.OnInitDialog());
  struct Case {
    int32_t input, output;
    bool enabled;
  };
  const Case cases[] = {{-1, 1, false}, {0, 1, false}, {1, -1, false}, {1, 0, false},
                        {0, 0, false},  {1, 1, true},  {2, 1, true},   {1, 2, true}};
  for (const Case& c : cases) {
    window.selected[kReceiveFromList] = c.input;
    window.selected[kTransmitToList] = c.output;
    logic.OnCommand(kEscapeCommand, kClicked);
    EXPECT_EQ(window.IsEnabled(kConnectButton), c.enabled) << c.input << " " << c.output;
    EXPECT_EQ(inputBus, c.input);
    EXPECT_EQ(outputBus, c.output);
  }
}

TEST_F(MainWindowLogicTest, EveryKindOfNotificationAppliesTheConnectRule) {
  ASSERT_TRUE(logic.OnInitDialog());
  window.selected[kReceiveFromList] = 1;
  window.selected[kTransmitToList] = 1;
  const std::pair<int, int> notifications[] = {{kImageNameField, kFieldSetFocus},
                                               {kImageNameField, kFieldKillFocus},
                                               {kImageNameField, kFieldChange},
                                               {kReceiveFromList, kListDropDown},
                                               {kTransmitToList, kListSetFocus},
                                               {kEscapeCommand, kClicked},
                                               {kOkCommand, kClicked},
                                               {kExitButton, kClicked}};
  for (const auto& [id, code] : notifications) {
    window.EnableControl(kConnectButton, false);
    window.log.clear();
    logic.OnCommand(id, code);
    EXPECT_EQ(window.log.front().rfind("save ", 0), 0u) << id << " " << code;
    EXPECT_TRUE(window.IsEnabled(kConnectButton)) << id << " " << code;
  }
}

TEST_F(MainWindowLogicTest, EscapeRunsOnlyTheCommonStepsAndTheWindowStays) {
  ASSERT_TRUE(logic.OnInitDialog());
  window.log.clear();
  logic.OnCommand(kEscapeCommand, kClicked);
  EXPECT_EQ(window.log, (std::vector<std::string>{"save InputBus=-1", "save OutputBus=-1",
                                                  "read 1004", "read 1003", "enable 1000 off"}));
  EXPECT_FALSE(window.ended);
  EXPECT_TRUE(boxes.Errors().empty());
}

TEST_F(MainWindowLogicTest, ExitPostsACloseRequestAndTheRemainingStepsStillRun) {
  InitAndChoosePorts();
  window.selected[kTransmitToList] = 2;  // changed without a notification: only a read sees it
  window.log.clear();
  window.UserClicks(kExitButton);
  ASSERT_TRUE(Contains(window.log, "post close"));
  EXPECT_LT(IndexOf(window.log, "post close"), IndexOf(window.log, "read 1003"));
  EXPECT_FALSE(window.ended);
  EXPECT_EQ(outputBus, 2);

  window.log.clear();
  logic.OnCloseRequest();
  EXPECT_EQ(window.log, (std::vector<std::string>{"save InputBus=1", "save OutputBus=2", "end"}));
  EXPECT_TRUE(window.ended);
}

TEST_F(MainWindowLogicTest, AFailingSaveIsReportedAtEveryNotification) {
  ASSERT_TRUE(logic.OnInitDialog());
  settings.failingWrite = kInputBusValue;
  window.EnableControl(kUpdateButton, true);
  window.UserTypes("a");
  // Typing one character notifies twice (update, change): two saves, two messages.
  EXPECT_EQ(boxes.Errors(),
            std::vector<std::string>(2, "Unable to set the Input Bus info to the registry."));
  EXPECT_FALSE(window.IsEnabled(kUpdateButton));
}

// --- The lists ---

TEST_F(MainWindowLogicTest, ANewSelectionInEitherListEndsTheConnection) {
  // The same port chosen again, and "(Choose a MIDI port)", which also disables Connect.
  const std::pair<int, int32_t> selections[] = {{kReceiveFromList, 1}, {kTransmitToList, 0}};
  for (const auto& [list, position] : selections) {
    SCOPED_TRACE(list);
    ReadyToUpdate();
    // Other notifications of the lists leave the connection alone.
    logic.OnCommand(list, kListDropDown);
    logic.OnCommand(list, kListCloseUp);
    EXPECT_TRUE(logic.IsConnected());
    window.UserSelects(list, position);
    EXPECT_FALSE(logic.IsConnected());
    EXPECT_FALSE(window.IsEnabled(kFindImageButton));
    EXPECT_FALSE(window.IsEnabled(kUpdateButton));
    EXPECT_EQ(window.IsEnabled(kConnectButton), position != 0);
    ClosePorts();
  }
}

// --- Connect ---

TEST_F(MainWindowLogicTest, ConnectShowsTheModuleAndEnablesFindImage) {
  InitAndChoosePorts();
  window.UserClicks(kConnectButton);
  EXPECT_TRUE(boxes.Errors().empty()) << testing::PrintToString(boxes.Errors());
  EXPECT_TRUE(logic.IsConnected());
  EXPECT_EQ(window.texts[kSerialField], "4b5804120001");
  EXPECT_EQ(window.texts[kVersionField], "1.2");
  EXPECT_EQ(window.texts[kProductField], "QX-412");
  EXPECT_EQ(window.successes, std::vector<std::string>{"Connection established!"});
  EXPECT_TRUE(window.IsEnabled(kFindImageButton));
  EXPECT_FALSE(window.IsEnabled(kUpdateButton));  // no name yet
  EXPECT_TRUE(device.InputOpen());
  EXPECT_TRUE(device.OutputOpen());
}

TEST_F(MainWindowLogicTest, ANameTypedBeforeConnectingIsCheckedOnceTheConnectionIsConfirmed) {
  InitAndChoosePorts();
  window.UserTypes(WriteFile("typed-early.kfw", GoodImage()));  // the focus stays in the field
  window.log.clear();
  window.UserClicks(kConnectButton);
  ASSERT_TRUE(logic.IsConnected());
  EXPECT_TRUE(window.IsEnabled(kUpdateButton));
  const size_t box = IndexOf(window.log, "success Connection established!");
  ASSERT_LT(box, window.log.size());
  // Disabled after the box, then enabled by the check.
  std::vector<std::string> after(window.log.begin() + static_cast<long>(box), window.log.end());
  EXPECT_LT(IndexOf(after, "enable 1001 off"), IndexOf(after, "enable 1001 on"));
}

TEST_F(MainWindowLogicTest, ConnectRefusedWithoutAPortEndsAnEarlierConnection) {
  struct Case {
    int32_t output, input;
    std::string message;
  };
  const Case cases[] = {{0, 1, kTransmitNotSelected},
                        {-1, 1, kTransmitNotSelected},
                        {0, 0, kTransmitNotSelected},
                        {1, 0, kReceiveNotSelected},
                        {1, -1, kReceiveNotSelected}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message + " " + std::to_string(c.output) + " " + std::to_string(c.input));
    if (!window.entries.empty()) {
      window.selected[kReceiveFromList] = 1;
      window.selected[kTransmitToList] = 1;
      window.UserClicks(kConnectButton);
    } else {
      ConnectToModule();
    }
    ASSERT_TRUE(logic.IsConnected());
    const size_t errorsBefore = boxes.Errors().size();
    // Changed without a selection notification, as the click's own rule then reads it.
    window.selected[kTransmitToList] = c.output;
    window.selected[kReceiveFromList] = c.input;
    window.log.clear();
    window.UserClicks(kConnectButton);
    ASSERT_EQ(boxes.Errors().size(), errorsBefore + 1);
    EXPECT_EQ(boxes.Errors().back(), c.message);
    EXPECT_FALSE(Contains(window.log, "procedure"));
    EXPECT_FALSE(device.InputOpen());
    EXPECT_FALSE(device.OutputOpen());
    EXPECT_FALSE(logic.IsConnected());
    EXPECT_FALSE(window.IsEnabled(kFindImageButton));
    EXPECT_FALSE(window.IsEnabled(kUpdateButton));
  }
}

TEST_F(MainWindowLogicTest, PortsThatCannotBeOpenedEndAnEarlierConnection) {
  ReadyToUpdate();
  device.FailNext("midiInOpen", 4);
  window.UserClicks(kConnectButton);
  EXPECT_EQ(boxes.Errors(),
            std::vector<std::string>{
                "midiInOpen returned 00000004. Is the MIDI port currently in use?\n"});
  EXPECT_FALSE(logic.IsConnected());
  EXPECT_FALSE(window.IsEnabled(kFindImageButton));
  EXPECT_FALSE(window.IsEnabled(kUpdateButton));
  // Nothing can be sent on the closed ports now.
  window.UserClicks(kFindImageButton);
  EXPECT_EQ(boxes.Errors().back(), kEstablishFirst);
}

TEST_F(MainWindowLogicTest, AFailedConnectProcedureClosesThePortsAndDisablesFindImageAndUpdate) {
  ReadyToUpdate();
  window.texts[kSerialField] = "kept";
  ModuleFaults silent;
  silent.silent = true;
  module.SetFaults(silent);
  window.UserClicks(kConnectButton);
  EXPECT_EQ(boxes.Errors(), std::vector<std::string>{"MIDI Response timeout"});
  EXPECT_FALSE(logic.IsConnected());
  EXPECT_FALSE(device.InputOpen());
  EXPECT_FALSE(device.OutputOpen());
  EXPECT_FALSE(window.IsEnabled(kFindImageButton));
  EXPECT_FALSE(window.IsEnabled(kUpdateButton));
  EXPECT_EQ(window.texts[kSerialField], "kept");
}

TEST_F(MainWindowLogicTest, ConnectOpensTheDeviceBehindEachEntryNotPositionMinusOne) {
  device.inputNames = {"Unreadable", "In B"};
  device.inputCapsFailures = {0};
  device.outputNames = {"Out A", "Unreadable", "Out C"};
  device.outputCapsFailures = {1};
  ASSERT_TRUE(logic.OnInitDialog());
  EXPECT_EQ(window.entries[kReceiveFromList], (std::vector<std::string>{kChooseAPort, "In B"}));
  window.UserSelects(kReceiveFromList, 1);
  window.UserSelects(kTransmitToList, 2);
  window.UserClicks(kConnectButton);
  EXPECT_EQ(device.openedInputDevice, 1u);
  EXPECT_EQ(device.openedOutputDevice, 2u);
  // The choice is still remembered as list positions.
  logic.OnCommand(kEscapeCommand, kClicked);
  EXPECT_EQ(settings.values[kInputBusValue], 1);
  EXPECT_EQ(settings.values[kOutputBusValue], 2);
}

// --- Find image and the name field ---

TEST_F(MainWindowLogicTest, FindImageWhileNotConnectedOnlyTellsSo) {
  InitAndChoosePorts();
  window.texts[kImageNameField] = "untouched.kfw";
  window.selected[kTransmitToList] = 0;  // the rule would disable Connect, were it applied
  window.log.clear();
  window.UserClicks(kFindImageButton);
  EXPECT_EQ(boxes.Errors(), std::vector<std::string>{kEstablishFirst});
  EXPECT_EQ(window.choosersShown, 0);
  EXPECT_EQ(window.texts[kImageNameField], "untouched.kfw");
  EXPECT_FALSE(Contains(window.log, "read 1004"));
  EXPECT_TRUE(window.IsEnabled(kConnectButton));
}

TEST_F(MainWindowLogicTest, FindImagePutsTheChosenNameInTheFieldAndChecksIt) {
  ConnectToModule();
  const std::string path = WriteFile("chosen.kfw", GoodImage());
  window.chooserAnswers = {path};
  window.UserClicks(kFindImageButton);
  EXPECT_EQ(window.texts[kImageNameField], path);
  EXPECT_EQ(logic.ImageFileName(), path);
  EXPECT_TRUE(window.IsEnabled(kUpdateButton));
  EXPECT_TRUE(boxes.Errors().empty());
}

TEST_F(MainWindowLogicTest, CancellingTheChooserTakesTheFieldsTextAgain) {
  ConnectToModule();
  window.UserTypes("typed.kfw");
  window.chooserAnswers = {std::nullopt};
  window.UserClicks(kFindImageButton);
  EXPECT_EQ(window.texts[kImageNameField], "typed.kfw");
  EXPECT_EQ(logic.ImageFileName(), "typed.kfw");
  EXPECT_EQ(boxes.Errors(), std::vector<std::string>{"Can't open file typed.kfw for reading"});
}

TEST_F(MainWindowLogicTest, AChosenNameLongerThanTheFieldHoldsIsRefused) {
  ConnectToModule();
  window.UserTypes("kept.kfw");
  window.chooserAnswers = {"/" + std::string(kImageFileNameLimit, 'd') + ".kfw"};
  window.UserClicks(kFindImageButton);
  ASSERT_EQ(boxes.Errors().size(), 2u);
  EXPECT_NE(boxes.Errors()[0].find("longer than 248 characters"), std::string::npos);
  EXPECT_EQ(window.texts[kImageNameField], "kept.kfw");
}

TEST_F(MainWindowLogicTest, NoSecondChooserOpensWhileOneIsShown) {
  ConnectToModule();
  window.duringChooser = [this] { logic.ChooseImageFile(); };
  window.UserClicks(kFindImageButton);
  EXPECT_EQ(window.choosersShown, 1);
}

TEST_F(MainWindowLogicTest, TheNameIsTakenWhenTheFieldLosesTheFocusNotWhileTyping) {
  ReadyToUpdate();
  const std::string ready = logic.ImageFileName();
  const std::string missing = (test::ScratchDirectory() / "missing.kfw").string();
  window.UserTypes(missing);
  EXPECT_EQ(logic.ImageFileName(), ready);
  EXPECT_TRUE(window.IsEnabled(kUpdateButton));
  EXPECT_TRUE(boxes.Errors().empty());

  // Update works on the name last taken.
  window.UserClicks(kUpdateButton);
  EXPECT_EQ(window.successes.back(), "Firmware was successfully updated.");

  window.UserLeavesField();
  EXPECT_EQ(logic.ImageFileName(), missing);
  EXPECT_EQ(boxes.Errors(),
            std::vector<std::string>{"Can't open file " + missing + " for reading"});
  EXPECT_FALSE(window.IsEnabled(kUpdateButton));
}

TEST_F(MainWindowLogicTest, OnlyTheFirst248CharactersOfTheFieldAreTaken) {
  ASSERT_TRUE(logic.OnInitDialog());
  window.UserTypes(std::string(300, 'n'));
  window.UserLeavesField();
  EXPECT_EQ(logic.ImageFileName(), std::string(248, 'n'));

  std::string accented;
  for (int i = 0; i < 250; ++i) accented += "\xC3\xA9";  // 250 x e-acute, 2 bytes each
  window.UserTypes(accented);
  window.UserLeavesField();
  EXPECT_EQ(logic.ImageFileName(), accented.substr(0, 2 * 248));
}

TEST(FirstCharacters, CountsCharactersNotBytes) {
  struct Case {
    std::string text;
    size_t limit;
    std::string expected;
  };
  const Case cases[] = {{"abc", 2, "ab"},
                        {"abc", 3, "abc"},
                        {"abc", 9, "abc"},
                        {"", 4, ""},
                        {"a\xE2\x82\xAC"
                         "b",
                         2, "a\xE2\x82\xAC"},  // a, euro sign, b
                        {"\xF0\x9F\x8E\xB9x", 1, "\xF0\x9F\x8E\xB9"},
                        {"abc", 0, ""}};
  for (const Case& c : cases) EXPECT_EQ(FirstCharacters(c.text, c.limit), c.expected) << c.text;
}

TEST_F(MainWindowLogicTest, TheFileCheckEnablesUpdateOnlyForAGoodFileWhileConnected) {
  const std::string good = WriteFile("good.kfw", GoodImage());
  struct Case {
    const char* what;
    bool connected;
    std::string name;
    std::vector<std::string> errors;
    bool updateEnabled;
  };
  const std::string missing = (test::ScratchDirectory() / "nowhere.kfw").string();
  const std::string empty = WriteFile("empty.kfw", {});
  const std::string otherCompany = WriteFile(
      "other.kfw", ImageWriter::Version1(0x0022, 0x0A).Image(1, 3, SevenBitData(8)).End().Bytes());
  std::vector<uint8_t> badCrc = GoodImage();
  badCrc.back() ^= 1;
  const std::string crc = WriteFile("crc.kfw", badCrc);
  const Case cases[] = {
      {"not connected", false, good, {}, false},
      {"no name", true, "", {}, false},
      {"missing file", true, missing, {"Can't open file " + missing + " for reading"}, false},
      {"empty file", true, empty, {"Update file image corrupt"}, false},
      {"bad CRC", true, crc, {"Update file CRC error"}, false},
      {"other company",
       true,
       otherCompany,
       {"Update file's company ID mismatched with device"},
       false},
      {"good", true, good, {}, true},
  };
  ASSERT_TRUE(logic.OnInitDialog());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.connected && !logic.IsConnected()) {
      window.UserSelects(kReceiveFromList, 1);
      window.UserSelects(kTransmitToList, 1);
      window.UserClicks(kConnectButton);
      ASSERT_TRUE(logic.IsConnected());
    }
    const size_t errorsBefore = boxes.Errors().size();
    window.EnableControl(kUpdateButton, !c.updateEnabled);
    window.UserTypes(c.name);
    window.UserLeavesField();
    const std::vector<std::string> errors = boxes.Errors();
    EXPECT_EQ(
        std::vector<std::string>(errors.begin() + static_cast<long>(errorsBefore), errors.end()),
        c.errors);
    EXPECT_EQ(window.IsEnabled(kUpdateButton), c.updateEnabled);
  }
}

// --- Update ---

TEST_F(MainWindowLogicTest, UpdateProgramsTheModuleAndRefreshesSerialAndVersion) {
  const std::vector<uint8_t> data = SevenBitData(700);
  ReadyToUpdate(GoodImage(data));
  module.SetVersionAfterUpdate(1, 3);
  window.texts[kProductField] = "left alone";
  window.UserClicks(kUpdateButton);
  EXPECT_TRUE(boxes.Errors().empty()) << testing::PrintToString(boxes.Errors());
  EXPECT_EQ(window.successes.back(), "Firmware was successfully updated.");
  ASSERT_EQ(module.ProgrammedImages().size(), 1u);
  EXPECT_EQ(module.ProgrammedImages()[0], data);
  EXPECT_EQ(window.texts[kVersionField], "1.3");
  EXPECT_EQ(window.texts[kSerialField], "4b5804120001");
  EXPECT_EQ(window.texts[kProductField], "left alone");
  EXPECT_TRUE(window.IsEnabled(kUpdateButton));
  EXPECT_TRUE(logic.IsConnected());
}

enum class UpdateFault { kFileGone, kFileEmptied, kFileChanged, kBlockRefused, kSameVersionNo };

struct UpdateFailure {
  const char* what;
  UpdateFault fault;
  std::string error;  // empty: the file's "Can't open file" text
  bool runs;          // whether the update run starts at all
};

void PrintTo(const UpdateFailure& failure, std::ostream* out) {
  *out << failure.what;
}

class UpdateFailureTest : public MainWindowLogicTest,
                          public testing::WithParamInterface<UpdateFailure> {};

TEST_P(UpdateFailureTest, IsShownAndLeavesTheWindowAsItWas) {
  ReadyToUpdate();
  const std::string path = logic.ImageFileName();
  const std::string file = std::filesystem::path(path).filename().string();
  switch (GetParam().fault) {
    case UpdateFault::kFileGone:
      std::filesystem::remove(path);
      break;
    case UpdateFault::kFileEmptied:
      WriteFile(file, {});
      break;
    case UpdateFault::kFileChanged: {
      std::vector<uint8_t> bad = GoodImage();
      bad.back() ^= 1;
      WriteFile(file, bad);
      break;
    }
    case UpdateFault::kBlockRefused: {
      ModuleFaults faults;
      faults.rejectBlock = 1;
      faults.rejectStatus = 1;
      module.SetFaults(faults);
      break;
    }
    case UpdateFault::kSameVersionNo:
      WriteFile(file,
                ImageWriter::Version1(0x0021, 0x0A).Image(1, 2, SevenBitData(50)).End().Bytes());
      break;
  }
  const std::string expected =
      GetParam().error.empty() ? "Can't open file " + path + " for reading" : GetParam().error;
  window.log.clear();
  window.UserClicks(kUpdateButton);
  EXPECT_EQ(boxes.Errors(), std::vector<std::string>{expected});
  EXPECT_EQ(Contains(window.log, "procedure"), GetParam().runs);
  EXPECT_EQ(window.successes, std::vector<std::string>{"Connection established!"});
  EXPECT_TRUE(logic.IsConnected());
  EXPECT_TRUE(window.IsEnabled(kFindImageButton));
  EXPECT_TRUE(window.IsEnabled(kUpdateButton));
  EXPECT_TRUE(device.OutputOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, UpdateFailureTest,
    testing::Values(UpdateFailure{"FileGone", UpdateFault::kFileGone, "", false},
                    UpdateFailure{"FileEmptied", UpdateFault::kFileEmptied,
                                  "Update file image corrupt", false},
                    UpdateFailure{"FileChangedSinceTheCheck", UpdateFault::kFileChanged,
                                  "Update file CRC error", false},
                    UpdateFailure{"BlockRefused", UpdateFault::kBlockRefused,
                                  "MIDI Reports bad checksum", true},
                    UpdateFailure{"SameVersionAnsweredNo", UpdateFault::kSameVersionNo,
                                  "Operation canceled", true}),
    [](const testing::TestParamInfo<UpdateFailure>& row) { return std::string(row.param.what); });

}  // namespace
}  // namespace kfw
