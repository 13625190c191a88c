#include "model/ItemHeap.h"

#include "platform/AddressSanitizer.h"
#include "platform/LargeBuffer.h"

#include <array>
#include <atomic>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace oriel {

namespace {

constexpr size_t kClasses = ItemHeap::kLargestPooled / ItemHeap::kAlignment;
// Chunks are slices of the process's stream of large pages, which the
// texts of the items share.
constexpr size_t kChunk = platform::LargePageSlices::kSliceSize;

struct FreeBlock {
    FreeBlock* next;
};

class Pool {
public:
    void* Allocate(size_t size)
    {
        const size_t cls = ClassOf(size);
        const size_t rounded = RoomOf(cls);
        std::lock_guard lock(mutex_);
        if (FreeBlock* block = free_[cls]) {
            free_[cls] = block->next;
            freeBlocks_.store(freeBlocks_.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
            // The room freed items leave is cold and scattered (a cache's
            // items go together): the block after this one is asked for now,
            // while this item is being made, so the next item does not wait
            // for it.
            if (block->next)
                __builtin_prefetch(block->next, 1);
            inUse_ += rounded;
            return block;
        }
        if (rounded > left_)
            std::tie(next_, left_) = TakeChunkLocked();
        return Cut(next_, left_, inUse_, rounded);
    }

    // Without the lock while nothing freed waits for reuse: the count of
    // freed blocks is then only read, and its cache line stays shared.
    void* AllocateInLane(size_t size, char*& next, size_t& left, size_t& inUse)
    {
        if (freeBlocks_.load(std::memory_order_relaxed) != 0)
            return Allocate(size);
        const size_t rounded = RoomOf(ClassOf(size));
        if (rounded > left) {
            std::lock_guard lock(mutex_);
            std::tie(next, left) = TakeChunkLocked();
        }
        return Cut(next, left, inUse, rounded);
    }

    void CloseLane(char* next, size_t left, size_t inUse)
    {
        std::lock_guard lock(mutex_);
        inUse_ += inUse;
        if (left >= kMinTail)
            tails_.emplace_back(next, left);
    }

    void Free(void* block, size_t size) noexcept
    {
        const size_t cls = ClassOf(size);
        std::lock_guard lock(mutex_);
        auto* freed = static_cast<FreeBlock*>(block);
        freed->next = free_[cls];
        free_[cls] = freed;
        freeBlocks_.store(freeBlocks_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        inUse_ -= RoomOf(cls);
    }

    size_t InUse()
    {
        std::lock_guard lock(mutex_);
        return inUse_;
    }

    size_t Reserved()
    {
        std::lock_guard lock(mutex_);
        return reserved_;
    }

private:
    static size_t ClassOf(size_t size) { return (size ? size - 1 : 0) / ItemHeap::kAlignment; }
    static size_t RoomOf(size_t cls) { return (cls + 1) * ItemHeap::kAlignment; }
    // `rounded` bytes from the chunk at `next` (the heap's, or a lane's),
    // which holds them, counted in `inUse`.
    static void* Cut(char*& next, size_t& left, size_t& inUse, size_t rounded)
    {
        void* at = next;
        next += rounded;
        left -= rounded;
        inUse += rounded;
        return at;
    }

    // The end of the current chunk is dropped: less than one item's room.
    // What closed lanes left is used before a new slice.
    std::pair<char*, size_t> TakeChunkLocked()
    {
        if (!tails_.empty()) {
            const auto tail = tails_.back();
            tails_.pop_back();
            return tail;
        }
        reserved_ += kChunk;
        return {platform::LargePageSlices::Take(), kChunk};
    }
    // A lane's rest smaller than this is dropped, as a chunk's end is.
    static constexpr size_t kMinTail = 4096;

    std::mutex mutex_;
    std::array<FreeBlock*, kClasses> free_{};
    // How many blocks the free lists hold; written under the lock, read by
    // lanes without it (on a line of its own, away from the lock's).
    alignas(64) std::atomic<size_t> freeBlocks_{0};
    std::vector<std::pair<char*, size_t>> tails_;
    char* next_ = nullptr;
    size_t left_ = 0;
    size_t reserved_ = 0;
    size_t inUse_ = 0;
};

// Never destroyed: items of statics may outlive any other static.
Pool& ThePool()
{
    static Pool* pool = new Pool;
    return *pool;
}

thread_local ItemHeap::Lane* tCurrentLane = nullptr;

} // namespace

void* ItemHeap::Allocate(size_t size)
{
    if (ORIEL_ADDRESS_SANITIZER || size > kLargestPooled)
        return ::operator new(size);
    if (Lane* lane = tCurrentLane)
        return ThePool().AllocateInLane(size, lane->next_, lane->left_, lane->inUse_);
    return ThePool().Allocate(size);
}

ItemHeap::Lane::Lane()
    : outer_(tCurrentLane)
{
    tCurrentLane = this;
}

ItemHeap::Lane::~Lane()
{
    tCurrentLane = outer_;
    if (!ORIEL_ADDRESS_SANITIZER && (next_ || inUse_))
        ThePool().CloseLane(next_, left_, inUse_);
}

void ItemHeap::Free(void* block, size_t size) noexcept
{
    if (!block)
        return;
    if (ORIEL_ADDRESS_SANITIZER || size > kLargestPooled) {
        ::operator delete(block);
        return;
    }
    ThePool().Free(block, size);
}

size_t ItemHeap::InUseBytes()
{
    return !ORIEL_ADDRESS_SANITIZER ? ThePool().InUse() : 0;
}

size_t ItemHeap::ReservedBytes()
{
    return !ORIEL_ADDRESS_SANITIZER ? ThePool().Reserved() : 0;
}

} // namespace oriel
