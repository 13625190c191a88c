// Where cache items live: one heap for every item of the process, in size
// classes, its room taken in slices of the process's large pages
// (platform::LargePageSlices). A decode makes tens of thousands of items of a few sizes and lets
// them all go together; from the general heap each item cost a page fault
// per 4 KB and a search of its bins. Freed room goes back to its size class
// for the next item of that size, not to the system.
//
// With AddressSanitizer the items come from the general heap, so that a use
// after free is still caught.
#pragma once

#include <cstddef>

namespace oriel {

class ItemHeap {
public:
    // Room for an object of `size` bytes, aligned for any item.
    static void* Allocate(size_t size);
    // Room Allocate gave for `size` bytes.
    static void Free(void* block, size_t size) noexcept;
    // The bytes taken from the system in chunks (for the benchmarks).
    static size_t ReservedBytes();
    // The bytes of the pooled items now alive, rounded to their classes
    // (for the benchmarks: room reused after other items went is counted).
    static size_t InUseBytes();

    // Objects up to this size are pooled; larger ones use the general heap.
    static constexpr size_t kLargestPooled = 1024;
    // Sizes are rounded to this, and room is aligned to it: items hold
    // pointers and 64-bit numbers, nothing that asks for more.
    static constexpr size_t kAlignment = 8;
};

} // namespace oriel
