// The Mozilla cache map "_CACHE_MAP_" and the entry metadata that its
// records locate inside the block files "_CACHE_001_" to "_CACHE_003_" or
// in separate files: the layout and the parsers of each structure, over
// bytes already read.
//
// Every word of the map file is big-endian. Version 0x00010005 has a
// 16-byte header padded to 4096 bytes, then buckets of 4096 bytes, each up
// to 256 records; other versions a 276-byte header (version, data size,
// entry count, dirty flag, record count, 32 eviction ranks and 32 bucket
// usages) and then one array of records to the end of the file.
#pragma once

#include "platform/ByteReader.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oriel {

// One map record: four words, in host order once read.
struct CacheMapRecord {
    uint32_t hashNumber = 0;
    uint32_t evictionRank = 0;
    uint32_t dataLocation = 0;
    uint32_t metaLocation = 0;
};

// The bits of a data or metadata location word.
namespace cachemap {
constexpr size_t kRecordSize = 16;
constexpr uint32_t kInitialized = 0x80000000u;  // bit 31
constexpr uint32_t kReserved = 0x4C000000u;     // bits 30, 27, 26: always 0 in a real record
constexpr uint32_t kBlockFileHeaderSize = 4096; // the bitmap before block 0
constexpr uint32_t kBucketMapVersion = 0x00010005;
constexpr uint32_t kMinMetadataVersion = 0x00010000;
constexpr uint32_t kMaxMetadataVersion = 0x00030000;

inline bool IsInitialized(uint32_t location) { return (location & kInitialized) != 0; }
// 0 = separate file; 1 to 3 = "_CACHE_001_" to "_CACHE_003_" (bits 28-29).
inline int FileSelector(uint32_t location) { return int((location >> 28) & 3); }
// 1 to 4 blocks (bits 24-25 hold the count less one).
inline uint32_t BlockCount(uint32_t location) { return ((location >> 24) & 3) + 1; }
inline uint32_t StartBlock(uint32_t location) { return location & 0x00FFFFFF; }
// Size of a separate metadata file in units of 1024 bytes (bits 8-23).
inline uint32_t SeparateFileSizeK(uint32_t location) { return (location >> 8) & 0xFFFF; }
inline uint32_t Generation(uint32_t location) { return location & 0xFF; }
// 256, 1024 and 4096 bytes for block files 1, 2 and 3; 0 otherwise.
inline uint32_t BlockSize(int selector) { return selector >= 1 && selector <= 3 ? 256u << (2 * (selector - 1)) : 0; }

// "0a1b2c3dd01": the hash as 8 hex digits, 'd' or 'm', the generation as 2.
std::string SeparateFileName(uint32_t hashNumber, char kind, uint32_t generation);
// "0/A1/B2C3Dd01": the Firefox 4 layout (first digit, next two, the rest).
std::string NestedFileName(uint32_t hashNumber, char kind, uint32_t generation);
} // namespace cachemap

// One entry's metadata as read from its block run or separate file. The
// texts point into the bytes given to the parser.
struct CacheMapMetadata {
    uint32_t version = 0;
    uint32_t fetchCount = 0;
    int64_t lastFetched = 0;
    int64_t lastModified = 0;
    int64_t expires = 0;
    uint32_t dataSize = 0;
    std::string_view key;                    // client id, colon, URL
    std::string_view url;                    // after the colon (and after a "wyciwyg://N/" prefix)
    std::optional<std::string_view> headers; // the "response-head" element's value
};

// Parses one entry's metadata; empty when the version is out of range, the
// header is cut short or the key holds no colon.
std::optional<CacheMapMetadata> ParseCacheMapMetadata(const ByteReader& bytes);
inline std::optional<CacheMapMetadata> ParseCacheMapMetadata(std::string_view bytes)
{
    return ParseCacheMapMetadata(ByteReader(bytes));
}

// The map file's header. Every word of the map file is big-endian.
struct CacheMapHeader {
    uint32_t version = 0;    // offset 0
    uint32_t entryCount = 0; // offset 8
    // Offset 12, in maps of other versions than 0x00010005: the dirty flag.
    uint32_t dirtyWord = 0;
    bool dirty = false;
    // Version 0x00010005 keeps its records in buckets after a 4096-byte
    // header; other versions in one array after a 276-byte header.
    bool buckets = false;
    size_t size = 0; // where the records begin
};
// Empty when the map is shorter than 12 bytes.
std::optional<CacheMapHeader> ParseCacheMapHeader(const ByteReader& map);

// One record: four big-endian words (hash number, eviction rank, data
// location, metadata location). Empty when the 16 bytes are not all there.
std::optional<CacheMapRecord> ParseCacheMapRecord(const ByteReader& bytes, size_t offset);

// The records after the header (`records` starts where they begin), at
// most `limit` of them, appended to `out` in map order. In a bucket map
// the used records of each 4096-byte bucket come first and the first
// record with hash number 0 ends the bucket; in a record array a record
// with hash number 0 is empty. A bucket map whose records show real
// locations only when byte-swapped was written little-endian: its records
// are given swapped, and the result is true.
bool ParseCacheMapRecords(const ByteReader& records, bool buckets, size_t limit, std::vector<CacheMapRecord>& out);

} // namespace oriel
