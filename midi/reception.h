// SysEx reception: the input callback, the receive parser, the 50-byte reply ring and the reading
// of one reply with a time-out.
//
// The ring is shared without a lock between the MIDI input thread (which appends) and the
// procedures' thread (which reads and flushes). The writer stores a byte before it publishes the
// new write position; when the ring is full it drops the oldest unread byte by moving the read
// position on, in a compare-and-swap that loses cleanly to a reader taking that same byte. The input
// thread is the only writer of the write position and of the parser state; the flush empties the
// ring by moving the read position up to the write position, and asks the input thread to restart
// the parser.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/result.h"
#include "midi/device.h"

namespace kfw {

inline constexpr uint32_t kInputBufferSize = 1000;
inline constexpr uint32_t kReplyRingSize = 50;  // holds at most 49 unread bytes

// The open MIDI input, none while closed. Opened and closed by the port code; used by the
// callback to queue the input buffer again.
extern std::atomic<HMidiIn> midiIn;

// The one SysEx input buffer and its header. Prepared and first queued by OpenPorts, queued again
// by MidiInputCallback after every filled return.
extern uint8_t inputBuffer[kInputBufferSize];
extern MidiHdr inputHeader;

enum ReceiveParserState : uint32_t {
  kParserIdle = 0,
  kParserStartSeen = 1,
  kParserCompanyHigh = 2,
  kParserCompanyLow = 3,
  kParserProductByte = 4,
  kParserSkipByte = 5,
  kParserBody = 6,
};

// The ring's storage and positions. readPos carries a generation count above its index so that a
// reader's compare-and-swap cannot be fooled by the index coming round to the same value.
struct ReplyRingStorage {
  std::atomic<uint8_t> bytes[kReplyRingSize];
  std::atomic<uint32_t> writePos;
  std::atomic<uint32_t> readPos;  // index in the low 8 bits, generation above
};
extern ReplyRingStorage ReplyRing;
extern std::atomic<uint32_t> receiveParserState;

// Registered with the input device. Looks only at kMimLongData: parses and traces the bytes of
// inputBuffer, then queues it again unless it came back empty. A failing queue call is fatal.
void MidiInputCallback(HMidiIn handle, uint32_t message, uintptr_t instance, uintptr_t param1,
                       uintptr_t param2);

// One step of the receive parser: strips the six-byte header of F0 00 messages (recording the
// sender's identifiers) and appends body bytes up to and including F7 to the ring.
void FeedReceivedByte(uint8_t byte);

// Forgets everything received so far: parser back to idle, ring emptied. Called just before a
// command whose answer will be awaited. Whatever the input thread is doing meanwhile, no byte
// received before the flush can be read after it.
void FlushReplies();

// Copies the next body (without its F7) into buffer, which is zeroed first. kOk for a body of at
// most capacity - 1 bytes; kResponseTooLong once capacity bytes are stored; kResponseTimeout after
// timeoutTicks polls that found the ring empty (in the fast mode: after timeoutTicks +
// kFastReplyGraceTicks ticks spent waiting on an empty ring, each wait ending as soon as bytes
// arrive; a time-out of 0 gives up at once in both); kCanceled as soon as CancelFlag is seen,
// within a tick.
ResultCode ReadReply(uint8_t* buffer, uint32_t capacity, uint32_t* count, uint32_t timeoutTicks);

// What the fast mode's reply wait allows beyond its time-out, so that it never gives up on a reply
// the normal mode would take. The normal mode starts polling when its send returns: at once when
// the output is done at the first unprepare call, else at the tick after the output is done plus
// the tick its send sleeps after that call, less than two ticks after the output was done. The
// fast mode starts when the output is done. Two ticks more put its end at or after the normal
// mode's (0 to 2 ticks after it) and more than a tick after the normal mode's last poll, which
// also covers the normal mode's sleeps running long on a real clock.
inline constexpr uint32_t kFastReplyGraceTicks = 2;

// Unread bytes in the ring; for tests and diagnostics.
uint32_t ReplyRingUnreadCount();

namespace internal {
void ResetReceptionState();
}

}  // namespace kfw
