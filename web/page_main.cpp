// kfwupdate in a web page: the desktop window's session, in the page's one thread. The page's
// script (web/page.js) builds the two windows from the templates, then starts the session and
// hands it the controls' notifications, one command at a time:
//   kfw_page_letters()                the letters whose width gives a font's dialog units
//   kfw_page_layout(width, height)    the templates laid out in the page's font, as JSON
//   kfw_page_start(query)             the options from the address, the seams, the browser's MIDI,
//                                     the window set up; 0 when the session ended at once
//   kfw_page_notify(id, code)         one notification of a control, or Enter or Escape
//   kfw_page_close()                  the close request Exit posted: the session ends, the ports
//                                     close
//   kfw_page_cancel()                 the progress window's Cancel, while a procedure waits
//   kfw_page_trace()                  the trace as written so far
// Those that may wait (start, notify, close) are called with ccall's async option, never while
// one of them is still under way; cancel and trace only store and read, and may come at any time.
#include <emscripten/emscripten.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "base/event_loop_web.h"
#include "base/files.h"
#include "base/report.h"
#include "base/waiting.h"
#include "engine/front_end_seams.h"
#include "engine/progress.h"
#include "midi/backends/backends.h"
#include "midi/backends/webmidi_backend.h"
#include "midi/port_settings_storage.h"
#include "midi/ports.h"
#include "sim/module_ports.h"
#include "web/page_boxes.h"
#include "web/page_bridge.h"
#include "web/page_options.h"
#include "web/page_progress.h"
#include "web/page_templates.h"
#include "web/page_window.h"

namespace kfw {

namespace {

// The trace, in the page's memory, saved by the page's button.
constexpr const char* kPageTracePath = "/kfwupdate-trace.txt";

// Everything a session holds, made at its start and gone at its end. The seams are installed in
// one step once the device layer is made (the browser's answer to the request for MIDI comes
// first), and, declared last, go first: the ports close while the layer that opened them is still
// installed, then the seams are removed in the reverse order of their installation.
struct PageSession {
  std::shared_ptr<WebMidiAccess> webMidi;
  std::unique_ptr<MidiDeviceLayer> layer;
  BrowserStoragePortSettingsStore settings;
  PageMessageBoxes boxes;
  PageProgressWindow progress;
  PageMainWindow window;
  std::unique_ptr<InstalledSeams> seams;
};

std::unique_ptr<PageSession> session;

// As the windows' program ends: the ports close and the seams go, then the window and the rest.
void EndSession(int status) {
  session.reset();
  page::Call("sessionEnded", status);
}

std::string& TextForPage() {
  static std::string text;
  return text;
}

}  // namespace

}  // namespace kfw

extern "C" {

EMSCRIPTEN_KEEPALIVE const char* kfw_page_letters() {
  return kfw::kBaseUnitLetters;
}

EMSCRIPTEN_KEEPALIVE const char* kfw_page_layout(int widthOfAllLetters, int charHeight) {
  kfw::TextForPage() = kfw::PageLayoutJson(widthOfAllLetters, charHeight);
  return kfw::TextForPage().c_str();
}

EMSCRIPTEN_KEEPALIVE int kfw_page_start(const char* query) {
  using namespace kfw;
  if (session || web::ProcedureSuspended()) return 0;
  const ProgramOptions options = ReadPageOptions(query);
  // Before any port is opened, as at a program's start.
  SetTraceFilePath(kPageTracePath);
  if (options.trace) EnableTrace();
  fastMode = options.fast;
  std::error_code error;
  std::filesystem::create_directories(kPickedFilesFolder, error);
  if (chdir(kPickedFilesFolder) != 0) return 0;

  page::Call("options",
             (options.trace ? 1 : 0) | (options.simulator ? 2 : 0) | (options.fast ? 4 : 0));
  session = std::make_unique<PageSession>();
  // The browser may ask the user first; the page waits for the answer here.
  session->webMidi = RequestWebMidiAccess();
  session->webMidi->OnPortGone([](const std::string& port, bool input) {
    page::Call("notice", 1, PortGoneNotice(port, input));
  });
  if (!session->webMidi->Granted()) page::Call("notice", 0, NoMidiNotice(*session->webMidi));
  BackendOptions backends;
  backends.webMidi = session->webMidi;
  if (options.simulator) backends.extraBackends.push_back(std::make_unique<SimulatedModulePorts>());
  session->layer = MakeStandardDeviceLayer(std::move(backends));
  session->seams = std::make_unique<InstalledSeams>(FrontEndSeams{
      .deviceLayer = session->layer.get(),
      .portSettings = &session->settings,
      .boxes = &session->boxes,
      .progress = &session->progress,
  });
  if (!session->window.Initialise()) {
    // No MIDI input or output at all: the message has been shown.
    EndSession(1);
    return 0;
  }
  page::Call("ready");
  return 1;
}

EMSCRIPTEN_KEEPALIVE void kfw_page_notify(int id, int code) {
  if (!kfw::session || kfw::web::ProcedureSuspended()) return;
  kfw::session->window.Notify(id, code);
}

EMSCRIPTEN_KEEPALIVE void kfw_page_close() {
  if (!kfw::session || kfw::web::ProcedureSuspended()) return;
  kfw::session->window.CloseRequest();
  if (kfw::session->window.Ended()) kfw::EndSession(0);
}

EMSCRIPTEN_KEEPALIVE void kfw_page_cancel() {
  kfw::RequestCancel();
  // A fast wait goes on at once; the normal mode's polls see the flag at their next tick.
  kfw::SystemClock().Wake();
}

EMSCRIPTEN_KEEPALIVE const char* kfw_page_trace() {
  std::string& text = kfw::TextForPage();
  text.clear();
  kfw::RegularFile file = kfw::OpenForReading(kfw::kPageTracePath);
  if (file.IsOpen()) file.ReadAtMost(64 * 1024 * 1024, text);
  return text.c_str();
}

}  // extern "C"
