#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "filesys.h"

namespace larkconv {

/// A destination written so that a failed run never damages it: a new file
/// beside it that replaces it only on Commit, or, for a destination that is a
/// device, FIFO or terminal, the destination itself, written in place and
/// never replaced or removed. Used by CsvFile and PdbDatabase::Write.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // abandons what was not committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // The size of the stream's buffer: a write call per thousand 64-byte records.
  static constexpr size_t kBufferSize = 64 * 1024;

  // Opens for writing, through a buffer of kBufferSize. With append the new file starts with the
  // existing destination's bytes; with text, lines end the platform's text way. False when the
  // destination cannot be written (a directory, a missing folder, no permission), having changed
  // nothing.
  bool Open(const std::string& path, bool append, bool text);
  FILE* Stream() const { return temp.stream; }
  // Writes the length bytes at bytes; false on a write error. Every mebibyte
  // of a new file starts on its way to disk without waiting, so that Commit
  // has little left to wait for.
  bool Write(const void* bytes, size_t length);

  // Flushes, syncs and puts the new file in place of the destination (or
  // flushes and closes a destination written in place). False on any failure,
  // in which case a replaced destination is as it was and nothing is left.
  bool Commit();
  // Closes without replacing anything; a new file beside the destination goes.
  void Abandon();

 private:
  void UseBuffer();
  bool CopyExisting();

  filesys::TempFile temp;          // the new file, or the destination itself when inPlace
  std::unique_ptr<char[]> buffer;  // the stream's buffer, outliving its close
  std::string target;              // the file replaced on Commit
  bool inPlace = false;
  size_t unsynced = 0;  // bytes written since the last write-back began
};

}  // namespace larkconv
