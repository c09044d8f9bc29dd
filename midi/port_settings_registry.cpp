#ifdef _WIN32

#include "midi/port_settings_registry.h"

namespace kfw {

bool RegistryPortSettingsStore::Open() {
  Close();
  DWORD disposition = 0;  // created or opened: either will do
  return RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPortSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                         KEY_ALL_ACCESS, nullptr, &key_, &disposition) == ERROR_SUCCESS;
}

bool RegistryPortSettingsStore::Read(const char* name, int32_t& value) {
  if (!key_) return false;
  // Read into a value of our own and with its type: a value of another type or size (a string
  // someone typed in, say) would otherwise land as part of a number.
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof data;
  if (RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<LPBYTE>(&data), &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  if (type != REG_DWORD || size != sizeof data) return false;
  value = static_cast<int32_t>(data);
  return true;
}

bool RegistryPortSettingsStore::Write(const char* name, int32_t value) {
  if (!key_) return false;
  const DWORD data = static_cast<DWORD>(value);
  return RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                        sizeof data) == ERROR_SUCCESS;
}

void RegistryPortSettingsStore::Close() {
  if (key_) RegCloseKey(key_);
  key_ = nullptr;
}

}  // namespace kfw

#endif
