#include "model/CacheFolder.h"

#include "formats/ClientUrlCache.h"
#include "platform/FileSystem.h"

namespace oriel {

namespace {

std::unique_ptr<CCache> CreateClientUrlCache(BrowserProfile* profile, const std::string& folder)
{
    return std::make_unique<ClientUrlCache>(profile, folder);
}

// In the order they are tried; each browser family adds its row as its
// decoder lands ("_CACHE_MAP_", "cache.db", "fat.db", "dcache4.url" come
// before "index.dat").
const CacheFormat kFormats[] = {
    {"index.dat", "ie", &CreateClientUrlCache},
};

} // namespace

const CacheFormat* RecognizeCacheFolder(const std::string& folder)
{
    for (const CacheFormat& format : kFormats) {
        if (platform::FileExists(platform::MakePath(folder, format.indexFile)))
            return &format;
    }
    return nullptr;
}

std::unique_ptr<CCache> CreateCacheForFolder(BrowserProfile* profile, const std::string& folder,
                                             const CacheFormat** formatOut)
{
    const CacheFormat* format = RecognizeCacheFolder(folder);
    if (formatOut)
        *formatOut = format;
    return format ? format->create(profile, folder) : nullptr;
}

} // namespace oriel
