// The command-line program's exit statuses: a small set, documented in --help and the README.
#pragma once

namespace kfw::cli {

// 0 success; 2 to 17 the number of the failing result code (a procedure or the image check);
// 1 a fatal failure of the MIDI service (ended by the core). The rest follow sysexits.h.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFatalMidi = 1;
inline constexpr int kExitUsage = 64;        // bad command line
inline constexpr int kExitBadData = 65;      // pack: data not for SysEx, records not a valid file
inline constexpr int kExitNoInput = 66;      // a file that cannot be read
inline constexpr int kExitUnavailable = 69;  // no such port, or the ports cannot be opened
inline constexpr int kExitCannotCreate = 73; // pack / simulate: an output file cannot be written
// The command succeeded, but its report on standard output could not be written (a closed pipe, a
// full disk). Only success turns into this: a failure keeps its own status.
inline constexpr int kExitReportLost = 74;
inline constexpr int kExitInterrupted = 130; // a second Ctrl-C

}  // namespace kfw::cli
