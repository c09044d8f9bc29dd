// The browser's MIDI, through Web MIDI. Built only for the web (KFW_HAVE_WEBMIDI).
//
// The page asks the browser for MIDI with SysEx once, before the lists are filled
// (RequestWebMidiAccess: the browser may ask the user first, so the answer comes later); the
// backend made from the answer lists the ports by name, opens them by name, sends each message
// whole with MIDIOutput.send(), and feeds the port layer from the MIDI message events as a byte
// stream: a SysEx message may come whole (Chrome) or in pieces of about 1 KiB (Firefox). The
// browser says nothing of a message leaving: as for RtMidi, a message counts as drained once its
// bytes would have crossed a MIDI cable (WireTimeEstimate).
//
// A port unplugged while open ("disconnected" in the statechange event) is told to the handler
// given with the access; from then on its input brings nothing (the procedure's wait for a reply
// ends at its time-out, with the result the reception gives), and a send to its output fails with
// kMmNoDriver, which the transmission reports as the failed call it is. Nothing waits on the
// browser for ever.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "midi/port_layer.h"

namespace kfw {

// Why a page has no MIDI.
enum class WebMidiProblem {
  kNone,
  kNotOffered,    // no navigator.requestMIDIAccess: a browser without Web MIDI (Safari)
  kInsecurePage,  // opened neither from https:// nor from http://localhost
  kRefused,       // the user, or the browser's settings, refused MIDI with SysEx
  kFailed,        // the browser could not start its MIDI ("Platform dependent initialization")
};

// The browser's answer. Owns the MIDIAccess object on the page's side; the backends made from it
// must go first.
class WebMidiAccess {
 public:
  // port: the name as listed; input: which list it was in.
  using PortGone = std::function<void(const std::string& port, bool input)>;

  ~WebMidiAccess();
  WebMidiAccess(const WebMidiAccess&) = delete;
  WebMidiAccess& operator=(const WebMidiAccess&) = delete;

  bool Granted() const { return problem_ == WebMidiProblem::kNone; }
  WebMidiProblem Problem() const { return problem_; }
  // The browser's own words for a refusal or a failure ("NotAllowedError: ..."); empty otherwise.
  const std::string& BrowserMessage() const { return browserMessage_; }

  // Called from the statechange event, once for each open port that went. It runs in an event,
  // perhaps while a procedure waits: it must not wait, nor ask anything of the user.
  void OnPortGone(PortGone handler) { portGone_ = std::move(handler); }

  int Id() const { return id_; }
  void TellPortGone(const std::string& port, bool input) const;

 private:
  friend std::unique_ptr<WebMidiAccess> RequestWebMidiAccess();
  WebMidiAccess() = default;

  int id_ = 0;  // the page's side, 0 when not granted
  WebMidiProblem problem_ = WebMidiProblem::kNone;
  std::string browserMessage_;
  PortGone portGone_;
};

// navigator.requestMIDIAccess({sysex: true}). Hands the thread to the event loop until the browser
// answers (a question to the user included), so it is called from a procedure's context, not from
// an event. Never fails: a page without MIDI gets an answer that says why.
std::unique_ptr<WebMidiAccess> RequestWebMidiAccess();

// The ports of a granted access (none for one that was not), listed as the browser names them; a
// name the browser gives twice is listed the second time with " (2)" after it, and so on, so every
// entry opens its own port.
std::unique_ptr<PortBackend> MakeWebMidiBackend(std::shared_ptr<WebMidiAccess> access);

}  // namespace kfw
