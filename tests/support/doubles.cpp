#include "tests/support/doubles.h"

#include <fstream>
#include <sstream>

namespace kfw {
void PrintTo(ResultCode code, std::ostream* out) {
  *out << static_cast<int>(code) << " (" << ResultText(code) << ")";
}
}  // namespace kfw

namespace kfw::test {

std::string ReadFileText(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void RecordingBoxes::ShowError(const std::string& text) {
  std::lock_guard lock(mutex_);
  errors_.push_back(text);
}

bool RecordingBoxes::AskYesNo(const std::string& text) {
  std::lock_guard lock(mutex_);
  questions_.push_back(text);
  if (answers_.empty()) return false;
  const bool answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void RecordingBoxes::ShowFatal(const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    fatals_.push_back(text);
  }
  throw FatalEnded(text);
}

void RecordingBoxes::AnswerNext(bool yes) {
  std::lock_guard lock(mutex_);
  answers_.push_back(yes);
}

std::vector<std::string> RecordingBoxes::Errors() {
  std::lock_guard lock(mutex_);
  return errors_;
}

std::vector<std::string> RecordingBoxes::Questions() {
  std::lock_guard lock(mutex_);
  return questions_;
}

std::vector<std::string> RecordingBoxes::Fatals() {
  std::lock_guard lock(mutex_);
  return fatals_;
}

void RecordingProgress::Show() {
  std::lock_guard lock(mutex_);
  if (showing_) overlapped_ = true;
  showing_ = true;
  ++opened_;
  log_.push_back("open");
}

void RecordingProgress::Update(const char* caption, uint32_t percent) {
  std::lock_guard lock(mutex_);
  log_.push_back("set " + std::string(caption) + " " + std::to_string(percent));
}

void RecordingProgress::Hide() {
  std::lock_guard lock(mutex_);
  showing_ = false;
  log_.push_back("close");
}

std::vector<std::string> RecordingProgress::Log() {
  std::lock_guard lock(mutex_);
  return log_;
}

std::vector<uint32_t> RecordingProgress::Percentages(const std::string& caption) {
  std::lock_guard lock(mutex_);
  std::vector<uint32_t> percentages;
  const std::string prefix = "set " + caption + " ";
  for (const std::string& line : log_) {
    if (line.rfind(prefix, 0) == 0) {
      percentages.push_back(static_cast<uint32_t>(std::stoul(line.substr(prefix.size()))));
    }
  }
  return percentages;
}

bool RecordingProgress::Overlapped() {
  std::lock_guard lock(mutex_);
  return overlapped_;
}

bool RecordingProgress::Showing() {
  std::lock_guard lock(mutex_);
  return showing_;
}

int RecordingProgress::Opened() {
  std::lock_guard lock(mutex_);
  return opened_;
}

}  // namespace kfw::test
