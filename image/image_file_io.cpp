#include "image/image_file_io.h"

#include <limits>
#include <new>

#include "base/files.h"

namespace kfw {

namespace {

std::string CannotOpen(const std::string& name) {
  return "Can't open file " + name + " for reading";
}

std::string CannotAllocate(unsigned long long size) {
  return "Can't allocate " + std::to_string(size) + " bytes!";
}

}  // namespace

bool ReadImageFile(const std::string& name, std::vector<uint8_t>& bytes, std::string& message) {
  bytes.clear();
  // Only a regular file: a FIFO would wait for a writer, a device would read without end.
  RegularFile file = OpenForReading(name);
  if (!file.IsOpen()) {
    message = CannotOpen(name);
    return false;
  }
  const uint64_t size = file.Size();
  // Image lengths are signed 32-bit: a larger file is refused rather than read in part.
  if (size > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
    message = CannotAllocate(size);
    return false;
  }
  try {
    bytes.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    message = CannotAllocate(size);
    return false;
  }
  // A short read would leave the end of the buffer unread: the check would then judge bytes that
  // are not the file's.
  if (!file.ReadExactly(bytes.data(), bytes.size())) {
    bytes.clear();
    message = CannotOpen(name);
    return false;
  }
  return true;
}

}  // namespace kfw
