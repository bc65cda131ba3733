// File-system operations on POSIX systems.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "filesys.h"

namespace gantry::filesys {

namespace {

std::string FolderOf(const std::string& path) {
  return path.substr(0, NameStart(path));
}

// Makes a rename inside folder durable; a failure here only weakens durability.
void SyncFolder(const std::string& folder) {
  int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

PathKind KindOf(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return PathKind::Missing;
  if (S_ISREG(st.st_mode)) return PathKind::Regular;
  if (S_ISDIR(st.st_mode)) return PathKind::Directory;
  return PathKind::Stream;
}

bool IsAbsolute(const std::string& path) {
  return !path.empty() && path[0] == '/';
}

size_t NameStart(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

std::string ResolveTarget(const std::string& path) {
  std::string target = path;
  for (int hops = 0; hops < 40; ++hops) {
    char link[PATH_MAX];
    const ssize_t n = readlink(target.c_str(), link, sizeof link);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof link) return target;
    const std::string next(link, static_cast<size_t>(n));
    target = next[0] == '/' ? next : FolderOf(target) + next;
  }
  return target;
}

bool WritableOrAbsent(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return true;
  return access(path.c_str(), W_OK) == 0;
}

bool CreateNew(const std::string& path) {
  // 0666 less the process's mask: what any new file of this user gets.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  close(fd);
  return true;
}

std::string TempFolder() {
  return "/tmp/";
}

int64_t FileLength(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool AdoptPermissions(const std::string& path, const std::string& dest) {
  struct stat st;
  if (stat(dest.c_str(), &st) != 0) return true;
  return chmod(path.c_str(), st.st_mode & 0777) == 0;
}

bool FlushToDisk(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = fsync(fd) == 0;
  return close(fd) == 0 && synced;
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
  if (rename(from.c_str(), to.c_str()) != 0) return false;
  SyncFolder(FolderOf(to));
  return true;
}

bool Remove(const std::string& path) {
  return unlink(path.c_str()) == 0;
}

}  // namespace gantry::filesys
