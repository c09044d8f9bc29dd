// The file seam on POSIX systems.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "base/files.h"

namespace kfw {

namespace {

int Descriptor(intptr_t handle) {
  return static_cast<int>(handle);
}

// Checks what was opened (the name may have been swapped for a FIFO between the look and the
// open) and takes the descriptor out of non-blocking mode, which was only there for the open.
bool IsRegularDescriptor(int fd, uint64_t& size) {
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return false;
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return false;
  size = static_cast<uint64_t>(status.st_size);
  return true;
}

bool WriteDescriptor(int fd, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = write(fd, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool WriteAndSync(int fd, std::string_view contents) {
  return WriteDescriptor(fd, contents.data(), contents.size()) && fsync(fd) == 0;
}

std::string FolderOf(const std::string& name) {
  const size_t slash = name.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : name.substr(0, slash);
}

#ifdef O_TMPFILE
// Writes the contents into a file of no name in the file's folder and gives it the temporary
// name only once it is whole and on disk: a process killed while writing leaves nothing. False,
// with nothing left behind, when the file system has no such files or anything fails.
bool LinkAnonymousFile(const std::string& name, const std::string& temporary,
                       std::string_view contents) {
  const int fd = open(FolderOf(name).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool linked = false;
  if (WriteAndSync(fd, contents)) {
    // A temporary left by a save that was killed between the link and the rename.
    unlink(temporary.c_str());
    // Linking through /proc needs no privilege; AT_EMPTY_PATH needs CAP_DAC_READ_SEARCH but no
    // /proc.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    linked = linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
             linkat(fd, "", AT_FDCWD, temporary.c_str(), AT_EMPTY_PATH) == 0;
  }
  close(fd);
  return linked;
}
#endif

// The fallback: the named temporary, made afresh (never through a link planted there).
bool WriteNamedTemporary(const std::string& temporary, std::string_view contents) {
  unlink(temporary.c_str());
  const int fd =
      open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const bool written = WriteAndSync(fd, contents);
  if (close(fd) != 0 || !written) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return ".";
}

}  // namespace

RegularFile::RegularFile(RegularFile&& other) noexcept
    : handle_(other.handle_), size_(other.size_) {
  other.handle_ = kNoHandle;
}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    size_ = other.size_;
    other.handle_ = kNoHandle;
  }
  return *this;
}

RegularFile::~RegularFile() {
  Close();
}

bool RegularFile::ReadExactly(void* data, size_t size) {
  if (!IsOpen()) return false;
  char* bytes = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t got = read(Descriptor(handle_), bytes, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

bool RegularFile::ReadAtMost(size_t limit, std::string& text) {
  text.clear();
  if (!IsOpen()) return false;
  char buffer[4096];
  while (text.size() <= limit) {
    const size_t wanted = std::min(sizeof buffer, limit + 1 - text.size());
    const ssize_t got = read(Descriptor(handle_), buffer, wanted);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    text.append(buffer, static_cast<size_t>(got));
  }
  return false;
}

bool RegularFile::WriteAll(const void* data, size_t size) {
  return IsOpen() && WriteDescriptor(Descriptor(handle_), data, size);
}

bool RegularFile::Close() {
  if (!IsOpen()) return true;
  const int fd = Descriptor(handle_);
  handle_ = kNoHandle;
  return close(fd) == 0;
}

RegularFile OpenForReading(const std::string& name) {
  // Looking first means a device is never opened at all; the open itself does not wait either.
  struct stat status;
  if (stat(name.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return {};
  const int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return {};
  uint64_t size = 0;
  if (!IsRegularDescriptor(fd, size)) {
    close(fd);
    return {};
  }
  return RegularFile(fd, size);
}

RegularFile OpenForWriting(const std::string& name, WriteMode mode, Links links) {
  struct stat status;
  const int looked =
      links == Links::kRefuse ? lstat(name.c_str(), &status) : stat(name.c_str(), &status);
  if (looked == 0 && !S_ISREG(status.st_mode)) return {};
  if (looked != 0 && errno != ENOENT) return {};
  // Not O_TRUNC: the file is emptied only once it is known to be a regular file.
  int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  if (mode == WriteMode::kAppend) flags |= O_APPEND;
  if (links == Links::kRefuse) flags |= O_NOFOLLOW;
  const int fd = open(name.c_str(), flags, 0666);
  if (fd < 0) return {};
  uint64_t size = 0;
  if (!IsRegularDescriptor(fd, size) ||
      (mode == WriteMode::kTruncate && size > 0 && ftruncate(fd, 0) != 0)) {
    close(fd);
    return {};
  }
  return RegularFile(fd, mode == WriteMode::kTruncate ? 0 : size);
}

std::string TemporaryNameFor(const std::string& name) {
  return name + ".tmp";
}

bool ReplaceFileContents(const std::string& name, std::string_view contents) {
  const std::string temporary = TemporaryNameFor(name);
  bool written = false;
#ifdef O_TMPFILE
  written = LinkAnonymousFile(name, temporary, contents);
#endif
  if (!written) written = WriteNamedTemporary(temporary, contents);
  if (!written) return false;
  if (rename(temporary.c_str(), name.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

std::string UserConfigDirectory() {
  // Only an absolute XDG_CONFIG_HOME counts, as the XDG base directory rules say.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return config;
  return HomeDirectory() + "/.config";
}

}  // namespace kfw
