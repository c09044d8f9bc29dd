// The seams a front end hands the core for as long as it runs, installed in one step and removed
// in one, so that no front end (the command line, the Qt window, the Win32 window, the web page
// to come) writes the order out again and none can get it wrong.
//
// It sits in engine/ because that is the top of the core: the progress window is the engine's
// seam and the others are the layers' below it, and every front end already depends on the
// engine, so each can use this without an arrow pointing back up. A folder of its own would be a
// layer above the engine holding one header.
//
// The order of removal is the reason this exists. The ports are closed first, while the device
// layer that opened them is still installed: ClosePorts hands the handles back to the installed
// layer, which stops the driver's thread feeding the input buffer and the ring, and lets the last
// message (an update's final reset) leave before the output closes. Were the layer removed
// first, ClosePorts would hand the handles to the fallback, which knows none of them, and the
// layer would then be destroyed with its ports open and the driver's thread still calling the
// input callback. The boxes go only after the ports have closed, since until then that thread may
// show the fatal text through them. Then the rest go in the reverse order of their installation.
//
// Not here: the port lists, which MainWindowLogic installs when its window is set up and removes
// when it goes, since only it knows when the lists exist; and the clock, which only tests and the
// benchmark replace (virtual time), the programs keeping the system's.
#pragma once

#include "base/report.h"
#include "engine/progress.h"
#include "midi/device.h"
#include "midi/ports.h"

namespace kfw {

// What to install; a seam left null is neither installed nor removed, so a front end that keeps
// one seam elsewhere (the command line's boxes and progress window are its front end object)
// hands over only the others.
struct FrontEndSeams {
  MidiDeviceLayer* deviceLayer = nullptr;
  PortSettingsStore* portSettings = nullptr;
  MessageBoxes* boxes = nullptr;
  ProgressWindow* progress = nullptr;
};

// Installs the seams on construction; on destruction closes the ports (when it installed the
// device layer), then removes them. Each object handed over must outlive this: declare it after
// them.
class InstalledSeams {
 public:
  explicit InstalledSeams(const FrontEndSeams& seams);
  ~InstalledSeams();
  InstalledSeams(const InstalledSeams&) = delete;
  InstalledSeams& operator=(const InstalledSeams&) = delete;

 private:
  FrontEndSeams seams_;
};

}  // namespace kfw
