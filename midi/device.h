// The MIDI device layer: the small WinMM-shaped interface that reception, transmission and the
// port code call. On Windows it is WinMM itself; elsewhere it is the port layer over the backends
// (RtMidi for ALSA/JACK, raw MIDI device files, the simulated module); in tests it is a scriptable
// device.
//
// The semantics the callers rely on, whatever stands behind the layer:
// - Devices are numbered from 0; a capability query gives the device's name or a failure code.
// - An input is opened with a callback that runs on the driver's own thread. SysEx bytes land in
//   the prepared buffer queued with MidiInAddBuffer; when the buffer is full or a message has
//   ended, it is handed back through the callback as kMimLongData, its byte count in
//   dwBytesRecorded. Nothing else is delivered into a buffer; with no buffer queued, SysEx bytes
//   are lost. The callback may queue the buffer again from inside the call.
// - MidiInReset hands every queued buffer back through the callback, with the bytes received so
//   far (none, usually), so it can be unprepared.
// - MidiOutLongMsg starts sending a prepared message; the message is done only when its bytes have
//   left the machine. Until then MidiOutUnprepareHeader answers kMidiErrStillPlaying.
// - An output opened with kCallbackFunction calls its callback with kMomDone, on a thread of the
//   layer's, once a message is done (param1 is its header, to be compared, never read: the sender
//   may unprepare and drop it as soon as it is done). The notice may come a little after the
//   unprepare call has already succeeded; it never comes before the message is done. The fast
//   mode uses it to end a send without waiting for the next tick.
// - Every failure is a nonzero numeric result code, shown to the user, never told apart.
// - One call is our own, not WinMM's: OutGetLargestMessage tells how long a message the open
//   output takes, so that a procedure can refuse what the output would refuse before it starts.
// - Two texts are our own too, for a platform whose MIDI system is not WinMM, where WinMM's texts
//   would send the user to install a Windows driver or show a code that means nothing there:
//   NoDevicesText and OpenFailureReason. WinMM's layer and the test doubles give none, and the
//   system's own texts are shown.
#pragma once

#include <cstdint>
#include <string>

namespace kfw {

using MmResult = uint32_t;

// WinMM's result codes, under our names; the numbers are WinMM's own.
inline constexpr MmResult kMmNoError = 0;
inline constexpr MmResult kMmError = 1;
inline constexpr MmResult kMmBadDeviceId = 2;
inline constexpr MmResult kMmNotEnabled = 3;
inline constexpr MmResult kMmAllocated = 4;
inline constexpr MmResult kMmInvalidHandle = 5;
inline constexpr MmResult kMmNoDriver = 6;
inline constexpr MmResult kMmNoMemory = 7;
inline constexpr MmResult kMmNotSupported = 8;
inline constexpr MmResult kMmInvalidFlag = 10;
inline constexpr MmResult kMmInvalidParameter = 11;
inline constexpr MmResult kMmHandleBusy = 12;
inline constexpr MmResult kMidiErrUnprepared = 64;
inline constexpr MmResult kMidiErrStillPlaying = 65;
inline constexpr MmResult kMidiErrNotReady = 67;
inline constexpr MmResult kMidiErrNoDevice = 68;

// Messages of the input callback.
inline constexpr uint32_t kMimOpen = 0x3C1;
inline constexpr uint32_t kMimClose = 0x3C2;
inline constexpr uint32_t kMimData = 0x3C3;
inline constexpr uint32_t kMimLongData = 0x3C4;
inline constexpr uint32_t kMimError = 0x3C5;
inline constexpr uint32_t kMimLongError = 0x3C6;

// Messages of the output callback.
inline constexpr uint32_t kMomOpen = 0x3C7;
inline constexpr uint32_t kMomClose = 0x3C8;
inline constexpr uint32_t kMomDone = 0x3C9;

// Open flags.
inline constexpr uint32_t kCallbackNull = 0;
inline constexpr uint32_t kCallbackFunction = 0x30000;

// The largest message of an output that takes a long message of any length.
inline constexpr uint32_t kNoMessageLimit = UINT32_MAX;

// Header flags.
inline constexpr uint32_t kMhdrDone = 0x1;
inline constexpr uint32_t kMhdrPrepared = 0x2;
inline constexpr uint32_t kMhdrInQueue = 0x4;

// A buffer handed to the layer, as WinMM's MIDIHDR.
struct MidiHdr {
  uint8_t* lpData = nullptr;
  uint32_t dwBufferLength = 0;
  uint32_t dwBytesRecorded = 0;
  uintptr_t dwUser = 0;
  uint32_t dwFlags = 0;
};

// Open devices. Each layer derives its own; callers only pass the handles back.
struct MidiInDevice {
  virtual ~MidiInDevice() = default;
};
struct MidiOutDevice {
  virtual ~MidiOutDevice() = default;
};
using HMidiIn = MidiInDevice*;
using HMidiOut = MidiOutDevice*;

using MidiInProc = void (*)(HMidiIn handle, uint32_t message, uintptr_t instance, uintptr_t param1,
                            uintptr_t param2);
// Passed to OutOpen as its callback (converted to uintptr_t, as WinMM takes it) with
// kCallbackFunction.
using MidiOutProc = void (*)(HMidiOut handle, uint32_t message, uintptr_t instance,
                             uintptr_t param1, uintptr_t param2);

class MidiDeviceLayer {
 public:
  virtual ~MidiDeviceLayer() = default;

  virtual uint32_t InGetNumDevs() = 0;
  virtual MmResult InGetDevCaps(uint32_t device, std::string& name) = 0;
  virtual MmResult InOpen(HMidiIn* handle, uint32_t device, MidiInProc callback, uintptr_t instance,
                          uint32_t flags) = 0;
  virtual MmResult InPrepareHeader(HMidiIn handle, MidiHdr* header, uint32_t size) = 0;
  virtual MmResult InUnprepareHeader(HMidiIn handle, MidiHdr* header, uint32_t size) = 0;
  virtual MmResult InAddBuffer(HMidiIn handle, MidiHdr* header, uint32_t size) = 0;
  virtual MmResult InStart(HMidiIn handle) = 0;
  virtual MmResult InStop(HMidiIn handle) = 0;
  virtual MmResult InReset(HMidiIn handle) = 0;
  virtual MmResult InClose(HMidiIn handle) = 0;

  virtual uint32_t OutGetNumDevs() = 0;
  virtual MmResult OutGetDevCaps(uint32_t device, std::string& name) = 0;
  virtual MmResult OutOpen(HMidiOut* handle, uint32_t device, uintptr_t callback,
                           uintptr_t instance, uint32_t flags) = 0;
  virtual MmResult OutPrepareHeader(HMidiOut handle, MidiHdr* header, uint32_t size) = 0;
  virtual MmResult OutUnprepareHeader(HMidiOut handle, MidiHdr* header, uint32_t size) = 0;
  virtual MmResult OutLongMsg(HMidiOut handle, MidiHdr* header, uint32_t size) = 0;
  virtual MmResult OutClose(HMidiOut handle) = 0;
  // Our own extension: the longest message, F0 to F7, that OutLongMsg takes on this open output,
  // or kNoMessageLimit. A longer one would fail there, after the procedure had begun. WinMM has no
  // such query; its layer answers kNoMessageLimit.
  virtual MmResult OutGetLargestMessage(HMidiOut handle, uint32_t& largest) = 0;

  // Our own: what to tell, in place of the system's text, when there is no input device (input)
  // or no output device at all; empty keeps the system's.
  virtual std::string NoDevicesText(bool input) {
    (void)input;
    return {};
  }
  // Our own: why the last InOpen or OutOpen that failed did, in the platform's words ("Permission
  // denied"), to be told in place of the system's text with its code; empty keeps the system's.
  virtual std::string OpenFailureReason() { return {}; }
};

// The layer the procedures use. With none installed every device count is 0 and every call fails
// with kMmNoDriver.
void InstallMidiDeviceLayer(MidiDeviceLayer* layer);
MidiDeviceLayer& CurrentMidiDeviceLayer();

// The calls as the procedures make them, with WinMM's argument order.
uint32_t MidiInGetNumDevs();
MmResult MidiInGetDevCaps(uint32_t device, std::string& name);
MmResult MidiInOpen(HMidiIn* handle, uint32_t device, MidiInProc callback, uintptr_t instance,
                    uint32_t flags);
MmResult MidiInPrepareHeader(HMidiIn handle, MidiHdr* header, uint32_t size);
MmResult MidiInUnprepareHeader(HMidiIn handle, MidiHdr* header, uint32_t size);
MmResult MidiInAddBuffer(HMidiIn handle, MidiHdr* header, uint32_t size);
MmResult MidiInStart(HMidiIn handle);
MmResult MidiInStop(HMidiIn handle);
MmResult MidiInReset(HMidiIn handle);
MmResult MidiInClose(HMidiIn handle);
uint32_t MidiOutGetNumDevs();
MmResult MidiOutGetDevCaps(uint32_t device, std::string& name);
MmResult MidiOutOpen(HMidiOut* handle, uint32_t device, uintptr_t callback, uintptr_t instance,
                     uint32_t flags);
MmResult MidiOutPrepareHeader(HMidiOut handle, MidiHdr* header, uint32_t size);
MmResult MidiOutUnprepareHeader(HMidiOut handle, MidiHdr* header, uint32_t size);
MmResult MidiOutLongMsg(HMidiOut handle, MidiHdr* header, uint32_t size);
MmResult MidiOutClose(HMidiOut handle);
MmResult MidiOutGetLargestMessage(HMidiOut handle, uint32_t& largest);

}  // namespace kfw
