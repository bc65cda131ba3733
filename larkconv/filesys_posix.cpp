// File-system operations on POSIX systems.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "filesys.h"

namespace filesys {
namespace {

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

mode_t NewFileMode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// Makes a rename inside dir durable; a failure here only weakens durability.
void SyncDirectory(const std::string& dir) {
  int fd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

std::string ResolveTarget(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) return path;
  std::string target(resolved);
  std::free(resolved);
  return target;
}

bool WritableOrAbsent(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return true;
  return access(path.c_str(), W_OK) == 0;
}

bool CreateTempBeside(const std::string& path, TempFile* temp) {
  std::string name = DirectoryOf(path) + ".larkconv-XXXXXX";
  int fd = mkstemp(&name[0]);
  if (fd < 0) return false;
  FILE* stream = fdopen(fd, "wb");
  if (!stream) {
    close(fd);
    unlink(name.c_str());
    return false;
  }
  temp->stream = stream;
  temp->path = name;
  return true;
}

bool AdoptPermissions(const std::string& temp, const std::string& dest) {
  struct stat st;
  mode_t mode = stat(dest.c_str(), &st) == 0 ? (st.st_mode & 07777) : NewFileMode();
  return chmod(temp.c_str(), mode) == 0;
}

bool FlushToDisk(FILE* stream) {
  return std::fflush(stream) == 0 && fsync(fileno(stream)) == 0;
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
  if (rename(from.c_str(), to.c_str()) != 0) return false;
  SyncDirectory(DirectoryOf(to));
  return true;
}

int64_t FileLength(FILE* stream) {
  struct stat st;
  if (fstat(fileno(stream), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

}  // namespace filesys
