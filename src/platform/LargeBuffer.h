// Room for bytes about to be written, not cleared first. A buffer of many
// megabytes (a large read) is mapped on its own and asks the kernel for
// large pages: filling it then costs a handful of page faults instead of one
// per 4 KB page, which for a 10 MB index was as much time as parsing it.
#pragma once

#include <cstddef>

namespace oriel::platform {

class LargeBuffer {
public:
    LargeBuffer() = default;
    explicit LargeBuffer(size_t size);
    ~LargeBuffer();
    LargeBuffer(LargeBuffer&& other) noexcept;
    LargeBuffer& operator=(LargeBuffer&& other) noexcept;
    LargeBuffer(const LargeBuffer&) = delete;
    LargeBuffer& operator=(const LargeBuffer&) = delete;

    char* data() const { return data_; }
    size_t size() const { return size_; }

    // From this size up the buffer is a mapping of its own, aligned to
    // large pages; below it, plain heap.
    static constexpr size_t kMappedFrom = size_t(4) << 20;
    // The bytes of all buffers' mappings now held that are in memory (pages
    // touched, a whole large page where the kernel gave one): what the
    // general heap does not count, for the benchmarks. Slices are not
    // counted here: their users count what they hold.
    static size_t ResidentBytes();

private:
    void Release();

    char* data_ = nullptr;
    size_t size_ = 0;
    // The length of data_'s mapping; 0: data_ is plain heap.
    size_t mappedSize_ = 0;
};

// Room in slices of 64 KB, cut one after another from mappings of large
// pages that every user in the process shares: the item heap and each
// cache's text store. When each filled blocks of its own, each left a large
// page partly used at its end (2 MB, up to a hundred bytes an item over
// 40,000 items); cut from one stream, all of them together leave at most
// one. The first 2 MB are small pages, so that a process with a few items
// stays small, unless many are expected before the first slice is taken
// (ExpectMany). A slice given back is kept for the next taker, not returned
// to the system. With AddressSanitizer the slices come from the general
// heap, so that a use after a slice is given back is still caught.
class LargePageSlices {
public:
    static constexpr size_t kSliceSize = 64 * 1024;
    // One slice, not cleared; throws std::bad_alloc when the system has no
    // room left.
    static char* Take();
    // A slice Take gave, for reuse.
    static void Give(char* slice) noexcept;
    // Says that `bytes` of slices are about to be taken (a decoder that
    // knows its index is megabytes long): when they fill more than the
    // first 2 MB and no slice has been taken yet, those come in a large
    // page too, one page fault instead of 512.
    static void ExpectMany(size_t bytes) noexcept;
};

} // namespace oriel::platform
