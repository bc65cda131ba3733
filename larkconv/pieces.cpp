#include "pieces.h"

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "cpus.h"

namespace larkconv {

namespace {

/// The pieces of one RunInPieces and the slots that hold them, shared by the
/// calling thread and the helper under one mutex.
class Relay {
 public:
  explicit Relay(const PieceSteps& steps) : steps(steps) {}

  // The calling thread: finishes the pieces in order, taking and converting
  // pieces itself whenever the next one to finish is not ready.
  void RunCaller() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      Slot* next = SlotOf(nextFinish);
      if (next && next->state == State::Ready) {
        Finish(next, lock);
      } else if (ended && !next) {
        return;  // every piece taken is finished
      } else if (CanTake()) {
        DoPiece(0, lock);
      } else {
        changed.wait(lock);
      }
    }
  }

  // The helper thread: takes and converts pieces while there are free slots.
  void RunHelper() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping && !ended) {
      if (CanTake()) {
        DoPiece(1, lock);
      } else {
        changed.wait(lock);
      }
    }
  }

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
    }
    changed.notify_all();
  }

 private:
  enum class State { Free, Busy, Ready };
  struct Slot {
    State state = State::Free;
    size_t piece = 0;
    std::exception_ptr fault;
  };

  bool CanTake() const { return !taking && !ended && !stopping && FreeSlot() >= 0; }

  int FreeSlot() const {
    for (int i = 0; i < kPieceSlots; ++i) {
      if (slots[i].state == State::Free) return i;
    }
    return -1;
  }

  Slot* SlotOf(size_t piece) {
    for (Slot& slot : slots) {
      if (slot.state != State::Free && slot.piece == piece) return &slot;
    }
    return nullptr;
  }

  // Takes the next piece into a free slot and converts it on worker, with
  // the lock released meanwhile. A fault ends the taking of pieces: the
  // pieces after it would never be finished. A converting fault replaces one
  // of taking: its record or row comes before the end of the input that take
  // ran into.
  void DoPiece(int worker, std::unique_lock<std::mutex>& lock) {
    const int index = FreeSlot();
    Slot& slot = slots[index];
    slot.state = State::Busy;
    slot.piece = nextTake;
    slot.fault = nullptr;
    taking = true;
    lock.unlock();
    bool taken = false;
    std::exception_ptr fault;
    try {
      taken = steps.take(index);
    } catch (...) {
      fault = std::current_exception();
      taken = true;  // with what it took before the fault
    }
    lock.lock();
    taking = false;
    ended = ended || !taken || fault;
    if (!taken) {
      slot.state = State::Free;
      changed.notify_all();
      return;
    }
    ++nextTake;
    changed.notify_all();
    lock.unlock();
    try {
      steps.convert(index, worker);
    } catch (...) {
      fault = std::current_exception();
    }
    lock.lock();
    if (fault) ended = true;
    slot.fault = fault;
    slot.state = State::Ready;
    changed.notify_all();
  }

  // Finishes the slot's piece on the calling thread and frees the slot, or
  // throws the piece's fault once it is finished.
  void Finish(Slot* slot, std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    steps.finish(static_cast<int>(slot - slots));
    if (slot->fault) std::rethrow_exception(slot->fault);
    lock.lock();
    slot->state = State::Free;
    ++nextFinish;
    changed.notify_all();
  }

  const PieceSteps& steps;
  std::mutex mutex;
  std::condition_variable changed;
  Slot slots[kPieceSlots];
  size_t nextTake = 0;    // the piece whose input is taken next
  size_t nextFinish = 0;  // the piece finished next
  bool taking = false;    // a thread is taking input
  bool ended = false;     // no piece is taken from nextTake on
  bool stopping = false;  // the calling thread has left the run
};

/// Stops and joins the helper thread, if there is one, however the run ends.
struct HelperJoin {
  Relay& relay;
  std::thread& thread;
  ~HelperJoin() {
    if (!thread.joinable()) return;
    relay.Stop();
    thread.join();
  }
};

}  // namespace

void RunInPieces(const PieceSteps& steps, bool helper) {
  Relay relay(steps);
  std::unique_ptr<cpus::ProcessorSplit> split;
  std::thread thread;
  if (helper) {
    try {
      split = std::make_unique<cpus::ProcessorSplit>();
      thread = std::thread(&Relay::RunHelper, &relay);
      split->MoveHelper(thread);
    } catch (const std::system_error&) {
      // One thread does it all.
    }
  }
  HelperJoin join{relay, thread};
  relay.RunCaller();
}

}  // namespace larkconv
