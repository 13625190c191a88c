// The Netscape 4 and Opera decoders over synthetic indexes of 100,000
// entries each (cache.db, fat.db, dcache4.url): the best of three decodes,
// reported against the target of half a second.
//
//   bench_netscape_opera_decode [ENTRIES]
//
// The indexes are written without bodies by the fixture writers into a
// temporary folder; the decode is the application's (messages off).
#include "app/OptionStore.h"
#include "app/TraceLog.h"
#include "formats/NetscapeCacheDBCache.h"
#include "formats/NetscapeFatDBCache.h"
#include "formats/OperaCache.h"
#include "support/Dcache4Writer.h"
#include "support/NetscapeDbWriter.h"
#include "support/TestEnvironment.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

using namespace oriel;

template <typename Cache>
int Run(const char* name, const std::string& folder, int entries)
{
    const std::string index = folder + "/" + Cache::kDatabaseFileName;
    const auto bytes = std::filesystem::file_size(index);
    double best = 1e9, bestCpu = 1e9;
    int32_t items = 0;
    for (int round = 0; round < 3; ++round) {
        Cache cache(nullptr, folder);
        auto start = std::chrono::steady_clock::now();
        std::clock_t cpuStart = std::clock();
        int result = cache.Decode(nullptr, false);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        bestCpu = std::min(bestCpu, double(std::clock() - cpuStart) / CLOCKS_PER_SEC);
        if (result != 0) {
            std::fprintf(stderr, "bench: %s failed to decode\n", name);
            return 1;
        }
        items = cache.GetItemCount();
        best = std::min(best, seconds);
    }
    // CPU time beside wall time: on a busy machine the wall time also counts
    // the time other processes held the cores.
    std::printf("%-12s %9llu bytes  %7d items  %.3f s (cpu %.3f s)  target 0.5 s: %s\n", name,
                static_cast<unsigned long long>(bytes), items, best, bestCpu, best < 0.5 ? "met" : "MISSED");
    return items == entries ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
    test::TempDir dir;
    // A private option store with the trace log off.
    test::WriteFile(dir.file("Oriel.ini"), "[Options]\nMessageDumpFile=\"\"\n");
    OptionStore::SetInstanceFile(dir.file("Oriel.ini"));
    CTraceLog::Destroy();

    test::SynthOptions options;
    options.entries = entries;
    options.bodies = false;
    test::WriteSyntheticCacheDbCache(dir.file("cachedb"), options);
    test::WriteSyntheticFatDbCache(dir.file("fatdb"), options);
    test::WriteSyntheticOperaCache(dir.file("opera"), options);

    int status = 0;
    status |= Run<NetscapeCacheDBCache>("cache.db", dir.file("cachedb"), entries);
    status |= Run<NetscapeFatDBCache>("fat.db", dir.file("fatdb"), entries);
    status |= Run<OperaCache>("dcache4.url", dir.file("opera"), entries);
    return status;
}
