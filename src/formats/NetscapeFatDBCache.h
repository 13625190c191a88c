// The disk cache of Netscape Navigator 4.0: the index "fat.db", with the
// page structure of "cache.db" and other records (both in HashDbFile.h).
// Each data record carries a record version, the object's times and size,
// its cache file name and its content type; the key holds the URL.
#pragma once

#include "formats/NetscapeHashDBCache.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace oriel {

class NetscapeFatDBCache : public NetscapeHashDBCache {
public:
    static constexpr const char* kDatabaseFileName = "fat.db";
    // The record version of the database's own "INT_" records.
    static constexpr uint32_t kInternalVersion = kFatDbInternalVersion;

    NetscapeFatDBCache(const AppContext& context, BrowserProfile* profile, std::string folder);
    ~NetscapeFatDBCache() override;

    int DoDecode() override;

protected:
    // An unsupported record ends the page.
    PairOutcome DecodePagePair(const ByteReader& page, int32_t recordKey, hashdb::Pair pair) override;

private:
    // The header step of the decode (shared with cache.db).
    int GetFatDBHeaderInfo() { return GetDBHeaderInfo(); }
    // 0: an item was made (or a "wysiwyg" entry passed over); 1 and -1: the
    // pair is skipped; -3: an unsupported record version.
    int DecodePair(const ByteReader& page, int32_t recordKey, size_t dataOffset, size_t keyOffset);
    // Dumps the record to the trace log and, unless told not to, asks
    // whether to skip all further version errors.
    void ReportUnsupportedVersion(const ByteReader& page, size_t dataOffset, size_t keyOffset);

    bool skipVersionErrors_ = false;
};

} // namespace oriel
