#include "model/ItemExistence.h"

#include "model/Cache.h"
#include "model/CacheItem.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <system_error>
#include <thread>

namespace oriel {

namespace {

constexpr size_t kChunk = 512;

} // namespace

unsigned ExistenceCheckThreads(size_t count)
{
    // Below eight chunks the threads would cost more than the stats.
    if (count < 8 * kChunk)
        return 1;
    return std::clamp<unsigned>(std::thread::hardware_concurrency(), 1, 4);
}

std::vector<char> CheckItemExistence(const std::vector<CCacheItem*>& items, Progress& progress)
{
    std::vector<char> present(items.size(), 0);
    // One look at each folder for the whole check (items of one cache
    // mostly, so the owner changes seldom).
    std::vector<std::unique_ptr<CCache::FolderPass>> passes;
    const CCache* lastOwner = nullptr;
    for (const CCacheItem* item : items) {
        const CCache* owner = item ? item->GetOwner() : nullptr;
        if (!owner || owner == lastOwner)
            continue;
        lastOwner = owner;
        if (std::none_of(passes.begin(), passes.end(), [owner](const auto& pass) { return pass->Of(*owner); }))
            passes.push_back(std::make_unique<CCache::FolderPass>(*owner));
    }
    std::atomic<size_t> nextChunk{0};
    std::atomic<size_t> done{0};
    // Checks the next chunk; false when none is left.
    auto checkChunk = [&] {
        const size_t first = nextChunk.fetch_add(1) * kChunk;
        if (first >= items.size())
            return false;
        const size_t last = std::min(items.size(), first + kChunk);
        for (size_t i = first; i < last; ++i)
            present[i] = items[i] && items[i]->Exists();
        done.fetch_add(last - first);
        return true;
    };
    const size_t helpers = ExistenceCheckThreads(items.size()) - 1;
    std::vector<std::thread> threads;
    try {
        for (size_t t = 0; t < helpers; ++t)
            threads.emplace_back([&checkChunk] {
                while (checkChunk()) {
                }
            });
    } catch (const std::system_error&) {
        // No thread to be had: the calling thread does the rest alone.
    }
    // The calling thread checks chunks too, and shows how far all have got.
    while (checkChunk())
        progress.SetPos(int32_t(done.load()));
    for (std::thread& thread : threads)
        thread.join();
    progress.SetPos(int32_t(items.size()));
    return present;
}

} // namespace oriel
