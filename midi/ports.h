// The MIDI ports: filling the two lists, opening the chosen pair for a connection, closing them,
// and remembering the choice between runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kfw {

// Control IDs of the two lists in the main window.
inline constexpr int kTransmitToList = 1003;
inline constexpr int kReceiveFromList = 1004;
inline constexpr const char* kChooseAPort = "(Choose a MIDI port)";

// What the port code needs of the window that holds the lists: supplied by the desktop window,
// the command-line program or a test double.
class PortListWindow {
 public:
  virtual ~PortListWindow() = default;
  // Appends an entry to list 1003 or 1004.
  virtual void AddPortEntry(int list, const std::string& text) = 0;
  // Selects a position; a position outside the list leaves the list with no selection.
  virtual void SelectPortEntry(int list, int32_t position) = 0;
  // Enables or disables the Update button (1001).
  virtual void EnableUpdate(bool enabled) = 0;
};

// nullptr: lists and button go nowhere (the command-line program reads the lists through
// InputPortNames / OutputPortNames instead).
void InstallPortListWindow(PortListWindow* window);
void EnableUpdate(uint32_t flag);  // only the low 8 bits count

// Where the port choice is remembered: the registry on Windows, a settings file elsewhere. Shaped
// after the registry calls: open (creating when missing), read and write 32-bit values, close.
class PortSettingsStore {
 public:
  virtual ~PortSettingsStore() = default;
  virtual bool Open() = 0;
  virtual bool Read(const char* name, int32_t& value) = 0;
  virtual bool Write(const char* name, int32_t value) = 0;
  virtual void Close() = 0;
};

// nullptr: no store, so every load and save fails as a store that cannot be opened does.
void InstallPortSettingsStore(PortSettingsStore* store);

// The positions chosen in "Receive from" and "Transmit to": -1 none, 0 "(Choose a MIDI port)",
// p >= 1 the p-th device listed. Always list positions, never device numbers.
extern int32_t inputBus;
extern int32_t outputBus;

// Fills both lists; false, after its message, when there is no input or no output device.
bool FillPortLists();

// The device number behind a list position, kept for every entry when the lists are filled, so a
// device whose name could not be read does not shift the later entries onto the wrong device.
// -1 for position 0, a position outside the list, or before the lists are filled.
int32_t InputDeviceAt(int32_t position);
int32_t OutputDeviceAt(int32_t position);

// The names listed after "(Choose a MIDI port)", in position order (position = index + 1).
const std::vector<std::string>& InputPortNames();
const std::vector<std::string>& OutputPortNames();

// Opens the input (with the reception callback and buffer) and the output; false, after its
// message, with nothing left running and the input closed again (its buffer handed back and
// unprepared first, so a failing output open does not leave the input device held).
bool OpenPorts(int32_t inputDevice, int32_t outputDevice);
// Closes both; harmless when nothing is open. Every result is ignored.
void ClosePorts();

bool SavePortSettings();
bool LoadPortSettings();

inline constexpr const char* kInputBusValue = "InputBus";
inline constexpr const char* kOutputBusValue = "OutputBus";

namespace internal {
void ResetPortState();
}

}  // namespace kfw
