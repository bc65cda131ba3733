// The operator new and delete replacements behind AllocationWatch: malloc and
// free, with the largest request noted while a watch lives.

#include "testing/allocations.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> measuring{false};
std::atomic<size_t> largest{0};
}  // namespace

namespace larkconv_testing {

AllocationWatch::AllocationWatch() {
  largest = 0;
  measuring = true;
}

AllocationWatch::~AllocationWatch() {
  measuring = false;
}

size_t AllocationWatch::Largest() const {
  return largest;
}

}  // namespace larkconv_testing

// GCC takes the free() below for a mismatch once it inlines these into a
// new/delete pair, though both sides are the replacements here.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(size_t size) {
  if (measuring && size > largest) largest = size;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) {
  return operator new(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
  std::free(p);
}
