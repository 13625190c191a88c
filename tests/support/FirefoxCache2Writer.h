// Writes Firefox cache2 folders: "entries/" with one file per entry (body,
// then the metadata block of version 1, 2 or 3, then the metadata offset),
// "doomed/" for entries being removed, and an optional "index" of any
// version from 1 to 0x0A.
//
//   FirefoxCache2Writer w;
//   w.Add("https://a.example/logo.png", pngBytes, "image/png");
//   w.Add("https://a.example/", GzipBytes(html), "text/html", "gzip").tags = "O^partitionKey=x,a,";
//   w.Write(dir);
#pragma once

#include "support/SynthOptions.h"

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace oriel::test {

class FirefoxCache2Writer {
public:
    struct Entry {
        std::string url;
        std::string tags = "a,"; // the key's tags before ':'
        std::string body;
        std::string responseHead; // empty: no "response-head" element
        std::vector<std::pair<std::string, std::string>> elements{{"request-method", "GET"}};
        bool securityInfo = true; // a "security-info" element after the response head
        uint32_t metadataVersion = 3;
        uint32_t fetchCount = 1;
        uint32_t lastFetched = 1700000000;
        uint32_t lastModified = 1690000000;
        uint32_t frecency = 5000;
        uint32_t expiration = 1710000000;
        uint32_t flags = 0;
        bool doomed = false;    // written to "doomed/" instead of "entries/"
        bool indexed = true;    // listed in the index (when one is written)
        uint32_t indexFrecency = 777;
        uint32_t indexFlags = 0x80000000u; // initialised
        std::optional<std::string> rawMetadata; // replaces the metadata block built from the fields
        std::optional<uint32_t> offsetWord;     // replaces the metadata offset as written
        std::optional<uint32_t> keySizeWord;    // replaces the key size as written

        std::string Key() const { return tags + ":" + url; }
    };

    // The entry with a response head naming the type and encoding.
    Entry& Add(const std::string& url, std::string body, const std::string& contentType = {},
               const std::string& contentEncoding = {});
    // No index file (a cache Firefox never closed cleanly can lack one).
    FirefoxCache2Writer& SetIndex(bool write, uint32_t version = 0x0A);
    FirefoxCache2Writer& SetIndexDirty(bool dirty);

    std::deque<Entry>& Entries() { return entries_; }

    // The 20-byte hash of a key, a stand-in for its SHA-1, and the entry
    // file name it gives (40 upper-case hex digits).
    static std::array<uint8_t, 20> KeyHash(std::string_view key);
    static std::string HashName(const std::array<uint8_t, 20>& hash);

    // The relative file name ("entries/HASH", "doomed/N") of entry `i`.
    std::string FileNameOf(size_t i) const;
    static std::string MetadataBlock(const Entry& e);
    static std::string EntryFile(const Entry& e);
    std::string IndexFile() const;

    // Every file as (relative name, bytes).
    std::vector<std::pair<std::string, std::string>> Build() const;
    // Writes the folder (made when missing); false on a write error.
    bool Write(const std::string& dir) const;

private:
    std::deque<Entry> entries_;
    bool writeIndex_ = true;
    uint32_t indexVersion_ = 0x0A;
    bool indexDirty_ = false;
};

// A cache2 folder of `entries` entries (at least one) under `host`:
// pictures (PNG, GIF, JPEG), pages (every other one gzip-encoded), tags
// of the three kinds, all three metadata versions, one doomed entry and
// one that the index does not list.
FirefoxCache2Writer SyntheticFirefoxCache2(const std::string& host, int entries, uint32_t seed, bool bodies = true);
// oriel-synth's "firefox-cache2": the folder above, written; returns the
// path of its index.
std::string WriteSyntheticFirefoxCache2Cache(const std::string& folder, const SynthOptions& options);

} // namespace oriel::test
