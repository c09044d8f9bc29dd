#include <emscripten/emscripten.h>

#include <charconv>
#include <string>
#include <system_error>

#include "midi/port_settings_storage.h"

// localStorage may be missing (Node), or throw at the mere look when the browser withholds it
// (SecurityError); a write throws when the storage is full (QuotaExceededError). The bodies are
// JavaScript, which clang-format would break.
// clang-format off
EM_JS(int, kfw_storage_usable, (), {
  try {
    return typeof localStorage != "undefined" && localStorage !== null ? 1 : 0;
  } catch (error) {
    return 0;
  }
});

// The value's length in UTF-8, or -1 when there is none; the text stays for kfw_storage_take.
EM_JS(int, kfw_storage_get, (const char* key), {
  try {
    const value = localStorage.getItem(UTF8ToString(key));
    Module["kfwStorageText"] = value === null ? "" : String(value);
    return value === null ? -1 : lengthBytesUTF8(Module["kfwStorageText"]);
  } catch (error) {
    return -1;
  }
});

EM_JS(void, kfw_storage_take, (char* buffer, int capacity), {
  stringToUTF8(Module["kfwStorageText"] || "", buffer, capacity);
  Module["kfwStorageText"] = "";
});

EM_JS(int, kfw_storage_set, (const char* key, const char* value), {
  try {
    localStorage.setItem(UTF8ToString(key), UTF8ToString(value));
    return 1;
  } catch (error) {
    return 0;
  }
});
// clang-format on

namespace kfw {

bool BrowserStoragePortSettingsStore::Open() {
  open_ = kfw_storage_usable() != 0;
  return open_;
}

bool BrowserStoragePortSettingsStore::Read(const char* name, int32_t& value) {
  if (!open_) return false;
  const std::string key = std::string(kPortSettingsStoragePrefix) + name;
  const int length = kfw_storage_get(key.c_str());
  if (length < 0) return false;
  std::string text(static_cast<size_t>(length) + 1, '\0');
  kfw_storage_take(text.data(), length + 1);
  text.resize(static_cast<size_t>(length));
  int32_t parsed = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return false;
  value = parsed;
  return true;
}

bool BrowserStoragePortSettingsStore::Write(const char* name, int32_t value) {
  if (!open_) return false;
  const std::string key = std::string(kPortSettingsStoragePrefix) + name;
  return kfw_storage_set(key.c_str(), std::to_string(value).c_str()) != 0;
}

void BrowserStoragePortSettingsStore::Close() {
  open_ = false;
}

}  // namespace kfw
