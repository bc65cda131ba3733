// Running a program on POSIX: fork, pipes for its output, and the limits
// through setrlimit (SIGXFSZ ignored, so that a write past the file-size limit
// fails instead of killing the program, unless the test asks for the kill)
// and Linux capabilities.

#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "testing/process.h"

#if defined(__SANITIZE_ADDRESS__)
#define PROCESS_TESTING_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PROCESS_TESTING_ASAN 1
#endif
#endif

namespace process_testing {

const int kFailedStatus = 255;
const char* const kTextLineEnd = "\n";
const char* const kNullDevice = nullptr;

namespace {

constexpr int kExecFailed = 127;

bool SetLimit(int resource, int64_t bytes) {
  const rlim_t value = static_cast<rlim_t>(bytes);
  rlimit limit = {value, value};
  return setrlimit(resource, &limit) == 0;
}

// In the child: applies the options' limits; false when one cannot be had.
bool ApplyLimits(const Options& o) {
  if (o.fileSize != kNoLimit) {
    signal(SIGXFSZ, o.fileSizeKills ? SIG_DFL : SIG_IGN);
    if (o.fileSizeKills && !SetLimit(RLIMIT_CORE, 0)) return false;
    if (!SetLimit(RLIMIT_FSIZE, o.fileSize)) return false;
  }
  if (o.addressSpace != kNoLimit) {
#if defined(PROCESS_TESTING_ASAN)
    const char* given = std::getenv("ASAN_OPTIONS");
    std::string options = given ? std::string(given) + ":" : std::string();
    options += "allocator_may_return_null=0:max_allocation_size_mb=" +
               std::to_string(o.addressSpace >> 20);
    setenv("ASAN_OPTIONS", options.c_str(), 1);
#else
    if (!SetLimit(RLIMIT_AS, o.addressSpace)) return false;
#endif
  }
  return !o.noPermissionOverride || DropPermissionOverride();
}

// Reads both pipes (err may be -1) to their ends, whichever has data first.
void Collect(int outFd, int errFd, Outcome* outcome) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* into[2] = {&outcome->out, &outcome->err};
  char buffer[4096];
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        into[i]->append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
      }
    }
  }
}

}  // namespace

bool CanLimit() {
  return true;
}

bool DropPermissionOverride() {
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

Child Start(const std::string& program, const std::filesystem::path& dir,
            const std::vector<std::string>& args, const Options& options) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  if (pipe(out) != 0) return Child();
  if (options.collectErr && pipe(err) != 0) {
    close(out[0]);
    close(out[1]);
    return Child();
  }
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    if (options.collectErr) dup2(err[1], STDERR_FILENO);
    for (int fd : {out[0], out[1], err[0], err[1]})
      if (fd >= 0) close(fd);
    if ((!dir.empty() && chdir(dir.c_str()) != 0) || !ApplyLimits(options)) _exit(kSetupFailed);
    execv(program.c_str(), argv.data());
    _exit(kExecFailed);
  }
  close(out[1]);
  if (err[1] >= 0) close(err[1]);
  if (pid < 0) {
    close(out[0]);
    if (err[0] >= 0) close(err[0]);
    return Child();
  }
  Child child;
  child.id = pid;
  child.out = out[0];
  child.err = err[0];
  return child;
}

Outcome Finish(Child* child) {
  Outcome outcome;
  if (child->out >= 0)
    Collect(static_cast<int>(child->out), static_cast<int>(child->err), &outcome);
  child->out = child->err = -1;
  int status = 0;
  const pid_t pid = static_cast<pid_t>(child->id);
  if (pid <= 0 || waitpid(pid, &status, 0) != pid) return outcome;
  if (WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  return outcome;
}

}  // namespace process_testing
