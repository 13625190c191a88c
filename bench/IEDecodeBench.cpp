// The Internet Explorer index.dat decoder over a synthetic index of 40,000
// records (about the most the 5.2 allocation bitmap addresses): the best of
// three decodes, and the heap it takes per item.
//
//   bench_ie_decode [ENTRIES]
#include "DecodeTiming.h"

#include "formats/ClientUrlCache.h"
#include "support/IndexDatWriter.h"
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
    const int entries = argc > 1 ? std::atoi(argv[1]) : 40000;
    // A private option store with the trace log off.
    test::TestEnvironment environment;
    test::TempDir dir;
    test::SynthOptions options;
    options.entries = entries;
    options.seed = 7;
    options.bodies = false;
    const std::string folder = dir.file("ie");
    test::WriteSyntheticIndexDatCache(folder, options);
    const auto bytes = std::filesystem::file_size(folder + "/index.dat");
    char label[64];
    std::snprintf(label, sizeof label, "%-12s %9llu bytes ", "index.dat", static_cast<unsigned long long>(bytes));
    return bench::TimeDecode("index.dat", label, entries,
                             [&folder] { return std::make_unique<ClientUrlCache>(test::Context(), nullptr, folder); });
}
