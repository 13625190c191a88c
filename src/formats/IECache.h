// The Internet Explorer cache of the examined user, listed through the
// URL-cache service (our stand-in for WinINet) rather than by reading the
// index file itself. Deleting and emptying go through the same service.
// The records the service does not list, those Internet Explorer deleted
// that still stand in free blocks, are recovered items, found in the same
// index as the index.dat decoder finds them (IndexDatRecovery.h).
#pragma once

#include "model/Cache.h"

#include <memory>
#include <optional>
#include <string>

namespace oriel {

class UrlCacheService;

class IECache : public CCache {
public:
    // `folder` is the Internet Explorer cache folder; it only serves to turn
    // each entry's local file path into a cache name relative to it.
    IECache(const AppContext& context, BrowserProfile* profile, std::string folder);
    // With a given service instead of the examined user's.
    IECache(const AppContext& context, BrowserProfile* profile, std::string folder, std::shared_ptr<UrlCacheService> service);
    ~IECache() override;

    int DoDecode() override;
    int DoEmpty(OwnerWindow owner) override;
    int DoDeleteItems(OwnerWindow owner, std::span<CCacheItem* const> items) override;

    // A FILETIME as an item time: the UTC instant in seconds since 1970, or
    // 0 for a time before 1900 (which includes a FILETIME of 0).
    static int64_t ItemTimeFromFileTime(uint64_t fileTime);

private:
    // A local file's name relative to the cache folder, with backslashes;
    // none for a file outside it.
    std::optional<std::string> CacheNameOf(const std::optional<std::string>& localFile) const;
    void TraceDeleted(const char* operation, CCacheItem& item) const;
    UrlCacheService& Service();

    std::shared_ptr<UrlCacheService> service_;
};

} // namespace oriel
