// Whole updates on the simulated module in virtual time, beside what the link itself allows.
//
// For each case it prints the update's duration in the module's (virtual) time and the real time
// the run took, and the link's limit: every byte on the wire in both directions at 10 bits a byte,
// plus the module's own work (the erase of each image record and the programming of each block).
// The ratio says how far the procedures' waiting keeps an update above that limit.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/update.h"
#include "image/image_writer.h"
#include "base/waiting.h"
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

struct Figures {
  bool ok = false;
  std::string failure;
  uint32_t records = 0;
  uint32_t dataBlocks = 0;
  uint64_t wireBytes = 0;
  double simulatedSeconds = 0;
  double realSeconds = 0;
  double limitSeconds = 0;
};

Figures Run(const BenchCase& c) {
  Figures figures;
  const ModuleIdentity identity;
  const ModuleTiming timing;
  VirtualTime time;
  SimulatedModule module(identity, {}, timing);
  auto layer = std::make_unique<PortsDeviceLayer>();
  auto ownedBackend = std::make_unique<SimulatedPortBackend>(module, time, c.link);
  SimulatedPortBackend& backend = *ownedBackend;
  layer->AddBackend(std::move(ownedBackend));
  InstallClock(&time);
  InstallMidiDeviceLayer(layer.get());

  if (!OpenPorts(0, 0)) {
    figures.failure = "the simulated ports did not open";
  } else {
    const std::vector<uint8_t> file = ImageFile(c.imageBytes, identity.blockSize, figures.records);
    DeviceInfo device;
    const uint64_t bytesBefore = backend.BytesToModule() + backend.BytesToHost();
    const uint64_t virtualBefore = time.NowMicroseconds();
    const auto realBefore = std::chrono::steady_clock::now();
    const ResultCode result = RunUpdate(file.data(), static_cast<uint32_t>(file.size()), device);
    const auto realAfter = std::chrono::steady_clock::now();
    figures.simulatedSeconds = (time.NowMicroseconds() - virtualBefore) / 1e6;
    figures.realSeconds = std::chrono::duration<double>(realAfter - realBefore).count();
    figures.wireBytes = backend.BytesToModule() + backend.BytesToHost() - bytesBefore;

    uint32_t erases = 0;
    for (const ModuleEvent& event : module.Events()) {
      if (event.command == 0x13) ++erases;
      if (event.command == 0x15 && event.blockLength != 0) ++figures.dataBlocks;
    }
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
  InstallMidiDeviceLayer(nullptr);
  InstallClock(nullptr);
  return figures;
}

}  // namespace
}  // namespace kfw

int main() {
  using kfw::BenchCase;
  const BenchCase cases[] = {
      {"128 KiB, 31250 baud", 128 * 1024, {.baud = 31250}, 31250},
      {"128 KiB, unlimited (USB)", 128 * 1024, {.baud = 0}, 0},
      {"4 KiB, 31250 baud", 4 * 1024, {.baud = 31250}, 31250},
  };
  const kfw::ModuleTiming timing;
  std::printf(
      "Whole updates on the simulated QX-412: blocks of %u bytes, erase %.0f ms per image "
      "record, programming %.0f ms per block.\n",
      static_cast<unsigned>(kfw::ModuleIdentity{}.blockSize), timing.eraseMicros / 1e3,
      timing.programBlockMicros / 1e3);
  std::printf(
      "Link limit = wire bytes (both directions) x 10 bits / baud + erase + programming.\n\n");
  std::printf("%-26s %8s %7s %6s %10s %13s %10s %12s %7s\n", "case", "image", "records", "blocks",
              "wire bytes", "simulated (s)", "real (ms)", "limit (s)", "ratio");
  int status = 0;
  for (const BenchCase& c : cases) {
    const kfw::Figures f = kfw::Run(c);
    if (!f.ok) {
      std::printf("%-26s FAILED: %s\n", c.name, f.failure.c_str());
      status = 1;
      continue;
    }
    std::printf("%-26s %8u %7u %6u %10llu %13.2f %10.2f %12.2f %7.2f\n", c.name, c.imageBytes,
                f.records, f.dataBlocks, static_cast<unsigned long long>(f.wireBytes),
                f.simulatedSeconds, f.realSeconds * 1e3, f.limitSeconds,
                f.simulatedSeconds / f.limitSeconds);
  }
  std::printf(
      "\nsimulated: the update's duration in the module's time (Connect to the final reset); "
      "real: wall-clock time the simulation took; ratio = simulated / limit.\n");
  return status;
}
