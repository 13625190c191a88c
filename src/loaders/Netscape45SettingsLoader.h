// The Netscape Communicator 4.5 (and later 4.x) loader: the profiles listed
// in the registry file nsreg.dat in the examined system's Windows folder
// (key "Users", one subkey per profile with the entry "ProfileLocation",
// the profile folder), each with the cache.db decoder on the cache folder
// that its prefs.js names.
#pragma once

#include "loaders/BaseNetscapeSettingsLoader.h"

namespace oriel {

class Netscape45SettingsLoader : public BaseNetscapeSettingsLoader {
public:
    using BaseNetscapeSettingsLoader::BaseNetscapeSettingsLoader;

    void Load(ProfileTable& profiles, int32_t& count) override;
    // A NetscapeCacheDBCache for (profile, folder); the profile is left as it is.
    std::unique_ptr<CCache> CreateCache(BrowserProfile& profile, const std::string& folder) override;
};

} // namespace oriel
