// The simulated QX-412: a module that speaks the message set at the byte level, keeps what it is
// programmed with, and misbehaves on request. It knows nothing of the link it sits on: bytes come
// in through Receive, replies go out through the emitter with the delay the module needs to
// produce them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kfw {

struct ModuleIdentity {
  uint16_t companyId = 0x0021;
  uint8_t productId = 0x0A;
  std::array<uint8_t, 6> serial = {0x4B, 0x58, 0x04, 0x12, 0x00, 0x01};
  std::string productName = "QX-412";
  uint8_t versionMajor = 1;
  uint8_t versionMinor = 2;
  uint8_t state = 0;  // 0: the firmware it holds is verified good
  uint16_t blockSize = 256;
  uint8_t auxByte1 = 0;
  uint8_t auxByte2 = 0;
  uint16_t auxWord = 0;
};

// Faults on demand. Each is off by default.
struct ModuleFaults {
  bool silent = false;                // never answers anything
  bool ignoreStatusRequests = false;  // answers everything but get status
  uint32_t ignoreFirstResets = 0;     // the first N resets go unanswered
  uint64_t extraReplyDelayMicros = 0; // every reply this much later
  bool duplicateReplies = false;      // every reply sent twice
  // A reset answer and a status reply just before the prepare-area answer...
  bool unrelatedBeforePrepareAnswer = false;
  // ...or before the answer to this program block.
  std::optional<uint32_t> unrelatedBeforeBlock;
  uint8_t eraseResult = 0;            // result byte of the prepare-area answer (1: erase failed)
  std::optional<uint32_t> rejectBlock;  // this block number is refused...
  uint8_t rejectStatus = 5;             // ...with this device status
  std::optional<uint32_t> statusByteInStatusReply;  // a 0x90 after this many body bytes
  std::optional<uint32_t> secondF0InStatusReply;    // an F0 after this many body bytes
  std::optional<uint32_t> statusReplyCut;  // the status reply's body cut to this many bytes
  uint32_t paddingInReplies = 0;      // this many extra 00 bytes before every reply's F7
  bool noise = false;                 // clock, active sensing and foreign SysEx around replies
};

// Timing of the module's own work, in microseconds.
struct ModuleTiming {
  uint64_t answerMicros = 1000;          // reset, status
  uint64_t eraseMicros = 200000;         // prepare area
  uint64_t programBlockMicros = 5000;    // per program block
};

// What the module received, in order: the log tests read.
struct ModuleEvent {
  uint8_t command = 0;      // 0x10, 0x11, 0x13, 0x15
  uint8_t argument = 0;     // reset / prepare-area argument
  uint32_t blockNumber = 0;
  uint32_t blockLength = 0;
  uint8_t blockStatus = 0;  // the status the module answered a block with
  bool answered = false;
};

class SimulatedModule {
 public:
  // Puts one reply on the way to the host after delayMicros.
  using Emitter = std::function<void(std::vector<uint8_t> bytes, uint64_t delayMicros)>;

  explicit SimulatedModule(ModuleIdentity identity = {}, ModuleFaults faults = {},
                           ModuleTiming timing = {});

  void SetEmitter(Emitter emitter);
  // Called (under the module's lock, on the thread that delivered the bytes) after every command
  // the module has acted on; tests use it to act at an exact point of a procedure.
  void SetObserver(std::function<void(const ModuleEvent&)> observer);
  // Bytes from the host as they arrive; commands are acted on when their F7 arrives.
  void Receive(const uint8_t* bytes, size_t count);

  // The version reported after a successful programming (final block). The simulated firmware
  // names its own version when its data begin with the signature "QXFW" followed by the major and
  // minor numbers (the bundled sample images do); otherwise this version is taken when set, and
  // the version stays as it was when not.
  void SetVersionAfterUpdate(uint8_t major, uint8_t minor);
  void SetFaults(const ModuleFaults& faults);

  ModuleIdentity Identity();
  // The firmware area: erased by prepare area, written block by block.
  std::vector<uint8_t> Flash();
  // Every image completed by a final block since start, in order.
  std::vector<std::vector<uint8_t>> ProgrammedImages();
  std::vector<ModuleEvent> Events();
  uint32_t CountCommands(uint8_t command);

  // The status reply body (code first), as the module would send it now.
  std::vector<uint8_t> StatusReplyBody();

 private:
  void HandleCommand(const std::vector<uint8_t>& message);
  void Reply(std::vector<uint8_t> body, uint64_t delayMicros,
             std::optional<uint32_t> statusByteAt = {}, std::optional<uint32_t> f0At = {});
  void SendUnrelatedReplies(uint64_t delayMicros);  // a reset answer, then a status reply
  bool AddressedToUs(const std::vector<uint8_t>& message) const;
  std::vector<uint8_t> Frame(const std::vector<uint8_t>& body) const;

  std::recursive_mutex mutex_;
  ModuleIdentity identity_;
  ModuleFaults faults_;
  ModuleTiming timing_;
  Emitter emitter_;
  std::function<void(const ModuleEvent&)> observer_;
  std::optional<std::pair<uint8_t, uint8_t>> versionAfterUpdate_;

  std::vector<uint8_t> incoming_;
  bool inMessage_ = false;

  bool prepared_ = false;
  uint32_t expectedBlock_ = 0;
  std::vector<uint8_t> flash_;
  std::vector<std::vector<uint8_t>> programmed_;
  std::vector<ModuleEvent> events_;
  uint32_t resetsSeen_ = 0;
};

}  // namespace kfw
