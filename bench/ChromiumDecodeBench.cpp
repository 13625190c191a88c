// The Chromium blockfile decoder over a synthetic cache of 100,000 entries
// (index, block files chained past their 64896 blocks, separate files for
// every tenth body): the best of three decodes, reported against the
// target of half a second.
//
//   bench_chromium_decode [ENTRIES]
#include "DecodeTiming.h"

#include "formats/ChromiumBlockfileCache.h"
#include "support/ChromiumCacheWriter.h"
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
    test::TestEnvironment environment;
    test::TempDir dir;

    test::ChromiumBlockfileWriter w;
    w.tableLength = 0x10000;
    for (int i = 0; i < entries; ++i) {
        auto& e = w.Add("https://host" + std::to_string(i % 97) + ".example/path/" + std::to_string(i) + ".png",
                        std::string(size_t(100 + i % 700), 'b'),
                        "HTTP/1.1 200 OK\nContent-Type: image/png\nCache-Control: max-age=3600");
        e.bodyApart = i % 10 == 0;
    }
    const std::string folder = dir.file("chromium");
    w.Write(folder);
    return bench::TimeDecode("index (blockfile)", "index (blockfile)     ", entries,
                             [&folder] { return std::make_unique<ChromiumBlockfileCache>(test::Context(), nullptr, folder); });
}
