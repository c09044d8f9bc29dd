// The remembered port choice on Windows: the registry values "InputBus" and "OutputBus"
// (REG_DWORD, list positions, -1 as 0xFFFFFFFF) under the key "SOFTWARE\Korvex\Firmware", opened
// with all access and created when missing. Built only for Windows.
//
// The key is looked for in HKEY_LOCAL_MACHINE first, and, when it cannot be opened there, in
// HKEY_CURRENT_USER. A standard user's program on current Windows is refused all access to the
// local machine's software keys; with that hive alone every load and save would fail and the
// Update button would never be enabled for such a user. Loading and saving try the hives in the
// same order, so a choice saved under the current user is read back from there.
#pragma once

#ifdef _WIN32

#include <functional>
#include <string>

#include "midi/ports.h"

namespace kfw {

inline constexpr const char* kPortSettingsKey = "SOFTWARE\\Korvex\\Firmware";

enum class RegistryHive { kLocalMachine, kCurrentUser };
// The order the hives are tried in.
inline constexpr RegistryHive kPortSettingsHives[] = {RegistryHive::kLocalMachine,
                                                      RegistryHive::kCurrentUser};

// An open registry key (an HKEY), nullptr when none.
using RegistryKey = void*;

// Opens `subkey` (UTF-8) of `hive` with KEY_ALL_ACCESS, creating it non-volatile when missing.
// The registry's result code: 0 (ERROR_SUCCESS) with the key set.
long OpenRegistryKey(RegistryHive hive, const std::string& subkey, RegistryKey& key);

class RegistryPortSettingsStore final : public PortSettingsStore {
 public:
  using KeyOpener =
      std::function<long(RegistryHive hive, const std::string& subkey, RegistryKey& key)>;

  // The key and the opener are for tests: a key of their own, and a hive that refuses them.
  explicit RegistryPortSettingsStore(std::string subkey = kPortSettingsKey,
                                     KeyOpener opener = OpenRegistryKey);
  ~RegistryPortSettingsStore() override { Close(); }
  RegistryPortSettingsStore(const RegistryPortSettingsStore&) = delete;
  RegistryPortSettingsStore& operator=(const RegistryPortSettingsStore&) = delete;

  // The key of the first hive of kPortSettingsHives that opens it; false when none does.
  bool Open() override;
  // False when the value is missing, unreadable, or not a 4-byte REG_DWORD; `value` is then
  // left as it was.
  bool Read(const char* name, int32_t& value) override;
  bool Write(const char* name, int32_t value) override;
  void Close() override;

  // The hive of the open key.
  RegistryHive hive() const { return hive_; }

 private:
  std::string subkey_;
  KeyOpener opener_;
  RegistryKey key_ = nullptr;
  RegistryHive hive_ = RegistryHive::kLocalMachine;
};

}  // namespace kfw

#endif
