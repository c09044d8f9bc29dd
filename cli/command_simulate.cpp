#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <type_traits>

#include "base/files.h"
#include "cli/commands.h"
#include "cli/common.h"
#include "cli/exit_status.h"
#include "cli/terminal.h"
#include "midi/reception.h"
#include "protocol/device_status.h"
#include "sim/peer.h"

namespace kfw::cli {

const char* const kSimulateHelp = R"(Usage: kfwupdate simulate [--in PORT --out PORT] [OPTIONS]

Runs the simulated QX-412 as the far end of MIDI ports, so another kfwupdate (or any updater)
can connect to it and update it, until Ctrl-C or SIGTERM. When it is ready it prints one line
on standard output naming the ports to choose:
  kfwsim ready: transmit to "...", receive from "..."

PORT (the module reads from --in and answers on --out):
  pty               a new pseudo-terminal (the default); its path is printed when ready
  jack[:NAME]       a new JACK port of a client NAME (default "kfwsim in" / "kfwsim out")
  alsa[:NAME]       a new ALSA sequencer port, likewise
  PATH              an existing raw MIDI device or serial line; --in and --out the same path

The module's identity:
  --company ID --product ID   identifiers, each byte at most 0x7F (default 0x0021 and 0x0A)
  --serial HEX                six bytes as twelve hex digits (default 4b5804120001)
  --name TEXT                 product name, at most 29 ASCII characters (default QX-412)
  --version M.N               firmware version (default 1.2)
  --state N                   0: its firmware is verified good (default)
  --block-size N              largest block it takes (default 256)
  --version-after-update M.N  version reported after an update whose data do not name one
  --erase-ms MS --block-ms MS time to erase, and to program a block (default 200 and 5)
  --baud N                    acts on each message when its last byte would have arrived over
                              a MIDI cable of N baud (31250 for MIDI, 10 bits a byte), and
                              answers likewise; 0, the default, as soon as the bytes come

Faults on demand:
  --silent                    answers nothing
  --ignore-status             answers everything but the status request
  --ignore-resets N           leaves the first N resets unanswered
  --reply-delay MS            every reply this much later
  --duplicate-replies         every reply twice
  --unrelated-before-prepare  a reset answer and a status reply before the erase answer
  --unrelated-before-block N  the same before the answer to block N
  --erase-result N            the erase answer's result (1: erase failure)
  --reject-block N            refuses block N...
  --reject-status S           ...with device status S (default 5, programming fault)
  --status-byte-at N          a 0x90 after N bytes of the status reply's body
  --second-f0-at N            an F0 after N bytes of the status reply's body
  --padding N                 N extra bytes in every reply
  --noise                     clock, active sensing and foreign SysEx around the replies

On exit:
  --dump-image FILE           write every image programmed since start, in order, to FILE

Examples:
  kfwupdate simulate --dump-image programmed.bin
  kfwupdate simulate --in jack --out jack --reject-block 3
  kfwupdate simulate --in /dev/ttyUSB0 --out /dev/ttyUSB0
)";

namespace {

// The status reply (its fixed part, the name, F7) reaches the updater's reply ring all at once from
// most drivers, and the ring keeps only its last 49 bytes: a longer name cuts off the reply's
// start, and every connect times out.
constexpr size_t kLongestProductName = (kReplyRingSize - 1) - kStatusFixedLength - 1;

volatile sig_atomic_t stopRequested = 0;
void OnStop(int) {
  stopRequested = 1;
}

// Two options a line, as the help lists them.
// clang-format off
const std::vector<OptionSpec> kSimulateOptions = {
    {"--in", true},          {"--out", true},
    {"--company", true},     {"--product", true},
    {"--serial", true},      {"--name", true},
    {"--version", true},     {"--state", true},
    {"--block-size", true},  {"--version-after-update", true},
    {"--erase-ms", true},    {"--block-ms", true},
    {"--silent", false},     {"--ignore-status", false},
    {"--ignore-resets", true}, {"--reply-delay", true},
    {"--duplicate-replies", false}, {"--unrelated-before-prepare", false},
    {"--unrelated-before-block", true}, {"--erase-result", true},
    {"--reject-block", true}, {"--reject-status", true},
    {"--status-byte-at", true}, {"--second-f0-at", true},
    {"--padding", true},     {"--noise", false},
    {"--dump-image", true},  {"--baud", true},
};
// clang-format on

// Reads the transport from --in and --out; false with the problem in error.
bool ChooseTransport(const Arguments& arguments, PeerOptions& options, std::string& error) {
  const std::string in = arguments.Value("--in").value_or("pty");
  const std::string out = arguments.Value("--out").value_or(in);
  auto kind = [](const std::string& port) { return port.substr(0, port.find(':')); };
  if (kind(in) != kind(out)) {
    error = "--in and --out must be ports of the same kind (both pty, jack, alsa or one path)";
    return false;
  }
  if (in == "pty") {
    options.transport = PeerTransport::kPseudoTerminal;
  } else if (kind(in) == "jack" || kind(in) == "alsa") {
    options.transport = kind(in) == "jack" ? PeerTransport::kJack : PeerTransport::kAlsaSequencer;
    if (in.find(':') != std::string::npos) options.inPort = in.substr(in.find(':') + 1);
    if (out.find(':') != std::string::npos) options.outPort = out.substr(out.find(':') + 1);
  } else if (in.rfind('/', 0) == 0 || in.rfind("./", 0) == 0) {
    if (in != out) {
      error = "a raw device serves both directions: give --in and --out the same path";
      return false;
    }
    options.transport = PeerTransport::kRawDevice;
    options.devicePath = in;
  } else {
    error = "cannot read the port \"" + in + "\"; give pty, jack[:NAME], alsa[:NAME] or a path";
    return false;
  }
  return true;
}

// Reads the identity, timing and faults; false with the problem in error.
bool ChooseModule(const Arguments& arguments, PeerOptions& options, std::string& error) {
  auto number = [&](const char* name, unsigned long maximum, auto& field) {
    auto text = arguments.Value(name);
    if (!text) return true;
    unsigned long value;
    if (!ParseNumber(*text, maximum, value)) {
      error = std::string(name) + " takes a number up to " + std::to_string(maximum) + ", not \"" +
              *text + "\"";
      return false;
    }
    field = static_cast<std::remove_reference_t<decltype(field)>>(value);
    return true;
  };
  ModuleIdentity& identity = options.identity;
  ModuleFaults& faults = options.faults;
  unsigned long eraseMs = options.timing.eraseMicros / 1000;
  unsigned long blockMs = options.timing.programBlockMicros / 1000;
  unsigned long replyDelayMs = 0;
  uint32_t rejectBlock = 0, unrelatedBlock = 0, statusByteAt = 0, secondF0At = 0;
  if (!number("--company", 0xFFFF, identity.companyId) ||
      !number("--product", 0xFF, identity.productId) || !number("--state", 0x7F, identity.state) ||
      !number("--block-size", 16383, identity.blockSize) || !number("--erase-ms", 60000, eraseMs) ||
      !number("--block-ms", 60000, blockMs) ||
      !number("--ignore-resets", 1000000, faults.ignoreFirstResets) ||
      !number("--reply-delay", 60000, replyDelayMs) ||
      !number("--erase-result", 0x7F, faults.eraseResult) ||
      !number("--reject-block", 16383, rejectBlock) ||
      !number("--reject-status", 0x7F, faults.rejectStatus) ||
      !number("--unrelated-before-block", 16383, unrelatedBlock) ||
      !number("--status-byte-at", 10000, statusByteAt) ||
      !number("--second-f0-at", 10000, secondF0At) ||
      !number("--padding", 100000, faults.paddingInReplies) ||
      !number("--baud", 10'000'000, options.baud)) {
    return false;
  }
  // The module sends its identifiers in the header of every reply, as SysEx data bytes: one with
  // its top bit set would break off every reply.
  if ((identity.companyId >> 8) > 0x7F || (identity.companyId & 0xFF) > 0x7F) {
    error =
        "each byte of --company must be at most 0x7F (the module sends it in every reply, "
        "as SysEx data)";
    return false;
  }
  if (identity.productId > 0x7F) {
    error = "--product must be at most 0x7F (the module sends it in every reply, as SysEx data)";
    return false;
  }
  options.timing.eraseMicros = eraseMs * 1000;
  options.timing.programBlockMicros = blockMs * 1000;
  faults.extraReplyDelayMicros = replyDelayMs * 1000;
  if (arguments.Has("--reject-block")) faults.rejectBlock = rejectBlock;
  if (arguments.Has("--unrelated-before-block")) faults.unrelatedBeforeBlock = unrelatedBlock;
  if (arguments.Has("--status-byte-at")) faults.statusByteInStatusReply = statusByteAt;
  if (arguments.Has("--second-f0-at")) faults.secondF0InStatusReply = secondF0At;
  faults.silent = arguments.Has("--silent");
  faults.ignoreStatusRequests = arguments.Has("--ignore-status");
  faults.duplicateReplies = arguments.Has("--duplicate-replies");
  faults.unrelatedBeforePrepareAnswer = arguments.Has("--unrelated-before-prepare");
  faults.noise = arguments.Has("--noise");
  if (auto name = arguments.Value("--name")) {
    if (name->size() > kLongestProductName) {
      error = "--name takes at most " + std::to_string(kLongestProductName) +
              " characters: the status reply must fit the updater's 49-byte reply ring, or "
              "every connect times out";
      return false;
    }
    // Sent in the status reply as SysEx data bytes, as the identifiers are: a byte above 0x7F
    // would be altered or break the reply off ("café" would arrive as "cafC)").
    for (const char c : *name) {
      if (static_cast<unsigned char>(c) > 0x7F) {
        error =
            "each byte of --name must be at most 0x7F (the module sends it in its status reply, "
            "as SysEx data): give the name in ASCII";
        return false;
      }
    }
    identity.productName = *name;
  }
  if (auto version = arguments.Value("--version")) {
    unsigned major, minor;
    if (!ParseVersion(*version, major, minor)) {
      error = "--version takes MAJOR.MINOR, not \"" + *version + "\"";
      return false;
    }
    identity.versionMajor = static_cast<uint8_t>(major);
    identity.versionMinor = static_cast<uint8_t>(minor);
  }
  if (auto serial = arguments.Value("--serial")) {
    if (serial->size() != 12) {
      error = "--serial takes twelve hex digits";
      return false;
    }
    for (size_t i = 0; i < 6; ++i) {
      unsigned long byte;
      if (!ParseNumber("0x" + serial->substr(2 * i, 2), 0x7F, byte)) {
        error = "--serial takes twelve hex digits, each pair at most 7f";
        return false;
      }
      identity.serial[i] = static_cast<uint8_t>(byte);
    }
  }
  return true;
}

}  // namespace

int RunSimulateCommand(const std::vector<std::string>& args) {
  Arguments arguments;
  std::string error;
  if (!arguments.Parse(args, Concat(kSimulateOptions, kTraceOptions), error)) {
    return UsageError("simulate", error);
  }
  if (!arguments.Positional().empty()) return UsageError("simulate", "takes no file");
  PeerOptions options;
  if (!ChooseTransport(arguments, options, error) || !ChooseModule(arguments, options, error)) {
    return UsageError("simulate", error);
  }
  unsigned afterMajor = 0, afterMinor = 0;
  const auto after = arguments.Value("--version-after-update");
  if (after && !ParseVersion(*after, afterMajor, afterMinor)) {
    return UsageError("simulate", "--version-after-update takes MAJOR.MINOR");
  }
  ApplyTraceOptions(arguments);

  // Opened now, not when the session ends: a name that cannot be written (a FIFO, a folder) is
  // told before anyone updates the module, and never waited on.
  RegularFile dumpFile;
  const auto dump = arguments.Value("--dump-image");
  if (dump) {
    dumpFile = OpenForWriting(*dump, WriteMode::kTruncate, Links::kFollow);
    if (!dumpFile.IsOpen()) {
      PrintError("kfwupdate simulate: cannot write " + *dump +
                 "; give a regular file in a folder that exists and is writable");
      return kExitCannotCreate;
    }
  }

  SimulatorPeer peer(options);
  if (after) {
    peer.module().SetVersionAfterUpdate(static_cast<uint8_t>(afterMajor),
                                        static_cast<uint8_t>(afterMinor));
  }
  struct sigaction action {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  if (!peer.Start(error)) {
    PrintError("kfwupdate simulate: " + error);
    return kExitUnavailable;
  }
  std::printf("%s\n", peer.ReadyLine().c_str());
  std::fflush(stdout);
  while (!stopRequested) pause();
  peer.Stop();

  const auto images = peer.module().ProgrammedImages();
  size_t commands = peer.module().Events().size();
  std::fprintf(stderr, "kfwsim: %zu commands received, %zu images programmed\n", commands,
               images.size());
  if (dump) {
    bool written = true;
    for (const auto& image : images)
      written = written && dumpFile.WriteAll(image.data(), image.size());
    if (!dumpFile.Close() || !written) {
      PrintError("kfwupdate simulate: cannot write " + *dump);
      return kExitCannotCreate;
    }
  }
  return kExitOk;
}

}  // namespace kfw::cli
