// File-system operations on Windows.

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "filesys.h"

namespace filesys {
namespace {

std::string DirectoryOf(const std::string& path) {
  size_t sep = path.find_last_of("\\/:");
  return sep == std::string::npos ? std::string(".") : path.substr(0, sep + 1);
}

}  // namespace

std::string ResolveTarget(const std::string& path) {
  return path;
}

bool WritableOrAbsent(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  return (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

bool CreateTempBeside(const std::string& path, TempFile* temp) {
  char name[MAX_PATH + 1] = {};
  if (GetTempFileNameA(DirectoryOf(path).c_str(), "lkc", 0, name) == 0) return false;
  FILE* stream = std::fopen(name, "wb");
  if (!stream) {
    DeleteFileA(name);
    return false;
  }
  temp->stream = stream;
  temp->path = name;
  return true;
}

bool AdoptPermissions(const std::string& temp, const std::string& dest) {
  struct _stat64 st;
  if (_stat64(dest.c_str(), &st) != 0) return true;  // a new file keeps the defaults
  return _chmod(temp.c_str(), st.st_mode & (_S_IREAD | _S_IWRITE)) == 0;
}

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

}  // namespace filesys
