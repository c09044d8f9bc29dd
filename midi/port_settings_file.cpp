#include "midi/port_settings_file.h"

#include <charconv>
#include <filesystem>
#include <sstream>

#include "base/files.h"

namespace kfw {

namespace {

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

void ParseValues(const std::string& text, std::map<std::string, int32_t>& values) {
  std::istringstream in(text);
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
    values[name] = value;
  }
}

}  // namespace

std::string DefaultPortSettingsPath() {
  return (std::filesystem::path(UserConfigDirectory()) / "kfwupdate" / "ports.conf").string();
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
  // A save killed between naming its temporary and renaming it leaves the temporary behind;
  // nothing else would ever remove it. (A link there is removed, not followed.)
  std::filesystem::remove(TemporaryNameFor(path_), error);
  if (!std::filesystem::exists(file, error)) {
    if (error || !Save({})) return false;
  }
  RegularFile in = OpenForReading(path_);
  if (!in.IsOpen() && std::filesystem::is_regular_file(file, error)) return false;
  // Anything but a small regular file (a FIFO, a link to /dev/zero, a directory, megabytes of
  // something else) holds no values, as a corrupt file does: the load fails quietly and the next
  // save writes a good file in its place. It is never waited on, nor read past the limit.
  std::string text;
  if (in.ReadAtMost(kMaxPortSettingsFileSize, text)) ParseValues(text, values_);
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
  return ReplaceFileContents(path_, text.str());
}

}  // namespace kfw
