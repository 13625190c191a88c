#include "model/ItemArena.h"

#include <algorithm>

namespace oriel {

ItemArena::~ItemArena()
{
    Clear();
}

namespace {
thread_local ItemArena::Lane* tCurrentLane = nullptr;
} // namespace

ItemArena::Lane* ItemArena::CurrentLane()
{
    Lane* lane = tCurrentLane;
    return lane && &lane->arena_ == this ? lane : nullptr;
}

char* ItemArena::Allocate(size_t size)
{
    if (Lane* lane = CurrentLane())
        return lane->Allocate(size);
    std::lock_guard lock(mutex_);
    return AllocateLocked(size);
}

char* ItemArena::AllocateLocked(size_t size)
{
    return CutLocked(next_, left_, size);
}

char* ItemArena::CutLocked(char*& next, size_t& left, size_t size)
{
    if (size > left) {
        if (size > kBlockSize / 4) {
            // A long text (a large header block) in a block of its own, so
            // that the rest of the current block is not wasted.
            large_.push_back(std::make_unique_for_overwrite<char[]>(size));
            reserved_ += size;
            return large_.back().get();
        }
        // Room in the list first, so that a slice once taken is never lost.
        if (blocks_.size() == blocks_.capacity())
            blocks_.reserve(std::max<size_t>(16, 2 * blocks_.capacity()));
        blocks_.push_back(platform::LargePageSlices::Take());
        reserved_ += kBlockSize;
        next = blocks_.back();
        left = kBlockSize;
    }
    char* at = next;
    next += size;
    left -= size;
    return at;
}

ItemArena::Lane::Lane(ItemArena& arena)
    : arena_(arena)
    , outer_(tCurrentLane)
{
    tCurrentLane = this;
    // The lane goes on in the arena's current block, and hands back what
    // is left of its own when it closes: lanes leave no room unused.
    std::lock_guard lock(arena_.mutex_);
    std::swap(next_, arena_.next_);
    std::swap(left_, arena_.left_);
}

ItemArena::Lane::~Lane()
{
    tCurrentLane = outer_;
    std::lock_guard lock(arena_.mutex_);
    if (left_ > arena_.left_) {
        arena_.next_ = next_;
        arena_.left_ = left_;
    }
}

char* ItemArena::Lane::Allocate(size_t size)
{
    // The lock only when the lane's block is used up.
    if (size > left_) {
        std::lock_guard lock(arena_.mutex_);
        return arena_.CutLocked(next_, left_, size);
    }
    char* at = next_;
    next_ += size;
    left_ -= size;
    return at;
}

ItemText ItemArena::Lane::Common(std::string_view text)
{
    if (auto found = common_.find(text); found != common_.end())
        return found->second;
    // The arena's own table decides which texts are held once; the lane
    // keeps what it was given, as many texts as the arena's table holds.
    const ItemText held = arena_.CommonInTable(text);
    if (common_.size() < kCommonTexts)
        common_.emplace(*held, held);
    return held;
}

ItemText ItemArena::Copy(std::string_view text)
{
    return ItemText::Place(Allocate(ItemText::RoomFor(text.size())), text);
}

ItemText ItemArena::Share(std::shared_ptr<const std::string> block)
{
    if (!block)
        return {};
    std::lock_guard lock(mutex_);
    if (ItemText::FitsView(block->size())) {
        const ItemText view = ItemText::View(block->c_str(), block->size());
        KeepLocked(std::move(block));
        return view;
    }
    auto [at, added] = longShared_.try_emplace(block.get());
    if (added) {
        at->second = ItemText::Place(AllocateLocked(ItemText::RoomFor(block->size())), *block);
        KeepLocked(std::move(block));
    }
    return at->second;
}

ItemText ItemArena::Common(std::string_view text)
{
    if (text.size() > kCommonLongest)
        return Copy(text);
    if (Lane* lane = CurrentLane())
        return lane->Common(text);
    return CommonInTable(text);
}

ItemText ItemArena::CommonInTable(std::string_view text)
{
    std::lock_guard lock(mutex_);
    if (auto found = common_.find(text); found != common_.end())
        return found->second;
    const ItemText copy = ItemText::Place(AllocateLocked(ItemText::RoomFor(text.size())), text);
    if (common_.size() < kCommonTexts)
        common_.emplace(*copy, copy);
    return copy;
}

void ItemArena::KeepLocked(std::shared_ptr<const void> block)
{
    // Items that share a block come one after another: keep it once.
    if (!kept_.empty() && kept_.back() == block)
        return;
    kept_.push_back(std::move(block));
}

void ItemArena::Clear()
{
    std::lock_guard lock(mutex_);
    for (char* block : blocks_)
        platform::LargePageSlices::Give(block);
    blocks_.clear();
    blocks_.shrink_to_fit();
    large_.clear();
    large_.shrink_to_fit();
    kept_.clear();
    kept_.shrink_to_fit();
    longShared_.clear();
    common_.clear();
    next_ = nullptr;
    left_ = 0;
    reserved_ = 0;
}

size_t ItemArena::SliceBytes() const
{
    std::lock_guard lock(mutex_);
    return blocks_.size() * kBlockSize;
}

size_t ItemArena::ReservedBytes() const
{
    std::lock_guard lock(mutex_);
    return reserved_;
}

} // namespace oriel
