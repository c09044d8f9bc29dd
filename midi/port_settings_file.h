// The remembered port choice where there is no registry: a small text file in the user's
// configuration directory, holding "InputBus" and "OutputBus" as the registry values do on
// Windows. The window uses it on Linux; on Windows it uses the registry, and this file store is
// built there only for its tests (it works there too, through the same file seam).
//
// The file has one "name=value" line per value, the value a decimal 32-bit number (-1: nothing
// chosen); other lines are ignored:
//   InputBus=2
//   OutputBus=-1
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "midi/ports.h"

namespace kfw {

// kfwupdate/ports.conf in UserConfigDirectory(): $XDG_CONFIG_HOME/kfwupdate/ports.conf, else
// ~/.config/kfwupdate/ports.conf; on Windows %APPDATA%\kfwupdate\ports.conf.
std::string DefaultPortSettingsPath();

// The file holds two short lines; a larger one was not written by this program.
inline constexpr size_t kMaxPortSettingsFileSize = 4096;

class FilePortSettingsStore final : public PortSettingsStore {
 public:
  explicit FilePortSettingsStore(std::string path = DefaultPortSettingsPath());

  // As the registry key is created when missing: creates the directory and an empty file if
  // there is none, then reads the file. False when either cannot be created or the file is a
  // regular file that may not be read. Anything else that is not a regular file of at most
  // kMaxPortSettingsFileSize bytes (a FIFO, a device, a directory, a huge file) is taken as a
  // corrupt file is: open, with no values in it. Also removes the temporary a killed save left.
  bool Open() override;
  // False when the value is missing or its line is not a number: the file is corrupt or was never
  // written. `value` is then left as it was.
  bool Read(const char* name, int32_t& value) override;
  // Writes the whole file anew (ReplaceFileContents): a crash or a full disk leaves the old file
  // or the new one, never half of one, and no temporary file that the next Open does not remove.
  bool Write(const char* name, int32_t value) override;
  void Close() override;

  const std::string& path() const { return path_; }

 private:
  bool Save(const std::map<std::string, int32_t>& values);

  std::string path_;
  bool open_ = false;
  std::map<std::string, int32_t> values_;
};

}  // namespace kfw
