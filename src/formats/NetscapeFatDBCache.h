// The disk cache of Netscape Navigator 4.0: the index "fat.db", with the
// page structure of "cache.db" (see NetscapeHashDBCache.h) and other
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

#include "formats/NetscapeHashDBCache.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace oriel {

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

class NetscapeFatDBCache : public NetscapeHashDBCache {
public:
    static constexpr const char* kDatabaseFileName = "fat.db";
    // The record version of the database's own "INT_" records.
    static constexpr uint32_t kInternalVersion = 0x5F544E49;

    NetscapeFatDBCache(BrowserProfile* profile, std::string folder);
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
