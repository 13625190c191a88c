// An item of an Opera cache whose body lies inside the index "dcache4.url"
// itself (Opera 10 and later keep small bodies there, in a field of the
// object record, often gzip-encoded). Its bytes are extracted, and decoded
// by the item's content encoding, to a file of their own on demand; the
// index is never changed.
#pragma once

#include "model/CacheItem.h"

#include <cstdint>
#include <optional>
#include <string>

namespace oriel {

class COperaInternalCacheItem : public CCacheItem {
public:
    // The body: `bodyLength` bytes at byte offset `bodyOffset` of the
    // owner's "dcache4.url".
    COperaInternalCacheItem(CCache* owner, int32_t recordKey, int64_t bodyOffset, int32_t bodyLength);
    // Deletes the extracted copy, if this item made one.
    ~COperaInternalCacheItem() override;

    // "<Internal to dcache4.url>".
    const char* GetDisplayCacheName() override;
    int32_t GetDisplayCacheNameLength() override;
    // The extracted copy's path; null before PrepareFile has made it.
    const char* GetFilePath() override;
    int32_t GetFilePathLength() override;
    // Whether "dcache4.url" is there (checked until it is found missing).
    bool Exists() override;
    // Extracts the body, decoding it by its content encoding, unless this
    // item's copy is still there. True when the copy exists afterwards.
    bool PrepareFile() override;
    // Deletes the extracted copy (never the index); true when no copy is
    // left.
    bool DeleteCacheFile() override;

    int64_t GetBodyOffset() const { return bodyOffset_; }
    int32_t GetBodyLength() const { return bodyLength_; }
    // Host path of the index that holds the body.
    const std::string& GetIndexFilePath();

    // Writes the body to the extracted path; true when the file was made.
    bool ExtractFile();

private:
    // The cache folder, the cache name and the extension of the content
    // type (or of the URL path); the process's private temp folder instead
    // when the cache folder is not writable or a file of that name is
    // already there.
    void BuildExtractedPath();

    std::optional<std::string> indexFilePath_;
    bool exists_ = true;
    std::optional<std::string> extractedPath_;
    std::string privateFolder_; // a folder this item made for its copy, if any
    bool extracted_ = false;    // the copy at extractedPath_ is this item's own
    int64_t bodyOffset_;
    int32_t bodyLength_;
};

} // namespace oriel
