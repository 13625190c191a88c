// The page file of Netscape 4's disk cache indexes, "cache.db" (4.5 and
// later) and "fat.db" (4.0): a hashed database of fixed-size pages (the
// hash file layout of Berkeley DB 1.x, of which only the parts below are
// read, without any database library), whose key/data pairs describe one
// cached object each; and the records each of the two keeps in it.
//
// The header is page 0 (big-endian words: page size at offset 12, key count
// at offset 56). Page p starts at p * page size; inside a page every integer
// is little-endian: a count n of offset words, then the words, the key
// offset of pair i at word 2i and its data offset at word 2i + 1.
#pragma once

#include "platform/ByteReader.h"

#include <cstddef>
#include <cstdint>
#include <optional>
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

// One object's record as a cache.db page holds it; the texts point into the
// page. Key: a check word (keys beginning with "SE" are the database's
// own). Data: the record length, the same check word, then three texts (the
// URL, the object description, the body's full path).
struct CacheDbRecord {
    std::string_view url;                    // up to its NUL, "wyciwyg://N/" left in
    std::string_view bodyPath;               // as stored (NUL included)
    std::optional<std::string_view> headers; // the "HTTP headers" value, up to its NUL
    int64_t downloaded = 0;
    int64_t lastModified = 0;
    int64_t expires = 0;
};

// Parses the pair at `keyOffset` and `dataOffset` of `page`; empty for the
// database's own keys, check words that differ, a record length of 0 or of
// `pageSize` or more, and texts that do not fit in the page.
std::optional<CacheDbRecord> ParseCacheDbRecord(const ByteReader& page, size_t keyOffset, size_t dataOffset,
                                                uint32_t pageSize);

// The record version of fat.db's own "INT_" records.
constexpr uint32_t kFatDbInternalVersion = 0x5F544E49;

// Inside a fat.db record every integer is little-endian, and a text is a
// 32-bit length followed by that many bytes (its terminating NUL included).
// Data record: length, version (2 to 4: layout A; 5: layout B; "INT_": the
// database's own), last-modified, downloaded and expires times, size, 5
// unused bytes, the cache name, a variable part by layout, the content type.
// Key: length, then the URL as a text.
//
// One object's record as a fat.db page holds it; the texts point into the
// page, each up to its NUL.
struct FatDbRecord {
    enum class Status {
        Parsed,
        Unreadable,        // a record or key that cannot be read
        MissingText,       // the cache name or the URL text is not there
        UnsupportedVersion // a version other than 2 to 5 (and "INT_")
    };
    Status status = Status::Unreadable;
    std::string_view url;
    std::string_view cacheName;
    std::optional<std::string_view> contentType;
    uint32_t size = 0;
    // Signed 32-bit seconds since 1970, widened with their sign.
    int64_t lastModified = 0;
    int64_t downloaded = 0;
    int64_t expires = 0;
};

// Parses the pair whose data record is at `dataOffset` and key at
// `keyOffset` of `page`; the status tells a record that cannot be read from
// one of a version this reader does not know.
FatDbRecord ParseFatDbRecord(const ByteReader& page, size_t dataOffset, size_t keyOffset, uint32_t pageSize);

} // namespace oriel
