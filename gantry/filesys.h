#pragma once

// The file-system operations gantry needs beyond the standard streams: what
// stands at a path, and the steps that put a file the emulator wrote in place
// of a destination without damaging it. One implementation per platform
// (filesys_posix.cpp, filesys_win32.cpp), chosen by the build.

#include <cstddef>
#include <cstdint>
#include <string>

namespace gantry::filesys {

/// What stands at a path, links followed. Told by KindOf to the exports'
/// file checks and to Destination, which replaces a regular file and writes
/// a stream in place.
enum class PathKind {
  Missing,
  Regular,
  Directory,
  Stream,  // a device, FIFO, terminal or socket: written in place, never replaced
};

PathKind KindOf(const std::string& path);

// Whether the path names a file without reference to a working folder: the
// emulator, another process, has a working folder of its own.
bool IsAbsolute(const std::string& path);

// Where the file name in path begins: just after the last folder separator,
// or 0 when there is none.
size_t NameStart(const std::string& path);

// The path really written when writing to path: symbolic links are followed,
// also a dangling one, so that replacing keeps the link (and creates its target).
std::string ResolveTarget(const std::string& path);

// True when nothing exists at path, or when what exists may be written.
bool WritableOrAbsent(const std::string& path);

// Creates an empty file at path, with the permissions of a new file; false
// when anything exists there already or the file can't be made.
bool CreateNew(const std::string& path);

// The folder of the system's temporary files, ending in a separator.
std::string TempFolder();

// The length of the regular file at path, or -1.
int64_t FileLength(const std::string& path);

// Gives the file at path the permission bits of the file at dest (never
// set-user-ID, set-group-ID or sticky); nothing to do when dest doesn't exist.
bool AdoptPermissions(const std::string& path, const std::string& dest);

// Asks the system to put the file's data on disk.
bool FlushToDisk(const std::string& path);

// Puts the file at from in place of the file at to in one step (replacing it
// when it exists) and makes the change durable as far as the platform allows.
bool MoveIntoPlace(const std::string& from, const std::string& to);

// Removes the file at path; false when there was none or it stays.
bool Remove(const std::string& path);

}  // namespace gantry::filesys
