#include "formats/InternalCacheItem.h"

#include "app/StringTable.h"

#include <algorithm>

namespace oriel {

CInternalCacheItem::CInternalCacheItem(CCache* owner, int32_t recordKey, OptText url, OptText urlPath,
                                       OptText cacheName, int32_t size, int64_t lastModified, int64_t downloaded,
                                       int64_t expires, OptText headers, int32_t blockFile, int64_t dataOffset,
                                       int32_t dataLength)
    : CEmbeddedBodyItem(owner, recordKey, url, urlPath, cacheName, size, lastModified, downloaded, expires, headers)
{
    const bool fits = dataOffset >= 0 && uint64_t(dataOffset) < kOffsetMask && dataLength >= 0 &&
                      dataLength < (int32_t(1) << kLengthBits) && blockFile >= 0 && blockFile < 16;
    if (fits)
        place_ = uint64_t(blockFile) << (kOffsetBits + kLengthBits) | uint64_t(dataLength) << kOffsetBits |
                 uint64_t(dataOffset);
}

int64_t CInternalCacheItem::GetDataOffset() const
{
    const uint64_t offset = place_ & kOffsetMask;
    return offset == kOffsetMask ? -1 : int64_t(offset);
}

const char* CInternalCacheItem::GetDisplayCacheName()
{
    switch (GetBlockFile()) {
    case 1:
        return LoadString(IDS_INTERNAL_CACHE_001);
    case 2:
        return LoadString(IDS_INTERNAL_CACHE_002);
    case 3:
        return LoadString(IDS_INTERNAL_CACHE_003);
    default:
        return "";
    }
}

std::string CInternalCacheItem::ContainerFileName() const
{
    const int32_t blockFile = GetBlockFile();
    if (blockFile < 1 || blockFile > 3)
        return {};
    return "_CACHE_00" + std::to_string(blockFile) + "_";
}

std::optional<CEmbeddedBodyItem::StoredRange> CInternalCacheItem::StoredBytes() const
{
    const int64_t offset = GetDataOffset();
    if (offset < 0)
        return std::nullopt;
    // The body is at most its run of blocks: a larger size in the metadata
    // would read the next entries' bytes.
    return StoredRange{offset, size_t(std::clamp<int64_t>(size_, 0, GetDataLength()))};
}

} // namespace oriel
