#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace gantry {

/// The file an export or a screen shot ends in, never damaged by a call that
/// fails: the emulator writes a temporary file reserved beside it, and only a
/// file found good is put in its place. A regular file (or the target of a
/// link) is replaced in one step and keeps its permission bits; a device or
/// FIFO is written in place and never replaced or removed. Whatever temporary
/// file is left at the end goes. Owned by one exported call.
class Destination {
 public:
  Destination() = default;
  ~Destination();
  Destination(const Destination&) = delete;
  Destination& operator=(const Destination&) = delete;

  // Reserves an empty temporary file for the destination path, whose own
  // path has at most maxLength characters, and with withPpmTwin also its
  // twin (PpmTwinOf). False, having changed nothing, when path is a folder or
  // can't be written, or no temporary file can be made within maxLength
  // characters.
  bool Reserve(const std::string& path, size_t maxLength, bool withPpmTwin);
  const std::string& TempPath() const { return temp; }
  const std::string& TwinPath() const { return twin; }

  // Puts the reserved file at written (TempPath or TwinPath) in place of the
  // destination. False when that fails: the destination is then as it was,
  // or, a device or FIFO, holds what reached it before the failure.
  bool PutInPlace(std::string written);

 private:
  void RemoveReserved();
  bool ReserveIn(const std::string& folder, size_t maxLength, bool withPpmTwin);

  std::string target;  // the file replaced, or the stream written
  bool stream = false;
  std::string temp;
  std::string twin;
};

// The path with the extension of its file name replaced by ".ppm", or ".ppm"
// added to a name without one (a leading dot starts no extension): where the
// emulator's Unix build writes a screen shot it is asked to write at path.
std::string PpmTwinOf(const std::string& path);

// A name for a temporary file of at most room characters (none when room is
// 0): "gantry-XXXXXX.tmp" when there is room, fewer random letters and digits
// before ".tmp" when less, letters and digits alone below five. draw picks
// the letters.
std::string TempFileName(size_t room, uint64_t draw);

}  // namespace gantry
