#include "midi/backends/webmidi_backend.h"

#include <emscripten/emscripten.h>

#include <vector>

#include "midi/backends/drain.h"

// The page's side of Web MIDI. Module.kfwWebMidi holds the granted accesses by id and the open
// ports by handle; each C++ object owns its entry and removes it when it goes, so an event that
// comes later finds nothing to call. Texts come back through Module.kfwWebMidi.text: the call that
// makes one returns its length in UTF-8, kfw_webmidi_take_text copies it out. The bodies are
// JavaScript, which clang-format would break (it splits => in two); Emscripten 3.1.6's optimiser
// of the JavaScript it writes breaks destructuring in a for-of loop, which is left out.
// clang-format off
EM_JS(void, kfw_webmidi_install, (), {
  if (Module["kfwWebMidi"]) return;
  Module["kfwWebMidi"] = {accesses: new Map(), opens: new Map(), next: 1, text: ""};
});

EM_JS(int, kfw_webmidi_text_length, (), {
  return lengthBytesUTF8(Module["kfwWebMidi"].text);
});

EM_JS(void, kfw_webmidi_take_text, (char* buffer, int capacity), {
  stringToUTF8(Module["kfwWebMidi"].text, buffer, capacity);
  Module["kfwWebMidi"].text = "";
});

// Positive: the access's id. Negative: the problem (WebMidiProblem), the browser's words in text.
EM_ASYNC_JS(int, kfw_webmidi_request, (), {
  const midi = Module["kfwWebMidi"];
  midi.text = "";
  const nav = typeof navigator == "undefined" ? undefined : navigator;
  if (!nav || typeof nav.requestMIDIAccess != "function") {
    // Browsers offer Web MIDI to secure pages only: a page from plain http:// elsewhere than
    // localhost, or from a file where the browser does not count that as secure, sees none.
    return typeof isSecureContext != "undefined" && isSecureContext === false ? -2 : -1;
  }
  let access;
  try {
    access = await nav.requestMIDIAccess({sysex: true});
  } catch (error) {
    midi.text = String((error && error.name ? error.name + ": " : "") +
                       (error && error.message ? error.message : error));
    // Chrome refused with SecurityError before it said NotAllowedError.
    const refused = error && (error.name === "NotAllowedError" || error.name === "SecurityError");
    return refused ? -3 : -4;
  }
  const id = midi.next++;
  const entry = {access: access, listed: {inputs: [], outputs: []}, onState: null};
  entry.onState = (event) => {
    const port = event.port;
    if (!port || port.state !== "disconnected") return;
    for (const open of midi.opens.values()) {
      if (open.access !== id || open.port !== port || open.gone) continue;
      open.gone = true;
      if (open.input) port.onmidimessage = null;
      if (ABORT) continue;
      try {
        Module["_kfw_webmidi_port_gone"](open.connection, open.input ? 1 : 0);
      } catch (error) {
        if (!(error instanceof ExitStatus)) throw error;
      }
    }
  };
  access.addEventListener("statechange", entry.onState);
  midi.accesses.set(id, entry);
  return id;
});

EM_JS(void, kfw_webmidi_release, (int id), {
  const midi = Module["kfwWebMidi"];
  const entry = midi.accesses.get(id);
  if (!entry) return;
  entry.access.removeEventListener("statechange", entry.onState);
  midi.accesses.delete(id);
});

// Lists the ports afresh, names made unique; returns how many are in the list asked for.
EM_JS(int, kfw_webmidi_list, (int id, int inputs), {
  const entry = Module["kfwWebMidi"].accesses.get(id);
  if (!entry) return 0;
  const map = inputs ? entry.access.inputs : entry.access.outputs;
  const listed = [];
  const seen = new Map();
  for (const port of map.values()) {
    const name = port.name ? String(port.name) : String(port.id);
    const times = (seen.get(name) || 0) + 1;
    seen.set(name, times);
    listed.push({port: port, name: times > 1 ? name + " (" + times + ")" : name});
  }
  if (inputs) entry.listed.inputs = listed; else entry.listed.outputs = listed;
  return listed.length;
});

EM_JS(int, kfw_webmidi_listed_name, (int id, int inputs, int index), {
  const midi = Module["kfwWebMidi"];
  const entry = midi.accesses.get(id);
  const listed = entry ? (inputs ? entry.listed.inputs : entry.listed.outputs) : [];
  midi.text = index < listed.length ? listed[index].name : "";
  return lengthBytesUTF8(midi.text);
});

// Positive: the open port's handle. Negative: the MmResult of the failure, its words in text. An
// input's messages go to the connection from then on.
EM_ASYNC_JS(int, kfw_webmidi_open, (int id, int input, const char* name, void* connection), {
  const midi = Module["kfwWebMidi"];
  midi.text = "";
  const entry = midi.accesses.get(id);
  const wanted = UTF8ToString(name);
  const listed = entry ? (input ? entry.listed.inputs : entry.listed.outputs) : [];
  const found = listed.find((item) => item.name === wanted);
  if (!found) return -2;  // kMmBadDeviceId
  const port = found.port;
  if (port.state === "disconnected") {
    midi.text = "Unplugged since the list was made";
    return -2;
  }
  try {
    await port.open();
  } catch (error) {
    midi.text = String((error && error.name ? error.name + ": " : "") +
                       (error && error.message ? error.message : error));
    if (error && error.name === "InvalidAccessError") return -4;  // kMmAllocated: in use
    if (error && error.name === "NotAllowedError") return -3;     // kMmNotEnabled
    if (error && error.name === "InvalidStateError") return -2;   // gone meanwhile
    return -1;
  }
  const handle = midi.next++;
  const open = {access: id, port: port, input: !!input, connection: connection, gone: false};
  midi.opens.set(handle, open);
  if (input) {
    port.onmidimessage = (event) => {
      const data = event.data;
      if (ABORT || open.gone || !data || !data.length) return;
      const buffer = Module["_kfw_webmidi_input_buffer"](connection, data.length);
      HEAPU8.set(data, buffer);
      try {
        Module["_kfw_webmidi_input_received"](connection, data.length);
      } catch (error) {
        if (!(error instanceof ExitStatus)) throw error;
      }
    };
  }
  return handle;
});

// The MmResult of the send.
EM_JS(int, kfw_webmidi_send, (int handle, const uint8_t* bytes, int length), {
  const midi = Module["kfwWebMidi"];
  const open = midi.opens.get(handle);
  if (!open || open.gone || open.port.state === "disconnected") return 6;  // kMmNoDriver
  try {
    open.port.send(HEAPU8.slice(bytes, bytes + length));
  } catch (error) {
    midi.text = String(error);
    if (error && error.name === "InvalidStateError") return 6;
    if (error && (error.name === "InvalidAccessError" || error.name === "NotAllowedError")) {
      return 3;  // kMmNotEnabled: no SysEx for this page
    }
    return 11;  // kMmInvalidParameter: not a message the browser takes
  }
  return 0;
});

EM_JS(void, kfw_webmidi_close, (int handle), {
  const midi = Module["kfwWebMidi"];
  const open = midi.opens.get(handle);
  if (!open) return;
  midi.opens.delete(handle);
  if (open.input) open.port.onmidimessage = null;
  // Closing releases the port for other programs; nothing waits for it.
  Promise.resolve().then(() => open.port.close()).catch(() => {});
});
// clang-format on

namespace kfw {

namespace {

std::string TakeText(int length) {
  std::string text(static_cast<size_t>(length) + 1, '\0');
  kfw_webmidi_take_text(text.data(), length + 1);
  text.resize(static_cast<size_t>(length));
  return text;
}

std::string TakeText() {
  return TakeText(kfw_webmidi_text_length());
}

class WebMidiInput final : public InputConnection {
 public:
  WebMidiInput(std::shared_ptr<WebMidiAccess> access, std::string name, ByteSink sink)
      : access_(std::move(access)), name_(std::move(name)), sink_(std::move(sink)) {}
  ~WebMidiInput() override { kfw_webmidi_close(handle_); }

  void SetHandle(int handle) { handle_ = handle; }
  uint8_t* Buffer(size_t count) {
    buffer_.resize(count);
    return buffer_.data();
  }
  void Received(size_t count) { sink_(buffer_.data(), count); }
  void Gone() { access_->TellPortGone(name_, true); }

 private:
  std::shared_ptr<WebMidiAccess> access_;
  std::string name_;
  ByteSink sink_;
  int handle_ = 0;
  std::vector<uint8_t> buffer_;  // one message event's bytes, handed to the sink
};

class WebMidiOutput final : public OutputConnection {
 public:
  WebMidiOutput(std::shared_ptr<WebMidiAccess> access, std::string name)
      : access_(std::move(access)), name_(std::move(name)) {}

  ~WebMidiOutput() override {
    // The final reset of an update is sent just before the ports close. A port that went takes
    // nothing more, so there is nothing to wait for.
    if (!gone_) WaitForDrain(*this);
    kfw_webmidi_close(handle_);
  }

  void SetHandle(int handle) { handle_ = handle; }
  void Gone() {
    gone_ = true;
    access_->TellPortGone(name_, false);
  }

  MmResult Send(const uint8_t* bytes, uint32_t length) override {
    if (gone_) return kMmNoDriver;
    const int result = kfw_webmidi_send(handle_, bytes, static_cast<int>(length));
    if (result != kMmNoError) return static_cast<MmResult>(result);
    wire_.Sent(length);
    return kMmNoError;
  }

  // The browser takes the message and says no more: it counts as drained once its bytes would
  // have crossed a MIDI cable, counted from the send, which paces a run of blocks to what the
  // cable beyond the interface carries. The notice comes from the event loop's timer at that
  // instant; in a browser that timer is a worker's, which a hidden tab does not slow.
  bool Drained() override { return gone_ || wire_.Drained(); }
  void WhenDrained(std::function<void()> done) override { notifier_.Request(std::move(done)); }

 private:
  std::shared_ptr<WebMidiAccess> access_;
  std::string name_;
  int handle_ = 0;
  bool gone_ = false;
  WireTimeEstimate wire_;
  // Last, so that it stops before the estimate it reads goes.
  DrainNotifier notifier_{[this] { return Drained(); },
                          [this] { return std::chrono::microseconds(wire_.RemainingMicros()); }};
};

class WebMidiBackend final : public PortBackend {
 public:
  explicit WebMidiBackend(std::shared_ptr<WebMidiAccess> access) : access_(std::move(access)) {}

  std::string Name() const override { return "Web MIDI"; }

  void ListPorts(std::vector<std::string>& inputs, std::vector<std::string>& outputs) override {
    if (!access_ || !access_->Granted()) return;
    for (const bool input : {true, false}) {
      const int count = kfw_webmidi_list(access_->Id(), input);
      for (int i = 0; i < count; ++i) {
        std::string name = TakeText(kfw_webmidi_listed_name(access_->Id(), input, i));
        (input ? inputs : outputs).push_back(std::move(name));
      }
    }
  }

  std::string OpenFailureReason() const override { return openFailure_; }

  MmResult OpenInput(const std::string& port, ByteSink sink,
                     std::unique_ptr<InputConnection>& connection) override {
    auto input = std::make_unique<WebMidiInput>(access_, port, std::move(sink));
    const MmResult result = Open(port, true, input.get(), [&](int handle) {
      input->SetHandle(handle);
      connection = std::move(input);
    });
    return result;
  }

  MmResult OpenOutput(const std::string& port,
                      std::unique_ptr<OutputConnection>& connection) override {
    auto output = std::make_unique<WebMidiOutput>(access_, port);
    return Open(port, false, output.get(), [&](int handle) {
      output->SetHandle(handle);
      connection = std::move(output);
    });
  }

 private:
  // The connection is told to the page's side before the port opens: its messages may come as
  // soon as it has.
  MmResult Open(const std::string& port, bool input, void* connection,
                const std::function<void(int)>& opened) {
    openFailure_.clear();
    if (!access_ || !access_->Granted()) return kMmNoDriver;
    const int handle = kfw_webmidi_open(access_->Id(), input, port.c_str(), connection);
    if (handle < 0) {
      openFailure_ = TakeText();
      return static_cast<MmResult>(-handle);
    }
    opened(handle);
    return kMmNoError;
  }

  std::shared_ptr<WebMidiAccess> access_;
  std::string openFailure_;
};

}  // namespace

WebMidiAccess::~WebMidiAccess() {
  if (id_ > 0) kfw_webmidi_release(id_);
}

void WebMidiAccess::TellPortGone(const std::string& port, bool input) const {
  if (portGone_) portGone_(port, input);
}

std::unique_ptr<WebMidiAccess> RequestWebMidiAccess() {
  kfw_webmidi_install();
  std::unique_ptr<WebMidiAccess> access(new WebMidiAccess);
  const int answer = kfw_webmidi_request();
  if (answer > 0) {
    access->id_ = answer;
    return access;
  }
  switch (answer) {
    case -1:
      access->problem_ = WebMidiProblem::kNotOffered;
      break;
    case -2:
      access->problem_ = WebMidiProblem::kInsecurePage;
      break;
    case -3:
      access->problem_ = WebMidiProblem::kRefused;
      break;
    default:
      access->problem_ = WebMidiProblem::kFailed;
      break;
  }
  access->browserMessage_ = TakeText();
  return access;
}

std::unique_ptr<PortBackend> MakeWebMidiBackend(std::shared_ptr<WebMidiAccess> access) {
  return std::make_unique<WebMidiBackend>(std::move(access));
}

}  // namespace kfw

// Called by the page's side from the MIDI message and statechange events.
extern "C" {

EMSCRIPTEN_KEEPALIVE uint8_t* kfw_webmidi_input_buffer(void* connection, int count) {
  return static_cast<kfw::WebMidiInput*>(connection)->Buffer(static_cast<size_t>(count));
}

EMSCRIPTEN_KEEPALIVE void kfw_webmidi_input_received(void* connection, int count) {
  static_cast<kfw::WebMidiInput*>(connection)->Received(static_cast<size_t>(count));
}

EMSCRIPTEN_KEEPALIVE void kfw_webmidi_port_gone(void* connection, int input) {
  if (input) {
    static_cast<kfw::WebMidiInput*>(connection)->Gone();
  } else {
    static_cast<kfw::WebMidiOutput*>(connection)->Gone();
  }
}

}  // extern "C"
