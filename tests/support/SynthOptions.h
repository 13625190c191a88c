// Options that every synthetic cache of oriel-synth takes.
#pragma once

#include <cstdint>
#include <string>

namespace oriel::test {

struct SynthOptions {
    int entries = 200;  // index records to write
    uint32_t seed = 1;  // same seed, same files
    bool bodies = true; // write the cached bodies beside the index
    std::string layout; // empty: the format's default; Windows trees "xp" or "vista", Mozilla caches "flat" or "nested"
    std::string mapVersion = "new"; // Mozilla caches: "old" (0x00010005 buckets) or "new"
    bool modernFirefox = false; // Windows trees: also a Firefox 100-era profile with only a cache2 folder
    // index.dat and Mozilla caches: of the entries, about this many are
    // left as a deleted entry leaves them (records in free blocks, some
    // cut by later writes; stale map records and orphan separate files).
    int deleted = 0;
    // index.dat caches: exactly this many of the entries get small image
    // bodies (PNG, JPEG and GIF in turn, spread evenly), the others text
    // bodies; -1: the format's own mix.
    int images = -1;
};

} // namespace oriel::test
