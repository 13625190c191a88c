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

    // While a lane is open on a thread, the items that thread makes take
    // their room from a chunk of the lane's own, without the heap's lock,
    // as long as the heap holds no freed room to reuse first. For a decode
    // that makes its items on two threads at once: taking one lock for
    // every item would pass the lock between the cores tens of thousands of
    // times. Lanes nest; the innermost is used. What is left of the lane's
    // chunk when it closes is kept for the next chunk anyone takes.
    class Lane {
    public:
        Lane();
        ~Lane();
        Lane(const Lane&) = delete;
        Lane& operator=(const Lane&) = delete;

    private:
        friend class ItemHeap;
        Lane* outer_;
        char* next_ = nullptr;
        size_t left_ = 0;
        size_t inUse_ = 0; // added to the heap's count when the lane closes
    };
};

} // namespace oriel
