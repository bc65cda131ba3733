#pragma once

// Where the two threads of a conversion run: one implementation per platform,
// chosen by the build (cpus_posix.cpp, cpus_win32.cpp).

#include <memory>
#include <thread>

namespace larkconv::cpus {

/// Keeps the calling thread and a helper thread on different processors for
/// the length of a run. Some schedulers (those of virtual machines above all)
/// put a thread that was just woken on the processor of the thread that woke
/// it, where it waits until that one blocks: the two would take turns instead
/// of working at once. Made by RunInPieces on its calling thread.
class ProcessorSplit {
 public:
  ProcessorSplit();   // ties the calling thread to the processor it runs on
  ~ProcessorSplit();  // gives it back the processors it had
  ProcessorSplit(const ProcessorSplit&) = delete;
  ProcessorSplit& operator=(const ProcessorSplit&) = delete;

  // Moves the helper to the calling thread's other processors at once, even
  // while the calling thread keeps its own busy. Does nothing where there are
  // none, or the system refuses.
  void MoveHelper(std::thread& helper) const;

 private:
  struct Saved;
  std::unique_ptr<Saved> saved;  // null when nothing was changed
};

}  // namespace larkconv::cpus
