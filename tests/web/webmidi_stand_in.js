// A stand-in for the browser's Web MIDI, put in the page before its own scripts run (the test adds
// it to every new document through CDP): navigator.requestMIDIAccess answers as window.kfwStandInSetup
// says, and the ports it grants lead to the product's simulated module compiled for the test
// (createKfwTestModule, tests/web/test_module.cpp, put in the page just before this). So every byte
// of a session passes through the page's own Web MIDI backend.
//
// kfwStandInSetup: {
//   mode: "grant" | "refuse" (NotAllowedError) | "fail" (InvalidStateError, as Chromium without
//         an ALSA sequencer) | "none" (no Web MIDI at all, as Safari),
//   piece: 0 (each message whole, as Chrome) or the size of the pieces a long SysEx message comes
//          in (1024, as Firefox),
//   foreign: the length of a foreign SysEx message (another maker's) sent before every answer,
//   unplugAfterBlocks: unplug both ports once this many program blocks have been sent (their
//                      answers are lost),
//   unplugAfterAnswers: unplug both ports once this many answers to program blocks have been
//                       delivered (the next block finds the output gone),
// }
// What it saw is in window.kfwStandIn: sends, sends that were not one whole message, pieces
// delivered, whether the ports were unplugged, what the module has done (commands(code),
// programmed()).
(() => {
  "use strict";
  const setup = Object.assign({mode: "grant", piece: 0, foreign: 0, unplugAfterBlocks: 0,
                               unplugAfterAnswers: 0},
                              window.kfwStandInSetup || {});
  const standIn = {sends: 0, notWhole: 0, pieces: 0, unplugged: false, module: null,
                   commands: (code) => (standIn.module ? standIn.module._kfw_test_module_commands(code) : 0),
                   programmed: () => (standIn.module ? standIn.module._kfw_test_module_programmed() : 0)};
  window.kfwStandIn = standIn;

  if (setup.mode === "none") {
    delete Navigator.prototype.requestMIDIAccess;
    return;
  }

  const portName = "UM-ONE MIDI 1";
  const access = new EventTarget();
  access.sysexEnabled = true;
  access.inputs = new Map();
  access.outputs = new Map();
  access.onstatechange = null;

  function makePort(type) {
    const port = new EventTarget();
    Object.assign(port, {id: type + "-1", name: portName, manufacturer: "Roland", version: "1.0",
                         type: type, state: "connected", connection: "closed"});
    port.onmidimessage = null;
    port.open = async () => {
      port.connection = "open";
      return port;
    };
    port.close = async () => {
      port.connection = "closed";
      return port;
    };
    return port;
  }
  const input = makePort("input");
  const output = makePort("output");
  access.inputs.set(input.id, input);
  access.outputs.set(output.id, output);

  // Each piece a message event of its own, in order, as the browser's MIDI thread hands them on.
  const toPage = [];
  function deliver(bytes) {
    const size = setup.piece > 0 ? setup.piece : bytes.length;
    for (let i = 0; i < bytes.length; i += size) toPage.push(bytes.slice(i, i + size));
    setTimeout(flush, 0);
  }
  let answers = 0;
  function flush() {
    while (toPage.length) {
      const data = toPage.shift();
      if (input.state !== "connected" || !input.onmidimessage) continue;
      standIn.pieces++;
      input.onmidimessage({data: data, timeStamp: performance.now(), target: input});
      if (data.length > 6 && data[0] === 0xF0 && data[6] === 0x16) answers++;
      if (setup.unplugAfterAnswers && answers === setup.unplugAfterAnswers) unplug();
    }
  }

  function foreignMessage(length) {
    const bytes = new Uint8Array(length);
    bytes[0] = 0xF0;
    bytes[1] = 0x43;  // another maker's
    for (let i = 2; i < length - 1; i++) bytes[i] = i & 0x7F;
    bytes[length - 1] = 0xF7;
    return bytes;
  }

  function unplug() {
    standIn.unplugged = true;
    for (const port of [input, output]) {
      port.state = "disconnected";
      const event = new Event("statechange");
      event.port = port;
      access.dispatchEvent(event);
      port.dispatchEvent(event);
    }
  }

  let blocks = 0;
  output.send = (data) => {
    const bytes = Uint8Array.from(data);
    standIn.sends++;
    const whole = bytes.length >= 2 && bytes[0] === 0xF0 && bytes[bytes.length - 1] === 0xF7 &&
                  bytes.slice(1, -1).every((byte) => byte < 0x80);
    if (!whole) standIn.notWhole++;
    // A port that has gone takes the message and drops it, as some browsers do.
    if (output.state !== "connected" || !standIn.module) return;
    const module = standIn.module;
    const buffer = module._kfw_test_module_buffer(bytes.length);
    module.HEAPU8.set(bytes, buffer);
    module._kfw_test_module_receive(buffer, bytes.length);
    if (bytes.length > 6 && bytes[6] === 0x15) blocks++;
    if (setup.unplugAfterBlocks && blocks === setup.unplugAfterBlocks) unplug();
  };

  async function moduleReady() {
    if (standIn.module) return standIn.module;
    const module = await createKfwTestModule({
      kfwToHost: (bytes) => {
        if (setup.foreign) deliver(foreignMessage(setup.foreign));
        deliver(bytes);
      },
    });
    module._kfw_test_module_start(31250);
    standIn.module = module;
    return module;
  }

  const request = async (options) => {
    if (!options || options.sysex !== true) throw new TypeError("the page must ask for SysEx");
    if (setup.mode === "refuse") {
      throw new DOMException("Permission to use Web MIDI API was not granted.", "NotAllowedError");
    }
    if (setup.mode === "fail") {
      throw new DOMException("Platform dependent initialization failed.", "InvalidStateError");
    }
    await moduleReady();
    return access;
  };
  Object.defineProperty(Navigator.prototype, "requestMIDIAccess",
                        {configurable: true, writable: true, value: request});
})();
