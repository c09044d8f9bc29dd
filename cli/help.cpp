// The program's help, and the usage error every command ends a mistake with. Each command's own
// help sits beside the command; the manual page is made from them all.
#include <cstdio>

#include "cli/commands.h"
#include "cli/exit_status.h"

namespace kfw::cli {

// What differs by platform. Where -log writes is TraceFilePath's choice (base/report.cpp): Windows
// keeps the trace at one fixed path and reads no environment variable for it. Windows has no raw
// MIDI devices nor pseudo-terminals (`simulate` needs Linux), nor SIGTERM and SIGHUP; its console
// sends Ctrl-Break and the closing of its window instead.
#ifdef _WIN32
#define KFW_TRACE_PLACE "                       c:\\trace.txt\n"
#define KFW_TRACE_ENVIRONMENT ""
#define KFW_TRACE_FILES "  c:\\trace.txt         the trace, with -log\n"
#define KFW_SIMULATE_LINE \
  "  simulate   run the simulated module as the far end of MIDI ports (Linux only)\n"
#define KFW_PORT_WORDS                                                                           \
  "PORT, wherever a command takes one: the port's position as `kfwupdate ports` shows it, its\n" \
  "name or a unique part of it (case does not matter), or `sim` for the built-in simulated\n"    \
  "module.\n"
#define KFW_OTHER_STOPS                                                                       \
  "Ctrl-Break and closing the console\nwindow do the same. A second one quits at once, with " \
  "status 130.\n"
#else
#define KFW_TRACE_PLACE \
  "                       $KFW_TRACE_FILE, else kfwupdate-trace.txt in the current directory\n"
#define KFW_TRACE_ENVIRONMENT \
  "  KFW_TRACE_FILE       where -log writes the trace, unless --trace-file says otherwise\n"
#define KFW_TRACE_FILES                                                                         \
  "  kfwupdate-trace.txt  the trace, with -log, when neither --trace-file nor KFW_TRACE_FILE\n" \
  "                       names another file\n"
#define KFW_SIMULATE_LINE "  simulate   run the simulated module as the far end of MIDI ports\n"
#define KFW_PORT_WORDS                                                                            \
  "PORT, wherever a command takes one: the port's position as `kfwupdate ports` shows it, its\n"  \
  "name or a unique part of it (case does not matter), a raw MIDI device or terminal path (one\n" \
  "path serves both directions), or `sim` for the built-in simulated module.\n"
#define KFW_OTHER_STOPS \
  "SIGTERM and SIGHUP do the same. A second one\nquits at once, with status 130.\n"
#endif

const char* const kProgramHelp =
    R"(kfwupdate: replaces the firmware of a Korvex QX-412 MIDI module over MIDI.

Usage: kfwupdate COMMAND [OPTIONS]

Commands:
  ports      list the MIDI ports ("Receive from" and "Transmit to")
  check      check an image file (.kfw) as the Update command does
  inspect    show an image file's header and records, and where a bad one goes wrong
  connect    reach the module and show its serial number, version and product
  update     connect, check the image against the module, and write it to the module
)" KFW_SIMULATE_LINE R"(  pack       build an image file from records

Run `kfwupdate COMMAND --help` for a command's options and examples.

)" KFW_PORT_WORDS R"(
In connect and update, Ctrl-C cancels the running step as the progress window's Cancel
button does, and with it the rest of the command; in ports, check and inspect it stops the
command where it is. Either way the command ends with status 5, "Operation canceled", and
with --json with its result line. )" KFW_OTHER_STOPS R"(
Options:
Every command takes:
  -log, --log          write a trace of every message sent and received; the trace goes to
)" KFW_TRACE_PLACE R"(  --trace-file FILE    write the trace to FILE instead
  -h, --help           show the command's help
ports, connect and update also take:
  --simulator          list the built-in simulated module among the ports (as does the
                       environment variable KFW_SIMULATOR=1)
update also takes:
  -y, --yes            answer Yes to the question whether to write the very version the
                       module holds
  -n, --no             answer No to it (the answer without a terminal to ask)
ports, check, inspect, connect and update also take:
  --json               write what happens as JSON, one object a line, on standard output:
                       progress, the module, each box, the question and its answer, and
                       the result; standard error stays quiet (see the README for the
                       fields)
Without a command:
  -h, --help           show this help
  --version            show the version and the MIDI backends built in

Exit status:
  0        success
  1        a fatal failure of the MIDI service
  2 to 17  the number of the failing result (for example 7 "MIDI Response timeout",
           5 "Operation canceled")
  64       a command line that cannot be read
  65       pack: data that cannot travel in SysEx, or records that do not make a valid file
  66       a file that cannot be read
  69       no such port, or the ports cannot be opened
  73       a file that cannot be written
  74       the work was done, but its report could not be written to standard output (only
           in place of 0: a failure keeps its own status)
  130      a second Ctrl-C

Environment:
  KFW_SIMULATOR        1 (or yes, true) lists the simulated module, as --simulator does
)" KFW_TRACE_ENVIRONMENT R"(
Files:
)" KFW_TRACE_FILES R"(
Examples:
  kfwupdate update )" KFW_SAMPLE_IMAGE R"( --in sim --out sim
  kfwupdate inspect firmware.kfw
)";

#undef KFW_TRACE_PLACE
#undef KFW_TRACE_ENVIRONMENT
#undef KFW_TRACE_FILES
#undef KFW_SIMULATE_LINE
#undef KFW_PORT_WORDS
#undef KFW_OTHER_STOPS

int UsageError(const char* command, const std::string& problem) {
  std::fprintf(stderr, "kfwupdate %s: %s\nRun `kfwupdate %s --help` for the options.\n", command,
               problem.c_str(), command);
  return kExitUsage;
}

}  // namespace kfw::cli
