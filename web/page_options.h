// What the page's address asks for, as the desktop program's command line does, and what the page
// tells its user about its MIDI. Web builds only.
#pragma once

#include <string>

#include "midi/backends/webmidi_backend.h"
#include "ui/logic/program_options.h"

namespace kfw {

// The query of the page's address ("?log&simulator&fast"): `log` switches the trace on,
// `simulator` lists the simulated module, `fast` is the fast mode. A name alone, or with the
// value 1, yes, true or on, switches its option on; any other value leaves it off, as do names
// the page does not know.
ProgramOptions ReadPageOptions(const std::string& query);

// What the page says when the browser gave it no MIDI: what happened, which browsers give a page
// MIDI with SysEx and on what terms, and that the simulated module can still be tried. Empty for
// a granted access.
std::string NoMidiNotice(const WebMidiAccess& access);

// What the page says after "MIDI Response timeout": what to check, and what to try when the module
// still does not answer (browsers have garbled SysEx before).
std::string NoAnswerNotice();

// What the page says when an open port has been unplugged.
std::string PortGoneNotice(const std::string& port, bool input);

}  // namespace kfw
