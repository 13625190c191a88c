// Shared by every fuzz harness. Each harness defines LLVMFuzzerTestOneInput
// and WriteFuzzSeeds; FuzzInit.cpp (libFuzzer builds) and ReplayMain.cpp
// (the ordinary test suite) supply the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace oriel {
class CCache;
class CCacheItem;
} // namespace oriel

namespace oriel::platform {
class ByteSource;
} // namespace oriel::platform

namespace oriel::test {
struct IndexDatUrl;
} // namespace oriel::test

// Writes this harness's seed inputs (made by the fixture writers) into `dir`.
void WriteFuzzSeeds(const std::string& dir);

// Quiet set-up shared by the fuzzers and the replay: a private option store
// with the trace log off, and a message sink that prints nothing and
// answers every question no.
void SetUpFuzzEnvironment();

// Writes `bytes` as a seed file `name` in `dir`.
void WriteSeed(const std::string& dir, const std::string& name, const std::string& bytes);

// A folder of this process's own below the temp folder ("oriel-TAG-fuzz-PID"),
// made on the first call and removed with all it holds when the process ends.
const std::string& PrivateFolder(const std::string& tag);

// Writes `size` input bytes as the file `path`, making its folder first.
void WriteInputFile(const std::string& path, const uint8_t* data, size_t size);

// Reads every text and value of `item` that the list and the CSV export read;
// returns a sum of their sizes so that the reads are not optimised away.
size_t TouchItem(oriel::CCacheItem& item);

// Reads a decoded cache the way the list and the CSV export read it: every
// group's name, every item (TouchItem, then `eachItem` when given), the
// recovered items (the same, with their properties) and the
// CSV export. Returns a sum of what was read.
size_t TouchCache(oriel::CCache& cache, const std::function<size_t(oriel::CCacheItem&)>& eachItem = {});

// Builds the cache on `folder` that decodes `index` (the fuzz input, in
// memory) instead of reading its index file: it hands `index` to the
// cache's SetDatabaseSource.
using MakeFuzzCache = std::function<std::unique_ptr<oriel::CCache>(
    const std::string& folder, std::shared_ptr<const oriel::platform::ByteSource> index)>;

// Decodes the input as the index of an empty folder of this process's own,
// with the cache `makeCache` builds, messages off, as the application does
// (Decode opens the database, which is the input in memory); `afterDecode`,
// when given, then sees the cache and its folder; the result is read whole
// (TouchCache, passing `eachItem` on), and the folder emptied again.
// Returns a sum of what was read.
size_t DecodeIndexImage(const uint8_t* data, size_t size, const MakeFuzzCache& makeCache,
                        const std::function<size_t(oriel::CCacheItem&)>& eachItem = {},
                        const std::function<void(oriel::CCache&, const std::string&)>& afterDecode = {});

// URL record `i` of the Internet Explorer seeds: page "file<i>.htm" on one
// of three hosts, in cache directory `directory`, with the response head
// `headers`, and a size and times that differ from record to record.
oriel::test::IndexDatUrl SeedIndexDatUrl(int i, uint8_t directory, const std::string& headers);

// Reads a fuzz input from the front: past its end, numbers read 0 and
// byte runs come out short or empty.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size)
        : data_(reinterpret_cast<const char*>(data))
        , size_(size)
    {
    }
    bool AtEnd() const { return pos_ >= size_; }
    uint8_t U8() { return pos_ < size_ ? uint8_t(data_[pos_++]) : 0; }
    // Little-endian.
    uint32_t U32();
    // The next `n` bytes, or what is left.
    std::string Bytes(size_t n);

private:
    const char* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Appends `v` as 4 little-endian bytes (how the folder harnesses frame the
// files of a seed).
void AppendU32LE(std::string& out, uint32_t v);

// WriteInputFile for bytes in a string.
void WriteInputBytes(const std::string& path, const std::string& bytes);

// The whole of a file written by a fixture writer; empty when unreadable.
std::string ReadBackFile(const std::string& path);

// An `eachItem` for TouchCache: reads the item's format properties, and for
// the first `limit` items prepares the body (extracted and decoded) and
// deletes the copy again.
std::function<size_t(oriel::CCacheItem&)> PrepareFirstItems(int limit = 8);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
