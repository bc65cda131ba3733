#pragma once

// Test helper: runs a program with its arguments in a given directory and
// collects what it prints on standard output and its exit status, the way
// each platform reports it. One implementation per platform
// (program_run_posix.cpp, program_run_win32.cpp), chosen by the build.

#include <climits>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace programrun {

// The status of a program that could not be started or did not exit.
constexpr int kNoStatus = INT_MIN;
// No limit on the size of the files the program writes.
constexpr int64_t kNoFileSizeLimit = -1;

/// What one run of a program left: its standard output and exit status.
/// Filled by Run, checked by the end-to-end tests.
struct Outcome {
  std::string out;  // read as text: every line ends in "\n"
  int status = kNoStatus;
};

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

// True where Run can limit the size of files the program writes.
bool CanLimitFileSize();

// Runs program with args in the directory dir and collects its standard
// output. With a fileSizeLimit, writing past that many bytes fails in the
// program (only where CanLimitFileSize; elsewhere nothing is run).
Outcome Run(const std::string& program, const std::filesystem::path& dir,
            const std::vector<std::string>& args, int64_t fileSizeLimit = kNoFileSizeLimit);

}  // namespace programrun
