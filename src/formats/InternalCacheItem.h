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
    // A place no block file has (an offset from 2^40 bytes, a run from
    // 1 MiB, a block file past 15) is kept as none: no stored bytes.
    CInternalCacheItem(CCache* owner, int32_t recordKey, OptText url, OptText urlPath, OptText cacheName,
                       int32_t size, int64_t lastModified, int64_t downloaded, int64_t expires, OptText headers,
                       int32_t blockFile, int64_t dataOffset, int32_t dataLength);

    // "<Internal to _CACHE_00N_>".
    const char* GetDisplayCacheName() override;

    int32_t GetBlockFile() const { return int32_t(place_ >> (kOffsetBits + kLengthBits)); }
    // -1 for none.
    int64_t GetDataOffset() const;
    int32_t GetDataLength() const { return int32_t(place_ >> kOffsetBits & ((uint64_t(1) << kLengthBits) - 1)); }
    // Host path of the block file that holds the data.
    const std::string& GetBlockFilePath() { return ContainerFilePath(); }

protected:
    std::string ContainerFileName() const override;
    std::optional<StoredRange> StoredBytes() const override;
    const char* TraceName() const override { return "CInternalCacheItem"; }

private:
    // Block file, run length and offset in one word: a map holds up to
    // hundreds of thousands of these items. A block file is under 2^37
    // bytes (2^24 blocks of at most 4096 bytes) and a run at most four
    // blocks.
    static constexpr int kOffsetBits = 40;
    static constexpr int kLengthBits = 20;
    static constexpr uint64_t kOffsetMask = (uint64_t(1) << kOffsetBits) - 1;
    uint64_t place_ = kOffsetMask; // the offset's all-ones is none
};

} // namespace oriel
