#include "model/CacheCatalog.h"

#include "platform/ContainedPath.h"

#include "platform/FileSystem.h"

namespace oriel {

const CacheFormat* CacheCatalog::Recognize(const std::string& folder) const
{
    // No folder is not the current folder (which may be anything).
    if (folder.empty())
        return nullptr;
    // The folder's files are looked at as its cache will read them: inside it.
    const auto container = platform::RegisterContainer(folder);
    for (const CacheFormat& format : formats) {
        if (platform::FileExists(platform::MakePath(folder, format.indexFile)) &&
            (!format.recognize || format.recognize(folder)))
            return &format;
    }
    return nullptr;
}

std::unique_ptr<CCache> CacheCatalog::CreateCacheForFolder(const AppContext& context, BrowserProfile* profile,
                                                           const std::string& folder,
                                                           const CacheFormat** formatOut) const
{
    const CacheFormat* format = Recognize(folder);
    if (formatOut)
        *formatOut = format;
    return format ? format->create(context, profile, folder) : nullptr;
}

} // namespace oriel
