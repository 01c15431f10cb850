// Counts every allocation of the benchmark program by replacing the global allocation functions.
#include "allocations.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::size_t> count{0};
}  // namespace

namespace lumaret::bench {
std::size_t allocations() {
  return count.load(std::memory_order_relaxed);
}
}  // namespace lumaret::bench

void* operator new(std::size_t size) {
  count.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
