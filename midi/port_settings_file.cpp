#include "midi/port_settings_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kfw {

namespace {

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return ".";
}

// A whole decimal int32 and nothing else (spaces around it aside).
bool ParseValue(std::string_view text, int32_t& value) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  if (text.empty()) return false;
  int32_t parsed = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  value = parsed;
  return true;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = write(fd, text.data() + done, text.size() - done);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

std::string DefaultPortSettingsPath() {
  // Only an absolute XDG_CONFIG_HOME counts, as the XDG base directory rules say.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const std::filesystem::path base = config && config[0] == '/'
                                         ? std::filesystem::path(config)
                                         : std::filesystem::path(HomeDirectory()) / ".config";
  return (base / "kfwupdate" / "ports.conf").string();
}

FilePortSettingsStore::FilePortSettingsStore(std::string path) : path_(std::move(path)) {}

bool FilePortSettingsStore::Open() {
  open_ = false;
  values_.clear();
  std::error_code error;
  const std::filesystem::path file(path_);
  if (file.has_parent_path()) {
    std::filesystem::create_directories(file.parent_path(), error);
    if (error) return false;
  }
  if (!std::filesystem::exists(file, error)) {
    if (error || !Save({})) return false;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    int32_t value;
    // A line that is not a number is left out, so reading its value fails as a missing one does.
    if (!ParseValue(std::string_view(line).substr(equals + 1), value)) continue;
    std::string name = line.substr(0, equals);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
    name.erase(0, name.find_first_not_of(" \t"));
    values_[name] = value;
  }
  if (in.bad()) {
    values_.clear();
    return false;
  }
  open_ = true;
  return true;
}

bool FilePortSettingsStore::Read(const char* name, int32_t& value) {
  if (!open_) return false;
  const auto found = values_.find(name);
  if (found == values_.end()) return false;
  value = found->second;
  return true;
}

bool FilePortSettingsStore::Write(const char* name, int32_t value) {
  if (!open_) return false;
  std::map<std::string, int32_t> values = values_;
  values[name] = value;
  if (!Save(values)) return false;
  values_ = std::move(values);
  return true;
}

void FilePortSettingsStore::Close() {
  open_ = false;
  values_.clear();
}

bool FilePortSettingsStore::Save(const std::map<std::string, int32_t>& values) {
  std::ostringstream text;
  for (const auto& [name, value] : values) text << name << '=' << value << '\n';
  std::string temporary = path_ + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) return false;
  const bool written = WriteAll(fd, text.str()) && fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  if (!written || !closed || rename(temporary.c_str(), path_.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace kfw
