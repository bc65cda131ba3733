#pragma once

// The few file-system operations that differ between platforms, used to
// replace a PDB file safely: one implementation per platform, chosen by the
// build (filesys_posix.cpp, filesys_win32.cpp).

#include <cstdint>
#include <cstdio>
#include <string>

namespace filesys {

/// A new, empty file opened for binary writing beside a destination, and its
/// path. Made by CreateTempBeside for PdbDatabase::Write, which removes or renames it.
struct TempFile {
  FILE* stream = nullptr;
  std::string path;
};

// The path whose file is really written when writing to path: on platforms
// with symbolic links a link is followed, so that replacing keeps the link.
std::string ResolveTarget(const std::string& path);

// True when no file exists at path, or when the existing one may be written.
bool WritableOrAbsent(const std::string& path);

// Creates a file with a unique name in the directory of path; false on failure.
bool CreateTempBeside(const std::string& path, TempFile* temp);

// Gives the file at temp the permission bits of the file at dest, or those of
// a newly created file when dest does not exist. False on failure.
bool AdoptPermissions(const std::string& temp, const std::string& dest);

// Flushes the stream's buffers and asks the system to put its data on disk.
bool FlushToDisk(FILE* stream);

// Puts the file at from in place of the file at to in one step (replacing it
// when it exists) and makes the change durable as far as the platform allows.
bool MoveIntoPlace(const std::string& from, const std::string& to);

// Length in bytes of the open file, or -1 when it cannot be determined.
int64_t FileLength(FILE* stream);

}  // namespace filesys
