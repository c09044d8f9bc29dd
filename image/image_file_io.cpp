#include "image/image_file_io.h"

#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <new>

namespace kfw {

namespace {

std::string CannotOpen(const std::string& name) {
  return "Can't open file " + name + " for reading";
}

std::string CannotAllocate(unsigned long long size) {
  return "Can't allocate " + std::to_string(size) + " bytes!";
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

bool ReadImageFile(const std::string& name, std::vector<uint8_t>& bytes, std::string& message) {
  bytes.clear();
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(name.c_str(), "rb"));
  if (!file) {
    message = CannotOpen(name);
    return false;
  }
  // fopen succeeds on a directory on some systems, and its "size" means nothing.
  std::error_code error;
  if (!std::filesystem::is_regular_file(name, error)) {
    message = CannotOpen(name);
    return false;
  }
  const uintmax_t size = std::filesystem::file_size(name, error);
  if (error) {
    message = CannotOpen(name);
    return false;
  }
  // Image lengths are signed 32-bit: a larger file is refused rather than read in part.
  if (size > static_cast<uintmax_t>(std::numeric_limits<int32_t>::max())) {
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
  if (size > 0 && std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
    bytes.clear();
    message = CannotOpen(name);
    return false;
  }
  return true;
}

}  // namespace kfw
