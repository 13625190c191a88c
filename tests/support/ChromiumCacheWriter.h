// Writes Chromium blockfile disk caches:
//
//   ChromiumBlockfileWriter w;   // "index", data_0 to data_3, f_XXXXXX
//   w.Add("https://a.example/logo.png", pngBytes, "HTTP/1.1 200 OK\nContent-Type: image/png");
//   w.Write(dir);
//
// Headers are given as lines separated by '\n'; they are stored as the
// browser stores them, each line ending in a NUL.
#pragma once

#include "support/SynthOptions.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace oriel::test {

// `data` compressed by brotli (a "Content-Encoding: br" body).
std::string BrotliBytes(std::string_view data);

// Stream 0 of an entry: the pickled response info with these headers.
std::string ChromiumResponseInfo(std::string_view headerLines, uint64_t requestTime, uint64_t responseTime);
// 1700000000 seconds since 1970 as microseconds since 1601.
uint64_t ChromeTime(int64_t unixSeconds);

class ChromiumBlockfileWriter {
public:
    struct Entry {
        std::string key;
        std::string body;
        std::string headers; // lines separated by '\n'; empty: no stream 0
        bool bodyApart = false; // the body in a separate file whatever its size
        bool keyApart = false;  // the key at its own address whatever its length
        // A deleted entry: written whole, but in no chain of the index.
        // Its blocks (record, key, streams, rankings node) are marked free
        // in the bitmaps unless `stillAllocated` (an entry unlinked but not
        // yet freed).
        bool deleted = false;
        bool stillAllocated = false;
        // A deleted entry whose body blocks the next live entry's body
        // that fits in them takes: the record still names the blocks, but
        // they hold the other entry's bytes.
        bool bodyTaken = false;
        int64_t created = 1700000000;
        int64_t modified = 1700000100;
        int64_t responded = 1700000050;
    };

    uint32_t version = 0x20001;
    uint32_t tableLength = 0x400; // a power of two
    // An entry count to write instead of the true one (0: the true one).
    int32_t announcedCount = 0;

    Entry& Add(std::string key, std::string body, std::string headers);
    // Writes the cache; the separate files' names, in order, are returned,
    // and, when asked, each entry's record address (in Add order).
    std::vector<std::string> Write(const std::string& dir, std::vector<uint32_t>* entryAddresses = nullptr) const;
    const std::vector<Entry>& Entries() const { return entries_; }

private:
    std::vector<Entry> entries_;
};

// Entry `i` of the synthetic Chromium caches (both layouts): a picture
// (PNG, GIF, JPEG), a gzip page, a brotli script or a double-keyed pixel,
// on one of four hosts.
struct ChromiumSynthEntry {
    std::string key;
    std::string body;
    std::string headers;
    int64_t responded = 0;
};
ChromiumSynthEntry SyntheticChromiumEntry(int i, const SynthOptions& options);

// Chromium's key hash (SuperFastHash), written here apart from the
// decoder's so that each checks the other.
uint32_t ChromiumKeyHash(std::string_view key);

// oriel-synth's "chromium" kind: a blockfile cache of `options.entries`
// entries on a few hosts, pictures (PNG, GIF, JPEG) among pages and
// scripts, some bodies gzip- or brotli-encoded, every tenth one in a
// separate file and some double-keyed; with `options.deleted`, about that
// many of them deleted (freed, some only unlinked, some with their body
// blocks taken by a later entry). Returns the index file's path.
std::string WriteSyntheticChromiumCache(const std::string& folder, const SynthOptions& options);

} // namespace oriel::test
