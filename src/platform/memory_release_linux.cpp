#include "platform/memory_release.h"

#include <malloc.h>

namespace zennic {
namespace {

// Enough that the few threads that allocate at once rarely wait for one another; each thread
// also keeps a small cache of its own that needs no arena at all.
constexpr int kMaxArenas = 4;

}  // namespace

void LimitAllocatorArenas() { ::mallopt(M_ARENA_MAX, kMaxArenas); }

void ReturnLargeBlocksToSystem() {
  // Fixed thresholds: left to adjust themselves, they rise after each large block to tens of
  // MiB, and every thread's arena then keeps that much free memory resident.
  ::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  ::mallopt(M_TRIM_THRESHOLD, 1024 * 1024);
}

void ReleaseFreeMemoryToSystem() { ::malloc_trim(0); }

}  // namespace zennic
