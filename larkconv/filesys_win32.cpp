// File-system operations on Windows.

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "filesys.h"

namespace larkconv::filesys {
namespace {

std::string DirectoryOf(const std::string& path) {
  size_t sep = path.find_last_of("\\/:");
  return sep == std::string::npos ? std::string(".") : path.substr(0, sep + 1);
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

std::string ResolveTarget(const std::string& path) {
  return path;
}

bool WritableOrAbsent(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  return (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

bool CreateTempBeside(const std::string& target, TempFile* temp) {
  char name[MAX_PATH + 1] = {};
  if (GetTempFileNameA(DirectoryOf(target).c_str(), "lkc", 0, name) == 0) return false;
  FILE* stream = std::fopen(name, "wb");
  if (!stream) {
    DeleteFileA(name);
    return false;
  }
  temp->stream = stream;
  temp->path = name;
  return true;
}

bool NameTemp(const std::string&, TempFile*) {
  return true;  // the temp file is named from the start
}

bool AdoptPermissions(const TempFile& temp, const std::string& dest) {
  struct _stat64 st;
  if (_stat64(dest.c_str(), &st) != 0) return true;  // a new file keeps the defaults
  return _chmod(temp.path.c_str(), st.st_mode & (_S_IREAD | _S_IWRITE)) == 0;
}

void UseTextMode(FILE* stream) {
  std::fflush(stream);
  _setmode(_fileno(stream), _O_TEXT);
}

const char* TextLineEnd() {
  return "\r\n";
}

void StartWriteBack(FILE*) {}  // Windows has no write-back that does not wait

bool FlushToDisk(FILE* stream) {
  return std::fflush(stream) == 0 && _commit(_fileno(stream)) == 0;
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

int64_t FileLength(FILE* stream) {
  return _filelengthi64(_fileno(stream));
}

}  // namespace larkconv::filesys
