// The one table of every cache format and every browser family's loader.
// Adding a format means adding its decoder and one row here.
#pragma once

#include "model/CacheCatalog.h"

namespace oriel {

const CacheCatalog& FormatCatalog();

// Shorthands over FormatCatalog() for oriel-cli and the tests.
inline const CacheFormat* RecognizeCacheFolder(const std::string& folder)
{
    return FormatCatalog().Recognize(folder);
}
inline std::unique_ptr<CCache> CreateCacheForFolder(const AppContext& context, BrowserProfile* profile,
                                                    const std::string& folder,
                                                    const CacheFormat** format = nullptr)
{
    return FormatCatalog().CreateCacheForFolder(context, profile, folder, format);
}

} // namespace oriel
