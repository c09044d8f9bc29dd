// Whole updates on the simulated module, in both modes, beside what the link itself allows.
//
// In virtual time, for each case: the update's duration in the module's time in the normal and the
// fast mode, and the link's limit: every byte on the wire in both directions at 10 bits a byte,
// plus the module's own work (the erase of each image record and the programming of each block).
// The ratio says how far the procedures' waiting keeps an update above that limit.
//
// Then the 128 KiB update in real time over real transports (a private JACK server, a
// pseudo-terminal), with the module in a process of its own pacing the link at 31250 baud, beside
// the virtual-time figure of the same case and mode. `--virtual` leaves the real-time runs out.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/waiting.h"
#include "bench/real_transports.h"
#include "engine/update.h"
#include "image/image_writer.h"
#include "midi/device.h"
#include "midi/port_layer.h"
#include "midi/ports.h"
#include "protocol/device_status.h"
#include "sim/link.h"
#include "sim/module.h"
#include "sim/timeline.h"

namespace kfw {
namespace {

struct BenchCase {
  const char* name;
  uint32_t imageBytes;
  uint16_t blockSize;
  LinkSettings link;
  uint32_t limitBaud;  // the rate the wire part of the limit is counted at; 0: no wire time
};

// An image record holds at most 65535 bytes; records are cut on block boundaries so every record
// but the last fills its blocks.
std::vector<uint8_t> ImageFile(uint32_t imageBytes, uint32_t blockSize, uint32_t& records) {
  const uint32_t perRecord = 0xFFFF / blockSize * blockSize;
  ImageWriter writer =
      ImageWriter::Version1(ModuleIdentity{}.companyId, ModuleIdentity{}.productId);
  records = 0;
  for (uint32_t offset = 0; offset < imageBytes; offset += perRecord) {
    const uint32_t length = std::min(perRecord, imageBytes - offset);
    std::vector<uint8_t> data(length);
    // SysEx carries only 7-bit data.
    for (uint32_t i = 0; i < length; ++i) data[i] = static_cast<uint8_t>((offset + i) * 13 & 0x7F);
    writer.Image(2, 0, data);
    ++records;
  }
  return writer.End().Bytes();
}

// The normal mode's duration as its tick rules give it, worked out from the commands the module
// acted on rather than simulated: a send costs 100 ms for every repeat of the unprepare call (the
// first repeat at once, one more every 100 ms while the message is still on the wire, each
// followed by a 100 ms sleep), and an awaited reply costs whole ticks from the send's end until it
// has arrived (its command's wire time, the module's work, the reply's wire time). Every command
// but the last (the final reset) is awaited here: the images have no delay or reset records.
double TickModelSeconds(const std::vector<ModuleEvent>& events, const LinkSettings& link,
                        const ModuleTiming& timing, size_t nameLength) {
  constexpr uint64_t kTick = 100'000;  // microseconds
  const uint64_t byteMicros = link.baud ? 10'000'000 / link.baud : 0;
  const auto ticksFor = [](uint64_t micros) { return (micros + kTick - 1) / kTick; };
  uint64_t total = 0;
  for (size_t i = 0; i < events.size(); ++i) {
    const ModuleEvent& event = events[i];
    // Header, code, arguments, F7; the replies likewise, the status reply with the product name.
    const uint64_t sent = event.command == 0x15 ? 14 + event.blockLength
                          : event.command == 0x11 ? 8
                                                  : 9;
    const uint64_t reply = event.command == 0x11 ? 6 + kStatusFixedLength + nameLength + 1
                           : event.command == 0x10 ? 8
                                                   : 9;
    const uint64_t work = event.command == 0x13                            ? timing.eraseMicros
                          : event.command == 0x15 && event.blockLength != 0 ? timing.programBlockMicros
                                                                           : timing.answerMicros;
    const uint64_t wire = sent * byteMicros;
    const uint64_t sendCost = wire ? kTick * (1 + ticksFor(wire)) : 0;
    const uint64_t arrival = wire + work + reply * byteMicros;
    const bool awaited = i + 1 < events.size();
    total += sendCost + (awaited && arrival > sendCost ? kTick * ticksFor(arrival - sendCost) : 0);
  }
  return total / 1e6;
}

struct Figures {
  bool ok = false;
  std::string failure;
  uint32_t records = 0;
  uint32_t dataBlocks = 0;
  uint32_t messages = 0;  // commands the module acted on
  uint64_t wireBytes = 0;
  double simulatedSeconds = 0;
  double realSeconds = 0;
  double limitSeconds = 0;
  double tickModelSeconds = 0;
};

Figures Run(const BenchCase& c, bool fast) {
  Figures figures;
  ModuleIdentity identity;
  identity.blockSize = c.blockSize;
  const ModuleTiming timing;
  VirtualTime time;
  SimulatedModule module(identity, {}, timing);
  auto layer = std::make_unique<PortsDeviceLayer>();
  auto ownedBackend = std::make_unique<SimulatedPortBackend>(module, time, c.link);
  SimulatedPortBackend& backend = *ownedBackend;
  layer->AddBackend(std::move(ownedBackend));
  InstallClock(&time);
  InstallMidiDeviceLayer(layer.get());
  fastMode = fast;  // before the ports open

  if (!OpenPorts(0, 0)) {
    figures.failure = "the simulated ports did not open";
  } else {
    const std::vector<uint8_t> file = ImageFile(c.imageBytes, c.blockSize, figures.records);
    DeviceInfo device;
    const uint64_t bytesBefore = backend.BytesToModule() + backend.BytesToHost();
    const uint64_t virtualBefore = time.NowMicroseconds();
    const auto realBefore = std::chrono::steady_clock::now();
    const ResultCode result = RunUpdate(file.data(), static_cast<uint32_t>(file.size()), device);
    const auto realAfter = std::chrono::steady_clock::now();
    figures.simulatedSeconds = (time.NowMicroseconds() - virtualBefore) / 1e6;
    figures.realSeconds = std::chrono::duration<double>(realAfter - realBefore).count();
    // The answer to the final reset is still on its way when the fast run returns; it counts in
    // the wire bytes of both modes alike.
    time.RunUntil(time.NowMicroseconds() + 1'000'000);
    figures.wireBytes = backend.BytesToModule() + backend.BytesToHost() - bytesBefore;

    uint32_t erases = 0;
    for (const ModuleEvent& event : module.Events()) {
      if (event.command == 0x13) ++erases;
      if (event.command == 0x15 && event.blockLength != 0) ++figures.dataBlocks;
    }
    figures.messages = static_cast<uint32_t>(module.Events().size());
    figures.tickModelSeconds =
        TickModelSeconds(module.Events(), c.link, timing, identity.productName.size());
    const double wireSeconds = c.limitBaud ? figures.wireBytes * 10.0 / c.limitBaud : 0.0;
    figures.limitSeconds =
        wireSeconds +
        (erases * timing.eraseMicros + figures.dataBlocks * timing.programBlockMicros) / 1e6;

    uint64_t programmed = 0;
    for (const auto& image : module.ProgrammedImages()) programmed += image.size();
    if (result != kOk) {
      figures.failure = std::string("the update failed: ") + ResultText(result);
    } else if (programmed != c.imageBytes) {
      figures.failure = "the module holds " + std::to_string(programmed) + " bytes, not " +
                        std::to_string(c.imageBytes);
    } else {
      figures.ok = true;
    }
    ClosePorts();
  }
  fastMode = false;
  InstallMidiDeviceLayer(nullptr);
  InstallClock(nullptr);
  return figures;
}

}  // namespace
}  // namespace kfw

int main(int argc, char** argv) {
  using kfw::BenchCase;
  const bool virtualOnly = argc > 1 && std::strcmp(argv[1], "--virtual") == 0;
  const uint16_t blockSize = kfw::ModuleIdentity{}.blockSize;
  // The last case's 3-byte blocks put 20000 blocks in one image record: the 14-bit block number
  // wraps on the wire after block 16383.
  const BenchCase cases[] = {
      {"128 KiB, 31250 baud", 128 * 1024, blockSize, {.baud = 31250}, 31250},
      {"128 KiB, unlimited (USB)", 128 * 1024, blockSize, {.baud = 0}, 0},
      {"4 KiB, 31250 baud", 4 * 1024, blockSize, {.baud = 31250}, 31250},
      {"60000 B in 3 B blocks, 31250", 60000, 3, {.baud = 31250}, 31250},
  };
  const kfw::ModuleTiming timing;
  std::printf(
      "Whole updates on the simulated QX-412: blocks of %u bytes (unless said), erase %.0f ms per "
      "image record, programming %.0f ms per block.\n",
      static_cast<unsigned>(blockSize), timing.eraseMicros / 1e3, timing.programBlockMicros / 1e3);
  std::printf(
      "Link limit = wire bytes (both directions) x 10 bits / baud + erase + programming.\n\n");
  std::printf("Virtual time, the module behind the simulated link:\n");
  std::printf("%-29s %7s %6s %10s %10s | %10s %6s %8s %6s | %10s %6s | %8s | %9s\n", "case",
              "image", "blocks", "wire bytes", "limit (s)", "normal (s)", "ratio", "model (s)",
              "n/m", "fast (s)", "ratio", "speed-up", "real (ms)");
  int status = 0;
  kfw::Figures reference[2];  // the 128 KiB case at 31250 baud, for the real-time runs
  for (const BenchCase& c : cases) {
    const kfw::Figures normal = kfw::Run(c, false);
    const kfw::Figures fast = kfw::Run(c, true);
    if (&c == &cases[0]) {
      reference[0] = normal;
      reference[1] = fast;
    }
    if (!normal.ok || !fast.ok) {
      std::printf("%-29s FAILED: %s\n", c.name, (!normal.ok ? normal : fast).failure.c_str());
      status = 1;
      continue;
    }
    if (normal.wireBytes != fast.wireBytes || normal.messages != fast.messages) {
      std::printf("%-29s FAILED: the modes sent different messages\n", c.name);
      status = 1;
      continue;
    }
    std::printf(
        "%-29s %7u %6u %10llu %10.2f | %10.2f %6.2f %8.2f %6.3f | %10.2f %6.2f | %7.2fx | %4.0f "
        "%4.0f\n",
        c.name, c.imageBytes, normal.dataBlocks, static_cast<unsigned long long>(normal.wireBytes),
        normal.limitSeconds, normal.simulatedSeconds, normal.simulatedSeconds / normal.limitSeconds,
        normal.tickModelSeconds, normal.simulatedSeconds / normal.tickModelSeconds,
        fast.simulatedSeconds, fast.simulatedSeconds / fast.limitSeconds,
        normal.simulatedSeconds / fast.simulatedSeconds, normal.realSeconds * 1e3,
        fast.realSeconds * 1e3);
  }
  std::printf(
      "\nnormal, fast: the update's duration in the module's time (Connect to the final reset) in "
      "each mode; ratio = duration / limit; model: the normal mode's duration as the tick rules "
      "give it, worked out from the commands sent (n/m = normal / model); speed-up = normal / fast; "
      "real: wall-clock time each simulation took (normal, fast).\n");
  if (virtualOnly || status != 0) return status;

  std::printf(
      "\nReal time, the module in a process of its own (kfwupdate simulate --baud 31250), 128 KiB "
      "as above:\n");
  std::printf("%-16s %-6s | %9s %12s %6s | %9s %6s | %11s %9s | %8s\n", "transport", "mode",
              "real (s)", "virtual (s)", "ratio", "limit (s)", "ratio", "waiting (s)", "rest (s)",
              "speed-up");
  uint32_t records = 0;
  const std::vector<uint8_t> file = kfw::ImageFile(128 * 1024, blockSize, records);
  const std::vector<kfw::bench::RealRun> runs =
      kfw::bench::RunOverRealTransports(KFW_PROGRAM_PATH, file, 31250);
  std::vector<std::string> details;
  for (size_t i = 0; i < runs.size(); ++i) {
    const kfw::bench::RealRun& run = runs[i];
    const char* mode = run.fast ? "fast" : "normal";
    if (!run.ran) {
      // A run that got as far as the update has its time; one that did not never started.
      std::printf("%-16s %-6s | %s: %s\n", run.transport.c_str(), mode,
                  run.seconds > 0 ? "failed" : "skipped", run.why.c_str());
      continue;
    }
    const kfw::Figures& virtualRun = reference[run.fast];
    const double perMessage = (run.seconds - virtualRun.simulatedSeconds) / virtualRun.messages;
    std::printf("%-16s %-6s | %9.2f %12.2f %6.2f | %9.2f %6.2f | %11.2f %9.2f |",
                run.transport.c_str(), mode, run.seconds, virtualRun.simulatedSeconds,
                run.seconds / virtualRun.simulatedSeconds, virtualRun.limitSeconds,
                run.seconds / virtualRun.limitSeconds, run.waitSeconds,
                run.seconds - run.waitSeconds);
    const bool pair = run.fast && i > 0 && runs[i - 1].ran && !runs[i - 1].fast &&
                      runs[i - 1].transport == run.transport;
    if (pair) {
      std::printf(" %7.2fx", runs[i - 1].seconds / run.seconds);
    }
    std::printf("\n");
    char line[512];
    std::snprintf(
        line, sizeof line, "  %s, %s: %+.2f ms a message beside virtual time (%u messages); %s",
        run.transport.c_str(), mode, perMessage * 1e3, virtualRun.messages, run.detail.c_str());
    details.emplace_back(line);
  }
  std::printf(
      "\nratio = real / virtual of the same case and mode, then real / limit; waiting: time the "
      "procedures spent in the clock's waits (sends, replies, pauses); rest: sending, receiving "
      "and the work around them. Where the difference from virtual time goes:\n");
  for (const std::string& line : details) std::printf("%s\n", line.c_str());
  return status;
}
