// The process-wide values of the core, and the one way to put them all back as at start.
#pragma once

namespace kfw {

// Resets every process-wide value of the core to its state at program start: the trace switch
// and path, the installed boxes, clock, progress window and device layer, the cancel flag, the
// receive parser, ring and received identifiers, the open port handles and input buffer, the
// command header's address, the device record, whether a run has erased the firmware area, and
// the port choice. Tests call it before each case (the test main installs a listener that does);
// no port may be open and no other thread may be using the core while it runs.
void ResetProcessState();

}  // namespace kfw
