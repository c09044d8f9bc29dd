#include "sim/module.h"

#include <algorithm>
#include <iterator>

namespace kfw {

namespace {
constexpr uint8_t kRejectedBadChecksum = 1;
constexpr uint8_t kRejectedBadLength = 2;
constexpr uint8_t kRejectedBadSequence = 3;
constexpr uint8_t kRejectedTooLong = 8;
// A block number travels as a 7-bit pair: the host counts on past 16383 and sends the low 14 bits.
constexpr uint32_t kBlockNumberMask = 0x3FFF;
}  // namespace

SimulatedModule::SimulatedModule(ModuleIdentity identity, ModuleFaults faults, ModuleTiming timing)
    : identity_(std::move(identity)), faults_(faults), timing_(timing) {}

void SimulatedModule::SetEmitter(Emitter emitter) {
  std::lock_guard lock(mutex_);
  emitter_ = std::move(emitter);
}

void SimulatedModule::SetObserver(std::function<void(const ModuleEvent&)> observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

void SimulatedModule::SetVersionAfterUpdate(uint8_t major, uint8_t minor) {
  std::lock_guard lock(mutex_);
  versionAfterUpdate_ = std::make_pair(major, minor);
}

void SimulatedModule::SetFaults(const ModuleFaults& faults) {
  std::lock_guard lock(mutex_);
  faults_ = faults;
}

ModuleIdentity SimulatedModule::Identity() {
  std::lock_guard lock(mutex_);
  return identity_;
}

std::vector<uint8_t> SimulatedModule::Flash() {
  std::lock_guard lock(mutex_);
  return flash_;
}

std::vector<std::vector<uint8_t>> SimulatedModule::ProgrammedImages() {
  std::lock_guard lock(mutex_);
  return programmed_;
}

std::vector<ModuleEvent> SimulatedModule::Events() {
  std::lock_guard lock(mutex_);
  return events_;
}

uint32_t SimulatedModule::CountCommands(uint8_t command) {
  std::lock_guard lock(mutex_);
  uint32_t count = 0;
  for (const ModuleEvent& event : events_) count += event.command == command;
  return count;
}

void SimulatedModule::Receive(const uint8_t* bytes, size_t count) {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t byte = bytes[i];
    if (byte >= 0xF8) continue;  // real-time bytes may fall anywhere, even inside SysEx
    if (byte == 0xF0) {
      incoming_.assign(1, byte);
      inMessage_ = true;
      continue;
    }
    if (!inMessage_) continue;
    if (byte >= 0x80 && byte != 0xF7) {  // any other status byte breaks the message off
      inMessage_ = false;
      continue;
    }
    incoming_.push_back(byte);
    if (byte == 0xF7) {
      inMessage_ = false;
      HandleCommand(incoming_);
    }
  }
}

bool SimulatedModule::AddressedToUs(const std::vector<uint8_t>& message) const {
  const uint16_t company = static_cast<uint16_t>((message[2] << 8) | message[3]);
  const uint8_t product = message[4];
  return (company == identity_.companyId && product == identity_.productId) ||
         (company == 0x7F7F && product == 0x7F);
}

std::vector<uint8_t> SimulatedModule::StatusReplyBody() {
  std::lock_guard lock(mutex_);
  std::vector<uint8_t> body = {
      0x12,
      identity_.state,
      identity_.versionMajor,
      identity_.versionMinor,
      static_cast<uint8_t>((identity_.blockSize >> 7) & 0x7F),
      static_cast<uint8_t>(identity_.blockSize & 0x7F),
      static_cast<uint8_t>(identity_.companyId >> 8),
      static_cast<uint8_t>(identity_.companyId & 0xFF),
      identity_.productId,
      identity_.auxByte1,
      identity_.auxByte2,
      static_cast<uint8_t>((identity_.auxWord >> 7) & 0x7F),
      static_cast<uint8_t>(identity_.auxWord & 0x7F),
  };
  for (uint8_t byte : identity_.serial) body.push_back(byte);
  for (char c : identity_.productName) body.push_back(static_cast<uint8_t>(c) & 0x7F);
  return body;
}

std::vector<uint8_t> SimulatedModule::Frame(const std::vector<uint8_t>& body) const {
  std::vector<uint8_t> message = {0xF0,
                                  0x00,
                                  static_cast<uint8_t>(identity_.companyId >> 8),
                                  static_cast<uint8_t>(identity_.companyId & 0xFF),
                                  identity_.productId,
                                  0x7F};
  message.insert(message.end(), body.begin(), body.end());
  message.push_back(0xF7);
  return message;
}

void SimulatedModule::Reply(std::vector<uint8_t> body, uint64_t delayMicros,
                            std::optional<uint32_t> statusByteAt, std::optional<uint32_t> f0At) {
  if (!emitter_) return;
  body.insert(body.end(), faults_.paddingInReplies, 0x00);
  // Inserted from the later position backwards so both indices count original body bytes.
  auto insertAt = [&body](std::optional<uint32_t> at, uint8_t byte) {
    if (at && *at <= body.size()) body.insert(body.begin() + *at, byte);
  };
  if (f0At && statusByteAt && *f0At > *statusByteAt) {
    insertAt(f0At, 0xF0);
    insertAt(statusByteAt, 0x90);
  } else {
    insertAt(statusByteAt, 0x90);
    insertAt(f0At, 0xF0);
  }
  std::vector<uint8_t> message = Frame(body);
  delayMicros += faults_.extraReplyDelayMicros;
  if (faults_.noise) {
    emitter_({0xFE, 0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0xF7, 0xF8}, delayMicros);
    message.insert(message.begin() + 3, 0xF8);
  }
  if (faults_.duplicateReplies) emitter_(message, delayMicros);
  emitter_(std::move(message), delayMicros);
}

void SimulatedModule::SendUnrelatedReplies(uint64_t delayMicros) {
  Reply({0x10}, delayMicros);
  Reply(StatusReplyBody(), delayMicros);
}

void SimulatedModule::HandleCommand(const std::vector<uint8_t>& message) {
  // F0 00 company(2) product 7F code ... F7
  if (message.size() < 8 || message[1] != 0x00 || !AddressedToUs(message)) return;
  ModuleEvent event;
  event.command = message[6];
  event.answered = !faults_.silent;

  switch (event.command) {
    case 0x10: {  // reset
      event.argument = message.size() >= 9 ? message[7] : 0;
      ++resetsSeen_;
      if (resetsSeen_ <= faults_.ignoreFirstResets) event.answered = false;
      // Reset 0 starts the firmware: whatever was being programmed is abandoned.
      if (event.argument == 0) prepared_ = false;
      if (event.answered) Reply({0x10}, timing_.answerMicros);
      break;
    }
    case 0x11: {  // get status
      if (faults_.ignoreStatusRequests) event.answered = false;
      if (event.answered) {
        std::vector<uint8_t> body = StatusReplyBody();
        if (faults_.statusReplyCut && *faults_.statusReplyCut < body.size()) {
          body.resize(*faults_.statusReplyCut);
        }
        Reply(std::move(body), timing_.answerMicros, faults_.statusByteInStatusReply,
              faults_.secondF0InStatusReply);
      }
      break;
    }
    case 0x13: {  // prepare area
      event.argument = message.size() >= 9 ? message[7] : 0;
      if (faults_.eraseResult == 0) {
        flash_.clear();
        prepared_ = true;
        expectedBlock_ = 0;
        identity_.state = 1;  // nothing verified in an erased area
      }
      if (event.answered) {
        if (faults_.unrelatedBeforePrepareAnswer) SendUnrelatedReplies(timing_.eraseMicros);
        Reply({0x14, faults_.eraseResult}, timing_.eraseMicros);
      }
      break;
    }
    case 0x15: {  // program block: number(2) length(2) data checksum(2)
      const size_t payload = message.size() - 8;  // between the code and F7
      uint8_t status = 0;
      if (payload < 6) {
        status = kRejectedBadLength;
      } else {
        const size_t dataCount = payload - 6;
        event.blockNumber = message[7] * 128u + message[8];
        event.blockLength = message[9] * 128u + message[10];
        uint32_t sum = 0;
        for (size_t i = 7; i < 11 + dataCount; ++i) sum += message[i];
        const uint32_t sent = message[11 + dataCount] * 128u + message[12 + dataCount];
        if ((sum & 0x3FFF) != sent) {
          status = kRejectedBadChecksum;
        } else if (event.blockLength != dataCount) {
          status = kRejectedBadLength;
        } else if (dataCount > identity_.blockSize) {
          status = kRejectedTooLong;
        } else if (!prepared_ || event.blockNumber != (expectedBlock_ & kBlockNumberMask)) {
          status = kRejectedBadSequence;
        } else if (faults_.rejectBlock && *faults_.rejectBlock == event.blockNumber) {
          status = faults_.rejectStatus;
        } else if (dataCount == 0) {
          programmed_.push_back(flash_);
          prepared_ = false;
          identity_.state = 0;
          static constexpr uint8_t kSignature[] = {'Q', 'X', 'F', 'W'};
          if (flash_.size() >= 6 && std::equal(std::begin(kSignature), std::end(kSignature),
                                               flash_.begin())) {
            identity_.versionMajor = flash_[4];
            identity_.versionMinor = flash_[5];
          } else if (versionAfterUpdate_) {
            identity_.versionMajor = versionAfterUpdate_->first;
            identity_.versionMinor = versionAfterUpdate_->second;
          }
        } else {
          flash_.insert(flash_.end(), message.begin() + 11, message.begin() + 11 + dataCount);
          ++expectedBlock_;
        }
      }
      event.blockStatus = status;
      if (event.answered) {
        const uint64_t work = event.blockLength ? timing_.programBlockMicros : timing_.answerMicros;
        if (faults_.unrelatedBeforeBlock && *faults_.unrelatedBeforeBlock == event.blockNumber) {
          SendUnrelatedReplies(work);
        }
        Reply({0x16, status}, work);
      }
      break;
    }
    default:
      event.answered = false;
      break;
  }
  events_.push_back(event);
  if (observer_) observer_(event);
}

}  // namespace kfw
