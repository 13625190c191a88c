// The disk cache of Mozilla-family browsers (Netscape 6 and later, Mozilla,
// Firefox up to version 31): the map file "_CACHE_MAP_", the block files
// "_CACHE_001_" to "_CACHE_003_", and separate files for larger entries,
// either in the cache folder ("0A1B2C3Dd01") or, from Firefox 4 on, in
// sub-folders ("0/A1/B2C3Dd01").
//
// The map lists one record per entry; each record locates the entry's
// metadata (key with the URL, times, size, response headers) and its data,
// inside a block file or in a separate file. Every input byte is untrusted:
// maps may be dirty, cut short or announce more records than they hold;
// block files may be shorter than their blocks; metadata may run past the
// bytes read. The decoder takes what is there and stops at the bytes read.
#pragma once

#include "formats/NetscapeCache.h"
#include "platform/ByteReader.h"

#include "platform/FileSystem.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
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

class NetscapeCacheMapCache : public NetscapeCache {
public:
    static constexpr const char* kMapFileName = "_CACHE_MAP_";

    NetscapeCacheMapCache(BrowserProfile* profile, std::string folder);
    ~NetscapeCacheMapCache() override;

    void DoShutdown() override;
    int DoDecode() override;

    uint32_t GetMapVersion() const { return mapVersion_; }
    bool IsMapDirty() const { return mapDirty_; }
    // The records the map reader stored, in map order.
    const std::vector<CacheMapRecord>& GetRecords() const { return records_; }
    // True when the records of a version 0x00010005 map were found stored
    // little-endian (they are normally big-endian, as the header is).
    bool RecordsWereLittleEndian() const { return recordsLittleEndian_; }

private:

    int iDecodeCacheMap();
    int GetCacheMapHeaderInfo();
    int OpenCacheMapMetaFiles();
    int GetCacheMapMetadata();
    int CloseCacheMapMetaFiles();

    // The metadata bytes a record's metadata location names, or empty. A
    // separate metadata file is read into `scratch`.
    std::optional<ByteReader> ReadMetadata(const CacheMapRecord& record, std::string& scratch);
    void DecodeRecord(int32_t recordKey, const CacheMapRecord& record, std::string& scratch);

    uint32_t mapVersion_ = 0;
    bool mapDirty_ = false;
    bool recordsLittleEndian_ = false;
    std::vector<CacheMapRecord> records_;
    // "_CACHE_001_" to "_CACHE_003_", read at the offsets records name.
    std::unique_ptr<platform::ByteSource> blockFiles_[3];
    // The cache folder and its sub-folders, listed once for the decode: the
    // separate files carry upper-case hex digits, the names built from the
    // map lower-case ones.
    std::unique_ptr<platform::FolderIndex> separateFiles_;
};

} // namespace oriel
