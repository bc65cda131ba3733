#include "turns.h"

#include <chrono>
#include <new>

namespace gantry {

bool CallTurns::Take(uint32_t timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> lock(mutex);
  const uint64_t ticket = nextTicket++;
  while (serving != ticket || held) {
    if (turnChanged.wait_until(lock, deadline) == std::cv_status::timeout &&
        (serving != ticket || held)) {
      abandoned.insert(ticket);
      SkipAbandonedLocked();
      return false;
    }
  }
  held = true;
  return true;
}

void CallTurns::Give() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    held = false;
    ++serving;
    SkipAbandonedLocked();
  }
  turnChanged.notify_all();
}

int CallTurns::Waiting() const {
  std::lock_guard<std::mutex> lock(mutex);
  const uint64_t queued = nextTicket - serving - (held ? 1 : 0);
  return static_cast<int>(queued - abandoned.size());
}

void CallTurns::SkipAbandonedLocked() {
  while (!held && abandoned.erase(serving) != 0)
    ++serving;
}

CallTurns& ProcessCallTurns() {
  // Made in static storage and never destroyed: nothing for a leak check to
  // find once the library is unloaded, nothing gone under a call still under
  // way while the process ends.
  alignas(CallTurns) static unsigned char storage[sizeof(CallTurns)];
  static CallTurns* const turns = new (storage) CallTurns;
  return *turns;
}

}  // namespace gantry
