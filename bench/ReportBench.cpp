// The HTML report of a 10,000-item Internet Explorer cache of which 2,000
// bodies are small PNG, JPEG and GIF pictures: every body read and hashed,
// every picture made a thumbnail, the page written. One run (the second
// would find the thumbnails' folder warm), after the decode.
//
//   bench_report [ITEMS [IMAGES]]
//
// Measured on the shared 2-core machine once the builds were done: 10,000
// bodies hashed, 2,000 thumbnails, a 6.2 MB page in 1.24 s (1.21 s CPU);
// with three builds running, 1.8 s of CPU and 9 to 15 s wall.
#include "formats/ClientUrlCache.h"
#include "imaging/ImageThumbnailer.h"
#include "ops/ReportJob.h"
#include "support/IndexDatWriter.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

int main(int argc, char** argv)
{
    using namespace oriel;
    using Clock = std::chrono::steady_clock;
    test::TestEnvironment environment;
    const int items = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int images = argc > 2 ? std::atoi(argv[2]) : 2000;
    test::TempDir dir;
    test::SynthOptions options;
    options.entries = items;
    options.images = images;
    test::WriteSyntheticIndexDatCache(dir.file("cache"), options);

    ClientUrlCache cache(test::Context(), nullptr, dir.file("cache"));
    if (cache.Decode(nullptr, false) != 0 || cache.GetItemCount() != items) {
        std::fprintf(stderr, "bench_report: decoded %d items, not %d\n", cache.GetItemCount(), items);
        return 1;
    }
    ReportRequest request;
    request.folder = dir.file("report");
    request.profiles.push_back({"Bench", "Internet Explorer", dir.file("cache"), &cache});
    ImageThumbnailer thumbnailer;
    ReportJob job(request, &thumbnailer);
    const auto start = Clock::now();
    const std::clock_t cpuStart = std::clock();
    const bool done = job.Run().Succeeded();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    if (!done) {
        std::fprintf(stderr, "bench_report: %s\n", job.Files().empty() ? "failed" : job.Files()[0].reason.c_str());
        return 1;
    }
    const auto page = std::filesystem::file_size(job.IndexPath());
    // The CPU time as well: on a shared machine the wall time says more
    // about the other processes.
    std::printf("report of %d items (%d bodies hashed, %d thumbnails): %.2f s wall, %.2f s CPU, page %.1f MB\n",
                job.Figures().items, job.Figures().bodies, job.Figures().thumbnails, seconds, cpu, double(page) / 1e6);
    return 0;
}
