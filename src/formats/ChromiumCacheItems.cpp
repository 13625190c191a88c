#include "formats/ChromiumCacheItems.h"

#include <algorithm>

namespace oriel {

CChromiumEmbeddedItem::CChromiumEmbeddedItem(CCache* owner, int32_t recordKey, OptText url, OptText urlPath,
                                             OptText cacheName, int32_t size, int64_t lastModified,
                                             int64_t downloaded, int64_t expires, OptText headers,
                                             std::string_view container, int64_t offset, int32_t length)
    : CEmbeddedBodyItem(owner, recordKey, url, urlPath, cacheName, size, lastModified, downloaded, expires, headers)
    , offset_(offset)
    , length_(length)
    , containerLength_(container.size())
{
    displayName_.reserve(kDisplayPrefix.size() + container.size() + 1);
    displayName_.append(kDisplayPrefix).append(container).append(">");
}

std::optional<CEmbeddedBodyItem::StoredRange> CChromiumEmbeddedItem::StoredBytes() const
{
    if (offset_ < 0 || length_ < 0)
        return std::nullopt;
    // The stream's own length: the size from the headers may differ.
    return StoredRange{offset_, size_t(length_)};
}

} // namespace oriel
