#include "outputfile.h"

#include <memory>

namespace larkconv {

namespace {

constexpr size_t kWriteBackEvery = 1024 * 1024;

}  // namespace

OutputFile::~OutputFile() {
  Abandon();
}

bool OutputFile::Open(const std::string& path, bool append, bool text) {
  Abandon();
  const filesys::PathKind kind = filesys::KindOf(path);
  if (kind == filesys::PathKind::Directory) return false;
  if (kind == filesys::PathKind::Stream) {
    temp.stream = std::fopen(path.c_str(), append ? (text ? "a" : "ab") : (text ? "w" : "wb"));
    inPlace = temp.stream != nullptr;
    if (inPlace) UseBuffer();
    return inPlace;
  }
  target = filesys::ResolveTarget(path);
  if (!filesys::WritableOrAbsent(target) || !filesys::CreateTempBeside(target, &temp)) return false;
  UseBuffer();
  if (append && kind == filesys::PathKind::Regular && !CopyExisting()) {
    Abandon();
    return false;
  }
  if (text) filesys::UseTextMode(temp.stream);
  return true;
}

void OutputFile::UseBuffer() {
  if (!buffer) buffer.reset(new char[kBufferSize]);
  std::setvbuf(temp.stream, buffer.get(), _IOFBF, kBufferSize);
}

// Starts the new file with the bytes the destination holds, byte for byte.
bool OutputFile::CopyExisting() {
  FILE* old = std::fopen(target.c_str(), "rb");
  if (!old) return false;
  std::unique_ptr<char[]> block(new char[kBufferSize]);  // apart from the stream's buffer
  bool ok = true;
  size_t n;
  while (ok && (n = std::fread(block.get(), 1, kBufferSize, old)) > 0)
    ok = std::fwrite(block.get(), 1, n, temp.stream) == n;
  ok = ok && !std::ferror(old);
  std::fclose(old);
  return ok;
}

bool OutputFile::Write(const void* bytes, size_t length) {
  if (length == 0) return true;
  if (std::fwrite(bytes, 1, length, temp.stream) != length) return false;
  unsynced += length;
  if (unsynced >= kWriteBackEvery && !inPlace) {
    unsynced = 0;
    filesys::StartWriteBack(temp.stream);
  }
  return true;
}

bool OutputFile::Commit() {
  if (!temp.stream) return false;
  FILE* stream = temp.stream;
  temp.stream = nullptr;
  if (inPlace) {
    inPlace = false;
    bool ok = std::fflush(stream) == 0 && !std::ferror(stream);
    return std::fclose(stream) == 0 && ok;
  }
  bool ok = filesys::FlushToDisk(stream) && !std::ferror(stream);
  temp.stream = stream;  // AdoptPermissions and NameTemp work on the open file
  ok = ok && filesys::AdoptPermissions(temp, target) && filesys::NameTemp(target, &temp);
  temp.stream = nullptr;
  ok = std::fclose(stream) == 0 && ok;
  ok = ok && filesys::MoveIntoPlace(temp.path, target);
  if (!ok && !temp.path.empty()) std::remove(temp.path.c_str());
  temp.path.clear();
  return ok;
}

void OutputFile::Abandon() {
  unsynced = 0;
  if (temp.stream) std::fclose(temp.stream);
  temp.stream = nullptr;
  if (!inPlace && !temp.path.empty()) std::remove(temp.path.c_str());
  temp.path.clear();
  inPlace = false;
}

}  // namespace larkconv
