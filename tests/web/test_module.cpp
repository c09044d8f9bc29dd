// The simulated QX-412 for the page's tests in Chromium: the product's own module (sim/), paced
// behind a modelled 31250-baud wire as the peer on real ports is (PacedModule), in real time on
// this program's own event loop. The stand-in for the browser's Web MIDI (webmidi_stand_in.js)
// passes it what the page sends and delivers what it answers as MIDI message events, so that every
// byte of an update goes through the page's Web MIDI backend. Built for the web only, as a factory
// (createKfwTestModule) with its WebAssembly inside:
//   kfw_test_module_start(baud)     the module, fresh; its answers go to Module.kfwToHost(bytes)
//   kfw_test_module_receive(p, n)   bytes the page sent, arriving over the wire
//   kfw_test_module_commands(code)  how many commands with this code it has acted on
//   kfw_test_module_programmed()    the bytes of every image it completed since its start
#include <emscripten/emscripten.h>

#include <memory>
#include <vector>

#include "sim/link.h"
#include "sim/module.h"
#include "sim/timeline.h"

namespace {

// clang-format off
EM_JS(void, kfw_to_host, (const uint8_t* bytes, int count), {
  Module["kfwToHost"](HEAPU8.slice(bytes, bytes + count));
});
// clang-format on

struct Rig {
  kfw::SimulatedModule module;
  kfw::RealTimeline timeline;
  std::unique_ptr<kfw::PacedModule> paced;
};

std::unique_ptr<Rig> rig;

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE void kfw_test_module_start(int baud) {
  rig.reset();
  rig = std::make_unique<Rig>();
  rig->paced = std::make_unique<kfw::PacedModule>(
      rig->module, rig->timeline, static_cast<uint32_t>(baud),
      [](const std::vector<uint8_t>& bytes) {
        kfw_to_host(bytes.data(), static_cast<int>(bytes.size()));
      });
}

EMSCRIPTEN_KEEPALIVE uint8_t* kfw_test_module_buffer(int count) {
  static std::vector<uint8_t> buffer;
  buffer.resize(static_cast<size_t>(count));
  return buffer.data();
}

EMSCRIPTEN_KEEPALIVE void kfw_test_module_receive(const uint8_t* bytes, int count) {
  if (rig) rig->paced->Receive(bytes, static_cast<size_t>(count));
}

EMSCRIPTEN_KEEPALIVE int kfw_test_module_commands(int code) {
  return rig ? static_cast<int>(rig->module.CountCommands(static_cast<uint8_t>(code))) : 0;
}

EMSCRIPTEN_KEEPALIVE int kfw_test_module_programmed() {
  if (!rig) return 0;
  size_t bytes = 0;
  for (const auto& image : rig->module.ProgrammedImages()) bytes += image.size();
  return static_cast<int>(bytes);
}

}  // extern "C"
