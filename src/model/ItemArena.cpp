#include "model/ItemArena.h"

#include <cstring>

namespace oriel {

char* ItemArena::Allocate(size_t size)
{
    std::lock_guard lock(mutex_);
    if (size > left_) {
        if (size > kBlockSize / 4) {
            // A long text (a large header block) in a block of its own, so
            // that the rest of the current block is not wasted.
            large_.push_back(std::make_unique_for_overwrite<char[]>(size));
            reserved_ += size;
            return large_.back().get();
        }
        const size_t blockSize = reserved_ >= kSmallBlocksUpTo ? kLargeBlockSize : kBlockSize;
        blocks_.emplace_back(blockSize);
        reserved_ += blockSize;
        next_ = blocks_.back().data();
        left_ = blockSize;
    }
    char* at = next_;
    next_ += size;
    left_ -= size;
    return at;
}

const char* ItemArena::Copy(std::string_view text)
{
    char* at = Allocate(text.size() + 1);
    if (!text.empty())
        std::memcpy(at, text.data(), text.size());
    at[text.size()] = '\0';
    return at;
}

void ItemArena::Keep(std::shared_ptr<const void> block)
{
    if (!block)
        return;
    std::lock_guard lock(mutex_);
    // Items that share a block come one after another: keep it once.
    if (!kept_.empty() && kept_.back() == block)
        return;
    kept_.push_back(std::move(block));
}

void ItemArena::Clear()
{
    std::lock_guard lock(mutex_);
    blocks_.clear();
    blocks_.shrink_to_fit();
    large_.clear();
    large_.shrink_to_fit();
    kept_.clear();
    kept_.shrink_to_fit();
    next_ = nullptr;
    left_ = 0;
    reserved_ = 0;
}

size_t ItemArena::ReservedBytes() const
{
    std::lock_guard lock(mutex_);
    return reserved_;
}

} // namespace oriel
