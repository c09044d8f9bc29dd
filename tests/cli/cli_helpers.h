// What the tests of the command-line program share: the built program and a way to run it, the
// image files they write, and the reading of --json's lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/cli/child_process.h"

namespace kfw::test {

// The kfwupdate built with the tests.
inline const std::string kProgram = KFW_CLI_PATH;

// Runs it to the end, within the usual time limit.
inline ProcessResult RunProgram(std::vector<std::string> argv,
                                std::map<std::string, std::string> environment = {}) {
  return Run(std::move(argv), std::move(environment));
}

// Writes the bytes to a file of this name in the scratch directory; returns its path.
std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes);

// Firmware as an image record carries it: 7-bit data of `size` bytes that name their version.
std::vector<uint8_t> Firmware(size_t size, uint8_t major, uint8_t minor);
// Firmware with one byte that SysEx cannot carry, near its end.
std::vector<uint8_t> EightBitFirmware(size_t size);

// The simulated module's identity (sim/module.h defaults): company 0x0021, product 0x0A, v1.2.
constexpr uint16_t kSimCompany = 0x0021;
constexpr uint8_t kSimProduct = 0x0A;

// --json: what a program reading standard output gets.
using Json = nlohmann::json;

// Every line of a command's standard output, parsed. A line that is not one JSON object with its
// event named, or that holds anything but printable ASCII, fails the test.
std::vector<Json> JsonLines(const std::string& out);

// One event in a few words, for comparing sequences: "progress Connecting... 0", "module 1.2",
// "box error <text>", "box question <text> -> no", "result <code> <text> <status>". Each box's
// caption is checked against its kind on the way.
std::string Summary(const Json& event);
std::vector<std::string> Summaries(const std::vector<Json>& events);

// The port the simulator's ready line says to transmit to; a pseudo-terminal serves both ways.
std::string TransmitTo(const std::string& readyLine);

}  // namespace kfw::test
