// Shared by every fuzz harness. Each harness defines LLVMFuzzerTestOneInput
// and WriteFuzzSeeds; FuzzInit.cpp (libFuzzer builds) and ReplayMain.cpp
// (the ordinary test suite) supply the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Writes this harness's seed inputs (made by the fixture writers) into `dir`.
void WriteFuzzSeeds(const std::string& dir);

// Quiet set-up shared by the fuzzers and the replay: a private option store
// with the trace log off, and a message sink that prints nothing and
// answers every question no.
void SetUpFuzzEnvironment();

// Writes `bytes` as a seed file `name` in `dir`.
void WriteSeed(const std::string& dir, const std::string& name, const std::string& bytes);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
