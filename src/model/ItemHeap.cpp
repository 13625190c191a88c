#include "model/ItemHeap.h"

#include "platform/LargeBuffer.h"

#include <array>
#include <mutex>
#include <new>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define ORIEL_ITEM_HEAP_POOLED 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORIEL_ITEM_HEAP_POOLED 0
#endif
#endif
#ifndef ORIEL_ITEM_HEAP_POOLED
#define ORIEL_ITEM_HEAP_POOLED 1
#endif

namespace oriel {

namespace {

constexpr size_t kClasses = ItemHeap::kLargestPooled / ItemHeap::kAlignment;
// The first chunks are small, so that a process with a few items stays
// small; from a few megabytes on, chunks of large pages.
constexpr size_t kSmallChunk = 64 * 1024;
constexpr size_t kSmallChunks = 8;
constexpr size_t kLargeChunk = platform::LargeBuffer::kMappedFrom;

struct FreeBlock {
    FreeBlock* next;
};

class Pool {
public:
    void* Allocate(size_t size)
    {
        const size_t cls = ClassOf(size);
        std::lock_guard lock(mutex_);
        if (FreeBlock* block = free_[cls]) {
            free_[cls] = block->next;
            // The room freed items leave is cold and scattered (a cache's
            // items go together): the block after this one is asked for now,
            // while this item is being made, so the next item does not wait
            // for it.
            if (block->next)
                __builtin_prefetch(block->next, 1);
            return block;
        }
        const size_t rounded = (cls + 1) * ItemHeap::kAlignment;
        if (rounded > left_)
            NewChunk();
        void* at = next_;
        next_ += rounded;
        left_ -= rounded;
        return at;
    }

    void Free(void* block, size_t size) noexcept
    {
        const size_t cls = ClassOf(size);
        std::lock_guard lock(mutex_);
        auto* freed = static_cast<FreeBlock*>(block);
        freed->next = free_[cls];
        free_[cls] = freed;
    }

    size_t Reserved()
    {
        std::lock_guard lock(mutex_);
        return reserved_;
    }

private:
    static size_t ClassOf(size_t size) { return (size ? size - 1 : 0) / ItemHeap::kAlignment; }

    // The end of the current chunk is dropped: less than one item's room.
    void NewChunk()
    {
        const size_t size = chunks_.size() < kSmallChunks ? kSmallChunk : kLargeChunk;
        chunks_.emplace_back(size);
        next_ = chunks_.back().data();
        left_ = size;
        reserved_ += size;
    }

    std::mutex mutex_;
    std::array<FreeBlock*, kClasses> free_{};
    std::vector<platform::LargeBuffer> chunks_;
    char* next_ = nullptr;
    size_t left_ = 0;
    size_t reserved_ = 0;
};

// Never destroyed: items of statics may outlive any other static.
Pool& ThePool()
{
    static Pool* pool = new Pool;
    return *pool;
}

} // namespace

void* ItemHeap::Allocate(size_t size)
{
    if (!ORIEL_ITEM_HEAP_POOLED || size > kLargestPooled)
        return ::operator new(size);
    return ThePool().Allocate(size);
}

void ItemHeap::Free(void* block, size_t size) noexcept
{
    if (!block)
        return;
    if (!ORIEL_ITEM_HEAP_POOLED || size > kLargestPooled) {
        ::operator delete(block);
        return;
    }
    ThePool().Free(block, size);
}

size_t ItemHeap::ReservedBytes()
{
    return ORIEL_ITEM_HEAP_POOLED ? ThePool().Reserved() : 0;
}

} // namespace oriel
