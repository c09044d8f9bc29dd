#ifdef _WIN32

#include <windows.h>

#include <string>

#include "midi/port_settings_registry.h"

namespace kfw {

namespace {

// Our texts are UTF-8; the registry's wide calls take UTF-16.
std::wstring Wide(const std::string& text) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (size <= 1) return {};
  std::wstring result(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, result.data(), size);
  result.resize(static_cast<size_t>(size) - 1);
  return result;
}

HKEY Root(RegistryHive hive) {
  return hive == RegistryHive::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

}  // namespace

long OpenRegistryKey(RegistryHive hive, const std::string& subkey, RegistryKey& key) {
  HKEY opened = nullptr;
  DWORD disposition = 0;  // created or opened: either will do
  const LONG result =
      RegCreateKeyExW(Root(hive), Wide(subkey).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &opened, &disposition);
  if (result == ERROR_SUCCESS) key = opened;
  return result;
}

RegistryPortSettingsStore::RegistryPortSettingsStore(std::string subkey, KeyOpener opener)
    : subkey_(std::move(subkey)), opener_(std::move(opener)) {}

bool RegistryPortSettingsStore::Open() {
  Close();
  for (RegistryHive hive : kPortSettingsHives) {
    RegistryKey key = nullptr;
    if (opener_(hive, subkey_, key) == ERROR_SUCCESS && key) {
      key_ = key;
      hive_ = hive;
      return true;
    }
  }
  return false;
}

bool RegistryPortSettingsStore::Read(const char* name, int32_t& value) {
  if (!key_) return false;
  // Read into a value of our own and with its type: a value of another type or size (a string
  // someone typed in, say) would otherwise land as part of a number.
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof data;
  if (RegQueryValueExW(static_cast<HKEY>(key_), Wide(name).c_str(), nullptr, &type,
                       reinterpret_cast<LPBYTE>(&data), &size) != ERROR_SUCCESS) {
    return false;
  }
  if (type != REG_DWORD || size != sizeof data) return false;
  value = static_cast<int32_t>(data);
  return true;
}

bool RegistryPortSettingsStore::Write(const char* name, int32_t value) {
  if (!key_) return false;
  const DWORD data = static_cast<DWORD>(value);
  return RegSetValueExW(static_cast<HKEY>(key_), Wide(name).c_str(), 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&data), sizeof data) == ERROR_SUCCESS;
}

void RegistryPortSettingsStore::Close() {
  if (key_) RegCloseKey(static_cast<HKEY>(key_));
  key_ = nullptr;
}

}  // namespace kfw

#endif
