#pragma once

// Test support for both deliverables: runs a program as a child process in a
// given directory, optionally held in by limits, and collects what it printed
// and how it ended. One implementation per platform (process_posix.cpp,
// process_win32.cpp), chosen by the build; the limits exist only on POSIX.

#include <climits>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace process_testing {

// The status of a program that could not be started or did not exit.
constexpr int kNoStatus = INT_MIN;
// No limit of this kind.
constexpr int64_t kNoLimit = -1;

// The status of a program that ended with exit(-1): 255 where the status is
// 8 bits wide (POSIX), -1 on Windows.
extern const int kFailedStatus;
// What a stream opened in text mode writes at the end of a line: "\n", or
// "\r\n" on Windows.
extern const char* const kTextLineEnd;
// The platform's null device where tests may write to it ("NUL" on Windows);
// null on POSIX, where tests make a device node of their own instead of
// touching the machine's.
extern const char* const kNullDevice;

/// How one child is run: the limits it is held in and whether its standard
/// error is collected too. Given to Run and Start by the tests.
struct Options {
  int64_t fileSize = kNoLimit;  // bytes a file may grow to; writes past it fail
  // A write past fileSize ends the child with SIGXFSZ, leaving no core file,
  // at the very write that crosses the limit: a kill at a point the test
  // chose, however fast the child writes.
  bool fileSizeKills = false;
  // Address space in bytes. AddressSanitizer reserves far more than any such
  // limit allows, so there the same bound is put on each allocation instead,
  // and an allocation beyond it aborts.
  int64_t addressSpace = kNoLimit;
  bool noPermissionOverride = false;  // even root is held to permission bits
  bool collectErr = false;            // else the child writes to this process's
};

/// What one run left: its standard output (and error, when collected), read
/// as text so that every line ends in "\n", and how it ended.
struct Outcome {
  std::string out;
  std::string err;
  int status = kNoStatus;  // the exit status; kNoStatus when it did not exit
  int signal = 0;          // the signal that ended it (POSIX); 0 when it exited
};

/// A child that Start started and Finish has not yet collected. Its id is the
/// process id, for looking at the process while it runs.
struct Child {
  int64_t id = -1;
  intptr_t process = 0;  // the process handle where the platform has one
  intptr_t out = -1;     // the read ends of its output pipes
  intptr_t err = -1;
};

// True where Options' limits can be had; elsewhere a run with a limit runs
// nothing and ends with kNoStatus.
bool CanLimit();

// Drops the permission override (root's capabilities to bypass permission
// bits) from this process and what it runs; true for other users, whom the
// bits bind anyway. False where it cannot be done.
bool DropPermissionOverride();

// Starts program with args in dir (the current directory when empty). A child
// whose limits could not be set ends with status kSetupFailed.
Child Start(const std::string& program, const std::filesystem::path& dir,
            const std::vector<std::string>& args, const Options& options = Options());
constexpr int kSetupFailed = 126;

// Collects a started child's output and waits for its end.
Outcome Finish(Child* child);

// Start and Finish in one.
inline Outcome Run(const std::string& program, const std::filesystem::path& dir,
                   const std::vector<std::string>& args, const Options& options = Options()) {
  Child child = Start(program, dir, args, options);
  return Finish(&child);
}

}  // namespace process_testing
