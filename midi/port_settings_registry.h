// The remembered port choice on Windows: the registry values "InputBus" and "OutputBus"
// (REG_DWORD, list positions, -1 as 0xFFFFFFFF) under HKEY_LOCAL_MACHINE
// "SOFTWARE\Korvex\Firmware". Built only for Windows.
#pragma once

#ifdef _WIN32

#include <windows.h>

#include "midi/ports.h"

namespace kfw {

inline constexpr const char* kPortSettingsKey = "SOFTWARE\\Korvex\\Firmware";

class RegistryPortSettingsStore final : public PortSettingsStore {
 public:
  RegistryPortSettingsStore() = default;
  ~RegistryPortSettingsStore() override { Close(); }

  // Creates the key when missing (non-volatile, KEY_ALL_ACCESS) or opens it.
  bool Open() override;
  // False when the value is missing, unreadable, or not a 4-byte REG_DWORD; `value` is then
  // left as it was.
  bool Read(const char* name, int32_t& value) override;
  bool Write(const char* name, int32_t value) override;
  void Close() override;

 private:
  HKEY key_ = nullptr;
};

}  // namespace kfw

#endif
