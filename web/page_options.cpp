#include "web/page_options.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace kfw {

namespace {

struct Parameter {
  const char* name;
  bool ProgramOptions::*option;
};

constexpr Parameter kParameters[] = {
    {"log", &ProgramOptions::trace},
    {"simulator", &ProgramOptions::simulator},
    {"fast", &ProgramOptions::fast},
};

bool SwitchesOn(std::string value) {
  std::transform(value.begin(), value.end(), value.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return value.empty() || value == "1" || value == "yes" || value == "true" || value == "on";
}

constexpr const char* kWhichBrowsers =
    " The page reaches a MIDI interface through Web MIDI, with SysEx messages: Chrome, Edge, "
    "Opera and the other browsers built on Chromium offer it, Firefox once you have allowed the "
    "site permission it asks for, and only to pages opened from https:// or from "
    "http://localhost; Safari offers no Web MIDI at all. The page sends only the update's "
    "messages, and only to the ports you choose.";

constexpr const char* kTryTheSimulator =
    " Meanwhile you can try the page with the simulated module: tick \"List the simulated "
    "module\".";

}  // namespace

ProgramOptions ReadPageOptions(const std::string& query) {
  ProgramOptions options;
  std::string_view rest(query);
  if (!rest.empty() && rest.front() == '?') rest.remove_prefix(1);
  while (!rest.empty()) {
    const size_t end = std::min(rest.find('&'), rest.size());
    const std::string_view pair = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    const size_t equals = pair.find('=');
    const std::string name(pair.substr(0, equals));
    const std::string value(equals == std::string_view::npos ? "" : pair.substr(equals + 1));
    for (const Parameter& parameter : kParameters) {
      if (name == parameter.name) options.*parameter.option = SwitchesOn(value);
    }
  }
  return options;
}

std::string NoMidiNotice(const WebMidiAccess& access) {
  // The browser's words end in a full stop of their own, or not.
  std::string words = access.BrowserMessage();
  if (!words.empty() && words.back() == '.') words.pop_back();
  std::string what;
  switch (access.Problem()) {
    case WebMidiProblem::kNone:
      return {};
    case WebMidiProblem::kNotOffered:
      what = "This browser offers no Web MIDI, so the page cannot reach a MIDI interface.";
      break;
    case WebMidiProblem::kInsecurePage:
      what =
          "The browser offers this page no Web MIDI: it was opened neither from https:// nor from "
          "http://localhost.";
      break;
    case WebMidiProblem::kRefused:
      what = "The browser refused this page MIDI with SysEx (" + words +
             "). To allow it, open the site's settings (the icon before the address), allow MIDI "
             "devices, then reload the page.";
      break;
    case WebMidiProblem::kFailed:
      what = "The browser could not start its MIDI (" + words +
             "). Check that the MIDI interface is plugged in and its driver works, then reload the "
             "page.";
      break;
  }
  return what + kWhichBrowsers + kTryTheSimulator;
}

std::string NoAnswerNotice() {
  return "The module did not answer in time. Check that it is switched on and that its MIDI out "
         "goes to the port chosen in \"Receive from\" and its MIDI in to the one in \"Transmit "
         "to\", then Connect again. If it still does not answer, try another browser built on "
         "Chromium, or the desktop program (kfwupdate-gui, kfwupdate): a browser's MIDI has been "
         "known to garble SysEx messages.";
}

std::string PortGoneNotice(const std::string& port, bool input) {
  return std::string("The MIDI port \"") + port + "\" (" +
         (input ? "Receive from" : "Transmit to") +
         ") has been unplugged. A procedure under way stops at its next wait or send, with the "
         "message that says so. Plug the interface in again, reload the page, then connect and "
         "update again.";
}

}  // namespace kfw
