// File-system operations on Windows.

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <io.h>
#include <sys/stat.h>

#include "filesys.h"

namespace gantry::filesys {

namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

}  // namespace

PathKind KindOf(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return PathKind::Directory;
  // Devices such as NUL or CON and pipes are told apart by their handle.
  HANDLE handle =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return attributes == INVALID_FILE_ATTRIBUTES ? PathKind::Missing : PathKind::Regular;
  const DWORD type = GetFileType(handle);
  CloseHandle(handle);
  return type == FILE_TYPE_DISK ? PathKind::Regular : PathKind::Stream;
}

// A drive and its root folder (C:\ or C:/), or a network or device path
// (\\server\share, \\.\device). C:name and \name depend on a working folder.
bool IsAbsolute(const std::string& path) {
  if (path.size() >= 3 && path[1] == ':' && IsSeparator(path[2])) {
    const char drive = path[0];
    return (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
  }
  return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

size_t NameStart(const std::string& path) {
  const size_t separator = path.find_last_of("\\/:");
  return separator == std::string::npos ? 0 : separator + 1;
}

std::string ResolveTarget(const std::string& path) {
  return path;
}

bool WritableOrAbsent(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  return (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

bool CreateNew(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
}

std::string TempFolder() {
  char folder[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(sizeof folder, folder);
  return length > 0 && length < sizeof folder ? std::string(folder, length) : std::string();
}

int64_t FileLength(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return -1;
  }
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool AdoptPermissions(const std::string& path, const std::string& dest) {
  struct _stat64 st;
  if (_stat64(dest.c_str(), &st) != 0) return true;  // a new file keeps the defaults
  return _chmod(path.c_str(), st.st_mode & (_S_IREAD | _S_IWRITE)) == 0;
}

bool FlushToDisk(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool flushed = FlushFileBuffers(handle) != 0;
  return CloseHandle(handle) != 0 && flushed;
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool Remove(const std::string& path) {
  return DeleteFileA(path.c_str()) != 0;
}

}  // namespace gantry::filesys
