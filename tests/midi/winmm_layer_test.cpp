// The WinMM device layer over a fake driver, driven by the program's own port, reception and
// transmission code: the lists in WinMM's numbering, the input buffer prepared and cycled as WinMM
// hands it back (at F7, when full, and split over several buffers as Windows 11's MIDI service
// does), the reset that gives it back empty, sending while WinMM still plays, and every refusal
// ending in its text. Runs on every platform; no WinMM call is made.
#include "midi/backends/winmm_layer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/report.h"
#include "midi/ports.h"
#include "midi/reception.h"
#include "midi/transmission.h"
#include "sim/timeline.h"
#include "tests/midi/fake_winmm.h"
#include "tests/midi/hex.h"
#include "tests/support/counting_clock.h"
#include "tests/support/doubles.h"

namespace kfw {
namespace {

using Bytes = std::vector<uint8_t>;
using Entries = std::vector<std::string>;
using test::Hex;
const std::string kChoose = "(Choose a MIDI port)";

// The trace as lines, whatever line ends the platform wrote.
std::string TraceText() {
  std::string text = test::ReadFileText(TraceFilePath());
  std::erase(text, '\r');
  return text;
}

// One "RX: " or "TX: " line as the trace writes it.
std::string Line(const char* prefix, const Bytes& bytes) {
  std::string line = prefix;
  char hex[4];
  for (uint8_t byte : bytes) {
    std::snprintf(hex, sizeof hex, "%.2x ", byte);
    line += hex;
  }
  return line + "\n";
}

// The next reply's body, or the result of a read that found none within a tick.
std::string NextReply() {
  uint8_t body[50];
  uint32_t count = 0;
  const ResultCode result = ReadReply(body, sizeof body, &count, 1);
  return result == kOk ? test::HexText(Bytes(body, body + count)) : testing::PrintToString(result);
}

class WinMmLayer : public testing::Test {
 protected:
  WinMmLayer() { Start(); }
  ~WinMmLayer() override { InstallMidiDeviceLayer(nullptr); }

  // A new driver behind a new layer, with nothing open.
  void Start() {
    InstallMidiDeviceLayer(nullptr);
    midiIn.store(nullptr);
    midiOut.store(nullptr);
    auto api = std::make_unique<test::FakeWinMm>();
    driver = api.get();
    layer = MakeWinMmDeviceLayer(std::move(api));
    InstallMidiDeviceLayer(layer.get());
  }

  test::FakeWinMm* driver = nullptr;
  std::unique_ptr<MidiDeviceLayer> layer;
  test::CountingClock clock;
  test::RecordingBoxes boxes;  // a fatal failure throws instead of ending the test program
  test::RecordingPortLists lists;
};

TEST_F(WinMmLayer, ListsWinMMsDevicesByTheirNumbersAndOpensTheChosenPair) {
  driver->inputNames = {"USB MIDI In", "Broken In", "Synth In é"};
  driver->outputNames = {"USB MIDI Out", "Synth Out"};
  driver->inputCapsFailures = {1};
  ASSERT_TRUE(FillPortLists());
  EXPECT_EQ(lists.entries[kReceiveFromList], (Entries{kChoose, "USB MIDI In", "Synth In é"}));
  EXPECT_EQ(lists.entries[kTransmitToList], (Entries{kChoose, "USB MIDI Out", "Synth Out"}));

  ASSERT_TRUE(OpenPorts(InputDeviceAt(2), OutputDeviceAt(2)));
  EXPECT_EQ(driver->openedInputDevice, 2u);
  EXPECT_EQ(driver->openedOutputDevice, 1u);
  // The one input buffer, prepared and queued as WinMM's own header over the program's bytes, and
  // input started; WinMM's open message went to the callback and was ignored there.
  ASSERT_EQ(driver->Queued().size(), 1u);
  const WinMmHdr* queued = driver->Queued().front();
  EXPECT_EQ(queued->lpData, inputBuffer);
  EXPECT_EQ(queued->dwBufferLength, kInputBufferSize);
  EXPECT_EQ(queued->dwFlags, kMhdrPrepared | kMhdrInQueue);
  EXPECT_EQ(inputHeader.dwFlags & kMhdrPrepared, kMhdrPrepared);
  EXPECT_TRUE(driver->InputStarted());
  // WinMM cannot tell the longest message an output takes.
  EXPECT_EQ(LargestSendableMessage(), kNoMessageLimit);
  EXPECT_TRUE(boxes.Errors().empty());
}

TEST_F(WinMmLayer, OpenFailuresShowWinMMsCodeAndLeaveNothingHeld) {
  struct Case {
    const char* call;
    MmResult code;
    std::string text;
  };
  const Case cases[] = {
      {"midiInOpen", kMmAllocated,
       "midiInOpen returned 00000004. Is the MIDI port currently in use?\n"},
      {"midiInPrepareHeader", kMmNoMemory, "midiInPrepareHeader returned 00000007\n"},
      {"midiInAddBuffer", kMmInvalidParameter, "midiInAddBuffer returned 0000000b\n"},
      {"midiOutOpen", kMmAllocated,
       "midiOutOpen returned 00000004. Is the MIDI port currently in use?\n"},
      // A device number WinMM does not have (unplugged since the lists were filled).
      {nullptr, 0, "midiInOpen returned 00000002. Is the MIDI port currently in use?\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    test::RecordingBoxes caseBoxes;
    if (c.call) driver->FailNext(c.call, c.code);
    EXPECT_FALSE(OpenPorts(c.call ? 0 : 1, 0));
    EXPECT_EQ(caseBoxes.Errors(), Entries{c.text});
    EXPECT_FALSE(driver->InputOpen());
    EXPECT_FALSE(driver->OutputOpen());
    EXPECT_TRUE(driver->Queued().empty());
    EXPECT_TRUE(driver->PreparedInputHeaders().empty());
    // Nothing is held: the next Connect opens the same pair.
    ClosePorts();
    EXPECT_TRUE(OpenPorts(0, 0));
    ClosePorts();
  }
}

TEST_F(WinMmLayer, RepliesAreReadWholeHoweverWinMMHandsTheBufferBack) {
  const Bytes reply = Hex("F0 00 12 34 05 7F 16 00 F7");
  // Another maker's message longer than the buffer: handed back full, then at its F7.
  Bytes noise(1100, 0x11);
  noise.front() = 0xF0;
  noise[1] = 0x43;
  noise.back() = 0xF7;
  Bytes noiseThenReply = noise;
  noiseThenReply.insert(noiseThenReply.end(), reply.begin(), reply.end());

  struct Case {
    const char* name;
    Bytes bytes;
    size_t piece;
    std::vector<Bytes> buffers;  // as the program was handed them
  };
  const Case cases[] = {
      {"whole, at F7", reply, 0, {reply}},
      {"split over buffers", reply, 4, {Hex("F0 00 12 34"), Hex("05 7F 16 00"), Hex("F7")}},
      {"a byte a buffer", reply, 1,
       {Hex("F0"), Hex("00"), Hex("12"), Hex("34"), Hex("05"), Hex("7F"), Hex("16"), Hex("00"),
        Hex("F7")}},
      {"after a message longer than the buffer", noiseThenReply, 0,
       {Bytes(noise.begin(), noise.begin() + kInputBufferSize),
        Bytes(noise.begin() + kInputBufferSize, noise.end()), reply}},
  };
  ASSERT_TRUE(OpenPorts(0, 0));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EnableTrace();
    driver->Receive(c.bytes, c.piece);
    std::string lines;
    for (const Bytes& buffer : c.buffers) lines += Line("RX: ", buffer);
    EXPECT_EQ(TraceText(), lines);
    EXPECT_EQ(NextReply(), "16 00");
    EXPECT_EQ(NextReply(), testing::PrintToString(kResponseTimeout));
    // The buffer is queued again after every return, cleared, and its count back to 0.
    ASSERT_EQ(driver->Queued().size(), 1u);
    EXPECT_EQ(driver->Queued().front()->dwBytesRecorded, 0u);
  }
  EXPECT_TRUE(boxes.Fatals().empty());
}

TEST_F(WinMmLayer, ClosingGetsTheBufferBackThroughStopAndResetAndLetsBothGo) {
  ASSERT_TRUE(OpenPorts(0, 0));
  EnableTrace();
  // Part of a reply is in the buffer: the stop hands it back and the program queues it again;
  // the reset hands it back empty, and it stays with the program.
  driver->Receive(Hex("F0 00 12"));
  ClosePorts();
  EXPECT_EQ(TraceText(), "RX: f0 00 12 \nRX: \n");
  EXPECT_TRUE(driver->Queued().empty());
  EXPECT_TRUE(driver->PreparedInputHeaders().empty());
  EXPECT_FALSE(driver->InputOpen());
  EXPECT_FALSE(driver->OutputOpen());
  // The layer forgot the handles with WinMM: using one again is refused, not passed on.
  HMidiIn closed = nullptr;
  ASSERT_EQ(MidiInOpen(&closed, 0, MidiInputCallback, 0, kCallbackFunction), kMmNoError);
  ASSERT_EQ(MidiInClose(closed), kMmNoError);
  EXPECT_EQ(MidiInStart(closed), kMmInvalidHandle);
  ClosePorts();  // nothing open: nothing to do, nothing to tell
  EXPECT_TRUE(boxes.Errors().empty());
  EXPECT_TRUE(boxes.Fatals().empty());
  // The program's output never asks for a callback; one that did would be handed WinMM's headers.
  HMidiOut output = nullptr;
  EXPECT_EQ(MidiOutOpen(&output, 0, 0, 0, kCallbackFunction), kMmInvalidFlag);
  EXPECT_FALSE(driver->OutputOpen());
}

const Bytes kReset = Hex("F0 00 7F 7F 7F 7F 10 02 F7");

void Send() { SendSysEx(kReset.data(), static_cast<uint32_t>(kReset.size())); }

TEST_F(WinMmLayer, SendsWholeMessagesAndWaitsWhileWinMMStillPlays) {
  ASSERT_TRUE(OpenPorts(0, 0));
  for (uint32_t stillPlaying : {0u, 1u, 3u}) {
    clock.sleeps.clear();
    driver->stillPlayingCount = stillPlaying;
    Send();
    EXPECT_EQ(driver->Sent().back(), kReset) << stillPlaying;
    EXPECT_EQ(clock.sleeps, std::vector<uint32_t>(stillPlaying, 100)) << stillPlaying;
    // Unprepared before SendSysEx returned: the caller's bytes are free again.
    EXPECT_TRUE(driver->PreparedOutputHeaders().empty()) << stillPlaying;
  }
  EXPECT_EQ(driver->Sent().size(), 3u);
}

// A send refused by WinMM (as Windows 11's MIDI service refuses one to a slow device), or one it
// never finishes, ends with the failing call's text and code, not in a wait without end.
TEST_F(WinMmLayer, ASendWinMMRefusesOrNeverFinishesEndsInItsText) {
  struct Case {
    const char* call;  // null: still playing for ever
    MmResult code;
    std::string text;
  };
  const Case cases[] = {
      {"midiOutPrepareHeader", kMmNoMemory, "midiOutPrepareHeader call failed - code 00000007\n"},
      {"midiOutLongMsg", kMmError, "midiOutLongMsg call failed - code 00000001\n"},
      {"midiOutLongMsg", kMidiErrNotReady, "midiOutLongMsg call failed - code 00000043\n"},
      {"midiOutUnprepareHeader", kMmInvalidHandle,
       "midiOutUnprepareHeader call failed - code 00000005\n"},
      {nullptr, 0, "midiOutUnprepareHeader call failed - code 00000041\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Start();
    ASSERT_TRUE(OpenPorts(0, 0));
    test::RecordingBoxes caseBoxes;
    clock.sleeps.clear();
    if (c.call) {
      driver->FailNext(c.call, c.code);
    } else {
      driver->stillPlayingCount = UINT32_MAX;
    }
    EXPECT_THROW(Send(), test::FatalEnded);
    EXPECT_EQ(caseBoxes.Fatals(), Entries{c.text});
    EXPECT_EQ(clock.sleeps.size(), c.call ? 0u : kMaxStillPlayingRepeats);
  }
}

// Fast mode opens the output with a callback: WinMM's done notice reaches it with the header the
// program sent, not WinMM's copy, and the send ends at the notice rather than at the next tick.
struct DoneNotice {
  HMidiOut handle = nullptr;
  uint32_t message = 0;
  uintptr_t instance = 0;
  uintptr_t header = 0;
};
DoneNotice lastNotice;
void RecordNotice(HMidiOut handle, uint32_t message, uintptr_t instance, uintptr_t header,
                  uintptr_t) {
  lastNotice = {handle, message, instance, header};
}

TEST_F(WinMmLayer, AnOutputWithACallbackGetsWinMMsDoneNoticeWithTheProgramsHeader) {
  HMidiOut out = nullptr;
  ASSERT_EQ(MidiOutOpen(&out, 0, reinterpret_cast<uintptr_t>(&RecordNotice), 7, kCallbackFunction),
            kMmNoError);
  Bytes message = kReset;
  MidiHdr header{message.data(), static_cast<uint32_t>(message.size()),
                 static_cast<uint32_t>(message.size())};
  driver->stillPlayingCount = 2;
  ASSERT_EQ(MidiOutPrepareHeader(out, &header, sizeof header), kMmNoError);
  ASSERT_EQ(MidiOutLongMsg(out, &header, sizeof header), kMmNoError);
  EXPECT_EQ(MidiOutUnprepareHeader(out, &header, sizeof header), kMidiErrStillPlaying);
  driver->FinishPlaying();
  EXPECT_EQ(lastNotice.handle, out);
  EXPECT_EQ(lastNotice.message, kMomDone);
  EXPECT_EQ(lastNotice.instance, 7u);
  EXPECT_EQ(lastNotice.header, reinterpret_cast<uintptr_t>(&header));
  EXPECT_EQ(MidiOutUnprepareHeader(out, &header, sizeof header), kMmNoError);
  EXPECT_EQ(MidiOutClose(out), kMmNoError);
  // Any other flag is refused, as is a callback function without a function.
  EXPECT_EQ(MidiOutOpen(&out, 0, 0, 0, kCallbackFunction), kMmInvalidFlag);
}

TEST_F(WinMmLayer, FastModeEndsTheSendAtWinMMsDoneNotice) {
  VirtualTime time;
  InstallClock(&time);
  fastMode.store(true);
  ASSERT_TRUE(OpenPorts(0, 0));
  driver->stillPlayingCount = UINT32_MAX;  // done only by the notice
  time.At(5000, [this] { driver->FinishPlaying(); });
  Send();
  EXPECT_EQ(time.NowMicroseconds(), 5000u);
  EXPECT_TRUE(driver->PreparedOutputHeaders().empty());
  ClosePorts();
  InstallClock(&clock);
}

}  // namespace
}  // namespace kfw
