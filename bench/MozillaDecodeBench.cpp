// The Mozilla cache decoder over a synthetic cache of 100,000 entries (the
// map, the three block files and the separate files of oriel-synth's
// Mozilla cache), in both map versions: the best of three decodes,
// reported against the target of half a second.
//
//   bench_mozilla_decode [ENTRIES]
#include "DecodeTiming.h"

#include "formats/NetscapeCacheMapCache.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

int main(int argc, char** argv)
{
    using namespace oriel;
    const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
    // A private option store with the trace log off.
    test::TestEnvironment environment;
    test::TempDir dir;

    int status = 0;
    for (const std::string version : {"new", "old"}) {
        test::SynthOptions options;
        options.entries = entries;
        options.mapVersion = version;
        options.layout = "nested";
        std::string folder = dir.file("mozilla-" + version);
        test::WriteSyntheticMozillaCache(folder, options);
        const std::string name = version == "new" ? "_CACHE_MAP_ (records)" : "_CACHE_MAP_ (buckets)";
        char label[64];
        std::snprintf(label, sizeof label, "%-22s", name.c_str());
        status |= bench::TimeDecode(name, label, entries,
                                    [&folder] { return std::make_unique<NetscapeCacheMapCache>(oriel::test::Context(), nullptr, folder); });
    }
    return status;
}
