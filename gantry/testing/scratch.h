#pragma once

// Test support: a folder of one test's own for the files gantry installs,
// exports and saves, and whole files in and out of it.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace gantry_testing {

/// A new, empty folder under the system's temporary folder, removed with
/// everything in it at the end. Paths in it are absolute, as gantry wants
/// them. Owned by one test.
class ScratchFolder {
 public:
  ScratchFolder() {
    static std::atomic<unsigned> counter{0};
    const auto base = std::filesystem::temp_directory_path();
    for (std::error_code error;;) {
      const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007;
      folder = base / ("gantry-test-" + std::to_string(stamp) + "-" + std::to_string(++counter));
      if (std::filesystem::create_directory(folder, error)) break;
    }
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string Path(const std::string& name) const { return (folder / name).string(); }
  // The names of the files in the folder, in name order.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path folder;
};

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// The file's bytes; none when it can't be read.
inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace gantry_testing
