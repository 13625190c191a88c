// The Firefox cache2 decoder over a synthetic cache2 folder of 100,000
// entry files (oriel-synth's firefox-cache2: pictures and pages, all three
// metadata versions, an index of version 0x0A), with and without the index:
// the best of three decodes, reported against the target of half a second.
//
//   bench_firefox_cache2_decode [ENTRIES]
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
    const std::string folder = dir.file("cache2");
    test::WriteSyntheticFirefoxCache2Cache(folder, options);
    int status = bench::TimeDecode("cache2 (index)", "cache2 (with index)   ", entries, [&folder] {
        return std::make_unique<FirefoxCache2Cache>(oriel::test::Context(), nullptr, folder);
    });
    std::filesystem::remove(folder + "/index");
    status |= bench::TimeDecode("cache2 (no index)", "cache2 (without index)", entries, [&folder] {
        return std::make_unique<FirefoxCache2Cache>(oriel::test::Context(), nullptr, folder);
    });
    return status;
}
