// The platform's file operations, behind one small seam (files_posix.cpp, files_windows.cpp).
//
// Every file the program reads or writes by name (the image, pack's output, the trace log, the
// port settings) is a regular file, and these operations refuse anything else at once: a FIFO
// would block the open until some other program opened its far end (the window would never
// appear), a device such as /dev/zero reads without end, a directory has no contents to read.
// Nothing here waits for another program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kfw {

enum class WriteMode { kTruncate, kAppend };

// What to do when the last part of a name to be written is a symbolic link. A link planted where
// the program writes (a trace file in a shared folder, say) would have it overwrite the link's
// target.
enum class Links { kFollow, kRefuse };

// One open regular file, closed when destroyed. Only the Open functions below make one that is
// open.
class RegularFile {
 public:
  RegularFile() = default;
  RegularFile(RegularFile&& other) noexcept;
  RegularFile& operator=(RegularFile&& other) noexcept;
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;
  ~RegularFile();

  bool IsOpen() const { return handle_ != kNoHandle; }
  // The size when it was opened (after truncating, for a file opened to be written anew).
  uint64_t Size() const { return size_; }

  // Exactly `size` bytes from where the last read ended; false on an error or when the file ends
  // first.
  bool ReadExactly(void* data, size_t size);
  // The rest of the file into `text`; false on an error or when it holds more than `limit` bytes
  // (at most limit + 1 are read, whatever the file claims its size to be).
  bool ReadAtMost(size_t limit, std::string& text);
  // All of `size` bytes, or false.
  bool WriteAll(const void* data, size_t size);
  // False when the file could not be closed cleanly (a write the system had put off failed).
  bool Close();

 private:
  friend RegularFile OpenForReading(const std::string& name);
  friend RegularFile OpenForWriting(const std::string& name, WriteMode mode, Links links);
  static constexpr intptr_t kNoHandle = -1;
  RegularFile(intptr_t handle, uint64_t size) : handle_(handle), size_(size) {}

  // A descriptor on POSIX, a HANDLE on Windows; kNoHandle when not open.
  intptr_t handle_ = kNoHandle;
  uint64_t size_ = 0;
};

// An existing regular file, symbolic links followed, opened for reading. Not open (and nothing
// waited for) when the name is missing, unreadable, or anything but a regular file.
RegularFile OpenForReading(const std::string& name);

// A regular file opened for writing, created when missing (mode 0666 less the umask), emptied for
// kTruncate, every write added at its end for kAppend (one write of a text is never interleaved
// with another process's). Not open, and an existing file left as it was, when the name is
// anything but a regular file or, with Links::kRefuse, a symbolic link.
RegularFile OpenForWriting(const std::string& name, WriteMode mode, Links links);

// Replaces the file's contents with `contents` as one step: a reader sees the old file or the
// new, never a part, even if the process is killed or the disk fills. A symbolic link at `name`
// is replaced by the file, not followed. The contents are written to a file of no name where the
// file system has them, else to TemporaryNameFor(name), which a save killed mid-write leaves
// behind and the next save reuses; no failure path leaves it.
bool ReplaceFileContents(const std::string& name, std::string_view contents);
std::string TemporaryNameFor(const std::string& name);

// Where the user's programs keep their settings, an absolute path. POSIX: $XDG_CONFIG_HOME when
// it is an absolute path, else .config in the home folder. Windows: the user's roaming application
// data folder (where %APPDATA% points, but found without it).
std::string UserConfigDirectory();

#ifdef _WIN32
// Our texts are UTF-8; Windows' wide-character calls take UTF-16. Empty for an empty text or one
// that is not valid UTF-8 (no file has that name).
std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const std::wstring& text);
#endif

}  // namespace kfw
