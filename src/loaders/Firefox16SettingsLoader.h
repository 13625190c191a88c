// The Firefox loader: every profile that profiles.ini (in the roaming
// application-data folder, "Mozilla\Firefox") lists, each with a Mozilla
// cache-map decoder on the cache folder that its prefs.js names, or on the
// folder where Firefox keeps the cache by default; and, for Firefox 32 and
// later, a second row "NAME (Firefox cache2)" with the profile's cache2
// folder (the only row when the old cache folder is gone).
#pragma once

#include "loaders/BaseNetscapeSettingsLoader.h"

namespace oriel {

class Firefox16SettingsLoader : public BaseNetscapeSettingsLoader {
public:
    using BaseNetscapeSettingsLoader::BaseNetscapeSettingsLoader;

    void Load(ProfileTable& profiles, int32_t& count) override;
    // A FirefoxCache2Cache for a cache2 folder, otherwise a
    // NetscapeCacheMapCache, for (profile, folder); the profile is left as
    // it is.
    std::unique_ptr<CCache> CreateCache(BrowserProfile& profile, const std::string& folder) override;

    // True for a host folder that holds "entries" or is named "cache2".
    static bool IsCache2Folder(const std::string& folder);
};

} // namespace oriel
