// The device layer on Windows: WinMM's devices, numbered as WinMM numbers them, with its calls
// passed through one to one. The logic here builds on every platform; the WinMM calls it makes go
// through WinMmApi (winmm_api.h), for real only on Windows.
#pragma once

#include <memory>

#include "midi/backends/winmm_api.h"
#include "midi/device.h"

namespace kfw {

// The layer over the given WinMM calls. The result codes are WinMM's own, which are also the
// numbers of midi/device.h. Our headers are paired with WinMM headers of the layer's own from their
// preparation to their unpreparation; the input callback gets our header back, with the byte count
// and flags WinMM set. An output opened with kCallbackFunction (fast mode) gets WinMM's MOM_DONE as
// kMomDone, with our header. OutGetLargestMessage, which WinMM lacks, answers kNoMessageLimit for
// every open output.
std::unique_ptr<MidiDeviceLayer> MakeWinMmDeviceLayer(std::unique_ptr<WinMmApi> api);

#ifdef _WIN32
// Over WinMM itself.
std::unique_ptr<MidiDeviceLayer> MakeWinMmDeviceLayer();
#endif

}  // namespace kfw
