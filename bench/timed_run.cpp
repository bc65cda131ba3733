// bench_timed_run: runs one command once and reports its wall-clock time and
// peak memory, measured around the child alone.
//
//   bench_timed_run [--stdout FILE] -- COMMAND [ARGS...]
//
// Prints "WALL_MICROSECONDS CPU_MICROSECONDS MAX_RSS_KB EXIT_STATUS" on one
// line, the CPU time being the child's user and system time together. The child's
// standard output goes to FILE when given, else to /dev/null.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

extern char** environ;

int main(int argc, char** argv) {
  const char* out = "/dev/null";
  int i = 1;
  if (i + 1 < argc && std::strcmp(argv[i], "--stdout") == 0) {
    out = argv[i + 1];
    i += 2;
  }
  if (i >= argc || std::strcmp(argv[i], "--") != 0 || i + 1 >= argc) {
    std::fprintf(stderr, "usage: bench_timed_run [--stdout FILE] -- COMMAND [ARGS...]\n");
    return 2;
  }
  char** command = argv + i + 1;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out, O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  const int spawned = posix_spawnp(&child, command[0], &actions, nullptr, command, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    std::fprintf(stderr, "bench_timed_run: cannot start %s: %s\n", command[0],
                 std::strerror(spawned));
    return 2;
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return 2;
  const auto wall = std::chrono::steady_clock::now() - start;
  const long long micros = std::chrono::duration_cast<std::chrono::microseconds>(wall).count();
  const long long cpu = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL +
                        usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
  const int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("%lld %lld %ld %d\n", micros, cpu, usage.ru_maxrss, exitStatus);
  return 0;
}
