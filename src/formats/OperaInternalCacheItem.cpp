#include "formats/OperaInternalCacheItem.h"

#include "app/StringTable.h"

namespace oriel {

COperaInternalCacheItem::COperaInternalCacheItem(CCache* owner, int32_t recordKey, int64_t bodyOffset,
                                                 int32_t bodyLength)
    : CEmbeddedBodyItem(owner, recordKey)
    , bodyOffset_(bodyOffset)
    , bodyLength_(bodyLength)
{
}

const char* COperaInternalCacheItem::GetDisplayCacheName()
{
    return LoadString(IDS_INTERNAL_DCACHE4);
}

std::string COperaInternalCacheItem::ContainerFileName() const
{
    return "dcache4.url";
}

std::optional<CEmbeddedBodyItem::StoredRange> COperaInternalCacheItem::StoredBytes() const
{
    if (bodyOffset_ < 0 || bodyLength_ < 0)
        return std::nullopt;
    // The stored bytes: the whole field, whatever size the record gives for
    // the object (that may be the decoded size).
    return StoredRange{bodyOffset_, size_t(bodyLength_)};
}

} // namespace oriel
