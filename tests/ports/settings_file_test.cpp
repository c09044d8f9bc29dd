// The settings file that remembers the port choice on Linux.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "midi/port_settings_file.h"
#include "tests/support/doubles.h"
#include "tests/support/test_device.h"

namespace kfw {
namespace {

namespace fs = std::filesystem;

// A directory of its own for each test.
fs::path FreshDirectory() {
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  const fs::path dir = test::ScratchDirectory() / (std::string("settings-") + info->name());
  fs::remove_all(dir);
  return dir;
}

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

TEST(SettingsFile, ValuesSurviveAReopenIncludingMinusOne) {
  const fs::path file = FreshDirectory() / "kfwupdate" / "ports.conf";
  {
    FilePortSettingsStore store(file.string());
    ASSERT_TRUE(store.Open());
    EXPECT_TRUE(store.Write(kInputBusValue, 3));
    EXPECT_TRUE(store.Write(kOutputBusValue, -1));
    store.Close();
  }
  EXPECT_EQ(test::ReadFileText(file), "InputBus=3\nOutputBus=-1\n");
  FilePortSettingsStore store(file.string());
  ASSERT_TRUE(store.Open());
  int32_t input = 0, output = 0;
  EXPECT_TRUE(store.Read(kInputBusValue, input));
  EXPECT_TRUE(store.Read(kOutputBusValue, output));
  EXPECT_EQ(input, 3);
  EXPECT_EQ(output, -1);
  // Only the file itself is left: every write went through a temporary file renamed over it.
  EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);
}

TEST(SettingsFile, MissingFileIsCreatedEmptyAndItsValuesCannotBeRead) {
  const fs::path file = FreshDirectory() / "deeper" / "kfwupdate" / "ports.conf";
  FilePortSettingsStore store(file.string());
  ASSERT_TRUE(store.Open());
  EXPECT_TRUE(fs::exists(file));
  int32_t value = 42;
  EXPECT_FALSE(store.Read(kInputBusValue, value));
  EXPECT_EQ(value, 42);
}

TEST(SettingsFile, CorruptContentIsUnreadableNeverACrash) {
  struct Case {
    const char* name;
    std::string text;
    bool inputReadable;
    int32_t input;
    bool outputReadable;
    int32_t output;
  };
  const Case cases[] = {
      {"binary garbage", std::string("\x00\xff\xfe=\x01\n\x80", 7), false, 0, false, 0},
      {"not a number", "InputBus=two\nOutputBus=2\n", false, 0, true, 2},
      {"trailing junk", "InputBus=3x\nOutputBus=-1\n", false, 0, true, -1},
      {"beyond 32 bits", "InputBus=4294967295\nOutputBus=-2147483649\n", false, 0, false, 0},
      {"empty value", "InputBus=\nOutputBus\n", false, 0, false, 0},
      {"spaces and CRLF", "InputBus = 4 \r\n# comment\r\nOutputBus=\t0\r\n", true, 4, true, 0},
      {"no line end", "OutputBus=7", false, 0, true, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = FreshDirectory() / "ports.conf";
    WriteText(file, c.text);
    FilePortSettingsStore store(file.string());
    ASSERT_TRUE(store.Open());
    int32_t input = 99, output = 99;
    EXPECT_EQ(store.Read(kInputBusValue, input), c.inputReadable);
    EXPECT_EQ(store.Read(kOutputBusValue, output), c.outputReadable);
    EXPECT_EQ(input, c.inputReadable ? c.input : 99);
    EXPECT_EQ(output, c.outputReadable ? c.output : 99);
    // Writing over a corrupt file mends it.
    EXPECT_TRUE(store.Write(kInputBusValue, 1));
    store.Close();
    ASSERT_TRUE(store.Open());
    EXPECT_TRUE(store.Read(kInputBusValue, input));
    EXPECT_EQ(input, 1);
  }
}

TEST(SettingsFile, StoreThatCannotBeCreatedFailsToOpen) {
  // A regular file where the directory should be: no permission bits involved, so it holds for
  // root as well.
  const fs::path dir = FreshDirectory();
  WriteText(dir / "blocker", "");
  FilePortSettingsStore store((dir / "blocker" / "kfwupdate" / "ports.conf").string());
  EXPECT_FALSE(store.Open());
  int32_t value = 5;
  EXPECT_FALSE(store.Read(kInputBusValue, value));
  EXPECT_EQ(value, 5);
  EXPECT_FALSE(store.Write(kInputBusValue, 1));
}

TEST(SettingsFile, UnwritableDirectoryFailsTheWriteAndKeepsTheFile) {
  // /proc takes no new files, not even from root; /proc/version opens as a file without values.
  FilePortSettingsStore store("/proc/version");
  ASSERT_TRUE(store.Open()) << "/proc/version is needed as a file in an unwritable directory";
  EXPECT_FALSE(store.Write(kInputBusValue, 2));
  int32_t value = 8;
  EXPECT_FALSE(store.Read(kInputBusValue, value));
  EXPECT_EQ(value, 8);
  if (geteuid() != 0) {
    const fs::path dir = FreshDirectory();
    const fs::path file = dir / "ports.conf";
    WriteText(file, "InputBus=1\n");
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    FilePortSettingsStore userStore(file.string());
    ASSERT_TRUE(userStore.Open());
    EXPECT_FALSE(userStore.Write(kInputBusValue, 2));
    fs::permissions(dir, fs::perms::owner_all);
    EXPECT_EQ(test::ReadFileText(file), "InputBus=1\n");
  }
}

TEST(SettingsFile, UnwritableStoreIsToldAtSave) {
  test::RecordingBoxes boxes;
  test::RecordingPortLists lists;
  FilePortSettingsStore store("/proc/version");
  InstallPortSettingsStore(&store);
  EXPECT_FALSE(SavePortSettings());
  EXPECT_EQ(boxes.Errors(),
            std::vector<std::string>{"Unable to set the Input Bus info to the registry."});
  EXPECT_FALSE(lists.updateEnabled);
}

TEST(SettingsFile, FirstRunFailsToLoadThenSavesWhatStands) {
  test::TestDevice device;
  test::RecordingBoxes boxes;
  test::RecordingPortLists lists;
  device.inputNames = {"In 0", "In 1"};
  device.outputNames = {"Out 0", "Out 1"};
  const fs::path file = FreshDirectory() / "kfwupdate" / "ports.conf";
  FilePortSettingsStore store(file.string());
  InstallPortSettingsStore(&store);

  ASSERT_TRUE(FillPortLists());
  EXPECT_FALSE(LoadPortSettings());
  EXPECT_TRUE(fs::exists(file));
  EXPECT_FALSE(lists.updateEnabled);
  EXPECT_EQ(lists.selected[kReceiveFromList], 0);
  EXPECT_EQ(lists.selected[kTransmitToList], 0);
  EXPECT_TRUE(boxes.Errors().empty());

  // The first command saves the values as they stand, the next ones the positions chosen since.
  ASSERT_TRUE(SavePortSettings());
  EXPECT_EQ(test::ReadFileText(file), "InputBus=-1\nOutputBus=-1\n");
  inputBus = 2;
  outputBus = 1;
  ASSERT_TRUE(SavePortSettings());
  EXPECT_EQ(test::ReadFileText(file), "InputBus=2\nOutputBus=1\n");

  // The next run finds them.
  inputBus = -1;
  outputBus = -1;
  EXPECT_TRUE(LoadPortSettings());
  EXPECT_EQ(inputBus, 2);
  EXPECT_EQ(outputBus, 1);
  EXPECT_EQ(lists.selected[kReceiveFromList], 2);
  EXPECT_EQ(lists.selected[kTransmitToList], 1);
}

TEST(SettingsFile, DefaultPathFollowsXdgConfigHome) {
  struct Case {
    const char* xdg;  // nullptr: unset
    const char* home;
    std::string expected;
  };
  const Case cases[] = {
      {"/cfg", "/home/u", "/cfg/kfwupdate/ports.conf"},
      {nullptr, "/home/u", "/home/u/.config/kfwupdate/ports.conf"},
      {"", "/home/u", "/home/u/.config/kfwupdate/ports.conf"},
      // A relative XDG_CONFIG_HOME is to be ignored.
      {"relative/cfg", "/home/u", "/home/u/.config/kfwupdate/ports.conf"},
  };
  const char* savedXdg = std::getenv("XDG_CONFIG_HOME");
  const char* savedHome = std::getenv("HOME");
  const std::string xdgBefore = savedXdg ? savedXdg : "";
  const std::string homeBefore = savedHome ? savedHome : "";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    if (c.xdg) {
      setenv("XDG_CONFIG_HOME", c.xdg, 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    setenv("HOME", c.home, 1);
    EXPECT_EQ(DefaultPortSettingsPath(), c.expected);
  }
  if (savedXdg) {
    setenv("XDG_CONFIG_HOME", xdgBefore.c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
  if (savedHome) {
    setenv("HOME", homeBefore.c_str(), 1);
  } else {
    unsetenv("HOME");
  }
}

}  // namespace
}  // namespace kfw
