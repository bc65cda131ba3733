#include "destination.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>

#include "filesys.h"

namespace gantry {

namespace {

constexpr int kNamesTried = 20;
constexpr size_t kCopyBlock = 64 * 1024;
const char kFullPrefix[] = "gantry-";
const char kExtension[] = ".tmp";
constexpr size_t kFullLetters = 6;

// A different number for every name asked for in this process, and likely
// in another process asking at the same time.
uint64_t NextDraw() {
  static std::atomic<uint64_t> counter{0};
  const uint64_t now =
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  return (++counter * 0x9E3779B97F4A7C15ull) ^ now ^ reinterpret_cast<uintptr_t>(&counter);
}

// Copies the file at from into the stream destination to.
bool CopyInto(const std::string& from, const std::string& to) {
  FILE* in = std::fopen(from.c_str(), "rb");
  if (in == nullptr) return false;
  FILE* out = std::fopen(to.c_str(), "wb");
  bool ok = out != nullptr;
  std::unique_ptr<char[]> block(new char[kCopyBlock]);
  size_t n = 0;
  while (ok && (n = std::fread(block.get(), 1, kCopyBlock, in)) > 0)
    ok = std::fwrite(block.get(), 1, n, out) == n;
  ok = ok && !std::ferror(in);
  std::fclose(in);
  if (out != nullptr) ok = std::fclose(out) == 0 && ok;
  return ok;
}

}  // namespace

std::string TempFileName(size_t room, uint64_t draw) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  const size_t extension = sizeof kExtension - 1;
  const size_t full = sizeof kFullPrefix - 1 + kFullLetters + extension;
  const size_t letters = room >= full ? kFullLetters : room > extension ? room - extension : room;
  std::string name = room >= full ? kFullPrefix : "";
  for (size_t i = 0; i < letters; ++i, draw /= 36)
    name += kLetters[draw % 36];
  if (room > extension) name += kExtension;
  return name;
}

std::string PpmTwinOf(const std::string& path) {
  const size_t nameStart = filesys::NameStart(path);
  const size_t dot = path.rfind('.');
  const bool hasExtension = dot != std::string::npos && dot > nameStart;
  return (hasExtension ? path.substr(0, dot) : path) + ".ppm";
}

Destination::~Destination() {
  RemoveReserved();
}

bool Destination::Reserve(const std::string& path, size_t maxLength, bool withPpmTwin) {
  RemoveReserved();
  const filesys::PathKind kind = filesys::KindOf(path);
  if (kind == filesys::PathKind::Directory) return false;
  stream = kind == filesys::PathKind::Stream;
  target = stream ? path : filesys::ResolveTarget(path);
  if (!stream && !filesys::WritableOrAbsent(target)) return false;
  const std::string beside = target.substr(0, filesys::NameStart(target));
  // A device's folder (/dev) seldom takes files: the system's temporary
  // folder serves instead.
  return ReserveIn(beside, maxLength, withPpmTwin) ||
         (stream && ReserveIn(filesys::TempFolder(), maxLength, withPpmTwin));
}

bool Destination::ReserveIn(const std::string& folder, size_t maxLength, bool withPpmTwin) {
  if (folder.empty() || folder.size() >= maxLength) return false;
  for (int i = 0; i < kNamesTried; ++i) {
    const std::string candidate = folder + TempFileName(maxLength - folder.size(), NextDraw());
    if (!filesys::CreateNew(candidate)) continue;
    const std::string candidateTwin = withPpmTwin ? PpmTwinOf(candidate) : std::string();
    if (withPpmTwin && !filesys::CreateNew(candidateTwin)) {
      filesys::Remove(candidate);
      continue;
    }
    temp = candidate;
    twin = candidateTwin;
    return true;
  }
  return false;
}

bool Destination::PutInPlace(std::string written) {
  if (written.empty() || (written != temp && written != twin)) return false;
  bool placed;
  if (stream) {
    placed = CopyInto(written, target);
  } else {
    placed = filesys::FlushToDisk(written) && filesys::AdoptPermissions(written, target) &&
             filesys::MoveIntoPlace(written, target);
    if (placed) (written == temp ? temp : twin).clear();  // no longer there to remove
  }
  RemoveReserved();
  return placed;
}

void Destination::RemoveReserved() {
  for (std::string* path : {&temp, &twin}) {
    if (!path->empty()) filesys::Remove(*path);
    path->clear();
  }
}

}  // namespace gantry
