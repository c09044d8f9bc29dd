// Fuzzes the image check: the input as a file, then the same file with its CRC made right so the
// fuzzer gets past the checksum into the record walk. The identifiers last received come from the
// input too: the file's own, "any module", or three bytes of the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/process_state.h"
#include "image/image_file.h"
#include "image/image_inspect.h"
#include "image/image_writer.h"

namespace {

// `inspect`'s walk with nothing written out: only its judgement is looked at here.
class IgnoringSink final : public kfw::InspectionSink {
 public:
  void HeaderRead(const kfw::ImageInspection&) override {}
  bool RecordWalked(uint32_t, const kfw::ImageRecord&) override { return true; }
};

// Checks a copy in a block of exactly the file's size, so a read past its end is caught.
kfw::ResultCode Check(const std::vector<uint8_t>& file) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[file.empty() ? 1 : file.size()]);
  if (!file.empty()) std::memcpy(exact.get(), file.data(), file.size());
  const kfw::ResultCode first = kfw::ValidateImage(exact.get(), static_cast<uint32_t>(file.size()));
  // The check has no state: asking twice gives the same answer.
  if (kfw::ValidateImage(exact.get(), static_cast<uint32_t>(file.size())) != first) std::abort();
  if (first >= kfw::kResultCodeCount) std::abort();
  // `inspect` walks the same records and must come to the same judgement.
  IgnoringSink sink;
  if (kfw::InspectImage(exact.get(), static_cast<uint32_t>(file.size()), sink).result != first) {
    std::abort();
  }
  return first;
}

void ReceiveIdentifiers(const uint8_t* data, size_t size) {
  const uint8_t selector = size ? data[size - 1] : 0;
  switch (selector % 3) {
    case 0:  // nobody has answered yet
      break;
    case 1:  // the module the file is for
      if (size >= 6 && data[0] == 1) {
        kfw::receivedCompanyId = static_cast<uint16_t>(data[3] << 8 | data[4]);
        kfw::receivedProductId = data[5];
      }
      break;
    default:  // some other module
      if (size >= 4) {
        kfw::receivedCompanyId = static_cast<uint16_t>(data[size - 4] << 8 | data[size - 3]);
        kfw::receivedProductId = data[size - 2];
      }
      break;
  }
}

// True when every image record of a file the check passed carries only data SysEx can carry. The
// check has already walked the records, so they lie within the file and end with an end record.
bool ImageDataTravels(const std::vector<uint8_t>& file) {
  size_t pos = kfw::RecordStreamOffset(file[0]);
  while (pos < file.size() && file[pos] != kfw::kRecordEnd) {
    const uint8_t type = file[pos++];
    if (type == kfw::kRecordDelay || type == kfw::kRecordReset) ++pos;
    if (type != kfw::kRecordImage) continue;
    const size_t dataLength = static_cast<size_t>(file[pos] | (file[pos + 1] << 8));
    pos += 4;
    for (size_t end = pos + dataLength; pos < end; ++pos) {
      if (file[pos] > 0x7F) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  kfw::ResetProcessState();
  ReceiveIdentifiers(data, size);

  std::vector<uint8_t> file(data, data + size);
  Check(file);

  kfw::FixImageCrc(file);
  const kfw::ResultCode fixed = Check(file);
  // With its CRC made right, a file whose header the check can read is never a CRC error.
  const bool headerReadable = size >= 4 && file[0] <= 1 && (file[0] == 0 || size >= 6);
  if (headerReadable && fixed == kfw::kImageCrcError) std::abort();
  // A file that passes is one the record walk accepted: it has a version the program knows.
  if (fixed == kfw::kOk && (size < 4 || file[0] > 1)) std::abort();
  // ...and one whose image data can all be sent.
  if (fixed == kfw::kOk && !ImageDataTravels(file)) std::abort();
  return 0;
}
