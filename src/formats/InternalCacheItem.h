// An item of a Mozilla-family cache whose body lies inside one of the block
// files "_CACHE_001_" to "_CACHE_003_". Its bytes are extracted (and decoded
// when the server sent them encoded) to a file of their own on demand; the
// block file itself is never changed.
#pragma once

#include "formats/EmbeddedBodyItem.h"

#include <cstdint>
#include <string>

namespace oriel {

class CInternalCacheItem : public CEmbeddedBodyItem {
public:
    // The constructor with headers, plus where the data lies: block file
    // 1 to 3, the byte offset in it, and the length of its run of blocks.
    CInternalCacheItem(CCache* owner, int32_t recordKey, OptText url, OptText urlPath, OptText cacheName,
                       int32_t size, int64_t lastModified, int64_t downloaded, int64_t expires, OptText headers,
                       int32_t blockFile, int64_t dataOffset, int32_t dataLength);

    // "<Internal to _CACHE_00N_>".
    const char* GetDisplayCacheName() override;

    int32_t GetBlockFile() const { return blockFile_; }
    int64_t GetDataOffset() const { return dataOffset_; }
    int32_t GetDataLength() const { return dataLength_; }
    // Host path of the block file that holds the data.
    const std::string& GetBlockFilePath() { return ContainerFilePath(); }

protected:
    std::string ContainerFileName() const override;
    std::optional<StoredRange> StoredBytes() const override;
    const char* TraceName() const override { return "CInternalCacheItem"; }

private:
    int64_t dataOffset_;
    int32_t blockFile_;
    int32_t dataLength_;
};

} // namespace oriel
