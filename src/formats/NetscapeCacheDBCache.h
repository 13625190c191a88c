// The disk cache of Netscape Communicator 4.5 and later: the index
// "cache.db" (its pages and records as HashDbFile.h describes), whose
// key/data pairs describe one cached object each; every body is a file of
// its own in the cache folder.
#pragma once

#include "formats/NetscapeHashDBCache.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace oriel {

class NetscapeCacheDBCache : public NetscapeHashDBCache {
public:
    static constexpr const char* kDatabaseFileName = "cache.db";

    NetscapeCacheDBCache(const AppContext& context, BrowserProfile* profile, std::string folder);
    ~NetscapeCacheDBCache() override;

    int DoDecode() override;

    // The cache name of a body whose full path the browser stored: the path
    // relative to this cache's folder. The stored path is a Windows path of
    // the examined system; it is mapped onto this host first. When it does
    // not lie under the folder (a cache copied elsewhere), the part after
    // the folder's own name, else the file name. Empty when nothing usable
    // remains.
    std::string CacheNameFromStoredPath(std::string_view storedPath) const;

protected:
    PairOutcome DecodePagePair(const ByteReader& page, int32_t recordKey, hashdb::Pair pair) override;

private:
    int iDecodeCacheDB();
    // The header step of the decode (shared with fat.db).
    int GetCacheDBHeaderInfo() { return GetDBHeaderInfo(); }
    // True when the pair made an item.
    bool DecodePair(const ByteReader& page, int32_t recordKey, size_t keyOffset, size_t dataOffset);
};

} // namespace oriel
