#include "model/CacheFolder.h"

#include "formats/ClientUrlCache.h"
#include "formats/NetscapeCacheDBCache.h"
#include "formats/NetscapeCacheMapCache.h"
#include "formats/NetscapeFatDBCache.h"
#include "formats/OperaCache.h"
#include "loaders/ClientUrlCacheSettingsLoader.h"
#include "loaders/Netscape40SettingsLoader.h"
#include "loaders/Netscape45SettingsLoader.h"
#include "loaders/Netscape60SettingsLoader.h"
#include "loaders/OperaSettingsLoader.h"
#include "platform/FileSystem.h"

namespace oriel {

namespace {

std::unique_ptr<CCache> CreateClientUrlCache(BrowserProfile* profile, const std::string& folder)
{
    return std::make_unique<ClientUrlCache>(profile, folder);
}

template <typename Cache>
std::unique_ptr<CCache> Create(BrowserProfile* profile, const std::string& folder)
{
    return std::make_unique<Cache>(profile, folder);
}

template <typename Loader>
std::unique_ptr<SettingsLoader> CreateLoader()
{
    return std::make_unique<Loader>();
}

std::unique_ptr<SettingsLoader> CreateClientUrlCacheLoader()
{
    return std::make_unique<ClientUrlCacheSettingsLoader>();
}

// In the order they are tried; each browser family adds its row as its
// decoder lands ("_CACHE_MAP_", "cache.db", "fat.db", "dcache4.url" come
// before "index.dat").
const CacheFormat kFormats[] = {
    {"_CACHE_MAP_", "mozilla", &Create<NetscapeCacheMapCache>, &CreateLoader<Netscape60SettingsLoader>},
    {"cache.db", "netscape45", &Create<NetscapeCacheDBCache>, &CreateLoader<Netscape45SettingsLoader>},
    {"fat.db", "netscape40", &Create<NetscapeFatDBCache>, &CreateLoader<Netscape40SettingsLoader>},
    {"dcache4.url", "opera", &Create<OperaCache>, &CreateLoader<OperaSettingsLoader>},
    {"index.dat", "ie", &CreateClientUrlCache, &CreateClientUrlCacheLoader},
};

} // namespace

const CacheFormat* RecognizeCacheFolder(const std::string& folder)
{
    // No folder is not the current folder (which may be anything).
    if (folder.empty())
        return nullptr;
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
