#pragma once

#include <functional>

namespace larkconv {

// The slots pieces are held in between taking and finishing them.
constexpr int kPieceSlots = 4;

/// The three steps of a conversion done piece by piece, each piece held in a
/// slot (0 to kPieceSlots - 1): taking its input, converting it, and
/// finishing it into the output. Filled by the driver, run by RunInPieces.
struct PieceSteps {
  // Takes the next piece's input into the slot; false when the input has
  // ended before it (the slot then holds nothing). Called for one piece at a
  // time, in piece order.
  std::function<bool(int slot)> take;
  // Converts the slot's input on worker 0 (the calling thread) or 1 (the
  // helper); the two may convert different slots at the same time.
  std::function<void(int slot, int worker)> convert;
  // Puts the slot's converted piece into the output. Called on the calling
  // thread, in piece order.
  std::function<void(int slot)> finish;
};

// Runs the pieces until take finds no more. With helper, the calling thread
// and a helper thread each take and convert whichever piece comes next while
// the calling thread also finishes them in order; without it (or when no
// thread can be started) the calling thread does every piece alone. Either
// way the output is the same: an exception from a step ends the run when the
// pieces before it are finished, and its own piece converted and finished as
// far as its input went; it is then rethrown on the calling thread.
void RunInPieces(const PieceSteps& steps, bool helper);

}  // namespace larkconv
