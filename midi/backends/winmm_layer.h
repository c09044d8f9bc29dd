// The device layer on Windows: WinMM itself, with its calls passed through one to one. Built only
// for Windows.
#pragma once

#ifdef _WIN32

#include <memory>

#include "midi/device.h"

namespace kfw {

// WinMM's devices, numbered as WinMM numbers them. The result codes are WinMM's own, which are
// also the numbers of midi/device.h. OutGetLargestMessage, which WinMM lacks, answers
// kNoMessageLimit for every open output. An output opened with kCallbackFunction gets WinMM's
// MOM_DONE as kMomDone, with our header.
std::unique_ptr<MidiDeviceLayer> MakeWinMmDeviceLayer();

}  // namespace kfw

#endif
