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

// The short name of the format `cache` reads ("ie", "mozilla", and
// "ie-urlcache" for the Internet Explorer cache read through the URL-cache
// service); "unknown" when none is recognised.
std::string CacheFormatName(const CCache& cache);
// The browser family of a format, for reports and timelines ("Internet
// Explorer", "Mozilla/Firefox", "Chromium"); the format's name when it
// has none.
std::string FormatBrowserName(const std::string& formatName);
// The path of the format's index file in `folder` when it is a plain file;
// empty for the formats that keep each record in a file of its own.
std::string FormatIndexFile(const std::string& formatName, const std::string& folder);

} // namespace oriel
