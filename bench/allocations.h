// Heap allocations made by this process so far: the benchmarks report allocations per call next to time.
#pragma once

#include <cstddef>

namespace lumaret::bench {

std::size_t allocations();

}  // namespace lumaret::bench
