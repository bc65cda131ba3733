#pragma once

// Test support for the end-to-end tests: the built larkconv and larkinfo run
// as child processes through the shared runner, with optional limits, and
// what a run leaves in its directory.

#include <sys/stat.h>

#include <string>
#include <vector>

#include "testing/files.h"
#include "testing/process.h"

namespace larkconv_testing {

using process_testing::kFailedStatus;
using process_testing::Outcome;
using RunOptions = process_testing::Options;

#ifdef LARKCONV_EXE
inline Outcome RunLarkconv(const fs::path& dir, const std::vector<std::string>& args,
                           const RunOptions& options = RunOptions()) {
  return process_testing::Run(LARKCONV_EXE, dir, args, options);
}
#endif

#ifdef LARKINFO_EXE
inline Outcome RunLarkinfo(const fs::path& dir, const std::vector<std::string>& args,
                           const RunOptions& options = RunOptions()) {
  return process_testing::Run(LARKINFO_EXE, dir, args, options);
}
#endif

// The named temporary files a run left in dir.
inline std::vector<std::string> TempFilesIn(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    if (name.rfind(".larkconv-", 0) == 0) names.push_back(name);
  }
  return names;
}

// The size of the new file the running process id is writing in dir, named or
// unnamed (the link under /proc of an unnamed one reads "dir/#inode
// (deleted)"), or -1 when it has none open or the system has no /proc.
// *unnamed tells which.
inline int64_t NewFileSizeOf(int64_t id, const fs::path& dir, bool* unnamed) {
  const std::string prefix = fs::canonical(dir).string() + "/";
  std::error_code ec;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(id) + "/fd", ec)) {
    const std::string target = fs::read_symlink(fd.path(), ec).string();
    if (ec || target.rfind(prefix, 0) != 0) continue;
    const std::string name = target.substr(prefix.size());
    if (name.rfind(".larkconv-", 0) != 0 && name.rfind("#", 0) != 0) continue;
    *unnamed = name[0] == '#';
    struct stat st;
    if (stat(fd.path().string().c_str(), &st) == 0) return static_cast<int64_t>(st.st_size);
  }
  return -1;
}

}  // namespace larkconv_testing
