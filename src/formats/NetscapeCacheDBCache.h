// The disk cache of Netscape Communicator 4.5 and later: the index
// "cache.db", a hashed database of fixed-size pages (the hash file layout of
// Berkeley DB 1.x, of which only the parts below are read, without any
// database library), whose key/data pairs describe one cached object each;
// every body is a file of its own in the cache folder.
//
// The header is page 0 (big-endian words: page size at offset 12, key count
// at offset 56). Page p starts at p * page size; inside a page every integer
// is little-endian: a count n of offset words, then the words, the key
// offset of pair i at word 2i and its data offset at word 2i + 1. Netscape
// 4.0's "fat.db" has the same pages with other records.
//
// Every input byte is untrusted: offsets, lengths and texts are read only
// inside the page they belong to, and the walk ends at the end of the file.
#pragma once

#include "formats/ByteReader.h"
#include "formats/NetscapeCache.h"

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oriel {

// The page file shared by cache.db and fat.db.
namespace hashdb {

constexpr size_t kHeaderSize = 60;
constexpr uint32_t kMaxPageSize = 32768;
// No page this small can hold a pair: the header is refused, so that a tiny
// page size cannot turn a large file into millions of empty pages.
constexpr uint32_t kMinPageSize = 64;
// A page is used only when 0 < n < 512.
constexpr uint16_t kMaxOffsetWords = 512;
// Longer texts are taken as absent.
constexpr uint32_t kMaxTextLength = 10000;

struct Header {
    uint32_t pageSize = 0;
    uint32_t keyCount = 0;
};

// Reads page 0: empty when the file is shorter than the header or the page
// size is outside kMinPageSize..kMaxPageSize.
std::optional<Header> ReadHeader(std::istream& in);

// Reads page `page` (page * pageSize) into `out`, which then holds the bytes
// actually read (fewer at the end of the file). True when the read reached
// the end of the file.
bool ReadPage(std::istream& in, uint64_t page, uint32_t pageSize, std::string& out);

struct Pair {
    uint16_t keyOffset = 0;
    uint16_t dataOffset = 0;
};

// The pairs of a page, in page order: none when n is 0 or 512 or more; only
// the pairs whose two offset words were read.
void PagePairs(const ByteReader& page, std::vector<Pair>& out);

// A 32-bit little-endian length and that many bytes at `pos`, inside the
// page. Absent when the length is above kMaxTextLength or the bytes run
// past the page; `pos` then moves past the length word only.
std::optional<std::string_view> ReadText(const ByteReader& page, size_t& pos);

// The text up to its first NUL (stored texts usually carry one).
std::string_view UpToNul(std::string_view text);

} // namespace hashdb

class NetscapeCacheDBCache : public NetscapeCache {
public:
    static constexpr const char* kDatabaseFileName = "cache.db";

    NetscapeCacheDBCache(BrowserProfile* profile, std::string folder);
    ~NetscapeCacheDBCache() override;

    int DoDecode() override;

    uint32_t GetPageSize() const { return pageSize_; }

    // The cache name of a body whose full path the browser stored: the path
    // relative to this cache's folder. The stored path is a Windows path of
    // the examined system; it is mapped onto this host first. When it does
    // not lie under the folder (a cache copied elsewhere), the part after
    // the folder's own name, else the file name. Empty when nothing usable
    // remains.
    std::string CacheNameFromStoredPath(std::string_view storedPath) const;

private:
    int iDecodeCacheDB();
    int GetCacheDBHeaderInfo();
    // Decodes one page; the new remaining count, or -1 at the end of the file.
    int64_t DecodePage(uint64_t page, int64_t remaining);
    // True when the pair made an item.
    bool DecodePair(const ByteReader& page, int32_t recordKey, size_t keyOffset, size_t dataOffset);

    uint32_t pageSize_ = 0;
    int64_t total_ = 0;
    std::string pageBuffer_;
    std::vector<hashdb::Pair> pairs_;
};

} // namespace oriel
