#include "midi/ports.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "base/report.h"
#include "base/waiting.h"
#include "midi/device.h"
#include "midi/reception.h"
#include "midi/transmission.h"

namespace kfw {

int32_t inputBus = -1;
int32_t outputBus = -1;

namespace {

std::atomic<PortListWindow*> installedWindow{nullptr};
std::atomic<PortSettingsStore*> installedStore{nullptr};

// Device numbers of the entries after position 0, and their names.
std::vector<uint32_t> inputDevices;
std::vector<uint32_t> outputDevices;
std::vector<std::string> inputNames;
std::vector<std::string> outputNames;

void AddEntry(int list, const std::string& text) {
  if (PortListWindow* window = installedWindow.load()) window->AddPortEntry(list, text);
}

void SelectEntry(int list, int32_t position) {
  if (PortListWindow* window = installedWindow.load()) window->SelectPortEntry(list, position);
}

void ShowOpenFailure(const char* format, MmResult result) {
  char text[256];
  std::snprintf(text, sizeof text, format, static_cast<unsigned long>(result));
  ShowError(text);
}

// How the simulated module is asked for: a web page's options are in its address.
#ifdef __EMSCRIPTEN__
constexpr const char* kTrySimulatedModule =
    " To try the page without hardware, choose the simulated module (tick \"List the simulated "
    "module\", or open the page with ?simulator).";
#else
constexpr const char* kTrySimulatedModule =
    " To try the program without hardware, choose the simulated module (start the program with "
    "--simulator).";
#endif

// A port that would not open: in the platform's words where it has its own (on Linux, where a
// WinMM code means nothing), else with the system's format and the code.
void ShowPortOpenFailure(const char* format, MmResult result, const char* listName) {
  const std::string reason = CurrentMidiDeviceLayer().OpenFailureReason();
  if (reason.empty()) {
    ShowOpenFailure(format, result);
    return;
  }
  // A library's own reason may end its sentence already (RtMidi's do).
  ShowError(std::string("Cannot open the MIDI port chosen in \"") + listName + "\": " + reason +
            (reason.back() == '.' ? "" : ".") + kTrySimulatedModule);
}

// Closes the input of a failed open. The handle stays recorded only if the close failed, so that
// the next ClosePorts can finish it; a closed handle is forgotten rather than used again.
void CloseFailedInput(HMidiIn input) {
  if (MidiInClose(input) == kMmNoError) midiIn.store(nullptr);
}

int32_t DeviceAt(const std::vector<uint32_t>& devices, int32_t position) {
  if (position < 1 || static_cast<size_t>(position) > devices.size()) return -1;
  return static_cast<int32_t>(devices[static_cast<size_t>(position) - 1]);
}

}  // namespace

void InstallPortListWindow(PortListWindow* window) {
  installedWindow.store(window);
}

void InstallPortSettingsStore(PortSettingsStore* store) {
  installedStore.store(store);
}

void EnableUpdate(uint32_t flag) {
  if (PortListWindow* window = installedWindow.load()) window->EnableUpdate((flag & 0xFF) != 0);
}

namespace {

// One list: "(Choose a MIDI port)" selected at position 0, then an entry for every device whose
// name can be read, each remembered with its own device number.
bool FillList(int list, uint32_t count, MmResult (*capabilities)(uint32_t, std::string&),
              const char* noDeviceText, std::vector<uint32_t>& devices,
              std::vector<std::string>& names) {
  if (count == 0) {
    // The system's text asks for a Windows driver; a platform without WinMM says what is true
    // there.
    const std::string own = CurrentMidiDeviceLayer().NoDevicesText(list == kReceiveFromList);
    ShowError(own.empty() ? noDeviceText : own);
    return false;
  }
  AddEntry(list, kChooseAPort);
  SelectEntry(list, 0);
  for (uint32_t device = 0; device < count; ++device) {
    std::string name;
    if (capabilities(device, name) != kMmNoError) continue;
    AddEntry(list, name);
    devices.push_back(device);
    names.push_back(name);
  }
  return true;
}

}  // namespace

bool FillPortLists() {
  inputDevices.clear();
  outputDevices.clear();
  inputNames.clear();
  outputNames.clear();
  return FillList(kReceiveFromList, MidiInGetNumDevs(), MidiInGetDevCaps,
                  "No MIDI input buses available! Please install your MIDI interface's Windows "
                  "driver",
                  inputDevices, inputNames) &&
         FillList(kTransmitToList, MidiOutGetNumDevs(), MidiOutGetDevCaps,
                  "No MIDI output buses available! Please install your MIDI card's Windows driver",
                  outputDevices, outputNames);
}

int32_t InputDeviceAt(int32_t position) {
  return DeviceAt(inputDevices, position);
}
int32_t OutputDeviceAt(int32_t position) {
  return DeviceAt(outputDevices, position);
}
const std::vector<std::string>& InputPortNames() {
  return inputNames;
}
const std::vector<std::string>& OutputPortNames() {
  return outputNames;
}

bool OpenPorts(int32_t inputDevice, int32_t outputDevice) {
  HMidiIn input = nullptr;
  MmResult result = MidiInOpen(&input, static_cast<uint32_t>(inputDevice), MidiInputCallback, 0,
                               kCallbackFunction);
  if (result != kMmNoError) {
    ShowPortOpenFailure("midiInOpen returned %.8lx. Is the MIDI port currently in use?\n", result,
                        "Receive from");
    return false;
  }
  midiIn.store(input);

  inputHeader = MidiHdr{};
  inputHeader.dwBufferLength = kInputBufferSize;
  inputHeader.lpData = inputBuffer;
  result = MidiInPrepareHeader(input, &inputHeader, sizeof(MidiHdr));
  if (result != kMmNoError) {
    CloseFailedInput(input);
    ShowOpenFailure("midiInPrepareHeader returned %.8lx\n", result);
    return false;
  }
  result = MidiInAddBuffer(input, &inputHeader, sizeof(MidiHdr));
  if (result != kMmNoError) {
    // A prepared header must be unprepared before its memory goes (WinMM's own header goes with
    // the closed input); not queued, it can be at once.
    MidiInUnprepareHeader(input, &inputHeader, sizeof(MidiHdr));
    CloseFailedInput(input);
    ShowOpenFailure("midiInAddBuffer returned %.8lx\n", result);
    return false;
  }
  MidiInStart(input);

  // The fast mode learns of a message's end from the output's done notice; the normal mode, as
  // WinMM's callers long did, only from the unprepare call.
  HMidiOut output = nullptr;
  if (fastMode.load()) {
    result = MidiOutOpen(&output, static_cast<uint32_t>(outputDevice),
                         reinterpret_cast<uintptr_t>(&MidiOutputCallback), 0, kCallbackFunction);
  } else {
    result = MidiOutOpen(&output, static_cast<uint32_t>(outputDevice), 0, 0, kCallbackNull);
  }
  if (result != kMmNoError) {
    MidiInStop(input);
    // The buffer queued above would keep the input from closing (a device with buffers queued
    // refuses to close) and hold the port until the next ClosePorts: the reset hands it back
    // empty, so it can be unprepared and the input closed now.
    MidiInReset(input);
    MidiInUnprepareHeader(input, &inputHeader, sizeof(MidiHdr));
    CloseFailedInput(input);
    ShowPortOpenFailure("midiOutOpen returned %.8lx. Is the MIDI port currently in use?\n", result,
                        "Transmit to");
    return false;
  }
  midiOut.store(output);
  return true;
}

void ClosePorts() {
  const HMidiIn input = midiIn.load();
  const HMidiOut output = midiOut.load();
  MidiOutClose(output);
  MidiInStop(input);
  // The reset hands the buffer back empty; the callback does not queue an empty buffer again,
  // which is what lets the unprepare and close succeed.
  MidiInReset(input);
  MidiInUnprepareHeader(input, &inputHeader, sizeof(MidiHdr));
  MidiInClose(input);
  midiIn.store(nullptr);
  midiOut.store(nullptr);
}

bool SavePortSettings() {
  PortSettingsStore* store = installedStore.load();
  if (!store || !store->Open()) {
    EnableUpdate(0);
    return false;
  }
  if (!store->Write(kInputBusValue, inputBus)) {
    ShowError("Unable to set the Input Bus info to the registry.");
    EnableUpdate(0);
    store->Close();
    return false;
  }
  if (!store->Write(kOutputBusValue, outputBus)) {
    ShowError("Unable to set the Output Bus info to the registry.");
    EnableUpdate(0);
    store->Close();
    return false;
  }
  store->Close();
  return true;
}

bool LoadPortSettings() {
  PortSettingsStore* store = installedStore.load();
  if (!store || !store->Open()) {
    EnableUpdate(0);
    return false;
  }
  if (!store->Read(kInputBusValue, inputBus) || !store->Read(kOutputBusValue, outputBus)) {
    EnableUpdate(0);
    store->Close();
    return false;
  }
  SelectEntry(kReceiveFromList, inputBus);
  SelectEntry(kTransmitToList, outputBus);
  store->Close();
  return true;
}

namespace internal {
void ResetPortState() {
  inputBus = -1;
  outputBus = -1;
  inputDevices.clear();
  outputDevices.clear();
  inputNames.clear();
  outputNames.clear();
  InstallPortListWindow(nullptr);
  InstallPortSettingsStore(nullptr);
}
}  // namespace internal

}  // namespace kfw
