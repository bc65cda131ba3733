#include "cpus.h"

#include <pthread.h>
#include <sched.h>

namespace larkconv::cpus {

#ifdef CPU_SET

struct ProcessorSplit::Saved {
  cpu_set_t had;  // the calling thread's processors before the split
  int tied;       // the one it is tied to
};

ProcessorSplit::ProcessorSplit() {
  auto split = std::make_unique<Saved>();
  split->tied = sched_getcpu();
  if (split->tied < 0 || split->tied >= CPU_SETSIZE) return;
  if (pthread_getaffinity_np(pthread_self(), sizeof split->had, &split->had) != 0) return;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(split->tied, &one);
  if (pthread_setaffinity_np(pthread_self(), sizeof one, &one) != 0) return;
  saved = std::move(split);
}

ProcessorSplit::~ProcessorSplit() {
  if (saved) pthread_setaffinity_np(pthread_self(), sizeof saved->had, &saved->had);
}

void ProcessorSplit::MoveHelper(std::thread& helper) const {
  if (!saved) return;
  cpu_set_t others = saved->had;
  CPU_CLR(saved->tied, &others);
  if (CPU_COUNT(&others) > 0)
    pthread_setaffinity_np(helper.native_handle(), sizeof others, &others);
}

#else  // no processor sets: the scheduler places the threads alone

struct ProcessorSplit::Saved {};
ProcessorSplit::ProcessorSplit() = default;
ProcessorSplit::~ProcessorSplit() = default;
void ProcessorSplit::MoveHelper(std::thread&) const {}

#endif

}  // namespace larkconv::cpus
