// The disk cache of Netscape Navigator 4.0: the index "fat.db", with the
// page structure of "cache.db" (see NetscapeCacheDBCache.h) and other
// records. Each data record carries a record version, the object's times
// and size, its cache file name and its content type; the key holds the URL.
//
// Inside a record every integer is little-endian, and a text is a 32-bit
// length followed by that many bytes (its terminating NUL included). Data
// record: length, version (2 to 4: layout A; 5: layout B; "INT_": the
// database's own), last-modified, downloaded and expires times, size, 5
// unused bytes, the cache name, a variable part by layout, the content type.
// Key: length, then the URL as a text.
#pragma once

#include "formats/NetscapeCacheDBCache.h"

#include <cstdint>
#include <string>
#include <vector>

namespace oriel {

class NetscapeFatDBCache : public NetscapeCache {
public:
    static constexpr const char* kDatabaseFileName = "fat.db";
    // The record version of the database's own "INT_" records.
    static constexpr uint32_t kInternalVersion = 0x5F544E49;

    NetscapeFatDBCache(BrowserProfile* profile, std::string folder);
    ~NetscapeFatDBCache() override;

    int DoDecode() override;

    uint32_t GetPageSize() const { return pageSize_; }

private:
    int GetFatDBHeaderInfo();
    // Decodes one page; the new remaining count, or -1 at the end of the file.
    int64_t DecodePage(uint64_t page, int64_t remaining);
    // 0: an item was made (or a "wysiwyg" entry passed over); 1 and -1: the
    // pair is skipped; -3: an unsupported record version.
    int DecodePair(const ByteReader& page, int32_t recordKey, size_t dataOffset, size_t keyOffset);
    // Dumps the record to the trace log and, unless told not to, asks
    // whether to skip all further version errors.
    void ReportUnsupportedVersion(const ByteReader& page, size_t dataOffset, size_t keyOffset);

    uint32_t pageSize_ = 0;
    int64_t total_ = 0;
    bool skipVersionErrors_ = false;
    std::string pageBuffer_;
    std::vector<hashdb::Pair> pairs_;
};

} // namespace oriel
