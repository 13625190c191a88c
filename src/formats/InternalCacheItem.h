// An item of a Mozilla-family cache whose body lies inside one of the block
// files "_CACHE_001_" to "_CACHE_003_". Its bytes are extracted (and decoded
// when the server sent them encoded) to a file of their own on demand; the
// block file itself is never changed.
#pragma once

#include "model/CacheItem.h"

#include <cstdint>
#include <optional>
#include <string>

namespace oriel {

class CInternalCacheItem : public CCacheItem {
public:
    // The constructor with headers, plus where the data lies: block file
    // 1 to 3, the byte offset in it, and the length of its run of blocks.
    CInternalCacheItem(CCache* owner, int32_t recordKey, OptText url, OptText urlPath, OptText cacheName,
                       int32_t size, int64_t lastModified, int64_t downloaded, int64_t expires, OptText headers,
                       int32_t blockFile, int64_t dataOffset, int32_t dataLength);
    // Deletes the extracted copy, if this item made one.
    ~CInternalCacheItem() override;

    // "<Internal to _CACHE_00N_>".
    const char* GetDisplayCacheName() override;
    int32_t GetDisplayCacheNameLength() override;
    // The extracted copy's path; null before PrepareFile has made it.
    const char* GetFilePath() override;
    int32_t GetFilePathLength() override;
    // Whether the block file is there (checked until it is found missing).
    bool Exists() override;
    // Extracts the body, decoding it by its content encoding, unless this
    // item's copy is still there. True when the copy exists afterwards.
    bool PrepareFile() override;
    // Deletes the extracted copy (never the block file); true when no copy
    // is left.
    bool DeleteCacheFile() override;

    int32_t GetBlockFile() const { return blockFile_; }
    int64_t GetDataOffset() const { return dataOffset_; }
    int32_t GetDataLength() const { return dataLength_; }
    // Host path of the block file that holds the data.
    const std::string& GetBlockFilePath();

    // Writes the body to the extracted path; true when the file was made.
    bool ExtractFile();

private:
    // Picks the extracted copy's path: the cache folder, the cache name and
    // the extension of the content type (or of the URL path); the
    // process's private temp folder instead when the cache folder is not
    // writable or a file of that name is already there.
    void BuildExtractedPath();
    void RemoveExtractedCopy();

    std::optional<std::string> blockFilePath_;
    bool exists_ = true;
    std::optional<std::string> extractedPath_;
    std::string privateFolder_; // a folder this item made for its copy, if any
    bool extracted_ = false;    // the copy at extractedPath_ is this item's own
    int32_t blockFile_;
    int64_t dataOffset_;
    int32_t dataLength_;
};

} // namespace oriel
