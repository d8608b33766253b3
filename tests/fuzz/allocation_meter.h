#pragma once

// Counts the bytes held through the sanitizer's allocator, so a fuzz target can check that
// reading an input costs no more than a small multiple of its size. Fuzz targets run on one
// thread; the counts are for that thread's work only as long as no other thread allocates.

#include <sanitizer/allocator_interface.h>

#include <cstddef>
#include <cstdlib>

namespace zennic::fuzz {

class AllocationMeter {
 public:
  // Starts counting afresh from what is held now.
  static void Reset() {
    held_ = 0;
    peak_ = 0;
    Install();
  }
  // The most held at once since Reset.
  static size_t Peak() { return peak_; }
  // Ends the run when the peak exceeds `limit`.
  static void Expect(size_t limit) {
    if (peak_ > limit) std::abort();
  }

 private:
  static void Install() {
    static bool installed = __sanitizer_install_malloc_and_free_hooks(&OnMalloc, &OnFree) != 0;
    (void)installed;
  }
  static void OnMalloc(const volatile void*, size_t size) {
    held_ += static_cast<long long>(size);
    if (held_ > 0 && static_cast<size_t>(held_) > peak_) peak_ = static_cast<size_t>(held_);
  }
  static void OnFree(const volatile void* pointer) {
    held_ -= static_cast<long long>(__sanitizer_get_allocated_size(const_cast<const void*>(pointer)));
  }

  static inline long long held_ = 0;
  static inline size_t peak_ = 0;
};

}  // namespace zennic::fuzz
