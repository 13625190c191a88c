// Options that every synthetic cache of oriel-synth takes.
#pragma once

#include <cstdint>

namespace oriel::test {

struct SynthOptions {
    int entries = 200;  // index records to write
    uint32_t seed = 1;  // same seed, same files
    bool bodies = true; // write the cached bodies beside the index
};

} // namespace oriel::test
