#include "tests/engine/engine_helpers.h"

#include <stdexcept>

#include "engine/progress.h"
#include "engine/update.h"
#include "image/waiting.h"

namespace kfw::test {

std::vector<uint8_t> ImageData(size_t length, uint8_t seed) {
  std::vector<uint8_t> data(length);
  for (size_t i = 0; i < length; ++i) {
    data[i] = static_cast<uint8_t>((i * 7 + i / 128 + seed) & 0x7F);
  }
  return data;
}

LinkSettings ChunkedLink() {
  return {.baud = 31250, .deliveryChunk = 16, .chunkSpacingMicros = 150'000};
}

ResultCode Update(const std::vector<uint8_t>& file, DeviceInfo& device) {
  return RunUpdate(file.data(), static_cast<uint32_t>(file.size()), device);
}

namespace {

std::string NameOf(const ModuleEvent& event) {
  switch (event.command) {
    case 0x10:
      return "R" + std::to_string(event.argument);
    case 0x11:
      return "S";
    case 0x13:
      return "P" + std::to_string(event.argument);
    case 0x15:
      return (event.blockLength ? "B" : "F") + std::to_string(event.blockNumber);
    default:
      return "?" + std::to_string(event.command);
  }
}

}  // namespace

ModuleWatch::ModuleWatch(SimRig& rig) : rig_(rig) {
  rig_.module.SetObserver([this](const ModuleEvent& event) {
    SeenCommand seen{event, rig_.Now(), NameOf(event)};
    std::vector<std::function<void()>> due;
    {
      std::lock_guard lock(mutex_);
      seen_.push_back(seen);
      for (Trigger& trigger : triggers_) {
        if (!trigger.fired && trigger.when(seen)) {
          trigger.fired = true;
          due.push_back(trigger.action);
        }
      }
    }
    for (auto& action : due) action();
  });
}

ModuleWatch::~ModuleWatch() {
  rig_.module.SetObserver(nullptr);
}

void ModuleWatch::Once(std::function<bool(const SeenCommand&)> when, std::function<void()> action) {
  std::lock_guard lock(mutex_);
  triggers_.push_back({std::move(when), std::move(action)});
}

void ModuleWatch::Once(const std::string& name, std::function<void()> action) {
  Once([name](const SeenCommand& seen) { return seen.name == name; }, std::move(action));
}

std::vector<SeenCommand> ModuleWatch::Seen() {
  std::lock_guard lock(mutex_);
  return seen_;
}

std::string ModuleWatch::Names() {
  std::lock_guard lock(mutex_);
  std::string names;
  for (const SeenCommand& seen : seen_) names += (names.empty() ? "" : " ") + seen.name;
  return names;
}

std::string ModuleWatch::LastName() {
  std::lock_guard lock(mutex_);
  return seen_.empty() ? "" : seen_.back().name;
}

std::vector<uint64_t> ModuleWatch::TimesOf(const std::string& name) {
  std::lock_guard lock(mutex_);
  std::vector<uint64_t> times;
  for (const SeenCommand& seen : seen_) {
    if (seen.name == name) times.push_back(seen.at);
  }
  return times;
}

size_t ModuleWatch::Count(const std::string& name) {
  return TimesOf(name).size();
}

CancelAt::CancelAt(SimRig& rig, uint64_t when) : when_(when) {
  rig.time.At(when, [] { RequestCancel(); });
}

bool AnsweringBoxes::AskYesNo(const std::string& text) {
  questions.push_back(text);
  progressOpenAtQuestion.push_back(ProgressIsOpen());
  return answer_;
}

void AnsweringBoxes::ShowFatal(const std::string& text) {
  throw std::runtime_error("fatal MIDI failure: " + text);
}

}  // namespace kfw::test
