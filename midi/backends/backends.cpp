#include "midi/backends/backends.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "midi/combined_layer.h"

#ifdef _WIN32
#include "midi/backends/winmm_layer.h"
#endif
#ifdef KFW_HAVE_RAW_DEVICES
#include "midi/backends/raw_backend.h"
#endif
#ifdef KFW_HAVE_RTMIDI
#include "midi/backends/rtmidi_backend.h"
#endif
#ifdef KFW_HAVE_WEBMIDI
#include "midi/backends/webmidi_backend.h"
#endif

namespace kfw {

namespace {

// The backends of this build, in the order their ports are listed; the extra backends follow.
struct BackendEntry {
  const char* name;
  bool (*wanted)(const BackendOptions& options);
  std::unique_ptr<PortBackend> (*make)(const BackendOptions& options);
};

#if defined(KFW_HAVE_RTMIDI) || defined(KFW_HAVE_WEBMIDI)
bool SystemWanted(const BackendOptions& options) {
  return options.systemBackends;
}
#endif

#ifdef KFW_HAVE_RAW_DEVICES
// The raw devices found under /dev/snd belong to the system; paths given by the caller are
// listed even without it.
bool RawWanted(const BackendOptions& options) {
  return options.systemBackends || !options.rawDevicePaths.empty();
}
#endif

// A vector, not an array: a build may have none of them.
const std::vector<BackendEntry> kBackends = {
#ifdef KFW_HAVE_RTMIDI
    {"ALSA", SystemWanted, [](const BackendOptions&) { return MakeAlsaSequencerBackend(); }},
    {"JACK", SystemWanted, [](const BackendOptions&) { return MakeJackBackend(); }},
#endif
#ifdef KFW_HAVE_RAW_DEVICES
    {"raw", RawWanted,
     [](const BackendOptions& options) {
       return MakeRawDeviceBackend(options.rawDevicePaths, options.systemBackends);
     }},
#endif
#ifdef KFW_HAVE_WEBMIDI
    {"Web MIDI", SystemWanted,
     [](const BackendOptions& options) { return MakeWebMidiBackend(options.webMidi); }},
#endif
};

// Always compiled in; the front ends pass it among the extra backends when asked to.
constexpr const char* kSimulatorBackendName = "simulator";

#if defined(KFW_HAVE_WEBMIDI)
// In a web page: what the browser gave, and how to try the page without it (the notice on the
// page says why the browser gave nothing).
std::string NoPortText(const char* direction) {
  return std::string("No MIDI ") + direction +
         " found: the browser gave this page no MIDI port. Is the MIDI interface plugged in "
         "(plugged in since the page was opened? reload it), and did you allow the page MIDI? To "
         "try the page without hardware, tick \"List the simulated module\" (or open it with "
         "?simulator).";
}
#elif !defined(_WIN32)
// WinMM's texts for no device send the user to install a Windows driver. What is true here: what
// was looked for, what usually makes it missing, and how to try the program without it.
#ifdef KFW_HAVE_RTMIDI
#define KFW_LOOKED_FOR "no ALSA sequencer or JACK port, and no raw MIDI device"
#else
#define KFW_LOOKED_FOR "no raw MIDI device"
#endif
std::string NoPortText(const char* direction) {
  return std::string("No MIDI ") + direction +
         " found: " KFW_LOOKED_FOR
         ". Is the MIDI interface plugged in and its driver loaded, and is your user in the "
         "\"audio\" group? To try the program without hardware, start it with --simulator.";
}
#undef KFW_LOOKED_FOR
#endif

}  // namespace

std::unique_ptr<MidiDeviceLayer> MakeStandardDeviceLayer(BackendOptions options) {
  auto layer = std::make_unique<PortsDeviceLayer>();
  for (const BackendEntry& entry : kBackends) {
    if (entry.wanted(options)) layer->AddBackend(entry.make(options));
  }
  for (auto& backend : options.extraBackends) layer->AddBackend(std::move(backend));
#ifndef _WIN32
  layer->UsePlatformTexts(NoPortText("input"), NoPortText("output"));
#endif
#ifdef _WIN32
  // WinMM is a device layer of its own, not a byte stream: the port layer's devices are numbered
  // on after WinMM's.
  if (options.systemBackends) {
    std::vector<std::unique_ptr<MidiDeviceLayer>> parts;
    parts.push_back(MakeWinMmDeviceLayer());
    parts.push_back(std::move(layer));
    return std::make_unique<CombinedDeviceLayer>(std::move(parts));
  }
#endif
  return layer;
}

std::vector<std::string> CompiledBackendNames() {
  std::vector<std::string> names;
#ifdef _WIN32
  names.emplace_back("WinMM");
#endif
  for (const BackendEntry& entry : kBackends) names.emplace_back(entry.name);
  names.emplace_back(kSimulatorBackendName);
  return names;
}

bool SimulatorRequestedByEnvironment() {
  const char* value = std::getenv("KFW_SIMULATOR");
  if (!value) return false;
  std::string text(value);
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text == "1" || text == "yes" || text == "true";
}

}  // namespace kfw
