#include "cli/port_choice.h"

#include <algorithm>
#include <cctype>

#include "cli/arguments.h"
#include "cli/visible_text.h"
#include "midi/backends/backends.h"
#include "midi/device.h"
#include "midi/ports.h"
#include "sim/link.h"
#include "sim/module_ports.h"

namespace kfw::cli {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool LooksLikePath(const std::string& word) {
  return word.rfind("/", 0) == 0 || word.rfind("./", 0) == 0 || word.rfind("../", 0) == 0;
}

bool AllDigits(const std::string& word) {
  return !word.empty() && std::all_of(word.begin(), word.end(),
                                      [](unsigned char c) { return c >= '0' && c <= '9'; });
}

// List positions are signed 32-bit, as inputBus and outputBus hold them.
constexpr unsigned long kLargestPosition = 0x7FFFFFFF;

bool Resolve(const std::string& word, const std::vector<std::string>& names, const char* listName,
             int32_t& position, std::string& error) {
  if (AllDigits(word)) {
    unsigned long number = 0;
    if (ParseNumber(word, kLargestPosition, number) && number >= 1 && number <= names.size()) {
      position = static_cast<int32_t>(number);
      return true;
    }
    error =
        "there is no port " + word + " in \"" + listName + "\"; run `kfwupdate ports` to list them";
    return false;
  }
  // A name is taken as it is and as `kfwupdate ports` shows it, with the bytes a terminal would
  // act on written out: what the user copied from that list (or the completion offered) names
  // the port too.
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] == word || VisibleText(names[i]) == word) {
      position = static_cast<int32_t>(i + 1);
      return true;
    }
  }
  std::vector<size_t> matches;
  const std::string wanted = Lower(word);
  for (size_t i = 0; i < names.size(); ++i) {
    if (Lower(names[i]).find(wanted) != std::string::npos ||
        Lower(VisibleText(names[i])).find(wanted) != std::string::npos) {
      matches.push_back(i);
    }
  }
  if (matches.size() == 1) {
    position = static_cast<int32_t>(matches[0] + 1);
    return true;
  }
  // Port names are any other program's choice (a JACK or ALSA client may put escape sequences in
  // one), and the word may be one of them: neither reaches the terminal as it is.
  if (matches.empty()) {
    error = "no port in \"" + std::string(listName) + "\" matches \"" + VisibleText(word) +
            "\"; run `kfwupdate ports` to list them (the simulated module is listed with "
            "--simulator)";
  } else {
    error = "\"" + VisibleText(word) + "\" matches several ports in \"" + listName + "\":";
    for (size_t index : matches) error += " \"" + VisibleText(names[index]) + "\"";
    error += "; give more of the name or its position";
  }
  return false;
}

}  // namespace

bool PortWordReadable(const std::string& word, std::string& error) {
  if (word.empty()) {
    error = "an empty PORT would match every port; give a position, a name or a part of one";
    return false;
  }
  unsigned long number = 0;
  if (AllDigits(word) && !ParseNumber(word, kLargestPosition, number)) {
    error =
        "there is no position " + word + " in the port lists; run `kfwupdate ports` to list them";
    return false;
  }
  return true;
}

bool NamesSimulator(const std::string& word) {
  const std::string lower = Lower(word);
  return lower == "sim" || lower == "simulator" || lower == Lower(kSimulatedPortName);
}

bool PortChoice::SetUp(bool withSimulator, const std::vector<std::string>& portWords) {
  BackendOptions options;
  for (const std::string& word : portWords) {
    if (LooksLikePath(word) &&
        std::find(options.rawDevicePaths.begin(), options.rawDevicePaths.end(), word) ==
            options.rawDevicePaths.end()) {
      options.rawDevicePaths.push_back(word);
    }
    if (NamesSimulator(word)) withSimulator = true;
  }
  if (withSimulator || SimulatorRequestedByEnvironment()) {
    options.extraBackends.push_back(std::make_unique<SimulatedModulePorts>());
  }
  layer_ = MakeStandardDeviceLayer(std::move(options));
  seams_.emplace(FrontEndSeams{.deviceLayer = layer_.get()});
  return FillPortLists();
}

bool PortChoice::ResolveInput(const std::string& word, int32_t& position,
                              std::string& error) const {
  return Resolve(word, InputPortNames(), "Receive from", position, error);
}

bool PortChoice::ResolveOutput(const std::string& word, int32_t& position,
                               std::string& error) const {
  return Resolve(word, OutputPortNames(), "Transmit to", position, error);
}

}  // namespace kfw::cli
