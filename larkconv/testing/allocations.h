#pragma once

// Test support: replaces operator new and delete for the whole test program
// (link allocations.cpp into it) to measure the largest single request, so
// that tests can show a faulty file never makes the reader allocate what its
// counts and offsets claim.

#include <cstddef>

namespace larkconv_testing {

/// Measures the largest single request to operator new from any thread while
/// it lives; at most one lives at a time. Made around the code measured.
class AllocationWatch {
 public:
  AllocationWatch();
  ~AllocationWatch();
  AllocationWatch(const AllocationWatch&) = delete;
  AllocationWatch& operator=(const AllocationWatch&) = delete;

  size_t Largest() const;
};

}  // namespace larkconv_testing
