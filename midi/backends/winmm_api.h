// The WinMM calls that the WinMM device layer makes, behind an interface of their own. The layer's
// logic (its handles, the pairing of our headers with WinMM's, the callback that hands our header
// back) builds on every platform and is tested over a fake driver; the one implementation that
// calls WinMM itself is in winmm_api_windows.cpp, built only for Windows.
//
// The calls are WinMM's, one to one, with WinMM's result codes (the numbers of midi/device.h), and
// with its semantics: a header is prepared, queued or sent, and unprepared as the same object; the
// callback runs on the driver's thread and may queue a buffer again from inside the call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "midi/device.h"

namespace kfw {

// WinMM's MIDIHDR, field for field and in its layout (the Windows implementation checks that), so
// that one of these is handed to WinMM as it is. mmsystem.h declares its structures packed to the
// byte, which puts lpNext at offset 28 on 64-bit Windows, unaligned: so must we.
#pragma pack(push, 1)
struct WinMmHdr {
  uint8_t* lpData = nullptr;
  uint32_t dwBufferLength = 0;
  uint32_t dwBytesRecorded = 0;
  uintptr_t dwUser = 0;
  uint32_t dwFlags = 0;
  WinMmHdr* lpNext = nullptr;
  uintptr_t reserved = 0;
  uint32_t dwOffset = 0;
  uintptr_t dwReserved[8] = {};
};
#pragma pack(pop)

class WinMmApi {
 public:
  // An HMIDIIN or HMIDIOUT.
  using Handle = uintptr_t;
  // WinMM's MidiInProc and MidiOutProc. Given with kCallbackFunction; the Windows implementation
  // hands WinMM a function of its own, in WinMM's calling convention, that calls this one with the
  // instance given here.
  using Proc = void (*)(Handle handle, uint32_t message, uintptr_t instance, uintptr_t param1,
                        uintptr_t param2);

  virtual ~WinMmApi() = default;

  virtual uint32_t InGetNumDevs() = 0;
  // The device's name, as UTF-8.
  virtual MmResult InGetDevCaps(uint32_t device, std::string& name) = 0;
  virtual MmResult InOpen(Handle* handle, uint32_t device, Proc callback, uintptr_t instance,
                          uint32_t flags) = 0;
  virtual MmResult InPrepareHeader(Handle handle, WinMmHdr* header) = 0;
  virtual MmResult InUnprepareHeader(Handle handle, WinMmHdr* header) = 0;
  virtual MmResult InAddBuffer(Handle handle, WinMmHdr* header) = 0;
  virtual MmResult InStart(Handle handle) = 0;
  virtual MmResult InStop(Handle handle) = 0;
  virtual MmResult InReset(Handle handle) = 0;
  virtual MmResult InClose(Handle handle) = 0;

  virtual uint32_t OutGetNumDevs() = 0;
  virtual MmResult OutGetDevCaps(uint32_t device, std::string& name) = 0;
  // callback, instance and flags go to midiOutOpen as they are: kCallbackNull, or kCallbackFunction
  // for a callback that gets kMomOpen, kMomDone with the header sent, kMomClose.
  virtual MmResult OutOpen(Handle* handle, uint32_t device, Proc callback, uintptr_t instance,
                           uint32_t flags) = 0;
  virtual MmResult OutPrepareHeader(Handle handle, WinMmHdr* header) = 0;
  virtual MmResult OutUnprepareHeader(Handle handle, WinMmHdr* header) = 0;
  virtual MmResult OutLongMsg(Handle handle, WinMmHdr* header) = 0;
  virtual MmResult OutClose(Handle handle) = 0;
};

#ifdef _WIN32
// WinMM itself (winmm_api_windows.cpp).
std::unique_ptr<WinMmApi> MakeSystemWinMmApi();
#endif

}  // namespace kfw
