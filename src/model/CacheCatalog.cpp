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
        // A row with an empty file name has no file of its own to be told
        // by (a simple cache may have lost its index): its look at the
        // content alone decides.
        const bool named = *format.indexFile != '\0';
        if (!named && !format.recognize)
            continue; // no way to tell such a folder
        if ((!named || platform::FileExists(platform::MakePath(folder, format.indexFile))) &&
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
