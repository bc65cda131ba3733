#pragma once

// Test support shared by both deliverables' tests and larkconv's fuzz
// targets: whole files read and written in one call, and scratch
// directories, removed with what is in them.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace file_testing {

namespace fs = std::filesystem;

inline std::vector<uint8_t> ReadFileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string ReadFileText(const fs::path& path) {
  const std::vector<uint8_t> b = ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

// A file read in text mode, as a program of the platform reads text: its
// lines end in "\n" everywhere, though Windows writes "\r\n".
inline std::string ReadTextFile(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Replaces the file at path by size bytes; false when they were not all written.
inline bool WriteFileBytes(const fs::path& path, const void* bytes, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(size));
  out.close();
  return !out.fail();
}

inline bool WriteFileBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  return WriteFileBytes(path, bytes.data(), bytes.size());
}

inline bool WriteFileText(const fs::path& path, const std::string& text) {
  return WriteFileBytes(path, text.data(), text.size());
}

/// A fresh, empty directory removed with its contents when it goes: one per
/// test, or one per process for a fuzz target.
class ScratchDir {
 public:
  // Where the directory is made: the system's temporary directory, or a memory
  // file system where there is one, so that many runs need not wait for a disk
  // (some refuse device nodes, though).
  enum Place { kOnDisk, kInMemory };

  // Made under a random name that no other directory has (creating a
  // directory fails where one exists), as mkdtemp does, on every platform.
  explicit ScratchDir(Place place = kOnDisk) {
    std::error_code ec;
    const fs::path base = place == kInMemory && fs::is_directory("/dev/shm", ec)
                              ? fs::path("/dev/shm")
                              : fs::temp_directory_path();
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      fs::path candidate = base / ("larkgantry-test-" + std::to_string(random()));
      if (fs::create_directory(candidate, ec)) path_ = candidate;
    }
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const fs::path& Path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

  // The names of the entries in the directory, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  fs::path path_;
};

// The process's own scratch directory, made on first use and removed when the
// process exits: for the fuzz targets, which run many inputs in one process.
inline const ScratchDir& ProcessScratchDir() {
  static const ScratchDir dir(ScratchDir::kInMemory);
  return dir;
}

}  // namespace file_testing
