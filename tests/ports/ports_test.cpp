// The port lists, opening and closing the chosen pair and the remembered choice, against the
// scriptable device and the settings file; the raw-device backend on a pseudo-terminal; absent
// systems. FIFOs, devices, killed processes and terminals are POSIX's: left out on Windows and in
// the web build.
#include "midi/ports.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <tuple>

#include "base/files.h"
#include "midi/port_settings_file.h"
#include "midi/reception.h"
#include "midi/transmission.h"
#include "tests/support/doubles.h"
#include "tests/support/in_child.h"
#include "tests/support/test_device.h"
#ifndef _WIN32
#include "midi/backends/backends.h"
#include "midi/backends/raw_backend.h"
#endif
#ifdef KFW_TEST_JACK
#include "midi/backends/rtmidi_backend.h"
#endif

namespace kfw {
namespace {

namespace fs = std::filesystem;
using Entries = std::vector<std::string>;
const std::string kChoose = "(Choose a MIDI port)";

class PortLists : public testing::Test {
 protected:
  ~PortLists() override { InstallPortSettingsStore(nullptr); }

  // Installs a settings file of this test's own in a directory not made yet; the file holds
  // `text`, or is missing without one.
  void UseSettingsFile(std::optional<std::string> text = std::nullopt) {
    const fs::path dir =
        test::ScratchDirectory() / testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir);
    file = dir / "kfwupdate" / "ports.conf";
    if (text) {
      fs::create_directories(file.parent_path());
      std::ofstream(file, std::ios::binary) << *text;
    }
    store = std::make_unique<FilePortSettingsStore>(file.string());
    InstallPortSettingsStore(store.get());
  }

  test::TestDevice device;
  test::RecordingBoxes boxes;
  test::RecordingPortLists lists;
  fs::path file;
  std::unique_ptr<FilePortSettingsStore> store;
};

TEST_F(PortLists, FillListsEveryDeviceAfterTheChoosePrompt) {
  device.inputNames = {"USB MIDI In"};
  device.outputNames = {"USB MIDI Out", "Synth Out"};
  ASSERT_TRUE(FillPortLists());
  EXPECT_EQ(lists.entries[kReceiveFromList], (Entries{kChoose, "USB MIDI In"}));
  EXPECT_EQ(lists.entries[kTransmitToList], (Entries{kChoose, "USB MIDI Out", "Synth Out"}));
  EXPECT_EQ(lists.selected, (std::map<int, int32_t>{{kReceiveFromList, 0}, {kTransmitToList, 0}}));
  EXPECT_TRUE(boxes.Errors().empty());
}

TEST_F(PortLists, MissingInputsOrOutputsAreToldAndFail) {
  const std::tuple<Entries, Entries, std::string, size_t> cases[] = {
      {{},
       {"Out"},
       "No MIDI input buses available! Please install your MIDI interface's Windows driver",
       0},
      // The input list is already filled when the missing outputs are found.
      {{"In"},
       {},
       "No MIDI output buses available! Please install your MIDI card's Windows driver",
       2},
  };
  for (const auto& [inputs, outputs, error, inputEntries] : cases) {
    test::RecordingBoxes caseBoxes;
    test::RecordingPortLists caseLists;
    device.inputNames = inputs;
    device.outputNames = outputs;
    EXPECT_FALSE(FillPortLists());
    EXPECT_EQ(caseBoxes.Errors(), Entries{error});
    EXPECT_EQ(caseLists.entries[kReceiveFromList].size(), inputEntries);
    EXPECT_TRUE(caseLists.entries[kTransmitToList].empty());
  }
}

TEST_F(PortLists, EachEntryOpensItsOwnDeviceAndClosingLetsBothGo) {
  ClosePorts();  // nothing open yet: nothing to do, nothing to tell
  device.inputNames = {"In A", "In B (broken)", "In C"};
  device.outputNames = {"Out A (broken)", "Out B"};
  device.inputCapsFailures = {1};
  device.outputCapsFailures = {0};
  ASSERT_TRUE(FillPortLists());
  EXPECT_EQ(lists.entries[kReceiveFromList], (Entries{kChoose, "In A", "In C"}));
  EXPECT_EQ(lists.entries[kTransmitToList], (Entries{kChoose, "Out B"}));
  // Position - 1 would name device 1 ("In B") for "In C" and device 0 for "Out B".
  EXPECT_EQ(InputDeviceAt(1), 0);
  EXPECT_EQ(OutputDeviceAt(1), 1);
  for (int32_t outside : {-1, 0, 3}) EXPECT_EQ(InputDeviceAt(outside), -1) << outside;
  ASSERT_TRUE(OpenPorts(InputDeviceAt(2), OutputDeviceAt(1)));
  EXPECT_EQ(device.openedInputDevice, 2u);
  EXPECT_EQ(device.openedOutputDevice, 1u);
  EXPECT_TRUE(device.BufferQueued());
  ClosePorts();
  EXPECT_FALSE(device.InputOpen());
  EXPECT_FALSE(device.OutputOpen());
  EXPECT_EQ(midiIn.load(), nullptr);
  EXPECT_EQ(midiOut.load(), nullptr);
  EXPECT_TRUE(boxes.Errors().empty());
  EXPECT_TRUE(boxes.Fatals().empty());
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
      {"midiOutOpen", 0xDEADBEEF,
       "midiOutOpen returned deadbeef. Is the MIDI port currently in use?\n"},
  };
  ASSERT_TRUE(FillPortLists());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    test::RecordingBoxes caseBoxes;
    device.FailNext(c.call, c.code);
    EXPECT_FALSE(OpenPorts(0, 0));
    EXPECT_EQ(caseBoxes.Errors(), Entries{c.text});
    EXPECT_FALSE(device.InputOpen());
    EXPECT_FALSE(device.OutputOpen());
    EXPECT_FALSE(device.BufferQueued());
    EXPECT_EQ(midiIn.load(), nullptr);
    EXPECT_EQ(midiOut.load(), nullptr);
    // Nothing is held: the next Connect opens the same ports.
    ClosePorts();
    EXPECT_TRUE(OpenPorts(0, 0));
    ClosePorts();
  }
}

TEST_F(PortLists, TheChoiceIsRememberedBetweenRuns) {
  device.inputNames = device.outputNames = {"Port 1", "Port 2", "Port 3"};
  UseSettingsFile();
  ASSERT_TRUE(FillPortLists());
  // The first run finds no settings: the load fails quietly and disables Update.
  EXPECT_FALSE(LoadPortSettings());
  EXPECT_TRUE(fs::exists(file));
  EXPECT_EQ(lists.selected[kReceiveFromList], 0);
  EXPECT_TRUE(boxes.Errors().empty());

  // The first command saves the values as they stand, the next ones the positions chosen since.
  ASSERT_TRUE(SavePortSettings());
  EXPECT_EQ(test::ReadFileText(file), "InputBus=-1\nOutputBus=-1\n");
  inputBus = 3;
  outputBus = 1;
  ASSERT_TRUE(SavePortSettings());
  EXPECT_EQ(test::ReadFileText(file), "InputBus=3\nOutputBus=1\n");
  // Every write went through a temporary file renamed over the file: nothing else is left.
  EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);

  // The next runs select what was saved; a position beyond the list, or -1, selects nothing.
  struct Case {
    const char* text;  // null: as saved above
    int32_t input, output, selectedInput, selectedOutput;
  };
  for (const Case& c :
       {Case{nullptr, 3, 1, 3, 1}, Case{"InputBus=4\nOutputBus=-1\n", 4, -1, -1, -1}}) {
    if (c.text) std::ofstream(file) << c.text;
    inputBus = outputBus = 0;
    EXPECT_TRUE(LoadPortSettings());
    EXPECT_EQ(inputBus, c.input);
    EXPECT_EQ(outputBus, c.output);
    EXPECT_EQ(lists.selected[kReceiveFromList], c.selectedInput);
    EXPECT_EQ(lists.selected[kTransmitToList], c.selectedOutput);
  }
  EXPECT_EQ(lists.updateCalls, std::vector<bool>{false});
}

TEST_F(PortLists, CorruptSettingsCannotBeReadAndLeaveTheValueAsItWas) {
  constexpr int32_t kUnread = 99;
  struct Case {
    std::string text;
    int32_t input, output;
  };
  const Case cases[] = {
      {std::string("\x00\xff\xfe=\x01\n\x80", 7), kUnread, kUnread},
      {"InputBus=two\nOutputBus=2\n", kUnread, 2},
      {"InputBus=3x\nOutputBus=-1\n", kUnread, -1},
      {"InputBus=4294967295\nOutputBus=-2147483649\n", kUnread, kUnread},
      {"InputBus=\nOutputBus\n", kUnread, kUnread},
      {"InputBus = 4 \r\n# comment\r\nOutputBus=\t0\r\n", 4, 0},
      {"OutputBus=7", kUnread, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    UseSettingsFile(c.text);
    ASSERT_TRUE(store->Open());
    int32_t input = kUnread, output = kUnread;
    EXPECT_EQ(store->Read(kInputBusValue, input), c.input != kUnread);
    EXPECT_EQ(store->Read(kOutputBusValue, output), c.output != kUnread);
    EXPECT_EQ(input, c.input);
    EXPECT_EQ(output, c.output);
  }
}

TEST_F(PortLists, SettingsThatAreNotASmallRegularFileAreNotWaitedOnAndAreWrittenAnew) {
  // A file this program did not write: every line valid, but far more of them than it writes.
  std::string huge;
  while (huge.size() <= kMaxPortSettingsFileSize) huge += "InputBus=1\nOutputBus=1\n";
  const std::vector<std::pair<const char*, std::function<void(const fs::path&)>>> cases = {
#ifdef KFW_TEST_POSIX_SYSTEM
      {"fifo", [](const fs::path& name) { test::MakeFifo(name.string()); }},
      {"link to /dev/zero", [](const fs::path& name) { fs::create_symlink("/dev/zero", name); }},
#endif
      {"huge", [&huge](const fs::path& name) { std::ofstream(name) << huge; }},
  };
  for (const auto& [what, make] : cases) {
    SCOPED_TRACE(what);
    UseSettingsFile();
    fs::create_directories(file.parent_path());
    make(file);
    inputBus = outputBus = 7;
    // Loaded as a corrupt file is: nothing read, Update disabled, no box; the save then writes a
    // good file in its place.
    test::ExpectInChildWithin(10, [this] {
      if (LoadPortSettings() || inputBus != 7 || outputBus != 7) return std::string("loaded");
      if (lists.updateCalls != std::vector<bool>{false}) return std::string("Update not disabled");
      if (!SavePortSettings() || !boxes.Errors().empty()) return std::string("not saved");
      return std::string();
    });
    // (Read only once it is a regular file: reading the FIFO would block this test.)
    const bool replaced = fs::is_regular_file(fs::symlink_status(file));
    EXPECT_TRUE(replaced);
    if (replaced) {
      EXPECT_EQ(test::ReadFileText(file), "InputBus=7\nOutputBus=7\n");
    }
  }
}

#ifdef KFW_TEST_POSIX_SYSTEM
TEST_F(PortLists, SavesKilledMidWriteLeaveNoTemporaryBehind) {
  device.inputNames = device.outputNames = {"Port 1", "Port 2"};
  UseSettingsFile();
  ASSERT_TRUE(SavePortSettings());
  const auto entries = [this] {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(file.parent_path())) {
      names.push_back(entry.path().filename());
    }
    return names;
  };
  // Programs killed while saving, at whatever point the kill lands.
  for (int kill = 0; kill < 20; ++kill) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(ready[0]);
      for (int32_t i = 0;; ++i) {
        inputBus = i;
        SavePortSettings();
        if (i == 0) (void)!write(ready[1], "r", 1);
      }
    }
    close(ready[1]);
    char byte;
    const ssize_t started = read(ready[0], &byte, 1);
    close(ready[0]);
    usleep(static_cast<useconds_t>(kill * 97 % 1000));
    // Killed before anything is asserted, so a failure never leaves it saving for ever.
    ::kill(child, SIGKILL);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    ASSERT_EQ(started, 1);
  }
  // And one that left its temporary under the name a killed save leaves.
  std::ofstream(file.string() + ".tmp") << "InputBus=";
  inputBus = outputBus = 2;
  ASSERT_TRUE(SavePortSettings());
  EXPECT_EQ(entries(), std::vector<std::string>{"ports.conf"});
  EXPECT_EQ(test::ReadFileText(file), "InputBus=2\nOutputBus=2\n");
}
#endif

// Opens, then refuses every write of one value.
struct RefusingStore final : PortSettingsStore {
  explicit RefusingStore(std::string value) : refused(std::move(value)) {}
  bool Open() override { return true; }
  bool Read(const char*, int32_t&) override { return false; }
  bool Write(const char* name, int32_t) override { return name != refused; }
  void Close() override {}
  std::string refused;
};

TEST_F(PortLists, FailedSavesTellWhichValueAndDisableUpdate) {
  const std::string inputText = "Unable to set the Input Bus info to the registry.";
  // A file that opens, but whose replacement cannot be written: a folder holds the temporary's
  // name (one with something in it, which no save removes).
  UseSettingsFile("InputBus=1\nOutputBus=1\n");
  fs::create_directories(fs::path(TemporaryNameFor(file.string())) / "taken");
  RefusingStore outputRefused(kOutputBusValue);
  std::vector<std::pair<PortSettingsStore*, std::string>> cases = {
      {store.get(), inputText},
      {&outputRefused, "Unable to set the Output Bus info to the registry."}};
#ifdef KFW_TEST_POSIX_SYSTEM
  // /proc takes no new files, not even from root; /proc/version opens as a file without values.
  FilePortSettingsStore unwritable("/proc/version");
  cases.push_back({&unwritable, inputText});
#endif
  for (const auto& [failing, text] : cases) {
    SCOPED_TRACE(text);
    test::RecordingBoxes caseBoxes;
    test::RecordingPortLists caseLists;
    InstallPortSettingsStore(failing);
    EXPECT_FALSE(SavePortSettings());
    EXPECT_EQ(caseBoxes.Errors(), Entries{text});
    EXPECT_EQ(caseLists.updateCalls, std::vector<bool>{false});
  }
}

#ifdef KFW_TEST_POSIX_SYSTEM
TEST(RawDevice, TerminalIsOpenedRawAndByOneProgramAtATime) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
  const std::string path = ptsname(master);
  auto backend = MakeRawDeviceBackend({path}, false);
  auto otherProgram = MakeRawDeviceBackend({path}, false);
  std::unique_ptr<OutputConnection> output, other;
  ASSERT_EQ(backend->OpenOutput(path, output), kMmNoError);
  EXPECT_EQ(otherProgram->OpenOutput(path, other), kMmAllocated);

  termios settings{};
  const int probe = open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  ASSERT_EQ(tcgetattr(probe, &settings), 0);
  close(probe);
  EXPECT_EQ(settings.c_lflag & (ECHO | ICANON | ISIG), 0u);
  EXPECT_EQ(settings.c_iflag & (ICRNL | IXON), 0u);
  EXPECT_EQ(settings.c_oflag & OPOST, 0u);

  output.reset();
  EXPECT_EQ(otherProgram->OpenOutput(path, other), kMmNoError);
  other.reset();
  close(master);
}
#endif

#ifdef KFW_TEST_POSIX_SYSTEM
struct LinuxOpenCase {
  const char* name;
  std::vector<std::string> paths;  // the raw devices given as ports, listed in this order
  int32_t input, output;           // the devices opened
  std::string text;                // the error box
};

// On Linux the device layer of the program says what is true there, where WinMM's texts would ask
// for a Windows driver or show a WinMM code: what was looked for and what to do when there is no
// port, and the system's own reason for a device that cannot be opened; and where to try the
// program without hardware.
TEST(LinuxPortTexts, NoPortAndAPortThatCannotBeOpenedAreToldInTheSystemsWords) {
  const std::string advice =
      ". To try the program without hardware, choose the simulated module (start the program "
      "with --simulator).";
  {
    test::RecordingBoxes boxes;
    BackendOptions nothing;
    nothing.systemBackends = false;
    const auto layer = MakeStandardDeviceLayer(std::move(nothing));
    InstallMidiDeviceLayer(layer.get());
    EXPECT_FALSE(FillPortLists());
    InstallMidiDeviceLayer(nullptr);
    ASSERT_EQ(boxes.Errors().size(), 1u);
    const std::string text = boxes.Errors()[0];
    EXPECT_EQ(text.rfind("No MIDI input found: no ", 0), 0u) << text;
    for (const char* words : {"raw MIDI device", "plugged in", "driver", "\"audio\" group",
                              "start it with --simulator."}) {
      EXPECT_NE(text.find(words), std::string::npos) << words << " in: " << text;
    }
    EXPECT_EQ(text.find("Windows"), std::string::npos) << text;
  }

  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
  const std::string terminal = ptsname(master);
  const std::string missing = (test::ScratchDirectory() / "no-such-midi-device").string();
  const std::string regular = (test::ScratchDirectory() / "not-a-device.kfw").string();
  std::ofstream(regular) << "bytes";
  const std::string folder = test::ScratchDirectory().string();
  const std::vector<LinuxOpenCase> cases = {
      {"a missing device",
       {missing},
       0,
       0,
       "Cannot open the MIDI port chosen in \"Receive from\": No such file or directory" + advice},
      {"a regular file",
       {regular},
       0,
       0,
       "Cannot open the MIDI port chosen in \"Receive from\": A regular file, not a MIDI "
       "device or terminal" +
           advice},
      {"a folder",
       {folder},
       0,
       0,
       "Cannot open the MIDI port chosen in \"Receive from\": Is a directory" + advice},
      {"the output missing",
       {terminal, missing},
       0,
       1,
       "Cannot open the MIDI port chosen in \"Transmit to\": No such file or directory" + advice},
  };
  for (const LinuxOpenCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::RecordingBoxes boxes;
    BackendOptions options;
    options.systemBackends = false;
    options.rawDevicePaths = c.paths;
    const auto layer = MakeStandardDeviceLayer(std::move(options));
    InstallMidiDeviceLayer(layer.get());
    ASSERT_TRUE(FillPortLists());
    EXPECT_FALSE(OpenPorts(c.input, c.output));
    ClosePorts();
    InstallMidiDeviceLayer(nullptr);
    EXPECT_EQ(boxes.Errors(), Entries{c.text});
  }

  // A device another program holds: the system's reason, and the device opens once it is let go.
  auto otherProgram = MakeRawDeviceBackend({terminal}, false);
  std::unique_ptr<OutputConnection> held;
  ASSERT_EQ(otherProgram->OpenOutput(terminal, held), kMmNoError);
  {
    test::RecordingBoxes boxes;
    BackendOptions options;
    options.systemBackends = false;
    options.rawDevicePaths = {terminal};
    const auto layer = MakeStandardDeviceLayer(std::move(options));
    InstallMidiDeviceLayer(layer.get());
    ASSERT_TRUE(FillPortLists());
    EXPECT_FALSE(OpenPorts(0, 0));
    EXPECT_EQ(boxes.Errors(),
              Entries{"Cannot open the MIDI port chosen in \"Receive from\": Device or resource "
                      "busy" +
                      advice});
    held.reset();
    EXPECT_TRUE(OpenPorts(0, 0));
    ClosePorts();
    InstallMidiDeviceLayer(nullptr);
  }
  close(master);
}
#endif

#ifdef KFW_TEST_JACK
TEST(AbsentSystems, ListNothingAndPrintNothing) {
  // A server name nobody runs; and this machine may or may not have an ALSA sequencer.
  setenv("JACK_DEFAULT_SERVER", "kfw-nobody-runs-this", 1);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  std::vector<std::string> inputs, outputs;
  MakeJackBackend()->ListPorts(inputs, outputs);
  std::unique_ptr<OutputConnection> output;
  const MmResult opened = MakeJackBackend()->OpenOutput("kfwsim in:midi", output);
  if (!AlsaSequencerPresent()) MakeAlsaSequencerBackend()->ListPorts(inputs, outputs);
  const std::string printed =
      testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
  unsetenv("JACK_DEFAULT_SERVER");
  EXPECT_EQ(printed, "");
  EXPECT_EQ(inputs.size() + outputs.size(), 0u);
  EXPECT_EQ(opened, kMmNoDriver);
}
#endif

}  // namespace
}  // namespace kfw
