// Recognises the cache format of one folder by the name of its index file
// and builds the matching cache object. This is the one table of index file
// names, in the order they are tried; the single-folder profile and
// oriel-cli both use it.
#pragma once

#include "model/Cache.h"

#include <memory>
#include <string>

namespace oriel {

struct BrowserProfile;
class SettingsLoader;

struct CacheFormat {
    const char* indexFile; // "index.dat"
    const char* name;      // short format name for listings: "ie", "mozilla", ...
    std::unique_ptr<CCache> (*create)(BrowserProfile* profile, const std::string& folder);
    // The family's settings loader, whose CreateCache the single-folder
    // profile uses (the Internet Explorer loader also names the profile);
    // null until the family has one, and then `create` builds the cache.
    std::unique_ptr<SettingsLoader> (*loader)() = nullptr;
};

// The first format whose index file exists in `folder` (a file or a folder
// of that name counts), or null; null for an empty folder name.
const CacheFormat* RecognizeCacheFolder(const std::string& folder);

// Builds the cache object for `folder`; null when no format is recognised.
std::unique_ptr<CCache> CreateCacheForFolder(BrowserProfile* profile, const std::string& folder,
                                             const CacheFormat** format = nullptr);

} // namespace oriel
