// The remembered port choice in a web page: the browser's local storage for the page's origin,
// holding "InputBus" and "OutputBus" as the registry values do on Windows, each a decimal 32-bit
// list position (-1: nothing chosen) under kPortSettingsStoragePrefix + the value's name. Built
// only for the web.
//
// Storage the browser withholds (blocked for the site, or a page opened from a file in a browser
// that gives such pages none) cannot be opened: every load and save then fails as a registry key
// that cannot be opened does. A full storage refuses the write.
#pragma once

#ifdef __EMSCRIPTEN__

#include "midi/ports.h"

namespace kfw {

inline constexpr const char* kPortSettingsStoragePrefix = "kfwupdate.";

class BrowserStoragePortSettingsStore final : public PortSettingsStore {
 public:
  // True when the page may use its local storage.
  bool Open() override;
  // False when the value is missing or is not a whole decimal 32-bit number (written by
  // something else): `value` is then left as it was.
  bool Read(const char* name, int32_t& value) override;
  bool Write(const char* name, int32_t value) override;
  void Close() override;

 private:
  bool open_ = false;
};

}  // namespace kfw

#endif  // __EMSCRIPTEN__
