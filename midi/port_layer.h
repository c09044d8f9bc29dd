// The device layer over byte-stream backends: gives RtMidi (ALSA, JACK), raw MIDI device files and
// the simulated module the WinMM semantics that reception and transmission rely on, written once
// here instead of once per backend.
//
// Input: bytes from the backend's thread are framed into the queued buffer. A buffer goes back
// through the callback (kMimLongData) when an F7 has been stored, when it is full, when a status
// byte breaks off a message (the byte is stored, so the receive parser sees the break), or, for
// backends that say so, at the end of every delivery. Real-time bytes (F8-FF) are not SysEx data
// and never reach a buffer. Bytes outside SysEx are dropped: the program asks for nothing else.
// Output: a message is "still playing" until the backend reports its bytes drained; an output
// opened with a callback is told kMomDone once the backend has seen them drain.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/device.h"

namespace kfw {

// Receives the bytes a backend reads, on the backend's own thread, in the order they arrived.
using ByteSink = std::function<void(const uint8_t* bytes, size_t count)>;

// An open input. Destroying it stops delivery: once the destructor has returned, the sink is not
// called again.
class InputConnection {
 public:
  virtual ~InputConnection() = default;
};

// An open output. Destroying it closes the port, after waiting (boundedly) for what was sent to
// drain, so that a message sent just before closing is not lost.
class OutputConnection {
 public:
  virtual ~OutputConnection() = default;
  // Starts sending one whole message; the bytes are copied or sent before this returns.
  virtual MmResult Send(const uint8_t* bytes, uint32_t length) = 0;
  // True once every byte sent so far has left the machine (or reached the peer, for the simulated
  // module).
  virtual bool Drained() = 0;
  // Calls done once every byte sent so far has left, as soon as the backend can tell: at the
  // instant Drained() turns true or a little after, never before, on a thread of the backend's
  // (in virtual time, as an action of the timeline at that instant). Not called once the
  // connection is destroyed. A backend that cannot tell never calls it; its senders then find the
  // end by asking Drained() again.
  virtual void WhenDrained(std::function<void()> done) { (void)done; }
  // The longest message Send takes; a longer one it refuses. Byte streams take any length.
  virtual uint32_t LargestMessage() const { return kNoMessageLimit; }
};

class PortBackend {
 public:
  virtual ~PortBackend() = default;
  // Short name for messages and listings: "JACK", "ALSA", "raw", "simulator".
  virtual std::string Name() const = 0;
  // The ports present now, by name. Ports are opened by name again, since positions can move when
  // devices come and go.
  virtual void ListPorts(std::vector<std::string>& inputs, std::vector<std::string>& outputs) = 0;
  virtual MmResult OpenInput(const std::string& port, ByteSink sink,
                             std::unique_ptr<InputConnection>& connection) = 0;
  virtual MmResult OpenOutput(const std::string& port,
                              std::unique_ptr<OutputConnection>& connection) = 0;
  // True for a driver that hands back partly filled buffers at the end of every delivery rather
  // than only at F7 or when full (the simulated module uses it to model such drivers).
  virtual bool ReturnsBufferPerDelivery() const { return false; }
  // Why the last OpenInput or OpenOutput that failed did, in the system's own words where it has
  // them ("No such file or directory"); empty when the backend cannot tell more than its code.
  virtual std::string OpenFailureReason() const { return {}; }
};

class PortsDeviceLayer final : public MidiDeviceLayer {
 public:
  PortsDeviceLayer();
  ~PortsDeviceLayer() override;

  void AddBackend(std::unique_ptr<PortBackend> backend);
  // Tells what is true on a platform without WinMM instead of WinMM's texts (see
  // MidiDeviceLayer::NoDevicesText): these texts when there is no input or no output port at all,
  // and the reason of every failed open, the backend's own or one made from its code.
  void UsePlatformTexts(std::string noInputs, std::string noOutputs);
  // Lists the backends' ports afresh. Device numbers stay fixed between scans, as WinMM's do for
  // a session; the first count query scans when nothing has been scanned yet.
  void Rescan();

  struct Port {
    PortBackend* backend;
    std::string name;
  };
  const std::vector<Port>& Inputs();
  const std::vector<Port>& Outputs();

  uint32_t InGetNumDevs() override;
  MmResult InGetDevCaps(uint32_t device, std::string& name) override;
  MmResult InOpen(HMidiIn* handle, uint32_t device, MidiInProc callback, uintptr_t instance,
                  uint32_t flags) override;
  MmResult InPrepareHeader(HMidiIn handle, MidiHdr* header, uint32_t size) override;
  MmResult InUnprepareHeader(HMidiIn handle, MidiHdr* header, uint32_t size) override;
  MmResult InAddBuffer(HMidiIn handle, MidiHdr* header, uint32_t size) override;
  MmResult InStart(HMidiIn handle) override;
  MmResult InStop(HMidiIn handle) override;
  MmResult InReset(HMidiIn handle) override;
  MmResult InClose(HMidiIn handle) override;

  uint32_t OutGetNumDevs() override;
  MmResult OutGetDevCaps(uint32_t device, std::string& name) override;
  MmResult OutOpen(HMidiOut* handle, uint32_t device, uintptr_t callback, uintptr_t instance,
                   uint32_t flags) override;
  MmResult OutPrepareHeader(HMidiOut handle, MidiHdr* header, uint32_t size) override;
  MmResult OutUnprepareHeader(HMidiOut handle, MidiHdr* header, uint32_t size) override;
  MmResult OutLongMsg(HMidiOut handle, MidiHdr* header, uint32_t size) override;
  MmResult OutClose(HMidiOut handle) override;
  MmResult OutGetLargestMessage(HMidiOut handle, uint32_t& largest) override;
  std::string NoDevicesText(bool input) override;
  std::string OpenFailureReason() override;

 private:
  class InputPort;
  class OutputPort;
  struct DoneNotice;
  InputPort* FindInput(HMidiIn handle);
  OutputPort* FindOutput(HMidiOut handle);
  void EnsureScanned();
  // Keeps why an open failed, for OpenFailureReason; returns the result.
  MmResult OpenFailed(MmResult result, const PortBackend* backend);

  std::vector<std::unique_ptr<PortBackend>> backends_;
  std::vector<Port> inputs_;
  std::vector<Port> outputs_;
  bool scanned_ = false;
  bool platformTexts_ = false;
  std::string noInputsText_;
  std::string noOutputsText_;
  std::string openFailure_;  // opens run on the procedures' thread only
  std::mutex openMutex_;
  std::vector<std::unique_ptr<InputPort>> openInputs_;
  std::vector<std::unique_ptr<OutputPort>> openOutputs_;
};

}  // namespace kfw
