// The port choice in the registry, through the program's own load and save: a round trip through
// the registry itself, and the fall-back to the current user's hive when the local machine's key
// cannot be opened with all access (as for a standard user on current Windows; Wine does not
// enforce access rights, so a test opener refuses it here). Built only for Windows.
#include "midi/port_settings_registry.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/doubles.h"

namespace kfw {
namespace {

// A key of the tests' own, so that a run on a real machine leaves the program's choice alone.
constexpr const char* kTestKey = "SOFTWARE\\Korvex\\FirmwareTest";
constexpr const wchar_t* kTestKeyWide = L"SOFTWARE\\Korvex\\FirmwareTest";

HKEY Root(RegistryHive hive) {
  return hive == RegistryHive::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

void DeleteTestKeys() {
  for (RegistryHive hive : kPortSettingsHives) RegDeleteKeyW(Root(hive), kTestKeyWide);
}

// A value as the registry holds it: its type and 32 bits, or nothing when missing.
std::optional<std::pair<DWORD, DWORD>> Stored(RegistryHive hive, const wchar_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(Root(hive), kTestKeyWide, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD type = 0, data = 0, size = sizeof data;
  const LONG result =
      RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&data), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return std::nullopt;
  return std::make_pair(type, data);
}

class RegistrySettings : public testing::Test {
 protected:
  RegistrySettings() { DeleteTestKeys(); }
  ~RegistrySettings() override {
    InstallPortSettingsStore(nullptr);
    DeleteTestKeys();
  }

  // A store over the test key whose opener refuses the hives in `refused`, as a standard user's
  // program is refused the local machine's key, and records every hive it was asked for.
  RegistryPortSettingsStore& Store(std::vector<RegistryHive> refused) {
    store.emplace(
        kTestKey,
        [this, refused](RegistryHive hive, const std::string& subkey, RegistryKey& key) -> long {
          asked.push_back(hive);
          for (RegistryHive no : refused) {
            if (no == hive) return ERROR_ACCESS_DENIED;
          }
          return OpenRegistryKey(hive, subkey, key);
        });
    InstallPortSettingsStore(&*store);
    return *store;
  }

  test::RecordingBoxes boxes;
  test::RecordingPortLists lists;
  std::optional<RegistryPortSettingsStore> store;
  std::vector<RegistryHive> asked;
};

constexpr auto kMachine = RegistryHive::kLocalMachine;
constexpr auto kUser = RegistryHive::kCurrentUser;

TEST_F(RegistrySettings, TheChoiceGoesToTheFirstHiveThatOpensAndIsReadBackFromThere) {
  struct Case {
    const char* name;
    std::vector<RegistryHive> refused;
    RegistryHive used;
    std::vector<RegistryHive> askedPerOpen;
  };
  const Case cases[] = {
      // Under Wine, or run as an administrator: a standard user's run on Windows is refused this
      // hive by Windows itself and goes on to the current user's.
      {"local machine", {}, kMachine, {kMachine}},
      {"local machine refused: current user", {kMachine}, kUser, {kMachine, kUser}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteTestKeys();
    Store(c.refused);
    lists.updateCalls.clear();
    // First run: the key is created empty, the load fails quietly and disables Update.
    inputBus = outputBus = -1;
    EXPECT_FALSE(LoadPortSettings());
    EXPECT_EQ(lists.updateCalls, std::vector<bool>{false});
    inputBus = 2;
    outputBus = -1;
    asked.clear();
    ASSERT_TRUE(SavePortSettings());
    EXPECT_EQ(asked, c.askedPerOpen);
    EXPECT_EQ(store->hive(), c.used);
    const RegistryHive other = c.used == kMachine ? kUser : kMachine;
    EXPECT_EQ(Stored(c.used, L"InputBus"), std::make_pair(DWORD{REG_DWORD}, DWORD{2}));
    EXPECT_EQ(Stored(c.used, L"OutputBus"), std::make_pair(DWORD{REG_DWORD}, DWORD{0xFFFFFFFF}));
    EXPECT_EQ(Stored(other, L"InputBus"), std::nullopt);

    // The next run reads the same hive back and selects what was saved.
    inputBus = outputBus = 0;
    EXPECT_TRUE(LoadPortSettings());
    EXPECT_EQ(inputBus, 2);
    EXPECT_EQ(outputBus, -1);
    EXPECT_EQ(lists.updateCalls, std::vector<bool>{false});
    EXPECT_TRUE(boxes.Errors().empty());
  }
}

TEST_F(RegistrySettings, NoHiveThatOpensDisablesUpdateQuietly) {
  Store({kMachine, kUser});
  inputBus = 3;
  EXPECT_FALSE(SavePortSettings());
  EXPECT_FALSE(LoadPortSettings());
  EXPECT_EQ(inputBus, 3);
  EXPECT_EQ(lists.updateCalls, (std::vector<bool>{false, false}));
  EXPECT_TRUE(boxes.Errors().empty());
  EXPECT_EQ(Stored(kMachine, L"InputBus"), std::nullopt);
  EXPECT_EQ(Stored(kUser, L"InputBus"), std::nullopt);
}

// A value of another type or size, written by hand, is not taken for a position.
TEST_F(RegistrySettings, AValueThatIsNotADwordIsNotRead) {
  auto& settings = Store({});
  ASSERT_TRUE(settings.Open());
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestKeyWide, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  const wchar_t text[] = L"2";
  RegSetValueExW(key, L"InputBus", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
  const uint64_t wide = 2;
  RegSetValueExW(key, L"OutputBus", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&wide),
                 sizeof wide);
  RegCloseKey(key);
  int32_t value = 7;
  EXPECT_FALSE(settings.Read(kInputBusValue, value));
  EXPECT_FALSE(settings.Read(kOutputBusValue, value));
  EXPECT_EQ(value, 7);
  settings.Close();
}

}  // namespace
}  // namespace kfw
