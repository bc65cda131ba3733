#pragma once

// The few file-system operations that differ between platforms, under
// OutputFile (replacing a destination safely) and the PDB reader: one
// implementation per platform, chosen by the build (filesys_posix.cpp,
// filesys_win32.cpp).

#include <cstdint>
#include <cstdio>
#include <string>

namespace larkconv::filesys {

/// What stands at a destination path, links followed. Told by KindOf to
/// OutputFile, which replaces a regular file and writes a stream in place.
enum class PathKind {
  Missing,
  Regular,
  Directory,
  Stream,  // a device, FIFO, terminal or socket: written in place, never replaced
};

/// A new file being written beside a destination. Where the platform allows,
/// it has no name (path empty) until NameTemp gives it one just before it
/// replaces the destination, so that a killed run leaves nothing behind.
struct TempFile {
  FILE* stream = nullptr;
  std::string path;
};

PathKind KindOf(const std::string& path);

// The path really written when writing to path: symbolic links are followed,
// also a dangling one, so that replacing keeps the link (and creates its target).
std::string ResolveTarget(const std::string& path);

// True when no file exists at path, or when the existing one may be written.
bool WritableOrAbsent(const std::string& path);

// Creates an empty file for binary writing in the directory of target.
bool CreateTempBeside(const std::string& target, TempFile* temp);

// Gives an unnamed temp file a unique name beside target; a no-op for a named one.
bool NameTemp(const std::string& target, TempFile* temp);

// Gives the temp file the permission bits of the file at dest (never
// set-user-ID, set-group-ID or sticky), or those of a newly created file when
// dest does not exist. False on failure.
bool AdoptPermissions(const TempFile& temp, const std::string& dest);

// Lines written to stream from now on end the platform's text way.
void UseTextMode(FILE* stream);

// What a "\n" becomes in a file written in text mode: "\n" or "\r\n".
const char* TextLineEnd();

// Flushes the stream's buffers and lets the system start putting the data on
// disk without waiting for it, where the platform can; otherwise nothing.
void StartWriteBack(FILE* stream);

// Flushes the stream's buffers and asks the system to put its data on disk.
bool FlushToDisk(FILE* stream);

// Puts the file at from in place of the file at to in one step (replacing it
// when it exists) and makes the change durable as far as the platform allows.
bool MoveIntoPlace(const std::string& from, const std::string& to);

// Length in bytes of the open file, or -1 when it is not a regular file.
int64_t FileLength(FILE* stream);

}  // namespace larkconv::filesys
