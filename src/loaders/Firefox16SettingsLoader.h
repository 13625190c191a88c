// The Firefox loader: every profile that profiles.ini (in the roaming
// application-data folder, "Mozilla\Firefox") lists, each with a Mozilla
// cache-map decoder on the cache folder that its prefs.js names, or on the
// folder where Firefox keeps the cache by default.
#pragma once

#include "loaders/BaseNetscapeSettingsLoader.h"

namespace oriel {

class Firefox16SettingsLoader : public BaseNetscapeSettingsLoader {
public:
    using BaseNetscapeSettingsLoader::BaseNetscapeSettingsLoader;

    void Load(ProfileTable& profiles, int32_t& count) override;
    // A NetscapeCacheMapCache for (profile, folder); the profile is left as it is.
    std::unique_ptr<CCache> CreateCache(BrowserProfile& profile, const std::string& folder) override;
};

} // namespace oriel
