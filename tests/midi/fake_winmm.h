// A fake of WinMM's MIDI calls that behaves as a driver does, for the WinMM device layer's tests on
// any platform. The test plays the driver's thread: Receive hands bytes in as they come off the
// wire, into the queued buffers, and returns each buffer through the callback as kMimLongData with
// its byte count. Headers are checked as WinMM checks them, by their flags.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "midi/backends/winmm_api.h"

namespace kfw::test {

class FakeWinMm final : public WinMmApi {
 public:
  std::vector<std::string> inputNames = {"USB MIDI In"};
  std::vector<std::string> outputNames = {"USB MIDI Out"};
  std::set<uint32_t> inputCapsFailures;  // device numbers whose capability query fails
  std::set<uint32_t> outputCapsFailures;

  // The next call named `call` (WinMM's name, e.g. "midiOutLongMsg") returns `result` without
  // doing anything; several are used up in order.
  void FailNext(const std::string& call, MmResult result);
  // Each message sent answers kMidiErrStillPlaying to this many unprepare calls before it is done.
  uint32_t stillPlayingCount = 0;
  // Every message being sent has left: each is done, and an output opened with a callback gets
  // kMomDone with its header, as WinMM's driver thread sends it.
  void FinishPlaying();

  // Bytes off the wire. Each goes into the first queued buffer (lost when none is); the buffer
  // goes back at an F7 and when full. With `piece` nonzero the bytes come in pieces of that many,
  // and a buffer holding bytes also goes back at the end of each piece, as Windows 11's MIDI
  // service hands back SysEx split over several buffers.
  void Receive(const std::vector<uint8_t>& bytes, size_t piece = 0);

  std::vector<std::vector<uint8_t>> Sent() const { return sent_; }
  // The headers queued now, first to be filled first.
  const std::deque<WinMmHdr*>& Queued() const { return queue_; }
  std::set<WinMmHdr*> PreparedInputHeaders() const { return preparedIn_; }
  std::set<WinMmHdr*> PreparedOutputHeaders() const { return preparedOut_; }
  bool InputOpen() const { return inputOpen_; }
  bool OutputOpen() const { return outputOpen_; }
  bool InputStarted() const { return started_; }
  uint32_t openedInputDevice = 0;
  uint32_t openedOutputDevice = 0;

  uint32_t InGetNumDevs() override { return static_cast<uint32_t>(inputNames.size()); }
  MmResult InGetDevCaps(uint32_t device, std::string& name) override;
  MmResult InOpen(Handle* handle, uint32_t device, Proc callback, uintptr_t instance,
                  uint32_t flags) override;
  MmResult InPrepareHeader(Handle handle, WinMmHdr* header) override;
  MmResult InUnprepareHeader(Handle handle, WinMmHdr* header) override;
  MmResult InAddBuffer(Handle handle, WinMmHdr* header) override;
  MmResult InStart(Handle handle) override;
  MmResult InStop(Handle handle) override;
  MmResult InReset(Handle handle) override;
  MmResult InClose(Handle handle) override;

  uint32_t OutGetNumDevs() override { return static_cast<uint32_t>(outputNames.size()); }
  MmResult OutGetDevCaps(uint32_t device, std::string& name) override;
  MmResult OutOpen(Handle* handle, uint32_t device, Proc callback, uintptr_t instance,
                   uint32_t flags) override;
  MmResult OutPrepareHeader(Handle handle, WinMmHdr* header) override;
  MmResult OutUnprepareHeader(Handle handle, WinMmHdr* header) override;
  MmResult OutLongMsg(Handle handle, WinMmHdr* header) override;
  MmResult OutClose(Handle handle) override;

  // WinMM's handles are its own values, not the layer's objects.
  static constexpr Handle kInputHandle = 0x5110;
  static constexpr Handle kOutputHandle = 0x5120;

 private:
  bool Scripted(const std::string& call, MmResult& result);
  // Hands the first queued buffer back through the callback, as it stands.
  void ReturnFront(uint32_t message);
  void Call(uint32_t message, uintptr_t param1);
  MmResult CheckInput(Handle handle) const;
  MmResult CheckOutput(Handle handle) const;

  std::map<std::string, std::deque<MmResult>> failures_;
  bool inputOpen_ = false;
  bool outputOpen_ = false;
  bool started_ = false;
  Proc callback_ = nullptr;
  uintptr_t instance_ = 0;
  Proc outCallback_ = nullptr;
  uintptr_t outInstance_ = 0;
  std::deque<WinMmHdr*> queue_;
  std::set<WinMmHdr*> preparedIn_;
  std::set<WinMmHdr*> preparedOut_;
  std::vector<std::vector<uint8_t>> sent_;
  std::map<WinMmHdr*, uint32_t> playing_;  // messages not yet done: unprepare calls still refused
};

}  // namespace kfw::test
