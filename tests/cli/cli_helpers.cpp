#include "tests/cli/cli_helpers.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/support/doubles.h"

namespace kfw::test {

std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = (ScratchDirectory() / name).string();
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::vector<uint8_t> Firmware(size_t size, uint8_t major, uint8_t minor) {
  std::vector<uint8_t> data = {'Q', 'X', 'F', 'W', major, minor};
  for (size_t i = data.size(); i < size; ++i)
    data.push_back(static_cast<uint8_t>((i * 37 + 11) & 0x7F));
  return data;
}

std::vector<uint8_t> EightBitFirmware(size_t size) {
  std::vector<uint8_t> data = Firmware(size, 1, 3);
  data[size - 3] = 0xC0;
  return data;
}

std::vector<Json> JsonLines(const std::string& out) {
  std::vector<Json> events;
  EXPECT_TRUE(out.empty() || out.back() == '\n') << "the last line is cut: " << out;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    for (const char c : line) {
      EXPECT_TRUE(c >= 0x20 && c < 0x7F)
          << "byte " << int(static_cast<unsigned char>(c)) << " in: " << line;
    }
    Json event = Json::parse(line, nullptr, false);
    EXPECT_TRUE(event.is_object() && event.contains("event") && event["event"].is_string())
        << "not an event: " << line;
    if (event.is_object()) events.push_back(std::move(event));
  }
  return events;
}

std::string Summary(const Json& event) {
  const std::string name = event.value("event", "");
  if (name == "progress") {
    return "progress " + event.at("caption").get<std::string>() + " " +
           std::to_string(event.at("percent").get<int>());
  }
  if (name == "module") return "module " + event.at("version").get<std::string>();
  if (name == "box") {
    const std::string kind = event.at("kind").get<std::string>();
    const std::map<std::string, std::string> captions = {
        {"error", "Korvex Firmware Update Utility Error"},
        {"question", "Korvex Firmware Update Utility"},
        {"fatal", "Korvex Firmware Update Utility"},
        {"success", "Firmware Firmware Update Utility"}};
    EXPECT_EQ(event.at("caption"), captions.count(kind) ? captions.at(kind) : "?") << event;
    std::string words = "box " + kind + " " + event.at("text").get<std::string>();
    if (kind == "question") words += event.at("answer").get<bool>() ? " -> yes" : " -> no";
    return words;
  }
  if (name == "result") {
    const Json& code = event.at("code");
    return "result " + (code.is_null() ? std::string("null") : std::to_string(code.get<int>())) +
           " " + event.at("text").get<std::string>() + " " +
           std::to_string(event.at("exitStatus").get<int>());
  }
  return name;
}

std::vector<std::string> Summaries(const std::vector<Json>& events) {
  std::vector<std::string> words;
  for (const Json& event : events) words.push_back(Summary(event));
  return words;
}

std::string TransmitTo(const std::string& readyLine) {
  const std::string marker = "transmit to \"";
  const size_t start = readyLine.find(marker);
  if (start == std::string::npos) return "";
  const size_t from = start + marker.size();
  return readyLine.substr(from, readyLine.find('"', from) - from);
}

}  // namespace kfw::test
