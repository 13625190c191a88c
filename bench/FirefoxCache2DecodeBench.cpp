// The Firefox cache2 decoder over a synthetic cache2 folder of 100,000
// entry files (oriel-synth's firefox-cache2: pictures and pages, all three
// metadata versions, an index of version 0x0A), with and without the index:
// the best of three decodes, reported against the target of half a second.
//
//   bench_firefox_cache2_decode [ENTRIES [FOLDER]]
//
// With FOLDER the cache2 folder is written there when it is missing and
// kept (for profiling the decode without writing 100,000 files each run);
// the run without the index is then left out.
#include "DecodeTiming.h"

#include "formats/FirefoxCache2Cache.h"
#include "support/FirefoxCache2Writer.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

int main(int argc, char** argv)
{
    using namespace oriel;
    const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
    // A private option store with the trace log off.
    test::TestEnvironment environment;
    test::TempDir dir;

    test::SynthOptions options;
    options.entries = entries;
    const bool kept = argc > 2;
    const std::string folder = kept ? std::string(argv[2]) : dir.file("cache2");
    if (!kept || !std::filesystem::exists(folder))
        test::WriteSyntheticFirefoxCache2Cache(folder, options);
    int status = bench::TimeDecode("cache2 (index)", "cache2 (with index)   ", entries, [&folder] {
        return std::make_unique<FirefoxCache2Cache>(oriel::test::Context(), nullptr, folder);
    });
    if (kept)
        return status;
    std::filesystem::remove(folder + "/index");
    status |= bench::TimeDecode("cache2 (no index)", "cache2 (without index)", entries, [&folder] {
        return std::make_unique<FirefoxCache2Cache>(oriel::test::Context(), nullptr, folder);
    });
    return status;
}
