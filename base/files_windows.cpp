// The file seam on Windows. Names arrive as UTF-8 and go to the wide-character calls: the narrow
// ones see names only through the ANSI code page, and a name outside it cannot be opened at all.
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <climits>

#include "base/files.h"

namespace kfw {

std::wstring WideFromUtf8(const std::string& text) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length);
  return wide;
}

std::string Utf8FromWide(const std::wstring& text) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

namespace {

HANDLE Handle(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// A file on a disk: not a pipe, a console or a serial port ("COM1", "NUL" and "\\.\pipe\x" open
// as files too), not a folder and not a link opened as itself.
bool IsRegularHandle(HANDLE file, uint64_t& size) {
  if (GetFileType(file) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(file, &information)) return false;
  if (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
    return false;
  }
  size = (static_cast<uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
  return true;
}

bool WriteHandle(HANDLE file, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes, chunk, &written, nullptr) || written == 0) return false;
    bytes += written;
    size -= written;
  }
  return true;
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
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(Handle(handle_), bytes, chunk, &got, nullptr) || got == 0) return false;
    bytes += got;
    size -= got;
  }
  return true;
}

bool RegularFile::ReadAtMost(size_t limit, std::string& text) {
  text.clear();
  if (!IsOpen()) return false;
  char buffer[4096];
  while (text.size() <= limit) {
    const DWORD wanted = static_cast<DWORD>(std::min(sizeof buffer, limit + 1 - text.size()));
    DWORD got = 0;
    if (!ReadFile(Handle(handle_), buffer, wanted, &got, nullptr)) return false;
    if (got == 0) return true;
    text.append(buffer, got);
  }
  return false;
}

bool RegularFile::WriteAll(const void* data, size_t size) {
  return IsOpen() && WriteHandle(Handle(handle_), data, size);
}

bool RegularFile::Close() {
  if (!IsOpen()) return true;
  const HANDLE file = Handle(handle_);
  handle_ = kNoHandle;
  return CloseHandle(file) != 0;
}

RegularFile OpenForReading(const std::string& name) {
  const std::wstring wide = WideFromUtf8(name);
  if (wide.empty()) return {};
  // Opening a folder needs FILE_FLAG_BACKUP_SEMANTICS, so a folder fails here already.
  const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  uint64_t size = 0;
  if (!IsRegularHandle(file, size)) {
    CloseHandle(file);
    return {};
  }
  return RegularFile(reinterpret_cast<intptr_t>(file), size);
}

RegularFile OpenForWriting(const std::string& name, WriteMode mode, Links links) {
  const std::wstring wide = WideFromUtf8(name);
  if (wide.empty()) return {};
  // Append-only access makes every write land at the end, as O_APPEND does.
  const DWORD access = mode == WriteMode::kAppend ? FILE_APPEND_DATA | SYNCHRONIZE : GENERIC_WRITE;
  // A link opened as itself is then refused as not regular; OPEN_ALWAYS rather than CREATE_ALWAYS
  // so that nothing is emptied before it is known to be a regular file.
  const DWORD flags =
      FILE_ATTRIBUTE_NORMAL | (links == Links::kRefuse ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  const HANDLE file = CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  uint64_t size = 0;
  if (!IsRegularHandle(file, size) || (mode == WriteMode::kTruncate && !SetEndOfFile(file))) {
    CloseHandle(file);
    return {};
  }
  return RegularFile(reinterpret_cast<intptr_t>(file), mode == WriteMode::kTruncate ? 0 : size);
}

std::string TemporaryNameFor(const std::string& name) {
  return name + ".tmp";
}

bool ReplaceFileContents(const std::string& name, std::string_view contents) {
  const std::wstring wide = WideFromUtf8(name);
  const std::wstring temporary = WideFromUtf8(TemporaryNameFor(name));
  if (wide.empty() || temporary.empty()) return false;
  // Windows has no file without a name to link in: the fixed temporary name, which a save killed
  // mid-write leaves behind and the next save reuses.
  DeleteFileW(temporary.c_str());
  const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool written =
      WriteHandle(file, contents.data(), contents.size()) && FlushFileBuffers(file);
  const bool closed = CloseHandle(file) != 0;
  // rename() does not replace an existing file on Windows; MoveFileExW does, as one step.
  if (!written || !closed ||
      !MoveFileExW(temporary.c_str(), wide.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(temporary.c_str());
    return false;
  }
  return true;
}

std::string UserConfigDirectory() {
  // The user's roaming application data folder, asked of the shell rather than read from
  // %APPDATA%: a program started with another environment (or none) must still find its settings.
  PWSTR folder = nullptr;
  std::string path;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_DEFAULT, nullptr, &folder))) {
    path = Utf8FromWide(folder);
  }
  CoTaskMemFree(folder);
  return path.empty() ? "." : path;
}

}  // namespace kfw
