// The Chromium simple-cache decoder over a synthetic folder of 100,000
// entry files (bodies of 100 to 800 bytes, stored headers, every fourth key
// double-keyed), with and without its index: the best of three decodes,
// reported against the target of half a second.
//
//   bench_chromium_simple_decode [ENTRIES]
#include "DecodeTiming.h"

#include "formats/ChromiumSimpleCache.h"
#include "support/ChromiumSimpleCacheWriter.h"
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
    test::TestEnvironment environment;
    test::TempDir dir;

    test::ChromiumSimpleCacheWriter w;
    for (int i = 0; i < entries; ++i) {
        std::string url = "https://host" + std::to_string(i % 97) + ".example/path/" + std::to_string(i) + ".png";
        if (i % 4 == 3)
            url = "1/0/_dk_https://site.example https://site.example " + url;
        w.Add(std::move(url), std::string(size_t(100 + i % 700), 'b'),
              "HTTP/1.1 200 OK\nContent-Type: image/png\nCache-Control: max-age=3600");
    }
    const std::string folder = dir.file("simple");
    w.Write(folder);
    int status = bench::TimeDecode("simple (index)", "simple (with index)   ", entries, [&folder] {
        return std::make_unique<ChromiumSimpleCache>(test::Context(), nullptr, folder);
    });
    std::filesystem::remove_all(folder + "/index-dir");
    status |= bench::TimeDecode("simple (no index)", "simple (without index)", entries, [&folder] {
        return std::make_unique<ChromiumSimpleCache>(test::Context(), nullptr, folder);
    });
    return status;
}
