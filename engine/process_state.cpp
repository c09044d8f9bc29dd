#include "engine/process_state.h"

#include "engine/progress.h"
#include "engine/transfer.h"
#include "base/report.h"
#include "base/waiting.h"
#include "midi/device.h"
#include "midi/ports.h"
#include "midi/reception.h"
#include "midi/transmission.h"
#include "protocol/device_status.h"
#include "protocol/messages.h"

namespace kfw {

void ResetProcessState() {
  internal::ResetReportState();
  internal::ResetWaitingState();
  internal::ResetProgressState();
  internal::ResetReceptionState();
  internal::ResetMessageState();
  midiOut.store(nullptr);
  internal::ResetPortState();
  InstallMidiDeviceLayer(nullptr);
  deviceInfo = DeviceInfo{};
  firmwareAreaErased = false;
}

}  // namespace kfw
