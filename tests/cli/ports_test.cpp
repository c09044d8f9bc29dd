// `ports` run as a user runs it: the two lists, for people and as JSON.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/cli/cli_helpers.h"

namespace kfw::test {
namespace {

TEST(CliPorts, ListsTheSimulatedModuleOnlyWhenAskedFor) {
  const std::map<std::string, std::string> noJack = {{"JACK_NO_START_SERVER", "1"},
                                                     {"JACK_DEFAULT_SERVER", "kfw-none"}};
  test::ProcessResult result = RunProgram({kProgram, "ports", "--simulator"}, noJack);
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_NE(result.out.find("Receive from:\n  0  (Choose a MIDI port)\n"), std::string::npos);
  EXPECT_NE(result.out.find("  Simulated QX-412\n"), std::string::npos) << result.out;

  result = RunProgram({kProgram, "ports"}, noJack);
  EXPECT_EQ(result.out.find("Simulated QX-412"), std::string::npos) << result.out;

  result = RunProgram({kProgram, "ports"},
                      {{"KFW_SIMULATOR", "1"}, {"JACK_DEFAULT_SERVER", "kfw-none"}});
  EXPECT_NE(result.out.find("Simulated QX-412"), std::string::npos) << result.out;
}

// The lists `ports` shows people, as (position, name) pairs.
std::vector<std::pair<int, std::string>> ListedPorts(const std::string& out,
                                                     const std::string& title) {
  std::vector<std::pair<int, std::string>> ports;
  std::istringstream lines(out);
  bool inList = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] != ' ') {
      inList = line == title + ":";
      continue;
    }
    const size_t name = line.find("  ", 2);
    const int position = std::stoi(line.substr(2, name - 2));
    if (inList && position > 0) ports.emplace_back(position, line.substr(name + 2));
  }
  return ports;
}

TEST(CliJson, PortsGivesBothListsAsPeopleSeeThem) {
  const std::map<std::string, std::string> noJack = {{"JACK_NO_START_SERVER", "1"},
                                                     {"JACK_DEFAULT_SERVER", "kfw-none"}};
  const test::ProcessResult listed = RunProgram({kProgram, "ports", "--simulator"}, noJack);
  const test::ProcessResult result =
      RunProgram({kProgram, "ports", "--simulator", "--json"}, noJack);
  ASSERT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.err, "");
  const std::vector<Json> events = JsonLines(result.out);
  ASSERT_EQ(events.size(), 2u) << result.out;
  EXPECT_EQ(events[0].at("event"), "ports");
  EXPECT_EQ(Summary(events[1]), "result 0 No error 0");
  for (const auto& [field, title] :
       {std::pair<std::string, std::string>{"receiveFrom", "Receive from"},
        {"transmitTo", "Transmit to"}}) {
    SCOPED_TRACE(field);
    std::vector<std::pair<int, std::string>> ports;
    for (const Json& port : events[0].at(field)) {
      ports.emplace_back(port.at("position").get<int>(), port.at("name").get<std::string>());
    }
    EXPECT_EQ(ports, ListedPorts(listed.out, title)) << listed.out;
    EXPECT_NE(std::find_if(ports.begin(), ports.end(),
                           [](const auto& port) { return port.second == "Simulated QX-412"; }),
              ports.end());
  }
}

}  // namespace
}  // namespace kfw::test
