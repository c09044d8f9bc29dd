// The WinMM calls of the WinMM device layer, made for real. Built only for Windows.
#ifdef _WIN32

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "midi/backends/winmm_api.h"

namespace kfw {

namespace {

// Our header is handed to WinMM as its MIDIHDR: the two must agree byte for byte.
static_assert(sizeof(WinMmHdr) == sizeof(MIDIHDR));
static_assert(offsetof(WinMmHdr, lpData) == offsetof(MIDIHDR, lpData));
static_assert(offsetof(WinMmHdr, dwBufferLength) == offsetof(MIDIHDR, dwBufferLength));
static_assert(offsetof(WinMmHdr, dwBytesRecorded) == offsetof(MIDIHDR, dwBytesRecorded));
static_assert(offsetof(WinMmHdr, dwUser) == offsetof(MIDIHDR, dwUser));
static_assert(offsetof(WinMmHdr, dwFlags) == offsetof(MIDIHDR, dwFlags));
static_assert(offsetof(WinMmHdr, lpNext) == offsetof(MIDIHDR, lpNext));
static_assert(offsetof(WinMmHdr, reserved) == offsetof(MIDIHDR, reserved));
static_assert(offsetof(WinMmHdr, dwOffset) == offsetof(MIDIHDR, dwOffset));
static_assert(offsetof(WinMmHdr, dwReserved) == offsetof(MIDIHDR, dwReserved));
static_assert(sizeof(WinMmApi::Handle) == sizeof(HMIDIIN));
static_assert(kCallbackFunction == CALLBACK_FUNCTION && kCallbackNull == CALLBACK_NULL);
static_assert(kMimLongData == MIM_LONGDATA && kMomDone == MOM_DONE);
static_assert(kMidiErrStillPlaying == MIDIERR_STILLPLAYING);

MIDIHDR* Native(WinMmHdr* header) { return reinterpret_cast<MIDIHDR*>(header); }

// Device names come as UTF-16; ours are UTF-8, so a name in any script survives.
std::string Utf8(const WCHAR* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string result(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
  result.resize(static_cast<size_t>(size) - 1);
  return result;
}

// What WinMM's callback needs to call ours: WinMM calls a CALLBACK function with one instance
// value, so the instance points at this, which lives from the open to the successful close.
struct Thunk {
  WinMmApi::Proc proc;
  uintptr_t instance;
};

void CALLBACK InputThunk(HMIDIIN handle, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                         DWORD_PTR param2) {
  const auto* thunk = reinterpret_cast<const Thunk*>(instance);
  thunk->proc(reinterpret_cast<WinMmApi::Handle>(handle), message, thunk->instance, param1, param2);
}

void CALLBACK OutputThunk(HMIDIOUT handle, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                          DWORD_PTR param2) {
  const auto* thunk = reinterpret_cast<const Thunk*>(instance);
  thunk->proc(reinterpret_cast<WinMmApi::Handle>(handle), message, thunk->instance, param1, param2);
}

class SystemWinMmApi final : public WinMmApi {
 public:
  uint32_t InGetNumDevs() override { return midiInGetNumDevs(); }

  MmResult InGetDevCaps(uint32_t device, std::string& name) override {
    MIDIINCAPSW caps{};
    const MMRESULT result = midiInGetDevCapsW(device, &caps, sizeof caps);
    if (result == MMSYSERR_NOERROR) name = Utf8(caps.szPname);
    return result;
  }

  MmResult InOpen(Handle* handle, uint32_t device, Proc callback, uintptr_t instance,
                  uint32_t flags) override {
    std::unique_ptr<Thunk> thunk;
    DWORD_PTR nativeCallback = 0;
    DWORD_PTR nativeInstance = instance;
    if (flags == CALLBACK_FUNCTION) {
      thunk = std::make_unique<Thunk>(Thunk{callback, instance});
      nativeCallback = reinterpret_cast<DWORD_PTR>(&InputThunk);
      nativeInstance = reinterpret_cast<DWORD_PTR>(thunk.get());
    }
    HMIDIIN native = nullptr;
    const MMRESULT result = midiInOpen(&native, device, nativeCallback, nativeInstance, flags);
    if (result != MMSYSERR_NOERROR) return result;
    *handle = reinterpret_cast<Handle>(native);
    Keep(*handle, std::move(thunk));
    return MMSYSERR_NOERROR;
  }

  MmResult InPrepareHeader(Handle handle, WinMmHdr* header) override {
    return midiInPrepareHeader(In(handle), Native(header), sizeof(MIDIHDR));
  }
  MmResult InUnprepareHeader(Handle handle, WinMmHdr* header) override {
    return midiInUnprepareHeader(In(handle), Native(header), sizeof(MIDIHDR));
  }
  MmResult InAddBuffer(Handle handle, WinMmHdr* header) override {
    return midiInAddBuffer(In(handle), Native(header), sizeof(MIDIHDR));
  }
  MmResult InStart(Handle handle) override { return midiInStart(In(handle)); }
  MmResult InStop(Handle handle) override { return midiInStop(In(handle)); }
  MmResult InReset(Handle handle) override { return midiInReset(In(handle)); }

  MmResult InClose(Handle handle) override {
    const MMRESULT result = midiInClose(In(handle));
    // No callback comes after a successful close.
    if (result == MMSYSERR_NOERROR) Forget(handle);
    return result;
  }

  uint32_t OutGetNumDevs() override { return midiOutGetNumDevs(); }

  MmResult OutGetDevCaps(uint32_t device, std::string& name) override {
    MIDIOUTCAPSW caps{};
    const MMRESULT result = midiOutGetDevCapsW(device, &caps, sizeof caps);
    if (result == MMSYSERR_NOERROR) name = Utf8(caps.szPname);
    return result;
  }

  MmResult OutOpen(Handle* handle, uint32_t device, Proc callback, uintptr_t instance,
                   uint32_t flags) override {
    std::unique_ptr<Thunk> thunk;
    DWORD_PTR nativeCallback = 0;
    DWORD_PTR nativeInstance = instance;
    if (flags == CALLBACK_FUNCTION) {
      thunk = std::make_unique<Thunk>(Thunk{callback, instance});
      nativeCallback = reinterpret_cast<DWORD_PTR>(&OutputThunk);
      nativeInstance = reinterpret_cast<DWORD_PTR>(thunk.get());
    }
    HMIDIOUT native = nullptr;
    const MMRESULT result = midiOutOpen(&native, device, nativeCallback, nativeInstance, flags);
    if (result != MMSYSERR_NOERROR) return result;
    *handle = reinterpret_cast<Handle>(native);
    Keep(*handle, std::move(thunk));
    return MMSYSERR_NOERROR;
  }

  MmResult OutPrepareHeader(Handle handle, WinMmHdr* header) override {
    return midiOutPrepareHeader(Out(handle), Native(header), sizeof(MIDIHDR));
  }
  MmResult OutUnprepareHeader(Handle handle, WinMmHdr* header) override {
    return midiOutUnprepareHeader(Out(handle), Native(header), sizeof(MIDIHDR));
  }
  MmResult OutLongMsg(Handle handle, WinMmHdr* header) override {
    return midiOutLongMsg(Out(handle), Native(header), sizeof(MIDIHDR));
  }

  MmResult OutClose(Handle handle) override {
    const MMRESULT result = midiOutClose(Out(handle));
    if (result == MMSYSERR_NOERROR) Forget(handle);
    return result;
  }

 private:
  static HMIDIIN In(Handle handle) { return reinterpret_cast<HMIDIIN>(handle); }
  static HMIDIOUT Out(Handle handle) { return reinterpret_cast<HMIDIOUT>(handle); }

  // Input and output handles are distinct, so one table holds the thunks of both.
  void Keep(Handle handle, std::unique_ptr<Thunk> thunk) {
    if (!thunk) return;
    std::lock_guard lock(mutex_);
    thunks_[handle] = std::move(thunk);
  }
  void Forget(Handle handle) {
    std::lock_guard lock(mutex_);
    thunks_.erase(handle);
  }

  std::mutex mutex_;
  std::map<Handle, std::unique_ptr<Thunk>> thunks_;
};

}  // namespace

std::unique_ptr<WinMmApi> MakeSystemWinMmApi() { return std::make_unique<SystemWinMmApi>(); }

}  // namespace kfw

#endif
