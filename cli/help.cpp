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
// The sample image, where the zip puts it beside the program.
#define KFW_SAMPLE "samples\\demo.kfw"
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
// The sample image, where the package installs it.
#define KFW_SAMPLE "/usr/share/doc/kfwupdate/examples/demo.kfw"
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
  kfwupdate update )" KFW_SAMPLE R"( --in sim --out sim
  kfwupdate inspect firmware.kfw
)";

#undef KFW_TRACE_PLACE
#undef KFW_TRACE_ENVIRONMENT
#undef KFW_TRACE_FILES
#undef KFW_SIMULATE_LINE
#undef KFW_PORT_WORDS
#undef KFW_OTHER_STOPS

const char* const kPortsHelp = R"(Usage: kfwupdate ports [--simulator] [--json]

Lists the MIDI ports as the window's two lists show them, with their positions. --json
writes both lists as one line of JSON, each port with its position and name.

Example:
  kfwupdate ports --simulator
)";

const char* const kCheckHelp =
    R"(Usage: kfwupdate check FILE [--company ID] [--product ID] [--json]

Reads FILE and checks it as the Update command does: format version, CRC-16, records, and
the file's company and product identifiers against those of a module that has answered,
given by --company and --product (by default none has: 0x7F7F and 0x7F). Prints the
result's text; exits with the result's number (0 for "No error"). A file for a module,
checked without its identifiers, is refused as the Update command would refuse it for
another module (16 or 17): the line under the result says which module the file is for and
what to do. --json writes the result, and the error box of a refused file, as lines of
JSON.

Examples:
  kfwupdate check firmware.kfw
  kfwupdate check firmware.kfw --company 0x0021 --product 0x0A
)";

const char* const kConnectHelp =
    R"(Usage: kfwupdate connect --in PORT --out PORT [--fast] [--json]

Opens the ports, reaches the module (resets until it answers, up to about 30 s) and prints
its serial number, firmware version and product name, with every control byte written as
\xHH and a backslash as \\. --json writes the progress, the module (its texts and numbers)
and the result as lines of JSON instead.

--fast takes each answer as soon as it has arrived, and each message as sent as soon as the
port reports it gone, instead of at the next tenth of a second; the messages stay the same,
and the module is given at least as long to answer (at most a fifth of a second more).

Example:
  kfwupdate connect --in "QX-412 MIDI 1" --out "QX-412 MIDI 1"
  kfwupdate connect --in sim --out sim
)";

const char* const kUpdateHelp =
    R"(Usage: kfwupdate update FILE --in PORT --out PORT [-y | --yes | -n | --no] [--fast] [--json]

What the window's Connect and then Update do: opens the ports, reaches the module, checks
FILE against the module that answered, then writes it: delays, resets, the preparation of
the firmware area and the image in acknowledged blocks; finally reads the status again and
starts the new firmware. Prints "Firmware was successfully updated." and the module's new
serial number and version.

When the module already holds this very version, verified good, the update asks whether to
write it anyway (default No). --yes (-y) and --no (-n) answer for scripts; without a
terminal to ask and without either, the answer is No.

--json writes every step as a line of JSON on standard output instead: each progress
caption and percentage, the module before and after, each box, the question with its
answer, and the result with its exit status. It never asks at the terminal: the answer
is --yes, --no or No.

--fast takes each answer as soon as it has arrived, and each message as sent as soon as the
port reports it gone, instead of at the next tenth of a second: over a MIDI cable an update
then takes about half as long, over USB a small part. The messages, their order and the
pauses the image asks for stay the same, and the module is given at least as long to answer
(at most a fifth of a second more).

Examples:
  kfwupdate update firmware.kfw --in 1 --out 1
  kfwupdate update firmware.kfw --in 1 --out 1 --fast
  kfwupdate update )" KFW_SAMPLE R"( --in sim --out sim -y -log
)";

#undef KFW_SAMPLE

const char* const kPackHelp = R"(Usage: kfwupdate pack OUTPUT [--company ID --product ID] RECORD...

Builds an image file. With --company and --product the file is of version 1, for that module
family; without them, of version 0, for any module. Records, played in order:
  image:MAJOR.MINOR:FILE   the firmware in FILE (at most 65535 bytes, each 00 to 7F)
  delay:TICKS              a pause of TICKS tenths of a second (0 to 255)
  reset:ARG                a reset command with argument ARG (0 to 3), then a 1 s pause
  noop                     nothing
  end                      the end record (added when missing); only raw: may follow it
  raw:HEX                  bytes as they are, for example after the end record
A file without an image record gets a byte 00 after its end record unless raw: puts one
there. pack writes only files that `kfwupdate check` accepts with the same --company and
--product, and refuses records (raw: bytes before the end record) that would not make one.

Example:
  kfwupdate pack firmware.kfw --company 0x0021 --product 0x0A delay:20 image:1.3:firmware.bin end
)";

int UsageError(const char* command, const std::string& problem) {
  std::fprintf(stderr, "kfwupdate %s: %s\nRun `kfwupdate %s --help` for the options.\n", command,
               problem.c_str(), command);
  return kExitUsage;
}

}  // namespace kfw::cli
