#include "DecodeTiming.h"

#include "model/Cache.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace oriel::bench {

int TimeDecode(const std::string& name, const std::string& label, int entries,
               const std::function<std::unique_ptr<CCache>()>& makeCache)
{
    double best = 1e9, bestCpu = 1e9;
    int32_t items = 0;
    for (int round = 0; round < 3; ++round) {
        std::unique_ptr<CCache> cache = makeCache();
        auto start = std::chrono::steady_clock::now();
        std::clock_t cpuStart = std::clock();
        int result = cache->Decode(nullptr, false);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        bestCpu = std::min(bestCpu, double(std::clock() - cpuStart) / CLOCKS_PER_SEC);
        if (result != 0) {
            std::fprintf(stderr, "bench: %s failed to decode\n", name.c_str());
            return 1;
        }
        items = cache->GetItemCount();
        best = std::min(best, seconds);
    }
    // CPU time beside wall time: on a busy machine the wall time also counts
    // the time other processes held the cores.
    std::printf("%s %7d items  %.3f s (cpu %.3f s)  target 0.5 s: %s\n", label.c_str(), items, best, bestCpu,
                best < 0.5 ? "met" : "MISSED");
    return items == entries ? 0 : 1;
}

} // namespace oriel::bench
