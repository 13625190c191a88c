#include "catalog/FormatCatalog.h"

#include "formats/ChromiumBlockfileCache.h"
#include "formats/ChromiumSimpleCache.h"
#include "formats/ClientUrlCache.h"
#include "formats/FirefoxCache2Cache.h"
#include "formats/IECache.h"
#include "formats/NetscapeCacheDBCache.h"
#include "formats/NetscapeCacheMapCache.h"
#include "formats/NetscapeFatDBCache.h"
#include "formats/OperaCache.h"
#include "loaders/ChromiumSettingsLoader.h"
#include "loaders/ClientUrlCacheSettingsLoader.h"
#include "loaders/Firefox16SettingsLoader.h"
#include "loaders/IESettingsLoader.h"
#include "loaders/Netscape40SettingsLoader.h"
#include "loaders/Netscape45SettingsLoader.h"
#include "loaders/Netscape60SettingsLoader.h"
#include "loaders/OperaSettingsLoader.h"
#include "platform/FileSystem.h"

namespace oriel {

namespace {

template <typename Cache>
std::unique_ptr<CCache> Create(const AppContext& context, BrowserProfile* profile, const std::string& folder)
{
    return std::make_unique<Cache>(context, profile, folder);
}

template <typename Loader>
std::unique_ptr<SettingsLoader> CreateLoader(const AppContext& context)
{
    return std::make_unique<Loader>(context);
}

// In the order they are tried: "index.dat" comes last.
const CacheFormat kFormats[] = {
    {"_CACHE_MAP_", "mozilla", &Create<NetscapeCacheMapCache>, &CreateLoader<Netscape60SettingsLoader>},
    // A cache2 folder holds "entries/" (its "index" is optional).
    {FirefoxCache2Cache::kEntriesFolderName, "firefox-cache2", &Create<FirefoxCache2Cache>,
     &CreateLoader<Firefox16SettingsLoader>},
    {"cache.db", "netscape45", &Create<NetscapeCacheDBCache>, &CreateLoader<Netscape45SettingsLoader>},
    {"fat.db", "netscape40", &Create<NetscapeFatDBCache>, &CreateLoader<Netscape40SettingsLoader>},
    {"dcache4.url", "opera", &Create<OperaCache>, &CreateLoader<OperaSettingsLoader>},
    // "index" that starts with the blockfile magic (a simple cache and a
    // Firefox cache2 folder hold other files of that name).
    {"index", "chromium", &Create<ChromiumBlockfileCache>, nullptr, &ChromiumBlockfileCache::Recognize},
    // A simple cache: "index-dir/the-real-index", its marker "index", or
    // entry files alone (a trimmed copy): told by content only.
    {"", "chromium-simple", &Create<ChromiumSimpleCache>, nullptr, &ChromiumSimpleCache::Recognize},
    {"index.dat", "ie", &Create<ClientUrlCache>, &CreateLoader<ClientUrlCacheSettingsLoader>},
};

} // namespace

const CacheCatalog& FormatCatalog()
{
    static const CacheCatalog catalog{
        kFormats,
        {
            &CreateLoader<Firefox16SettingsLoader>,
            &CreateLoader<Netscape60SettingsLoader>,
            &CreateLoader<Netscape45SettingsLoader>,
            &CreateLoader<Netscape40SettingsLoader>,
            &CreateLoader<OperaSettingsLoader>,
            &CreateLoader<ChromiumSettingsLoader>,
        },
        &CreateLoader<IESettingsLoader>,
    };
    return catalog;
}

std::string CacheFormatName(const CCache& cache)
{
    if (dynamic_cast<const IECache*>(&cache))
        return "ie-urlcache";
    if (const CacheFormat* format = RecognizeCacheFolder(cache.GetFolder()))
        return format->name;
    return "unknown";
}

std::string FormatBrowserName(const std::string& formatName)
{
    static const std::pair<const char*, const char*> kBrowsers[] = {
        {"ie", "Internet Explorer"},
        {"ie-urlcache", "Internet Explorer"},
        {"mozilla", "Mozilla/Firefox"},
        {"firefox-cache2", "Firefox"},
        {"netscape45", "Netscape 4.5"},
        {"netscape40", "Netscape 4.0"},
        {"opera", "Opera"},
        {"chromium", "Chromium"},
        {"chromium-simple", "Chromium"},
    };
    for (const auto& [format, browser] : kBrowsers) {
        if (formatName == format)
            return browser;
    }
    return formatName;
}

std::string FormatIndexFile(const std::string& formatName, const std::string& folder)
{
    for (const CacheFormat& format : kFormats) {
        if (formatName != format.name || !*format.indexFile || folder.empty())
            continue;
        std::string path = folder;
        if (path.back() != '/')
            path += '/';
        path += format.indexFile;
        auto attributes = platform::GetFileAttributes(path);
        return attributes && attributes->isRegular ? path : std::string();
    }
    return {};
}

} // namespace oriel
