#include "formats/InternalCacheItem.h"

#include "app/StringTable.h"

#include <algorithm>

namespace oriel {

CInternalCacheItem::CInternalCacheItem(CCache* owner, int32_t recordKey, OptText url, OptText urlPath,
                                       OptText cacheName, int32_t size, int64_t lastModified, int64_t downloaded,
                                       int64_t expires, OptText headers, int32_t blockFile, int64_t dataOffset,
                                       int32_t dataLength)
    : CEmbeddedBodyItem(owner, recordKey, url, urlPath, cacheName, size, lastModified, downloaded, expires, headers)
    , dataOffset_(dataOffset)
    , blockFile_(blockFile)
    , dataLength_(dataLength)
{
}

const char* CInternalCacheItem::GetDisplayCacheName()
{
    switch (blockFile_) {
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
    if (blockFile_ < 1 || blockFile_ > 3)
        return {};
    return "_CACHE_00" + std::to_string(blockFile_) + "_";
}

std::optional<CEmbeddedBodyItem::StoredRange> CInternalCacheItem::StoredBytes() const
{
    if (dataOffset_ < 0)
        return std::nullopt;
    // The body is at most its run of blocks: a larger size in the metadata
    // would read the next entries' bytes.
    return StoredRange{dataOffset_, size_t(std::clamp<int64_t>(size_, 0, std::max<int32_t>(dataLength_, 0)))};
}

} // namespace oriel
