#pragma once

// Test helpers for the corrupt-input and fault tests: runs the built larkconv
// (or larkinfo) in a child process under resource limits or without root's
// permission override, and tells how it ended. POSIX only (Linux for the
// capabilities).

#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "pdb_testing.h"

#if defined(__SANITIZE_ADDRESS__)
#define LARKCONV_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LARKCONV_TEST_ASAN 1
#endif
#endif

namespace faulttesting {

using namespace pdbtesting;

/// How the child running larkconv is held in. Given to RunLarkconv and
/// StartLarkconv by the tests.
struct Limits {
  rlim_t fileSize = RLIM_INFINITY;  // RLIMIT_FSIZE, with SIGXFSZ ignored
  // RLIMIT_AS. AddressSanitizer reserves far more address space than any
  // limit allows, so there the same bound is put on each allocation instead
  // (max_allocation_size_mb), and an allocation beyond it aborts.
  rlim_t addressSpace = RLIM_INFINITY;
  bool noPermissionOverride = false;  // even root is held to permission bits
};

/// How one run ended: what it printed, and its exit status or its signal.
struct Ending {
  std::string out;
  int status = -1;  // the exit status; -1 when it did not exit
  int signal = 0;   // the signal that ended it; 0 when it exited
};

constexpr int kExecFailed = 127;
constexpr int kSetupFailed = 126;

// Drops CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH from this process and from
// everything it runs, so that root too must have the permission bits. Does
// nothing for other users, whom the bits bind anyway.
inline bool DropPermissionOverride() {
  if (geteuid() != 0) return true;
  const int caps[] = {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH};
  for (int cap : caps) {
    if (prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0) return false;
  }
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  for (int cap : caps) {
    for (uint32_t* set : {&data[0].effective, &data[0].permitted, &data[0].inheritable})
      *set &= ~(1u << cap);
  }
  return syscall(SYS_capset, &header, data) == 0;
}

// In the child: applies the limits; false when one cannot be had.
inline bool ApplyLimits(const Limits& limits) {
  if (limits.fileSize != RLIM_INFINITY) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit = {limits.fileSize, limits.fileSize};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
  }
  if (limits.addressSpace != RLIM_INFINITY) {
#if defined(LARKCONV_TEST_ASAN)
    const char* given = std::getenv("ASAN_OPTIONS");
    std::string options = given ? std::string(given) + ":" : std::string();
    options += "allocator_may_return_null=0:max_allocation_size_mb=" +
               std::to_string(limits.addressSpace >> 20);
    setenv("ASAN_OPTIONS", options.c_str(), 1);
#else
    rlimit limit = {limits.addressSpace, limits.addressSpace};
    if (setrlimit(RLIMIT_AS, &limit) != 0) return false;
#endif
  }
  return !limits.noPermissionOverride || DropPermissionOverride();
}

// Starts program with args in dir; *outFd is the read end of its standard
// output. The child's status is kSetupFailed when the limits could not be set.
inline pid_t StartProgram(const char* program, const fs::path& dir,
                          const std::vector<std::string>& args, const Limits& limits, int* outFd) {
  std::vector<char*> argv{const_cast<char*>(program)};
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    if (chdir(dir.c_str()) != 0 || !ApplyLimits(limits)) _exit(kSetupFailed);
    execv(program, argv.data());
    _exit(kExecFailed);
  }
  close(fds[1]);
  *outFd = fds[0];
  return pid;
}

inline pid_t StartLarkconv(const fs::path& dir, const std::vector<std::string>& args,
                           const Limits& limits, int* outFd) {
  return StartProgram(LARKCONV_EXE, dir, args, limits, outFd);
}

// Collects the output of a started child and waits for its end.
inline Ending FinishLarkconv(pid_t pid, int outFd) {
  Ending ending;
  char buffer[4096];
  ssize_t n;
  while ((n = read(outFd, buffer, sizeof buffer)) > 0)
    ending.out.append(buffer, static_cast<size_t>(n));
  close(outFd);
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return ending;
  if (WIFEXITED(status)) ending.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) ending.signal = WTERMSIG(status);
  return ending;
}

inline Ending RunProgram(const char* program, const fs::path& dir,
                         const std::vector<std::string>& args, const Limits& limits = Limits()) {
  int outFd = -1;
  pid_t pid = StartProgram(program, dir, args, limits, &outFd);
  if (pid < 0) return Ending();
  return FinishLarkconv(pid, outFd);
}

inline Ending RunLarkconv(const fs::path& dir, const std::vector<std::string>& args,
                          const Limits& limits = Limits()) {
  return RunProgram(LARKCONV_EXE, dir, args, limits);
}

/// A fresh directory like ScratchDir, but on a memory file system where there
/// is one, so that the many runs of a test do not wait for the disk.
class MemoryScratchDir : public ScratchDir {
 public:
  MemoryScratchDir()
      : ScratchDir(access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm")
                                                 : fs::temp_directory_path()) {}
};

// The size of the new file process pid is writing in dir, named or unnamed
// (the link under /proc of an unnamed one reads "dir/#inode (deleted)"), or
// -1 when it has none open.
inline int64_t NewFileSizeOf(pid_t pid, const fs::path& dir) {
  const std::string prefix = fs::canonical(dir).string() + "/";
  std::error_code ec;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    const std::string target = fs::read_symlink(fd.path(), ec).string();
    if (ec || target.rfind(prefix, 0) != 0) continue;
    const std::string name = target.substr(prefix.size());
    if (name.rfind(".larkconv-", 0) != 0 && name.rfind("#", 0) != 0) continue;
    struct stat st;
    if (stat(fd.path().c_str(), &st) == 0) return static_cast<int64_t>(st.st_size);
  }
  return -1;
}

// The named temporary files a run left in dir.
inline std::vector<std::string> TempFilesIn(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    if (name.rfind(".larkconv-", 0) == 0) names.push_back(name);
  }
  return names;
}

}  // namespace faulttesting
