// The Netscape 4 and Opera decoders over synthetic indexes of 100,000
// entries each (cache.db, fat.db, dcache4.url): the best of three decodes,
// reported against the target of half a second.
//
//   bench_netscape_opera_decode [ENTRIES]
//
// The indexes are written without bodies by the fixture writers into a
// temporary folder; the decode is the application's (messages off).
#include "DecodeTiming.h"

#include "formats/NetscapeCacheDBCache.h"
#include "formats/NetscapeFatDBCache.h"
#include "formats/OperaCache.h"
#include "support/Dcache4Writer.h"
#include "support/TestContext.h"
#include "support/NetscapeDbWriter.h"
#include "support/TestEnvironment.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

using namespace oriel;

// Times the decoder `Cache` over `folder`; the line also gives the index's size.
template <typename Cache>
int Run(const char* name, const std::string& folder, int entries)
{
    const auto bytes = std::filesystem::file_size(folder + "/" + Cache::kDatabaseFileName);
    char label[64];
    std::snprintf(label, sizeof label, "%-12s %9llu bytes ", name, static_cast<unsigned long long>(bytes));
    return bench::TimeDecode(name, label, entries, [&folder] { return std::make_unique<Cache>(oriel::test::Context(), nullptr, folder); });
}

} // namespace

int main(int argc, char** argv)
{
    const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
    // A private option store with the trace log off.
    test::TestEnvironment environment;
    test::TempDir dir;

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
