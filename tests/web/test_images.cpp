// Writes the image files the page's tests and benchmark pick, with the product's own writer, for
// the simulated QX-412 (company 0x0021, product 0x0A, version 1.2 verified good):
//   update-4k.kfw     4 KiB of firmware, version 2.0: the benchmark's 4 KiB case
//   same-version.kfw  1 KiB, version 1.2: the module's own, so the page asks before the erase
//   bad-crc.kfw       update-4k.kfw with one byte changed after its CRC
//   kfw_web_test_images FOLDER     (run under Node; the folder is the machine's, not Node's)
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "image/image_writer.h"
#include "sim/module.h"

namespace {

bool Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) std::fprintf(stderr, "cannot write %s\n", path.c_str());
  return static_cast<bool>(out);
}

// As the benchmark's: 7-bit data, (offset * 13) & 0x7F.
std::vector<uint8_t> Firmware(size_t size) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 13 & 0x7F);
  return data;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kfw_web_test_images FOLDER\n");
    return 64;
  }
  const std::string folder = argv[1];
  const kfw::ModuleIdentity module;
  const std::vector<uint8_t> update = kfw::ImageWriter::Version1(module.companyId, module.productId)
                                          .Image(2, 0, Firmware(4096))
                                          .End()
                                          .Bytes();
  const std::vector<uint8_t> same =
      kfw::ImageWriter::Version1(module.companyId, module.productId)
          .Image(module.versionMajor, module.versionMinor, Firmware(1024))
          .End()
          .Bytes();
  std::vector<uint8_t> bad = update;
  bad[bad.size() / 2] ^= 0x01;
  const bool ok = Write(folder + "/update-4k.kfw", update) &&
                  Write(folder + "/same-version.kfw", same) && Write(folder + "/bad-crc.kfw", bad);
  return ok ? 0 : 1;
}
