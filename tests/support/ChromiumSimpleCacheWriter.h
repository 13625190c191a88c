// Writes Chromium simple-cache folders: one "<hash>_0" file per entry (the
// header, the key, the body with its EOF record, the response info with
// the headers, the key's SHA-256 when asked for and the last EOF record),
// "<hash>_s" files for entries with sparse ranges, the marker "index" and
// "index-dir/the-real-index" (unless asked not to).
//
//   ChromiumSimpleCacheWriter w;
//   w.Add("https://a.example/logo.png", pngBytes, "HTTP/1.1 200 OK\nContent-Type: image/png");
//   w.Write(dir);
//
// The file names use a stand-in for the key's SHA-1 (the reader takes the
// name as it is found); the key hash in the header and the key's SHA-256
// are stand-ins too.
#pragma once

#include "support/SynthOptions.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace oriel::test {

class ChromiumSimpleCacheWriter {
public:
    struct Entry {
        std::string key;
        std::string body;
        std::string headers;     // lines separated by '\n'; empty: an empty stream 0
        uint32_t version = 5;
        bool keySha256 = true;   // the key's SHA-256 before the last record
        bool packedRecords = false; // 20-byte records (a 32-bit Linux build)
        bool entryFile = true;   // false: only the "_s" file is written
        bool indexed = true;     // listed in the real index (when one is written)
        int64_t responded = 1700000050; // seconds since 1970
        int64_t lastUsed = 1700000100;  // seconds since 1970, in the index
        // Sparse ranges (offset, bytes): a "_s" file when there are any.
        std::vector<std::pair<int64_t, std::string>> sparse;
        std::optional<uint32_t> stream0SizeWord; // replaces stream 0's size in the last record
        std::optional<uint32_t> keyLengthWord;   // replaces the key length in the header
    };

    bool writeIndex = true;       // "index-dir/the-real-index"
    bool writeMarker = true;      // the 24-byte "index"
    uint32_t indexVersion = 9;
    // An entry count to announce in the index instead of the true one.
    std::optional<uint64_t> announcedCount;

    Entry& Add(std::string key, std::string body, std::string headers);
    std::deque<Entry>& Entries() { return entries_; }

    // The stand-in entry hash of a key and the file name it gives:
    // "0123456789abcdef_0" for kind '0'.
    static uint64_t EntryHash(std::string_view key);
    static std::string FileName(std::string_view key, char kind);
    static std::string EntryFile(const Entry& e);
    static std::string SparseFile(const Entry& e);
    std::string IndexFile() const;
    static std::string MarkerFile(uint32_t version = 9);

    // Every file as (relative name, bytes).
    std::vector<std::pair<std::string, std::string>> Build() const;
    // Writes the folder (made when missing); throws on a write error.
    void Write(const std::string& dir) const;

private:
    std::deque<Entry> entries_;
};

// oriel-synth's "chromium-simple" kind: a simple cache of `options.entries`
// entries (the same mix as the "chromium" kind's), an index, every
// twentieth entry left out of it, and entry 7 a media entry with sparse
// ranges and no body.
// Returns the real index's path.
std::string WriteSyntheticChromiumSimpleCache(const std::string& folder, const SynthOptions& options);

} // namespace oriel::test
