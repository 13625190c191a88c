// Writes the cache indexes of Netscape 4: "cache.db" (4.5 and later) and
// "fat.db" (4.0). Both are page files: page 0 is the header (big-endian page
// size at offset 12 and key count at offset 56), each later page holds a
// count n of little-endian offset words, the words (key offset, data offset
// per pair) and the pairs' bytes packed from the end of the page down, each
// pair's key above its data.
//
//   NetscapeDbWriter w(NetscapeDbWriter::Kind::CacheDb);
//   w.addCacheEntry({.url = "http://a/b.gif", .bodyPath = "C:\\NS\\cache\\M0001.gif"});
//   w.write(dir);
//
//   NetscapeDbWriter f(NetscapeDbWriter::Kind::FatDb);
//   f.addFatEntry({.url = "http://a/", .cacheName = "M0002.htm", .version = 5});
//   f.addFatEntry({.url = "http://a/x", .cacheName = "M0003.htm", .version = 6}); // unsupported
//
// Pairs fill a page in the order added until the next one does not fit (or
// setPairsPerPage says so); the decoder lists a page's pairs last first.
#pragma once

#include "support/SynthOptions.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace oriel::test {

struct CacheDbEntry {
    std::string url;
    std::string bodyPath; // the body's full path as the browser stored it
    std::string headers = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n"; // empty: no element
    // Named values written before "HTTP headers".
    std::vector<std::pair<std::string, std::string>> values{{"Charset", "iso-8859-1"}};
    int32_t downloaded = 1000000000;
    int32_t lastModified = 990000000;
    int32_t expires = 1010000000;
    uint32_t check = 0;                   // 0: derived from the URL
    std::optional<uint32_t> dataCheck;    // the data's check word when it differs from the key's
    std::optional<uint32_t> recordLength; // default: the data's size
};

struct FatDbEntry {
    std::string url;
    std::string cacheName;
    std::string contentType = "text/html";
    uint32_t version = 4;  // 2 to 4: layout A; 5: layout B; "INT_" or others as given
    uint8_t variant = 0;   // layout A's variant byte (0, 1 or 2; others have no part)
    uint32_t variantWord = 1; // variant 1: the word that says whether a text follows
    int32_t lastModified = 990000000;
    int32_t downloaded = 1000000000;
    int32_t expires = 1010000000;
    uint32_t size = 1234;
    std::optional<uint32_t> recordLength; // default: the data's size
};

class NetscapeDbWriter {
public:
    enum class Kind { CacheDb, FatDb };
    static constexpr uint32_t kInternalVersion = 0x5F544E49; // "INT_"

    explicit NetscapeDbWriter(Kind kind);

    NetscapeDbWriter& setPageSize(uint32_t size);
    // The key count of the header (default: the number of pairs).
    NetscapeDbWriter& setKeyCount(uint32_t count);
    // At most this many pairs a page (default: as many as fit).
    NetscapeDbWriter& setPairsPerPage(size_t pairs);

    // Each returns the pair's index.
    size_t addCacheEntry(CacheDbEntry entry);
    size_t addFatEntry(FatDbEntry entry);
    // A pair of any bytes.
    size_t addRawPair(std::string key, std::string data);
    // Ends the current page; the next pair starts a new one.
    NetscapeDbWriter& endPage();
    // A page of the given bytes (padded to the page size) after the current one.
    NetscapeDbWriter& addRawPage(std::string bytes);

    std::string build();
    // Builds and writes the index ("cache.db" or "fat.db") into `folder`;
    // returns its path.
    std::string write(const std::string& folder);

    // Where the last build put pair `index`: page number and the offsets
    // of its key and data within the page.
    struct Placement {
        uint32_t page = 0;
        uint16_t keyOffset = 0;
        uint16_t dataOffset = 0;
    };
    Placement placement(size_t index) const { return placements_.at(index); }
    uint32_t pageSize() const { return pageSize_; }
    const char* fileName() const { return kind_ == Kind::CacheDb ? "cache.db" : "fat.db"; }

    static std::string CacheDbKey(const CacheDbEntry& entry);
    static std::string CacheDbData(const CacheDbEntry& entry);
    static std::string FatDbKey(const FatDbEntry& entry);
    static std::string FatDbData(const FatDbEntry& entry);
    // A text as both files store it: 32-bit little-endian length, the bytes
    // and a NUL (counted in the length).
    static std::string Text(const std::string& text);

private:
    struct Item {
        std::string key;
        std::string data;
        bool pageBreak = false;
        std::optional<std::string> rawPage;
    };

    Kind kind_;
    uint32_t pageSize_ = 4096;
    std::optional<uint32_t> keyCount_;
    size_t pairsPerPage_ = 0;
    std::vector<Item> items_;
    std::vector<size_t> pairItems_; // pair index -> items_ index
    std::vector<Placement> placements_;
};

// A synthetic cache.db or fat.db cache of `options.entries` entries under a
// few hosts, with the bodies beside it unless options.bodies is off. Body
// paths in cache.db are stored as `storedFolder` (a Windows path) plus the
// file name. Returns the index's path.
std::string WriteSyntheticCacheDbCache(const std::string& folder, const SynthOptions& options,
                                       const std::string& storedFolder = "C:\\Program Files\\Netscape\\Users\\default\\cache");
std::string WriteSyntheticFatDbCache(const std::string& folder, const SynthOptions& options);

} // namespace oriel::test
