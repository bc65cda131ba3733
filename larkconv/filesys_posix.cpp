// File-system operations on POSIX systems.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "filesys.h"

namespace larkconv::filesys {
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

// A name in the directory of target that nothing holds yet, at the time of asking.
std::string FreshNameBeside(const std::string& target, unsigned attempt) {
  static unsigned counter = 0;
  const unsigned long stamp = static_cast<unsigned long>(getpid()) * 7919ul + ++counter + attempt;
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = DirectoryOf(target) + ".larkconv-";
  for (unsigned long v = stamp * 2654435761ul, i = 0; i < 6; ++i, v /= 36)
    name += kLetters[v % 36];
  return name;
}

bool OpenStream(int fd, TempFile* temp) {
  temp->stream = fdopen(fd, "wb");
  if (temp->stream) return true;
  close(fd);
  return false;
}

}  // namespace

PathKind KindOf(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return PathKind::Missing;
  if (S_ISREG(st.st_mode)) return PathKind::Regular;
  if (S_ISDIR(st.st_mode)) return PathKind::Directory;
  return PathKind::Stream;
}

std::string ResolveTarget(const std::string& path) {
  std::string target = path;
  for (int hops = 0; hops < 40; ++hops) {
    char link[PATH_MAX];
    const ssize_t n = readlink(target.c_str(), link, sizeof link);
    if (n < 0 || static_cast<size_t>(n) >= sizeof link) return target;
    const std::string next(link, static_cast<size_t>(n));
    target = next[0] == '/' ? next : DirectoryOf(target) + next;
  }
  return target;
}

bool WritableOrAbsent(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return true;
  return access(path.c_str(), W_OK) == 0;
}

bool CreateTempBeside(const std::string& target, TempFile* temp) {
  temp->path.clear();
#ifdef O_TMPFILE
  const std::string dir = DirectoryOf(target);
  int fd = open(dir.empty() ? "." : dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd >= 0) return OpenStream(fd, temp);
#endif
  // The file system has no unnamed files: a named one, removed on failure.
  std::string name = DirectoryOf(target) + ".larkconv-XXXXXX";
  int fd2 = mkstemp(&name[0]);
  if (fd2 < 0) return false;
  if (!OpenStream(fd2, temp)) {
    unlink(name.c_str());
    return false;
  }
  temp->path = name;
  return true;
}

bool NameTemp(const std::string& target, TempFile* temp) {
  if (!temp->path.empty()) return true;
  const int fd = fileno(temp->stream);
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string name = FreshNameBeside(target, attempt);
    int linked = linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
#ifdef AT_EMPTY_PATH
    if (linked != 0 && errno != EEXIST)
      linked = linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH);
#endif
    if (linked == 0) {
      temp->path = name;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool AdoptPermissions(const TempFile& temp, const std::string& dest) {
  struct stat st;
  mode_t mode = stat(dest.c_str(), &st) == 0 ? (st.st_mode & 0777) : NewFileMode();
  return fchmod(fileno(temp.stream), mode) == 0;
}

void UseTextMode(FILE*) {}

const char* TextLineEnd() {
  return "\n";
}

void StartWriteBack(FILE* stream) {
#ifdef SYNC_FILE_RANGE_WRITE
  if (std::fflush(stream) == 0) sync_file_range(fileno(stream), 0, 0, SYNC_FILE_RANGE_WRITE);
#else
  (void)stream;
#endif
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

}  // namespace larkconv::filesys
