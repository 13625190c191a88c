// The index of Netscape 4's disk caches, "cache.db" (4.5 and later) and
// "fat.db" (4.0): a hashed database of fixed-size pages (the hash file
// layout of Berkeley DB 1.x, of which only the parts below are read,
// without any database library), whose key/data pairs describe one cached
// object each. The two differ only in their records.
//
// The header is page 0 (big-endian words: page size at offset 12, key count
// at offset 56). Page p starts at p * page size; inside a page every integer
// is little-endian: a count n of offset words, then the words, the key
// offset of pair i at word 2i and its data offset at word 2i + 1.
//
// Every input byte is untrusted: offsets, lengths and texts are read only
// inside the page they belong to, and the walk ends at the end of the file.
#pragma once

#include "platform/ByteReader.h"
#include "formats/NetscapeCache.h"

#include <cstdint>
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

// Parses page 0 (the start of the file): empty when the bytes are fewer
// than the header or the page size is outside kMinPageSize..kMaxPageSize.
std::optional<Header> ParseHeader(const ByteReader& file);

// The file offset of page `page`; empty when it cannot be expressed.
std::optional<uint64_t> PageOffset(uint64_t page, uint32_t pageSize);

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

// The walk that both caches make over their database: the header, then
// every page from page 1 to the end of the file, each page's pairs from the
// last to the first. What a pair holds is for each cache to decode.
class NetscapeHashDBCache : public NetscapeCache {
public:
    uint32_t GetPageSize() const { return pageSize_; }

protected:
    using NetscapeCache::NetscapeCache;

    // What became of one pair.
    enum class PairOutcome {
        Item,     // it made an item (or was passed over as one): one key fewer to go
        Skipped,  // not an object's record, or one that cannot be read
        EndOfPage // the rest of the page is not decoded
    };

    // Reads the header: the page size, and the key count as the progress
    // total. An invalid header shows the message, asks the decoding to stop
    // and gives -1; otherwise 0.
    int GetDBHeaderInfo();
    // Decodes every page after the header until the end of the file or a
    // stop request, moving the progress along.
    void DecodePages();
    // Decodes one pair of a page whose data offset lies inside the page.
    virtual PairOutcome DecodePagePair(const ByteReader& page, int32_t recordKey, hashdb::Pair pair) = 0;

private:
    // Decodes one page; the new remaining count, or -1 at the end of the file.
    int64_t DecodePage(uint64_t page, int64_t remaining);

    uint32_t pageSize_ = 0;
    int64_t total_ = 0;
    std::vector<hashdb::Pair> pairs_;
};

} // namespace oriel
