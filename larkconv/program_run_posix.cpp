// Running a program on POSIX: fork, a pipe for its standard output, and the
// file-size limit through setrlimit with SIGXFSZ ignored, so that a write past
// the limit fails instead of killing the program.

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "program_run.h"

namespace programrun {

const int kFailedStatus = 255;
const char* const kTextLineEnd = "\n";
const char* const kNullDevice = nullptr;

bool CanLimitFileSize() {
  return true;
}

Outcome Run(const std::string& program, const std::filesystem::path& dir,
            const std::vector<std::string>& args, int64_t fileSizeLimit) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int fds[2];
  if (pipe(fds) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    if (chdir(dir.c_str()) != 0) _exit(126);
    if (fileSizeLimit != kNoFileSizeLimit) {
      signal(SIGXFSZ, SIG_IGN);
      rlim_t bytes = static_cast<rlim_t>(fileSizeLimit);
      struct rlimit limit = {bytes, bytes};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(fds[1]);
  Outcome outcome;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
    outcome.out.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return outcome;
  if (WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
  return outcome;
}

}  // namespace programrun
