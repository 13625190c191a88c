// The Chromium-family loader: Chrome, Chromium, Edge, Brave and Vivaldi
// keep their profiles in "User Data" under the user's local application
// data ("Google\Chrome\User Data", "Chromium\User Data",
// "Microsoft\Edge\User Data", "BraveSoftware\Brave-Browser\User Data",
// "Vivaldi\User Data"): one folder per profile ("Default", "Profile 1", ...), its cache
// in "Cache\Cache_Data" (Chrome 93 and later) or "Cache". Opera keeps one
// profile, "Opera Software\Opera Stable", under the local or the roaming
// application data. Each found cache is a profile named like
// "Default (Chrome)". The cache folder holds a blockfile or a simple cache;
// its content says which.
#pragma once

#include "model/SettingsLoader.h"

#include <string>
#include <vector>

namespace oriel {

class ChromiumSettingsLoader : public SettingsLoader {
public:
    using SettingsLoader::SettingsLoader;

    struct Found {
        std::string name;        // "Default (Chrome)"
        std::string cacheFolder; // host path
    };

    void Load(ProfileTable& profiles, int32_t& count) override;
    std::unique_ptr<CCache> CreateCache(BrowserProfile& profile, const std::string& folder) override;

    // The caches of the examined user, in browser order and, within a
    // browser, in profile-folder name order.
    std::vector<Found> FindCaches() const;
};

} // namespace oriel
