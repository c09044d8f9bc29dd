#include "midi/reception.h"

#include <cstring>

#include "image/image_file.h"
#include "base/report.h"
#include "base/waiting.h"

namespace kfw {

std::atomic<HMidiIn> midiIn{nullptr};
uint8_t inputBuffer[kInputBufferSize];
MidiHdr inputHeader;
ReplyRingStorage ReplyRing;
std::atomic<uint32_t> receiveParserState{kParserIdle};

namespace {
// Raised by FlushReplies, taken by the next FeedReceivedByte: the parser restarts on the input
// thread itself, so a byte being parsed while the flush runs cannot store its state over the
// flushed one.
std::atomic<bool> parserRestartRequested{false};
}  // namespace

namespace {

constexpr uint32_t kIndexMask = 0xFF;
constexpr uint32_t kGenerationStep = 0x100;

uint32_t Index(uint32_t position) { return position & kIndexMask; }

uint32_t NextIndex(uint32_t index) { return index + 1 == kReplyRingSize ? 0 : index + 1; }

// The read position one byte further on, with a new generation.
uint32_t Advanced(uint32_t readPos) {
  return ((readPos & ~kIndexMask) + kGenerationStep) | NextIndex(Index(readPos));
}

void AppendToRing(uint8_t byte) {
  const uint32_t write = ReplyRing.writePos.load(std::memory_order_relaxed);
  const uint32_t nextWrite = NextIndex(write);
  // Full: drop the oldest unread byte before the new one is published, so the reader never sees
  // a full ring as an empty one. If the reader takes that byte first, its CAS wins and ours fails,
  // which is just as good: there is room again.
  uint32_t read = ReplyRing.readPos.load(std::memory_order_acquire);
  if (Index(read) == nextWrite) {
    ReplyRing.readPos.compare_exchange_strong(read, Advanced(read), std::memory_order_acq_rel);
  }
  ReplyRing.bytes[write].store(byte, std::memory_order_relaxed);
  ReplyRing.writePos.store(nextWrite, std::memory_order_release);
}

// Takes the oldest unread byte; false when the ring is empty.
bool TakeFromRing(uint8_t& byte) {
  uint32_t read = ReplyRing.readPos.load(std::memory_order_acquire);
  for (;;) {
    const uint32_t write = ReplyRing.writePos.load(std::memory_order_acquire);
    if (Index(read) == write) return false;
    byte = ReplyRing.bytes[Index(read)].load(std::memory_order_relaxed);
    // A failed CAS means the writer dropped this byte meanwhile: read reloads, try the next one.
    if (ReplyRing.readPos.compare_exchange_weak(read, Advanced(read), std::memory_order_acq_rel,
                                                std::memory_order_acquire)) {
      return true;
    }
  }
}

bool IsStatusByte(uint8_t byte) { return byte >= 0x80; }

}  // namespace

void FeedReceivedByte(uint8_t byte) {
  uint32_t state = receiveParserState.load(std::memory_order_relaxed);
  if (parserRestartRequested.load(std::memory_order_relaxed) &&
      parserRestartRequested.exchange(false, std::memory_order_acquire)) {
    state = kParserIdle;
  }
  if (IsStatusByte(byte) && byte != 0xF0 && byte != 0xF7) state = kParserIdle;

  switch (state) {
    case kParserIdle:
      if (byte == 0xF0) state = kParserStartSeen;
      break;
    case kParserStartSeen:
      if (byte == 0x00) {
        state = kParserCompanyHigh;
      } else if (byte != 0xF0) {
        state = kParserIdle;
      }
      break;
    case kParserCompanyHigh: {
      const uint16_t company = receivedCompanyId.load(std::memory_order_relaxed);
      receivedCompanyId.store(static_cast<uint16_t>((byte << 8) | (company & 0x00FF)),
                              std::memory_order_relaxed);
      state = kParserCompanyLow;
      break;
    }
    case kParserCompanyLow: {
      const uint16_t company = receivedCompanyId.load(std::memory_order_relaxed);
      receivedCompanyId.store(static_cast<uint16_t>((company & 0xFF00) | byte),
                              std::memory_order_relaxed);
      state = kParserProductByte;
      break;
    }
    case kParserProductByte:
      receivedProductId.store(byte, std::memory_order_relaxed);
      state = kParserSkipByte;
      break;
    case kParserSkipByte:
      state = kParserBody;
      break;
    case kParserBody:
      AppendToRing(byte);
      if (byte == 0xF7) state = kParserIdle;
      break;
    default:
      state = kParserIdle;
      break;
  }
  receiveParserState.store(state, std::memory_order_relaxed);
}

void MidiInputCallback(HMidiIn, uint32_t message, uintptr_t, uintptr_t, uintptr_t) {
  if (message != kMimLongData) return;
  // A driver never records more than the buffer holds; if one claimed to, we would read past it.
  uint32_t recorded = inputHeader.dwBytesRecorded;
  if (recorded > kInputBufferSize) recorded = kInputBufferSize;
  for (uint32_t i = 0; i < recorded; ++i) FeedReceivedByte(inputBuffer[i]);
  TraceBytes("RX: ", inputBuffer, recorded);
  // A fast reader waits for these bytes. Woken only now, after their "RX: " line: it may send the
  // next command at once, and that command's "TX: " line must follow this one, as it does in the
  // normal mode.
  if (fastMode.load(std::memory_order_relaxed)) CurrentClock().Wake();

  // An empty return is how a reset gives the buffer back for good: queuing it again would keep
  // the device from closing.
  if (recorded == 0) return;

  std::memset(inputBuffer, 0, sizeof inputBuffer);
  inputHeader.dwBufferLength = kInputBufferSize;
  inputHeader.lpData = inputBuffer;
  inputHeader.dwBytesRecorded = 0;
  const MmResult result = MidiInAddBuffer(midiIn.load(std::memory_order_acquire), &inputHeader,
                                          sizeof(MidiHdr));
  if (result != kMmNoError) {
    FatalMidiError("midiInAddBuffer returned %.8lx\n", static_cast<unsigned long>(result));
  }
}

void FlushReplies() {
  // The idle state is stored at once for an input that is quiet; the request makes the input
  // thread restart the parser itself at its next byte, in case it is between loading and storing
  // the state right now.
  parserRestartRequested.store(true, std::memory_order_release);
  receiveParserState.store(kParserIdle, std::memory_order_relaxed);

  // The ring is emptied by moving the read position up to the write position, never by storing
  // writePos: the input thread is its only writer. Were we to set it to 0 while the writer is
  // between loading and storing it, the writer would publish its old position again and every
  // byte before it, received before the flush, would be readable once more. Here whatever the
  // writer has published by the time writePos is loaded is gone; bytes it publishes later arrived
  // during the flush and stay. The compare-and-swap fails only if the writer dropped the oldest
  // byte meanwhile (the ring was full); then the positions are taken afresh.
  uint32_t read = ReplyRing.readPos.load(std::memory_order_acquire);
  for (;;) {
    const uint32_t write = ReplyRing.writePos.load(std::memory_order_acquire);
    const uint32_t emptied = ((read & ~kIndexMask) + kGenerationStep) | write;
    if (ReplyRing.readPos.compare_exchange_weak(read, emptied, std::memory_order_acq_rel,
                                                std::memory_order_acquire)) {
      return;
    }
  }
}

namespace {

constexpr uint64_t kTickMicros = uint64_t{kTickMilliseconds} * 1000;

// The fast mode's empty poll: waits for a byte in the ring, at most one tick and at most what is
// left of the time-out, and returns the time it waited. Cancel wakes nobody (RequestCancel must
// stay async-signal-safe), so the wait is cut into ticks: a Cancel is seen within one.
uint64_t WaitForReplyBytes(uint64_t budgetMicros) {
  Clock& clock = CurrentClock();
  const uint64_t start = clock.NowMicroseconds();
  const uint64_t slice = budgetMicros < kTickMicros ? budgetMicros : kTickMicros;
  clock.WaitUntil(start + slice, [] { return ReplyRingUnreadCount() != 0 || CancelRequested(); });
  const uint64_t waited = clock.NowMicroseconds() - start;
  return waited < slice ? waited : slice;
}

}  // namespace

ResultCode ReadReply(uint8_t* buffer, uint32_t capacity, uint32_t* count, uint32_t timeoutTicks) {
  std::memset(buffer, 0, capacity);
  if (count) *count = 0;
  if (capacity == 0) return kResponseTooLong;  // no room even for the first byte
  uint32_t left = capacity;
  // The fast mode counts the time-out as the time spent waiting on an empty ring, from the end of
  // the send rather than from the normal mode's first poll, up to two ticks later: it is given
  // those two ticks more (kFastReplyGraceTicks), so that it never gives up on a reply the normal
  // mode would take. A byte that arrives just as the budget runs out is left in the ring.
  const bool fast = fastMode.load(std::memory_order_relaxed);
  uint64_t budgetMicros =
      timeoutTicks == 0 ? 0 : (uint64_t{timeoutTicks} + kFastReplyGraceTicks) * kTickMicros;
  while ((fast ? budgetMicros != 0 : timeoutTicks != 0) && !CancelRequested()) {
    uint8_t byte;
    if (!TakeFromRing(byte)) {
      if (fast) {
        budgetMicros -= WaitForReplyBytes(budgetMicros);
      } else {
        WaitTicks(1);
        --timeoutTicks;
      }
      continue;
    }
    if (byte == 0xF7) return kOk;
    buffer[capacity - left] = byte;
    --left;
    if (count) ++*count;
    if (left == 0) return kResponseTooLong;
  }
  return CancelRequested() ? kCanceled : kResponseTimeout;
}

uint32_t ReplyRingUnreadCount() {
  const uint32_t read = Index(ReplyRing.readPos.load(std::memory_order_acquire));
  const uint32_t write = ReplyRing.writePos.load(std::memory_order_acquire);
  return write >= read ? write - read : write + kReplyRingSize - read;
}

namespace internal {
void ResetReceptionState() {
  midiIn.store(nullptr);
  std::memset(inputBuffer, 0, sizeof inputBuffer);
  inputHeader = MidiHdr{};
  for (auto& byte : ReplyRing.bytes) byte.store(0, std::memory_order_relaxed);
  // No input thread runs between tests: the positions go back to their start values.
  ReplyRing.readPos.store(0, std::memory_order_relaxed);
  ReplyRing.writePos.store(0, std::memory_order_relaxed);
  receiveParserState.store(kParserIdle, std::memory_order_relaxed);
  parserRestartRequested.store(false, std::memory_order_relaxed);
  ResetReceivedIdentifiers();
}
}  // namespace internal

}  // namespace kfw
