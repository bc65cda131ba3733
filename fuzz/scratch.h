#pragma once

// A scratch directory for fuzz targets that must go through files: one per
// process, on a memory file system where there is one, removed at exit.

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace fuzzing {

/// The process's scratch directory; made on first use by ScratchDir(),
/// removed with its contents when the process exits.
class Scratch {
 public:
  Scratch() {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/larkgantry-fuzz-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) std::abort();
    path = pattern;
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string path;
};

inline const std::string& ScratchDir() {
  static Scratch scratch;
  return scratch.path;
}

// Replaces the file name in the scratch directory by bytes; returns its path.
inline std::string ScratchFile(const std::string& name, const void* bytes, size_t size) {
  std::string path = ScratchDir() + "/" + name;
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || std::fwrite(bytes, 1, size, file) != size || std::fclose(file) != 0) {
    std::abort();
  }
  return path;
}

}  // namespace fuzzing
