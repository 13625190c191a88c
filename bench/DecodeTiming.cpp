#include "DecodeTiming.h"

#include "model/Cache.h"
#include "model/ItemHeap.h"
#include "platform/LargeBuffer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <malloc.h>
#include <new>

// Every allocation of the benchmark is counted, so that the heap a decode
// takes at its peak can be told per item.
namespace {
std::atomic<int64_t> g_heapBytes{0};
std::atomic<int64_t> g_heapPeak{0};

void* Counted(size_t size)
{
    void* p = std::malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    const int64_t now = g_heapBytes += int64_t(malloc_usable_size(p));
    int64_t peak = g_heapPeak.load();
    while (now > peak && !g_heapPeak.compare_exchange_weak(peak, now)) {
    }
    return p;
}

void Uncounted(void* p)
{
    if (p) {
        g_heapBytes -= int64_t(malloc_usable_size(p));
        std::free(p);
    }
}
} // namespace

void* operator new(size_t size) { return Counted(size); }
void* operator new[](size_t size) { return Counted(size); }
void operator delete(void* p) noexcept { Uncounted(p); }
void operator delete[](void* p) noexcept { Uncounted(p); }
void operator delete(void* p, size_t) noexcept { Uncounted(p); }
void operator delete[](void* p, size_t) noexcept { Uncounted(p); }

namespace oriel::bench {

namespace {

// The bytes of the items' own texts: what an item must hold whatever its
// layout (URL, cache name, type, headers, and a path that is not the URL's
// tail), one NUL each.
int64_t TextBytes(CCache& cache)
{
    int64_t bytes = 0;
    auto text = [](const char* s) { return s ? int64_t(std::char_traits<char>::length(s)) + 1 : 0; };
    for (int32_t g = 0; g < cache.GetGroupCount(); ++g) {
        const CNamedCacheItemArray& group = *cache.GetGroup(g);
        for (int32_t i = 0; i < group.GetCount(); ++i) {
            CCacheItem& item = *group.ItemAt(i);
            bytes += text(item.GetURL()) + text(item.GetCacheName()) + text(item.GetContentType()) +
                     text(item.GetHeaders());
            const std::string_view url = item.GetURL() ? item.GetURL() : "";
            const std::string_view path = item.GetURLPath() ? item.GetURLPath() : "";
            if (item.GetURLPath() && !url.ends_with(path))
                bytes += text(item.GetURLPath());
        }
    }
    return bytes;
}

} // namespace

int TimeDecode(const std::string& name, const std::string& label, int entries,
               const std::function<std::unique_ptr<CCache>()>& makeCache)
{
    double best = 1e9, bestCpu = 1e9;
    int32_t items = 0;
    int64_t peakPerItem = 0, heldPerItem = 0, textPerItem = 0;
    for (int round = 0; round < 3; ++round) {
        std::unique_ptr<CCache> cache = makeCache();
        const int64_t before = g_heapBytes.load();
        g_heapPeak = before;
        // Items and texts live in slices of large pages, and large read
        // buffers in mappings of their own, which the counted heap does not
        // see: the items' room (their size classes), the texts' slices and
        // the buffers' pages in memory are added. They only grow during a
        // decode, so at its peak too. Room reused after an earlier decode
        // is counted like new room; the last large page the slices are cut
        // from, partly used, is the process's (at most 2 MB), not counted.
        const int64_t mappedBefore = int64_t(oriel::platform::LargeBuffer::ResidentBytes());
        const int64_t itemsBefore = int64_t(ItemHeap::InUseBytes());
        auto start = std::chrono::steady_clock::now();
        std::clock_t cpuStart = std::clock();
        int result = cache->Decode(nullptr, false);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        bestCpu = std::min(bestCpu, double(std::clock() - cpuStart) / CLOCKS_PER_SEC);
        if (result != 0) {
            std::fprintf(stderr, "bench: %s failed to decode\n", name.c_str());
            return 1;
        }
        items = cache->GetItemCount() + cache->GetRecoveredCount();
        best = std::min(best, seconds);
        if (round == 0 && items > 0) {
            const int64_t mapped = int64_t(oriel::platform::LargeBuffer::ResidentBytes()) - mappedBefore +
                                   int64_t(ItemHeap::InUseBytes()) - itemsBefore +
                                   int64_t(cache->GetItemArena().SliceBytes());
            peakPerItem = (g_heapPeak.load() - before + mapped) / items;
            heldPerItem = (g_heapBytes.load() - before + mapped) / items;
            textPerItem = TextBytes(*cache) / items;
        }
    }
    // CPU time beside wall time: on a busy machine the wall time also counts
    // the time other processes held the cores.
    std::printf("%s %7d items  %.3f s (cpu %.3f s)  target 0.1 s: %s\n", label.c_str(), items, best, bestCpu,
                best < 0.1 ? "met" : "MISSED");
    // Heap per item: at the decode's peak, held after it, the texts alone,
    // and the peak beyond the texts (target under 200 bytes).
    std::printf("%s   heap per item: peak %lld, held %lld, texts %lld, peak beyond texts %lld bytes "
                "(target 200): %s\n",
                label.c_str(), static_cast<long long>(peakPerItem), static_cast<long long>(heldPerItem),
                static_cast<long long>(textPerItem), static_cast<long long>(peakPerItem - textPerItem),
                peakPerItem - textPerItem < 200 ? "met" : "MISSED");
    return items == entries ? 0 : 1;
}

} // namespace oriel::bench
