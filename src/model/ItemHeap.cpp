#include "model/ItemHeap.h"

#include "platform/AddressSanitizer.h"
#include "platform/LargeBuffer.h"

#include <array>
#include <mutex>
#include <new>

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
            NewChunk();
        void* at = next_;
        next_ += rounded;
        left_ -= rounded;
        inUse_ += rounded;
        return at;
    }

    void Free(void* block, size_t size) noexcept
    {
        const size_t cls = ClassOf(size);
        std::lock_guard lock(mutex_);
        auto* freed = static_cast<FreeBlock*>(block);
        freed->next = free_[cls];
        free_[cls] = freed;
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

    // The end of the current chunk is dropped: less than one item's room.
    void NewChunk()
    {
        next_ = platform::LargePageSlices::Take();
        left_ = kChunk;
        reserved_ += kChunk;
    }

    std::mutex mutex_;
    std::array<FreeBlock*, kClasses> free_{};
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

} // namespace

void* ItemHeap::Allocate(size_t size)
{
    if (ORIEL_ADDRESS_SANITIZER || size > kLargestPooled)
        return ::operator new(size);
    return ThePool().Allocate(size);
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
