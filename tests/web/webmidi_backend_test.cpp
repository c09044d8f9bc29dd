// The Web MIDI backend and the browser-storage store of the port choice, under Node, against a
// stand-in for the browser's navigator.requestMIDIAccess and localStorage that the test installs:
// the answers a browser gives (none, refused, failed), the ports by name, replies fed as MIDI
// message events whole or in pieces through the port layer and the reception, the sends, a port
// unplugged while a procedure waits, and the stored values. The page's own tests in Chromium run
// the same backend against the product's simulated module (tests/web/page_test.py).
#include "midi/backends/webmidi_backend.h"

#include <emscripten/emscripten.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "base/waiting.h"
#include "midi/backends/backends.h"
#include "midi/device.h"
#include "midi/port_settings_storage.h"
#include "midi/ports.h"
#include "midi/reception.h"
#include "midi/transmission.h"
#include "tests/support/doubles.h"

namespace kfw {
namespace {

// The stand-in. `setup` (JSON): mode "none" (no Web MIDI), "insecure" (none, and not a secure
// page), "refuse" (NotAllowedError), "security" (SecurityError, as older Chrome refused), "fail"
// (InvalidStateError, as Chromium without an ALSA sequencer), or "grant" with the port names of
// `inputs` and `outputs`, and `busy`, a name whose open() is refused as a port in use. Its ports
// record what is sent, and deliver what the test hands them as message events, each piece a task
// of its own.
// clang-format off
EM_JS(void, StandInInstall, (const char* setupJson), {
  const setup = JSON.parse(UTF8ToString(setupJson));
  const standIn = {sent: [], opened: [], access: null, ports: [], deliveries: 0};
  globalThis.kfwStandIn = standIn;
  globalThis.isSecureContext = setup.mode !== "insecure";
  globalThis.navigator = {};
  if (setup.mode === "none" || setup.mode === "insecure") return;
  const access = new EventTarget();
  access.inputs = new Map();
  access.outputs = new Map();
  const make = (type, name, index) => {
    const port = new EventTarget();
    Object.assign(port, {type: type, name: name, id: type + "-" + index, state: "connected",
                         connection: "closed", onmidimessage: null});
    port.open = async () => {
      if (name === setup.busy) throw new DOMException("Port is in use", "InvalidAccessError");
      standIn.opened.push(port.id);
      port.connection = "open";
      return port;
    };
    port.close = async () => { port.connection = "closed"; return port; };
    // As a browser that takes a message for a port that has gone and drops it without a word:
    // the backend must not count on an exception.
    port.send = (data) => { standIn.sent.push(Array.from(data)); };
    standIn.ports.push(port);
    return port;
  };
  (setup.inputs || []).forEach((name, i) => access.inputs.set("in-" + i, make("input", name, i)));
  (setup.outputs || []).forEach((name, i) => access.outputs.set("out-" + i, make("output", name, i)));
  standIn.access = access;
  globalThis.navigator.requestMIDIAccess = async (options) => {
    if (!options || options.sysex !== true) throw new TypeError("sysex not asked for");
    if (setup.mode === "refuse") throw new DOMException("Permission denied", "NotAllowedError");
    if (setup.mode === "security") throw new DOMException("Denied", "SecurityError");
    if (setup.mode === "fail") {
      throw new DOMException("Platform dependent initialization failed.", "InvalidStateError");
    }
    return access;
  };
});

// After `milliseconds`, each message in turn to the first input, cut into pieces of `piece`
// bytes (0: whole), each piece a message event of its own.
EM_JS(void, StandInDeliverAfter, (int milliseconds, const char* messagesJson, int piece), {
  const messages = JSON.parse(UTF8ToString(messagesJson));
  const input = globalThis.kfwStandIn.access.inputs.get("in-0");
  const pieces = [];
  for (const message of messages) {
    const size = piece > 0 ? piece : message.length;
    for (let i = 0; i < message.length; i += size) pieces.push(message.slice(i, i + size));
  }
  const next = () => {
    const data = pieces.shift();
    if (data === undefined) return;
    if (input.onmidimessage) {
      input.onmidimessage({data: new Uint8Array(data)});
      globalThis.kfwStandIn.deliveries++;
    }
    setTimeout(next, 0);
  };
  setTimeout(next, milliseconds);
});

// After `milliseconds`, every port is unplugged.
EM_JS(void, StandInUnplugAfter, (int milliseconds), {
  setTimeout(() => {
    const standIn = globalThis.kfwStandIn;
    for (const port of standIn.ports) {
      port.state = "disconnected";
      const event = new Event("statechange");
      event.port = port;
      standIn.access.dispatchEvent(event);
    }
  }, milliseconds);
});

EM_JS(int, StandInSentCount, (), { return globalThis.kfwStandIn.sent.length; });
EM_JS(int, StandInSentByte, (int message, int index), {
  return globalThis.kfwStandIn.sent[message][index];
});
EM_JS(int, StandInSentLength, (int message), { return globalThis.kfwStandIn.sent[message].length; });
EM_JS(int, StandInOpenedCount, (), { return globalThis.kfwStandIn.opened.length; });
EM_JS(int, StandInOpenedIs, (int index, const char* id), {
  return globalThis.kfwStandIn.opened[index] === UTF8ToString(id) ? 1 : 0;
});

// localStorage: "map" (a working one holding `values`), "none", "blocked" (throws at the look),
// "full" (refuses writes).
EM_JS(void, StorageInstall, (const char* kind, const char* valuesJson), {
  const mode = UTF8ToString(kind);
  delete globalThis.localStorage;
  if (mode === "none") return;
  if (mode === "blocked") {
    Object.defineProperty(globalThis, "localStorage", {
      configurable: true, get: () => { throw new DOMException("denied", "SecurityError"); }});
    return;
  }
  const values = new Map(Object.entries(JSON.parse(UTF8ToString(valuesJson))));
  globalThis.localStorage = {
    getItem: (key) => (values.has(key) ? values.get(key) : null),
    setItem: (key, value) => {
      if (mode === "full") throw new DOMException("full", "QuotaExceededError");
      values.set(key, String(value));
    },
    kfwValues: values,
  };
});

EM_JS(int, StorageHolds, (const char* key, const char* value), {
  const stored = globalThis.localStorage.kfwValues.get(UTF8ToString(key));
  return stored === UTF8ToString(value) ? 1 : 0;
});
// clang-format on

std::vector<std::string> ListedNames(bool input) {
  return input ? InputPortNames() : OutputPortNames();
}

// The device layer of a page: the browser's ports only.
struct PageLayer {
  explicit PageLayer(const std::string& setup) {
    StandInInstall(setup.c_str());
    access = RequestWebMidiAccess();
    access->OnPortGone([this](const std::string& port, bool input) {
      gone.emplace_back(input ? "in: " : "out: ", port);
    });
    BackendOptions options;
    options.webMidi = access;
    layer = MakeStandardDeviceLayer(std::move(options));
    InstallMidiDeviceLayer(layer.get());
  }
  ~PageLayer() {
    ClosePorts();
    InstallMidiDeviceLayer(nullptr);
  }

  std::shared_ptr<WebMidiAccess> access;
  std::unique_ptr<MidiDeviceLayer> layer;
  std::vector<std::pair<std::string, std::string>> gone;
};

constexpr const char* kGranted =
    R"({"mode": "grant", "inputs": ["QX-412 MIDI 1"], "outputs": ["QX-412 MIDI 1"]})";

// A status reply: header, code 0x12, a byte, F7.
constexpr const char* kReply = "[240, 0, 0, 33, 10, 0, 18, 5, 247]";

// What the page learns when the browser gives it no MIDI, in each of the ways it can; the lists
// then say that there is no port, and how to try the page without one.
TEST(WebMidiAccess, SaysWhyTheBrowserGaveNoMidi) {
  struct Case {
    const char* setup;
    WebMidiProblem problem;
    const char* message;  // the start of the browser's words kept
  };
  const Case cases[] = {
      {R"({"mode": "none"})", WebMidiProblem::kNotOffered, ""},
      {R"({"mode": "insecure"})", WebMidiProblem::kInsecurePage, ""},
      {R"({"mode": "refuse"})", WebMidiProblem::kRefused, "NotAllowedError: Permission denied"},
      {R"({"mode": "security"})", WebMidiProblem::kRefused, "SecurityError: Denied"},
      {R"({"mode": "fail"})", WebMidiProblem::kFailed,
       "InvalidStateError: Platform dependent initialization failed."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setup);
    test::RecordingBoxes boxes;
    test::RecordingPortLists lists;
    PageLayer page(c.setup);
    EXPECT_FALSE(page.access->Granted());
    EXPECT_EQ(page.access->Problem(), c.problem);
    EXPECT_EQ(page.access->BrowserMessage(), c.message);
    EXPECT_FALSE(FillPortLists());
    ASSERT_EQ(boxes.Errors().size(), 1u);
    EXPECT_EQ(boxes.Errors()[0].rfind("No MIDI input found: the browser gave this page no MIDI "
                                      "port.",
                                      0),
              0u)
        << boxes.Errors()[0];
    EXPECT_NE(boxes.Errors()[0].find("?simulator"), std::string::npos);
  }
}

// Ports are listed by the browser's names, a name given twice once more with its count; each
// entry opens its own port, and an open the browser refuses is told with its reason.
TEST(WebMidiBackend, ListsAndOpensEachPortByItsOwnName) {
  test::RecordingBoxes boxes;
  test::RecordingPortLists lists;
  PageLayer page(R"({"mode": "grant", "inputs": ["UM-ONE", "QX-412 MIDI 1", "UM-ONE"],
                     "outputs": ["UM-ONE", "Busy port"], "busy": "Busy port"})");
  ASSERT_TRUE(page.access->Granted());
  ASSERT_TRUE(FillPortLists());
  EXPECT_EQ(ListedNames(true), (std::vector<std::string>{"UM-ONE", "QX-412 MIDI 1", "UM-ONE (2)"}));
  EXPECT_EQ(ListedNames(false), (std::vector<std::string>{"UM-ONE", "Busy port"}));

  ASSERT_TRUE(OpenPorts(InputDeviceAt(3), OutputDeviceAt(1)));
  ASSERT_EQ(StandInOpenedCount(), 2);
  EXPECT_TRUE(StandInOpenedIs(0, "input-2"));
  EXPECT_TRUE(StandInOpenedIs(1, "output-0"));
  ClosePorts();

  EXPECT_FALSE(OpenPorts(InputDeviceAt(1), OutputDeviceAt(2)));
  ASSERT_EQ(boxes.Errors().size(), 1u);
  EXPECT_EQ(boxes.Errors()[0],
            "Cannot open the MIDI port chosen in \"Transmit to\": InvalidAccessError: Port is in "
            "use. To try the page without hardware, choose the simulated module (tick \"List the "
            "simulated module\", or open the page with ?simulator).");
}

// A reply reaches ReadReply whole, in the browser's 1 KiB pieces or in smaller ones, behind a
// foreign SysEx message of 2500 bytes and a clock byte that the reception passes over.
TEST(WebMidiBackend, TakesRepliesAsAByteStreamWholeOrInPieces) {
  std::string foreign = "[240, 67";
  for (int i = 0; i < 2497; ++i) foreign += ", " + std::to_string(i % 128);
  foreign += ", 247]";
  const std::string messages = "[" + foreign + ", [248], " + kReply + "]";
  for (const bool fast : {false, true}) {
    for (const int piece : {0, 1024, 7}) {
      SCOPED_TRACE(std::string(fast ? "fast" : "normal") + ", pieces of " + std::to_string(piece));
      test::RecordingBoxes boxes;
      test::RecordingPortLists lists;
      fastMode = fast;
      PageLayer page(kGranted);
      ASSERT_TRUE(FillPortLists());
      ASSERT_TRUE(OpenPorts(InputDeviceAt(1), OutputDeviceAt(1)));
      StandInDeliverAfter(10, messages.c_str(), piece);
      uint8_t buffer[50];
      uint32_t count = 0;
      EXPECT_EQ(ReadReply(buffer, sizeof buffer, &count, 50), kOk);
      EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + count), (std::vector<uint8_t>{0x12, 0x05}));
      EXPECT_TRUE(boxes.Errors().empty());
    }
  }
}

// The fast mode's wait for an answer ends at the MIDI message event that brings it, far inside a
// tick; the normal mode's at its next poll, a tick after the wait began.
TEST(WebMidiBackend, AFastReplyWaitEndsAtTheMessageEvent) {
  for (const bool fast : {true, false}) {
    SCOPED_TRACE(fast ? "fast" : "normal");
    test::RecordingBoxes boxes;
    test::RecordingPortLists lists;
    fastMode = fast;
    PageLayer page(kGranted);
    ASSERT_TRUE(FillPortLists());
    ASSERT_TRUE(OpenPorts(InputDeviceAt(1), OutputDeviceAt(1)));
    Clock& clock = SystemClock();
    const uint64_t start = clock.NowMicroseconds();
    StandInDeliverAfter(30, (std::string("[") + kReply + "]").c_str(), 0);
    uint8_t buffer[50];
    EXPECT_EQ(ReadReply(buffer, sizeof buffer, nullptr, 10), kOk);
    const uint64_t took = clock.NowMicroseconds() - start;
    EXPECT_GE(took, 30'000u);
    if (fast) {
      EXPECT_LT(took, 60'000u);
    } else {
      EXPECT_GE(took, 100'000u);
    }
  }
}

// Each message goes to the browser whole, as sent, and in the fast mode the send returns once
// the message would have crossed the cable, not sooner (31250 baud: 320 microseconds a byte).
TEST(WebMidiBackend, SendsEachMessageWholeAndWaitsOutItsWireTime) {
  test::RecordingBoxes boxes;
  test::RecordingPortLists lists;
  fastMode = true;
  PageLayer page(kGranted);
  ASSERT_TRUE(FillPortLists());
  ASSERT_TRUE(OpenPorts(InputDeviceAt(1), OutputDeviceAt(1)));
  std::vector<uint8_t> message(270, 0x11);
  message.front() = 0xF0;
  message.back() = 0xF7;
  Clock& clock = SystemClock();
  const uint64_t start = clock.NowMicroseconds();
  SendSysEx(message.data(), static_cast<uint32_t>(message.size()));
  const uint64_t took = clock.NowMicroseconds() - start;
  EXPECT_GE(took, 270u * 320u);
  EXPECT_LT(took, 270u * 320u + 50'000u);
  ASSERT_EQ(StandInSentCount(), 1);
  ASSERT_EQ(StandInSentLength(0), 270);
  for (int i = 0; i < 270; ++i) ASSERT_EQ(StandInSentByte(0, i), message[static_cast<size_t>(i)]);
}

// Both ports unplugged while a procedure waits for a reply: the page is told which went, the
// reply that comes afterwards is not taken, the wait ends at its time-out, and the next send
// fails as a failed call does, with the code for a driver that has gone, without reaching the
// browser.
TEST(WebMidiBackend, AnUnpluggedPortEndsTheWaitAtItsTimeoutAndRefusesSends) {
  for (const bool fast : {false, true}) {
    SCOPED_TRACE(fast ? "fast" : "normal");
    test::RecordingBoxes boxes;
    test::RecordingPortLists lists;
    fastMode = fast;
    PageLayer page(kGranted);
    ASSERT_TRUE(FillPortLists());
    ASSERT_TRUE(OpenPorts(InputDeviceAt(1), OutputDeviceAt(1)));
    StandInUnplugAfter(20);
    StandInDeliverAfter(60, (std::string("[") + kReply + "]").c_str(), 0);
    uint8_t buffer[50];
    uint32_t count = 0;
    EXPECT_EQ(ReadReply(buffer, sizeof buffer, &count, 3), kResponseTimeout);
    EXPECT_EQ(page.gone, (std::vector<std::pair<std::string, std::string>>{
                             {"in: ", "QX-412 MIDI 1"}, {"out: ", "QX-412 MIDI 1"}}));
    const uint8_t reset[] = {0xF0, 0x00, 0x7F, 0x7F, 0x7F, 0x00, 0x10, 0x02, 0xF7};
    EXPECT_THROW(SendSysEx(reset, sizeof reset), test::FatalEnded);
    EXPECT_EQ(boxes.Fatals(),
              (std::vector<std::string>{"midiOutLongMsg call failed - code 00000006\n"}));
    EXPECT_EQ(StandInSentCount(), 0);
  }
}

// The port choice in the browser's storage: written and read back as decimal text under the
// page's keys; anything else there reads as missing; a storage the browser withholds cannot be
// opened, a full one refuses the write.
TEST(BrowserStoragePortSettingsStore, KeepsTheChoiceInTheBrowsersStorage) {
  {
    StorageInstall("map", "{}");
    BrowserStoragePortSettingsStore store;
    ASSERT_TRUE(store.Open());
    int32_t value = 7;
    EXPECT_FALSE(store.Read(kInputBusValue, value));
    EXPECT_EQ(value, 7);
    EXPECT_TRUE(store.Write(kInputBusValue, 2));
    EXPECT_TRUE(store.Write(kOutputBusValue, -1));
    EXPECT_TRUE(StorageHolds("kfwupdate.InputBus", "2"));
    EXPECT_TRUE(StorageHolds("kfwupdate.OutputBus", "-1"));
    EXPECT_TRUE(store.Read(kInputBusValue, value));
    EXPECT_EQ(value, 2);
    EXPECT_TRUE(store.Read(kOutputBusValue, value));
    EXPECT_EQ(value, -1);
    store.Close();
    EXPECT_FALSE(store.Read(kInputBusValue, value));
  }
  for (const char* stored : {"", "2x", " 2", "+2", "0x10", "99999999999", "two"}) {
    SCOPED_TRACE(std::string("stored \"") + stored + "\"");
    StorageInstall("map", (std::string(R"({"kfwupdate.InputBus": ")") + stored + "\"}").c_str());
    BrowserStoragePortSettingsStore store;
    ASSERT_TRUE(store.Open());
    int32_t value = 7;
    EXPECT_FALSE(store.Read(kInputBusValue, value));
    EXPECT_EQ(value, 7);
  }
  for (const char* kind : {"none", "blocked"}) {
    SCOPED_TRACE(kind);
    StorageInstall(kind, "{}");
    BrowserStoragePortSettingsStore store;
    EXPECT_FALSE(store.Open());
    EXPECT_FALSE(store.Write(kInputBusValue, 1));
  }
  StorageInstall("full", "{}");
  BrowserStoragePortSettingsStore full;
  ASSERT_TRUE(full.Open());
  EXPECT_FALSE(full.Write(kInputBusValue, 1));
}

// Through the port code: the choice saved at one command is selected again in a new session.
TEST(BrowserStoragePortSettingsStore, TheNextSessionSelectsTheSavedChoice) {
  StorageInstall("map", "{}");
  BrowserStoragePortSettingsStore store;
  InstallPortSettingsStore(&store);
  {
    test::RecordingPortLists lists;
    PageLayer page(R"({"mode": "grant", "inputs": ["A", "B"], "outputs": ["C", "D"]})");
    ASSERT_TRUE(FillPortLists());
    inputBus = 2;
    outputBus = 1;
    EXPECT_TRUE(SavePortSettings());
  }
  inputBus = outputBus = -1;
  test::RecordingPortLists lists;
  PageLayer page(R"({"mode": "grant", "inputs": ["A", "B"], "outputs": ["C", "D"]})");
  ASSERT_TRUE(FillPortLists());
  EXPECT_TRUE(LoadPortSettings());
  EXPECT_EQ(lists.selected[kReceiveFromList], 2);
  EXPECT_EQ(lists.selected[kTransmitToList], 1);
  InstallPortSettingsStore(nullptr);
}

}  // namespace
}  // namespace kfw
