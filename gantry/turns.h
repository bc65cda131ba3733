#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>

namespace gantry {

/// The queue in which one process's calls wait to use the emulator: one call
/// at a time, first come first served. Every exported call takes a turn
/// before it connects and gives it back after it has closed.
class CallTurns {
 public:
  CallTurns() = default;
  CallTurns(const CallTurns&) = delete;
  CallTurns& operator=(const CallTurns&) = delete;

  // Waits until every caller that came earlier has given its turn back, at
  // most timeoutMs. True when the turn is the caller's (it must Give it
  // back); false when the time ran out, leaving the queue as if the caller
  // had never come.
  bool Take(uint32_t timeoutMs);
  // Ends the turn of the caller that holds it; the next caller in line goes.
  void Give();

  // Callers waiting for a turn, not counting the one that holds it.
  int Waiting() const;

 private:
  // Moves serving past every ticket whose caller gave up waiting.
  void SkipAbandonedLocked();

  mutable std::mutex mutex;
  std::condition_variable turnChanged;
  uint64_t nextTicket = 0;  // the ticket the next caller gets
  uint64_t serving = 0;     // the ticket whose turn it is
  bool held = false;        // the serving ticket's caller has its turn
  std::set<uint64_t> abandoned;
};

// The one queue of this process, for the exported calls. Never destroyed, so
// that a call still under way while the process ends finds it intact.
CallTurns& ProcessCallTurns();

}  // namespace gantry
