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

#include "formats/CacheMapFile.h"
#include "formats/NetscapeCache.h"
#include "platform/ByteReader.h"
#include "platform/FileSystem.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace oriel {

class NetscapeCacheMapCache : public NetscapeCache {
public:
    static constexpr const char* kMapFileName = "_CACHE_MAP_";

    NetscapeCacheMapCache(const AppContext& context, BrowserProfile* profile, std::string folder);
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
    // Metadata that several records name, read and parsed once; its texts
    // point into `bytes`, and its headers are one block the items share.
    struct SharedMetadata {
        std::shared_ptr<const std::string> bytes;
        std::optional<CacheMapMetadata> meta;
        std::shared_ptr<const std::string> headers;
    };
    // The key of the metadata a record names: the location, and for a
    // separate file also the hash number that names the file.
    static uint64_t MetadataKey(const CacheMapRecord& record);
    // A recovered record's item goes to the recovered list, not a group.
    void DecodeRecord(int32_t recordKey, const CacheMapRecord& record, std::string& scratch,
                      SharedMetadata* shared, bool recovered = false);
    // The item of a record and its parsed metadata, and in `host` the
    // group it goes to (a view of `meta`); null when the URL holds no "//".
    std::unique_ptr<CCacheItem> MakeItem(int32_t recordKey, const CacheMapRecord& record,
                                         const CacheMapMetadata& meta, const SharedMetadata* shared,
                                         std::string_view& host);

    // The items of the live records whose metadata lies in a block file
    // and is theirs alone, made before the map-order pass: their metadata
    // read in block-file order, nearby blocks in one read, instead of one
    // read per record at random offsets.
    struct MadeAhead {
        std::vector<std::unique_ptr<CCacheItem>> items; // by record; null: none
        std::vector<bool> done;                         // by record; false: left to DecodeRecord
    };
    MadeAhead MakeBlockFileItems(const std::unordered_map<uint64_t, SharedMetadata>& shared);

    // Entries the live records do not name but that still stand
    // (NetscapeCacheMapRecovery.cpp): stale map records, then separate
    // files no record names.
    void RecoverEntries();
    void RecoverOrphanFiles(int32_t firstKey, const std::vector<CacheMapRecord>& stale);

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
