#include "model/ItemHeap.h"

#include "model/CacheItem.h"
#include "platform/AddressSanitizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace oriel {
namespace {

TEST(ItemHeap, BlocksOfEverySizeAreAlignedAndApartAcrossThreads)
{
    struct Block {
        unsigned char* at;
        size_t size;
        unsigned char fill;
    };
    std::vector<std::vector<Block>> made(4);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < made.size(); ++t) {
        threads.emplace_back([&made, t] {
            for (int i = 0; i < 20000; ++i) {
                // Sizes across every class, some past the pooled ones; every
                // third block freed again at once, so reuse is exercised.
                const size_t size = size_t(1 + (i * 37 + int(t) * 11) % (ItemHeap::kLargestPooled + 200));
                auto* at = static_cast<unsigned char*>(ItemHeap::Allocate(size));
                const auto fill = static_cast<unsigned char>(i * 4 + int(t));
                std::memset(at, fill, size);
                if (i % 3 == 0)
                    ItemHeap::Free(at, size);
                else
                    made[t].push_back({at, size, fill});
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::vector<Block> all;
    for (const auto& list : made)
        all.insert(all.end(), list.begin(), list.end());
    for (const Block& block : all) {
        ASSERT_EQ(reinterpret_cast<uintptr_t>(block.at) % ItemHeap::kAlignment, 0u);
        // No other block wrote over this one.
        ASSERT_TRUE(std::all_of(block.at, block.at + block.size, [&](unsigned char c) { return c == block.fill; }));
    }
    std::sort(all.begin(), all.end(), [](const Block& a, const Block& b) { return a.at < b.at; });
    for (size_t i = 1; i < all.size(); ++i)
        ASSERT_LE(all[i - 1].at + all[i - 1].size, all[i].at);
    for (const Block& block : all)
        ItemHeap::Free(block.at, block.size);
}

// An item larger than the base class, as the decoders' own kinds are.
class WideItem final : public CFileCacheItem {
public:
    WideItem()
        : CFileCacheItem(nullptr, 1)
    {
    }
    char extra[200] = {};
};

TEST(ItemHeap, AnItemDeletedThroughTheBaseGoesBackToTheRoomOfItsOwnKind)
{
#if ORIEL_ADDRESS_SANITIZER
    GTEST_SKIP() << "items use the general heap under AddressSanitizer";
#endif
    auto makeAll = [] {
        std::vector<std::unique_ptr<CCacheItem>> items;
        for (int i = 0; i < 5000; ++i) {
            items.push_back(std::make_unique<WideItem>());
            items.push_back(std::make_unique<CFileCacheItem>(nullptr, i));
        }
        return items;
    };
    makeAll(); // made and deleted
    const size_t reserved = ItemHeap::ReservedBytes();
    EXPECT_GT(reserved, 5000 * (sizeof(WideItem) + sizeof(CFileCacheItem)));
    // Made again from the freed room: a delete that gave back the base's
    // size would have left the wide items' room unused and taken more.
    for (int round = 0; round < 3; ++round)
        makeAll();
    EXPECT_EQ(ItemHeap::ReservedBytes(), reserved);
}

// Two threads, each with a lane open, make blocks side by side without the
// lock: none overlaps another, and the heap counts them once the lanes
// close. A lane still takes freed room first, so that a decode on two
// threads after another decode reuses what that one left.
TEST(ItemHeap, LanesKeepBlocksApartCountedAndReuseFreedRoomFirst)
{
#if ORIEL_ADDRESS_SANITIZER
    GTEST_SKIP() << "items use the general heap under AddressSanitizer";
#endif
    struct Block {
        unsigned char* at;
        size_t size;
    };
    const size_t inUseBefore = ItemHeap::InUseBytes();
    std::vector<std::vector<Block>> made(2);
    {
        auto make = [&made](size_t t) {
            ItemHeap::Lane lane;
            for (int i = 0; i < 30000; ++i) {
                const size_t size = size_t(8 + (i * 13 + int(t) * 5) % 300);
                auto* at = static_cast<unsigned char*>(ItemHeap::Allocate(size));
                std::memset(at, int(t + 1), size);
                made[t].push_back({at, size});
            }
        };
        std::thread other(make, 1);
        make(0);
        other.join();
    }
    size_t rounded = 0;
    std::vector<Block> all;
    for (size_t t = 0; t < made.size(); ++t) {
        for (const Block& block : made[t]) {
            ASSERT_TRUE(std::all_of(block.at, block.at + block.size, [&](unsigned char c) { return c == t + 1; }));
            rounded += (block.size + ItemHeap::kAlignment - 1) / ItemHeap::kAlignment * ItemHeap::kAlignment;
            all.push_back(block);
        }
    }
    EXPECT_EQ(ItemHeap::InUseBytes() - inUseBefore, rounded);
    std::sort(all.begin(), all.end(), [](const Block& a, const Block& b) { return a.at < b.at; });
    for (size_t i = 1; i < all.size(); ++i)
        ASSERT_LE(all[i - 1].at + all[i - 1].size, all[i].at);
    for (const Block& block : all)
        ItemHeap::Free(block.at, block.size);
    EXPECT_EQ(ItemHeap::InUseBytes(), inUseBefore);

    // Freed room of a size is what a lane gives next for that size.
    void* freed = ItemHeap::Allocate(136);
    ItemHeap::Free(freed, 136);
    {
        ItemHeap::Lane lane;
        void* again = ItemHeap::Allocate(136);
        EXPECT_EQ(again, freed);
        ItemHeap::Free(again, 136);
    }
    // What a lane leaves of its chunk is where the next chunk starts, so
    // that many short lanes take no more room than one.
    const size_t reserved = ItemHeap::ReservedBytes();
    std::vector<std::pair<void*, size_t>> kept;
    for (int round = 0; round < 200; ++round) {
        std::thread([&kept] {
            ItemHeap::Lane lane;
            kept.emplace_back(ItemHeap::Allocate(1000), 1000); // a new size class: no freed room
        }).join();
    }
    EXPECT_LE(ItemHeap::ReservedBytes() - reserved, size_t(8) * 64 * 1024);
    for (auto [at, size] : kept)
        ItemHeap::Free(at, size);
}

} // namespace
} // namespace oriel
